#include "transport/lan_engine.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>

#include "base/clock.h"
#include "base/host_api.h"
#include "base/log.h"
#include "base/section_guard.h"
#include "transport/datagram.h"
#include "transport/pending_store.h"
#include "transport/receiver_log.h"

namespace vask {

namespace {

using Guard = SectionGuard;

constexpr int kWaitStepMs = 10;
constexpr int kWaitSteps = 500;
constexpr DWORD kWorkerReturnMs = 1000;
constexpr char kSlotsFailed[] = "V.ask nie mógł utworzyć slotów sieciowych";
// Windows 11 24H2 and Windows Server 2025 refuse remote mailslots unless
// their policy allows them.
constexpr DWORD kErrorRemoteMailslotsOff = 3025;
constexpr char kRemoteSlotsOff[] =
    "V.ask nie może wysyłać do innych komputerów: zdalne mailsloty są wyłączone na tym "
    "komputerze (błąd 3025, Windows 11 24H2 i nowsze).\r\n"
    "Aby je włączyć, jako administrator ustaw zasadę „Enable remote mailslots” na "
    "„Włączone” (Szablony administracyjne > Sieć > Stacja robocza Lanman; do odbierania także "
    "Serwer Lanman) albo wykonaj w PowerShell: Set-SmbClientConfiguration -EnableMailslots $true";

std::string OwnComputerName() {
  char name[16] = {};
  DWORD size = sizeof name;
  GetComputerNameA(name, &size);
  name[sizeof name - 1] = '\0';
  return name;
}

// The LAN contacts of the host's table, visited in row order.
template <typename Visit>
void ForEachLanContact(int receiver, Visit visit) {
  const int count = static_cast<int>(SendHost(HostHead(kMsgContactCount, 0, receiver)));
  for (int row = 1; row < count; ++row) {
    if (GetContactInt(row, kColumnNet) == NET_LAN) visit(row);
  }
}

}  // namespace

// Constructor and destructor run while no other thread can see the engine
// (the analysis skips them); they take no lock.
LanEngine::LanEngine() {
  channelName_ = "Vask";
  char name[200] = {};  // not a host number: the name's buffer
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size)) {
    name[sizeof name - 1] = '\0';
    cloakName_ = name;
  }
}

LanEngine::~LanEngine() {
  // The host ends the plug-in with a waiting stop first; whatever is still
  // held here is released without waiting.
  channelSlot_.Close();
  winPopupSlot_.Close();
  if (workerHandle_ != nullptr && workerThread_.load() == nullptr) CloseHandle(workerHandle_);
}

int LanEngine::WaitForWorkerClear() const {
  for (int step = 1; step <= kWaitSteps; ++step) {
    SleepEx(kWaitStepMs, TRUE);
    if (workerThread_.load() == nullptr) return step < kWaitSteps ? step : -1;
  }
  return -1;
}

// The worker clears its mark as its last act, so the short wait on the
// handle only covers its return.
void LanEngine::ReleaseEndedWorker() {
  if (workerHandle_ == nullptr || workerThread_.load() != nullptr) return;
  WaitForSingleObject(workerHandle_, kWorkerReturnMs);
  CloseHandle(workerHandle_);
  workerHandle_ = nullptr;
}

void LanEngine::CloseSlots() {
  winPopupSlot_.Close();
  channelSlot_.Close();
  udpSocket_.Close();
  udpListening_ = false;
}

TransportMode ParseTransportMode(const std::string& text) {
  std::string lower = text.substr(0, 4);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "mail") return TransportMode::kMailslots;
  if (lower.rfind("udp", 0) == 0) return TransportMode::kUdp;
  return TransportMode::kBoth;
}

