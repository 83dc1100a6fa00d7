// Chat between computers: vask-host processes on one emulated LAN sending
// each other messages by the LAN protocol and in the WinPopup format.
#include <ctime>
#include <utility>

#include "multi_fixture.h"

namespace vask::multi {
namespace {

// A "message" event (host message 100) of this type with this body.
LinePredicate IsMessage(int type, const std::string& body) {
  return [=](const std::string& line) {
    return JsonField(line, "event") == "message" &&
           JsonField(line, "type") == std::to_string(type) && JsonField(line, "body") == body;
  };
}

LinePredicate IsSendResult(const std::string& messageId) {
  return [=](const std::string& line) {
    return JsonField(line, "event") == "send-result" && JsonField(line, "messageId") == messageId;
  };
}

// The host's message id that the "answer" to a send carried.
std::optional<std::string> SendAndGetId(HostProcess& host, const std::string& to,
                                        const std::string& text) {
  const size_t mark = host.Mark();
  host.Send("send " + to + " " + text);
  auto answer = host.WaitFor(
      [](const std::string& line) {
        return JsonField(line, "event") == "answer" && JsonInt(line, "id") == kMsgSendMessage;
      },
      mark);
  if (!answer) return std::nullopt;
  return JsonField(*answer, "messageId");
}

// How many lines so far match: the predicate sees every line once and the
// wait ends at once, having found none that it accepts.
size_t CountLines(HostProcess& host, const LinePredicate& predicate) {
  size_t n = 0;
  host.WaitFor(
      [&](const std::string& line) {
        if (predicate(line)) ++n;
        return false;
      },
      0, 0ms);
  return n;
}

class ChatBetweenHosts : public MultiFixture {
 protected:
  // A and B, each a contact of the other and seen present by the other, so
  // that messages go by the LAN protocol.
  void BothPresent() {
    a_ = &StartHost("A");
    b_ = &StartHost("B");
    a_->Send("add B");
    b_->Send("add A");
    a_->Send(StatusCommand(kStatusAvailable));
    b_->Send(StatusCommand(kStatusAvailable));
    auto present = [](const std::string& who) {
      return [who](const std::string& list) {
        auto entry = ContactEntry(list, who);
        return entry && JsonInt(*entry, "status") == kStatusAvailable;
      };
    };
    auto onA = a_->WaitForContacts(present("B"));
    ASSERT_TRUE(onA && present("B")(*onA)) << onA.value_or("no contact list from A");
    auto onB = b_->WaitForContacts(present("A"));
    ASSERT_TRUE(onB && present("A")(*onB)) << onB.value_or("no contact list from B");
  }

  // Lets the expiry of unanswered messages pass for both senders without
  // waiting it out. First each host announces a new description: once the
  // other shows it, the acknowledgements sent before it have reached their
  // sender too (a slot keeps its order). Then both plug-ins' clocks turn
  // past the expiry, and a message each way shows the turn (its sender's
  // plug-in dates it) and takes each worker through its passes; a wait on
  // each host ends once everything printed before it was read, so any
  // likely-lost notice is counted.
  void LetExpiryPass() {
    for (auto [from, to] : {std::pair{a_, b_}, std::pair{b_, a_}}) {
      const std::string text = "przed obrotem zegara " + from->computer();
      const size_t mark = to->Mark();
      from->Send("describe " + text);
      auto seen = to->WaitFor(
          [&](const std::string& line) {
            return JsonField(line, "event") == "contact-status" &&
                   JsonField(line, "address") == from->computer() &&
                   JsonField(line, "text") == text;
          },
          mark, 5s);
      ASSERT_TRUE(seen.has_value()) << to->computer() << " did not see " << text;
    }
    TurnClocks({a_, b_}, kExpiryTurn);
    if (HasFatalFailure()) return;
    const long long realNow = static_cast<long long>(std::time(nullptr));
    for (auto [from, to] : {std::pair{a_, b_}, std::pair{b_, a_}}) {
      const std::string text = "po obrocie zegara " + from->computer();
      const size_t mark = to->Mark();
      from->Send("send " + to->computer() + " " + text);
      auto got = to->WaitFor(IsMessage(1, text), mark, 5s);
      ASSERT_TRUE(got.has_value()) << text;
      EXPECT_GE(JsonInt(*got, "time").value_or(0), realNow + kExpiryTurn - 2)
          << from->computer() << "'s clock did not turn: " << *got;
    }
    for (HostProcess* host : {a_, b_}) {
      const size_t mark = host->Mark();
      host->Send("wait 500");  // two more passes of the worker
      ASSERT_TRUE(host->WaitFor(IsEvent("waited"), mark, 5s).has_value()) << host->computer();
    }
  }

