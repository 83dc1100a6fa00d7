// The network neighbourhood of the emulated LAN as WNetEnumResourceA lists it.
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>

#include "lan_fixture.h"

namespace vask::testing {
namespace {

struct Listed {
  DWORD displayType;
  DWORD usage;
  std::string remote;
  std::string comment;  // "<null>" when there is none
  std::string provider;
  NETRESOURCEA record;  // as returned; its strings point into a dead buffer
};

class NetEnumTest : public LanTest {
 protected:
  void SetUp() override {
    LanTest::SetUp();
    ASSERT_NE(Server("vask"), INVALID_HANDLE_VALUE);  // PC1
    ASSERT_NE(ServerOn("PC2", "vask"), INVALID_HANDLE_VALUE);
    std::ofstream(lan_ + "/WORKGROUP/PC2/comment") << "Biuro na dole\n";
    // PC3 ran once and is gone: its folder holds only a dead socket.
    HANDLE gone = ServerOn("PC3", "vask");
    ASSERT_NE(gone, INVALID_HANDLE_VALUE);
    CloseHandle(gone);
    Forget(gone);
    SetWorkgroup("OFFICE");
    ASSERT_NE(ServerOn("PC7", "messngr"), INVALID_HANDLE_VALUE);
    ::unsetenv("VASK_WORKGROUP");
  }

  // Every entry below container, read in batches through a buffer of the
  // given size.
  std::vector<Listed> List(DWORD scope, NETRESOURCEA* container, DWORD bufferSize = 16384) {
    HANDLE handle = nullptr;
    EXPECT_EQ(WNetOpenEnumA(scope, RESOURCETYPE_ANY, 0, container, &handle),
              static_cast<DWORD>(NO_ERROR));
    std::vector<Listed> all;
    std::vector<char> buffer(bufferSize);
    for (int batch = 0; batch < 100; ++batch) {
      DWORD count = 0xFFFFFFFF;
      DWORD size = bufferSize;
      DWORD result = WNetEnumResourceA(handle, &count, buffer.data(), &size);
      if (result == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(result, static_cast<DWORD>(NO_ERROR));
      if (result != NO_ERROR) break;
      EXPECT_GT(count, 0u);
      auto* records = reinterpret_cast<NETRESOURCEA*>(buffer.data());
      for (DWORD i = 0; i < count; ++i) {
        const NETRESOURCEA& r = records[i];
        // Every string lies inside the caller's buffer, behind the records.
        for (const char* s : {r.lpRemoteName, r.lpComment, r.lpProvider}) {
          if (!s) continue;
          EXPECT_GE(s, reinterpret_cast<char*>(records + count));
          EXPECT_LT(s + std::strlen(s), buffer.data() + bufferSize);
        }
        all.push_back({r.dwDisplayType, r.dwUsage, r.lpRemoteName ? r.lpRemoteName : "<null>",
                       r.lpComment ? r.lpComment : "<null>", r.lpProvider ? r.lpProvider : "<null>",
                       r});
      }
    }
    EXPECT_EQ(WNetCloseEnum(handle), static_cast<DWORD>(NO_ERROR));
    return all;
  }

  static std::vector<std::string> Names(const std::vector<Listed>& entries) {
    std::vector<std::string> names;
    for (const Listed& e : entries) names.push_back(e.remote);
    return names;
  }
};

TEST_F(NetEnumTest, WalkFromTheRootMeetsNetworkWorkgroupsAndRunningComputers) {
  std::vector<Listed> root = List(RESOURCE_GLOBALNET, nullptr);
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root[0].displayType, RESOURCEDISPLAYTYPE_NETWORK);
  EXPECT_EQ(root[0].usage, RESOURCEUSAGE_CONTAINER);

  NETRESOURCEA network = root[0].record;
  network.lpRemoteName = root[0].remote.data();
  std::vector<Listed> groups = List(RESOURCE_GLOBALNET, &network);
  EXPECT_EQ(Names(groups), (std::vector<std::string>{"OFFICE", "WORKGROUP"}));
  for (const Listed& g : groups) EXPECT_EQ(g.displayType, RESOURCEDISPLAYTYPE_DOMAIN);

