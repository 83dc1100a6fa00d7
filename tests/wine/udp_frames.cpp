// The plug-in's UDP path on Wine's sockets: with the transport set to
// "udp" the copy binds port 41925 and shows a message that a plain socket
// of the test sends it as a frame from 127.0.0.1, drops a forged one, and
// answers the sender it learned there with a frame that the test's socket
// receives and reads by the layout alone (magic, version, flags, slot,
// sender, the datagram).
#include "tests/wine/udp_frames.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/wine/checks.h"
#include "tests/wine/scenario.h"
#include "tests/wine/wine_host.h"

namespace wine {

namespace {

using namespace vask;  // the named host numbers

constexpr int32_t kPluginId = 9;
constexpr u_short kPort = 41925;
constexpr char kChannelSlot[] = "\\\\.\\mailslot\\Vask";
const std::string kPeer = "PEER";

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  GetComputerNameA(name, &size);
  return name;
}

std::string Frame(const std::string& sender, const std::string& datagram) {
  std::string frame = std::string("VASK\x01\x01", 6) + "Vask";
  frame += '\0';
  frame += sender;
  frame += '\0';
  return frame + datagram;
}

sockaddr_in Loopback(u_short port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return to;
}

bool SendFrame(const std::string& bytes) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return false;
  const sockaddr_in to = Loopback(kPort);
  const int sent = sendto(s, bytes.data(), static_cast<int>(bytes.size()), 0,
                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
  closesocket(s);
  return sent == static_cast<int>(bytes.size());
}

// The port, once the copy has let it go (bounded).
SOCKET BindPort() {
  SOCKET s = INVALID_SOCKET;
  WaitFor(
      [&] {
        s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(kPort);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(s, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0) return true;
        closesocket(s);
        s = INVALID_SOCKET;
        return false;
      },
      kWaitMs);
  return s;
}

struct ReadFrame {
  bool listening = false;
  std::string slot, sender;
  std::vector<std::string> fields;  // the datagram's NUL-terminated fields
};

// Reads a frame by its layout; nothing when it is not one.
std::optional<ReadFrame> Read(const std::string& bytes) {
  if (bytes.size() < 6 || bytes.compare(0, 4, "VASK") != 0 || bytes[4] != 1) return std::nullopt;
  ReadFrame frame;
  frame.listening = (bytes[5] & 1) != 0;
  size_t at = 6;
  auto take = [&](std::string& out) {
    const size_t end = bytes.find('\0', at);
    if (end == std::string::npos) return false;
    out = bytes.substr(at, end - at);
    at = end + 1;
    return true;
  };
  if (!take(frame.slot) || !take(frame.sender)) return std::nullopt;
  std::string field;
  while (at < bytes.size() && take(field)) frame.fields.push_back(field);
  return frame;
}

// The first frame on `s` that carries `command`, within kWaitMs.
std::optional<ReadFrame> Receive(SOCKET s, const std::string& command, std::string& from) {
  const DWORD end = GetTickCount() + kWaitMs;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    timeval wait{0, 200000};
    if (select(0, &ready, nullptr, nullptr, &wait) != 1) continue;
    char buffer[2048];
    sockaddr_in source{};
    int size = sizeof source;
    const int got =
        recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&source), &size);
    if (got <= 0) continue;
    const auto frame = Read(std::string(buffer, got));
    if (frame && frame->fields.size() > 3 && frame->fields[3] == command) {
      from = inet_ntoa(source.sin_addr);
      return frame;
    }
  }
  return std::nullopt;
}

Word SetStatus(WineHost& host, int32_t status) { return host.Send(kMsgSetStatus, status); }

}  // namespace

