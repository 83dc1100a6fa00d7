#include "bridge/interface_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

namespace vask::bridge {

std::string DottedAddress(uint32_t ip) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, ip >> 16 & 0xFF, ip >> 8 & 0xFF,
                ip & 0xFF);
  return text;
}

bool FindInterface(const std::string& name, const std::string& address, InterfaceAddress* out,
                   std::string* error) {
  in_addr wanted{};
  if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &wanted) != 1) {
    *error = "not an IPv4 address: " + address;
    return false;
  }
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    *error = "cannot list the network interfaces";
    return false;
  }
  bool found = false;
  for (ifaddrs* i = list; i && !found; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    uint32_t ip = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    if (!name.empty() && name != i->ifa_name) continue;
    if (!address.empty() && ip != ntohl(wanted.s_addr)) continue;
    bool usable = (i->ifa_flags & IFF_UP) && !(i->ifa_flags & IFF_LOOPBACK) &&
                  (i->ifa_flags & IFF_BROADCAST) && i->ifa_netmask;
    if (!usable) {
      if (!name.empty() || !address.empty()) {
        *error = std::string("interface ") + i->ifa_name + " is down, loopback or has no broadcast";
        ::freeifaddrs(list);
        return false;
      }
      continue;
    }
    uint32_t mask = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
    out->interface = i->ifa_name;
    out->ip = ip;
    out->broadcast = (ip & mask) | ~mask;
    out->mask = mask;
    found = true;
  }
  for (ifaddrs* i = list; i && found; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET || out->interface != i->ifa_name) {
      continue;
    }
    const auto* link = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
    if (link->sll_halen == out->mac.size()) std::memcpy(out->mac.data(), link->sll_addr, 6);
  }
  ::freeifaddrs(list);
  if (!found) {
    *error = !name.empty()      ? "no IPv4 address on interface " + name
             : !address.empty() ? "no interface has the address " + address
                                : std::string("no IPv4 interface with a broadcast address is up");
  }
  return found;
}

}  // namespace vask::bridge
