// Sending messages: the LAN protocol with its numbers, acknowledgements and
// notices, the WinPopup format, and the choice between them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "chat_fixture.h"
#include "transport/udp_frame.h"

namespace vask::test {
namespace {

class Outgoing : public ChatFixture {
 protected:
  void BeforeStart() override { SetSetting(kSettingWinPopup, 0); }

  // Lets the ten seconds after which an unanswered message counts as lost
  // pass on the plug-in's clock: the worker's next pass finds the entries
  // sent before this call expired. The clock is turned back when the test
  // ends.
  void LetExpiryPass() { clock_.Advance(kExpiryTurn); }
  // Turns the plug-in's clock by `seconds` (back when the test ends).
  void TurnClock(long long seconds) { clock_.Advance(seconds); }

  // The next "MESSAGE" the peer got; fails the test when none came.
  Fields NextMessage(LanPeer& peer) {
    auto fields = peer.WaitFor("MESSAGE");
    EXPECT_TRUE(fields.has_value()) << "no MESSAGE reached " << peer.computer();
    return fields.value_or(Fields{});
  }

 private:
  // A second past the ten.
  static constexpr long long kExpiryTurn = 11;
  struct TurnedClock {
    long long turned = 0;
    void Advance(long long seconds) {
      VaskAdvanceClock(seconds);
      turned += seconds;
    }
    ~TurnedClock() { VaskAdvanceClock(-turned); }
  };
  TurnedClock clock_;
};

bool IsUpperHex(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return std::isdigit(c) || (c >= 'A' && c <= 'F');
  });
}

TEST_F(Outgoing, LongTextGoesWholeAndOnlyItsStartWaitsForTheAck) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  ASSERT_TRUE(b.ok());
  StartEngine();
  std::string text;
  for (int i = 0; i < 10; ++i) text += "abcdefghi" + std::to_string(i);
  ASSERT_EQ(text.size(), 100u);

  EXPECT_EQ(SendMessage(1, "B", text), 8);
  EXPECT_EQ(WaitSendResult(1), 1);
  Fields m = NextMessage(b);
  ASSERT_EQ(m.size(), 7u);
  EXPECT_EQ(m[1], "A");
  EXPECT_EQ(m[2], "B");
  EXPECT_EQ(m[4], "1");  // the first message since load
  EXPECT_EQ(m[5], text);
  EXPECT_TRUE(IsUpperHex(m[6])) << m[6];
  const long long sent = std::stoll(m[6], nullptr, 16);
  EXPECT_LE(std::llabs(sent - static_cast<long long>(std::time(nullptr))), 60);

  // Nobody answers: after more than 10 s the user hears of the first 30
  // characters, and a late answer is reported as a delivery after all.
  LetExpiryPass();
  auto lost = WaitNotice(LostNotice(text.substr(0, 30)));
  ASSERT_TRUE(lost.has_value());
  EXPECT_EQ(lost->Text("from"), "B");
  EXPECT_EQ(lost->Int("net"), NET_LAN);
  EXPECT_EQ(lost->Text("to"), "");
  EXPECT_EQ(lost->Int("flags"), 128);
  EXPECT_EQ(lost->Int("field42"), -2);
  EXPECT_EQ(lost->Int("time"), 0);
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {m[4]}));
  auto late = WaitNotice(LateDeliveryNotice());
  ASSERT_TRUE(late.has_value());
  EXPECT_EQ(late->Text("from"), "B");
}

TEST_F(Outgoing, TimelyAckSettlesTheMessageSilently) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  StartEngine();
  ASSERT_EQ(SendMessage(3, "B", "czesc"), 8);
  Fields m = NextMessage(b);
  ASSERT_EQ(m.size(), 7u);
  // The first answer settles the entry without a word. The same answer
  // again (the network's copy, or the answer to a copy sent again) is no
  // delivery after all: nothing had expired.
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {m[4]}));
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {m[4]}));
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_TRUE(Notices().empty());
  // The entry is gone: the ten seconds pass without a likely-lost notice.
  LetExpiryPass();
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_TRUE(Notices().empty());
}

