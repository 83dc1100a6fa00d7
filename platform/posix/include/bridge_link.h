// The local link between this library and vask-bridge, the one program of
// a machine that owns the NetBIOS ports when the real LAN is selected.
// The bridge listens on a SOCK_SEQPACKET socket at <LAN>/.bridge; each
// request is one record and gets one 4-byte reply, the GetLastError code
// (little-endian, 0 for success). A connection carries one request at a
// time. Shared by both sides; depends on nothing.
#pragma once

#include <cstddef>

namespace vask::bridge_link {

inline constexpr char kSocketName[] = ".bridge";
// Computers the bridge has heard of, one per line: "WORKGROUP COMPUTER a.b.c.d".
inline constexpr char kNeighboursName[] = ".bridge-neighbours";

// 'R' target NUL: does the computer (or "*", or a workgroup) answer on the network?
inline constexpr char kOpResolve = 'R';
// 'W' sender NUL target NUL slot NUL data: one remote mailslot write.
inline constexpr char kOpWrite = 'W';

inline constexpr size_t kReplySize = 4;
// Longest request: the three names and more data than a remote write may
// carry, so that the bridge itself refuses an oversized write.
inline constexpr size_t kMaxRequest = 4096;
// How long a client waits for a reply: a name query takes under a second.
inline constexpr int kReplyTimeoutMs = 5000;

}  // namespace vask::bridge_link