void LanEngine::OpenUdp() {
  udpSocket_.Close();
  udpListening_ = false;
  mode_ = static_cast<int>(ParseTransportMode(GetTextSetting(kSettingTransport)));
  if (Mode() == TransportMode::kMailslots) return;
  if (!udpReady_) {
    WSADATA data;
    const int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0) {
      Log("V.ask: brak UDP (WSAStartup: blad %d), tylko mailsloty", error);
      return;
    }
    udpReady_ = true;
  }
  if (!udpSocket_.Open()) {
    Log("V.ask: brak gniazda UDP (blad %d), tylko mailsloty", WSAGetLastError());
    return;
  }
  RefreshNetworks();
  if (!udpSocket_.Bind(kLanUdpPort)) {
    // Another program (or another copy on this computer) has the port:
    // frames can still be sent, answers come by mailslot.
    Log("V.ask nie slucha na porcie UDP %d (blad %d): odbior tylko przez mailslot",
        static_cast<int>(kLanUdpPort), WSAGetLastError());
    udpSocket_.Close();
    return;
  }
  {
    Guard text(textLock_);
    frameChannel_ = channelName_;
  }
  frameOwnName_ = OwnComputerName();
  udpListening_ = true;
}

void LanEngine::RefreshNetworks() {
  std::vector<uint32_t> broadcasts;
  UdpSocket probe;
  UdpSocket& socket = udpSocket_.IsValid() ? udpSocket_ : probe;
  if (!socket.IsValid()) probe.Open();
  socket.Interfaces(networks_, broadcasts);
  networksAt_ = UnixNow();
  Guard text(textLock_);
  broadcasts_ = std::move(broadcasts);
}

void LanEngine::SetUdpScope(const std::string& channel, const std::vector<LocalNetwork>& networks) {
  Guard guard(lock_);
  frameChannel_ = channel;
  frameOwnName_ = OwnComputerName();
  networks_ = networks;
  networksAt_ = UnixNow();
}

namespace {

bool SameSlotName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

constexpr int64_t kDropLogInterval = 10;  // seconds between two lines of one reason
constexpr int64_t kNetworksRecheck = 10;  // seconds before the interfaces are asked again
constexpr uint32_t kBroadcastAll = 0xFFFFFFFFu;
constexpr int kFramesPerRead = 64;

std::string DottedAddress(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<uint8_t>(address >> 24),
                static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                static_cast<uint8_t>(address));
  return text;
}

}  // namespace

DatagramSource LanEngine::AdmitFrame(const std::string& frame, uint32_t address,
                                     std::string& datagram) {
  Guard guard(lock_);
  return AdmitFrameLocked(frame, address, datagram);
}

DatagramSource LanEngine::AdmitFrameLocked(const std::string& bytes, uint32_t address,
                                           std::string& datagram) {
  if (!IsLanAddress(address, networks_) && UnixNow() - networksAt_ >= kNetworksRecheck) {
    // An interface may have come up since the list was taken.
    RefreshNetworks();
  }
  if (!IsLanAddress(address, networks_)) {
    DropFrame(FrameVerdict::kNotLan, address);
    return DatagramSource::kNone;
  }
  Frame frame;
  FrameVerdict verdict = ParseFrame(bytes, frame);
  if (verdict == FrameVerdict::kAccepted && !SameSlotName(frame.slot, frameChannel_)) {
    verdict = FrameVerdict::kOtherSlot;
  }
  if (verdict == FrameVerdict::kAccepted &&
      !SameSlotName(std::string(DatagramSender(frame.datagram)), frame.sender)) {
    verdict = FrameVerdict::kSenderMismatch;
  }
  // The own broadcasts come back over UDP; the mailslot path alone keeps
  // deciding whether this computer hears itself, as before.
  if (verdict == FrameVerdict::kAccepted && SameSlotName(frame.sender, frameOwnName_)) {
    verdict = FrameVerdict::kOwnFrame;
  }
  if (verdict != FrameVerdict::kAccepted) {
    DropFrame(verdict, address);
    return DatagramSource::kNone;
  }
  if (frame.listening) addresses_.Learn(frame.sender, address, UnixNow());
  datagram = std::move(frame.datagram);
  return DatagramSource::kChannel;
}

