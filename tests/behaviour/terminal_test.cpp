// The terminal front end's two halves without a terminal: what a typed line
// becomes, and what an event shows.
#include <gtest/gtest.h>
#include <poll.h>

#include <ctime>

#include "abi/host_ids.h"
#include "host/commands/command_table.h"
#include "host/commands/delivery_notices.h"
#include "host/events/event_queue.h"
#include "host/terminal/event_rendering.h"
#include "host/terminal/idle_watch.h"
#include "host/terminal/terminal_commands.h"
#include "host/text/text_table.h"

namespace vask {
namespace {

using host::EventJson;
using host::FrontState;
using host::RenderEvent;
using host::TranslateLine;

EventJson ChatFrom(const std::string& from, const std::string& body) {
  return EventJson{{"event", "message"},
                   {"from", from},
                   {"body", body},
                   {"type", kMessageTypeChat},
                   {"time", 0}};
}

std::vector<std::string> Commands(const std::string& typed, FrontState& state) {
  return TranslateLine(typed, state).commands;
}

TEST(TerminalTest, ALineGoesOnlyToThePartnerTheUserChose) {
  FrontState state;
  // Nobody chosen yet: a message does not make its sender the partner.
  const std::string shown = RenderEvent(ChatFrom("EWA", "cześć"), state);
  EXPECT_NE(shown.find("EWA: cześć"), std::string::npos);
  EXPECT_NE(shown.find("/r odpowiada EWA"), std::string::npos);
  auto refused = TranslateLine("hej", state);
  EXPECT_TRUE(refused.commands.empty());
  EXPECT_NE(refused.reply.find("/r (odpowiedź dla EWA)"), std::string::npos);

  // Talking with BOB, EWA writes: the next plain line still goes to BOB.
  EXPECT_EQ(Commands("/msg bob", state), std::vector<std::string>{});
  EXPECT_EQ(state.partner, "BOB");
  RenderEvent(ChatFrom("EWA", "jesteś?"), state);
  EXPECT_EQ(Commands("to do Boba", state), std::vector<std::string>{"send BOB to do Boba"});
  // "/r" answers EWA and makes her the partner.
  EXPECT_EQ(Commands("/r tak", state), std::vector<std::string>{"send EWA tak"});
  EXPECT_EQ(state.partner, "EWA");
  EXPECT_EQ(RenderEvent(ChatFrom("EWA", "ok"), state).find("/r odpowiada"), std::string::npos);
}

TEST(TerminalTest, PolishComputerNamesAreCapitalsAndRIsRefusedBeforeAnyoneWrote) {
  FrontState state;
  EXPECT_EQ(Commands("/msg żółw Dzień dobry", state),
            std::vector<std::string>{"send ŻÓŁW Dzień dobry"});
  FrontState fresh;
  auto r = TranslateLine("/r halo", fresh);
  EXPECT_TRUE(r.commands.empty());
  EXPECT_FALSE(r.reply.empty());
}

TEST(TerminalTest, OwnDetailsByNameArePublishedAndUnknownNamesRefused) {
  FrontState state;
  EXPECT_EQ(
      Commands("/own imię=Ala miasto=Nowy Sącz", state),
      (std::vector<std::string>{"own imię Ala", "own miasto Nowy Sącz", "publish", "own-details"}));
  auto bad = TranslateLine("/own imię=Ala kolor=zielony", state);
  EXPECT_TRUE(bad.commands.empty());
  EXPECT_NE(bad.reply.find("kolor"), std::string::npos);
  EXPECT_EQ(Commands("/own", state), std::vector<std::string>{"own-details"});
  // The help document is opened by the host for this face alone, not by
  // pressing the plug-in's button (which opens it on every face's behalf).
  EXPECT_EQ(Commands("/pomoc", state), std::vector<std::string>{"help-document"});
  EXPECT_EQ(Commands("/opis", state), std::vector<std::string>{"describe"});
  EXPECT_EQ(Commands("/details bob", state), std::vector<std::string>{"details bob"});
}

// /help is written from the command table: every typed command is in it
// and is taken as a command, not handed to the plug-in as a chat command.
TEST(TerminalTest, HelpListsEveryTypedCommandAndEachIsTakenAsOne) {
  FrontState state;
  const std::string help = TranslateLine("/help", state).reply;
  for (const std::string& word : host::CommandWords()) {
    if (word == "/vask cloak") continue;  // the plug-in's own
    EXPECT_NE(help.find("  " + word), std::string::npos) << word << " missing in\n" << help;
    const auto commands = Commands(word + " x y", state);
    EXPECT_TRUE(commands.empty() || commands[0].rfind("chat ", 0) != 0) << word;
  }
  EXPECT_NE(help.find("Rozmowa\n"), std::string::npos) << help;
  EXPECT_NE(help.find("!polecenie"), std::string::npos) << help;
  // A typed command that lacks its arguments answers its typed usage.
  EXPECT_EQ(TranslateLine("/add", state).reply, "Użycie: /add NAZWA");
  EXPECT_EQ(TranslateLine("/details", state).reply,
            "Użycie: /details NAZWA | /details close NAZWA");
  EXPECT_TRUE(TranslateLine("/add", state).commands.empty());
  // Forwarded commands keep the rest of the line; others go to the plug-in.
  EXPECT_EQ(Commands("/search imię=Ala miasto=Nowy Sącz", state),
            std::vector<std::string>{"search imię=Ala miasto=Nowy Sącz"});
  EXPECT_EQ(Commands("/STATUS zw w kuchni", state),
            std::vector<std::string>{"status " + std::to_string(kStatusBrb) + " w kuchni"});
  EXPECT_EQ(Commands("/opis przy biurku", state), std::vector<std::string>{"describe przy biurku"});
  EXPECT_EQ(Commands("/add bob", state), std::vector<std::string>{"add bob"});
  EXPECT_EQ(Commands("/details close bob", state), std::vector<std::string>{"details close bob"});
  EXPECT_EQ(Commands("/vask cloak", state), std::vector<std::string>{"chat /vask cloak"});
  EXPECT_EQ(Commands("!msg 30013", state), std::vector<std::string>{"msg 30013"});
}

// The settings page as the plug-in declares it, markup bytes and all.
EventJson SettingsPage() {
  auto control = [](int style, const std::string& text) {
    return EventJson{{"action", 0}, {"style", style}, {"text", text}};
  };
  auto bound = [&](int style, const std::string& text, int column, const std::string& value) {
    EventJson c = control(style, text);
    c["column"] = column;
    c["value"] = value;
    return c;
  };
  EventJson help = control(0xE0180, "POMOC");
  help["action"] = kItemHelp;
  return EventJson{
      {"event", "page"},
      {"title", "Vask"},
      {"controls",
       {control(0x110040, "res://dll/111.ico"),
        control(0x81180, "\r\nV.ask LAN messenger 0.1\r\n Wiadomości bez serwera"), help,
        control(0xF0000, "Ustawienia"), bound(0x60000, "Obsługuj WinPopup", kSettingWinPopup, "1"),
        bound(0x160040,
              "Vask\x03"
              "552599552\x01Możesz się komunikować z osobami o IDENTYCZNYM ustawieniu!",
              kSettingChannel, "Vask"),
        control(0x90000, "Nazwa kanału"), control(0x100000, "")}}};
}

TEST(TerminalTest, TheSettingsPageReadsAsAPageAndSaysWhenAChangeNeedsReconnecting) {
  FrontState state;
  const std::string page = RenderEvent(SettingsPage(), state);
  EXPECT_EQ(page.find("res://"), std::string::npos) << page;
  EXPECT_EQ(page.find("552599552"), std::string::npos) << page;
  EXPECT_EQ(page.find('\x01'), std::string::npos);
  EXPECT_NE(page.find("[obrazek wtyczki]"), std::string::npos) << page;
  EXPECT_NE(page.find("\n    V.ask LAN messenger 0.1\n    Wiadomości bez serwera\n"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("[POMOC]  /pomoc"), std::string::npos) << page;
  EXPECT_NE(page.find("[x] Obsługuj WinPopup"), std::string::npos) << page;
  EXPECT_NE(page.find("Nazwa kanału: Vask"), std::string::npos) << page;
  EXPECT_NE(page.find("Możesz się komunikować"), std::string::npos) << page;

  EventJson changed{{"event", "setting"}, {"column", kSettingChannel}, {"value", "Biuro"}};
  state.ownStatus = kStatusOffline;
  EXPECT_EQ(RenderEvent(changed, state), "*** Ustawienie „Nazwa kanału” = Biuro");
  state.ownStatus = kStatusAvailable;
  EXPECT_NE(RenderEvent(changed, state).find("Niedostępny i z powrotem"), std::string::npos);
  changed["column"] = kSettingOnlyListed;
  EXPECT_EQ(RenderEvent(changed, state).find("z powrotem"), std::string::npos);
}

// Settings are named by a word of their label, never by their column: the
// page shows the word, a check box takes tak or nie, and a word that names
// no setting, or several, is refused on the spot.
TEST(TerminalTest, SettingsAreNamedByTheirLabelsWordsAndCheckBoxesTakeTakOrNie) {
  FrontState state;
  const std::string unknown = TranslateLine("/page winpopup nie", state).reply;
  EXPECT_NE(unknown.find("/page je pokaże"), std::string::npos) << unknown;

  const std::string page = RenderEvent(SettingsPage(), state);
  EXPECT_NE(page.find("[x] Obsługuj WinPopup   (/page winpopup tak|nie)"), std::string::npos)
      << page;
  EXPECT_NE(page.find("Nazwa kanału: Vask   (/page kanału TEKST)"), std::string::npos) << page;
  EXPECT_EQ(page.find(std::to_string(kSettingWinPopup)), std::string::npos) << page;
  EXPECT_EQ(page.find(std::to_string(kSettingChannel)), std::string::npos) << page;

  const std::string winPopup = std::to_string(kSettingWinPopup);
  EXPECT_EQ(Commands("/page winpopup nie", state),
            std::vector<std::string>{"page " + winPopup + " 0"});
  EXPECT_EQ(Commands("/page OBSŁUGUJ tak", state),
            std::vector<std::string>{"page " + winPopup + " 1"});
  EXPECT_EQ(Commands("/page kan Biuro 2", state),
            std::vector<std::string>{"page " + std::to_string(kSettingChannel) + " Biuro 2"});
  // The column and "press" still go as they are.
  EXPECT_EQ(Commands("/page " + winPopup + " 1", state),
            std::vector<std::string>{"page " + winPopup + " 1"});
  EXPECT_EQ(Commands("/page press 15002", state), std::vector<std::string>{"page press 15002"});
  auto notABox = TranslateLine("/page winpopup może", state);
  EXPECT_TRUE(notABox.commands.empty());
  EXPECT_NE(notABox.reply.find("tak albo nie"), std::string::npos) << notABox.reply;
  auto nothing = TranslateLine("/page kolor zielony", state);
  EXPECT_TRUE(nothing.commands.empty());
  EXPECT_NE(nothing.reply.find("„kolor”"), std::string::npos) << nothing.reply;
  EXPECT_TRUE(Commands("/page winpopup", state).empty()) << "a value is asked for";

  EventJson changed{{"event", "setting"}, {"column", kSettingWinPopup}, {"value", "0"}};
  EXPECT_EQ(RenderEvent(changed, state).rfind("*** Ustawienie „Obsługuj WinPopup” = nie", 0), 0u)
      << RenderEvent(changed, state);
}

TEST(TerminalTest, ContactsLineUpInColumnsWhateverTheirLetters) {
  FrontState state;
  EventJson list{
      {"event", "contacts"},
      {"ownStatus", kStatusAvailable},
      {"ownText", ""},
      {"contacts",
       {{{"contact", 1}, {"computer", "ŻÓŁW"}, {"status", kStatusBrb}, {"text", "obiad"}},
        {{"contact", 2},
         {"computer", "KOMPUTER-DŁUGI"},
         {"status", kStatusOffline},
         {"text", ""},
         {"ignored", true}}}}};
  const std::string shown = RenderEvent(list, state);
  auto column = [&](const std::string& word) {
    const size_t at = shown.find(word);
    EXPECT_NE(at, std::string::npos) << word << " in\n" << shown;
    const size_t lineStart = shown.rfind('\n', at) + 1;
    return host::TextWidth(shown.substr(lineStart, at - lineStart));
  };
  EXPECT_EQ(column("Zaraz wracam"), column("Stan"));
  EXPECT_EQ(column("Niedostępny"), column("Stan"));
  EXPECT_EQ(column("obiad"), column("Opis"));
  EXPECT_EQ(column("ignorowany"), column("Uwagi"));
  EXPECT_EQ(state.contacts[1], "ŻÓŁW");
}

// A failed delivery's Windows code is said in words, with what to do, the
// code kept in brackets after them; in the live line and in the history.
TEST(TerminalTest, AFailedDeliverysCodeIsSaidInWordsWithWhatToDo) {
  const std::string failed = "Wystąpił błąd podczas dostarczania wiadomości! ";
  for (const char* code : {"2", "52", "53", "3025", "1231"}) {
    const std::string explained = host::ExplainNotice(failed + "[" + code + "]");
    EXPECT_EQ(explained.rfind("Wiadomość nie", 0), 0u) << explained;
    const std::string tail = std::string(". [") + code + "]";
    ASSERT_GT(explained.size(), tail.size());
    EXPECT_EQ(explained.substr(explained.size() - tail.size()), tail) << explained;
  }
  EXPECT_NE(host::ExplainNotice(failed + "[53]").find("nie ma takiego komputera w sieci"),
            std::string::npos);
  EXPECT_NE(host::ExplainNotice(failed + "[2]").find("nie działa na nim Vask"), std::string::npos);
  EXPECT_EQ(host::ExplainNotice("Wiadomość \"x\" prawdopodobnie nie została dostarczona."), "");
  EXPECT_EQ(host::ExplainNotice("uwaga [abc]"), "");
  EXPECT_EQ(host::ExplainNotice("[]"), "");

  FrontState state;
  EventJson notice{{"event", "message"},
                   {"from", "NIKT"},
                   {"body", failed + "[53]"},
                   {"explained", host::ExplainNotice(failed + "[53]")},
                   {"type", 0}};
  const std::string line = RenderEvent(notice, state);
  EXPECT_NE(line.find("!!! Powiadomienie (NIKT): Wiadomość nie doszła"), std::string::npos) << line;
  EXPECT_EQ(line.find("Wystąpił błąd"), std::string::npos) << line;

  EventJson history{
      {"event", "history"},
      {"messages",
       {{{"from", ""},
         {"to", "BOB"},
         {"body", "doszło?"},
         {"time", 1},
         {"type", 1},
         {"delivery", "sent"}},
        {{"from", ""},
         {"to", "NIKT"},
         {"body", "halo"},
         {"time", 1},
         {"type", 1},
         {"delivery", "failed"}},
        {{"from", ""}, {"to", "*"}, {"body", "do wszystkich"}, {"time", 1}, {"type", 1}},
        notice}}};
  const std::string shown = RenderEvent(history, state);
  EXPECT_NE(shown.find("-> BOB: doszło?  ✓"), std::string::npos) << shown;
  EXPECT_NE(shown.find("-> NIKT: halo  ✗ nie wysłano"), std::string::npos) << shown;
  EXPECT_NE(shown.find("-> wszyscy: do wszystkich"), std::string::npos) << shown;
  EXPECT_NE(shown.find("!!! NIKT: Wiadomość nie doszła"), std::string::npos) << shown;
}

// A message to everybody is a typed command of its own, listed in /help;
// /help names no raw message ids.
TEST(TerminalTest, AMessageToEverybodyIsTypedAsSuchAndHelpShowsNoRawIds) {
  FrontState state;
  EXPECT_EQ(Commands("/all Dzień dobry wszystkim", state),
            std::vector<std::string>{"send * Dzień dobry wszystkim"});
  EXPECT_EQ(state.partner, "") << "the partner stays";
  EXPECT_EQ(TranslateLine("/all", state).reply, "Użycie: /all TEKST");
  const std::string help = TranslateLine("/help", state).reply;
  EXPECT_NE(help.find("/all TEKST"), std::string::npos) << help;
  for (size_t i = 0; i + 5 <= help.size(); ++i) {
    EXPECT_FALSE(help.substr(i, 5).find_first_not_of("0123456789") == std::string::npos)
        << "a raw number in /help at " << help.substr(i, 20);
  }
  const std::string sending = RenderEvent(
      EventJson{{"event", "sending"}, {"to", "*"}, {"body", "hej"}, {"messageId", 1}}, state);
  EXPECT_NE(sending.find("-> wszyscy: hej"), std::string::npos) << sending;
}

// The own details read as a person says them: a year, a gender's word.
TEST(TerminalTest, OwnDetailsShowTheYearAndTheGenderAsWords) {
  FrontState state;
  EventJson own{{"event", "own-details"},
                {"columns",
                 {{std::to_string(kColumnBirth), std::to_string(1990LL << kBirthYearShift)},
                  {std::to_string(kColumnGender), std::to_string(kGenderMale)}}}};
  const std::string shown = RenderEvent(own, state);
  EXPECT_NE(shown.find("1990"), std::string::npos) << shown;
  EXPECT_NE(shown.find("mężczyzna"), std::string::npos) << shown;
  EXPECT_EQ(shown.find(std::to_string(1990LL << kBirthYearShift)), std::string::npos) << shown;
}

TEST(TerminalTest, SearchResultsAndDetailsAreTablesWithPolishLabels) {
  FrontState state;
  EventJson results{{"event", "results"},
                    {"contacts",
                     {{{"uid", "ALA"},
                       {"status", kStatusAvailable},
                       {"column6", "Alicja"},
                       {"column7", "Żak"},
                       {"column9", "Łódź"},
                       {"column11", ""},
                       {"column17", ""}},
                      {{"uid", "BOLEK"},
                       {"status", kStatusBrb},
                       {"column6", "Bo"},
                       {"column7", ""},
                       {"column9", ""},
                       {"column11", "b@x.pl"},
                       {"column17", ""}}}}};
  const std::string table = RenderEvent(results, state);
  EXPECT_NE(table.find("Komputer  Stan"), std::string::npos) << table;
  EXPECT_NE(table.find("Imię"), std::string::npos);
  // Columns line up by characters: "Alicja" and "Bo" start the same column
  // as "Imię", whatever bytes the Polish letters take.
  auto column = [&](const std::string& word) {
    const size_t at = table.find(word);
    const size_t lineStart = table.rfind('\n', at) + 1;
    return host::TextWidth(table.substr(lineStart, at - lineStart));
  };
  EXPECT_EQ(column("Alicja"), column("Imię"));
  EXPECT_EQ(column("Bo "), column("Imię"));
  EXPECT_EQ(column("Łódź"), column("Miasto"));

  EventJson details{{"event", "details-updated"},
                    {"contact", 3},
                    {"computer", "BOB"},
                    {"window", {{"0", "BOB"}, {"6", "Robert"}, {"9", "Kraków"}, {"7", ""}}}};
  const std::string shown = RenderEvent(details, state);
  EXPECT_NE(shown.find("Dane kontaktu BOB"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Imię"), std::string::npos);
  EXPECT_NE(shown.find("Robert"), std::string::npos);
  EXPECT_EQ(shown.find("Nazwisko"), std::string::npos) << "an empty field is left out";
}

TEST(TerminalTest, HistoryLinesCarryTheirDateAndNoticesStandApart) {
  FrontState state;
  std::tm when{};
  when.tm_year = 2025 - 1900;
  when.tm_mon = 0;
  when.tm_mday = 2;
  when.tm_hour = 9;
  when.tm_min = 5;
  when.tm_isdst = -1;
  const long long t = static_cast<long long>(std::mktime(&when));
  EventJson history{
      {"event", "history"},
      {"messages",
       {{{"from", "BOB"}, {"to", ""}, {"body", "rano"}, {"time", t}, {"type", 1}},
        {{"from", "BOB"}, {"to", ""}, {"body", "błąd [53]"}, {"time", t}, {"type", 0}}}}};
  const std::string shown = RenderEvent(history, state);
  EXPECT_NE(shown.find("[2025-01-02 09:05] BOB: rano"), std::string::npos) << shown;
  EXPECT_NE(shown.find("[2025-01-02 09:05] !!! BOB: błąd [53]"), std::string::npos) << shown;
}

TEST(TerminalTest, OnlyAnIncomingChatMessageCallsForAttention) {
  FrontState state;
  EXPECT_TRUE(host::CallsForAttention(ChatFrom("BOB", "hej"), state));
  EventJson notice = ChatFrom("BOB", "Wystąpił błąd [2]");
  notice["type"] = 0;
  EXPECT_FALSE(host::CallsForAttention(notice, state));
  EXPECT_FALSE(host::CallsForAttention(EventJson{{"event", "sending"}, {"to", "BOB"}}, state));
  // "Do not disturb" keeps the bell and the desktop quiet; the line shows.
  RenderEvent(EventJson{{"event", "own-status"}, {"ownStatus", kStatusDnd}, {"ownText", ""}},
              state);
  EXPECT_FALSE(host::CallsForAttention(ChatFrom("BOB", "hej"), state));
  EXPECT_NE(RenderEvent(ChatFrom("BOB", "hej"), state).find("BOB: hej"), std::string::npos);
  RenderEvent(EventJson{{"event", "own-status"}, {"ownStatus", kStatusAvailable}}, state);
  EXPECT_TRUE(host::CallsForAttention(ChatFrom("BOB", "hej"), state));
}

// /status alone shows the status; a removed partner leaves the prompt.
TEST(TerminalTest, StatusAloneShowsItAndARemovedContactIsNoLongerThePartner) {
  FrontState state;
  RenderEvent(
      EventJson{{"event", "own-status"}, {"ownStatus", kStatusBrb}, {"ownText", "w kuchni"}},
      state);
  auto shown = TranslateLine("/status", state);
  EXPECT_TRUE(shown.commands.empty());
  EXPECT_EQ(shown.reply.rfind("Twój status: Zaraz wracam (w kuchni).", 0), 0u) << shown.reply;

  EXPECT_EQ(Commands("/msg bob halo", state), std::vector<std::string>{"send BOB halo"});
  RenderEvent(EventJson{{"event", "contact-removed"}, {"contact", 2}, {"computer", "EWA"}}, state);
  EXPECT_EQ(state.partner, "BOB");
  RenderEvent(EventJson{{"event", "contact-removed"}, {"contact", 1}, {"computer", "BOB"}}, state);
  EXPECT_EQ(state.partner, "");
  EXPECT_TRUE(Commands("dalej?", state).empty());
}

// A details fetch nobody answered, and the help document opened or not,
// each end in a Polish line.
TEST(TerminalTest, AnUnansweredFetchAndTheHelpDocumentSayWhatCameOfThem) {
  FrontState state;
  EXPECT_EQ(RenderEvent(EventJson{{"event", "details-unanswered"},
                                  {"contact", 3},
                                  {"computer", "ŻÓŁW"},
                                  {"seconds", 10}},
                        state),
            "*** ŻÓŁW nie odpowiada: po 10 s nie ma nowych danych (komputer jest wyłączony albo "
            "nie ma go w sieci).");
  EXPECT_EQ(RenderEvent(EventJson{{"event", "help-document"},
                                  {"path", "/opt/vask/doc/Vask.html"},
                                  {"opened", true}},
                        state),
            "*** Otwieram pomoc wtyczki: /opt/vask/doc/Vask.html");
  EXPECT_EQ(RenderEvent(EventJson{{"event", "help-document"},
                                  {"path", "/opt/vask/doc/Vask.html"},
                                  {"opened", false},
                                  {"reason", "nie ma programu xdg-open"}},
                        state),
            "*** Nie udało się otworzyć pomocy: nie ma programu xdg-open. Dokument: "
            "/opt/vask/doc/Vask.html");
}

TEST(TerminalTest, AHandSentHostMessageShowsItsAnswerButAStatusChangeDoesNot) {
  FrontState state;
  EXPECT_EQ(
      RenderEvent(
          EventJson{{"event", "answer"}, {"id", kMsgShortName}, {"answer", 77}, {"text", "Vask"}},
          state),
      "*** Odpowiedź na " + std::to_string(kMsgShortName) + ": 77 („Vask”)");
  EXPECT_EQ(
      RenderEvent(EventJson{{"event", "answer"}, {"id", kMsgSetStatus}, {"answer", 1}}, state), "");
}

// The terminal sleeps in poll on the queue's descriptor: it must wake for
// every event and for the end, and not spin once the queue is drained.
TEST(TerminalTest, TheEventQueueWakesItsReaderForEventsAndForTheEnd) {
  host::EventQueue queue;
  auto readable = [&] {
    pollfd fd{queue.waitFd(), POLLIN, 0};
    return poll(&fd, 1, 0) == 1;
  };
  EXPECT_FALSE(readable());
  queue.Push(EventJson{{"event", "a"}});
  queue.Push(EventJson{{"event", "b"}});
  EXPECT_TRUE(readable());
  EXPECT_EQ(host::TextOf(*queue.Pop(), "event"), "a");
  EXPECT_TRUE(readable()) << "an event still waits";
  EXPECT_EQ(host::TextOf(*queue.Pop(), "event"), "b");
  EXPECT_FALSE(queue.Pop().has_value());
  EXPECT_FALSE(readable()) << "a drained queue lets its reader sleep";
  EXPECT_FALSE(queue.Closed());
  queue.Push(EventJson{{"event", "c"}});
  queue.Close();
  EXPECT_FALSE(queue.Closed()) << "the last event is still to be shown";
  EXPECT_TRUE(queue.Pop().has_value());
  EXPECT_FALSE(queue.Pop().has_value());
  EXPECT_TRUE(readable()) << "the end keeps waking the reader";
  EXPECT_TRUE(queue.Closed());
}

TEST(TerminalTest, IdleWatchReportsEachEdgeOnce) {
  using std::chrono::seconds;
  const auto start = host::IdleWatch::Clock::now();
  host::IdleWatch watch(seconds(60), start);
  EXPECT_FALSE(watch.Check(start + seconds(59)));
  EXPECT_GT(watch.TimeoutMs(start + seconds(59)), 0);
  EXPECT_TRUE(watch.Check(start + seconds(60)));
  EXPECT_FALSE(watch.Check(start + seconds(120))) << "idle is told once";
  EXPECT_EQ(watch.TimeoutMs(start + seconds(120)), -1);
  EXPECT_TRUE(watch.Input(start + seconds(121))) << "the first key ends the idle spell";
  EXPECT_FALSE(watch.Input(start + seconds(122)));
  host::IdleWatch never(seconds(0), start);
  EXPECT_FALSE(never.Check(start + seconds(100000)));
}

TEST(TerminalTest, TableCellsAreCutByCharactersAndKeptOnOneLine) {
  const std::string table = host::TextTable({"A"}, {{"żółćżółćżółć"}, {"x\ny"}}, 5, "");
  EXPECT_NE(table.find("żółć…"), std::string::npos) << table;
  EXPECT_NE(table.find("x y"), std::string::npos) << table;
}

}  // namespace
}  // namespace vask
