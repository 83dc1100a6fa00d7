// What fits in one datagram between computers: the room a body has, long
// texts in parts, and fields cut to share the room.
#include "transport/datagram_room.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>

#include "transport/datagram.h"

namespace vask {
namespace {

std::string Join(const std::vector<std::string>& parts) {
  return std::accumulate(parts.begin(), parts.end(), std::string());
}

// The body room, checked against the datagram the codec builds with the
// widest sequence number and sender name.
TEST(DatagramRoom, ABodyOfTheRoomMakesADatagramOfExactlyTheLimit) {
  const std::string widestSender(kMaxComputerName, 'S');
  for (const std::string target : {"PC2", "*", "^", "FIFTEEN-CHARS-X", "A-NAME-OF-TWENTY-CH"}) {
    for (const std::string command : {"MESSAGE", "STATUS", "SEARCHREPLY"}) {
      const size_t room = BodyRoom(target, command);
      ASSERT_GT(room, 300u) << target << " " << command;
      const std::string body(room, 'b');
      EXPECT_LE(BuildDatagram(INT32_MIN, widestSender, target, command, body).size(), kMaxRemoteDatagram);
      // Any computer's name fits in place of a short one (a fan-out writes
      // each contact's id in place of "*" or "^").
      const std::string widest = target.size() < kMaxComputerName ? std::string(kMaxComputerName, 'T') : target;
      EXPECT_EQ(BuildDatagram(INT32_MIN, widestSender, widest, command, body).size(), kMaxRemoteDatagram)
          << target << " " << command;
    }
  }
  EXPECT_EQ(BodyRoom(std::string(500, 'x'), "MESSAGE"), 0u);
}

TEST(DatagramRoom, ALongTextSplitsAfterABlankNearTheEndOfEachPart) {
  std::string text;
  for (int word = 0; text.size() < 1000; ++word) text += "słowo" + std::to_string(word) + ' ';
  const std::vector<std::string> parts = SplitText(text, 350);
  ASSERT_GE(parts.size(), 3u);
  EXPECT_EQ(Join(parts), text);
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_LE(parts[i].size(), 350u) << i;
    if (i + 1 < parts.size()) {
      EXPECT_EQ(parts[i].back(), ' ') << i;
      EXPECT_GT(parts[i].size(), 350u * 3 / 4) << i;
    }
  }
}

TEST(DatagramRoom, ATextWithoutBlanksIsCutAtTheRoomAndAShortOneStaysWhole) {
  const std::string solid(800, 'x');
  const std::vector<std::string> parts = SplitText(solid, 350);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].size(), 350u);
  EXPECT_EQ(parts[1].size(), 350u);
  EXPECT_EQ(parts[2].size(), 100u);

  // A blank early in the part is too far from its end to split at.
  const std::string early = "ab " + std::string(500, 'y');
  EXPECT_EQ(SplitText(early, 350)[0].size(), 350u);

  EXPECT_EQ(SplitText(std::string(350, 'z'), 350), std::vector<std::string>{std::string(350, 'z')});
  EXPECT_EQ(SplitText("", 350), std::vector<std::string>{""});
  // A line break counts as a blank: "\r\n" stays together.
  const std::vector<std::string> lines = SplitText(std::string(340, 'a') + "\r\n" + std::string(40, 'b'), 350);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].back(), '\n');
}

TEST(DatagramRoom, CuttingShortensTheLongestFieldsAndKeepsTheShortOnesWhole) {
  std::vector<std::string> fields = {"Jan", std::string(300, 'a'), "Kowalski", std::string(200, 'b'), ""};
  CutToFit(fields, 300);
  EXPECT_EQ(fields[0], "Jan");
  EXPECT_EQ(fields[2], "Kowalski");
  EXPECT_EQ(fields[4], "");
  EXPECT_EQ(fields[0].size() + fields[1].size() + fields[2].size() + fields[3].size(), 300u);
  EXPECT_LE(fields[1].size() > fields[3].size() ? fields[1].size() - fields[3].size()
                                                 : fields[3].size() - fields[1].size(),
            1u);
  EXPECT_EQ(fields[1], std::string(fields[1].size(), 'a'));  // cut from the end
  EXPECT_EQ(fields[3], std::string(fields[3].size(), 'b'));

  std::vector<std::string> fits = {"abc", "def"};
  CutToFit(fits, 6);
  EXPECT_EQ(fits, (std::vector<std::string>{"abc", "def"}));
  CutToFit(fits, 0);
  EXPECT_EQ(fits, (std::vector<std::string>{"", ""}));
}

}  // namespace
}  // namespace vask
