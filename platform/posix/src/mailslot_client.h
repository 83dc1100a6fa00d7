// The client side of an emulated mailslot (mailslot_client.cpp): writes to
// one computer's slot or to every computer of the own workgroup ("*").
//
// A client handle's first write goes on the socket that proved its server
// live at the open (a broadcast's, on the sockets that proved each receiver
// live at the write); other writes, and one whose server has gone since, on
// a fresh socket per receiver. A write to another computer or to "*"
// carries at most kMaxRemoteWrite bytes and fails when remote mailslots are
// switched off; one to a slot of the own computer keeps the server's own
// limit. A write never waits for a receiver: what a full receiver cannot
// take waits in the outbox or is lost (outbox.cpp), and the writer and the
// other receivers of a broadcast go on at once.
#pragma once

#include <string>

#include "descriptors.h"
#include "handles.h"
#include "mutex.h"
#include "win32.h"

namespace vask::platform {

class MailslotClient : public Object {
 public:
  // Every computer of the own workgroup having slot.
  explicit MailslotClient(std::string slot);
  // The server at path, which `live` is connected to: the open's proof that
  // the server is live carries the first write. `remote`: another
  // computer's slot, not the own computer's.
  MailslotClient(std::string slot, std::string path, Fd live, bool remote);

  BOOL Write(const void* buffer, DWORD size, LPDWORD written);

 private:
  const bool broadcast_;
  const bool remote_;
  const std::string slot_;
  const std::string path_;
  Mutex liveLock_;
  Fd live_ GUARDED_BY(liveLock_);  // writers on several threads share it
};

// Whether a write to another computer may go: remote mailslots switched on,
// and no more data than one remote write carries. False with the error set.
bool RemoteWriteAllowed(DWORD size);

// Opens the client side of slot on one named computer (see
// FindNamedServer); `remote`: not the own computer. A handle, or
// INVALID_HANDLE_VALUE with the error set.
HANDLE OpenNamedClient(const std::string& computer, const std::string& slot, bool remote);

}  // namespace vask::platform
