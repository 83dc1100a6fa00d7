// Telling repeats from new datagrams: the window of messages shown, the
// bounded table of senders' last numbers, and what an acknowledgement does
// to the table of unacknowledged messages.
#include "protocol/repeat_window.h"

#include <gtest/gtest.h>

#include <string>

#include "transport/lan_engine.h"
#include "transport/pending_store.h"

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
  EXPECT_EQ(engine.TakeAcknowledged(timely, "B"), AckOutcome::kSettled);
  EXPECT_EQ(engine.TakeAcknowledged(timely, "B"), AckOutcome::kRepeated);

  ASSERT_EQ(engine.ExpirePending(kNow + 11, 10).size(), 1u);
  EXPECT_EQ(engine.TakeAcknowledged(lost, "B"), AckOutcome::kLate);
  EXPECT_EQ(engine.TakeAcknowledged(lost, "B"), AckOutcome::kRepeated);
  // A number never sent from here is late every time: nothing is learnt.
  EXPECT_EQ(engine.TakeAcknowledged(999, "B"), AckOutcome::kLate);
  EXPECT_EQ(engine.TakeAcknowledged(999, "B"), AckOutcome::kLate);

  // The memory of settled numbers is bounded; the oldest go first.
  for (size_t i = 0; i < LanEngine::kSettledKept; ++i) {
    engine.TakeAcknowledged(engine.RememberPending(kNow, "x", "B"), "B");
  }
  EXPECT_EQ(engine.TakeAcknowledged(timely, "B"), AckOutcome::kLate);
}

// A copy that lost its numbers, or anybody else, answering under a number
// we gave a message to B settles nothing of it: only B's answer does (its
// name in any case), and after that another's answer is no repeat of it.
TEST(Acknowledgements, OnlyTheAddresseesAnswerSettlesAMessage) {
  LanEngine engine;
  const int32_t toB = engine.RememberPending(kNow, "do B", "B");
  EXPECT_EQ(engine.TakeAcknowledged(toB, "C"), AckOutcome::kLate);
  EXPECT_EQ(engine.TakeAcknowledged(toB, "b"), AckOutcome::kSettled);
  EXPECT_EQ(engine.TakeAcknowledged(toB, "C"), AckOutcome::kLate);
  EXPECT_EQ(engine.TakeAcknowledged(toB, "B"), AckOutcome::kRepeated);

  const int32_t expired = engine.RememberPending(kNow, "do D", "D");
  const auto lost = engine.ExpirePending(kNow + 11, 10);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].text, "do D");  // C's answer did not settle it either
  EXPECT_EQ(engine.TakeAcknowledged(expired, "C"), AckOutcome::kLate);
  EXPECT_EQ(engine.TakeAcknowledged(expired, "D"), AckOutcome::kLate);
  EXPECT_EQ(engine.TakeAcknowledged(expired, "D"), AckOutcome::kRepeated);
}

// The resend schedule: the kept datagram is due again a few seconds apart,
// at most the given number of times, and only while it waits for its
// answer. (Whether it may go is the receiver log's; see receiver_log_test.)
TEST(SendingAgain, CopiesComeSecondsApartAtMostTwiceAndOnlyWhileUnanswered) {
  LanEngine engine;
  const int32_t quiet = engine.RememberPending(kNow, "raz", "B");
  engine.KeepDatagram(quiet, MessageCopy{"B", "bytes of raz", SendMark{1, 7}});
  EXPECT_TRUE(engine.TakeCopiesDue(kNow + 2, 3, 2).empty());
  auto first = engine.TakeCopiesDue(kNow + 3, 3, 2);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].target, "B");
  EXPECT_EQ(first[0].datagram, "bytes of raz");
  EXPECT_EQ(first[0].written, (SendMark{1, 7}));
  EXPECT_TRUE(engine.TakeCopiesDue(kNow + 5, 3, 2).empty());
  EXPECT_EQ(engine.TakeCopiesDue(kNow + 6, 3, 2).size(), 1u);
  EXPECT_TRUE(engine.TakeCopiesDue(kNow + 9, 3, 2).empty());  // twice at most

  // Answered before it was kept, or never kept: nothing to send again.
  const int32_t answered = engine.RememberPending(kNow, "trzy", "D");
  ASSERT_EQ(engine.TakeAcknowledged(answered, "D"), AckOutcome::kSettled);
  engine.KeepDatagram(answered, MessageCopy{"D", "bytes of trzy", SendMark{1, 8}});
  engine.RememberPending(kNow, "cztery", "E");
  EXPECT_TRUE(engine.TakeCopiesDue(kNow + 3, 3, 2).empty());
}

// The stored table reads back whole, whatever bytes the texts hold, and a
// damaged line costs only itself.
TEST(PendingStore, TableReadsBackWholeAndDamagedLinesAreSkipped) {
  std::map<int32_t, PendingMessage> table;
  table[7] = PendingMessage{kNow, "zwykly tekst", "B"};
  table[8] = PendingMessage{kNow + 1, "100% \n\r\t\x7F\x01 i \xB3\xEA", "PC-2"};
  table[9] = PendingMessage{0, "", "C"};
  const std::string stored = EncodePending(table);
  EXPECT_EQ(stored.find('\0'), std::string::npos);
  const auto back = DecodePending(stored);
  ASSERT_EQ(back.size(), 3u);
  for (const auto& [number, message] : table) {
    SCOPED_TRACE(number);
    ASSERT_EQ(back.count(number), 1u);
    EXPECT_EQ(back.at(number).sendTime, message.sendTime);
    EXPECT_EQ(back.at(number).text, message.text);
    EXPECT_EQ(back.at(number).target, message.target);
  }
  const auto damaged = DecodePending("x 1 B a\n5 1 B%4 a\n6 zz B a\n7 10 B ok\n-3 1 B a\n8 1 B\n");
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_EQ(damaged.at(7).text, "ok");
  EXPECT_EQ(damaged.at(7).sendTime, 16);
  EXPECT_TRUE(DecodePending("").empty());
}

}  // namespace
}  // namespace vask::test
