// The outbox (outbox.cpp): datagrams that a receiver could not take at once.
#pragma once

#include <string>

#include "descriptors.h"
#include "win32.h"

namespace vask::platform {

// Hands one datagram to the server that the connected socket leads to,
// without waiting: when the receiver's queue is full, the datagram waits in
// this process's outbox behind any earlier ones for that receiver (on a
// duplicate of the socket), and is lost when those fill the outbox's share.
// 0 when it was sent or kept, else the errno of the failed send.
int SendOrKeep(int connected, const std::string& path, const void* buffer, DWORD size);

}  // namespace vask::platform
