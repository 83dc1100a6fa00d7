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
#include <memory>
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

// A thread in one waiting read of a slot, and what the read gave. One left
// unjoined by a failed assertion is let go: the fixture's close ends its read.
class WaitingReader {
 public:
  explicit WaitingReader(HANDLE server)
      : state_(std::make_shared<State>()), thread_([state = state_, server] {
          state->id = ThreadId();
          char buffer[64];
          DWORD read = 0;
          state->result = ReadFile(server, buffer, sizeof buffer, &read, nullptr);
          state->error = GetLastError();
          state->text.assign(buffer, read);
        }) {}
  ~WaitingReader() {
    if (thread_.joinable()) thread_.detach();
  }
  // Until the read sleeps in the kernel, waiting for a datagram.
  bool Blocked() const { return BlockedInKernel(state_->id); }
  // The text read, "<none>" when the read failed.
  std::string Join() {
    thread_.join();
    return state_->result ? state_->text : "<none>";
  }
  DWORD error() const { return state_->error; }

 private:
  struct State {
    std::atomic<pid_t> id{0};
    BOOL result = FALSE;
    DWORD error = 0;
    std::string text;
  };
  std::shared_ptr<State> state_;
  std::thread thread_;
};

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
  WaitingReader reader(server);
  ASSERT_TRUE(reader.Blocked());
  ASSERT_TRUE(writer.Send("first"));
  EXPECT_EQ(reader.Join(), "first");

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
    WaitingReader reader(server);
    ASSERT_TRUE(reader.Blocked());
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(text == "remote" ? remote.Send(text) : Write(client, text));
    EXPECT_EQ(reader.Join(), text);
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
  WaitingReader first(server);
  WaitingReader second(server);
  ASSERT_TRUE(first.Blocked());
  ASSERT_TRUE(second.Blocked());
  EXPECT_EQ(Count(server), 0u);
  RemoteWriter writer(SlotPath());
  ASSERT_TRUE(writer.ok());
  ASSERT_TRUE(writer.Send("one"));
  EXPECT_LE(Count(server), 1u);
  ASSERT_TRUE(writer.Send("two"));
  std::vector<std::string> got{first.Join(), second.Join()};
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(Count(server), 0u);
}

// Closing the slot while a reader waits on its socket ends the read with
// a bad handle at once, not at the read's timeout.
TEST_F(WaitingReadTest, CloseUnderAWaitingReaderEndsTheRead) {
  HANDLE server = Server("vask", 500, kBoundMs);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  WaitingReader reader(server);
  ASSERT_TRUE(reader.Blocked());
  const auto closed = std::chrono::steady_clock::now();
  ASSERT_TRUE(CloseHandle(server));
  Forget(server);
  EXPECT_EQ(reader.Join(), "<none>");
  EXPECT_EQ(reader.error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  // Half the read's timeout: far more than a wake takes, far less than the
  // timeout a missed wake would run into.
  EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::milliseconds(kBoundMs / 2));
}

}  // namespace
}  // namespace vask::testing
