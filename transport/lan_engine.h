// LanEngine: the plug-in's one engine object (a global of the library, see
// Engine()). It holds the channel and WinPopup mailslots, the own identity
// and presence, the protocol's tables, the lock and the worker thread.
//
// Ownership and locking:
// - `lock` (re-entrant) covers the opening and closing of both server slots,
//   Start's reading of the channel settings, and every access to
//   pendingMessages together with the taking of a message number.
// - lastSeqBySender belongs to the worker thread alone.
// - listeners is guarded by listenersLock, which is never held while calling
//   into another plug-in: Notify walks a copy.
// - The texts that other threads read while a host thread replaces them
//   (statusInfo, cloakName, channelName) are read and written through the
//   accessors below, under textLock.
// - The flags, the status word, the worker handle and the sequence counter
//   are atomics: one side writes, the other polls.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "abi/host_control.h"
#include "abi/host_ids.h"
#include "abi/host_records.h"
#include "transport/mailslot_handle.h"
#include "win32.h"

namespace vask {

// One unacknowledged message.
struct PendingMessage {
  int32_t sendTime;  // Unix seconds when it was queued
  std::string text;  // its first 30 bytes
  std::string target;
};

inline constexpr uint32_t kSlotMaxMessage = 100100;

class LanEngine {
 public:
  LanEngine();
  ~LanEngine();
  LanEngine(const LanEngine&) = delete;
  LanEngine& operator=(const LanEngine&) = delete;

  // Opens the slots and starts `worker` (with the engine as its argument)
  // on a host thread; true when the engine runs afterwards (or already ran).
  // On false the caller decides what the failure means for the own status.
  // Called from host threads.
  bool Start(HostThreadRoutine worker);
  // Tells the bus and the host, clears `running`; with wait, also waits up
  // to 5 s for the worker and closes the slots. A start that finds a worker
  // still finishing after a stop waits for it (up to 5 s) first.
  void Stop(bool wait);
  // The one send operation: "*" every computer of the domain (or every
  // listed contact when onlyListed), "^" every LAN contact in turn. True when
  // at least one datagram was written. Callable from any thread.
  bool SendPacket(const std::string& target, const std::string& command, const std::string& body);
  // Offers a bus record to the subscribers whose mask shares a bit with
  // `flag`; the OR of their answers (0 without subscribers).
  int32_t Notify(int32_t flag, void* record);
  // Host message 55000: store the mask; the number of subscribers after.
  int Subscribe(int32_t pluginId, int32_t mask);

  std::string StatusInfo() const;
  void SetStatusInfo(const std::string& text);
  std::string CloakName() const;
  void SetCloakName(const std::string& name);
  std::string ChannelName() const;

  // Members in their documented order.
  std::map<std::string, int32_t> lastSeqBySender;
  std::map<int32_t, PendingMessage> pendingMessages;
  std::map<int32_t, int32_t> listeners;
  std::atomic<int32_t> status{0};
  std::string statusInfo;
  std::string winPopupSlotName;
  std::string channelName;
  std::string cloakName;
  MailslotHandle winPopupSlot;
  MailslotHandle channelSlot;
  mutable CRITICAL_SECTION lock;
  std::atomic<bool> running{false};
  std::atomic<bool> statusDirty{false};
  std::atomic<HANDLE> workerThread{nullptr};
  std::atomic<int32_t> sequence{0};
  std::atomic<bool> onlyListed{false};
  // True while any query runs: a count of the queries running, so that the
  // first of two searches to end does not clear it under the other.
  std::atomic<int32_t> searching{0};

  mutable CRITICAL_SECTION textLock;
  mutable CRITICAL_SECTION listenersLock;
  // Serialises Start and Stop against each other (host threads only; the
  // worker never takes it), so a start never races a stop's wait.
  mutable CRITICAL_SECTION lifecycleLock;
  // The last worker's thread handle, kept under lifecycleLock until the
  // worker has ended; then Start, Stop(true) or the destructor closes it.
  // (workerThread itself is cleared by the ending worker and cannot serve.)
  HANDLE workerHandle = nullptr;
};

// The library's one engine. Built at load before the per-thread buffer slot
// and destroyed after it.
LanEngine& Engine();

}  // namespace vask
