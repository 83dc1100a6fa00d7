// The first half of the Wine test host: one copy of vask.dll on the
// system's own mailslots, driven through every kind of host message it
// answers, with the bus seen by subscribers built to the runtime's layout.
#include "tests/wine/single_computer.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/wine/checks.h"
#include "tests/wine/import_patch.h"
#include "tests/wine/scenario.h"
#include "tests/wine/wine_host.h"

namespace wine {

namespace {

using namespace vask;  // the named host numbers

constexpr char kChannelSlot[] = "\\\\.\\mailslot\\Vask";
constexpr char kPopupSlot[] = "\\\\.\\mailslot\\messngr";
constexpr int32_t kPluginId = 7;
constexpr int32_t kSubscriberAll = 900;       // mask 15
constexpr int32_t kSubscriberReceived = 901;  // mask 2
const std::string kPeer = "PEER";             // a computer that is not here
// Windows-1250 bytes, independent of how this file is compiled.
const std::string kPolishText = "Cze\x9C\xE6 z Wine \xB9\xEA";
const std::string kUpperLucja = "\xA3UCJA";  // ŁUCJA
const std::string kLowerLucja = "\xB3ucja";  // łucja

// What the plug-in asked ShellExecuteA and WNetOpenEnumA (its imports of
// them point here: no browser starts, and the walk fails as on a computer
// without a network).
struct ShellCall {
  bool ownerNull;
  std::string operation, file, parameters, directory;
  int show;
};
std::vector<ShellCall> shellCalls;
int walkOpens = 0;
long long fakeNow = 0;

HINSTANCE WINAPI FakeShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                                   LPCSTR directory, INT show) {
  shellCalls.push_back(ShellCall{owner == nullptr, Text(operation), Text(file), Text(parameters),
                                 Text(directory), show});
  return reinterpret_cast<HINSTANCE>(42);
}

DWORD WINAPI FakeWNetOpenEnumA(DWORD, DWORD, DWORD, LPNETRESOURCEA, LPHANDLE handle) {
  ++walkOpens;
  if (handle) *handle = nullptr;
  return ERROR_NO_NETWORK;
}

long long __cdecl FakeTime64(long long* out) {
  if (out) *out = fakeNow;
  return fakeNow;
}

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  GetComputerNameA(name, &size);
  return name;
}

void PatchSystemCalls(HMODULE module) {
  shellCalls.clear();
  Check(PatchImport(module, "SHELL32.dll", "ShellExecuteA",
                    reinterpret_cast<void*>(&FakeShellExecuteA)) != nullptr,
        "the DLL imports ShellExecuteA from SHELL32.dll");
  Check(PatchImport(module, "MPR.DLL", "WNetOpenEnumA",
                    reinterpret_cast<void*>(&FakeWNetOpenEnumA)) != nullptr,
        "the DLL imports WNetOpenEnumA from MPR.DLL");
}

bool WaitSlot(bool present) {
  return WaitFor([&] { return SlotExists(kChannelSlot) == present; }, kWaitMs);
}

Word SetStatus(WineHost& host, int32_t status, const char* text = nullptr) {
  return host.Send(kMsgSetStatus, status, reinterpret_cast<Word>(text));
}

Word Action(WineHost& host, int32_t action, int32_t code, int32_t contact = -2) {
  ActionEventRecord event{};
  event.size = sizeof event;
  event.ref = ItemRef{action, 0, contact};
  event.code = code;
  return host.Send(kMsgAction, reinterpret_cast<Word>(&event));
}

std::string Answer(WineHost& host, int32_t id) {
  const Word p = host.Send(id);
  return p == 0 ? std::string("(null)") : std::string(reinterpret_cast<const char*>(p));
}

// A datagram from PEER into the channel slot; `seq` must grow for every
// new datagram (the plug-in drops a repeat of the last number).
bool FromPeer(int seq, const std::string& command, std::initializer_list<std::string> body,
              const std::string& me) {
  std::string bytes = Fields({std::to_string(seq), kPeer, me, command});
  for (const auto& field : body) {
    bytes += field;
    bytes += '\0';
  }
  return WriteDatagram(kChannelSlot, bytes);
}

bool WaitShown(WineHost& host, int32_t type, const std::string& body) {
  return WaitFor([&] { return FindShown(host.ShownMessages(), type, body).has_value(); }, kWaitMs);
}