// The stored table holds a message from its sending on, and lets it go by
// the worker's next pass after its answer: a host killed later does not
// report it.
TEST_F(Outgoing, AnswerLeavesTheStoredTableByTheNextPass) {
  LanPeer b("B");
  StartEngine();
  ASSERT_EQ(SendMessage(3, "B", "zapisana"), 8);
  Fields m = NextMessage(b);
  ASSERT_EQ(m.size(), 7u);
  const std::string line = m[4] + " ";
  const std::string stored = GetSettingText(kSettingUnanswered);
  ASSERT_EQ(stored.rfind(line, 0), 0u) << stored;
  EXPECT_NE(stored.find(" B zapisana\n"), std::string::npos) << stored;
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {m[4]}));
  ASSERT_TRUE(b.Sync("A"));
  // The pass that answered the second sync began after the answer was
  // handled, and stores the table before it ends.
  ASSERT_TRUE(b.Sync("A"));
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_EQ(GetSettingText(kSettingUnanswered), "");
}

// A duplicated answer that comes after other datagrams (so the last-number
// rule lets it through) is still no news.
TEST_F(Outgoing, ReorderedCopyOfAnAnswerTellsNothing) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  StartEngine();
  ASSERT_EQ(SendMessage(4, "B", "hej"), 8);
  Fields m = NextMessage(b);
  ASSERT_EQ(m.size(), 7u);
  const std::string ack = Join({"7", "B", "A", "MESSAGEACK", m[4]});
  ASSERT_TRUE(SendRaw("A", ack));
  ASSERT_TRUE(SendRaw("A", Join({"8", "B", "A", "PING"})));
  ASSERT_TRUE(SendRaw("A", ack));
  b.set_sequence(8);
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_TRUE(Notices().empty());
}

TEST_F(Outgoing, MessagesSentAtOnceCarryTheNumbersTheyWaitUnder) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  StartEngine();
  constexpr int kSenders = 4;
  std::vector<std::thread> threads;
  for (int i = 0; i < kSenders; ++i) {
    threads.emplace_back([this, i] { SendMessage(20 + i, "B", "tekst " + std::to_string(i)); });
  }
  for (auto& t : threads) t.join();

  std::set<std::string> numbers, texts;
  for (int i = 0; i < kSenders; ++i) {
    Fields m = NextMessage(b);
    ASSERT_EQ(m.size(), 7u);
    numbers.insert(m[4]);
    texts.insert(m[5]);
  }
  EXPECT_EQ(numbers.size(), static_cast<size_t>(kSenders));
  EXPECT_EQ(texts.size(), static_cast<size_t>(kSenders));
  // Each number settles its own entry: the repeated answers tell nothing,
  // and no entry is left to expire.
  for (const auto& n : numbers) ASSERT_TRUE(b.Send("A", "MESSAGEACK", {n}));
  for (const auto& n : numbers) ASSERT_TRUE(b.Send("A", "MESSAGEACK", {n}));
  ASSERT_TRUE(b.Sync("A"));
  LetExpiryPass();
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_TRUE(Notices().empty());
  for (int i = 0; i < kSenders; ++i) EXPECT_EQ(WaitSendResult(20 + i), 1);
}

