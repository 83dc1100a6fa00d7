// The client side of an emulated mailslot (mailslot_client.cpp): writes to
// one computer's slot or to every computer of the own workgroup ("*").
//
// Writes go on connected sockets that this process keeps per server
// (peer_sockets.h): a client open that finds its server's socket kept looks
// at no file, and a write is one send. A server that has gone since shows in
// that send's error; the write then looks for the server anew, once, as an
// open would, and goes to whatever is bound there now or fails as the open
// would have failed. A broadcast looks for every computer of the workgroup
// at each write, so a computer that started after the open hears it too.
//
// A write to another computer or to "*" carries at most kMaxRemoteWrite
// bytes and fails when remote mailslots are switched off; one to a slot of
// the own computer keeps the server's own limit. A write never waits for a
// receiver: what a full receiver cannot take waits in the outbox or is lost
// (outbox.cpp), and the writer and the other receivers of a broadcast go on
// at once.
#pragma once

#include <memory>
#include <string>

#include "descriptors.h"
#include "handles.h"
#include "mutex.h"
#include "win32.h"

namespace vask::platform {

struct Peer;

class MailslotClient : public Object {
 public:
  // Every computer of the own workgroup having slot.
  explicit MailslotClient(std::string slot);
  // The server of slot on a named computer, which `peer` leads to, kept
  // under `key`. `remote`: another computer's slot, not the own computer's.
  MailslotClient(std::string computer, std::string slot, std::string key,
                 std::shared_ptr<Peer> peer, bool remote);

  BOOL Write(const void* buffer, DWORD size, LPDWORD written);

 private:
  // One datagram to the named server; the GetLastError code.
  DWORD WriteNamed(const void* buffer, DWORD size);

  const bool broadcast_;
  const bool remote_;
  const std::string computer_;
  const std::string slot_;
  const std::string key_;
  Mutex peerLock_;
  std::shared_ptr<Peer> peer_ GUARDED_BY(peerLock_);  // writers on several threads share it
};

// Whether a write to another computer may go: remote mailslots switched on,
// and no more data than one remote write carries. False with the error set.
bool RemoteWriteAllowed(DWORD size);

// Opens the client side of slot on one named computer (see
// FindNamedServer); `remote`: not the own computer. A handle, or
// INVALID_HANDLE_VALUE with the error set.
HANDLE OpenNamedClient(const std::string& computer, const std::string& slot, bool remote);

}  // namespace vask::platform