bool WaitLog(WineHost& host, const std::string& part) {
  return WaitFor([&] { return host.LogContains(part); }, kWaitMs);
}

void LoadAndStart(WineHost& host, const std::string& dll) {
  std::string error;
  if (!Check(host.Load(dll, error), "vask.dll loads", "%s", error.c_str())) {
    Summary();
    ExitProcess(2);
  }
  PatchSystemCalls(host.module());
}

// ---- The groups ------------------------------------------------------------

void ConstantAnswers(WineHost& host, const std::string& me) {
  Group("answers before the control object");
  Check(host.Send(12345) == 0 && host.SetErrorCount() == 0,
        "an unknown id before 20001 answers 0 and calls no service");

  Group("start sequence");
  Check(host.Send(kMsgSetControl, reinterpret_cast<Word>(host.control())) == 1, "20001 answers 1");
  Check(host.Send(kMsgRegisterSettings) == 1, "21001 answers 1");
  Check(host.CountCalls(kMsgDefineColumn) == 10, "21001 declares ten settings columns", "%d",
        host.CountCalls(kMsgDefineColumn));
  Check(host.SettingText(kSettingChannel) == "Vask" && host.Setting(kSettingLastStatus) == 64 &&
            host.Setting(kSettingWinPopup) == 1,
        "the channel, last-status and WinPopup columns have their defaults");
  Check(host.Send(kMsgRegisterInterface) == 1, "22000 answers 1");
  Check(host.CountCalls(kMsgRegisterIcon) == 8, "22000 registers eight icons", "%d",
        host.CountCalls(kMsgRegisterIcon));
  Check(host.Send(kMsgStart) == 1, "22100 answers 1");
  const auto announces = host.Announces();
  Check(announces.size() == 1 && announces[0].status == 0, "22100 announces the status 0");
  Check(host.Send(kMsgOwnStatus) == 0, "with setting 11 at 0 no status is restored");

  Group("constant answers");
  const struct {
    int32_t id, answer;
  } numbers[] = {{kMsgInitialised, 1},       {kMsgInterfaceVersion, 2}, {kMsgPluginFlags, 64},
                 {kMsgMessageLimit, 100000}, {kMsgNetworkId, 15},       {kMsgNetworkFlags, 511}};
  for (const auto& n : numbers) {
    const int32_t got = host.Send(n.id);
    Check(got == n.answer, "a constant answer", "%d answered %d, want %d", n.id, got, n.answer);
  }
  const struct {
    int32_t id;
    const char* text;
  } texts[] = {{kMsgShortName, "Vask"},
               {kMsgDisplayName, "V.ask"},
               {kMsgNetworkName, "LAN"},
               {kMsgNetworkNameAgain, "LAN"},
               {kMsgHostWord, "Host"}};
  for (const auto& t : texts) {
    const std::string got = Answer(host, t.id);
    Check(got == t.text, "a constant text", "%d answered \"%s\", want \"%s\"", t.id, got.c_str(),
          t.text);
  }
  const Word info = host.Send(kMsgOwnStatusInfo);
  Check(info != 0 && reinterpret_cast<const char*>(info)[0] == '\0',
        "30032 answers an empty text in a buffer");
  Check(Answer(host, kMsgOwnId) == me, "30033 answers the computer name", "\"%s\"",
        Answer(host, kMsgOwnId).c_str());

  Group("the default path");
  const int errors = host.SetErrorCount();
  Check(host.Send(12345) == 0, "an unknown id answers 0");
  Check(host.SetErrorCount() == errors + 1, "an unknown id calls SetError with 1 once", "%d calls",
        host.SetErrorCount() - errors);
}