void LanEngine::DropFrame(FrameVerdict verdict, uint32_t address) {
  const size_t index = static_cast<size_t>(verdict);
  frameDrops_[index].fetch_add(1);
  // Every broadcast of ours comes back: a line for each would bury the log.
  if (verdict == FrameVerdict::kOwnFrame) return;
  const int64_t now = UnixNow();
  // One line per reason at most every kDropLogInterval seconds, so that a
  // flood cannot fill the log; the lines between are counted in the next.
  if (dropLoggedAt_[index] != 0 && now - dropLoggedAt_[index] < kDropLogInterval &&
      now >= dropLoggedAt_[index]) {
    ++dropsUnlogged_[index];
    return;
  }
  Log("V.ask: odrzucona ramka UDP od %s: %s (pominietych: %u)", DottedAddress(address).c_str(),
      FrameDropReason(verdict), dropsUnlogged_[index]);
  dropLoggedAt_[index] = now;
  dropsUnlogged_[index] = 0;
}

bool LanEngine::IsPathCopy(const std::string& sender, const std::string& datagram,
                           DeliveryPath path) {
  return pairing_.IsCopy(sender, datagram, path, UnixNow());
}

uint32_t LanEngine::UdpRoute(const std::string& target, bool resolve) const {
  if (!udpReady_ || Mode() == TransportMode::kMailslots) return 0;
  if (target == "*") return kBroadcastAll;
  const uint32_t known = addresses_.Find(target, UnixNow());
  if (known != 0 || !resolve) return known;
  return ResolveComputer(target);
}

bool LanEngine::SendFrame(const std::string& datagram, uint32_t address) {
  // A remote mailslot write carries no more either.
  if (datagram.size() > kMaxFrameDatagram) {
    SetLastError(ERROR_BAD_NETPATH);
    return false;
  }
  char sender[16] = {};
  DWORD size = sizeof sender;
  GetComputerNameA(sender, &size);
  sender[sizeof sender - 1] = '\0';
  const std::string frame = BuildFrame(ChannelName(), sender, ListensOnUdp(), datagram);
  UdpSocket socket;
  if (!socket.Open()) return false;
  if (address != kBroadcastAll) return socket.SendTo(address, kLanUdpPort, frame);
  std::vector<uint32_t> broadcasts;
  {
    Guard text(textLock_);
    broadcasts = broadcasts_;
  }
  if (broadcasts.empty()) broadcasts.push_back(kBroadcastAll);
  bool any = false;
  for (const uint32_t broadcast : broadcasts) {
    if (socket.SendTo(broadcast, kLanUdpPort, frame)) any = true;
  }
  return any;
}

bool LanEngine::OpenRoute(const std::string& target, Route& route) {
  const TransportMode mode = Mode();
  route.everybody = target == "*";
  // A computer heard on UDP is reached that way alone; "*" goes both ways.
  route.udp = UdpRoute(target, mode == TransportMode::kUdp);
  const bool slotToo = mode == TransportMode::kMailslots ||
                       (mode == TransportMode::kBoth && (route.everybody || route.udp == 0));
  if (slotToo) {
    route.slotOpen = route.client.OpenClient(target.c_str(), ChannelName().c_str(), nullptr);
    if (!route.slotOpen) {
      route.error = GetLastError();
      FallBackToUdp(target, route);
    }
  }
  if (!route.slotOpen && route.udp == 0) {
    NoteSendFailure(route.error);
    SetLastError(route.error);
    return false;
  }
  return true;
}

void LanEngine::FallBackToUdp(const std::string& target, Route& route) {
  // Remote mailslots switched off here: the computer's name, as the system
  // resolves it, may still be reached by UDP.
  if (route.error == kErrorRemoteMailslotsOff && !route.everybody && route.udp == 0) {
    route.udp = UdpRoute(target, true);
  }
}

