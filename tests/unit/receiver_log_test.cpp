// The note of where datagrams went, which decides whether a datagram may be
// written again without an older copy showing it twice.
#include "transport/receiver_log.h"

#include <gtest/gtest.h>

#include <string>

namespace vask::test {
namespace {

constexpr SendMark Mark(int32_t sequence) { return SendMark{1, sequence}; }

void Written(ReceiverLog& log, const std::string& target, int32_t sequence) {
  log.Begin(target, Mark(sequence));
  log.End(target);
}

TEST(ReceiverLog, OnlyALaterDatagramToTheSameComputerOrToAllMakesOneStale) {
  ReceiverLog log;
  Written(log, "B", 1);
  EXPECT_TRUE(log.IsLast("B", Mark(1)));
  EXPECT_TRUE(log.IsLast("b", Mark(1)));   // the same computer
  EXPECT_FALSE(log.IsLast("C", Mark(1)));  // never written to

  Written(log, "C", 2);  // to another computer: B's last is still 1
  EXPECT_TRUE(log.IsLast("B", Mark(1)));
  EXPECT_TRUE(log.IsLast("C", Mark(2)));

  Written(log, "b", 3);
  EXPECT_FALSE(log.IsLast("B", Mark(1)));
  EXPECT_TRUE(log.IsLast("B", Mark(3)));
  EXPECT_TRUE(log.IsLast("C", Mark(2)));

  // Everybody got the broadcast, whoever was written to before.
  Written(log, "*", 4);
  EXPECT_FALSE(log.IsLast("B", Mark(3)));
  EXPECT_FALSE(log.IsLast("C", Mark(2)));
  EXPECT_FALSE(log.IsLast("*", Mark(4)));  // a broadcast is never written again
  Written(log, "B", 5);
  EXPECT_TRUE(log.IsLast("B", Mark(5)));

  // The same number of an earlier start is another datagram.
  EXPECT_FALSE(log.IsLast("B", SendMark{2, 5}));
  EXPECT_FALSE(log.IsLast("B", SendMark{}));
}

// A write under way may still overtake a repeat on its way to the same
// computer: nothing to it is last until that write is over; a broadcast
// under way holds back every repeat. Writes that were under way together
// may have arrived in either order, so none of them is last afterwards.
TEST(ReceiverLog, NothingIsLastWhileAWriteThatMayReachItIsUnderWayOrWas) {
  ReceiverLog log;
  Written(log, "B", 1);
  log.Begin("B", Mark(2));
  log.Begin("B", Mark(3));
  EXPECT_FALSE(log.IsLast("B", Mark(3)));
  log.End("B");
  EXPECT_FALSE(log.IsLast("B", Mark(3)));
  log.End("B");
  EXPECT_FALSE(log.IsLast("B", Mark(3)));  // 2 may have come after it
  EXPECT_FALSE(log.IsLast("B", Mark(2)));
  Written(log, "B", 4);  // alone again
  EXPECT_TRUE(log.IsLast("B", Mark(4)));
  log.End("B");  // one End too many changes nothing
  EXPECT_TRUE(log.IsLast("B", Mark(4)));

  // A write beside a broadcast: the broadcast may reach the computer after
  // it, whichever ends first.
  log.Begin("*", Mark(5));
  Written(log, "C", 6);
  EXPECT_FALSE(log.IsLast("C", Mark(6)));
  log.End("*");
  EXPECT_FALSE(log.IsLast("C", Mark(6)));
  log.Begin("*", Mark(7));
  log.Begin("C", Mark(8));
  log.End("*");
  log.End("C");
  EXPECT_FALSE(log.IsLast("C", Mark(8)));
  Written(log, "C", 9);
  EXPECT_TRUE(log.IsLast("C", Mark(9)));
}

TEST(ReceiverLog, MemoryStaysBoundedAndTheLatelyWrittenAreKept) {
  ReceiverLog log;
  int32_t sequence = 0;
  Written(log, "B", ++sequence);
  int32_t lastToB = sequence;
  for (int i = 0; i < 3000; ++i) {
    Written(log, "F" + std::to_string(i), ++sequence);
    if (i % 100 == 0) {
      Written(log, "B", ++sequence);
      lastToB = sequence;
    }
  }
  EXPECT_LE(log.Receivers(), ReceiverLog::kReceiversKept);
  EXPECT_TRUE(log.IsLast("B", Mark(lastToB)));
  // Pushed out long ago: not known to be last, so not written again.
  EXPECT_FALSE(log.IsLast("F0", Mark(2)));
  EXPECT_TRUE(log.IsLast("F2999", Mark(sequence)));
}

TEST(ReceiverLog, TheOneWrittenToLongestAgoIsPushedOutFirst) {
  ReceiverLog log;
  int32_t sequence = 0;
  for (size_t i = 0; i < ReceiverLog::kReceiversKept; ++i) {
    Written(log, "F" + std::to_string(i), ++sequence);
  }
  // F0 is written to again (under another case), so F1 is now the oldest.
  Written(log, "f0", ++sequence);
  const int32_t lastToF0 = sequence;
  Written(log, "NEW", ++sequence);
  EXPECT_EQ(log.Receivers(), ReceiverLog::kReceiversKept);
  EXPECT_TRUE(log.IsLast("F0", Mark(lastToF0)));
  EXPECT_FALSE(log.IsLast("F1", Mark(2)));
  EXPECT_TRUE(log.IsLast("F2", Mark(3)));
  Written(log, "NEWER", ++sequence);
  EXPECT_FALSE(log.IsLast("F2", Mark(3)));
  EXPECT_TRUE(log.IsLast("F3", Mark(4)));
  EXPECT_TRUE(log.IsLast("NEWER", Mark(sequence)));
}

}  // namespace
}  // namespace vask::test
