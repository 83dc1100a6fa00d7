// Another computer of the emulated LAN inside the test process: the server
// slot its copy of the plug-in would hold, what arrives there, and the
// datagrams that computer writes. Every wait is bounded by a deadline.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/nul_fields.h"
#include "win32.h"

namespace vask::test {

// One write of `bytes` as they are to \\computer\mailslot\slot ("*": every
// computer of the workgroup); false when the slot cannot be opened or not
// every byte was written.
bool SendRaw(const std::string& computer, const std::string& bytes,
             const std::string& slot = "Vask");

// True when nobody holds a server slot of that name on that computer now
// (the probe creates it and closes it again).
bool SlotFree(const std::string& computer, const std::string& slot);

class LanPeer {
 public:
  // Creates `slot` on `computer` (check ok()); it is also the slot this
  // peer writes to on other computers.
  explicit LanPeer(std::string computer, std::string slot = "Vask");
  ~LanPeer();
  LanPeer(const LanPeer&) = delete;
  LanPeer& operator=(const LanPeer&) = delete;

  bool ok() const;
  const std::string& computer() const { return computer_; }

  // Datagrams waiting in the slot right now.
  DWORD Waiting() const;

  // The next datagram's bytes, or nullopt when none came before the
  // deadline (0: only what waits already).
  std::optional<std::string> Read(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // The same, split at its NULs.
  std::optional<Fields> ReadFields(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // The next datagram whose command (field 3) is `command`; the others read
  // on the way are kept in skipped(). nullopt at the deadline.
  std::optional<Fields> WaitFor(const std::string& command,
                                std::chrono::milliseconds deadline = std::chrono::seconds(5));
  std::vector<Fields>& skipped() { return skipped_; }

  // Writes a datagram from this computer to `target` under this peer's next
  // sequence number, `copies` times in a row (2: as a network that
  // duplicates would). Safe from several threads: numbers are taken and
  // written under one lock, so they reach `target` in order and a copy
  // follows its original directly.
  bool Send(const std::string& target, const std::string& command, const Fields& body = {},
            int copies = 1);

  // A "PING" and its "PONG": once the answer is back, the target's worker
  // has handled everything this peer sent before. Reads only this peer's
  // slot, so one thread at a time.
  bool Sync(const std::string& target);
  // Like Sync, and gives every datagram that came before the "PONG".
  std::optional<std::vector<Fields>> SyncCollect(const std::string& target);

  // The number of the last datagram sent; set it to go on from a number a
  // test wrote by hand.
  int sequence();
  void set_sequence(int value);

 private:
  std::string computer_;
  std::string slot_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::vector<Fields> skipped_;
  std::mutex sendMutex_;
  int sequence_ = 0;  // under sendMutex_
};

}  // namespace vask::test
