// The emulated LAN keeps a real network's rules: 424 bytes between
// computers, writes that never wait for a receiver, names that match
// without regard to case (Windows-1250 letters too), and remote mailslots
// that can be switched off.
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "lan_fixture.h"
#include "lan_names.h"
#include "tests/support/stuck_slot.h"

namespace vask::testing {
namespace {

using test::StuckSlot;

constexpr DWORD kRemoteLimit = 424;
constexpr int kBoundMs = 20000;  // a bound against hangs, not a timing

std::string Numbered(int i) { return "datagram " + std::to_string(i); }

class LanRulesTest : public LanTest {
 protected:
  // The folder of a computer of a workgroup, made as another copy would.
  std::string Folder(const std::string& workgroup, const std::string& computer) {
    ::mkdir(lan_.c_str(), 0700);
    ::mkdir((lan_ + "/" + workgroup).c_str(), 0700);
    std::string folder = lan_ + "/" + workgroup + "/" + computer;
    ::mkdir(folder.c_str(), 0700);
    return folder;
  }
  // A server on another computer that waits for its reads, up to the bound.
  HANDLE WaitingServerOn(const char* computer, const char* name) {
    SetComputer(computer);
    HANDLE handle = Server(name, 100100, kBoundMs);
    SetComputer("PC1");
    return handle;
  }
  static DWORD WriteError(HANDLE client, const std::string& text) {
    DWORD written = 99;
    SetLastError(0);
    BOOL ok = WriteFile(client, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    EXPECT_EQ(written, ok ? text.size() : 0u);
    return ok ? 0 : GetLastError();
  }
};

TEST_F(LanRulesTest, AWriteToAnotherComputerCarriesAtMost424Bytes) {
  HANDLE other = ServerOn("PC2", "vask");
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  HANDLE client = Client("PC2", "vask");
  ASSERT_NE(client, INVALID_HANDLE_VALUE);

  const std::string fits(kRemoteLimit, 'a');
  EXPECT_EQ(WriteError(client, fits), 0u);
  // One byte more fails as between Windows computers and through the bridge.
  EXPECT_EQ(WriteError(client, fits + "b"), static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_EQ(WriteError(client, std::string(100100, 'c')), static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_EQ(WriteError(client, "after"), 0u);

  EXPECT_EQ(Count(other), 2u);
  EXPECT_EQ(Read(other), fits);
  EXPECT_EQ(Read(other), "after");
}

TEST_F(LanRulesTest, ABroadcastCarriesAtMost424BytesAndAnOversizedOneReachesNobody) {
  HANDLE own = Server("vask");
  HANDLE other = ServerOn("PC2", "vask");
  ASSERT_NE(own, INVALID_HANDLE_VALUE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  HANDLE everyone = Client("*", "vask");
  ASSERT_NE(everyone, INVALID_HANDLE_VALUE);

  EXPECT_EQ(WriteError(everyone, std::string(kRemoteLimit + 1, 'x')),
            static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_EQ(WriteError(everyone, std::string(kRemoteLimit, 'y')), 0u);
  for (HANDLE server : {own, other}) {
    EXPECT_EQ(Count(server), 1u);
    EXPECT_EQ(Read(server), std::string(kRemoteLimit, 'y'));
  }
}

TEST_F(LanRulesTest, AWriteToTheOwnComputerKeepsTheServersLimit) {
  HANDLE server = Server("vask", 100100);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  const std::string big(100100, 'z');
  for (const char* own : {".", "PC1", "pc1"}) {
    HANDLE client = Client(own, "vask");
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << own;
    EXPECT_EQ(WriteError(client, big), 0u) << own;
    EXPECT_EQ(Read(server), big) << own;
  }
}

// The writer and the other receivers of a broadcast go on while one
// receiver takes nothing; that receiver, once it reads again, still gets
// every datagram, in order.
TEST_F(LanRulesTest, AReceiverThatNeverDrainsHoldsUpNeitherTheWriterNorTheOthers) {
  StuckSlot stuck(lan_, "WORKGROUP", "PC2");
  ASSERT_TRUE(stuck.ok());
  HANDLE live = WaitingServerOn("PC3", "vask");
  ASSERT_NE(live, INVALID_HANDLE_VALUE);

  HANDLE everyone = Client("*", "vask");
  ASSERT_NE(everyone, INVALID_HANDLE_VALUE);
  // Far more than the stuck receiver's queue holds: every write returns.
  const int total = StuckSlot::KernelQueue() + 40;
  for (int i = 1; i <= total; ++i) ASSERT_TRUE(Write(everyone, Numbered(i))) << i;
  for (int i = 1; i <= total; ++i) ASSERT_EQ(Read(live), Numbered(i));

  for (int i = 1; i <= total; ++i) ASSERT_EQ(stuck.Next(), Numbered(i));
}

// What a stuck receiver cannot take waits in a bounded backlog; beyond it
// the datagrams are lost, and those that waited keep their order.
TEST_F(LanRulesTest, AStuckReceiverLosesWhatOverflowsItsBacklogAndKeepsTheRestInOrder) {
  StuckSlot stuck(lan_, "WORKGROUP", "PC2");
  ASSERT_TRUE(stuck.ok());
  HANDLE client = Client("PC2", "vask");
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  const int total = StuckSlot::KernelQueue() + 5000;  // past the 4096 of the backlog
  for (int i = 1; i <= total; ++i) ASSERT_TRUE(Write(client, Numbered(i))) << i;

  // Reading past the kernel's queue frees room in the backlog for a marker,
  // which then arrives after everything that waited.
  const int first = StuckSlot::KernelQueue() + 1;
  for (int i = 1; i <= first; ++i) ASSERT_EQ(stuck.Next(), Numbered(i));
  ASSERT_TRUE(Write(client, "marker"));
  int received = first;
  for (std::string next = stuck.Next(); next != "marker"; next = stuck.Next()) {
    ASSERT_NE(next, "<none>");
    ASSERT_EQ(next, Numbered(++received));
  }
  EXPECT_LT(received, total);
  EXPECT_GE(received, 4096);
}

TEST_F(LanRulesTest, WorkgroupAndComputerFoldersMatchWithoutRegardToCase) {
  // Folders another hand made in lower and mixed case.
  Folder("office", "Pc9");
  SetWorkgroup("OFFICE");
  HANDLE far = ServerOn("PC9", "vask");
  ASSERT_NE(far, INVALID_HANDLE_VALUE);
  struct stat info {};
  EXPECT_EQ(::stat((lan_ + "/office/Pc9/vask").c_str(), &info), 0) << "the existing folder is used";
  EXPECT_NE(::stat((lan_ + "/OFFICE").c_str(), &info), 0) << "no second folder for the workgroup";

  SetWorkgroup("HOME");
  ASSERT_TRUE(Write(Client("pc9", "VASK"), "across"));
  EXPECT_EQ(Read(far), "across");

  // A broadcast of the own workgroup reaches a computer in its lower-case folder.
  SetWorkgroup("Office");
  HANDLE own = Server("vask");
  ASSERT_NE(own, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(Client("*", "vask"), "all"));
  EXPECT_EQ(Read(far), "all");
  EXPECT_EQ(Read(own), "all");
}

TEST_F(LanRulesTest, SlotNamesFoldWindows1250LettersAsWindowsDoes) {
  // "ŁÓDŹ" and "łódź" in Windows-1250 bytes.
  HANDLE upper = Server("\xA3\xD3\x44\x8F");
  ASSERT_NE(upper, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Server("\xB3\xF3\x64\x9F"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_TRUE(Write(Client("PC1", "\xB3\xF3\x64\x9F"), "hears"));
  EXPECT_EQ(Read(upper), "hears");
  // A slot of other letters stays another slot.
  EXPECT_EQ(Client("PC1", "\xB3\xF3\x64\x9A"), INVALID_HANDLE_VALUE);
}

// Every upper-case letter of Windows-1250 against its lower-case partner,
// both taken from the code page through iconv rather than from our table.
TEST_F(LanRulesTest, EveryWindows1250LetterMatchesItsOtherCase) {
  const char* upperUtf8 = "ĄĆĘŁŃÓŚŹŻŠŤŽĽŞŔÁÂĂÄĹÇČÉËĚÍÎĎĐŇÔŐÖŘŮÚŰÜÝŢ";
  const char* lowerUtf8 = "ąćęłńóśźżšťžľşŕáâăäĺçčéëěíîďđňôőöřůúűüýţ";
  auto toCp1250 = [](const char* utf8) {
    iconv_t convert = iconv_open("CP1250", "UTF-8");
    EXPECT_NE(convert, reinterpret_cast<iconv_t>(-1));
    std::string in(utf8);
    std::string out(in.size(), '\0');
    char* from = in.data();
    char* to = out.data();
    size_t left = in.size(), room = out.size();
    EXPECT_NE(iconv(convert, &from, &left, &to, &room), static_cast<size_t>(-1));
    iconv_close(convert);
    out.resize(out.size() - room);
    return out;
  };
  const std::string upper = toCp1250(upperUtf8);
  const std::string lower = toCp1250(lowerUtf8);
  ASSERT_EQ(upper.size(), lower.size());
  ASSERT_EQ(upper.size(), 40u);  // every pair the code page has
  for (size_t i = 0; i < upper.size(); ++i) {
    EXPECT_EQ(lan_names::FoldByte(upper[i]), lower[i]) << "letter " << i;
    EXPECT_EQ(lan_names::FoldByte(lower[i]), lower[i]) << "letter " << i;
  }
  // Signs and letters without a partner stay as they are.
  for (char c : toCp1250("×÷ß§0@[")) EXPECT_EQ(lan_names::FoldByte(c), c);
}

// The computer's name is read from the environment at every call, however
// the environment changes around it: the variable set, changed, set back to
// an earlier value, removed, and others added and removed before and after it.
TEST_F(LanRulesTest, TheComputersNameFollowsEveryChangeOfTheEnvironment) {
  const char* const names[] = {"COMPUTERNAME", "VASK_TEST_FILLER_A", "VASK_TEST_FILLER_B"};
  const char* const values[] = {"alpha", "Bravo", "CHARLIE-LONGER-THAN-15", "alpha"};
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  std::string hostName(host);
  hostName = hostName.substr(0, hostName.find('.'));
  unsigned seed = 7;
  auto next = [&seed](unsigned bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % bound;
  };
  for (int step = 0; step < 400; ++step) {
    const char* name = names[next(3)];
    if (next(4) == 0) {
      ::unsetenv(name);
    } else {
      ::setenv(name, values[next(4)], 1);
    }
    const char* value = std::getenv("COMPUTERNAME");
    std::string expected = value && *value ? value : hostName;
    expected = expected.substr(0, MAX_COMPUTERNAME_LENGTH);
    for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (expected.empty()) expected = "LOCALHOST";
    char got[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof got;
    ASSERT_TRUE(GetComputerNameA(got, &size));
    ASSERT_EQ(std::string(got), expected) << "step " << step;
  }
  ::unsetenv("VASK_TEST_FILLER_A");
  ::unsetenv("VASK_TEST_FILLER_B");
}

TEST_F(LanRulesTest, SwitchedOffRemoteMailslotsRefuseRemoteOpensAndWrites) {
  HANDLE own = Server("vask");
  HANDLE other = ServerOn("PC2", "vask");
  ASSERT_NE(own, INVALID_HANDLE_VALUE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  HANDLE openedBefore = Client("PC2", "vask");
  ASSERT_NE(openedBefore, INVALID_HANDLE_VALUE);

  for (const char* off : {"off", "OFF", "0"}) {
    SetRemoteMailslots(off);
    EXPECT_EQ(Client("PC2", "vask"), INVALID_HANDLE_VALUE) << off;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REMOTE_MAILSLOTS_DEPRECATED)) << off;
    EXPECT_EQ(Client("*", "vask"), INVALID_HANDLE_VALUE) << off;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REMOTE_MAILSLOTS_DEPRECATED)) << off;
    EXPECT_EQ(WriteError(openedBefore, "refused"),
              static_cast<DWORD>(ERROR_REMOTE_MAILSLOTS_DEPRECATED))
        << off;
    // The own computer's slots stay reachable.
    EXPECT_EQ(WriteError(Client(".", "vask"), "local"), 0u) << off;
    EXPECT_EQ(WriteError(Client("PC1", "vask"), "by name"), 0u) << off;
  }
  EXPECT_EQ(Count(other), 0u);
  EXPECT_EQ(Count(own), 6u);

  SetRemoteMailslots("on");
  EXPECT_EQ(WriteError(openedBefore, "again"), 0u);
  EXPECT_EQ(Read(other), "again");
}

}  // namespace
}  // namespace vask::testing