bool LanEngine::WriteRoute(const std::string& target, Route& route, const std::string& datagram) {
  bool sent = false;
  if (route.slotOpen) {
    DWORD written = 0;
    if (!route.client.Write(datagram.data(), static_cast<uint32_t>(datagram.size()), &written)) {
      route.error = GetLastError();
      if (written == 0) FallBackToUdp(target, route);
    }
    sent = written != 0;
    route.client.Close();
    route.slotOpen = false;
  }
  if (route.udp != 0 && SendFrame(datagram, route.udp)) sent = true;
  if (!sent) {
    // Told only now: a datagram that went by UDP after all needs no word.
    NoteSendFailure(route.error);
    SetLastError(route.error);
  }
  return sent;
}

bool LanEngine::Start(HostThreadRoutine worker) {
  Guard lifecycle(lifecycleLock_);
  if (!running_ && workerThread_.load() != nullptr) {
    // A worker told to stop is still finishing its pass and holds the
    // slots; starting only after it has closed them keeps the engine from
    // ending up stopped while the own status says online.
    WaitForWorkerClear();
  }
  ReleaseEndedWorker();
  {
    Guard guard(lock_);
    if (running_) return true;
    // The first start after load goes on from the last process's count;
    // later starts count from 1 again.
    sequence_ = resumeSequence_.exchange(0);
    starts_.fetch_add(1);
    remoteSlotsOffShown_ = false;
    running_ = true;
    if (workerThread_.load() != nullptr) {
      // The earlier worker did not end within the bound and still owns the
      // slots: this start cannot get them.
      SendHost(kMsgErrorBox, kSlotsFailed);
      running_ = false;
    } else {
      const std::string channel = GetTextSetting(kSettingChannel);
      {
        Guard text(textLock_);
        channelName_ = channel;
      }
      if (GetIntSetting(kSettingWinPopup) != 0 &&
          !winPopupSlot_.CreateServer(kWinPopupSlotName, kSlotMaxMessage, 0, nullptr)) {
        Log("V.ask nie może emulować WinPopup. Slot jest zajęty!");
      }
      if (!channelSlot_.CreateServer(channel.c_str(), kSlotMaxMessage, 0, nullptr)) {
        SendHost(kMsgErrorBox, kSlotsFailed);
        // Without this the WinPopup slot would stay open and every later
        // start would find a slot open and do nothing.
        winPopupSlot_.Close();
        running_ = false;
      } else {
        OpenUdp();
      }
    }
  }
  if (running_) {
    HANDLE thread = Host() ? Host()->BeginThread(nullptr, 0, worker, this, 0, nullptr) : nullptr;
    if (thread != nullptr) {
      workerHandle_ = thread;
      workerThread_ = thread;
    } else {
      // No worker: nobody would read or close the slots.
      Log("V.ask nie mógł uruchomić wątku Vask.");
      running_ = false;
      Guard guard(lock_);
      CloseSlots();
    }
  }
  return running_;
}

void LanEngine::Stop(bool wait) {
  Guard lifecycle(lifecycleLock_);
  if (!running_) {
    // Stopped already; at shutdown a worker still finishing an earlier
    // stop must end before the library goes away.
    if (wait && workerThread_.load() != nullptr) WaitForWorkerClear();
    if (wait) ReleaseEndedWorker();
    return;
  }
  BusEngineRecord stopping{};
  stopping.size = sizeof stopping;
  stopping.id = kMsgBusEngine;
  stopping.event = EVENT_STOPPING;
  Notify(EVENT_STOPPING, &stopping);

  ForEachLanContact(kReceiverAny, [](int row) {
    SendHost(kMsgContactStatus, row, kStatusOffline, "");
    SendHost(kMsgContactWentOffline, row, 0);
  });
  SendHost(HostHead(kMsgAllWentOffline, 0, kReceiverAny));
  running_ = false;
  if (!wait) return;

  Log("Czekam na zakończenie wątku Vask.");
  if (workerThread_.load() == nullptr) {
    Log("Zakończony po %d.", 0);
  } else {
    const int steps = WaitForWorkerClear();
    if (steps >= 0) {
      Log("Zakończony po %d.", steps * kWaitStepMs);
    } else {
      Log("Zerwany po 5s.!");
    }
  }
  {
    // The worker reads the slots only under this lock and only while they
    // are open, so a worker that is still stuck never touches them again.
    Guard guard(lock_);
    CloseSlots();
  }
  ReleaseEndedWorker();
}

