#include "transport/lan_engine.h"
#include "base/section_guard.h"

#include "base/host_api.h"
#include "base/log.h"
#include "transport/datagram.h"

namespace vask {

namespace {

using Guard = SectionGuard;

constexpr int kWaitStepMs = 10;
constexpr int kWaitSteps = 500;
constexpr char kSlotsFailed[] = "V.ask nie mógł utworzyć slotów sieciowych";

// Polls workerThread in alertable 10 ms steps, at most 500. Returns the
// number of steps after which it read 0, or -1 when it never did.
int WaitForWorkerClear(const LanEngine& engine) {
  for (int step = 1; step <= kWaitSteps; ++step) {
    SleepEx(kWaitStepMs, TRUE);
    if (engine.workerThread.load() == nullptr) return step < kWaitSteps ? step : -1;
  }
  return -1;
}

// Closes the last worker's handle once that worker has cleared its mark.
// The worker clears the mark as its last act, so the short wait on the
// handle only covers its return. Caller holds lifecycleLock.
void ReleaseEndedWorker(LanEngine& engine) {
  if (engine.workerHandle == nullptr || engine.workerThread.load() != nullptr) return;
  WaitForSingleObject(engine.workerHandle, 1000);
  CloseHandle(engine.workerHandle);
  engine.workerHandle = nullptr;
}

// The LAN contacts of the host's table, visited in row order.
template <typename Visit>
void ForEachLanContact(int receiver, Visit visit) {
  const int count = static_cast<int>(SendHostHead(201, 0, receiver));
  for (int row = 1; row < count; ++row) {
    if (GetContactInt(row, 1) == NET_LAN) visit(row);
  }
}

}  // namespace

LanEngine::LanEngine() {
  winPopupSlotName = "messngr";
  channelName = "Vask";
  char name[200] = {};
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size)) {
    name[sizeof name - 1] = '\0';
    cloakName = name;
  }
  InitializeCriticalSection(&lock);
  InitializeCriticalSection(&textLock);
  InitializeCriticalSection(&listenersLock);
  InitializeCriticalSection(&lifecycleLock);
  statusDirty = false;
  searching = 0;
}

LanEngine::~LanEngine() {
  // The host ends the plug-in with a waiting stop first; whatever is still
  // held here is released without waiting.
  channelSlot.Close();
  winPopupSlot.Close();
  if (workerHandle != nullptr && workerThread.load() == nullptr) CloseHandle(workerHandle);
  DeleteCriticalSection(&lifecycleLock);
  DeleteCriticalSection(&listenersLock);
  DeleteCriticalSection(&textLock);
  DeleteCriticalSection(&lock);
}

bool LanEngine::Start(HostThreadRoutine worker) {
  Guard lifecycle(lifecycleLock);
  if (!running && workerThread.load() != nullptr) {
    // A worker told to stop is still finishing its pass and holds the
    // slots; starting only after it has closed them keeps the engine from
    // ending up stopped while the own status says online.
    WaitForWorkerClear(*this);
  }
  ReleaseEndedWorker(*this);
  {
    Guard guard(lock);
    if (running) return true;
    sequence = 0;
    running = true;
    if (workerThread.load() != nullptr) {
      // The earlier worker did not end within the bound and still owns the
      // slots: this start cannot get them.
      SendHost(10201, reinterpret_cast<intptr_t>(kSlotsFailed));
      running = false;
    } else {
      const std::string channel = GetTextSetting(kSettingChannel);
      {
        Guard text(textLock);
        channelName = channel;
      }
      if (GetIntSetting(kSettingWinPopup) != 0 &&
          !winPopupSlot.CreateServer(winPopupSlotName.c_str(), kSlotMaxMessage, 0, nullptr)) {
        Log("V.ask nie może emulować WinPopup. Slot jest zajęty!");
      }
      if (!channelSlot.CreateServer(channel.c_str(), kSlotMaxMessage, 0, nullptr)) {
        SendHost(10201, reinterpret_cast<intptr_t>(kSlotsFailed));
        // Without this the WinPopup slot would stay open and every later
        // start would find a slot open and do nothing.
        winPopupSlot.Close();
        running = false;
      }
    }
  }
  if (running) {
    HANDLE thread = Host() ? Host()->BeginThread(nullptr, 0, worker, this, 0, nullptr) : nullptr;
    if (thread != nullptr) {
      workerHandle = thread;
      workerThread = thread;
    } else {
      // No worker: nobody would read or close the slots.
      Log("V.ask nie mógł uruchomić wątku Vask.");
      running = false;
      Guard guard(lock);
      winPopupSlot.Close();
      channelSlot.Close();
    }
  }
  return running;
}