void CloakCommand(WineHost& host, const std::string& me) {
  Group("the cloak command");
  auto command = [&](int32_t type, int32_t flags, const std::string& body) {
    ChatRecord r(0, type, flags, "", body);
    return host.Send(kMsgChatCommand, reinterpret_cast<Word>(r.record()));
  };
  auto lastBox = [&] {
    const auto boxes = host.Boxes();
    return boxes.empty() ? std::string() : boxes.back().text;
  };
  Check(command(1, 2, "/vask cloak") == 2, "\"/vask cloak\" answers 2");
  Check(lastBox() == "Messenger cloak name - " + me, "\"/vask cloak\" shows the current name",
        "\"%s\"", lastBox().c_str());
  Check(command(1, 2, "/vask cloak set Ala") == 2, "\"/vask cloak set Ala\" answers 2");
  Check(host.LogContains(" - VASK cloak set to  Ala"),
        "the new name is logged with its leading blank");
  command(1, 2, "/vask cloak");
  Check(lastBox() == "Messenger cloak name -  Ala", "the name keeps its leading blank", "\"%s\"",
        lastBox().c_str());
  Check(command(1, 2, "/vask cloak set") == 2, "\"/vask cloak set\" answers 2");
  command(1, 2, "/vask cloakroom");
  Check(lastBox() == "Messenger cloak name - " + me, "a bare \"set\" restores the computer name",
        "\"%s\"", lastBox().c_str());
  Check(command(1, 2, "/VASK CLOAK") == 1, "the command word is matched exactly, case included");
  Check(command(1, 2, "hello") == 1, "another chat text answers 1");
  Check(command(1, 0, "/vask cloak") == 0, "a message without flag 2 answers 0");
  Check(command(0, 2, "/vask cloak") == 0, "a message of type 0 answers 0");
}

void StatusAndAutoAway(WineHost& host) {
  Group("status mapping");
  const struct {
    int32_t requested, stored;
  } cases[] = {{1, 34}, {100, 64}, {-5, 34}, {65, 65}, {34, 34}};
  for (const auto& c : cases) {
    SetStatus(host, c.requested);
    const int32_t got = host.Send(kMsgOwnStatus);
    Check(got == c.stored, "a requested status is mapped", "%d stored %d, want %d", c.requested,
          got, c.stored);
  }
  Check(WaitSlot(true), "a status other than 0 starts the engine and opens the channel slot");
  host.ClearRecords();
  SetStatus(host, -1, "opis");
  const auto announces = host.Announces();
  Check(announces.size() == 1 && announces[0].status == -1 && announces[0].text == "opis",
        "-1 with a text announces -1 and the text");
  Check(host.Send(kMsgOwnStatus) == 34 && Answer(host, kMsgOwnStatusInfo) == "opis",
        "-1 with a text changes only the text");
  host.SetAnnounceRewrite(65);
  SetStatus(host, 64);
  host.SetAnnounceRewrite(-1);
  Check(host.Send(kMsgOwnStatus) == 65, "the status the host writes back into 246 is the one kept");

  Group("auto-away");
  host.SetSetting(kSettingLastStatus, 64);
  Check(host.Send(kMsgAutoAwayBegin) == 0 && host.Send(kMsgOwnStatus) == 68,
        "33002 at 65 gives 68");
  Check(host.Send(kMsgAutoAwayEnd) == 0 && host.Send(kMsgOwnStatus) == 64,
        "33003 restores setting 15000");
  SetStatus(host, 34);
  host.Send(kMsgAutoAwayBegin);
  Check(host.Send(kMsgOwnStatus) == 34, "33002 leaves 34 alone");
  SetStatus(host, 64);
}

void Subscribe(WineHost& host) {
  Group("bus subscription");
  auto subscribe = [&](int32_t plugin, int32_t mask) {
    BusSubscribe r{};
    r.head.size = sizeof r;
    r.head.id = kMsgBusSubscribe;
    r.head.sender = plugin;
    r.mask = mask;
    return host.SendRecord(&r);
  };
  Check(subscribe(kSubscriberAll, 15) == 1, "the first subscription answers 1");
  Check(subscribe(kSubscriberReceived, 2) == 2, "a second plug-in's answers 2");
  Check(subscribe(kSubscriberAll, 15) == 2, "the same plug-in again answers 2");
}

