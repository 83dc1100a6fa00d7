// LanEngine: the plug-in's one engine object (a global of the library, see
// Engine()). It holds the channel and WinPopup mailslots, the own identity
// and presence, the protocol's tables, the locks and the worker thread. Its
// state is its own: other files change it only through the operations
// below, each of which takes the lock it needs.
//
// Ownership and locking (the annotations on the members say it in code):
// - `lock_` (re-entrant) covers the opening, reading and closing of both
//   server slots, Start's reading of the channel settings, and the table of
//   unacknowledged messages together with the taking of a message number.
// - lastSeqBySender_ belongs to the worker thread alone.
// - listeners_ is guarded by listenersLock_, which is never held while
//   calling into another plug-in: Notify walks a copy.
// - The texts that other threads read while a host thread replaces them
//   (the status description, the cloak name, the channel name) are guarded
//   by textLock_.
// - lifecycleLock_ serialises starting and stopping and guards the worker's
//   handle.
// - The flags, the status word, the worker mark, the search count and the
//   sequence counter are atomics: one side writes, the other polls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "abi/host_control.h"
#include "abi/host_ids.h"
#include "abi/host_records.h"
#include "base/critical_section.h"
#include "base/sender_table.h"
#include "base/thread_annotations.h"
#include "transport/address_book.h"
#include "transport/mailslot_handle.h"
#include "transport/path_pairing.h"
#include "transport/receiver_log.h"
#include "transport/send_mark.h"
#include "transport/udp_frame.h"
#include "transport/udp_socket.h"
#include "win32.h"

namespace vask {

// One unacknowledged message.
struct PendingMessage {
  int64_t sendTime;  // Unix seconds when it was queued
  std::string text;  // its first 30 bytes
  std::string target;
  // For sending it again: the datagram exactly as written, and the send
  // mark it took; empty when it may not be sent again.
  std::string datagram = {};
  SendMark written = {};
  int copies = 0;        // sent again so far
  int64_t lastCopy = 0;  // when last written
};

// A datagram as it was written, to be written again: its receiver, its
// bytes and the send mark it took.
struct MessageCopy {
  std::string target;
  std::string datagram;
  SendMark written = {};
};

// What an acknowledgement did to the table of unacknowledged messages.
enum class AckOutcome {
  kSettled,   // it settled a message still waiting: nothing to tell
  kLate,      // the message had expired already, or was never sent from here
  kRepeated,  // the message was settled already: a repeated answer changes nothing
};

// Which server slot a datagram was read from.
enum class DatagramSource { kNone, kChannel, kWinPopup };

// The ways datagrams leave this copy (the transport setting): by mailslot
// alone (no UDP at all), by mailslot and UDP, or by UDP alone. The last two
// listen on the slot and on the UDP port.
enum class TransportMode { kMailslots, kBoth, kUdp };
// The setting's text: "mailsloty" (or anything starting "mail"), "udp", and
// anything else, "oba" and empty included, is both.
TransportMode ParseTransportMode(const std::string& text);

inline constexpr uint32_t kSlotMaxMessage = 100100;
// The server slot a WinPopup client writes to; ours while emulation is on.
inline constexpr char kWinPopupSlotName[] = "messngr";

class LanEngine {
 public:
  LanEngine();
  ~LanEngine();
  LanEngine(const LanEngine&) = delete;
  LanEngine& operator=(const LanEngine&) = delete;

  // ---- Starting and stopping (host threads) ------------------------------

  // Called after a client open or write failed with `error` (any thread).
  // For 3025, remote mailslots switched off by Windows, the user gets one
  // error box per engine start that says how to switch them on; the log
  // keeps the code.
  void NoteSendFailure(DWORD error);

  // Opens the slots and starts `worker` (with the engine as its argument)
  // on a host thread; true when the engine runs afterwards (or already ran).
  // On false the caller decides what the failure means for the own status.
  bool Start(HostThreadRoutine worker);
  // Tells the bus and the host, clears the running flag; with wait, also
  // waits up to 5 s for the worker and closes the slots. A start that finds
  // a worker still finishing after a stop waits for it (up to 5 s) first.
  void Stop(bool wait);
  // Brings the engine in line with the status word as one step under the
  // lifecycle lock, the status read inside it: starts it with `worker` when
  // the status is not offline and it is stopped, stops it without waiting
  // in the opposite case. When that start fails, `startFailed` runs while
  // the lock is still held (it may call FollowStatus again).
  void FollowStatus(HostThreadRoutine worker, void (*startFailed)());
  // True from a successful start until a stop clears it. The worker polls it.
  bool Running() const { return running_.load(); }

