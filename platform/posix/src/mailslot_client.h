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
#include <string_view>

#include "descriptors.h"
#include "handles.h"
#include "mutex.h"
#include "win32.h"

namespace vask::platform {

struct Peer;

// A named client's target, as an open works it out from the name and the
// environment; shared by the handles opened on it.
struct NamedTarget {
  std::string computer;  // upper case; the own computer's name for "."
  std::string slot;      // folded
  std::string key;       // its kept socket's: LAN directory, workgroup, computer and slot
  bool remote = true;    // another computer's slot, not the own computer's
};

// The target worked out for "\\<computer>\mailslot\<slot>" on computer
// and slot (already checked); kept per thread under the name, so that opening
// the same slots again (a fan-out opens every contact's at each send) does
// not work them out again while the environment it depends on is the same.
std::shared_ptr<const NamedTarget> MakeTarget(std::string computer, std::string slot, bool remote);
std::shared_ptr<const NamedTarget> RememberedTarget(std::string_view name);
void RememberTarget(std::string_view name, std::shared_ptr<const NamedTarget> target);

class MailslotClient : public Object {
 public:
  // Every computer of the own workgroup having slot.
  explicit MailslotClient(std::string slot);
  // The server of a named target, which `peer` leads to.
  MailslotClient(std::shared_ptr<const NamedTarget> target, std::shared_ptr<Peer> peer);

  BOOL Write(const void* buffer, DWORD size, LPDWORD written);

 private:
  // One datagram to the named server; the GetLastError code.
  DWORD WriteNamed(const void* buffer, DWORD size);

  const bool broadcast_;
  const bool remote_;
  const std::string slot_;                           // a broadcast's
  const std::shared_ptr<const NamedTarget> target_;  // a named client's
  Mutex peerLock_;
  std::shared_ptr<Peer> peer_ GUARDED_BY(peerLock_);  // writers on several threads share it
};

// Whether a write to another computer may go: remote mailslots switched on,
// and no more data than one remote write carries. False with the error set.
bool RemoteWriteAllowed(DWORD size);

// Opens the client side of a named target (see FindNamedServer). A handle,
// or INVALID_HANDLE_VALUE with the error set.
HANDLE OpenNamedClient(std::shared_ptr<const NamedTarget> target);

}  // namespace vask::platform
