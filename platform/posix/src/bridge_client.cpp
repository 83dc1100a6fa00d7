// The client side of the real LAN: when VASK_REAL_LAN selects it, a
// mailslot open naming a computer that is not in the LAN directory, and
// every write to "*", also go to vask-bridge over its local socket (see
// bridge_link.h), which carries them on the network. A server slot's open
// lets the bridge check that the computer's name is this machine's (a
// refusal, ERROR_DUP_NAME, fails the open: the plug-in's start fails and its
// user is told). The computers the bridge has heard of join the
// enumeration of their workgroup, with the comments they announced.
#include "bridge_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "bridge_link.h"
#include "descriptors.h"
#include "errors.h"
#include "handles.h"
#include "lan.h"
#include "lan_names.h"
#include "mutex.h"

namespace vask::platform {
namespace {

// A connection to the bridge; one request in flight at a time.
class BridgeConnection {
 public:
  // False with the error set when no bridge listens.
  bool Connect() {
    std::string lan;
    if (!LanDirectory(&lan)) return false;
    std::string path = lan + "/" + bridge_link::kSocketName;
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
      SetLastError(ERROR_BAD_NETPATH);
      return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    MutexLock guard(lock_);  // no other thread has the connection yet; the analysis asks
    socket_ = Fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!socket_.valid()) {
      SetLastErrorFromErrno();
      return false;
    }
    int result;
    do {
      result = ::connect(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      // No bridge: the network is out of reach, as a remote name would be.
      socket_.Reset();
      SetLastError(ERROR_BAD_NETPATH);
      return false;
    }
    return true;
  }

  // Sends one request and waits for its reply: the bridge's error code,
  // or ERROR_BAD_NETPATH when the bridge went away or did not answer.
  DWORD Request(const std::string& request) {
    DWORD reply = ERROR_BAD_NETPATH;
    return Ask(request, &reply) ? reply : ERROR_BAD_NETPATH;
  }

  // The same, false when no reply came (the bridge went away or did not
  // answer in time).
  bool Ask(const std::string& request, DWORD* answer) {
    MutexLock guard(lock_);
    if (!socket_.valid()) return false;
    ssize_t sent;
    do {
      sent = ::send(socket_.get(), request.data(), request.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(request.size())) return Broken();
    pollfd fd{socket_.get(), POLLIN, 0};
    int ready;
    do {
      ready = ::poll(&fd, 1, bridge_link::kReplyTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return Broken();
    unsigned char reply[bridge_link::kReplySize];
    ssize_t got;
    do {
      got = ::recv(socket_.get(), reply, sizeof reply, 0);
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof reply)) return Broken();
    *answer =
        DWORD{reply[0]} | DWORD{reply[1]} << 8 | DWORD{reply[2]} << 16 | DWORD{reply[3]} << 24;
    return true;
  }

 private:
  // A reply that never came would pair with the next request: start over.
  bool Broken() REQUIRES(lock_) {
    socket_.Reset();
    return false;
  }

  Mutex lock_;
  Fd socket_ GUARDED_BY(lock_);
};

std::string WriteRequest(const std::string& target, const std::string& slot, const void* buffer,
                         DWORD size) {
  std::string request(1, bridge_link::kOpWrite);
  request += OwnComputerName();
  request += '\0';
  request += target;
  request += '\0';
  request += slot;
  request += '\0';
  // Beyond the limit the bridge refuses anyway; don't ship megabytes to it.
  size_t room = bridge_link::kMaxRequest - request.size();
  request.append(static_cast<const char*>(buffer), std::min<size_t>(size, room));
  return request;
}

class BridgeClient : public Object {
 public:
  BridgeClient(std::string computer, std::string slot)
      : Object(Kind::kBridgeClient), computer_(std::move(computer)), slot_(std::move(slot)) {}

  BridgeConnection connection;

  BOOL Write(const void* buffer, DWORD size, LPDWORD written) {
    if (written) *written = 0;
    DWORD error = connection.Request(WriteRequest(computer_, slot_, buffer, size));
    if (error != ERROR_SUCCESS) {
      SetLastError(error);
      return FALSE;
    }
    if (written) *written = size;
    return TRUE;
  }

 private:
  const std::string computer_;
  const std::string slot_;
};

}  // namespace

bool RealLanSelected() {
  const char* value = std::getenv("VASK_REAL_LAN");
  return value && *value && std::strcmp(value, "0") != 0;
}

HANDLE OpenBridgeClient(const std::string& computer, const std::string& slot) {
  auto client = std::make_shared<BridgeClient>(computer, slot);
  if (!client->connection.Connect()) return INVALID_HANDLE_VALUE;
  DWORD error =
      client->connection.Request(std::string(1, bridge_link::kOpResolve) + computer + '\0');
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return RegisterHandle(std::move(client));
}

BOOL WriteBridgeClient(Object* client, const void* buffer, DWORD size, LPDWORD written) {
  return static_cast<BridgeClient*>(client)->Write(buffer, size, written);
}

DWORD BridgeBroadcast(const std::string& slot, const void* buffer, DWORD size) {
  BridgeConnection connection;
  if (!connection.Connect()) return GetLastError();
  return connection.Request(WriteRequest("*", slot, buffer, size));
}

DWORD BridgeClaim(const std::string& workgroup, const std::string& computer) {
  BridgeConnection connection;
  if (!connection.Connect()) return ERROR_SUCCESS;  // no bridge: no network to ask
  std::string request(1, bridge_link::kOpClaim);
  request += workgroup;
  request += '\0';
  request += computer;
  request += '\0';
  DWORD reply = ERROR_SUCCESS;
  if (!connection.Ask(request, &reply)) return ERROR_SUCCESS;
  return reply;
}

std::vector<BridgeNeighbour> BridgeNeighbours(const std::string& lan,
                                              const std::string& workgroup) {
  std::vector<BridgeNeighbour> neighbours;
  if (!RealLanSelected()) return neighbours;
  std::ifstream file(lan + "/" + bridge_link::kNeighboursName);
  std::string line;
  while (std::getline(file, line)) {
    // "WORKGROUP COMPUTER ADDRESS COMMENT", one blank between fields; the
    // comment is escaped and may be empty or missing.
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
      size_t blank = line.find(' ', start);
      fields.push_back(line.substr(start, blank == std::string::npos ? blank : blank - start));
      if (blank == std::string::npos || fields.size() > 4) break;
      start = blank + 1;
    }
    if (fields.size() < 3 || fields.size() > 4 || !bridge_link::IsListableName(fields[0]) ||
        !bridge_link::IsListableName(fields[1]) || !IsUsableComponent(fields[1]) ||
        !lan_names::Same(fields[0], workgroup)) {
      continue;  // not a line the bridge writes: never guess at its names
    }
    BridgeNeighbour n;
    n.name = UpperName(fields[1]);
    if (fields.size() == 4) n.comment = bridge_link::UnescapeField(fields[3]);
    neighbours.push_back(std::move(n));
  }
  return neighbours;
}

}  // namespace vask::platform