void Notices(WineHost& host, const std::string& me) {
  Group("the four bus notices");
  SetStatus(host, 64, "");
  host.ClearRecords();
  SetStatus(host, 0);
  Check(WaitSlot(false), "status 0 stops the engine and closes its slot");
  auto events = [&](int32_t receiver, int32_t event) {
    int n = 0;
    for (const auto& b : host.BusNotices())
      n += b.receiver == receiver && b.id == kMsgBusEngine && b.event == event;
    return n;
  };
  Check(events(kSubscriberAll, kEventStopping) == 1,
        "a stop tells the mask-15 subscriber (55004 with 8)");
  SetStatus(host, 64);
  Check(WaitSlot(true), "status 64 starts the engine again");
  Check(WaitFor([&] { return events(kSubscriberAll, kEventStarted) == 1; }, kWaitMs),
        "the worker's start tells the mask-15 subscriber (55004 with 4)");
  Check(
      events(kSubscriberReceived, kEventStarted) + events(kSubscriberReceived, kEventStopping) == 0,
      "the mask-2 subscriber hears of no start or stop");

  // A GETSTATUS is answered with a STATUS to its sender: one 55002 before
  // the send, readable in the runtime's string layout.
  FromPeer(100, "GETSTATUS", {}, me);
  Check(WaitFor(
            [&] {
              return CountBus(host.BusNotices(), kSubscriberAll, kMsgBusReceived, "GETSTATUS") == 1;
            },
            kWaitMs),
        "a received datagram reaches the subscriber as 55003 with its fields");
  bool sentSeen = WaitFor(
      [&] {
        for (const auto& b : host.BusNotices())
          if (b.id == kMsgBusSent && b.command == "STATUS" && b.target == kPeer) return true;
        return false;
      },
      kWaitMs);
  Check(sentSeen,
        "the answer is offered as 55002 with target, command and body in the runtime's layout");
  for (const auto& b : host.BusNotices()) {
    if (b.id == kMsgBusSent && b.command == "STATUS" && b.target == kPeer) {
      Check(b.size == sizeof(BusSent) && b.body == std::string("64\0002097152\0", 11),
            "the 55002 record and its body", "size %d, body of %u bytes", b.size,
            static_cast<unsigned>(b.body.size()));
      break;
    }
  }
  for (const auto& b : host.BusNotices()) {
    if (b.id == kMsgBusReceived && b.receiver == kSubscriberAll && b.command == "GETSTATUS") {
      Check(b.readable && b.size == sizeof(BusReceived) && b.fields.size() == 4 &&
                b.fields[0] == "100" && b.fields[1] == kPeer && b.fields[2] == me &&
                b.contact == -1,
            "the 55003 record carries the fields in order and the contact -1",
            "readable %d, %u fields", b.readable, static_cast<unsigned>(b.fields.size()));
      break;
    }
  }
  Check(CountBus(host.BusNotices(), kSubscriberReceived, kMsgBusSent) == 0,
        "the mask-2 subscriber gets no 55002");

  Group("a claimed unknown command");
  host.ClaimCommand("CUSTOM");
  FromPeer(101, "CUSTOM", {"dane"}, me);
  FromPeer(102, "OTHER", {}, me);
  Check(WaitLog(host, "e=\"Unsupported\""),
        "an unclaimed unknown command is rejected as unsupported");
  Check(!host.LogContains("CUSTOM"), "a command a subscriber claimed passes without a log line");
  Check(CountBus(host.BusNotices(), kSubscriberReceived, kMsgBusReceived, "CUSTOM") == 1,
        "the claimed datagram was offered to every mask-2 subscriber");
}

void Rejections(WineHost& host, const std::string& me) {
  Group("rejections on a host-started thread");
  host.ClearRecords();
  Check(WriteDatagram(kChannelSlot, Fields({"110", kPeer, me})), "a 3-field datagram is written");
  Check(WaitLog(host, "Dotarl nieprawidlowy pakiet cmd=1 body=\"110|" + kPeer + "|" + me +
                          "|\" e=\"Too short\""),
        "a 3-field datagram is rejected \"Too short\" with its fields shown");
  WriteDatagram(kChannelSlot, Fields({"12", "PC1", "*", "STATUS", "64", "2097152", ""}));
  Check(WaitLog(host,
                "Dotarl nieprawidlowy pakiet cmd=1 body=\"12|PC1|*|STATUS|64|2097152||\" e=\"Not "
                "on list\""),
        "a STATUS from a computer that is no contact is logged as documented");
  FromPeer(111, "MESSAGE", {"1", "po odrzuceniu", "65A1B2C3"}, me);
  Check(WaitShown(host, 1, "po odrzuceniu"), "the worker goes on after its rejections");
  Check(host.ThreadsStarted() >= 1, "the worker runs on a thread the host started");

  Group("duplicates");
  FromPeer(120, "MESSAGE", {"2", "pierwsza", "65A1B2C3"}, me);
  FromPeer(120, "MESSAGE", {"2", "pierwsza", "65A1B2C3"}, me);
  FromPeer(121, "MESSAGE", {"3", "druga", "65A1B2C3"}, me);
  Check(WaitShown(host, 1, "druga"), "the datagram after the repeat is delivered");
  int copies = 0;
  for (const auto& m : host.ShownMessages()) copies += m.body == "pierwsza";
  Check(copies == 1, "a repeat of the last sequence number is dropped", "%d copies", copies);
  Check(!host.LogContains("pierwsza"), "a dropped repeat leaves no log line");

  Group("received messages");
  FromPeer(122, "MESSAGE", {"4", kPolishText, "65A1B2C3"}, me);
  Check(WaitShown(host, 1, kPolishText), "a LAN message in Windows-1250 is delivered as 100");
  if (const auto m = FindShown(host.ShownMessages(), 1, kPolishText)) {
    Check(m->net == kNetLan && m->from == kPeer && m->icon == 0x50F00010 && m->flags == 128,
          "the message record's net, sender, icon and flags");
    Check(m->time == 0x65A1B2C3, "the message keeps the sender's time", "%lld",
          static_cast<long long>(m->time));
  }
  Check(WriteDatagram(kPopupSlot, Fields({kPeer, me, "WinPopup z Wine"})),
        "WinPopup emulation opened messngr");
  Check(WaitShown(host, 1, "WinPopup z Wine"), "a WinPopup datagram is delivered as 100");
}

