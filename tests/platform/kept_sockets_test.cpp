// A client writes on a socket it keeps per server: the kept socket leads to
// the server it was connected to, a server that has gone or was bound anew
// is found by the write, and more servers than the process keeps sockets
// for all get their datagrams. A broadcast keeps its listing of the
// workgroup until a folder in it changes.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "lan_fixture.h"
#include "tests/support/stuck_slot.h"

namespace vask::testing {
namespace {

using test::StuckSlot;

class KeptSocketsTest : public LanTest {
 protected:
  std::string SlotPath(const char* computer) { return lan_ + "/WORKGROUP/" + computer + "/vask"; }
  // Writes one datagram on a fresh client; the GetLastError code of the
  // open or the write that failed, 0 when both went.
  DWORD Send(const char* computer, const std::string& text) {
    SetLastError(0);
    HANDLE client = Client(computer, "vask");
    if (client == INVALID_HANDLE_VALUE) return GetLastError();
    return Write(client, text) ? 0 : GetLastError();
  }
};

TEST_F(KeptSocketsTest, AServerBoundAnewAtTheSamePathGetsTheNextWrites) {
  auto first = std::make_unique<StuckSlot>(lan_, "WORKGROUP", "PC2");
  ASSERT_TRUE(first->ok());
  HANDLE early = Client("PC2", "vask");
  ASSERT_NE(early, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(early, "one"));
  EXPECT_EQ(first->Next(), "one");

  first.reset();
  ::unlink(SlotPath("PC2").c_str());
  StuckSlot second(lan_, "WORKGROUP", "PC2");
  ASSERT_TRUE(second.ok());
  // Both a handle opened before and one opened after reach the new server.
  ASSERT_TRUE(Write(early, "two"));
  EXPECT_EQ(Send("PC2", "three"), 0u);
  EXPECT_EQ(second.Next(), "two");
  EXPECT_EQ(second.Next(), "three");
}

TEST_F(KeptSocketsTest, AServerThatHasGoneFailsTheOpenOrTheWriteAsAMissingSlot) {
  auto gone = std::make_unique<StuckSlot>(lan_, "WORKGROUP", "PC2");
  ASSERT_TRUE(gone->ok());
  ASSERT_EQ(Send("PC2", "hello"), 0u);
  EXPECT_EQ(gone->Next(), "hello");
  gone.reset();  // its socket file stays, as a killed process leaves it
  EXPECT_EQ(Send("PC2", "anyone?"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ::unlink(SlotPath("PC2").c_str());
  EXPECT_EQ(Send("PC2", "anyone?"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The LAN directory replaced by a link to a folder someone else prepared:
// a kept socket still leads to the server it was connected to, and nothing
// new is looked up through the link.
TEST_F(KeptSocketsTest, ALanDirectorySwappedUnderAKeptSocketLeadsNowhereElse) {
  StuckSlot real(lan_, "WORKGROUP", "PC2");
  ASSERT_TRUE(real.ok());
  ASSERT_EQ(Send("PC2", "first"), 0u);
  EXPECT_EQ(real.Next(), "first");

  ASSERT_EQ(::rename(lan_.c_str(), (root_ + "/moved").c_str()), 0);
  const std::string planted = root_ + "/planted";
  ASSERT_EQ(::mkdir(planted.c_str(), 0700), 0);
  StuckSlot decoyPc2(planted, "WORKGROUP", "PC2");
  StuckSlot decoyPc3(planted, "WORKGROUP", "PC3");
  ASSERT_TRUE(decoyPc2.ok() && decoyPc3.ok());
  ASSERT_EQ(::symlink(planted.c_str(), lan_.c_str()), 0);

  EXPECT_EQ(Send("PC2", "second"), 0u);
  EXPECT_EQ(real.Next(), "second");
  EXPECT_EQ(decoyPc2.Next(0), "<none>");
  EXPECT_EQ(Send("PC3", "third"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(decoyPc3.Next(0), "<none>");
}

// A broadcast lists the workgroup again only when its folders changed: a
// computer, a workgroup folder in another case, and a slot that appeared
// since the last broadcast all hear the next one; a server that went does not.
TEST_F(KeptSocketsTest, ABroadcastReachesWhatAppearedSinceTheLastOne) {
  HANDLE own = Server("vask");
  ASSERT_NE(own, INVALID_HANDLE_VALUE);
  auto pc2 = std::make_unique<StuckSlot>(lan_, "WORKGROUP", "PC2");
  ASSERT_TRUE(pc2->ok());
  ASSERT_EQ(::mkdir((lan_ + "/WORKGROUP/PC3").c_str(), 0700), 0);  // no slot yet
  HANDLE everyone = Client("*", "vask");
  ASSERT_NE(everyone, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(everyone, "one"));
  EXPECT_EQ(Read(own), "one");
  EXPECT_EQ(pc2->Next(), "one");

  // Old enough for the listing to be kept (file times may advance only once
  // a tick); the test holds either way.
  ::usleep(100'000);
  ASSERT_TRUE(Write(everyone, "two"));
  EXPECT_EQ(pc2->Next(), "two");
  StuckSlot pc3(lan_, "WORKGROUP", "PC3");
  StuckSlot pc4(lan_, "WORKGROUP", "PC4");
  StuckSlot pc5(lan_, "workgroup", "PC5");
  ASSERT_TRUE(pc3.ok() && pc4.ok() && pc5.ok());
  pc2.reset();
  ASSERT_TRUE(Write(everyone, "three"));
  EXPECT_EQ(pc3.Next(), "three");
  EXPECT_EQ(pc4.Next(), "three");
  EXPECT_EQ(pc5.Next(), "three");
  EXPECT_EQ(Read(own), "two");
  EXPECT_EQ(Read(own), "three");
}

// An open works a name out once per thread while the environment stays the
// same: the same name opened after the LAN directory, the workgroup, the
// remote switch or the own computer's name changed goes where the
// environment now says.
TEST_F(KeptSocketsTest, TheSameNameOpenedAgainGoesWhereTheEnvironmentNowSays) {
  StuckSlot first(lan_, "WORKGROUP", "PC2");
  ASSERT_TRUE(first.ok());
  ASSERT_EQ(Send("PC2", "one"), 0u);
  EXPECT_EQ(first.Next(), "one");

  const std::string otherLan = root_ + "/other";
  StuckSlot second(otherLan, "WORKGROUP", "PC2");
  StuckSlot third(otherLan, "GROUP2", "PC2");
  ASSERT_TRUE(second.ok() && third.ok());
  SetLanDirectory(otherLan);
  ASSERT_EQ(Send("PC2", "two"), 0u);
  EXPECT_EQ(second.Next(), "two");
  SetWorkgroup("GROUP2");  // unset until now
  ASSERT_EQ(Send("PC2", "three"), 0u);
  EXPECT_EQ(third.Next(), "three");

  SetRemoteMailslots("off");
  EXPECT_EQ(Send("PC2", "four"), static_cast<DWORD>(ERROR_REMOTE_MAILSLOTS_DEPRECATED));
  SetComputer("pc2");  // now the own computer's slot, which the switch leaves open
  EXPECT_EQ(Send("PC2", "five"), 0u);
  EXPECT_EQ(third.Next(), "five");
  SetComputer("PC1");
  EXPECT_EQ(Send("PC2", "six"), static_cast<DWORD>(ERROR_REMOTE_MAILSLOTS_DEPRECATED));

  for (StuckSlot* slot : {&first, &second, &third}) EXPECT_EQ(slot->Next(0), "<none>");
}

TEST_F(KeptSocketsTest, MoreServersThanKeptSocketsAllGetTheirDatagrams) {
  // Beyond the sockets the process keeps (at most 1024, a quarter of the
  // descriptor limit when that is less), within the limit itself.
  rlimit files{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
  const int count = files.rlim_cur >= 4096 ? 1100 : 400;
  std::vector<std::unique_ptr<StuckSlot>> servers;
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "PC%04d", i);
    names.push_back(name);
    servers.push_back(std::make_unique<StuckSlot>(lan_, "WORKGROUP", name));
    ASSERT_TRUE(servers.back()->ok());
  }
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < count; ++i) {
      HANDLE client = Client(names[i], "vask");
      ASSERT_NE(client, INVALID_HANDLE_VALUE) << names[i];
      ASSERT_TRUE(Write(client, names[i] + "/" + std::to_string(round)));
      ASSERT_TRUE(CloseHandle(client));
      Forget(client);
    }
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(servers[i]->Next(), names[i] + "/" + std::to_string(round));
    }
  }
}

}  // namespace
}  // namespace vask::testing
