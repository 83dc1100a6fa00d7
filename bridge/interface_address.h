// Choosing the IPv4 interface the bridge speaks on: its address (the
// SOURCE_IP of our datagrams and the address our names resolve to) and
// its subnet broadcast address.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vask::bridge {

struct InterfaceAddress {
  std::string interface;
  uint32_t ip = 0;               // host byte order
  uint32_t broadcast = 0;        // host byte order
  uint32_t mask = 0;             // host byte order
  std::array<uint8_t, 6> mac{};  // its hardware address; zeros when it has none
};

// By interface name, by address ("192.168.1.5"), or with both empty the
// first interface that is up, not loopback, and has a broadcast address.
// False with a message in *error.
bool FindInterface(const std::string& name, const std::string& address, InterfaceAddress* out,
                   std::string* error);

std::string DottedAddress(uint32_t ip);

}  // namespace vask::bridge
