// The second half of the Wine test host: two copies of vask.dll, loaded
// under two file names in one process, each with its own computer name and
// slots through the relay, talk to each other as two computers would.
#include "tests/wine/two_computers.h"

#include <cstdio>
#include <string>
#include <vector>

#include "tests/wine/checks.h"
#include "tests/wine/lan_relay.h"
#include "tests/wine/scenario.h"
#include "tests/wine/wine_host.h"

namespace wine {

namespace {

using namespace vask;  // the named host numbers

constexpr int32_t kSubscriber = 900;
const std::string kAlpha = "ALPHA";
const std::string kBravo = "BRAVO";
const std::string kLostText = "zaginiona w sieci";
// Windows-1250 bytes, independent of how this file is compiled.
const std::string kHello = "Cze\x9C\xE6, Bravo!";
const std::string kLikelyLost = "Wiadomo\x9C\xE6 \"" + kLostText +
                                "\" prawdopodobnie nie zosta\xB3"
                                "a dostarczona.";
const std::string kLateDelivery =
    "Wiadomo\x9C\xE6 jednak zosta\xB3"
    "a dostarczona :)";

// A copy of the DLL under another name: Windows loads a second module only
// for a second file.
bool CopyDll(const std::string& dll, const std::string& folder, const char* name,
             std::string& out) {
  out = folder + "\\" + name;
  return CopyFileA(dll.c_str(), out.c_str(), FALSE) != FALSE;
}

struct Computer {
  Computer(int32_t pluginId, std::string name) : host(pluginId), name(std::move(name)) {}
  WineHost host;
  std::string name;
  int peerRow = 0;
};

bool Join(Computer& c, int copy, const std::string& path, const std::string& peer) {
  std::string error;
  if (!Check(c.host.Load(path, error), "a copy of the DLL loads", "%s", error.c_str()))
    return false;
  if (!Check(JoinRelay(copy, c.host.module(), c.name, error),
             "the copy's imports are joined to the relay", "%s", error.c_str()))
    return false;
  c.host.SetSetting(kSettingRestoreStatus, 0);
  c.host.SetSetting(kSettingNotices, 1);
  c.peerRow = c.host.AddContact(peer);
  c.host.StartSequence();
  // The LAN protocol for every message: no WinPopup fallback to think of.
  c.host.SetSetting(kSettingWinPopup, 0);
  BusSubscribe r{};
  r.head.size = sizeof r;
  r.head.id = kMsgBusSubscribe;
  r.head.sender = kSubscriber;
  r.mask = 15;
  c.host.SendRecord(&r);
  return true;
}

bool SawStatus(WineHost& host, int row, int32_t status) {
  for (const auto& s : host.ContactStatuses())
    if (s.row == row && s.status == status) return true;
  return false;
}

Word SendMessageTo(Computer& from, int32_t id, const std::string& to, const std::string& text) {
  ChatRecord r(id, 1, 0, to, text);
  return from.host.Send(kMsgSendMessage, reinterpret_cast<Word>(r.record()));
}

bool Found(WineHost& host, const std::string& uid) {
  for (const auto& f : host.FoundContacts())
    if (f.uid == uid) return true;
  return false;
}

Word BusSendFrom(Computer& from, const std::string& target, const std::string& command,
                 const std::string& body) {
  OwnedRuntimeString t(target), c(command), b(body);
  BusSend r{};
  r.head.size = sizeof r;
  r.head.id = kMsgBusSend;
  r.target = t.object();
  r.command = c.object();
  r.body = b.object();
  return from.host.SendRecord(&r);
}

void Presence(Computer& a, Computer& b) {
  Group("two computers: presence both ways");
  a.host.Send(kMsgSetStatus, 64);
  b.host.Send(kMsgSetStatus, 64);
  Check(WaitFor([&] { return SawStatus(a.host, a.peerRow, 64); }, kWaitMs),
        "ALPHA sees BRAVO available");
  Check(WaitFor([&] { return SawStatus(b.host, b.peerRow, 64); }, kWaitMs),
        "BRAVO sees ALPHA available");
  b.host.Send(kMsgSetStatus, 34, reinterpret_cast<Word>("zaraz"));
  Check(WaitFor([&] { return SawStatus(a.host, a.peerRow, 34); }, kWaitMs),
        "ALPHA sees BRAVO's change to 34");
  bool text = false;
  for (const auto& s : a.host.ContactStatuses())
    text |= s.row == a.peerRow && s.status == 34 && s.text == "zaraz";
  Check(text, "the status description comes along");
  b.host.Send(kMsgSetStatus, 64, reinterpret_cast<Word>(""));
}

void MessageAndAcknowledgement(Computer& a, Computer& b) {
  Group("two computers: a message and its acknowledgement");
  a.host.ClearRecords();
  b.host.ClearRecords();
  ForgetRelayWrites();
  Check(SendMessageTo(a, 501, kBravo, kHello) == 8, "30100 answers 8");
  Check(WaitFor([&] { return a.host.SendResults().count(501) != 0; }, kWaitMs),
        "ALPHA reports the send (108)");
  Check(a.host.SendResults()[501] == 1, "the send succeeded");
  Check(WaitFor([&] { return FindShown(b.host.ShownMessages(), 1, kHello).has_value(); }, kWaitMs),
        "BRAVO shows the message");
  if (const auto m = FindShown(b.host.ShownMessages(), 1, kHello)) {
    Check(m->from == kAlpha && m->net == kNetLan, "it comes from ALPHA on the LAN network");
  }
  bool acked = WaitFor(
      [&] {
        for (const auto& w : RelayWrites())
          if (w.fromCopy == 1 && w.delivered &&
              w.data.find(std::string("\0MESSAGEACK\0", 12)) != std::string::npos)
            return true;
        return false;
      },
      kWaitMs);
  Check(acked, "BRAVO acknowledges it to ALPHA");
}

void LikelyLost(Computer& a, Computer& b) {
  Group("two computers: the likely-lost notice");
  a.host.ClearRecords();
  HoldDatagramsTo(kBravo);
  SendMessageTo(a, 502, kBravo, kLostText);
  Check(WaitFor([&] { return a.host.SendResults().count(502) != 0; }, kWaitMs) &&
            a.host.SendResults()[502] == 1,
        "the datagram was written: the network lost it");
  // Expiry takes more than 10 s after the send.
  Check(WaitFor([&] { return FindShown(a.host.ShownMessages(), 2, kLikelyLost).has_value(); },
                2 * kWaitMs),
        "ALPHA reports the unacknowledged message as likely lost");
  int notices = 0;
  for (const auto& m : a.host.ShownMessages()) notices += m.type == 2;
  Check(notices == 1, "only the lost message is reported (the acknowledged one is not)",
        "%d notices", notices);
  if (const auto m = FindShown(a.host.ShownMessages(), 2, kLikelyLost)) {
    Check(m->from == kBravo, "the notice is about BRAVO");
  }
  ReleaseHeld();
  Check(
      WaitFor([&] { return FindShown(b.host.ShownMessages(), 1, kLostText).has_value(); }, kWaitMs),
      "the held datagram reaches BRAVO late");
  Check(WaitFor([&] { return FindShown(a.host.ShownMessages(), 2, kLateDelivery).has_value(); },
                kWaitMs),
        "the late acknowledgement is reported as a delivery after all");
}

void QueryAnswered(Computer& a, Computer& b) {
  Group("two computers: a query answered by the other copy");
  b.host.SetContactText(0, kColumnFirstName, "Bravo");
  a.host.ClearRecords();
  FoundContactRecord request = SearchRequest(0, "", "rav");
  const DWORD me = GetCurrentThreadId();
  int32_t answer = -1;
  {
    Canceller cancel(a.host, me, [&] { return Found(a.host, kBravo); });
    Watchdog dog("host message 24010 on ALPHA", 3 * kWaitMs);
    answer = a.host.Send(kMsgSearch, reinterpret_cast<Word>(&request));
    cancel.Finished();
    Check(cancel.posted() && cancel.pumped(),
          "ALPHA's waiting thread pumps, and Cancel ends the query");
  }
  Check(answer == 0, "24010 answers 0");
  Check(Found(a.host, kBravo), "BRAVO answered the query");
  for (const auto& f : a.host.FoundContacts()) {
    if (f.uid == kBravo) {
      Check(f.net == kNetLan && f.column6 == "Bravo",
            "the found contact carries BRAVO's own details");
    }
  }
  Check(!Found(a.host, kAlpha), "ALPHA, whose own details do not match, does not answer itself");

  Group("two computers: a targeted query");
  a.host.ClearRecords();
  FoundContactRecord targeted = SearchRequest(1, kBravo);
  {
    Canceller cancel(a.host, me, [&] { return Found(a.host, kBravo); });
    Watchdog dog("a targeted 24010 on ALPHA", 3 * kWaitMs);
    a.host.Send(kMsgSearch, reinterpret_cast<Word>(&targeted));
  }
  Check(Found(a.host, kBravo), "BRAVO answers a query sent to it alone");
}

void Bus(Computer& a, Computer& b) {
  Group("two computers: the bus between copies");
  b.host.ClearRecords();
  b.host.ClaimCommand("VASKTEST");
  const std::string body("pole 1\0pole drugie, dluzsze niz szesnascie", 42);
  Check(BusSendFrom(a, kBravo, "VASKTEST", body) == 1, "55001 to BRAVO answers 1");
  bool seen = WaitFor(
      [&] { return CountBus(b.host.BusNotices(), kSubscriber, kMsgBusReceived, "VASKTEST") == 1; },
      kWaitMs);
  Check(seen, "BRAVO's subscriber gets the datagram as 55003");
  for (const auto& n : b.host.BusNotices()) {
    if (n.id == kMsgBusReceived && n.command == "VASKTEST") {
      Check(n.fields.size() == 6 && n.fields[1] == kAlpha && n.fields[2] == kBravo &&
                n.fields[4] == "pole 1" && n.fields[5] == "pole drugie, dluzsze niz szesnascie",
            "its fields, in the runtime's list and string layout", "%u fields",
            static_cast<unsigned>(n.fields.size()));
      Check(n.contact == b.peerRow, "the 55003 record names ALPHA's contact row");
    }
  }
  Check(!b.host.LogContains("VASKTEST"), "a claimed command is not rejected");

  ForgetRelayWrites();
  Check(BusSendFrom(a, kBravo, "DUZY", std::string(500, 'x')) == 0,
        "a datagram above 424 bytes to another computer is refused and answers 0");
  bool refused = false;
  for (const auto& w : RelayWrites()) refused |= !w.delivered && w.size > kMaxRemoteWrite;
  Check(refused, "the relay refused the long write, as a network would");
}

void RemoteMailslotsOff(Computer& a, Computer& b) {
  Group("two computers: remote mailslots switched off");
  a.host.ClearRecords();
  SwitchRemoteMailslots(0, false);
  auto boxes = [&] {
    int n = 0;
    for (const auto& box : a.host.Boxes())
      n += box.id == kMsgErrorBox && box.text.find("Enable remote mailslots") != std::string::npos;
    return n;
  };
  SendMessageTo(a, 601, kBravo, "pierwsza przy wylaczonych");
  SendMessageTo(a, 602, kBravo, "druga przy wylaczonych");
  Check(WaitFor([&] { return a.host.SendResults().count(601) && a.host.SendResults().count(602); },
                kWaitMs),
        "both sends are reported");
  Check(a.host.SendResults()[601] == 0 && a.host.SendResults()[602] == 0, "both sends failed");
  Check(WaitFor([&] { return boxes() >= 1; }, kWaitMs),
        "the user is told how to switch remote mailslots on");
  Check(boxes() == 1, "one box per engine start, not one per datagram", "%d boxes", boxes());
  bool logged = false;
  for (const auto& line : a.host.Logs()) logged |= line.find("3025") != std::string::npos;
  Check(logged, "the log line keeps the error code 3025");
  a.host.Send(kMsgSetStatus, 0);
  a.host.Send(kMsgSetStatus, 64);
  SendMessageTo(a, 603, kBravo, "po ponownym starcie");
  Check(WaitFor([&] { return boxes() == 2; }, kWaitMs), "a new engine start tells the user again");
  SwitchRemoteMailslots(0, true);
  (void)b;
}

}  // namespace

void RunTwoComputers(const std::string& dll) {
  Group("two computers: load two copies");
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string folder =
      std::string(temp) + "vask-two-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string pathA, pathB;
  if (!Check(CopyDll(dll, folder, "vask_alpha.dll", pathA) &&
                 CopyDll(dll, folder, "vask_bravo.dll", pathB),
             "the DLL is copied under two names"))
    return;
  {
    Computer a(7, kAlpha);
    Computer b(8, kBravo);
    if (!Join(a, 0, pathA, kBravo) || !Join(b, 1, pathB, kAlpha)) return;
    Check(a.host.module() != b.host.module(), "the two copies are two modules");
    Check(std::string(reinterpret_cast<const char*>(a.host.Send(kMsgOwnId))) == kAlpha &&
              std::string(reinterpret_cast<const char*>(b.host.Send(kMsgOwnId))) == kBravo,
          "each copy knows its own computer name");

    Presence(a, b);
    MessageAndAcknowledgement(a, b);
    LikelyLost(a, b);
    QueryAnswered(a, b);
    Bus(a, b);
    RemoteMailslotsOff(a, b);

    Group("two computers: shutdown");
    Check(a.host.Send(kMsgShutdown) == 1 && b.host.Send(kMsgShutdown) == 1,
          "22101 answers 1 on both");
    Check(OpenRelaySlots() == 0, "both copies closed their slots", "%d open", OpenRelaySlots());
    Check(a.host.Unload() && b.host.Unload(), "both copies unload");
  }
  DeleteFileA(pathA.c_str());
  DeleteFileA(pathB.c_str());
  RemoveDirectoryA(folder.c_str());
}

}  // namespace wine