  NETRESOURCEA workgroup = groups[1].record;
  workgroup.lpRemoteName = groups[1].remote.data();
  std::vector<Listed> computers = List(RESOURCE_GLOBALNET, &workgroup);
  // PC3 has no live slot, so it is not running.
  ASSERT_EQ(Names(computers), (std::vector<std::string>{"\\\\PC1", "\\\\PC2"}));
  EXPECT_EQ(computers[0].displayType, RESOURCEDISPLAYTYPE_SERVER);
  EXPECT_EQ(computers[0].comment, "<null>");
  EXPECT_EQ(computers[1].comment, "Biuro na dole");
  EXPECT_EQ(computers[1].provider, root[0].provider);

  // A computer holds nothing here.
  NETRESOURCEA computer = computers[0].record;
  computer.lpRemoteName = computers[0].remote.data();
  EXPECT_TRUE(List(RESOURCE_GLOBALNET, &computer).empty());
}

// A workgroup shows when any of its computers runs, wherever that one is in
// its folder, and not when none does.
TEST_F(NetEnumTest, WorkgroupShowsWhenAnyOfItsComputersRuns) {
  SetWorkgroup("HALL");
  HANDLE gone = ServerOn("AAA", "vask");  // listed first, and gone
  ASSERT_NE(gone, INVALID_HANDLE_VALUE);
  CloseHandle(gone);
  Forget(gone);
  ASSERT_NE(ServerOn("ZZZ", "vask"), INVALID_HANDLE_VALUE);
  SetWorkgroup("ATTIC");
  HANDLE attic = ServerOn("PC8", "vask");
  ASSERT_NE(attic, INVALID_HANDLE_VALUE);
  CloseHandle(attic);
  Forget(attic);
  ::unsetenv("VASK_WORKGROUP");

  NETRESOURCEA network{};
  network.dwDisplayType = RESOURCEDISPLAYTYPE_NETWORK;
  network.dwUsage = RESOURCEUSAGE_CONTAINER;
  std::vector<Listed> groups = List(RESOURCE_GLOBALNET, &network);
  EXPECT_EQ(Names(groups), (std::vector<std::string>{"HALL", "OFFICE", "WORKGROUP"}));
  NETRESOURCEA hall = groups[0].record;
  hall.lpRemoteName = groups[0].remote.data();
  EXPECT_EQ(Names(List(RESOURCE_GLOBALNET, &hall)), std::vector<std::string>{"\\\\ZZZ"});
}

TEST_F(NetEnumTest, ContextListsTheOwnWorkgroupsComputers) {
  EXPECT_EQ(Names(List(RESOURCE_CONTEXT, nullptr)),
            (std::vector<std::string>{"\\\\PC1", "\\\\PC2"}));
  SetWorkgroup("office");
  EXPECT_EQ(Names(List(RESOURCE_CONTEXT, nullptr)), (std::vector<std::string>{"\\\\PC7"}));
}

TEST_F(NetEnumTest, SmallBufferTakesFewerEntriesPerCallAndTooSmallAsksForMore) {
  HANDLE handle = nullptr;
  ASSERT_EQ(WNetOpenEnumA(RESOURCE_CONTEXT, RESOURCETYPE_ANY, 0, nullptr, &handle),
            static_cast<DWORD>(NO_ERROR));
  std::vector<char> buffer(4096);
  DWORD count = 0xFFFFFFFF;
  DWORD size = 10;
  EXPECT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size),
            static_cast<DWORD>(ERROR_MORE_DATA));
  DWORD needed = size;
  EXPECT_EQ(needed, sizeof(NETRESOURCEA) + sizeof "\\\\PC1" + sizeof "Vask emulated LAN");

