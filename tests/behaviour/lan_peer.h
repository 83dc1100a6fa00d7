// Stand-ins for the rest of the LAN inside one test process: a peer
// computer's server slot that collects what the plug-in sends, raw writes to
// any computer's slot, and a gate that holds a host answer (and with it the
// plug-in thread that asked) until the test opens it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "abi/host_records.h"
#include "win32.h"

namespace vask::test {

using namespace std::string_literals;

// Splits received bytes at NUL the way the plug-in does: no empty last field
// for a final NUL.
inline DatagramFields SplitBytes(const std::string& bytes) {
  DatagramFields fields;
  size_t position = 0;
  while (position < bytes.size()) {
    size_t end = bytes.find('\0', position);
    if (end == std::string::npos) end = bytes.size();
    fields.push_back(bytes.substr(position, end - position));
    position = end + 1;
  }
  return fields;
}

// sequence NUL sender NUL target NUL command NUL [body NUL].
inline std::string Datagram(const std::string& sequence, const std::string& sender,
                            const std::string& target, const std::string& command,
                            const std::string& body = "") {
  std::string bytes = sequence + '\0' + sender + '\0' + target + '\0' + command + '\0';
  if (!body.empty()) bytes += body + '\0';
  return bytes;
}

// Writes one message to <slot> on <computer> ("*": the whole workgroup).
inline bool SendRaw(const std::string& computer, const std::string& bytes,
                    const std::string& slot = "Vask") {
  const std::string path = "\\\\" + computer + "\\mailslot\\" + slot;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

// True when a server slot of that name can be created on that computer now,
// that is when nobody holds it (the probe closes it again).
inline bool SlotFree(const std::string& computer, const std::string& slot) {
  HANDLE handle = VaskCreateMailslotOn(computer.c_str(), slot.c_str(), 1000);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

// Another computer's channel slot, as that computer's copy would hold it.
class Peer {
 public:
  explicit Peer(std::string computer, std::string slot = "Vask") : computer_(std::move(computer)) {
    handle_ = VaskCreateMailslotOn(computer_.c_str(), slot.c_str(), 100100);
  }
  ~Peer() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  const std::string& name() const { return computer_; }

  // Messages waiting right now.
  DWORD Waiting() const {
    DWORD count = 0;
    DWORD next = 0;
    if (!GetMailslotInfo(handle_, nullptr, &next, &count, nullptr)) return 0;
    return count;
  }

  // The next message's bytes, or nullopt when none came before the deadline.
  std::optional<std::string> Read(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      DWORD next = 0;
      DWORD count = 0;
      if (GetMailslotInfo(handle_, nullptr, &next, &count, nullptr) && count > 0 &&
          next != MAILSLOT_NO_MESSAGE) {
        std::string bytes(next, '\0');
        DWORD read = 0;
        if (ReadFile(handle_, bytes.data(), next, &read, nullptr)) {
          bytes.resize(read);
          return bytes;
        }
      }
      if (std::chrono::steady_clock::now() >= until) return std::nullopt;
      Sleep(2);
    }
  }

  // The next datagram carrying `command`; others before it are kept in
  // skipped(). nullopt at the deadline.
  std::optional<DatagramFields> WaitFor(const std::string& command,
                                        std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      auto bytes = Read(left.count() > 0 ? left : std::chrono::milliseconds(0));
      if (!bytes) return std::nullopt;
      DatagramFields fields = SplitBytes(*bytes);
      if (fields.size() >= 4 && fields[3] == command) return fields;
      skipped_.push_back(std::move(fields));
    }
  }

  std::vector<DatagramFields>& skipped() { return skipped_; }

 private:
  std::string computer_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::vector<DatagramFields> skipped_;
};

// Holds whoever calls Hold() until Open(); bounded so a failing test cannot
// hang on it.
class Gate {
 public:
  void Hold() {
    std::unique_lock lock(mutex_);
    ++entered_;
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
  }
  bool WaitEntered(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, [this] { return entered_ > 0; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int entered_ = 0;
  bool open_ = false;
};

}  // namespace vask::test