// Messages handed over one after another, each on a thread of its own,
// reach their computer in the order they were typed, numbered in that
// order; each gets its own result.
TEST_F(Outgoing, MessagesToOneComputerLeaveInTheOrderTheyWereHandedOver) {
  LanPeer b("B");
  LanPeer c("C");
  StartEngine();
  constexpr int kMessages = 40;
  for (int i = 0; i < kMessages; ++i) {
    ASSERT_EQ(SendMessage(100 + i, i % 4 == 3 ? "c" : "B", "nr " + std::to_string(i)), 8);
  }
  int previous = 0;
  for (int i = 0; i < kMessages; ++i) {
    if (i % 4 == 3) continue;
    Fields m = NextMessage(b);
    ASSERT_EQ(m.size(), 7u);
    EXPECT_EQ(m[5], "nr " + std::to_string(i));
    EXPECT_GT(std::stoi(m[4]), previous);
    previous = std::stoi(m[4]);
  }
  for (int i = 3; i < kMessages; i += 4) {
    Fields m = NextMessage(c);
    ASSERT_EQ(m.size(), 7u);
    EXPECT_EQ(m[5], "nr " + std::to_string(i));
  }
  for (int i = 0; i < kMessages; ++i) EXPECT_EQ(WaitSendResult(100 + i), 1);
}

TEST_F(Outgoing, AcknowledgementNoticesFollowTheHostSwitch) {
  LanPeer b("B");
  StartEngine();
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {"999"}));
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_TRUE(Notices().empty());

  SetSetting(kSettingNotices, 1);
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {"999"}));
  // A number that does not parse reads as 0, which no message carries.
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {"abc"}));
  ASSERT_TRUE(b.Sync("A"));
  auto notices = Notices();
  ASSERT_EQ(notices.size(), 2u);
  for (const auto& n : notices) {
    EXPECT_EQ(n.Text("body"), LateDeliveryNotice());
    EXPECT_EQ(n.Text("from"), "B");
  }
}

TEST_F(Outgoing, UnreachableComputerGivesTheErrorAtOnceAndTheLostNoticeLater) {
  SetSetting(kSettingNotices, 1);
  StartEngine();
  ASSERT_EQ(SendMessage(5, "NOBODY", "halo"), 8);
  EXPECT_EQ(WaitSendResult(5), 0);
  auto error = WaitFor(kMsgShowMessage, [](const host::RecordedCall& c) {
    return c.Int("type") == 2 && c.Text("body").rfind(SendErrorPrefix(), 0) == 0;
  });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->Text("from"), "NOBODY");
  const std::string body = error->Text("body");
  const std::string code = body.substr(SendErrorPrefix().size());
  ASSERT_FALSE(code.empty());
  EXPECT_EQ(code.back(), ']');
  EXPECT_NE(std::atoi(code.c_str()), 0) << body;
  // The message was numbered before the send failed, so it expires too.
  LetExpiryPass();
  EXPECT_TRUE(WaitNotice(LostNotice("halo")).has_value());
}

TEST_F(Outgoing, ChoosesLanOrWinPopupFromTheSettingAndTheContact) {
  struct Case {
    bool winPopup;
    bool known;
    bool present;
    bool viaLan;
  };
  const Case cases[] = {
      {false, false, false, true}, {false, true, false, true}, {false, true, true, true},
      {true, false, false, false}, {true, true, false, false}, {true, true, true, true},
  };
  int id = 100;
  for (const Case& c : cases) {
    const std::string name = "P" + std::to_string(id);
    SCOPED_TRACE(name + " winPopup=" + std::to_string(c.winPopup) +
                 " known=" + std::to_string(c.known) + " present=" + std::to_string(c.present));
    LanPeer lan(name, "Vask");
    LanPeer popup(name, "messngr");
    ASSERT_TRUE(lan.ok() && popup.ok());
    if (c.known) {
      int row = AddContact(name);
      SetContactStatus(row, c.present ? kStatusAvailable : kStatusOffline);
    }
    SetSetting(kSettingWinPopup, c.winPopup ? 1 : 0);
    const std::string text = "do " + name;
    ASSERT_EQ(SendMessage(id, name, text), 8);
    ASSERT_EQ(WaitSendResult(id), 1);
    // The datagram is written before the result is reported, so whichever
    // slot was not chosen is already known to be empty.
    auto viaPopup = popup.Read(0ms);
    auto viaLan = lan.WaitFor("MESSAGE", 200ms);
    if (c.viaLan) {
      ASSERT_TRUE(viaLan.has_value());
      EXPECT_EQ((*viaLan)[5], text);
      EXPECT_FALSE(viaPopup.has_value());
    } else {
      ASSERT_TRUE(viaPopup.has_value());
      EXPECT_EQ(*viaPopup, Join({"A", name, text}));
      EXPECT_FALSE(viaLan.has_value());
    }
    ++id;
  }
}

