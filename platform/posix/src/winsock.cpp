// Winsock's own names over the system's sockets: WSAStartup and WSACleanup,
// WSAGetLastError (the one errno -> Winsock code translation), closesocket,
// ioctlsocket(FIONBIO) and WSAIoctl(SIO_GET_INTERFACE_LIST).
#include <fcntl.h>
#include <ifaddrs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bridge_client.h"
#include "lan_names.h"
#include "win32.h"

namespace vask::platform {
namespace {

// An emulated LAN is a folder, and every one on this machine shares the one
// UDP port: copies of two emulated LANs (two people's demos, tests side by
// side) would hear each other's frames. So UDP is on where the real LAN is
// selected, or where VASK_UDP=on asks for it (the network-namespace tests),
// and VASK_UDP=off switches it off everywhere.
bool UdpSwitchedOff() {
  const char* value = std::getenv("VASK_UDP");
  if (value && *value) return !(std::strcmp(value, "1") == 0 || lan_names::Same(value, "on"));
  return !RealLanSelected();
}

int WsaErrorFromErrno(int error) {
  switch (error) {
    case EINTR:
      return WSAEINTR;
    case EBADF:
    case ENOTSOCK:
      return WSAEBADF;
    case EACCES:
    case EPERM:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EMFILE:
    case ENFILE:
      return WSAEMFILE;
    case EAGAIN:
      return WSAEWOULDBLOCK;
    case EMSGSIZE:
      return WSAEMSGSIZE;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return WSAENETDOWN;
    case ENETUNREACH:
      return WSAENETUNREACH;
    // An ICMP "port unreachable" for an earlier send, as Winsock reports it.
    case ECONNREFUSED:
    case ECONNRESET:
      return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return WSAENOBUFS;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    default:
      return WSAEINVAL;
  }
}

}  // namespace
}  // namespace vask::platform

extern "C" {

int WINAPI WSAStartup(WORD version, LPWSADATA data) {
  if (data != nullptr) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = version;
    data->wHighVersion = MAKEWORD(2, 2);
  }
  return vask::platform::UdpSwitchedOff() ? WSASYSNOTREADY : 0;
}

int WINAPI WSACleanup(void) { return 0; }

int WINAPI WSAGetLastError(void) { return vask::platform::WsaErrorFromErrno(errno); }

int WINAPI closesocket(SOCKET socket) { return ::close(socket) == 0 ? 0 : SOCKET_ERROR; }

int WINAPI ioctlsocket(SOCKET socket, long command, unsigned long* argument) {
  if (command != static_cast<long>(FIONBIO) || argument == nullptr) {
    errno = EINVAL;
    return SOCKET_ERROR;
  }
  const int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0) return SOCKET_ERROR;
  const int wanted = *argument != 0 ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(socket, F_SETFL, wanted) == 0 ? 0 : SOCKET_ERROR;
}

int WINAPI WSAIoctl(SOCKET, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outSize, LPDWORD returned,
                    LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE) {
  if (code != SIO_GET_INTERFACE_LIST || returned == nullptr) {
    errno = EINVAL;
    return SOCKET_ERROR;
  }
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return SOCKET_ERROR;
  auto* entries = static_cast<INTERFACE_INFO*>(out);
  const DWORD room = out != nullptr ? outSize / sizeof(INTERFACE_INFO) : 0;
  DWORD count = 0;
  bool more = false;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_UP) == 0) continue;
    if (count == room) {
      more = true;
      break;
    }
    INTERFACE_INFO info{};
    info.iiFlags = entry->ifa_flags;
    std::memcpy(&info.iiAddress.AddressIn, entry->ifa_addr, sizeof(sockaddr_in));
    if (entry->ifa_netmask != nullptr) {
      std::memcpy(&info.iiNetmask.AddressIn, entry->ifa_netmask, sizeof(sockaddr_in));
    }
    if ((entry->ifa_flags & IFF_BROADCAST) != 0 && entry->ifa_broadaddr != nullptr) {
      std::memcpy(&info.iiBroadcastAddress.AddressIn, entry->ifa_broadaddr, sizeof(sockaddr_in));
    }
    entries[count++] = info;
  }
  ::freeifaddrs(list);
  *returned = count * sizeof(INTERFACE_INFO);
  if (count == 0 && more) {
    errno = EFAULT;
    return SOCKET_ERROR;
  }
  return 0;
}

}  // extern "C"
