// The Win32 subset's side of the real LAN, against a stand-in bridge on
// <LAN>/.bridge: opens of computers that are not local ask the bridge,
// writes carry sender, target, slot and data, the bridge's verdict becomes
// the call's result (a name in conflict included, at the open of a server
// slot and at a write), and the emulated LAN stays as it was when the real
// LAN is not selected.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge_link.h"
#include "tests/support/temp_lan.h"
#include "win32.h"

namespace {

// Answers every request with the code in `verdict` and records it.
class FakeBridge {
 public:
  explicit FakeBridge(const std::string& lan) : path_(lan + "/" + vask::bridge_link::kSocketName) {
    listen_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listen_, 8), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeBridge() {
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
    ::unlink(path_.c_str());
  }

  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.clear();
  }

  std::atomic<uint32_t> verdict{0};

 private:
  void Serve() {
    for (;;) {
      int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      char buffer[vask::bridge_link::kMaxRequest];
      ssize_t got;
      while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
        {
          std::lock_guard<std::mutex> guard(lock_);
          requests_.emplace_back(buffer, static_cast<size_t>(got));
        }
        uint32_t v = verdict;
        uint8_t reply[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
        ::send(fd, reply, sizeof reply, MSG_NOSIGNAL);
      }
      ::close(fd);
    }
  }

  std::string path_;
  int listen_ = -1;
  std::thread thread_;
  std::mutex lock_;
  std::vector<std::string> requests_;
};

class BridgeClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.ok());
    lan_ = temp_.dir();
    temp_.Set("VASK_REAL_LAN", "1");
  }

  vask::test::TempLan temp_{"ALPHA", "WORKGROUP", "vask-bridge-client"};
  std::string lan_;
};

std::string Field(const std::string& request, size_t index) {
  size_t start = 1;
  for (size_t i = 0; i < index; ++i) start = request.find('\0', start) + 1;
  return request.substr(start, request.find('\0', start) - start);
}

TEST_F(BridgeClientTest, ARemoteComputerIsResolvedThenWrittenThroughTheBridge) {
  FakeBridge bridge(lan_);
  HANDLE slot = CreateFileA("\\\\bravo\\mailslot\\Vask", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(slot, "hi\0there", 8, &written, nullptr));
  EXPECT_EQ(written, 8u);
  CloseHandle(slot);

  std::vector<std::string> requests = bridge.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], std::string("RBRAVO\0", 7));
  EXPECT_EQ(requests[1][0], 'W');
  EXPECT_EQ(Field(requests[1], 0), "ALPHA");
  EXPECT_EQ(Field(requests[1], 1), "BRAVO");
  EXPECT_EQ(Field(requests[1], 2), "vask");
  EXPECT_EQ(requests[1].substr(requests[1].size() - 8), std::string("hi\0there", 8));
}

