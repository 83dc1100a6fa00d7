#include "transport/lan_engine.h"

#include <algorithm>
#include <climits>
#include <utility>

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

bool LanEngine::SendPacket(const std::string& target, const std::string& command,
                           const std::string& body, MessageCopy* written) {
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

  if (target == "^" || (target == "*" && OnlyListed())) {
    bool any = false;
    ForEachLanContact(0, [&](int row) {
      const std::string id = GetContactText(row, kColumnId);
      // A contact named "*" or "^" would fan out again (for "^" without end).
      if (id == "*" || id == "^") return;
      if (SendPacket(id, command, body)) any = true;
    });
    return any;
  }

  MailslotHandle client;
  if (!client.OpenClient(target.c_str(), ChannelName().c_str(), nullptr)) {
    NoteSendFailure(GetLastError());
    return false;
  }
  char sender[16] = {};
  DWORD size = sizeof sender;
  GetComputerNameA(sender, &size);
  sender[sizeof sender - 1] = '\0';
  // The number and the note of where it goes are one step, so that the log
  // holds a receiver's numbers in the order they were taken.
  SendMark mark;
  {
    Guard guard(sendLock_);
    mark = SendMark{starts_.load(), sequence_.fetch_add(1) + 1};
    receivers_.Begin(target, mark);
  }
  std::string datagram = BuildDatagram(mark.sequence, sender, target, command, body);
  DWORD bytes = 0;
  const bool wrote = client.Write(datagram.data(), static_cast<uint32_t>(datagram.size()), &bytes);
  const DWORD error = GetLastError();
  client.Close();
  {
    Guard guard(sendLock_);
    receivers_.End(target);
  }
  if (!wrote) NoteSendFailure(error);
  SetLastError(error);
  if (bytes == 0) return false;
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
  MailslotHandle client;
  if (!client.OpenClient(copy.target.c_str(), ChannelName().c_str(), nullptr)) return false;
  DWORD written = 0;
  {
    // A copy that knows only the last-number rule drops a repeat only while
    // the number it holds from us is still this datagram's: after anything
    // else of ours it would show it twice. The lock keeps any datagram to
    // this receiver from being numbered between the check and the write.
    Guard guard(sendLock_);
    if (!receivers_.IsLast(copy.target, copy.written)) return false;
    client.Write(copy.datagram.data(), static_cast<uint32_t>(copy.datagram.size()), &written);
  }
  client.Close();
  return written != 0;
}

void LanEngine::ResetMessages(int32_t lastNumber) {
  Guard guard(lock_);
  pendingMessages_.clear();
  settled_.clear();
  lastMessageNumber_ = lastNumber;
}

uint32_t LanEngine::WaitingDatagrams() const {
  Guard guard(lock_);
  uint32_t count = 0;
  if (channelSlot_.IsValid()) count += channelSlot_.MessageCount();
  if (winPopupSlot_.IsValid()) count += winPopupSlot_.MessageCount();
  return count;
}

DatagramSource LanEngine::ReadNextDatagram(std::string& buffer, std::string& bytes) {
  Guard guard(lock_);
  MailslotHandle* slot = nullptr;
  DatagramSource source = DatagramSource::kNone;
  // The next size alone says whether a slot holds a message; unlike the
  // count, it needs no look at the socket while messages are queued.
  uint32_t size = MAILSLOT_NO_MESSAGE;
  auto waiting = [&size](const MailslotHandle& candidate) {
    if (!candidate.IsValid()) return false;
    size = candidate.NextSize();  // an empty message is 0, and is read too
    return size != MAILSLOT_NO_MESSAGE;
  };
  if (waiting(winPopupSlot_)) {
    slot = &winPopupSlot_;
    source = DatagramSource::kWinPopup;
  } else if (waiting(channelSlot_)) {
    slot = &channelSlot_;
    source = DatagramSource::kChannel;
  } else {
    return DatagramSource::kNone;
  }
  buffer.resize(std::max<size_t>(buffer.size(), std::max<uint32_t>(size, 1)));
  DWORD read = 0;
  if (!slot->Read(buffer.data(), size, &read)) {
    // A read that keeps failing would hold the drain forever; the next
    // pass tries again.
    return DatagramSource::kNone;
  }
  bytes.assign(buffer.data(), std::min<size_t>(read, size));
  return source;
}

void LanEngine::WorkerEnded() {
  Guard guard(lock_);
  CloseSlots();
  // Cleared last, so that a start that waits for it finds the slots free.
  workerThread_ = nullptr;
}

bool LanEngine::RepeatsLastNumber(const std::string& sender, int32_t number) {
  auto it = lastSeqBySender_.find(sender);
  if (it == lastSeqBySender_.end()) {
    if (lastSeqBySender_.size() >= kSendersKept) {
      // A linear walk, but only when a new sender finds the table full.
      auto oldest = std::min_element(
          lastSeqBySender_.begin(), lastSeqBySender_.end(),
          [](const auto& a, const auto& b) { return a.second.heard < b.second.heard; });
      lastSeqBySender_.erase(oldest);
    }
    it = lastSeqBySender_.emplace(sender, LastNumber{0, 0}).first;
  }
  it->second.heard = ++sendersTick_;
  if (it->second.number == number) return true;
  it->second.number = number;
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
