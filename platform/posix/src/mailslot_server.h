// The server side of an emulated mailslot (mailslot_server.cpp).
//
// A server slot is an AF_UNIX datagram socket bound at
// <LAN>/<WORKGROUP>/<COMPUTER>/<slot>. A drainer thread moves every datagram
// into a queue owned by the server handle as soon as it arrives, which gives
// GetMailslotInfo an exact count (the socket alone tells only the next size);
// a write to a server of the same process goes straight into that queue.
// A read that waits on an empty queue watches the socket itself and the
// drainer stops watching it meanwhile: an arrival then wakes one thread,
// not the drainer and then the reader, and the drainer watches again before
// the read returns, so the socket is never left unwatched.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "descriptors.h"
#include "handles.h"
#include "mutex.h"
#include "peer_sockets.h"
#include "win32.h"

namespace vask::platform {

class MailslotServer : public Object {
 public:
  MailslotServer(DWORD maxSize, DWORD timeout)
      : Object(Kind::kMailslotServer), maxSize_(maxSize), timeout_(timeout) {}
  ~MailslotServer() override { Shutdown(); }

  // Binds the socket at path (the caller holds the computer's folder lock)
  // and starts the drainer. False with the error set.
  bool Bind(const std::string& path);
  void Shutdown() override;

  // A write from this process: queued at once, by the rules a datagram
  // from the socket keeps.
  void Accept(const void* buffer, DWORD size);
  // GetMailslotInfo and ReadFile.
  BOOL Info(LPDWORD maxSize, LPDWORD nextSize, LPDWORD count, LPDWORD timeout);
  BOOL Read(void* buffer, DWORD toRead, LPDWORD read);

 private:
  // The drainer thread: waits on its set (the socket, unless a reader
  // watches it, and the wake-up descriptor).
  void DrainLoop(int watched, int wake);
  // Whether the drainer's set includes the socket; false if it cannot change.
  bool DrainerWatches(bool watch) REQUIRES(lock_);
  // A message was queued: wakes the readers, the one watching the socket too.
  void AnnounceLocked() REQUIRES(lock_);
  // Moves every waiting datagram into the queue; true if any was kept.
  bool DrainLocked() REQUIRES(lock_);
  // DrainLocked for a server without a size limit: each datagram's size is
  // asked first, so none is cut short.
  bool DrainEachLocked() REQUIRES(lock_);
  // Queues one message for the reader; false when it is dropped.
  bool KeepLocked(std::vector<char> message) REQUIRES(lock_);

  const DWORD maxSize_;
  const DWORD timeout_;
  // Set by Bind before the server is shared, then only read.
  std::string path_;
  Fd wake_;
  // The drainer's epoll set, and the wake-up descriptor of a reader that
  // watches the socket.
  Fd watched_;
  Fd readerWake_;
  std::thread drainer_;
  Mutex lock_;
  CondVar arrived_;
  Fd socket_ GUARDED_BY(lock_);
  // Room for a batch of datagrams of the largest size kept (with a limit
  // only); its pages are touched only as datagrams fill them.
  std::unique_ptr<char[]> batch_ GUARDED_BY(lock_);
  std::deque<std::vector<char>> queue_ GUARDED_BY(lock_);
  size_t queued_ GUARDED_BY(lock_) = 0;
  bool shutDown_ GUARDED_BY(lock_) = false;
  // A reader watches the socket (and the drainer does not); it holds the
  // socket open until it clears this and notifies arrived_.
  bool readerWatches_ GUARDED_BY(lock_) = false;
};

// Creates the server slot on a computer of a workgroup of the LAN; a
// handle, or INVALID_HANDLE_VALUE with the error set.
HANDLE CreateServer(const std::string& workgroup, const std::string& computer,
                    const std::string& name, DWORD maxSize, DWORD timeout);

// Hands the datagram to the server at path when it is one of this
// process's; false when it is not.
bool DeliverInProcess(const std::string& path, const void* buffer, DWORD size);
// The same for the server a peer leads to; while no server of this process
// has come or gone since its path was last found to be none of them, that
// answer stands without a look.
bool DeliverInProcess(Peer& peer, const void* buffer, DWORD size);

}  // namespace vask::platform