TEST_F(Outgoing, WinPopupMessagesGoUnderTheCloakName) {
  SetSetting(kSettingWinPopup, 1);
  LanPeer popup("W", "messngr");
  ASSERT_TRUE(popup.ok());
  auto cloak = [this](const std::string& name) { return ChatCommand("/vask cloak set" + name); };
  ASSERT_EQ(cloak("Zenek"), 2);
  ASSERT_EQ(SendMessage(1, "W", "hej"), 8);
  ASSERT_EQ(WaitSendResult(1), 1);
  auto bytes = popup.Read();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, Join({"Zenek", "W", "hej"}));

  // The name changes on a host thread while sending threads read it: every
  // datagram carries one whole name or the other.
  std::thread flipper([&] {
    for (int i = 0; i < 200; ++i) cloak(i % 2 ? "Zenek" : "Bogumila");
  });
  constexpr int kMessages = 10;
  for (int i = 0; i < kMessages; ++i) SendMessage(10 + i, "W", "m");
  flipper.join();
  for (int i = 0; i < kMessages; ++i) {
    ASSERT_EQ(WaitSendResult(10 + i), 1);
    auto b = popup.Read();
    ASSERT_TRUE(b.has_value());
    const std::string sender = SplitAtNul(*b).at(0);
    EXPECT_TRUE(sender == "Zenek" || sender == "Bogumila") << sender;
  }
}

// Words with blanks between them, `length` bytes in all.
std::string Words(size_t length) {
  std::string text;
  for (int word = 0; text.size() < length; ++word) text += "word" + std::to_string(word) + ' ';
  return text.substr(0, length);
}

// A message too long for one datagram between computers goes in parts, each
// a "MESSAGE" of its own within 424 bytes, split after a blank; each part
// waits for its own acknowledgement, and the likely-lost notice quotes the
// one part that got none.
TEST_F(Outgoing, LongMessageGoesInPartsEachNumberedAndAcknowledgedOnItsOwn) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  ASSERT_TRUE(b.ok());
  StartEngine();
  const std::string text = Words(1000);
  ASSERT_EQ(SendMessage(11, "B", text), 8);
  EXPECT_EQ(WaitSendResult(11), 1);

  std::vector<Fields> parts;
  std::string joined;
  while (joined.size() < text.size()) {
    auto bytes = b.Read();
    ASSERT_TRUE(bytes.has_value()) << "only " << joined.size() << " bytes arrived";
    EXPECT_LE(bytes->size(), 424u);
    Fields fields = SplitAtNul(*bytes);
    if (fields.size() < 4 || fields[3] != "MESSAGE") continue;
    ASSERT_EQ(fields.size(), 7u);
    joined += fields[5];
    parts.push_back(fields);
  }
  EXPECT_EQ(joined, text);
  ASSERT_GE(parts.size(), 3u);
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(std::stoi(parts[i][4]), std::stoi(parts[0][4]) + static_cast<int>(i));
    if (i + 1 < parts.size()) {
      EXPECT_EQ(parts[i][5].back(), ' ') << "part " << i;
    }
  }

  // Every part but the second is acknowledged: only the second is reported.
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i != 1) {
      ASSERT_TRUE(b.Send("A", "MESSAGEACK", {parts[i][4]}));
    }
  }
  // Once the worker has taken the answers, the unanswered part expires.
  ASSERT_TRUE(b.Sync("A"));
  LetExpiryPass();
  ASSERT_TRUE(WaitNotice(LostNotice(parts[1][5].substr(0, 30))).has_value());
  for (const auto& notice : Notices()) {
    EXPECT_EQ(notice.Text("body"), LostNotice(parts[1][5].substr(0, 30)));
  }
}