void BusSendLayout(WineHost& host, const std::string& me) {
  Group("55001 in the runtime's string layout");
  SetStatus(host, 0);
  Check(WaitSlot(false), "the engine stopped");
  // The engine still sends while stopped, to the channel of its last
  // start; the test host owns that slot now and reads what arrives.
  HANDLE slot = CreateMailslotA(kChannelSlot, 0, 0, nullptr);
  if (!Check(slot != INVALID_HANDLE_VALUE, "the test host opens the channel slot itself")) return;
  auto send = [&](const std::string& target, const std::string& command, const std::string& body) {
    OwnedRuntimeString t(target), c(command), b(body);
    BusSend r{};
    r.head.size = sizeof r;
    r.head.id = kMsgBusSend;
    r.target = t.object();
    r.command = c.object();
    r.body = b.object();
    return host.SendRecord(&r);
  };
  auto next = [&] {
    DWORD size = 0, count = 0;
    std::string bytes;
    if (!GetMailslotInfo(slot, nullptr, &size, &count, nullptr) || count == 0) return bytes;
    bytes.resize(size);
    DWORD read = 0;
    if (!ReadFile(slot, bytes.data(), size, &read, nullptr)) return std::string();
    bytes.resize(read);
    return bytes;
  };
  auto tail = [&](const std::string& datagram) {  // everything after "<seq>\0<me>\0"
    const size_t first = datagram.find('\0');
    const size_t second = first == std::string::npos ? first : datagram.find('\0', first + 1);
    return second == std::string::npos ? std::string() : datagram.substr(second + 1);
  };
  host.ClearRecords();
  const std::string longCommand = "KOMENDA-DLUGA-PONAD-16";
  const std::string longBody =
      std::string("pierwsze pole\0drugie pole ponad szesnascie\0", 44) + "koniec";
  Check(send(".", longCommand, longBody) == 1, "55001 with long (pointed-to) texts answers 1");
  std::string got = next();
  std::string want = std::string(".\0", 2) + longCommand + '\0' + longBody + '\0';
  Check(tail(got) == want, "the long-text datagram is written byte for byte",
        "%u bytes after the header", static_cast<unsigned>(tail(got).size()));
  const size_t seqEnd = got.find('\0');
  Check(seqEnd != std::string::npos && seqEnd > 0 &&
            got.find_first_not_of("0123456789") == seqEnd &&
            got.compare(seqEnd + 1, me.size() + 1, me + '\0') == 0,
        "the datagram starts with a sequence number and the own name");
  const std::string shortBody("a\0b", 3);
  Check(send(".", "PING", shortBody) == 1, "55001 with short (inline) texts answers 1");
  got = next();
  want = std::string(".\0PING\0a\0b\0", 11);
  Check(tail(got) == want, "the inline-text datagram is written byte for byte, its NUL kept");
  int matched = 0;
  for (const auto& b : host.BusNotices()) {
    if (b.id != kMsgBusSent || b.receiver != kSubscriberAll) continue;
    matched += (b.target == "." && b.command == longCommand && b.body == longBody) ||
               (b.target == "." && b.command == "PING" && b.body == shortBody);
  }
  Check(matched == 2, "both sends were offered as 55002 with the same texts", "%d matched",
        matched);
  Check(send("NOBODY-HERE", "PING", "") == 0,
        "55001 to a computer that cannot be reached answers 0");
  CloseHandle(slot);
  SetStatus(host, 64);
  Check(WaitSlot(true), "the engine starts again");
}