  // ---- Sending and the bus (any thread) ----------------------------------

  // The one send operation: "*" every computer of the domain (or every
  // listed contact when onlyListed), "^" every LAN contact in turn. True when
  // at least one datagram was written. Notes where each datagram went; with
  // `written`, a datagram to one computer fills it in for writing again.
  // By the transport mode: "*" goes by mailslot and UDP broadcast, one
  // computer by UDP when it was heard on UDP, else by mailslot, and by UDP
  // after all when its mailslot is switched off (error 3025) and its name
  // resolves.
  bool SendPacket(const std::string& target, const std::string& command, const std::string& body,
                  MessageCopy* written = nullptr) EXCLUDES(sendLock_);
  // Offers a bus record to the subscribers whose mask shares a bit with
  // `flag`; the OR of their answers (0 without subscribers).
  int32_t Notify(int32_t flag, void* record) EXCLUDES(listenersLock_);
  // Host message kMsgBusSubscribe: store the mask; the number of
  // subscribers after.
  int Subscribe(int32_t pluginId, int32_t mask) EXCLUDES(listenersLock_);

  // ---- The own presence (any thread) -------------------------------------

  // The own status number as the host and the network see it.
  int32_t Status() const { return status_.load(); }
  void SetStatus(int32_t status) { status_.store(status); }
  // Auto-away's one step: while the engine runs, stores `desired` only if
  // the status is still `expected`; true when it did. Taken under the
  // lifecycle lock, so it never decides on a running engine that a start
  // or stop on another thread is changing meanwhile, and never overwrites a
  // status the user set since.
  bool ReplaceRunningStatus(int32_t expected, int32_t desired) EXCLUDES(lifecycleLock_);
  // A "STATUS" to everybody is due; the worker sends it at its next pass.
  void MarkStatusDirty() { statusDirty_.store(true); }
  // Whether one was due, clearing the mark (the worker, before it sends).
  bool TakeStatusDirty() { return statusDirty_.exchange(false); }

  std::string StatusInfo() const EXCLUDES(textLock_);
  void SetStatusInfo(const std::string& text) EXCLUDES(textLock_);
  std::string CloakName() const EXCLUDES(textLock_);
  void SetCloakName(const std::string& name) EXCLUDES(textLock_);
  std::string ChannelName() const EXCLUDES(textLock_);

  // Talk only with computers on the contact list.
  bool OnlyListed() const { return onlyListed_.load(); }
  void SetOnlyListed(bool only) { onlyListed_.store(only); }

  // ---- Searches (any thread) ---------------------------------------------

  // A count of the queries running, so that the first of two searches to
  // end does not clear the mark under the other.
  void BeginSearch() { searching_.fetch_add(1); }
  void EndSearch() { searching_.fetch_sub(1); }
  bool Searching() const { return searching_.load() > 0; }

  // ---- Unacknowledged messages (any thread) ------------------------------