// The WinPopup format keeps the limit too: a long message goes in parts.
TEST_F(Outgoing, LongWinPopupMessageGoesInParts) {
  SetSetting(kSettingWinPopup, 1);
  LanPeer popup("W", "messngr");
  ASSERT_TRUE(popup.ok());
  const std::string text = Words(900);
  ASSERT_EQ(SendMessage(12, "W", text), 8);
  EXPECT_EQ(WaitSendResult(12), 1);
  std::string joined;
  int datagrams = 0;
  while (joined.size() < text.size()) {
    auto bytes = popup.Read();
    ASSERT_TRUE(bytes.has_value()) << "only " << joined.size() << " bytes arrived";
    EXPECT_LE(bytes->size(), 424u);
    Fields fields = SplitAtNul(*bytes);
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[1], "W");
    joined += fields[2];
    ++datagrams;
  }
  EXPECT_EQ(joined, text);
  EXPECT_GE(datagrams, 3);
}

TEST_F(Outgoing, SendThatCannotStartItsThreadReportsFailure) {
  LanPeer b("B");
  host().FailThreads(1);
  EXPECT_EQ(SendMessage(9, "B", "nic"), 8);
  EXPECT_EQ(WaitSendResult(9), 0);
  EXPECT_FALSE(b.WaitFor("MESSAGE", 200ms).has_value());
  // The next send has its thread again.
  EXPECT_EQ(SendMessage(10, "B", "cos"), 8);
  EXPECT_EQ(WaitSendResult(10), 1);
}