void Actions(WineHost& host) {
  Group("actions");
  host.SetSettingText(kSettingHostFolder, "C:\\vask\\");
  host.ClearRecords();
  Check(Action(host, kItemHelp, kActionActivated) == 1, "the help button answers 1");
  Check(shellCalls.size() == 1, "the help button calls ShellExecuteA once", "%u calls",
        static_cast<unsigned>(shellCalls.size()));
  if (!shellCalls.empty()) {
    const ShellCall& c = shellCalls.back();
    Check(c.ownerNull && c.operation == "open" && c.file == "C:\\vask\\doc/Vask.html" &&
              c.parameters.empty() && c.directory.empty() && c.show == SW_SHOW,
          "ShellExecuteA opens setting 3 joined with doc/Vask.html", "\"%s\" \"%s\" show %d",
          c.operation.c_str(), c.file.c_str(), c.show);
  }
  Check(Action(host, kItemHelp, kActionShowing) == 0 && shellCalls.size() == 1,
        "help acts only on event 1");
  const size_t callsBefore = host.Calls().size();
  Check(Action(host, 0x11000001, kActionActivated) == 0 && host.Calls().size() == callsBefore,
        "an action of the 0x11 family answers 0 and calls nothing");
  Check(Action(host, kItemRefreshAll, kActionActivated) == 1, "refresh-all answers 1");
  const auto boxes = host.Boxes();
  Check(!boxes.empty() && boxes.back().id == kMsgInfoBox && boxes.back().size == kMessage4 &&
            boxes.back().title == "Vask",
        "refresh-all shows a 38-byte information box titled Vask");
  Action(host, kItemStatusBrb, kActionActivated);
  Check(host.Send(kMsgOwnStatus) == 65, "the status menu's 15102 sets 65");
  Action(host, kItemStatusOffline, kActionActivated);
  Check(host.Send(kMsgOwnStatus) == 0 && WaitSlot(false), "15100 sets 0 and stops the engine");
  host.ClearRecords();
  Action(host, kItemRefreshOwn, kActionShowing, 0);
  const auto items = host.ItemStatuses();
  Check(items.size() == 1 && items[0].action == kItemRefreshOwn && items[0].status == -1 &&
            items[0].mask == 1,
        "15120 is withdrawn while the engine is stopped");
  Action(host, kItemStatusAvailable, kActionActivated);
  Check(host.Send(kMsgOwnStatus) == 64 && WaitSlot(true), "15101 sets 64 and starts the engine");
}

void Query(WineHost& host) {
  Group("a query, pumped, then cancelled");
  host.ClearRecords();
  FoundContactRecord request = SearchRequest(0, "");
  const DWORD me = GetCurrentThreadId();
  int32_t answer = -1;
  {
    Canceller cancel(host, me,
                     [&] { return LastNotice(host.Notices(), kMsgSearchNoticeShow).has_value(); });
    Watchdog dog("host message 24010 (a query)", 3 * kWaitMs);
    answer = host.Send(kMsgSearch, reinterpret_cast<Word>(&request));
    cancel.Finished();
    Check(cancel.posted() && cancel.pumped(),
          "the thread that sent 24010 pumps its messages while it waits, and Cancel reaches the "
          "notice");
  }
  Check(answer == 0, "24010 answers 0 once the query is cancelled");
  Check(request.status == 1, "a request without a name becomes a query (status 1)");
  const auto notices = host.Notices();
  const auto shown = LastNotice(notices, kMsgSearchNoticeShow);
  const auto hidden = LastNotice(notices, kMsgSearchNoticeHide);
  Check(shown && hidden && shown->record == hidden->record,
        "the notice is shown and removed with the same record");
  if (shown) {
    Check(shown->title == "Vask - wyszukiwanie" && shown->text.rfind("Zapytanie zosta", 0) == 0,
          "the notice's title and query text");
    Check(shown->threadId == static_cast<int32_t>(shown->calledOn) && shown->calledOn != me,
          "the notice is built on the search thread, not the host's");
  }
  bool pumpedHere = false;
  for (DWORD t : host.PumpThreads()) pumpedHere |= t == me;
  Check(pumpedHere, "PumpMessages was called on the host thread that waits");
  bool querySent = false;
  for (const auto& b : host.BusNotices()) {
    if (b.id == kMsgBusSent && b.command == "SEARCH" && b.target == "*") {
      querySent = std::count(b.body.begin(), b.body.end(), '\0') == 8 && b.body.rfind("2", 0) == 0;
    }
  }
  Check(querySent, "the query goes to \"*\" with its nine body fields");
}