void LanEngine::FollowStatus(HostThreadRoutine worker, void (*startFailed)()) {
  // Deciding and starting or stopping are one step under the lifecycle
  // lock, with the status read again inside it: an online request that
  // came while another thread's stop was still under way would otherwise
  // find the engine running, do nothing, and leave it stopped once that
  // stop ended. Whoever decides last sees the last status stored.
  Guard lifecycle(lifecycleLock_);
  const bool online = Status() != kStatusOffline;
  if (!running_ && online) {
    if (!Start(worker) && startFailed != nullptr) startFailed();
  } else if (running_ && !online) {
    Stop(false);
  }
}

bool LanEngine::ReplaceRunningStatus(int32_t expected, int32_t desired) {
  Guard lifecycle(lifecycleLock_);
  if (!running_) return false;
  return status_.compare_exchange_strong(expected, desired);
}

namespace {

// This computer's name as the datagrams carry it (at most 15 characters).
void ReadSenderName(char (&sender)[16]) {
  DWORD size = sizeof sender;
  GetComputerNameA(sender, &size);
  sender[sizeof sender - 1] = '\0';
}

}  // namespace

void LanEngine::NotifySent(const std::string& target, const std::string& command,
                           const std::string& body) {
  // The subscribers read the texts in the host runtime's string layout.
  const RuntimeString targetObject = RuntimeStringOver(target);
  const RuntimeString commandObject = RuntimeStringOver(command);
  const RuntimeString bodyObject = RuntimeStringOver(body);
  BusSentRecord sent{};
  sent.size = sizeof sent;
  sent.id = kMsgBusSent;
  sent.receiver = kReceiverAny;
  sent.target = &targetObject;
  sent.command = &commandObject;
  sent.body = &bodyObject;
  Notify(EVENT_SENT, &sent);
}

bool LanEngine::SendPacket(const std::string& target, const std::string& command,
                           const std::string& body, MessageCopy* written) {
  NotifySent(target, command, body);
  if (target == "^" || (target == "*" && OnlyListed())) {
    // The sender's name is the same for every contact: read once.
    char sender[16] = {};
    ReadSenderName(sender);
    bool any = false;
    ForEachLanContact(0, [&](int row) {
      const std::string id = GetContactText(row, kColumnId);
      // A contact named "*" or "^" would fan out again (for "^" without end).
      if (id == "*" || id == "^") return;
      NotifySent(id, command, body);
      if (SendTo(id, command, body, nullptr, sender)) any = true;
    });
    return any;
  }
  return SendTo(target, command, body, written, nullptr);
}