  HostProcess* a_ = nullptr;
  HostProcess* b_ = nullptr;
};

TEST_F(ChatBetweenHosts, ConversationBothWaysIsDeliveredOnceAndAcknowledged) {
  BothPresent();
  if (HasFatalFailure()) return;
  const std::vector<std::string> fromA = {"Cześć, tu A", "Jak leci?", "Do usłyszenia"};
  const std::vector<std::string> fromB = {"Witaj, tu B", "Dobrze, dzięki"};
  std::vector<std::pair<HostProcess*, std::string>> ids;
  for (size_t i = 0; i < 3; ++i) {
    if (i < fromA.size()) ids.emplace_back(a_, SendAndGetId(*a_, "B", fromA[i]).value_or("?"));
    if (i < fromB.size()) ids.emplace_back(b_, SendAndGetId(*b_, "A", fromB[i]).value_or("?"));
  }
  for (const auto& text : fromA) {
    auto got = b_->WaitFor(IsMessage(1, text));
    ASSERT_TRUE(got.has_value()) << text;
    EXPECT_EQ(JsonField(*got, "from"), "A");
  }
  for (const auto& text : fromB) {
    auto got = a_->WaitFor(IsMessage(1, text));
    ASSERT_TRUE(got.has_value()) << text;
    EXPECT_EQ(JsonField(*got, "from"), "B");
  }
  for (const auto& [host, id] : ids) {
    auto result = host->WaitFor(IsSendResult(id));
    ASSERT_TRUE(result.has_value()) << host->computer() << " message " << id;
    EXPECT_EQ(JsonField(*result, "sent"), "1");
  }
  // Past the expiry of unanswered messages: had any acknowledgement been
  // lost, its sender would show the likely-lost notice by now.
  LetExpiryPass();
  if (HasFatalFailure()) return;
  for (HostProcess* host : {a_, b_}) {
    EXPECT_EQ(CountLines(*host,
                         [](const std::string& line) {
                           return JsonField(line, "event") == "message" &&
                                  JsonField(line, "type") == "2";
                         }),
              0u)
        << host->computer();
  }
  for (const auto& text : fromA) EXPECT_EQ(CountLines(*b_, IsMessage(1, text)), 1u) << text;
  for (const auto& text : fromB) EXPECT_EQ(CountLines(*a_, IsMessage(1, text)), 1u) << text;
}

// A message to everybody ("*") reaches the other computer as a message
// from its sender; its copy that comes back to the sender is neither shown
// there as received nor kept in its history, where the message stays as
// sent, with its mark.
TEST_F(ChatBetweenHosts, AMessageToEverybodyReachesOthersAndDoesNotComeBackToItsSender) {
  BothPresent();
  if (HasFatalFailure()) return;
  const std::string text = "Do wszystkich: zebranie o 15";
  const std::string id = SendAndGetId(*a_, "*", text).value_or("?");
  auto got = b_->WaitFor(IsMessage(1, text));
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(JsonField(*got, "from"), "A");
  auto result = a_->WaitFor(IsSendResult(id));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(JsonField(*result, "sent"), "1");
  // The copy reached A's slot as B's did; a later message from B behind it
  // shows that A has read past it.
  b_->Send("send A a to już po");
  ASSERT_TRUE(a_->WaitFor(IsMessage(1, "a to już po")).has_value());
  EXPECT_EQ(CountLines(*a_, IsMessage(1, text)), 0u) << "the sender saw its own message come back";
  const size_t mark = a_->Mark();
  a_->Send("history");
  auto history = a_->WaitFor(IsEvent("history"), mark);
  ASSERT_TRUE(history.has_value());
  const size_t first = history->find(text);
  ASSERT_NE(first, std::string::npos) << *history;
  EXPECT_EQ(history->find(text, first + 1), std::string::npos) << "kept twice: " << *history;
  const size_t entry = history->rfind("{\"number\"", first);
  ASSERT_NE(entry, std::string::npos) << *history;
  EXPECT_EQ(JsonField(*history, "to", entry), "*") << *history;
  EXPECT_EQ(JsonField(*history, "delivery", entry), "sent") << *history;
}

// A message too long for one datagram between computers arrives whole, in
// parts, each acknowledged: no notice on either side once the
// acknowledgements had time to expire.
TEST_F(ChatBetweenHosts, ALongMessageArrivesWholeInPartsEachAcknowledged) {
  BothPresent();
  if (HasFatalFailure()) return;
  std::string text;
  for (int word = 0; text.size() < 1000; ++word) text += "słowo" + std::to_string(word) + " ";
  text.resize(1000);
  const std::string id = SendAndGetId(*a_, "B", text).value_or("?");
  auto result = a_->WaitFor(IsSendResult(id));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(JsonField(*result, "sent"), "1");

  // The parts, in order, are the text. (The wait's predicate sees every
  // line once, in order.)
  std::string joined;
  int parts = 0;
  auto whole = b_->WaitFor(
      [&](const std::string& line) {
        if (JsonField(line, "event") == "message" && JsonField(line, "type") == "1" &&
            JsonField(line, "from") == "A") {
          joined += JsonField(line, "body").value_or("");
          ++parts;
        }
        return joined.size() >= text.size();
      },
      0, 20s);
  ASSERT_TRUE(whole.has_value()) << "B has " << joined.size() << " of " << text.size() << " bytes";
  EXPECT_EQ(joined, text);
  EXPECT_GE(parts, 3);

  LetExpiryPass();
  if (HasFatalFailure()) return;
  for (HostProcess* host : {a_, b_}) {
    EXPECT_EQ(CountLines(*host,
                         [](const std::string& line) {
                           return JsonField(line, "event") == "message" &&
                                  JsonField(line, "type") == "2";
                         }),
              0u)
        << host->computer() << " shows a notice";
  }
}

// The notice carries no time of its own: the history keeps it with its
// arrival time, after the lines that came before it.
TEST_F(ChatBetweenHosts, MessageToAStoppedHostGivesTheErrorNoticeKeptInOrder) {
  BothPresent();
  if (HasFatalFailure()) return;
  b_->Send("send A Zaraz wychodzę");
  ASSERT_TRUE(a_->WaitFor(IsMessage(1, "Zaraz wychodzę")));
  b_->Stop();
  // The contact still shows B present until its final status is read; the
  // LAN protocol is the path either way with emulation off.
  a_->Send("set " + std::to_string(kSettingWinPopup) + " 0");
  auto id = SendAndGetId(*a_, "B", "Jesteś tam?");
  ASSERT_TRUE(id.has_value());
  auto result = a_->WaitFor(IsSendResult(*id));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(JsonField(*result, "sent"), "0");
  auto notice = a_->WaitFor([](const std::string& line) {
    return JsonField(line, "event") == "message" && JsonField(line, "type") == "2" &&
           JsonField(line, "body")
                   .value_or("")
                   .rfind("Wystąpił błąd podczas dostarczania wiadomości! [", 0) == 0;
  });
  ASSERT_TRUE(notice.has_value());
  EXPECT_EQ(JsonField(*notice, "from"), "B");

  const size_t mark = a_->Mark();
  a_->Send("history B");
  auto history = a_->WaitFor(IsEvent("history"), mark);
  ASSERT_TRUE(history.has_value());
  const size_t said = history->find("Zaraz wychodzę");
  const size_t asked = history->find("Jesteś tam?");
  const size_t failed = history->find("Wystąpił błąd podczas dostarczania");
  ASSERT_NE(said, std::string::npos) << *history;
  ASSERT_NE(asked, std::string::npos) << *history;
  ASSERT_NE(failed, std::string::npos) << *history;
  EXPECT_LT(said, asked) << *history;
  EXPECT_LT(asked, failed) << *history;
  // Each entry's time follows its body in the line.
  const auto saidAt = JsonInt(*history, "time", said);
  const auto failedAt = JsonInt(*history, "time", failed);
  ASSERT_TRUE(saidAt && failedAt) << *history;
  EXPECT_GT(*failedAt, 0) << *history;
  EXPECT_GE(*failedAt, *saidAt) << *history;
}

TEST_F(ChatBetweenHosts, WinPopupMessagesTravelBothWaysWithEmulationOn) {
  // Emulation is on by default; strangers to each other, so neither is
  // known to be present and both send in the WinPopup format.
  a_ = &StartHost("A");
  b_ = &StartHost("B");
  a_->Send(StatusCommand(kStatusAvailable));
  b_->Send(StatusCommand(kStatusAvailable));
  auto id = SendAndGetId(*a_, "B", "Hej przez WinPopup");
  ASSERT_TRUE(id.has_value());
  auto result = a_->WaitFor(IsSendResult(*id));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(JsonField(*result, "sent"), "1");
  auto onB = b_->WaitFor(IsMessage(1, "Hej przez WinPopup"));
  ASSERT_TRUE(onB.has_value());
  EXPECT_EQ(JsonField(*onB, "from"), "A");

  ASSERT_TRUE(SendAndGetId(*b_, "A", "Odpowiedź").has_value());
  auto onA = a_->WaitFor(IsMessage(1, "Odpowiedź"));
  ASSERT_TRUE(onA.has_value());
  EXPECT_EQ(JsonField(*onA, "from"), "B");
}

TEST_F(ChatBetweenHosts, WinPopupMessageShowsTheCloakNameAsItsSender) {
  a_ = &StartHost("A");
  b_ = &StartHost("B");
  a_->Send(StatusCommand(kStatusAvailable));
  b_->Send(StatusCommand(kStatusAvailable));
  const size_t mark = a_->Mark();
  a_->Send("chat /vask cloak setZenek");
  auto chat = a_->WaitFor(IsEvent("chat"), mark);
  ASSERT_TRUE(chat.has_value());
  EXPECT_EQ(JsonField(*chat, "answer"), "2");
  ASSERT_TRUE(SendAndGetId(*a_, "B", "Zgadnij kto").has_value());
  auto onB = b_->WaitFor(IsMessage(1, "Zgadnij kto"));
  ASSERT_TRUE(onB.has_value());
  EXPECT_EQ(JsonField(*onB, "from"), "Zenek");
}

// A computer named in Polish: its name reaches the LAN as Windows-1250
// capitals, so the peer sees it come online and they chat both ways, the
// name written in any case.
TEST_F(ChatBetweenHosts, APolishComputerNameChatsWithAPeer) {
  HostProcess& z = StartHost("żółw");
  HostProcess& b = StartHost("BOB");
  auto started = z.WaitFor(IsEvent("started"));
  ASSERT_TRUE(started);
  EXPECT_EQ(JsonField(*started, "computer"), "ŻÓŁW");
  z.Send("add bob");
  b.Send("add ŻÓŁW");
  z.Send("status 64");
  b.Send("status 64");
  auto online = [](const std::string& who) {
    return [who](const std::string& list) {
      auto entry = ContactEntry(list, who);
      return entry && JsonField(*entry, "status") == "64";
    };
  };
  auto onB = b.WaitForContacts(online("ŻÓŁW"));
  ASSERT_TRUE(onB && online("ŻÓŁW")(*onB)) << onB.value_or("no contact list from BOB");
  size_t mark = b.Mark();
  z.Send("send BOB Cześć od żółwia");
  auto got = b.WaitFor(IsMessage(1, "Cześć od żółwia"), mark);
  ASSERT_TRUE(got);
  EXPECT_EQ(JsonField(*got, "from"), "ŻÓŁW");
  mark = z.Mark();
  b.Send("send żółw Hej, ŻÓŁWIU");
  EXPECT_TRUE(z.WaitFor(IsMessage(1, "Hej, ŻÓŁWIU"), mark));
}

}  // namespace
}  // namespace vask::multi