TEST_F(BridgeClientTest, TheBridgesRefusalIsTheCallsError) {
  FakeBridge bridge(lan_);
  bridge.verdict = ERROR_BAD_NETPATH;
  EXPECT_EQ(CreateFileA("\\\\GHOST\\mailslot\\vask", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));

  bridge.verdict = 0;
  HANDLE slot = CreateFileA("\\\\BRAVO\\mailslot\\vask", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  bridge.verdict = ERROR_BAD_NETPATH;  // the name no longer answers, say
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(slot, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_EQ(written, 0u);
  CloseHandle(slot);
}

// 424 bytes go to the bridge; one more fails as the bridge itself would
// refuse it (ERROR_BAD_NETPATH), without shipping it there.
TEST_F(BridgeClientTest, AWriteAbove424BytesFailsBeforeItReachesTheBridge) {
  FakeBridge bridge(lan_);
  for (const char* target : {"\\\\BRAVO\\mailslot\\vask", "\\\\*\\mailslot\\vask"}) {
    HANDLE slot = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(slot, INVALID_HANDLE_VALUE) << target;
    const size_t before = bridge.Requests().size();
    const std::string fits(424, 'x');
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(slot, fits.data(), static_cast<DWORD>(fits.size()), &written, nullptr));
    EXPECT_EQ(written, 424u);
    ASSERT_EQ(bridge.Requests().size(), before + 1) << target;
    EXPECT_EQ(bridge.Requests().back().substr(bridge.Requests().back().size() - 424), fits);

    const std::string big(425, 'x');
    written = 99;
    EXPECT_FALSE(WriteFile(slot, big.data(), static_cast<DWORD>(big.size()), &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(bridge.Requests().size(), before + 1) << target;
    CloseHandle(slot);
  }
}

TEST_F(BridgeClientTest, WithoutABridgeOrWithoutTheRealLanRemoteOpensFail) {
  EXPECT_EQ(CreateFileA("\\\\BRAVO\\mailslot\\vask", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));

  FakeBridge bridge(lan_);
  ::unsetenv("VASK_REAL_LAN");
  EXPECT_EQ(CreateFileA("\\\\BRAVO\\mailslot\\vask", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_TRUE(bridge.Requests().empty());
}

TEST_F(BridgeClientTest, LocalComputersStayLocalAndStarWritesGoBothWays) {
  FakeBridge bridge(lan_);
  HANDLE server = CreateMailslotA("\\\\.\\mailslot\\vask", 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  ASSERT_EQ(bridge.Requests().size(), 1u);  // the claim of ALPHA's name
  bridge.Clear();
  HANDLE local = CreateFileA("\\\\ALPHA\\mailslot\\vask", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(local, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(local, "one", 3, &written, nullptr));
  CloseHandle(local);
  EXPECT_TRUE(bridge.Requests().empty()) << "a local computer never reaches the bridge";

  HANDLE all = CreateFileA("\\\\*\\mailslot\\vask", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(all, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteFile(all, "two", 3, &written, nullptr));
  CloseHandle(all);
  std::vector<std::string> requests = bridge.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0][0], 'W');
  EXPECT_EQ(Field(requests[0], 1), "*");

  DWORD count = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (GetMailslotInfo(server, nullptr, nullptr, &count, nullptr) && count < 2 &&
         std::chrono::steady_clock::now() < deadline) {
    Sleep(10);
  }
  EXPECT_EQ(count, 2u);
  CloseHandle(server);
}

TEST_F(BridgeClientTest, ComputersTheBridgeHeardOfJoinTheirWorkgroup) {
  HANDLE server = CreateMailslotA("\\\\.\\mailslot\\vask", 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  std::ofstream(lan_ + "/" + vask::bridge_link::kNeighboursName)
      << "WORKGROUP BRAVO 10.0.0.2\nOTHER CHARLIE 10.0.0.3\nWORKGROUP ALPHA 10.0.0.1\n";
  auto names = [] {
    std::vector<std::string> out;
    HANDLE e = nullptr;
    if (WNetOpenEnumA(RESOURCE_CONTEXT, RESOURCETYPE_ANY, 0, nullptr, &e) != NO_ERROR) return out;
    alignas(NETRESOURCEA) char buffer[16384];
    for (;;) {
      DWORD count = 100, size = sizeof buffer;
      if (WNetEnumResourceA(e, &count, buffer, &size) != NO_ERROR) break;
      auto* records = reinterpret_cast<NETRESOURCEA*>(buffer);
      for (DWORD i = 0; i < count; ++i) out.push_back(records[i].lpRemoteName);
    }
    WNetCloseEnum(e);
    return out;
  };
  EXPECT_EQ(names(), (std::vector<std::string>{"\\\\ALPHA", "\\\\BRAVO"}));
  ::unsetenv("VASK_REAL_LAN");
  EXPECT_EQ(names(), (std::vector<std::string>{"\\\\ALPHA"}));
  CloseHandle(server);
}

TEST_F(BridgeClientTest, ANameInConflictFailsTheServerSlotAndTheWrites) {
  FakeBridge bridge(lan_);
  bridge.verdict = vask::bridge_link::kErrorNameInConflict;
  EXPECT_EQ(CreateMailslotA("\\\\.\\mailslot\\vask", 0, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(52));  // ERROR_DUP_NAME
  std::vector<std::string> requests = bridge.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], std::string("CWORKGROUP\0ALPHA\0", 17));
  // The refused slot is gone: once the name is free it opens again.
  bridge.verdict = 0;
  HANDLE server = CreateMailslotA("\\\\.\\mailslot\\vask", 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);

  HANDLE remote = CreateFileA("\\\\BRAVO\\mailslot\\vask", GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(remote, INVALID_HANDLE_VALUE);
  bridge.verdict = vask::bridge_link::kErrorNameInConflict;
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(remote, "hi", 2, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(52));
  EXPECT_EQ(written, 0u);
  CloseHandle(remote);
  CloseHandle(server);
}

TEST_F(BridgeClientTest, WithoutABridgeAServerSlotOpensAsOnTheEmulatedLan) {
  HANDLE server = CreateMailslotA("\\\\.\\mailslot\\vask", 0, 0, nullptr);
  EXPECT_NE(server, INVALID_HANDLE_VALUE);
  CloseHandle(server);
}

}  // namespace