bool LanEngine::SendTo(const std::string& target, const std::string& command,
                       const std::string& body, MessageCopy* written, const char* senderName) {
  Route route;
  if (!OpenRoute(target, route)) return false;
  char sender[16] = {};
  if (senderName != nullptr) {
    // A bounded copy by hand: the DLL imports no more of the C runtime.
    for (size_t i = 0; i + 1 < sizeof sender && senderName[i] != '\0'; ++i) {
      sender[i] = senderName[i];
    }
  } else {
    ReadSenderName(sender);
  }
  // Numbered only once a way is open, so a send that reaches nothing uses
  // no number up. The number and the note of where it goes are one step,
  // so that the log holds a receiver's numbers in the order they were taken.
  SendMark mark;
  {
    Guard guard(sendLock_);
    mark = SendMark{starts_.load(), sequence_.fetch_add(1) + 1};
    receivers_.Begin(target, mark);
  }
  std::string datagram = BuildDatagram(mark.sequence, sender, target, command, body);
  const bool wrote = WriteRoute(target, route, datagram);
  const DWORD error = GetLastError();
  {
    Guard guard(sendLock_);
    receivers_.End(target);
  }
  SetLastError(error);
  if (!wrote) return false;
  if (written != nullptr) *written = MessageCopy{target, std::move(datagram), mark};
  return true;
}

void LanEngine::NoteSendFailure(DWORD error) {
  if (error != kErrorRemoteMailslotsOff || remoteSlotsOffShown_.exchange(true)) return;
  const DWORD saved = error;
  Log("V.ask: zdalne mailsloty wylaczone (blad %d)", static_cast<int>(error));
  SendHost(kMsgErrorBox, kRemoteSlotsOff, 0);
  // The sender reports this code in its own notice after us.
  SetLastError(saved);
}

int32_t LanEngine::RememberPending(int64_t sendTime, const std::string& text,
                                   const std::string& target) {
  Guard store(storeLock_);
  int32_t number = 0;
  {
    Guard guard(lock_);
    // Numbers go on across restarts; after the largest, from 1 again.
    number = lastMessageNumber_ == INT32_MAX ? 1 : lastMessageNumber_ + 1;
    lastMessageNumber_ = number;
    pendingMessages_[number] = PendingMessage{sendTime, text, target};
  }
  SetIntSetting(kSettingMessageNumber, number);
  StoreTable();
  return number;
}

void LanEngine::StoreTable() {
  std::string text;
  {
    Guard guard(lock_);
    text = EncodePending(pendingMessages_);
    tableChanged_ = false;
  }
  SetTextSetting(kSettingUnanswered, text);
}

void LanEngine::StoreTableIfChanged() {
  Guard store(storeLock_);
  {
    Guard guard(lock_);
    if (!tableChanged_) return;
  }
  StoreTable();
}

std::vector<PendingMessage> LanEngine::ResumeFromStore() {
  Guard store(storeLock_);
  const std::map<int32_t, PendingMessage> left = DecodePending(GetTextSetting(kSettingUnanswered));
  const int32_t stored = GetIntSetting(kSettingMessageNumber);
  {
    Guard guard(lock_);
    if (stored > lastMessageNumber_) lastMessageNumber_ = stored;
  }
  const int64_t sequence = GetIntSetting(kSettingSequence);
  // Room for what was written after the last save; a count near the top
  // starts from 1 again rather than wrapping to a number read as none.
  const int64_t resume = sequence > 0 ? sequence + kSequenceGap : 0;
  resumeSequence_ = resume < INT32_MAX - kSequenceGap ? static_cast<int32_t>(resume) : 0;
  savedSequence_ = static_cast<int32_t>(sequence);
  std::vector<PendingMessage> messages;
  for (const auto& [number, message] : left) messages.push_back(message);
  // Told once: the stored table is now this process's (empty or not).
  StoreTable();
  return messages;
}

void LanEngine::SaveSequence() {
  const int32_t now = sequence_.load();
  if (savedSequence_.exchange(now) == now) return;
  SetIntSetting(kSettingSequence, now);
}

namespace {

// Keeps a table of settled numbers within `limit`: numbers only grow, so
// the smallest is the oldest.
template <typename Settled>
void Remember(std::map<int32_t, Settled>& settled, int32_t number, Settled entry, size_t limit) {
  settled[number] = std::move(entry);
  while (settled.size() > limit) settled.erase(settled.begin());
}

}  // namespace

