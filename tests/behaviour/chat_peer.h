// Stand-ins for other computers in the chat and bus tests: a server slot
// created on a computer of the emulated LAN (as that computer's copy would
// have it), and raw writes to the plug-in's own slots. Every wait is bounded.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "win32.h"

namespace vask::test {

using Fields = std::vector<std::string>;

// The bytes split at every NUL, a final NUL giving no empty last field.
inline Fields SplitAtNul(const std::string& bytes) {
  Fields fields;
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t end = bytes.find('\0', start);
    if (end == std::string::npos) {
      fields.push_back(bytes.substr(start));
      break;
    }
    fields.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

// Fields, each followed by a NUL, as a datagram of ours reads on the wire.
inline std::string Join(const Fields& fields) {
  std::string bytes;
  for (const std::string& f : fields) {
    bytes += f;
    bytes += '\0';
  }
  return bytes;
}

// One write of `bytes` to \\computer\mailslot\slot; false when the slot
// cannot be opened or nothing was written.
inline bool WriteSlot(const std::string& computer, const std::string& slot, const std::string& bytes) {
  const std::string path = "\\\\" + computer + "\\mailslot\\" + slot;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return written == bytes.size();
}

// A server slot on another computer of the own workgroup.
class PeerSlot {
 public:
  PeerSlot(const std::string& computer, const std::string& slot = "Vask")
      : computer_(computer), handle_(VaskCreateMailslotOn(computer.c_str(), slot.c_str(), 100100)) {}
  ~PeerSlot() {
    if (ok()) CloseHandle(handle_);
  }
  PeerSlot(const PeerSlot&) = delete;
  PeerSlot& operator=(const PeerSlot&) = delete;

  bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  const std::string& computer() const { return computer_; }

  // The next datagram's bytes, or nullopt when none came before the deadline.
  std::optional<std::string> NextBytes(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    do {
      DWORD next = 0, count = 0;
      if (GetMailslotInfo(handle_, nullptr, &next, &count, nullptr) && count > 0 &&
          next != MAILSLOT_NO_MESSAGE) {
        std::string buffer(next, '\0');
        DWORD read = 0;
        if (ReadFile(handle_, buffer.data(), next, &read, nullptr)) {
          buffer.resize(read);
          return buffer;
        }
      }
      Sleep(5);
    } while (std::chrono::steady_clock::now() < end);
    return std::nullopt;
  }

  // The next datagram whose command (field 3) is `command`, skipping the
  // others (status broadcasts and the like).
  std::optional<Fields> NextWith(const std::string& command,
                                 std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      auto bytes = NextBytes(left);
      if (!bytes) return std::nullopt;
      Fields fields = SplitAtNul(*bytes);
      if (fields.size() > 3 && fields[3] == command) return fields;
    }
  }

  // Sends a datagram from this computer to `target`'s channel slot, with
  // this peer's next sequence number.
  bool Send(const std::string& target, const std::string& command, const Fields& body = {}) {
    Fields fields = {std::to_string(++sequence_), computer_, target, command};
    fields.insert(fields.end(), body.begin(), body.end());
    return WriteSlot(target, "Vask", Join(fields));
  }

  // A "PING" and its "PONG": once the answer is here, the target's worker
  // has handled everything this peer sent before.
  bool Sync(const std::string& target) {
    if (!Send(target, "PING")) return false;
    return NextWith("PONG").has_value();
  }

  // Like Sync, and gives every datagram that came before the "PONG".
  std::optional<std::vector<Fields>> SyncCollect(const std::string& target) {
    if (!Send(target, "PING")) return std::nullopt;
    std::vector<Fields> before;
    while (auto bytes = NextBytes()) {
      Fields fields = SplitAtNul(*bytes);
      if (fields.size() > 3 && fields[3] == "PONG") return before;
      before.push_back(std::move(fields));
    }
    return std::nullopt;
  }

  int sequence() const { return sequence_; }
  void set_sequence(int value) { sequence_ = value; }

 private:
  std::string computer_;
  HANDLE handle_;
  int sequence_ = 0;
};

}  // namespace vask::test
