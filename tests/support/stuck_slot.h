// A receiver that never drains, as the slot of a stopped process (Ctrl-Z)
// is: a datagram socket bound where a computer's server slot lives on the
// emulated LAN, read only when a test says so. Writes to it fill the
// kernel's short queue and then wait in the writer's outbox.
#pragma once

#include <string>

namespace vask::test {

class StuckSlot {
 public:
  // Binds at <lanDir>/<workgroup>/<computer>/<slot> (the folders are made);
  // check ok(). `slot` is the name as the LAN keeps it on disk (folded).
  StuckSlot(const std::string& lanDir, const std::string& workgroup, const std::string& computer,
            const std::string& slot = "vask");
  ~StuckSlot();
  StuckSlot(const StuckSlot&) = delete;
  StuckSlot& operator=(const StuckSlot&) = delete;

  bool ok() const { return fd_ >= 0; }

  // The next datagram, waiting for it up to `deadlineMs`; "<none>" when none
  // came (0: only what waits already).
  std::string Next(int deadlineMs = 20000);

  // How many datagrams the kernel queues for a socket nobody reads
  // (net.unix.max_dgram_qlen and one more): writes beyond it find it full.
  static int KernelQueue();

 private:
  int fd_ = -1;
};

}  // namespace vask::test