AckOutcome LanEngine::TakeAcknowledged(int32_t number, const std::string& from) {
  Guard guard(lock_);
  auto found = pendingMessages_.find(number);
  if (found != pendingMessages_.end() && SameComputer(found->second.target, from)) {
    Remember(settled_, number, Settled{false, found->second.target}, kSettledKept);
    pendingMessages_.erase(found);
    tableChanged_ = true;
    return AckOutcome::kSettled;
  }
  auto it = settled_.find(number);
  // A number we never gave a message to `from`: an answer to one of an
  // earlier run, which was told as likely lost at this start.
  if (it == settled_.end() || !SameComputer(it->second.target, from)) return AckOutcome::kLate;
  if (!it->second.expired) return AckOutcome::kRepeated;
  // Delivered after all, told once: a repeat of this answer changes nothing.
  it->second.expired = false;
  return AckOutcome::kLate;
}

std::vector<PendingMessage> LanEngine::ExpirePending(int64_t now, int32_t maxAge) {
  std::vector<PendingMessage> expired;
  Guard store(storeLock_);
  {
    Guard guard(lock_);
    for (auto it = pendingMessages_.begin(); it != pendingMessages_.end();) {
      if (now - it->second.sendTime > maxAge) {
        Remember(settled_, it->first, Settled{true, it->second.target}, kSettledKept);
        expired.push_back(std::move(it->second));
        it = pendingMessages_.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (!expired.empty()) StoreTable();
  return expired;
}

void LanEngine::KeepDatagram(int32_t number, MessageCopy written) {
  Guard guard(lock_);
  auto it = pendingMessages_.find(number);
  // Answered already: nothing to send again.
  if (it == pendingMessages_.end()) return;
  it->second.datagram = std::move(written.datagram);
  it->second.written = written.written;
  it->second.lastCopy = it->second.sendTime;
}

std::vector<MessageCopy> LanEngine::TakeCopiesDue(int64_t now, int64_t interval, int maxCopies) {
  std::vector<MessageCopy> due;
  Guard guard(lock_);
  for (auto& [number, message] : pendingMessages_) {
    if (message.datagram.empty() || message.copies >= maxCopies) continue;
    if (now - message.lastCopy < interval) continue;
    ++message.copies;
    message.lastCopy = now;
    due.push_back(MessageCopy{message.target, message.datagram, message.written});
  }
  return due;
}

bool LanEngine::WriteAgain(const MessageCopy& copy) {
  Route route;
  if (!OpenRoute(copy.target, route)) return false;
  // A copy that knows only the last-number rule drops a repeat only while
  // the number it holds from us is still this datagram's: after anything
  // else of ours it would show it twice. The lock keeps any datagram to
  // this receiver from being numbered between the check and the write.
  Guard guard(sendLock_);
  if (!receivers_.IsLast(copy.target, copy.written)) return false;
  return WriteRoute(copy.target, route, copy.datagram);
}

void LanEngine::ResetMessages(int32_t lastNumber) {
  Guard guard(lock_);
  pendingMessages_.clear();
  settled_.clear();
  lastMessageNumber_ = lastNumber;
}

LanEngine::WaitingCounts LanEngine::CountWaiting() const {
  Guard guard(lock_);
  WaitingCounts counts;
  if (winPopupSlot_.IsValid()) counts.winPopup = winPopupSlot_.MessageCount();
  if (channelSlot_.IsValid()) counts.channel = channelSlot_.MessageCount();
  return counts;
}

DatagramSource LanEngine::ReadNextDatagram(std::string& buffer, std::string& bytes,
                                           WaitingCounts& budget, DeliveryPath& path) {
  Guard guard(lock_);
  MailslotHandle* slot = nullptr;
  DatagramSource source = DatagramSource::kNone;
  path = DeliveryPath::kMailslot;
  // The next size alone says whether a slot holds a message; unlike the
  // count, it needs no look at the socket while messages are queued.
  uint32_t size = MAILSLOT_NO_MESSAGE;
  uint32_t* left = nullptr;  // the budget's count of the slot read
  auto waiting = [&](const MailslotHandle& candidate, uint32_t& count) {
    if (!candidate.IsValid() || count == 0) return false;
    size = candidate.NextSize();  // an empty message is 0, and is read too
    if (size == MAILSLOT_NO_MESSAGE) count = 0;
    left = &count;
    return size != MAILSLOT_NO_MESSAGE;
  };
  if (waiting(winPopupSlot_, budget.winPopup)) {
    slot = &winPopupSlot_;
    source = DatagramSource::kWinPopup;
  } else if (waiting(channelSlot_, budget.channel)) {
    slot = &channelSlot_;
    source = DatagramSource::kChannel;
  } else {
    path = DeliveryPath::kUdp;
    return ReadNextFrame(buffer, bytes);
  }
  buffer.resize(std::max<size_t>(buffer.size(), std::max<uint32_t>(size, 1)));
  DWORD read = 0;
  if (!slot->Read(buffer.data(), size, &read)) {
    // A read that keeps failing would hold the drain forever; the next
    // pass tries again.
    return DatagramSource::kNone;
  }
  --*left;
  bytes.assign(buffer.data(), std::min<size_t>(read, size));
  return source;
}

DatagramSource LanEngine::ReadNextFrame(std::string& buffer, std::string& bytes) {
  // Dropped frames are skipped, a bounded number per call so that a flood
  // of them cannot keep the drain from seeing a stop.
  for (int tries = 0; tries < kFramesPerRead && udpSocket_.IsValid(); ++tries) {
    uint32_t address = 0;
    switch (udpSocket_.ReceiveFrom(buffer, kMaxFrame, address)) {
      case UdpSocket::Receive::kNothing:
      case UdpSocket::Receive::kFailed:
        return DatagramSource::kNone;
      case UdpSocket::Receive::kTooLong:
        DropFrame(FrameVerdict::kOversize, address);
        continue;
      case UdpSocket::Receive::kReceived:
        break;
    }
    const DatagramSource source = AdmitFrameLocked(buffer, address, bytes);
    if (source != DatagramSource::kNone) return source;
  }
  return DatagramSource::kNone;
}

void LanEngine::WorkerEnded() {
  Guard guard(lock_);
  CloseSlots();
  // Cleared last, so that a start that waits for it finds the slots free.
  workerThread_ = nullptr;
}

bool LanEngine::RepeatsLastNumber(const std::string& sender, int32_t number, int64_t now,
                                  int64_t* takenAt) {
  LastNumber& last = lastSeqBySender_.Heard(sender);
  if (last.number == number) {
    if (takenAt != nullptr) *takenAt = last.at;
    return true;
  }
  last = LastNumber{number, now};
  return false;
}

bool LanEngine::BeginSteps(const std::string& channel) {
  Guard guard(lock_);
  if (!channelSlot_.CreateServer(channel.c_str(), kSlotMaxMessage, 0, nullptr)) return false;
  running_ = true;
  return true;
}

void LanEngine::EndSteps() {
  running_ = false;
  Guard guard(lock_);
  CloseSlots();
}

std::string LanEngine::StatusInfo() const {
  Guard guard(textLock_);
  return statusInfo_;
}

void LanEngine::SetStatusInfo(const std::string& text) {
  Guard guard(textLock_);
  statusInfo_ = text;
}

std::string LanEngine::CloakName() const {
  Guard guard(textLock_);
  return cloakName_;
}

void LanEngine::SetCloakName(const std::string& name) {
  Guard guard(textLock_);
  cloakName_ = name;
}

std::string LanEngine::ChannelName() const {
  Guard guard(textLock_);
  return channelName_;
}

// The one engine object and Engine() live in shell/plugin_globals.cpp, beside
// the per-thread buffer slot, so that the two are built in a fixed order.

}  // namespace vask