void LanEngine::Stop(bool wait) {
  Guard lifecycle(lifecycleLock);
  if (!running) {
    // Stopped already; at shutdown a worker still finishing an earlier
    // stop must end before the library goes away.
    if (wait && workerThread.load() != nullptr) WaitForWorkerClear(*this);
    if (wait) ReleaseEndedWorker(*this);
    return;
  }
  BusEngineRecord stopping{};
  stopping.size = sizeof stopping;
  stopping.id = 55004;
  stopping.event = EVENT_STOPPING;
  Notify(EVENT_STOPPING, &stopping);

  ForEachLanContact(-1, [](int row) {
    SendHost3(234, row, kStatusOffline, reinterpret_cast<intptr_t>(""));
    SendHost(11014, row, 0);
  });
  SendHostHead(12001, 0, -1);
  running = false;
  if (!wait) return;

  Log("Czekam na zakończenie wątku Vask.");
  if (workerThread.load() == nullptr) {
    Log("Zakończony po %d.", 0);
  } else {
    const int steps = WaitForWorkerClear(*this);
    if (steps >= 0) {
      Log("Zakończony po %d.", steps * kWaitStepMs);
    } else {
      Log("Zerwany po 5s.!");
    }
  }
  {
    // The worker reads the slots only under this lock and only while they
    // are open, so a worker that is still stuck never touches them again.
    Guard guard(lock);
    winPopupSlot.Close();
    channelSlot.Close();
  }
  ReleaseEndedWorker(*this);
}

bool LanEngine::SendPacket(const std::string& target, const std::string& command,
                           const std::string& body) {
  BusSentRecord sent{};
  sent.size = sizeof sent;
  sent.id = 55002;
  sent.receiver = -1;
  sent.target = &target;
  sent.command = &command;
  sent.body = &body;
  Notify(EVENT_SENT, &sent);

  if (target == "^" || (target == "*" && onlyListed)) {
    bool any = false;
    ForEachLanContact(0, [&](int row) {
      const std::string id = GetContactText(row, 0);
      // A contact named "*" or "^" would fan out again (for "^" without end).
      if (id == "*" || id == "^") return;
      if (SendPacket(id, command, body)) any = true;
    });
    return any;
  }

  MailslotHandle client;
  if (!client.OpenClient(target.c_str(), ChannelName().c_str(), nullptr)) return false;
  // One indivisible step: every sending thread shares the counter.
  const int32_t number = sequence.fetch_add(1) + 1;
  char sender[16] = {};
  DWORD size = sizeof sender;
  GetComputerNameA(sender, &size);
  sender[sizeof sender - 1] = '\0';
  const std::string datagram = BuildDatagram(number, sender, target, command, body);
  DWORD written = 0;
  client.Write(datagram.data(), static_cast<uint32_t>(datagram.size()), &written);
  client.Close();
  return written != 0;
}

std::string LanEngine::StatusInfo() const {
  Guard guard(textLock);
  return statusInfo;
}

void LanEngine::SetStatusInfo(const std::string& text) {
  Guard guard(textLock);
  statusInfo = text;
}

std::string LanEngine::CloakName() const {
  Guard guard(textLock);
  return cloakName;
}

void LanEngine::SetCloakName(const std::string& name) {
  Guard guard(textLock);
  cloakName = name;
}

std::string LanEngine::ChannelName() const {
  Guard guard(textLock);
  return channelName;
}

// The one engine object and Engine() live in shell/plugin_globals.cpp, beside
// the per-thread buffer slot, so that the two are built in a fixed order.

}  // namespace vask
