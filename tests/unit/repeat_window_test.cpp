// Telling repeats from new datagrams: the window of messages shown, the
// bounded table of senders' last numbers, and what an acknowledgement does
// to the table of unacknowledged messages.
#include <gtest/gtest.h>

#include <string>

#include "protocol/repeat_window.h"
#include "transport/lan_engine.h"

namespace vask::test {
namespace {

constexpr int64_t kNow = 1700000000;

TEST(RepeatWindow, SameMessageAfterOthersIsARepeatWhileADifferentOneIsNot) {
  RepeatWindow window;
  EXPECT_FALSE(window.Repeats("B", "7", "6553F100", kNow));
  EXPECT_FALSE(window.Repeats("B", "8", "6553F100", kNow));
  EXPECT_FALSE(window.Repeats("C", "7", "6553F100", kNow));  // another sender
  // The first again, after others from the same sender: the last-number
  // rule alone would show it twice.
  EXPECT_TRUE(window.Repeats("B", "7", "6553F100", kNow + 4));
  EXPECT_TRUE(window.Repeats("B", "7", "6553F100", kNow + 8));
  // A restarted sender counting from the same number sends another time.
  EXPECT_FALSE(window.Repeats("B", "7", "6553F200", kNow + 9));
  // Texts are compared as sent: "07" is another message than "7".
  EXPECT_FALSE(window.Repeats("B", "07", "6553F100", kNow + 9));
}

TEST(RepeatWindow, ForgetsAfterItsMinutesAndBeyondItsBound) {
  RepeatWindow window;
  EXPECT_FALSE(window.Repeats("B", "1", "T", kNow));
  EXPECT_TRUE(window.Repeats("B", "1", "T", kNow + RepeatWindow::kKeepSeconds));
  EXPECT_FALSE(window.Repeats("B", "1", "T", kNow + RepeatWindow::kKeepSeconds + 1));

  // Only the newest kPerSender messages of a sender are kept.
  RepeatWindow bounded;
  for (size_t i = 0; i <= RepeatWindow::kPerSender; ++i) {
    EXPECT_FALSE(bounded.Repeats("B", std::to_string(i), "T", kNow));
  }
  EXPECT_FALSE(bounded.Repeats("B", "0", "T", kNow));  // pushed out by the newest
  EXPECT_TRUE(bounded.Repeats("B", std::to_string(RepeatWindow::kPerSender), "T", kNow));
}

TEST(RepeatWindow, FloodOfForgedSendersStaysBoundedAndKeepsTheOnesHeardLately) {
  RepeatWindow window;
  EXPECT_FALSE(window.Repeats("REAL", "1", "T", kNow));
  for (int i = 0; i < 10000; ++i) {
    window.Repeats("F" + std::to_string(i), "1", "T", kNow);
    // The real sender keeps talking while the flood goes on.
    if (i % 100 == 0) {
      EXPECT_TRUE(window.Repeats("REAL", "1", "T", kNow)) << i;
    }
  }
  EXPECT_LE(window.Senders(), RepeatWindow::kSenders);
}

TEST(LastNumbers, RepeatOfTheLastIsDroppedAndTheTableStaysBounded) {
  LanEngine engine;
  EXPECT_TRUE(engine.RepeatsLastNumber("NEW", 0));  // a new sender counts as last sent 0
  EXPECT_FALSE(engine.RepeatsLastNumber("B", 5));
  EXPECT_TRUE(engine.RepeatsLastNumber("B", 5));
  EXPECT_FALSE(engine.RepeatsLastNumber("B", 6));
  EXPECT_FALSE(engine.RepeatsLastNumber("B", 5));  // older, not the last: taken

  for (int i = 0; i < 5000; ++i) {
    engine.RepeatsLastNumber("F" + std::to_string(i), 1);
    if (i % 100 == 0) {
      EXPECT_FALSE(engine.RepeatsLastNumber("B", 100 + i)) << i;
    }
  }
  EXPECT_LE(engine.KnownSenders(), LanEngine::kSendersKept);
  // B, heard from all along, was kept: its last number still counts.
  EXPECT_TRUE(engine.RepeatsLastNumber("B", 100 + 4900));
}

TEST(Acknowledgements, RepeatedAnswersChangeNothingAndLateOnesAreToldOnce) {
  LanEngine engine;
  const int32_t timely = engine.RememberPending(kNow, "raz", "B");
  const int32_t lost = engine.RememberPending(kNow, "dwa", "B");
  EXPECT_EQ(engine.TakeAcknowledged(timely), AckOutcome::kSettled);
  EXPECT_EQ(engine.TakeAcknowledged(timely), AckOutcome::kRepeated);

  ASSERT_EQ(engine.ExpirePending(kNow + 11, 10).size(), 1u);
  EXPECT_EQ(engine.TakeAcknowledged(lost), AckOutcome::kLate);
  EXPECT_EQ(engine.TakeAcknowledged(lost), AckOutcome::kRepeated);
  // A number never sent from here is late every time: nothing is learnt.
  EXPECT_EQ(engine.TakeAcknowledged(999), AckOutcome::kLate);
  EXPECT_EQ(engine.TakeAcknowledged(999), AckOutcome::kLate);

  // The memory of settled numbers is bounded; the oldest go first.
  for (size_t i = 0; i < LanEngine::kSettledKept; ++i) {
    engine.TakeAcknowledged(engine.RememberPending(kNow, "x", "B"));
  }
  EXPECT_EQ(engine.TakeAcknowledged(timely), AckOutcome::kLate);
}

}  // namespace
}  // namespace vask::test