void RunUdpFrames(const std::string& dll) {
  Group("UDP frames: load");
  const std::string me = ComputerName();
  WSADATA wsa;
  if (!Check(WSAStartup(MAKEWORD(2, 2), &wsa) == 0, "the test's winsock starts")) return;
  WineHost host(kPluginId);
  host.SetSetting(kSettingRestoreStatus, 0);
  host.SetSetting(kSettingNotices, 1);
  host.AddContact(kPeer);
  std::string error;
  if (!Check(host.Load(dll, error), "vask.dll loads", "%s", error.c_str())) return;
  host.StartSequence();
  host.SetSettingText(kSettingTransport, "udp");
  host.SetSetting(kSettingWinPopup, 0);
  SetStatus(host, 64);
  Check(WaitFor([&] { return SlotExists(kChannelSlot); }, kWaitMs), "the engine starts");

  Group("UDP frames: received");
  Check(!host.LogContains("nie slucha na porcie UDP"), "the copy listens on UDP port 41925");
  const std::string forged = Fields({"1", "*", me, "MESSAGE", "1", "sfalszowana", "65A1B2C3"});
  Check(SendFrame(Frame("*", forged)), "the test sends a frame in the name of everybody");
  const std::string message = Fields({"2", kPeer, me, "MESSAGE", "2", "ramka z Wine", "65A1B2C4"});
  Check(SendFrame(Frame(kPeer, message)), "the test sends PEER's message as a frame");
  Check(WaitFor([&] { return FindShown(host.ShownMessages(), 1, "ramka z Wine").has_value(); },
                kWaitMs),
        "the frame's message is shown");
  if (const auto m = FindShown(host.ShownMessages(), 1, "ramka z Wine")) {
    Check(m->from == kPeer, "it comes from PEER", "from \"%s\"", m->from.c_str());
  }
  Check(!FindShown(host.ShownMessages(), 1, "sfalszowana").has_value(),
        "the forged frame is not shown");
  Check(WaitFor([&] { return host.LogContains("odrzucona ramka UDP od 127.0.0.1"); }, kWaitMs),
        "the forged frame is logged as dropped");

  Group("UDP frames: sent");
  // The copy lets the port go when it goes offline; the test takes it, so
  // that what the copy sends next reaches the test's socket.
  SetStatus(host, 0);
  SOCKET port = BindPort();
  if (!Check(port != INVALID_SOCKET, "the test binds UDP port 41925 once the copy is offline",
             "WSA error %d", WSAGetLastError())) {
    WSACleanup();
    return;
  }
  SetStatus(host, 64);
  Check(WaitFor([&] { return host.LogContains("nie slucha na porcie UDP 41925"); }, kWaitMs),
        "the copy says it cannot listen on the port held by the test");
  ChatRecord r(601, 1, 0, kPeer, "odpowiedz przez UDP");
  Check(host.Send(kMsgSendMessage, reinterpret_cast<Word>(r.record())) == kAnswerSendMessage,
        "30100 answers 8");
  std::string from;
  const auto frame = Receive(port, "MESSAGE", from);
  if (Check(frame.has_value(), "the test's socket receives the message as a frame")) {
    Check(from == "127.0.0.1", "it goes to where PEER's frame came from", "from %s", from.c_str());
    Check(frame->slot == "Vask", "the frame names the channel slot", "\"%s\"", frame->slot.c_str());
    Check(frame->sender == me && frame->fields[1] == me,
          "the frame and its datagram name this computer", "\"%s\", \"%s\"", frame->sender.c_str(),
          frame->fields[1].c_str());
    Check(frame->fields[2] == kPeer, "the datagram is for PEER", "\"%s\"",
          frame->fields[2].c_str());
    Check(!frame->listening, "the copy does not claim the port it could not bind");
    bool body = false;
    for (const auto& field : frame->fields) body |= field == "odpowiedz przez UDP";
    Check(body, "the frame carries the message text");
  }
  closesocket(port);
  SetStatus(host, 0);
  Check(host.Send(kMsgShutdown) == 1, "22101 answers 1");
  Check(host.Unload(), "FreeLibrary succeeds");
  WSACleanup();
}

}  // namespace wine
