// MailslotHandle over the emulated LAN: its two states and what each
// operation reports in them.
#include "transport/mailslot_handle.h"

#include <string>

#include "platform/lan_fixture.h"

namespace vask {
namespace {

using MailslotHandleTest = testing::LanTest;

TEST_F(MailslotHandleTest, NewHandleIsClosedAndClosingItIsHarmless) {
  MailslotHandle slot;
  EXPECT_FALSE(slot.IsValid());
  EXPECT_FALSE(slot.HasMessages());
  EXPECT_EQ(slot.MessageCount(), 0u);
  EXPECT_EQ(slot.NextSize(), 0u);
  EXPECT_TRUE(slot.Close());
  EXPECT_FALSE(slot.IsValid());
}

TEST_F(MailslotHandleTest, FailedOpensLeaveTheHandleClosed) {
  MailslotHandle first;
  ASSERT_TRUE(first.CreateServer("vask", 100100, 0, nullptr));
  MailslotHandle second;
  EXPECT_FALSE(second.CreateServer("vask", 100100, 0, nullptr));
  EXPECT_FALSE(second.IsValid());
  MailslotHandle client;
  EXPECT_FALSE(client.OpenClient("NOBODY", "vask", nullptr));
  EXPECT_FALSE(client.IsValid());
}

TEST_F(MailslotHandleTest, ServerSeesWhatAClientWrites) {
  MailslotHandle server;
  ASSERT_TRUE(server.CreateServer("Vask", 100100, 0, nullptr));
  EXPECT_FALSE(server.HasMessages());
  EXPECT_EQ(server.MessageCount(), 0u);
  EXPECT_EQ(server.NextSize(), MAILSLOT_NO_MESSAGE);

  {
    MailslotHandle client;
    ASSERT_TRUE(client.OpenClient("PC1", "vask", nullptr));
    DWORD written = 0;
    ASSERT_TRUE(client.Write("one", 3, &written));
    EXPECT_EQ(written, 3u);
    ASSERT_TRUE(client.Write("three", 5, &written));
  }  // closed on destruction

  EXPECT_TRUE(server.HasMessages());
  EXPECT_EQ(server.MessageCount(), 2u);
  ASSERT_EQ(server.NextSize(), 3u);
  char buffer[8];
  DWORD read = 0;
  ASSERT_TRUE(server.Read(buffer, server.NextSize(), &read));
  EXPECT_EQ(std::string(buffer, read), "one");
  EXPECT_EQ(server.NextSize(), 5u);
}

TEST_F(MailslotHandleTest, CloseTwiceReportsTheSystemThenTrue) {
  MailslotHandle server;
  ASSERT_TRUE(server.CreateServer("vask", 0, 0, nullptr));
  EXPECT_TRUE(server.Close());
  EXPECT_FALSE(server.IsValid());
  EXPECT_TRUE(server.Close());
  // The slot is free again.
  EXPECT_TRUE(server.CreateServer("vask", 0, 0, nullptr));
}

TEST_F(MailslotHandleTest, StarOpensTheWholeWorkgroup) {
  MailslotHandle own, peer;
  ASSERT_TRUE(own.CreateServer("vask", 0, 0, nullptr));
  HANDLE other = ServerOn("PC2", "vask");
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  MailslotHandle everyone;
  ASSERT_TRUE(everyone.OpenClient("*", "vask", nullptr));
  DWORD written = 0;
  ASSERT_TRUE(everyone.Write("hi", 2, &written));
  EXPECT_EQ(own.MessageCount(), 1u);
  EXPECT_EQ(Count(other), 1u);
}

TEST_F(MailslotHandleTest, PathThatDoesNotFitIn260BytesFailsTheOpen) {
  // "\\.\mailslot\" is 13 characters: 246 more make 259, the most with a NUL.
  MailslotHandle server;
  ASSERT_TRUE(server.CreateServer("vask", 0, 0, nullptr));  // PC1 is on the LAN
  MailslotHandle tooLong;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(tooLong.CreateServer(std::string(247, 'a').c_str(), 0, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "the system must not be called";
  SetLastError(ERROR_SUCCESS);

  // "\\" + computer + "\mailslot\" + name: 2 + 3 + 10 + 244 = 259.
  MailslotHandle client;
  EXPECT_FALSE(client.OpenClient("PC1", std::string(244, 'n').c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));  // reached the system
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(client.OpenClient("PC1", std::string(245, 'n').c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(client.IsValid());
}

}  // namespace
}  // namespace vask