void WalkFailure(WineHost& host) {
  Group("the neighbourhood walk's failure box");
  host.ClearRecords();
  walkOpens = 0;
  FoundContactRecord request = SearchRequest(0, "*");
  int32_t answer = -1;
  {
    Watchdog dog("host message 24010 (a walk)", kWaitMs);
    answer = host.Send(kMsgSearch, reinterpret_cast<Word>(&request));
  }
  Check(answer == 0 && walkOpens == 1, "the walk tries to open the enumeration once and answers 0");
  const auto boxes = host.Boxes();
  Check(boxes.size() == 1 && boxes[0].id == kMsgErrorBox &&
            boxes[0].text ==
                "Wyst\xB9pi\xB3 b\xB3\xB9"
                "d podczas wyszukiwania!",
        "a failed enumeration shows one error box");
  Check(request.uid[0] == '\0', "the request's \"*\" is cleared");
  const auto notices = host.Notices();
  const auto shown = LastNotice(notices, kMsgSearchNoticeShow);
  Check(shown &&
            shown->text.rfind("Wybra\xB3"
                              "e\x9C wyszukiwanie",
                              0) == 0 &&
            LastNotice(notices, kMsgSearchNoticeHide).has_value(),
        "the walk's notice is shown and removed");
}

void Locale(WineHost& host, const std::string& me) {
  Group("case folding under a Polish locale");
  // The host sets its locale; the plug-in must still fold only A to Z.
  const char* locale = std::setlocale(LC_ALL, "Polish_Poland.1250");
  if (locale == nullptr) locale = std::setlocale(LC_ALL, ".1250");
  Check(locale != nullptr, "the host can set a Windows-1250 locale");
  host.SetContactText(0, kColumnFirstName, kUpperLucja);
  host.ClearRecords();
  auto query = [&](int seq, const std::string& criterion) {
    return FromPeer(seq, "SEARCH", {"2", criterion, "", "", "", "", "", "", ""}, me);
  };
  query(130, kLowerLucja);  // differs in its Polish letter: no match
  query(131, "ucja");       // A to Z only: matches
  Check(WaitFor(
            [&] {
              return CountBus(host.BusNotices(), kSubscriberAll, kMsgBusSent, "SEARCHREPLY") >= 1;
            },
            kWaitMs),
        "a criterion in lower case matches the own text in upper case");
  Check(CountBus(host.BusNotices(), kSubscriberAll, kMsgBusSent, "SEARCHREPLY") == 1,
        "a criterion whose Polish letter differs in case does not match");
  std::setlocale(LC_ALL, "C");
  host.SetContactText(0, kColumnFirstName, "");
}

void StopStartCycles(WineHost& host, const std::string& me) {
  Group("stop and start cycles");
  int before = 0;
  for (const auto& b : host.BusNotices())
    before += b.id == kMsgBusEngine && b.receiver == kSubscriberAll;
  for (int cycle = 0; cycle < 3; ++cycle) {
    SetStatus(host, 0);
    Check(WaitSlot(false), "a stop closes the slot", "cycle %d", cycle);
    SetStatus(host, 64);
    Check(WaitSlot(true), "a start opens it again", "cycle %d", cycle);
    const std::string text = "cykl " + std::to_string(cycle);
    FromPeer(140 + cycle, "MESSAGE", {std::to_string(10 + cycle), text, "65A1B2C3"}, me);
    Check(WaitShown(host, 1, text), "the restarted engine delivers", "cycle %d", cycle);
  }
  int after = 0;
  for (const auto& b : host.BusNotices())
    after += b.id == kMsgBusEngine && b.receiver == kSubscriberAll;
  Check(after - before == 6, "each cycle tells the bus of one stop and one start", "%d notices",
        after - before);
}