// Windows 11 24H2 and later switch remote mailslots off (error 3025), and
// the emulated LAN does the same when VASK_REMOTE_MAILSLOTS=off. The user is
// told once per engine start how to switch them on; the log keeps the code.
TEST_F(Outgoing, RemoteMailslotsOffAreExplainedOncePerEngineStart) {
  LanPeer b("B");
  struct Switch {
    Switch() { setenv("VASK_REMOTE_MAILSLOTS", "off", 1); }
    ~Switch() { unsetenv("VASK_REMOTE_MAILSLOTS"); }
  } off;
  HANDLE probe = CreateFileA("\\\\B\\mailslot\\Vask", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = probe == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  if (error != 3025) GTEST_SKIP() << "this platform layer has no VASK_REMOTE_MAILSLOTS switch";

  auto boxes = [&] {
    int n = 0;
    for (const auto& box : host().messageBoxes())
      n += box.error && box.text.find("Enable remote mailslots") != std::string::npos;
    return n;
  };
  SendMessage(1, "B", "pierwsza");
  SendMessage(2, "B", "druga");
  EXPECT_EQ(WaitSendResult(1), 0);
  EXPECT_EQ(WaitSendResult(2), 0);
  EXPECT_EQ(boxes(), 1);
  EXPECT_TRUE(WaitLog("(blad 3025)").has_value());
  StopEngine();
  StartEngine();
  SendMessage(3, "B", "trzecia");
  EXPECT_EQ(WaitSendResult(3), 0);
  EXPECT_EQ(boxes(), 2);
}

// With UDP on and remote mailslots off, a message to a computer whose name
// resolves goes as a UDP frame instead, and no error is shown. The port is
// held here first, so the engine cannot bind it and says so in its log.
TEST_F(Outgoing, RemoteMailslotsOffSendByUdpToTheResolvedName) {
  struct Environment {
    Environment() {
      setenv("VASK_REMOTE_MAILSLOTS", "off", 1);
      setenv("VASK_UDP", "on", 1);
    }
    ~Environment() {
      unsetenv("VASK_REMOTE_MAILSLOTS");
      setenv("VASK_UDP", "off", 1);
    }
  } environment;
  const int port = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(port, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(kLanUdpPort);
  if (bind(port, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(port);
    GTEST_SKIP() << "UDP port " << kLanUdpPort << " is taken on this machine";
  }
  timeval wait{5, 0};
  setsockopt(port, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  StopEngine();
  StartEngine();
  EXPECT_TRUE(WaitLog("nie slucha na porcie UDP").has_value());

  SendMessage(1, "localhost", "przez UDP");
  EXPECT_EQ(WaitSendResult(1), 1);
  std::string frame(2048, '\0');
  const ssize_t got = recv(port, &frame[0], frame.size(), 0);
  close(port);
  ASSERT_GT(got, 0);
  frame.resize(static_cast<size_t>(got));
  // The magic, version 1, no flag (the port is not the engine's), the
  // slot, the sender, then the datagram itself.
  ASSERT_GT(frame.size(), 6u);
  EXPECT_EQ(frame.substr(0, 6), std::string("VASK\x01\x00", 6));
  const Fields fields = SplitAtNul(frame.substr(6));
  ASSERT_GE(fields.size(), 8u);
  EXPECT_EQ(fields[0], "Vask");
  EXPECT_EQ(fields[3], fields[1]) << "the frame's sender is the datagram's";
  EXPECT_EQ(fields[4], "localhost");
  EXPECT_EQ(fields[5], "MESSAGE");
  EXPECT_EQ(fields[7], "przez UDP");
  for (const auto& box : host().messageBoxes()) {
    EXPECT_EQ(box.text.find("Enable remote mailslots"), std::string::npos) << box.text;
  }
}

// A copy of the plug-in that knows only the last-number rule, written from
// the wire format: it shows a "MESSAGE" unless its sequence number repeats
// the last one it took from that sender; every datagram counts as taken.
class LastNumberCopy {
 public:
  explicit LastNumberCopy(LanPeer& peer) : peer_(peer) {}
  // The bytes of the next "MESSAGE" that reached the slot (shown or
  // dropped), nullopt when none came before the deadline.
  std::optional<std::string> NextMessage(std::chrono::milliseconds deadline = 2000ms) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      auto bytes = peer_.Read(left.count() > 0 ? left : 0ms);
      if (!bytes) return std::nullopt;
      const Fields fields = SplitAtNul(*bytes);
      if (fields.size() < 4) continue;
      int& last = last_[fields[1]];
      const int number = std::atoi(fields[0].c_str());
      const bool repeat = number == last;
      last = number;
      if (fields[3] != "MESSAGE") continue;
      if (!repeat && fields.size() > 5) shown_.push_back(fields[5]);
      return bytes;
    }
  }
  const std::vector<std::string>& shown() const { return shown_; }

 private:
  LanPeer& peer_;
  std::map<std::string, int> last_;
  std::vector<std::string> shown_;
};

// The answer was lost: the message goes again as the very same datagram,
// which a copy that knows only the last-number rule drops; twice at most,
// and with no answer ever it ends in the likely-lost notice, once. (That a
// late answer settles a copied message silently is the next test's.)
TEST_F(Outgoing, MessageSentAgainIsTheSameDatagramAndShownOnceByAnOlderCopy) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  ASSERT_TRUE(b.ok());
  LastNumberCopy older(b);
  RunEngine(b);
  ASSERT_EQ(SendMessage(1, "B", "czy jestes"), 8);
  auto first = older.NextMessage();
  ASSERT_TRUE(first.has_value());
  for (int copy = 0; copy < 2; ++copy) {
    TurnClock(3);
    auto again = older.NextMessage();
    ASSERT_TRUE(again.has_value()) << "copy " << copy;
    EXPECT_EQ(*again, *first);
  }
  // Nine seconds on, with the real time of the test on top: the message may
  // expire meanwhile, but no third copy goes out either way.
  TurnClock(3);
  EXPECT_FALSE(older.NextMessage(700ms).has_value());
  EXPECT_EQ(older.shown(), std::vector<std::string>{"czy jestes"});

  LetExpiryPass();
  ASSERT_TRUE(WaitNotice(LostNotice("czy jestes")).has_value());
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_EQ(Notices().size(), 1u);
}

// The first copy was lost on the way: the second reaches the older copy,
// which shows it, once.
TEST_F(Outgoing, MessageLostOnTheWayArrivesWithItsCopy) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  RunEngine(b);
  ASSERT_EQ(SendMessage(1, "B", "zgubiona"), 8);
  auto lost = b.WaitFor("MESSAGE");  // read past the older copy: the network lost it
  ASSERT_TRUE(lost.has_value());
  LastNumberCopy older(b);
  TurnClock(3);
  auto copy = older.NextMessage();
  ASSERT_TRUE(copy.has_value());
  EXPECT_EQ(older.shown(), std::vector<std::string>{"zgubiona"});
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {SplitAtNul(*copy).at(4)}));
  ASSERT_TRUE(b.Sync("A"));
  LetExpiryPass();
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_TRUE(Notices().empty());
}

