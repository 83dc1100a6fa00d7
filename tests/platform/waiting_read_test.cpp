// Reads that wait on a server slot: a waiting reader gets what comes by the
// socket, and the slot goes on taking datagrams on its own once the reader
// has what it waited for, gave up, or was closed under.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lan_fixture.h"
#include "tests/support/stuck_slot.h"

namespace vask::testing {
namespace {

constexpr DWORD kBoundMs = 20000;  // a bound against hangs, not a timing

// A socket of "another process": connected to the slot's file, its sends
// give up after a few seconds instead of waiting for room for ever.
class RemoteWriter {
 public:
  explicit RemoteWriter(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const timeval limit{5, 0};
    ok_ = fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0 &&
          ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RemoteWriter() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return ok_; }
  bool Send(const std::string& text) {
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

// The calling thread's id, for BlockedInKernel.
pid_t ThreadId() { return static_cast<pid_t>(::gettid()); }

// Until the thread `tid` of this process sleeps in the kernel (a reader
// waiting for a datagram), or kBoundMs passed: an event to wait for, not a
// guess at how long a thread takes to start.
bool BlockedInKernel(const std::atomic<pid_t>& tid) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
  while (std::chrono::steady_clock::now() < until) {
    const pid_t id = tid.load();
    if (id != 0) {
      std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
      std::string line;
      std::getline(stat, line);
      // The state follows the command name's closing parenthesis.
      const size_t close = line.rfind(')');
      if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S') {
        return true;
      }
    }
    std::this_thread::yield();
  }
  return false;
}

class WaitingReadTest : public LanTest {
 protected:
  std::string SlotPath() const { return lan_ + "/WORKGROUP/PC1/vask"; }
};

// More datagrams than the kernel queues for a socket nobody drains.
int Burst() { return test::StuckSlot::KernelQueue() + 20; }

// A waiting reader gets what comes by the socket, in order; once it has
// it, the slot drains the socket on its own again, so a burst beyond the
// kernel's queue is taken while nobody reads, and counted.
TEST_F(WaitingReadTest, ReaderGetsSocketArrivalsAndTheSlotDrainsAgainAfterwards) {
  HANDLE server = Server("vask", 500, MAILSLOT_WAIT_FOREVER);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  RemoteWriter writer(SlotPath());
  ASSERT_TRUE(writer.ok());
  std::atomic<pid_t> readerId{0};
  std::string first;
  std::thread reader([&] {
    readerId = ThreadId();
    first = Read(server);
  });
  ASSERT_TRUE(BlockedInKernel(readerId));
  ASSERT_TRUE(writer.Send("first"));
  reader.join();
  EXPECT_EQ(first, "first");

  const int burst = Burst();
  for (int i = 0; i < burst; ++i) ASSERT_TRUE(writer.Send("burst" + std::to_string(i))) << i;
  EXPECT_EQ(Count(server), static_cast<DWORD>(burst));
  for (int i = 0; i < burst; ++i) ASSERT_EQ(Read(server), "burst" + std::to_string(i));
}

// A write from this process goes straight into the queue, past the socket:
// a reader waiting on the socket is woken for it at once, not at the read's
// timeout, and a reader waiting after it still gets what comes by the
// socket.
TEST_F(WaitingReadTest, AWriteFromThisProcessWakesAReaderWaitingOnTheSocket) {
  HANDLE server = Server("vask", 500, kBoundMs);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  HANDLE client = Client("PC1", "vask");
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  RemoteWriter remote(SlotPath());
  ASSERT_TRUE(remote.ok());
  for (const std::string text : {"local", "remote", "local again"}) {
    std::atomic<pid_t> readerId{0};
    std::string got;
    std::thread reader([&] {
      readerId = ThreadId();
      got = Read(server);
    });
    ASSERT_TRUE(BlockedInKernel(readerId));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(text == "remote" ? remote.Send(text) : Write(client, text));
    reader.join();
    EXPECT_EQ(got, text);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(kBoundMs / 2));
  }
}

// A read that times out gives the socket back: a datagram sent after it is
// queued without a reader and counted.
TEST_F(WaitingReadTest, TimedOutReadFailsAndLaterArrivalsAreStillTaken) {
  HANDLE server = Server("vask", 500, 30);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  char buffer[16];
  DWORD read = 99;
  EXPECT_FALSE(ReadFile(server, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
  EXPECT_EQ(read, 0u);

  RemoteWriter writer(SlotPath());
  ASSERT_TRUE(writer.ok());
  const int burst = Burst();
  for (int i = 0; i < burst; ++i) ASSERT_TRUE(writer.Send("after" + std::to_string(i))) << i;
  EXPECT_EQ(Count(server), static_cast<DWORD>(burst));
  EXPECT_EQ(Read(server), "after0");
}

// Two readers waiting on one slot each get one of two datagrams; a count
// asked meanwhile on a third thread takes nothing from them.
TEST_F(WaitingReadTest, TwoWaitingReadersEachGetOneDatagram) {
  HANDLE server = Server("vask", 500, kBoundMs);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  std::vector<std::string> got(2);
  std::atomic<pid_t> firstId{0};
  std::atomic<pid_t> secondId{0};
  std::thread first([&] {
    firstId = ThreadId();
    got[0] = Read(server);
  });
  std::thread second([&] {
    secondId = ThreadId();
    got[1] = Read(server);
  });
  ASSERT_TRUE(BlockedInKernel(firstId));
  ASSERT_TRUE(BlockedInKernel(secondId));
  EXPECT_EQ(Count(server), 0u);
  RemoteWriter writer(SlotPath());
  ASSERT_TRUE(writer.ok());
  ASSERT_TRUE(writer.Send("one"));
  EXPECT_LE(Count(server), 1u);
  ASSERT_TRUE(writer.Send("two"));
  first.join();
  second.join();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(Count(server), 0u);
}

// Closing the slot while a reader waits on its socket ends the read with
// a bad handle at once, not at the read's timeout.
TEST_F(WaitingReadTest, CloseUnderAWaitingReaderEndsTheRead) {
  HANDLE server = Server("vask", 500, kBoundMs);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  BOOL result = TRUE;
  DWORD error = 0;
  std::atomic<pid_t> readerId{0};
  std::thread reader([&] {
    readerId = ThreadId();
    char buffer[16];
    DWORD read = 0;
    result = ReadFile(server, buffer, sizeof buffer, &read, nullptr);
    error = GetLastError();
  });
  ASSERT_TRUE(BlockedInKernel(readerId));
  const auto closed = std::chrono::steady_clock::now();
  ASSERT_TRUE(CloseHandle(server));
  Forget(server);
  reader.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  // Half the read's timeout: far more than a wake takes, far less than the
  // timeout a missed wake would run into.
  EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::milliseconds(kBoundMs / 2));
}

}  // namespace
}  // namespace vask::testing