void Time64(WineHost& host, const std::string& me) {
  Group("64-bit time");
  const bool has64 = Imports(host.module(), "msvcrt.dll", "_time64");
  Check(has64, "the DLL takes the time with _time64");
  Check(!Imports(host.module(), "msvcrt.dll", "time"), "the DLL does not call the 32-bit time");
  if (!has64) return;
  fakeNow = 0x100000000LL + 12345;  // in 2106
  void* real =
      PatchImport(host.module(), "msvcrt.dll", "_time64", reinterpret_cast<void*>(&FakeTime64));
  WriteDatagram(kPopupSlot, Fields({kPeer, me, "po roku 2038"}));
  Check(WaitShown(host, 1, "po roku 2038"), "a WinPopup message is delivered");
  if (const auto m = FindShown(host.ShownMessages(), 1, "po roku 2038")) {
    Check(m->time == fakeNow, "its receipt time after 2038 is kept whole", "%lld",
          static_cast<long long>(m->time));
  }
  PatchImport(host.module(), "msvcrt.dll", "_time64", real);
}

void ShortRecords(WineHost& host) {
  Group("records shorter than their layout");
  GuardedRecord memory;
  auto* send = static_cast<BusSend*>(memory.At(30));
  send->head.size = 30;
  send->head.id = kMsgBusSend;
  const int logs = static_cast<int>(host.Logs().size());
  Check(host.SendRecord(send) == 0, "a 30-byte 55001 answers 0 without reading past its end");
  auto* subscribe = static_cast<BusSubscribe*>(memory.At(24));
  subscribe->head.size = 24;
  subscribe->head.id = kMsgBusSubscribe;
  subscribe->head.sender = 950;
  Check(host.SendRecord(subscribe) == 0, "a 24-byte 55000 answers 0 without reading past its end");
  Check(static_cast<int>(host.Logs().size()) >= logs + 2, "each refused record leaves a log line");

  // An ordinary message's size field is not the dispatch's business.
  Message loose{};
  loose.size = 22;  // the head alone
  loose.id = kMsgSetStatus;
  loose.p1 = 65;
  host.SendRecord(&loose);
  Check(host.Send(kMsgOwnStatus) == 65, "a loosely sized 33005 still reaches its handler");
  SetStatus(host, 64);
}

void ShutdownAndReload(WineHost& host, const std::string& dll, const std::string& me) {
  Group("shutdown, unload and load again");
  Check(host.Send(kMsgShutdown) == 1, "22101 answers 1");
  Check(!SlotExists(kChannelSlot), "22101 waits for the worker and closes the slot");
  Check(host.Unload(), "FreeLibrary succeeds");
  LoadAndStart(host, dll);
  host.ClearRecords();
  host.StartSequence();
  SetStatus(host, 64);
  Check(WaitSlot(true), "the reloaded plug-in starts its engine");
  FromPeer(1, "MESSAGE", {"1", "po ponownym zaladowaniu", "65A1B2C3"}, me);
  Check(WaitShown(host, 1, "po ponownym zaladowaniu"), "the reloaded plug-in delivers");
  Check(host.Send(kMsgShutdown) == 1 && !SlotExists(kChannelSlot),
        "the second shutdown closes the slot");
  Check(host.Unload(), "the second FreeLibrary succeeds");
}

}  // namespace

void RunSingleComputer(const std::string& dll) {
  Group("single computer: load");
  const std::string me = ComputerName();
  if (!Check(!SlotExists(kChannelSlot), "no other copy holds the channel slot")) return;
  WineHost host(kPluginId);
  host.SetSetting(kSettingRestoreStatus, 0);
  host.SetSetting(kSettingNotices, 1);
  host.AddContact("KONTAKT");
  LoadAndStart(host, dll);

  ConstantAnswers(host, me);
  CloakCommand(host, me);
  StatusAndAutoAway(host);
  Subscribe(host);
  Notices(host, me);
  Rejections(host, me);
  BusSendLayout(host, me);
  Actions(host);
  Query(host);
  WalkFailure(host);
  Locale(host, me);
  StopStartCycles(host, me);
  Time64(host, me);
  ShortRecords(host);
  ShutdownAndReload(host, dll, me);
}

}  // namespace wine
