// The client side of the real LAN: when VASK_REAL_LAN selects it, a
// mailslot open naming a computer that is not in the LAN directory, and
// every write to "*", also go to vask-bridge over its local socket (see
// bridge_link.h), which carries them on the network. The computers the
// bridge has heard of join the enumeration of their workgroup.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "bridge_link.h"
#include "internal.h"
#include "lan_names.h"

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
    std::lock_guard<std::mutex> guard(lock_);
    if (!socket_.valid()) return ERROR_BAD_NETPATH;
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
    return DWORD{reply[0]} | DWORD{reply[1]} << 8 | DWORD{reply[2]} << 16 | DWORD{reply[3]} << 24;
  }

 private:
  // A reply that never came would pair with the next request: start over.
  DWORD Broken() {
    socket_.Reset();
    return ERROR_BAD_NETPATH;
  }

  std::mutex lock_;
  Fd socket_;
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
  DWORD error = client->connection.Request(std::string(1, bridge_link::kOpResolve) + computer +
                                           '\0');
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

std::vector<std::string> BridgeNeighbours(const std::string& lan, const std::string& workgroup) {
  std::vector<std::string> names;
  if (!RealLanSelected()) return names;
  std::ifstream file(lan + "/" + bridge_link::kNeighboursName);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string group, computer;
    if (fields >> group >> computer && lan_names::Same(group, workgroup) &&
        IsUsableComponent(computer)) {
      names.push_back(UpperName(computer));
    }
  }
  return names;
}

}  // namespace vask::platform