// Once anything else went out after the message, its copy would pass an
// older copy's rule: it is not sent again, and it expires as before. The
// switch on the settings page turns sending again off.
TEST_F(Outgoing, NoCopyAfterAnotherDatagramOrWithTheSwitchOff) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  RunEngine(b);
  LastNumberCopy older(b);
  ASSERT_EQ(SendMessage(1, "B", "pierwsza"), 8);
  ASSERT_TRUE(older.NextMessage().has_value());
  ASSERT_TRUE(b.Sync("A"));  // A answers "PONG": a datagram after the message
  TurnClock(3);
  EXPECT_FALSE(older.NextMessage(700ms).has_value());

  SetSetting(kSettingResend, 0);
  ASSERT_EQ(SendMessage(2, "B", "druga"), 8);
  ASSERT_TRUE(older.NextMessage().has_value());
  TurnClock(3);
  EXPECT_FALSE(older.NextMessage(700ms).has_value());
  LetExpiryPass();
  EXPECT_TRUE(WaitNotice(LostNotice("pierwsza")).has_value());
  EXPECT_TRUE(WaitNotice(LostNotice("druga")).has_value());
  EXPECT_EQ(older.shown(), (std::vector<std::string>{"pierwsza", "druga"}));
}

// The rule is per receiver: a datagram to another computer after the
// message leaves B's last number from us as it was, so the copy still goes
// and an older copy drops it; one to everybody ("*") reached B too and
// stops it, as one to B does (the test above).
TEST_F(Outgoing, CopyIsHeldBackOnlyByDatagramsThatReachedItsReceiver) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  LanPeer c("C");
  ASSERT_TRUE(b.ok());
  ASSERT_TRUE(c.ok());
  RunEngine(b);
  LastNumberCopy older(b);
  ASSERT_EQ(SendMessage(1, "B", "mimo C"), 8);
  auto first = older.NextMessage();
  ASSERT_TRUE(first.has_value());
  ASSERT_TRUE(c.Sync("A"));  // A answers C's PING: a datagram to C alone
  TurnClock(3);
  auto again = older.NextMessage();
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(*again, *first);
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {SplitAtNul(*first).at(4)}));

  ASSERT_EQ(SendMessage(2, "B", "po rozgloszeniu"), 8);
  ASSERT_TRUE(older.NextMessage().has_value());
  ASSERT_EQ(Call(kMsgSetStatus, kStatusBrb, 0), 1);  // a "STATUS" to "*"
  ASSERT_TRUE(c.WaitFor("STATUS").has_value());
  TurnClock(3);
  EXPECT_FALSE(older.NextMessage(700ms).has_value());
  EXPECT_EQ(older.shown(), (std::vector<std::string>{"mimo C", "po rozgloszeniu"}));
  LetExpiryPass();
  EXPECT_TRUE(WaitNotice(LostNotice("po rozgloszeniu")).has_value());
}

