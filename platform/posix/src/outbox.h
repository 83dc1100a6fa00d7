// The outbox (outbox.cpp): datagrams that a receiver could not take at once.
#pragma once

#include <string>

#include "descriptors.h"
#include "win32.h"

namespace vask::platform {

// Hands one datagram to the server that the connected socket leads to,
// without waiting: when the receiver's queue is full, the datagram waits in
// this process's outbox behind any earlier ones for that receiver, and is
// lost when those fill the outbox's share. ERROR_SUCCESS when it was sent
// or kept, else the code of the failed send (the socket is then still the
// caller's).
DWORD SendOrKeep(Fd& connected, const std::string& path, const void* buffer, DWORD size);

}  // namespace vask::platform
