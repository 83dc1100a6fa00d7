// Two computers on one machine: this test binary starts itself again as a
// second process with its own COMPUTERNAME, and the two exchange datagrams
// over the shared LAN directory.
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "lan_fixture.h"

extern char** environ;

namespace vask::testing {
namespace {

constexpr char kRoleVariable[] = "VASK_PLATFORM_TEST_ROLE";
constexpr DWORD kWaitMs = 20000;  // a bound against hangs, not a timing

// The child's part: serve "peer", wait for one message, answer it on the
// parent's "reply" slot with "pong:" and the text. Exit status 0 on success.
int RunPeer() {
  HANDLE slot = CreateMailslotA("\\\\.\\mailslot\\peer", 1000, kWaitMs, nullptr);
  if (slot == INVALID_HANDLE_VALUE) return 2;
  char buffer[1000];
  DWORD read = 0;
  if (!ReadFile(slot, buffer, sizeof buffer, &read, nullptr)) return 3;
  HANDLE reply = CreateFileA("\\\\PARENT\\mailslot\\reply", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (reply == INVALID_HANDLE_VALUE) return 4;
  std::string answer = "pong:" + std::string(buffer, read);
  DWORD written = 0;
  if (!WriteFile(reply, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr))
    return 5;
  CloseHandle(reply);
  CloseHandle(slot);
  return 0;
}

// Runs before the tests when this process was started as the peer.
const bool peerRole = [] {
  const char* role = std::getenv(kRoleVariable);
  if (role && std::string(role) == "peer") std::_Exit(RunPeer());
  return false;
}();

using TwoProcessTest = LanTest;

TEST_F(TwoProcessTest, ComputersInTwoProcessesExchangeADatagram) {
  SetComputer("PARENT");
  HANDLE reply = Server("reply", 1000, kWaitMs);
  ASSERT_NE(reply, INVALID_HANDLE_VALUE);

  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (entry.rfind("COMPUTERNAME=", 0) != 0) environment.push_back(entry);
  }
  environment.push_back("COMPUTERNAME=CHILD");
  environment.push_back(std::string(kRoleVariable) + "=peer");
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  char self[] = "/proc/self/exe";
  char* argv[] = {self, nullptr};
  pid_t child;
  ASSERT_EQ(::posix_spawn(&child, self, nullptr, nullptr, argv, envp.data()), 0);

  // The child's slot exists once it is up; wait for it within the bound.
  HANDLE peer = INVALID_HANDLE_VALUE;
  DWORD start = GetTickCount();
  while (peer == INVALID_HANDLE_VALUE && GetTickCount() - start < kWaitMs) {
    peer = Client("CHILD", "peer");
    if (peer == INVALID_HANDLE_VALUE) Sleep(10);
  }
  EXPECT_NE(peer, INVALID_HANDLE_VALUE);
  if (peer != INVALID_HANDLE_VALUE) {
    EXPECT_TRUE(Write(peer, "ping"));
    EXPECT_EQ(Read(reply), "pong:ping");
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vask::testing