  // Takes the next message number (the first is 1; numbers are never
  // reused while the library is loaded) and remembers the message under it,
  // as one step: two sending threads never share a number and an
  // acknowledgement never finds a number whose entry is still missing.
  // The table and the number are stored with the plug-in's settings
  // before it returns.
  int32_t RememberPending(int64_t sendTime, const std::string& text, const std::string& target)
      EXCLUDES(storeLock_, lock_);
  // Forgets a message answered by `from`, the computer it was sent to; an
  // answer from anybody else settles nothing of ours (a copy that lost its
  // numbers may answer under a number we gave another message). The numbers
  // settled lately (by an answer or by expiry) are remembered, kSettledKept
  // at most, so that a repeated answer is told from a late one. The stored
  // table follows at the worker's next pass (StoreTableIfChanged), not
  // here: this runs on the receive path once per answer, and rewriting the
  // whole table each time made answers wait behind it when many messages
  // were out. A crash in between can only make a message that was answered
  // be reported as possibly lost, never the reverse.
  AckOutcome TakeAcknowledged(int32_t number, const std::string& from) EXCLUDES(storeLock_, lock_);
  // Removes and returns every entry more than `maxAge` seconds older than
  // `now`, for the caller to report outside the lock.
  std::vector<PendingMessage> ExpirePending(int64_t now, int32_t maxAge)
      EXCLUDES(storeLock_, lock_);
  // Keeps the datagram of message `number` as it was written, so that it
  // may be written again.
  void KeepDatagram(int32_t number, MessageCopy written) EXCLUDES(lock_);
  // The copies due at `now`: messages kept for sending again, sent again
  // fewer than `maxCopies` times, whose last copy is `interval` seconds old
  // or older. Counts each copy as sent (WriteAgain may still hold it back).
  std::vector<MessageCopy> TakeCopiesDue(int64_t now, int64_t interval, int maxCopies)
      EXCLUDES(lock_);
  // Writes a copy again as it is, without a new number and without telling
  // the bus: a repeat, not a new datagram, and only while it is still the
  // last datagram that went to its receiver (nothing else to that computer,
  // nor to "*", since), as one step with that check. True when written.
  bool WriteAgain(const MessageCopy& copy) EXCLUDES(sendLock_);
  // At the plug-in's start, before the engine's: the counters go on from
  // where the last process left them (the stored message number; the
  // stored datagram counter with room for the numbers written after it was
  // last saved), so that answers to its messages settle nothing of ours and
  // receivers do not take our first datagrams for repeats. Returns the
  // messages the last process left unanswered, and forgets them.
  std::vector<PendingMessage> ResumeFromStore() EXCLUDES(storeLock_, lock_);
  // The worker, once per pass and at its end: stores the datagram counter
  // when it moved since last stored.
  void SaveSequence();
  // The worker, once per pass and at its end: stores the table of
  // unanswered messages when an answer changed it since last stored.
  void StoreTableIfChanged() EXCLUDES(storeLock_, lock_);
  static constexpr int32_t kSequenceGap = 1000;
  // Empties the table and makes the next number taken `lastNumber` + 1. For
  // fuzz targets that replay fixed numbers; never while a message is sent.
  void ResetMessages(int32_t lastNumber) EXCLUDES(lock_);

  // ---- The worker's side -------------------------------------------------

  // Datagrams waiting in each open server slot.
  struct WaitingCounts {
    uint32_t winPopup = 0;
    uint32_t channel = 0;
    uint32_t total() const { return winPopup + channel; }
  };
  WaitingCounts CountWaiting() const EXCLUDES(lock_);
  uint32_t WaitingDatagrams() const EXCLUDES(lock_) { return CountWaiting().total(); }
  // Reads the next waiting datagram into `bytes` (the WinPopup slot first),
  // `buffer` being the reader's reusable space; kNone when nothing could be
  // read. The slots are touched only under the lock and only while open: a
  // waiting stop that gave up on a stuck worker closes them under the same
  // lock, and the worker never touches them again.
  // Frames from the UDP port come after both slots, `path` telling which
  // way the datagram came. A slot is read only while its count in `budget`
  // (taken before) lasts, each read taking one off: asking a slot that has
  // nothing looks at its socket, a system call, which the worker would
  // otherwise make before every datagram.
  DatagramSource ReadNextDatagram(std::string& buffer, std::string& bytes, WaitingCounts& budget,
                                  DeliveryPath& path) EXCLUDES(lock_);
  // Whether the UDP port is ours (the worker then reads frames from it).
  bool ListensOnUdp() const { return udpListening_.load(); }
  TransportMode Mode() const { return static_cast<TransportMode>(mode_.load()); }
  // Admits one received frame from `address` (host byte order): on
  // kChannel `datagram` holds its datagram and a listening sender's address
  // is learned; on kNone the drop was counted and logged with its reason.
  // The worker's own step (ReadNextDatagram), exposed for tests and fuzzing.
  DatagramSource AdmitFrame(const std::string& frame, uint32_t address, std::string& datagram)
      EXCLUDES(lock_);
  // Frames dropped so far for `verdict`.
  uint32_t FrameDrops(FrameVerdict verdict) const {
    return frameDrops_[static_cast<size_t>(verdict)].load();
  }
  AddressBook& Addresses() { return addresses_; }
  // Worker thread only: true when `datagram` of `sender` is the other
  // path's copy of one already taken (see PathPairing).
  bool IsPathCopy(const std::string& sender, const std::string& datagram, DeliveryPath path);
  // For tests and fuzz targets that admit frames without a start: the
  // channel frames must name, and the networks they may come from.
  void SetUdpScope(const std::string& channel, const std::vector<LocalNetwork>& networks)
      EXCLUDES(lock_);

  // The worker's last act: closes the slots and clears the worker mark, so
  // that a start or stop waiting for it finds the slots free.
  void WorkerEnded() EXCLUDES(lock_);
  // A worker that cannot go on (its catch-all caught a failure) stops the
  // engine as a stop would, without the bus and host notices a stop sends:
  // the next status other than offline starts it again.
  void WorkerAborted() { running_.store(false); }

