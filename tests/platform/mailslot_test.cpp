// Mailslots on the emulated LAN: who may serve a slot, who hears a write,
// and what GetMailslotInfo and ReadFile report.
#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "lan_dir.h"
#include "lan_fixture.h"

namespace vask::testing {
namespace {

using MailslotTest = LanTest;

// Leaves a bound socket file behind with no process serving it, as a
// crashed copy would.
void LeaveStaleSocket(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

TEST_F(MailslotTest, SecondServerOfOneNameOnOneComputerFailsUntilTheFirstCloses) {
  HANDLE first = Server("Vask");
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  // Names compare without regard to case, as on Windows.
  EXPECT_EQ(Server("VASK"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  ASSERT_TRUE(CloseHandle(first));
  Forget(first);
  EXPECT_NE(Server("vask"), INVALID_HANDLE_VALUE);
}

TEST_F(MailslotTest, SameSlotNameOnTwoComputersKeepsTheirMessagesApart) {
  HANDLE own = Server("vask");
  HANDLE other = ServerOn("PC2", "vask");
  ASSERT_NE(own, INVALID_HANDLE_VALUE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);

  ASSERT_TRUE(Write(Client("pc2", "VASK"), "to two"));
  ASSERT_TRUE(Write(Client("PC1", "vask"), "to one"));
  EXPECT_EQ(Read(own), "to one");
  EXPECT_EQ(Read(other), "to two");
  EXPECT_EQ(Count(own), 0u);
  EXPECT_EQ(Count(other), 0u);
}

TEST_F(MailslotTest, SocketOfADeadProcessIsReclaimed) {
  ASSERT_EQ(::mkdir(lan_.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((lan_ + "/WORKGROUP").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((lan_ + "/WORKGROUP/PC1").c_str(), 0700), 0);
  LeaveStaleSocket(lan_ + "/WORKGROUP/PC1/vask");

  // A dead slot is no slot to a writer...
  EXPECT_EQ(Client("PC1", "vask"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // ...and no obstacle to a new server.
  HANDLE server = Server("vask");
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(Client("PC1", "vask"), "hello"));
  EXPECT_EQ(Read(server), "hello");
}

TEST_F(MailslotTest, ClientOpenOfAMissingSlotFails) {
  ASSERT_NE(Server("other"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Client("PC1", "vask"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Client("NOBODY", "vask"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
}

TEST_F(MailslotTest, NamedComputerIsFoundInAnyWorkgroup) {
  SetWorkgroup("OFFICE");
  HANDLE far = ServerOn("PC9", "vask");
  ASSERT_NE(far, INVALID_HANDLE_VALUE);
  SetWorkgroup("HOME");
  ASSERT_TRUE(Write(Client("PC9", "vask"), "across"));
  EXPECT_EQ(Read(far), "across");
}

TEST_F(MailslotTest, ComputerWithoutTheSlotInTheOwnWorkgroupIsLookedForInTheOthers) {
  SetWorkgroup("OFFICE");
  HANDLE far = ServerOn("PC9", "vask");
  ASSERT_NE(far, INVALID_HANDLE_VALUE);
  SetWorkgroup("HOME");
  ASSERT_NE(ServerOn("PC9", "other"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(Client("PC9", "vask"), "across"));
  EXPECT_EQ(Read(far), "across");
}

TEST_F(MailslotTest, WriteAfterTheServerWasBoundAnewReachesTheNewServer) {
  HANDLE first = Server("vask");
  HANDLE client = Client("PC1", "vask");
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(first));
  Forget(first);
  HANDLE second = Server("vask");
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(client, "again"));
  EXPECT_EQ(Read(second), "again");
  ASSERT_TRUE(Write(client, "and again"));
  EXPECT_EQ(Read(second), "and again");
}

TEST_F(MailslotTest, BroadcastReachesEveryComputerOfTheOwnWorkgroupOnly) {
  HANDLE own = Server("vask");
  HANDLE peer = ServerOn("PC2", "vask");
  HANDLE otherSlot = ServerOn("PC3", "notvask");
  SetWorkgroup("OTHER");
  HANDLE stranger = ServerOn("PC4", "vask");
  ::unsetenv("VASK_WORKGROUP");
  for (HANDLE h : {own, peer, otherSlot, stranger}) ASSERT_NE(h, INVALID_HANDLE_VALUE);

  HANDLE everyone = Client("*", "Vask");
  ASSERT_NE(everyone, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(everyone, "all"));
  EXPECT_EQ(Read(own), "all");
  EXPECT_EQ(Read(peer), "all");
  EXPECT_EQ(Count(otherSlot), 0u);
  EXPECT_EQ(Count(stranger), 0u);

  // A computer that starts after the open hears the next write.
  HANDLE late = ServerOn("PC5", "vask");
  ASSERT_TRUE(Write(everyone, "again"));
  EXPECT_EQ(Read(late), "again");
}

TEST_F(MailslotTest, BroadcastWithoutReceiversStillSucceeds) {
  HANDLE everyone = Client("*", "vask");
  ASSERT_NE(everyone, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Write(everyone, "anyone?"));
}

TEST_F(MailslotTest, LargestMessageRoundTripsAndALargerOneIsDropped) {
  HANDLE server = Server("vask", 100100);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  HANDLE client = Client("PC1", "vask");
  std::string largest(100100, '\0');
  for (size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(Write(client, largest));
  // The writer cannot tell: the slot drops it, as a remote slot would.
  EXPECT_TRUE(Write(client, std::string(100101, 'x')));
  ASSERT_TRUE(Write(client, "after"));

  EXPECT_EQ(Count(server), 2u);
  EXPECT_EQ(Read(server), largest);
  EXPECT_EQ(Read(server), "after");
}

TEST_F(MailslotTest, InfoReportsExactCountAndNextSizeAfterSeveralWrites) {
  HANDLE server = Server("vask", 500, 0);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  DWORD maxSize = 0, next = 0, count = 7, timeout = 7;
  ASSERT_TRUE(GetMailslotInfo(server, &maxSize, &next, &count, &timeout));
  EXPECT_EQ(maxSize, 500u);
  EXPECT_EQ(next, MAILSLOT_NO_MESSAGE);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(timeout, 0u);

  HANDLE client = Client("PC1", "vask");
  // More than the kernel's own datagram queue holds by default.
  for (int i = 0; i < 25; ++i)
    ASSERT_TRUE(Write(client, std::string(static_cast<size_t>(i + 1), 'a')));
  for (int i = 0; i < 25; ++i) {
    ASSERT_TRUE(GetMailslotInfo(server, nullptr, &next, &count, nullptr));
    EXPECT_EQ(count, static_cast<DWORD>(25 - i));
    EXPECT_EQ(next, static_cast<DWORD>(i + 1));
    EXPECT_EQ(Read(server).size(), static_cast<size_t>(i + 1));
  }
  EXPECT_EQ(Count(server), 0u);
}

// Datagrams that come by the socket (from another process) are taken in
// batches: the count stays exact across batches, the order is kept, and one
// longer than the slot's maximum is dropped whole while its neighbours stay.
TEST_F(MailslotTest, DatagramsFromTheSocketKeepTheirCountOrderAndSizeLimit) {
  HANDLE server = Server("vask", 500, 0);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  const std::string path = lan_ + "/WORKGROUP/PC1/vask";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // Sizes 0..39, with 501 (one too many) and 500 (the most) between them.
  std::vector<std::string> sent;
  for (int i = 0; i < 40; ++i) {
    sent.push_back(std::string(static_cast<size_t>(i), static_cast<char>('a' + i % 26)));
    if (i == 17) sent.push_back(std::string(501, 'X'));
    if (i == 29) sent.push_back(std::string(500, 'M'));
  }
  for (const std::string& datagram : sent) {
    ASSERT_EQ(::send(fd, datagram.data(), datagram.size(), 0),
              static_cast<ssize_t>(datagram.size()));
  }
  ::close(fd);
  std::erase_if(sent, [](const std::string& datagram) { return datagram.size() > 500; });
  DWORD next = 0, count = 0;
  for (size_t i = 0; i < sent.size(); ++i) {
    ASSERT_TRUE(GetMailslotInfo(server, nullptr, &next, &count, nullptr));
    ASSERT_EQ(count, static_cast<DWORD>(sent.size() - i));
    ASSERT_EQ(next, static_cast<DWORD>(sent[i].size()));
    ASSERT_EQ(Read(server), sent[i]) << i;
  }
  EXPECT_EQ(Count(server), 0u);
}

// A slot whose largest message is huge or unbounded takes datagrams from
// the socket one by one, at their own size.
TEST_F(MailslotTest, SlotsWithoutAModestLimitTakeDatagramsFromTheSocketToo) {
  for (DWORD limit : {DWORD{0}, DWORD{0x7FFFFFFF}}) {
    const std::string name = "big" + std::to_string(limit);
    HANDLE server = Server(name.c_str(), limit, 0);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    const std::string path = lan_ + "/WORKGROUP/PC1/" + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    const std::string large(150000, 'L');
    const int room = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    for (const std::string* datagram : {&large, &name}) {
      EXPECT_EQ(::sendto(fd, datagram->data(), datagram->size(), 0,
                         reinterpret_cast<sockaddr*>(&address), sizeof address),
                static_cast<ssize_t>(datagram->size()));
    }
    ::close(fd);
    EXPECT_EQ(Count(server), 2u);
    EXPECT_EQ(Read(server), large);
    EXPECT_EQ(Read(server), name);
  }
}

TEST_F(MailslotTest, ReadOfAnEmptySlotWithTimeoutZeroFailsAtOnce) {
  HANDLE server = Server("vask", 0, 0);
  char buffer[16];
  DWORD read = 99;
  EXPECT_FALSE(ReadFile(server, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
  EXPECT_EQ(read, 0u);
}

TEST_F(MailslotTest, ReadWithTimeoutWaitsForAMessageWrittenMeanwhile) {
  HANDLE server = Server("vask", 0, 30000);
  std::thread writer([this] { Write(Client("PC1", "vask"), "late"); });
  EXPECT_EQ(Read(server), "late");
  writer.join();
}

TEST_F(MailslotTest, ShortBufferFailsAndKeepsTheMessage) {
  HANDLE server = Server("vask");
  ASSERT_TRUE(Write(Client("PC1", "vask"), "0123456789"));
  char buffer[4];
  DWORD read = 99;
  EXPECT_FALSE(ReadFile(server, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(Read(server), "0123456789");
}

TEST_F(MailslotTest, EmptyMessageCountsAsOne) {
  HANDLE server = Server("vask");
  ASSERT_TRUE(Write(Client("PC1", "vask"), ""));
  DWORD next = 1, count = 0;
  ASSERT_TRUE(GetMailslotInfo(server, nullptr, &next, &count, nullptr));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(next, 0u);
}

TEST_F(MailslotTest, WriteToASlotWhoseServerClosedFails) {
  HANDLE server = Server("vask");
  HANDLE client = Client("PC1", "vask");
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(server));
  Forget(server);
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(client, "x", 1, &written, nullptr));
  EXPECT_EQ(written, 0u);
}

TEST_F(MailslotTest, WrongSidesAndBadHandlesAreRefused) {
  HANDLE server = Server("vask");
  HANDLE client = Client("PC1", "vask");
  char buffer[8];
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(server, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(ReadFile(client, buffer, sizeof buffer, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(GetMailslotInfo(client, nullptr, nullptr, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  int local = 0;
  for (HANDLE bad :
       {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&local)}) {
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(GetMailslotInfo(bad, nullptr, nullptr, &n, nullptr));
  }
  ASSERT_TRUE(CloseHandle(client));
  Forget(client);
  EXPECT_FALSE(CloseHandle(client));  // twice
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(MailslotTest, MalformedPathsAreRefused) {
  EXPECT_EQ(CreateMailslotA("\\\\PC1\\mailslot\\vask", 0, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateMailslotA("\\\\.\\mailslot\\", 0, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateMailslotA("\\\\.\\mailslot\\a/b", 0, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateMailslotA("\\\\.\\mailslot\\..", 0, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA("/etc/passwd", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(Client("..", "vask"), INVALID_HANDLE_VALUE);
}

// Every name that could climb out of its folder (a '/', a "." or ".." as
// the whole name or between backslashes) is refused as a name, for servers
// and clients alike, and nothing appears outside the computers' folders.
TEST_F(MailslotTest, NamesThatWouldLeaveTheirFolderAreRefused) {
  // Something to find if a client's name did climb: PC1's "vask", and PC2's
  // folder to climb from.
  HANDLE vask = Server("vask");
  ASSERT_NE(vask, INVALID_HANDLE_VALUE);
  ASSERT_NE(ServerOn("PC2", "other"), INVALID_HANDLE_VALUE);
  const char* const slots[] = {"..\\..\\escape", "../../escape", "a/b",     "..",         ".",
                               "x\\..",          ".\\x",         "x\\.\\y", "../PC1/vask"};
  for (const char* slot : slots) {
    SCOPED_TRACE(slot);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(Server(slot), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(ServerOn("PC2", slot), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    for (const char* computer : {"PC1", "PC2", "."}) {
      SetLastError(ERROR_SUCCESS);
      EXPECT_EQ(Client(computer, slot), INVALID_HANDLE_VALUE) << computer;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << computer;
    }
  }
  for (const char* computer : {"..", "PC2/..", "../WORKGROUP/PC1", "a/b"}) {
    SCOPED_TRACE(computer);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(ServerOn(computer, "vask2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(Client(computer, "vask"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  }
  // A name with backslashes but no "." or ".." part stays one slot.
  EXPECT_NE(Server("dir\\name"), INVALID_HANDLE_VALUE);
  // Only the LAN directory below the test's folder, only the workgroup in
  // it, only the two computers in that.
  auto entries = [](const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
      while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(entries(root_), std::vector<std::string>{"lan"});
  EXPECT_EQ(entries(lan_), std::vector<std::string>{"WORKGROUP"});
  EXPECT_EQ(entries(lan_ + "/WORKGROUP"), (std::vector<std::string>{"PC1", "PC2"}));
  EXPECT_EQ(entries(lan_ + "/WORKGROUP/PC1"), (std::vector<std::string>{"dir\\name", "vask"}));
  EXPECT_EQ(entries(lan_ + "/WORKGROUP/PC2"), std::vector<std::string>{"other"});
}

TEST_F(MailslotTest, LanDirectoryIsCreatedPrivate) {
  ASSERT_NE(Server("vask"), INVALID_HANDLE_VALUE);
  struct stat info {};
  ASSERT_EQ(::stat(lan_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(MailslotTest, LanDirectoryOpenToOthersIsRefused) {
  ASSERT_EQ(::mkdir(lan_.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(lan_.c_str(), 0755), 0);
  EXPECT_EQ(Server("vask"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Client("*", "vask"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// The one rule the library, the host and the bridge share gives its reason.
TEST_F(MailslotTest, LanDirectoryRuleNamesWhatIsWrong) {
  using lan_dir::Verdict;
  const lan_dir::Check made = lan_dir::Prepare(lan_);
  EXPECT_EQ(made.verdict, Verdict::kUsable);
  struct stat info {};
  ASSERT_EQ(::lstat(lan_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(::chmod(lan_.c_str(), 0750), 0);
  EXPECT_EQ(lan_dir::Prepare(lan_).verdict, Verdict::kOpenToOthers);
  EXPECT_STRNE(lan_dir::Describe(Verdict::kOpenToOthers), "");
  ASSERT_EQ(::symlink(lan_.c_str(), (root_ + "/link").c_str()), 0);
  EXPECT_EQ(lan_dir::Prepare(root_ + "/link").verdict, Verdict::kNotADirectory);
  const lan_dir::Check missing = lan_dir::Prepare(root_ + "/no/such/parent");
  EXPECT_EQ(missing.verdict, Verdict::kCannotMake);
  EXPECT_EQ(missing.error, ENOENT);
  if (::chown(lan_.c_str(), ::geteuid() == 0 ? 65534 : 0, static_cast<gid_t>(-1)) == 0) {
    EXPECT_EQ(lan_dir::Prepare(lan_).verdict, Verdict::kNotOurs);
  }
}

TEST_F(MailslotTest, LanDirectoryOfAnotherUserIsRefused) {
  ASSERT_EQ(::mkdir(lan_.c_str(), 0700), 0);
  uid_t other = ::geteuid() == 0 ? 65534 : 0;
  if (::chown(lan_.c_str(), other, static_cast<gid_t>(-1)) != 0) {
    GTEST_SKIP() << "cannot give the folder away without privileges";
  }
  EXPECT_EQ(Server("vask"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(MailslotTest, SymbolicLinkAsLanDirectoryIsRefused) {
  std::string real = root_ + "/real";
  ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(real.c_str(), lan_.c_str()), 0);
  EXPECT_EQ(Server("vask"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(MailslotTest, ComputerNameComesFromTheEnvironmentAtEachCall) {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  SetComputer("biuro-komputer-numer-7");
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_STREQ(name, "BIURO-KOMPUTER-");  // upper case, 15 characters
  EXPECT_EQ(size, 15u);

  SetComputer("pc2");
  size = 3;  // no room for the NUL
  EXPECT_FALSE(GetComputerNameA(name, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(size, 4u);
  size = 4;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_STREQ(name, "PC2");
  EXPECT_EQ(size, 3u);
}

}  // namespace
}  // namespace vask::testing
