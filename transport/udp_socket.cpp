#include "transport/udp_socket.h"

#include <cstring>

namespace vask {

namespace {

sockaddr_in Endpoint(uint32_t address, uint16_t port) {
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_addr.s_addr = htonl(address);
  endpoint.sin_port = htons(port);
  return endpoint;
}

constexpr size_t kMostInterfaces = 32;  // not a host number: a bound

}  // namespace

bool UdpSocket::Open() {
  Close();
  socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (socket_ == INVALID_SOCKET) return false;
  int on = 1;
  unsigned long nonBlocking = 1;
  if (setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                 sizeof on) != 0 ||
      ioctlsocket(socket_, FIONBIO, &nonBlocking) != 0) {
    Close();
    return false;
  }
  return true;
}

bool UdpSocket::Bind(uint16_t port) {
  const sockaddr_in endpoint = Endpoint(INADDR_ANY, port);
  return bind(socket_, reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint) == 0;
}

bool UdpSocket::SendTo(uint32_t address, uint16_t port, const std::string& bytes) {
  const sockaddr_in endpoint = Endpoint(address, port);
  const int sent =
      static_cast<int>(sendto(socket_, bytes.data(), static_cast<int>(bytes.size()), 0,
                              reinterpret_cast<const sockaddr*>(&endpoint), sizeof endpoint));
  return sent == static_cast<int>(bytes.size());
}

UdpSocket::Receive UdpSocket::ReceiveFrom(std::string& buffer, size_t limit, uint32_t& address) {
  // One byte more than the limit tells a longer datagram from one that fits.
  buffer.resize(limit + 1);
  for (;;) {
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const int got = static_cast<int>(recvfrom(socket_, &buffer[0], static_cast<int>(buffer.size()),
                                              0, reinterpret_cast<sockaddr*>(&from), &fromSize));
    if (got >= 0) {
      address = ntohl(from.sin_addr.s_addr);
      if (static_cast<size_t>(got) > limit) return Receive::kTooLong;
      buffer.resize(static_cast<size_t>(got));
      return Receive::kReceived;
    }
    switch (WSAGetLastError()) {
      case WSAEWOULDBLOCK:
        return Receive::kNothing;
      // Windows cuts a longer datagram to the buffer and says so.
      case WSAEMSGSIZE:
        return Receive::kTooLong;
      // Windows reports an ICMP "port unreachable" for an earlier send
      // here; it says nothing about the next datagram. So does EINTR.
      case WSAECONNRESET:
      case WSAEINTR:
        continue;
      default:
        return Receive::kFailed;
    }
  }
}

void UdpSocket::Interfaces(std::vector<LocalNetwork>& networks, std::vector<uint32_t>& broadcasts) {
  networks.clear();
  broadcasts.clear();
  INTERFACE_INFO list[kMostInterfaces];
  DWORD size = 0;
  if (WSAIoctl(socket_, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof list, &size, nullptr,
               nullptr) != 0) {
    return;
  }
  const size_t count = size / sizeof(INTERFACE_INFO);
  for (size_t i = 0; i < count && i < kMostInterfaces; ++i) {
    const INTERFACE_INFO& entry = list[i];
    if ((entry.iiFlags & IFF_UP) == 0) continue;
    const uint32_t address = ntohl(entry.iiAddress.AddressIn.sin_addr.s_addr);
    const uint32_t mask = ntohl(entry.iiNetmask.AddressIn.sin_addr.s_addr);
    networks.push_back(LocalNetwork{address, mask});
    if ((entry.iiFlags & IFF_LOOPBACK) != 0 || (entry.iiFlags & IFF_BROADCAST) == 0) continue;
    // The subnet's own broadcast: Windows reports 255.255.255.255 here
    // whatever the subnet, so it is worked out from address and mask.
    broadcasts.push_back(address | ~mask);
  }
}

void UdpSocket::Close() {
  if (socket_ == INVALID_SOCKET) return;
  closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

uint32_t ResolveComputer(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (name.empty() || getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return 0;
  }
  uint32_t address = 0;
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    sockaddr_in endpoint{};
    std::memcpy(&endpoint, entry->ai_addr, sizeof endpoint);
    address = ntohl(endpoint.sin_addr.s_addr);
    break;
  }
  freeaddrinfo(found);
  return address;
}

}  // namespace vask
