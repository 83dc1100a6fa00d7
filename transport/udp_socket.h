// UdpSocket owns one Winsock datagram socket (IPv4), closed on destruction
// and never copied, as MailslotHandle owns a slot; beside it, the two
// lookups of the operating system that the UDP path needs. Addresses and
// ports are in host byte order. Failures are results: false, 0 or empty,
// with WSAGetLastError() saying why where the system does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transport/udp_frame.h"
#include "win32.h"

namespace vask {

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket() { Close(); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // A non-blocking socket that may send to broadcast addresses; true when
  // made.
  bool Open();
  // Binds the open socket to `port` on every interface. Without address
  // sharing: a second copy on the same computer fails (WSAEADDRINUSE).
  bool Bind(uint16_t port);
  bool IsValid() const { return socket_ != INVALID_SOCKET; }
  // One datagram; true when the system took all of it.
  bool SendTo(uint32_t address, uint16_t port, const std::string& bytes);
  // The next waiting datagram into `buffer` (resized to what came) and its
  // source address. kReceived, kNothing when none waits, kTooLong when it
  // was longer than `limit` (it is gone), kFailed otherwise.
  enum class Receive { kReceived, kNothing, kTooLong, kFailed };
  Receive ReceiveFrom(std::string& buffer, size_t limit, uint32_t& address);
  // The IPv4 networks of the interfaces that are up, and the broadcast
  // addresses of those that broadcast (loopback never). Empty on failure.
  void Interfaces(std::vector<LocalNetwork>& networks, std::vector<uint32_t>& broadcasts);
  void Close();

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// The IPv4 address of a computer by its name, as the system resolves
// computer names on the LAN; 0 when it cannot.
uint32_t ResolveComputer(const std::string& name);

}  // namespace vask