  // Worker thread only (or whoever runs the worker's steps while no worker
  // runs): records `number` as the sender's last and tells whether it was
  // already the last one. A sender not seen before counts as last sent 0.
  // At most kSendersKept senders are remembered: a new one beyond that
  // pushes out the one heard from longest ago, so forged names cannot grow
  // the table without bound. `now` (Unix seconds) is when a new last
  // number was taken; on a repeat, `takenAt` (if given) gets that time of
  // the repeated number (0 for a sender not seen before).
  bool RepeatsLastNumber(const std::string& sender, int32_t number, int64_t now = 0,
                         int64_t* takenAt = nullptr);
  static constexpr size_t kSendersKept = 1024;  // not a host number: a bound
  static constexpr size_t kSettledKept = 512;
  // Worker thread only, as above: the senders remembered, and forgetting
  // them (benchmarks and fuzz targets).
  size_t KnownSenders() const { return lastSeqBySender_.size(); }
  void ForgetSenders() { lastSeqBySender_.Clear(); }

  // For benchmarks that run the worker's steps (DrainSlots) on their own
  // thread instead of starting the worker: opens the channel slot
  // `channel` and marks the engine running, with no worker; false when the
  // slot cannot be made. EndSteps closes it and clears the mark. Never
  // together with Start.
  bool BeginSteps(const std::string& channel) EXCLUDES(lock_);
  void EndSteps() EXCLUDES(lock_);

 private:
  // Polls the worker mark in alertable 10 ms steps, at most 500. Returns
  // the number of steps after which it read null, or -1 when it never did.
  int WaitForWorkerClear() const;
  // Closes the last worker's handle once that worker has cleared its mark.
  void ReleaseEndedWorker() REQUIRES(lifecycleLock_);
  void CloseSlots() REQUIRES(lock_);
  // Opens and binds the UDP port by the transport setting; logs why not.
  void OpenUdp() REQUIRES(lock_);
  void RefreshNetworks() REQUIRES(lock_);
  DatagramSource AdmitFrameLocked(const std::string& frame, uint32_t address, std::string& datagram)
      REQUIRES(lock_);
  void DropFrame(FrameVerdict verdict, uint32_t address) REQUIRES(lock_);
  DatagramSource ReadNextFrame(std::string& buffer, std::string& bytes) REQUIRES(lock_);
  // Sends a numbered datagram as a frame to one address, or to every
  // broadcast address when `address` is 0; true when one went out.
  bool SendFrame(const std::string& datagram, uint32_t address);
  // The address a datagram to `target` goes to by UDP (0: none), by the
  // mode; "*" gives INADDR_BROADCAST when UDP broadcasts are to go.
  uint32_t UdpRoute(const std::string& target, bool resolve) const;
  // The ways to one computer (or "*") that the transport mode picks, opened
  // before the datagram is numbered, so that a send reaching nothing uses
  // no number up.
  struct Route {
    MailslotHandle client;
    bool slotOpen = false;
    bool everybody = false;
    uint32_t udp = 0;  // the UDP address, 0 for none
    DWORD error = ERROR_BAD_NETPATH;
  };
  // The bus notice of a send to target, before it goes.
  void NotifySent(const std::string& target, const std::string& command, const std::string& body);
  // SendPacket to one computer or to "*" (every computer), the notice
  // given; senderName is this computer's name when the caller has read it
  // already (a fan-out reads it once), else null.
  bool SendTo(const std::string& target, const std::string& command, const std::string& body,
              MessageCopy* written, const char* senderName) EXCLUDES(sendLock_);
  // False (the error set, and told) when no way is open.
  bool OpenRoute(const std::string& target, Route& route);
  // After error 3025 from the slot, the UDP address the name resolves to.
  void FallBackToUdp(const std::string& target, Route& route);
  // Writes the datagram by the open ways; true when one took it.
  bool WriteRoute(const std::string& target, Route& route, const std::string& datagram);
  // Writes the table to its settings column; the store lock keeps the
  // writes in the order of the changes.
  void StoreTable() REQUIRES(storeLock_) EXCLUDES(lock_);