  // Room for exactly one: one per call, then the end.
  size = needed;
  count = 0xFFFFFFFF;
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(count, 1u);
  EXPECT_STREQ(reinterpret_cast<NETRESOURCEA*>(buffer.data())->lpRemoteName, "\\\\PC1");
  size = 4096;
  count = 0xFFFFFFFF;
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(count, 1u);
  EXPECT_STREQ(reinterpret_cast<NETRESOURCEA*>(buffer.data())->lpRemoteName, "\\\\PC2");
  count = 0xFFFFFFFF;
  EXPECT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size),
            static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(WNetCloseEnum(handle), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(WNetCloseEnum(handle), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(NetEnumTest, CountLimitsTheBatch) {
  HANDLE handle = nullptr;
  ASSERT_EQ(WNetOpenEnumA(RESOURCE_CONTEXT, RESOURCETYPE_ANY, 0, nullptr, &handle),
            static_cast<DWORD>(NO_ERROR));
  std::vector<char> buffer(4096);
  DWORD count = 1;
  DWORD size = 4096;
  ASSERT_EQ(WNetEnumResourceA(handle, &count, buffer.data(), &size), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(count, 1u);
  WNetCloseEnum(handle);
}

// Folders another hand made: a workgroup in lower case and one longer than
// a NetBIOS name. Both are listed under their own names and walked.
TEST_F(NetEnumTest, LowerCaseAndLongWorkgroupFoldersAreWalked) {
  const std::string longName = "ABCDEFGHIJKLMNOPQRST";  // 20 characters
  for (const std::string& group : {std::string("dom"), longName}) {
    std::string folder = lan_ + "/" + group;
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((folder + "/PC8").c_str(), 0700), 0);
  }
  // dom's computer is a slot of this library (the workgroup named in upper
  // case finds the lower-case folder); the long one's a bare socket.
  SetWorkgroup("DOM");
  ASSERT_NE(ServerOn("PC8", "vask"), INVALID_HANDLE_VALUE);
  SetWorkgroup(nullptr);
  int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socketPath = lan_ + "/" + longName + "/PC8/vask";
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  std::vector<Listed> root = List(RESOURCE_GLOBALNET, nullptr);
  ASSERT_EQ(root.size(), 1u);
  NETRESOURCEA network = root[0].record;
  network.lpRemoteName = root[0].remote.data();
  std::vector<Listed> groups = List(RESOURCE_GLOBALNET, &network);
  EXPECT_EQ(Names(groups), (std::vector<std::string>{longName, "OFFICE", "WORKGROUP", "dom"}));
  for (Listed& group : groups) {
    NETRESOURCEA container = group.record;
    container.lpRemoteName = group.remote.data();
    HANDLE handle = nullptr;
    ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &container, &handle),
              static_cast<DWORD>(NO_ERROR))
        << group.remote;
    WNetCloseEnum(handle);
    if (group.remote == "dom" || group.remote == longName) {
      EXPECT_EQ(Names(List(RESOURCE_GLOBALNET, &container)), (std::vector<std::string>{"\\\\PC8"}))
          << group.remote;
    }
  }
  // Typed in another case, the workgroup is the same container.
  char typed[] = "DOM";
  NETRESOURCEA byName{};
  byName.dwDisplayType = RESOURCEDISPLAYTYPE_DOMAIN;
  byName.dwUsage = RESOURCEUSAGE_CONTAINER;
  byName.lpRemoteName = typed;
  EXPECT_EQ(Names(List(RESOURCE_GLOBALNET, &byName)), (std::vector<std::string>{"\\\\PC8"}));
  ::close(fd);
}

TEST_F(NetEnumTest, UnknownContainerFailsToOpen) {
  NETRESOURCEA nowhere{};
  nowhere.dwDisplayType = RESOURCEDISPLAYTYPE_DOMAIN;
  nowhere.dwUsage = RESOURCEUSAGE_CONTAINER;
  char name[] = "NOWHERE";
  nowhere.lpRemoteName = name;
  HANDLE handle = nullptr;
  EXPECT_NE(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &nowhere, &handle),
            static_cast<DWORD>(NO_ERROR));
  nowhere.dwUsage = RESOURCEUSAGE_CONNECTABLE;
  EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &nowhere, &handle),
            static_cast<DWORD>(ERROR_NOT_CONTAINER));
}

}  // namespace
}  // namespace vask::testing