// Only the computer a message went to settles it: C answering under its
// number (a copy that lost its numbers may) leaves it waiting, so it is
// reported as likely lost, and B's own answer after that is a delivery
// after all, from B.
TEST_F(Outgoing, AnswerFromAnotherComputerSettlesNothing) {
  SetSetting(kSettingNotices, 1);
  SetSetting(kSettingResend, 0);
  LanPeer b("B");
  LanPeer c("C");
  StartEngine();
  ASSERT_EQ(SendMessage(1, "B", "tylko dla B"), 8);
  Fields m = NextMessage(b);
  ASSERT_EQ(m.size(), 7u);
  ASSERT_TRUE(c.Send("A", "MESSAGEACK", {m[4]}));
  ASSERT_TRUE(c.Sync("A"));
  LetExpiryPass();
  auto lost = WaitNotice(LostNotice("tylko dla B"));
  ASSERT_TRUE(lost.has_value());
  EXPECT_EQ(lost->Text("from"), "B");
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {m[4]}));
  ASSERT_TRUE(b.Sync("A"));
  auto lateFrom = [&](const std::string& who) {
    int n = 0;
    for (const auto& notice : Notices()) {
      n += notice.Text("body") == LateDeliveryNotice() && notice.Text("from") == who;
    }
    return n;
  };
  EXPECT_EQ(lateFrom("B"), 1);
}

// The messages a copy left unanswered outlive it: the next copy started on
// the same profile gives each the likely-lost notice, once, and its numbers
// and datagram counter go on from the last copy's.
TEST_F(Outgoing, UnansweredMessagesOfTheLastRunAreReportedAtTheNextStart) {
  SetSetting(kSettingNotices, 1);
  LanPeer b("B");
  RunEngine(b);
  ASSERT_EQ(SendMessage(1, "B", "przed restartem, bez odpowiedzi"), 8);
  Fields first = NextMessage(b);
  ASSERT_EQ(first.size(), 7u);
  ASSERT_EQ(SendMessage(2, "NOBODY", "do nieobecnego"), 8);
  EXPECT_EQ(WaitSendResult(2), 0);
  ASSERT_TRUE(b.Sync("A"));
  const int lastSeen = std::stoi(b.skipped().empty() ? first[0] : b.skipped().back()[0]);
  EXPECT_EQ(Notices().size(), 1u);  // only the send error about NOBODY

  ReloadPlugin();
  const std::string start = std::string("przed restartem, bez odpowiedzi").substr(0, 30);
  auto toB = WaitNotice(LostNotice(start));
  ASSERT_TRUE(toB.has_value());
  EXPECT_EQ(toB->Text("from"), "B");
  EXPECT_TRUE(WaitNotice(LostNotice("do nieobecnego")).has_value());

  b.skipped().clear();
  RunEngine(b);
  ASSERT_FALSE(b.skipped().empty());  // the new copy's GETSTATUS
  EXPECT_GT(std::stoi(b.skipped().front()[0]), lastSeen);
  ASSERT_EQ(SendMessage(3, "B", "po restarcie"), 8);
  Fields next = NextMessage(b);
  ASSERT_EQ(next.size(), 7u);
  EXPECT_GT(std::stoi(next[4]), std::stoi(first[4]) + 1);

  // Told once: a further restart finds only what is still unanswered.
  ASSERT_TRUE(b.Send("A", "MESSAGEACK", {next[4]}));
  ASSERT_TRUE(b.Sync("A"));
  const size_t told = Notices().size();
  ReloadPlugin();
  RunEngine(b);
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_EQ(Notices().size(), told);
}

}  // namespace
}  // namespace vask::test
