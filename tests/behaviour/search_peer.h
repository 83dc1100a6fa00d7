// A stand-in for another computer on the emulated LAN in the search tests:
// it owns that computer's channel slot, reads what the plug-in sends it and
// writes datagrams to the plug-in as a peer's copy would.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "abi/host_records.h"
#include "win32.h"

namespace vask::test {

class SearchPeer {
 public:
  SearchPeer(const std::string& computer, const std::string& channel = "Vask")
      : computer_(computer),
        slot_(VaskCreateMailslotOn(computer.c_str(), channel.c_str(), 100100)),
        channel_(channel) {}
  ~SearchPeer() {
    if (ok()) CloseHandle(slot_);
  }
  SearchPeer(const SearchPeer&) = delete;
  SearchPeer& operator=(const SearchPeer&) = delete;

  bool ok() const { return slot_ != INVALID_HANDLE_VALUE && slot_ != nullptr; }
  const std::string& computer() const { return computer_; }

  // Writes seq, own name, target, command and the body fields, each ending
  // in NUL, to `to`'s channel slot. A fresh sequence number every time.
  bool Send(const std::string& to, const std::string& command,
            const std::vector<std::string>& body = {}) {
    std::string bytes = std::to_string(++sequence_) + '\0' + computer_ + '\0' + to + '\0' +
                        command + '\0';
    for (const std::string& field : body) bytes += field + '\0';
    return SendRaw(to, bytes);
  }
  bool SendRaw(const std::string& to, const std::string& bytes) {
    std::string path = "\\\\" + to + "\\mailslot\\" + channel_;
    HANDLE client = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (client == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL done = WriteFile(client, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(client);
    return done && written == bytes.size();
  }

  // The next datagram, split at its NULs (the final one ends the last
  // field), or nullopt when none arrives within the deadline.
  std::optional<DatagramFields> Receive(std::chrono::milliseconds deadline) {
    auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      DWORD next = MAILSLOT_NO_MESSAGE;
      DWORD count = 0;
      if (ok() && GetMailslotInfo(slot_, nullptr, &next, &count, nullptr) &&
          next != MAILSLOT_NO_MESSAGE) {
        std::string buffer(next, '\0');
        DWORD read = 0;
        if (ReadFile(slot_, buffer.data(), next, &read, nullptr)) {
          buffer.resize(read);
          return Split(buffer);
        }
      }
      if (std::chrono::steady_clock::now() >= until) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // The next datagram with this command, skipping others (presence and the
  // like); nullopt at the deadline.
  std::optional<DatagramFields> ReceiveCommand(const std::string& command,
                                               std::chrono::milliseconds deadline) {
    auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      auto fields = Receive(left);
      if (!fields) return std::nullopt;
      if (fields->size() > 3 && (*fields)[3] == command) return fields;
    }
  }

  static DatagramFields Split(const std::string& bytes) {
    DatagramFields fields;
    std::string field;
    for (char c : bytes) {
      if (c == '\0') {
        fields.push_back(field);
        field.clear();
      } else {
        field += c;
      }
    }
    if (!field.empty()) fields.push_back(field);
    return fields;
  }

 private:
  std::string computer_;
  HANDLE slot_;
  std::string channel_;
  int sequence_ = 0;
};

}  // namespace vask::test