  // The locks come first: they are built before, and destroyed after, what
  // they guard.
  // Serialises Start and Stop against each other (host threads only; the
  // worker never takes it), so a start never races a stop's wait. Taken
  // before any of the others.
  mutable CriticalSection lifecycleLock_;
  // Held while the table changes and is written to the host, so that the
  // stored copy is always the latest.
  mutable CriticalSection storeLock_ ACQUIRED_AFTER(lifecycleLock_);
  mutable CriticalSection lock_ ACQUIRED_AFTER(storeLock_);
  mutable CriticalSection textLock_ ACQUIRED_AFTER(lock_);
  mutable CriticalSection listenersLock_ ACQUIRED_AFTER(lifecycleLock_);
  // Taken for a moment by every send, to number its datagram and note its
  // receiver as one step; held by WriteAgain across its check and write,
  // so that no datagram to that receiver overtakes the repeat.
  mutable CriticalSection sendLock_ ACQUIRED_AFTER(listenersLock_, textLock_);

  std::map<int32_t, PendingMessage> pendingMessages_ GUARDED_BY(lock_);
  // Numbers settled lately, with the computer each was sent to.
  struct Settled {
    bool expired;  // it expired unanswered, and no answer came since
    std::string target;
  };
  std::map<int32_t, Settled> settled_ GUARDED_BY(lock_);
  // The table changed since it was last stored.
  bool tableChanged_ GUARDED_BY(lock_) = false;
  ReceiverLog receivers_ GUARDED_BY(sendLock_);
  int32_t lastMessageNumber_ GUARDED_BY(lock_) = 0;
  MailslotHandle winPopupSlot_ GUARDED_BY(lock_);
  MailslotHandle channelSlot_ GUARDED_BY(lock_);
  // The UDP port, bound while the engine runs where it could be.
  UdpSocket udpSocket_ GUARDED_BY(lock_);
  std::vector<LocalNetwork> networks_ GUARDED_BY(lock_);
  int64_t networksAt_ GUARDED_BY(lock_) = 0;
  std::string frameChannel_ GUARDED_BY(lock_);
  std::string frameOwnName_ GUARDED_BY(lock_);
  // Per drop reason: when its last log line went out, and the drops since
  // that were only counted.
  int64_t dropLoggedAt_[kFrameVerdicts] GUARDED_BY(lock_) = {};
  uint32_t dropsUnlogged_[kFrameVerdicts] GUARDED_BY(lock_) = {};

  std::string statusInfo_ GUARDED_BY(textLock_);
  std::string channelName_ GUARDED_BY(textLock_);
  std::string cloakName_ GUARDED_BY(textLock_);

  std::map<int32_t, int32_t> listeners_ GUARDED_BY(listenersLock_);
  // Where UDP broadcasts go: the subnets' broadcast addresses.
  std::vector<uint32_t> broadcasts_ GUARDED_BY(textLock_);
  AddressBook addresses_;
  PathPairing pairing_;  // the worker's

  // The last worker's thread handle, kept until the worker has ended; then
  // Start, Stop(true) or the destructor closes it. (workerThread_ itself is
  // cleared by the ending worker and cannot serve.)
  HANDLE workerHandle_ GUARDED_BY(lifecycleLock_) = nullptr;

  // The worker's own: the last sequence number of each sender, and when it
  // was taken.
  struct LastNumber {
    int32_t number = 0;
    int64_t at = 0;
  };
  SenderTable<LastNumber> lastSeqBySender_{kSendersKept};

  std::atomic<int32_t> status_{0};
  std::atomic<bool> running_{false};
  std::atomic<bool> statusDirty_{false};
  // Set by a start to the worker's handle; cleared by the worker as its
  // last act.
  std::atomic<HANDLE> workerThread_{nullptr};
  std::atomic<int32_t> sequence_{0};
  // Where the first start after load begins counting (0: from 1).
  std::atomic<int32_t> resumeSequence_{0};
  // The counter as last stored (the worker's, set at the plug-in's start).
  std::atomic<int32_t> savedSequence_{0};
  // Counts the starts, so that a send mark of an earlier start never
  // equals one of this start with the same sequence number.
  std::atomic<uint32_t> starts_{0};
  std::atomic<bool> onlyListed_{false};
  std::atomic<int32_t> searching_{0};
  // Set once the user was told of switched-off remote mailslots; cleared by
  // each start.
  std::atomic<bool> remoteSlotsOffShown_{false};
  std::atomic<int> mode_{static_cast<int>(TransportMode::kBoth)};
  // Winsock started (once; it stays so while the library is loaded:
  // WSACleanup may not run at unload) and the port bound.
  std::atomic<bool> udpReady_{false};
  std::atomic<bool> udpListening_{false};
  std::atomic<uint32_t> frameDrops_[kFrameVerdicts] = {};
};

// The library's one engine. Built at load before the per-thread buffer slot
// and destroyed after it.
LanEngine& Engine();

}  // namespace vask
