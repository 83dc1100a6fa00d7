// A LAN inside one Windows process for two copies of vask.dll.
//
// Each copy is loaded under its own file name and gets its own computer
// name and mailslots: its import table's mailslot and file functions and
// GetComputerNameA are pointed at the relay's, which keep server slots per
// computer and carry client writes between them as a network would: a
// write between two computers (or to "*") carries at most 424 bytes, a
// write never waits for its receiver, and a broadcast reaches every
// computer's slot of that name, the writer's own included. Handles that
// are not the relay's pass through to the system.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wine {

constexpr size_t kMaxRemoteWrite = 424;
constexpr DWORD kRemoteMailslotsOff = 3025;

// Where the copy with index `copy` (0 or 1) is loaded and what it is called.
// Patches that module's imports; false (with the function's name in
// `error`) when an import the relay needs is missing.
bool JoinRelay(int copy, HMODULE module, const std::string& computer, std::string& error);

// Datagrams written to the computer `computer` are kept back (a network
// that loses them) until ReleaseHeld, which delivers them in order.
void HoldDatagramsTo(const std::string& computer);
void ReleaseHeld();
// Opens of another computer's slot by copy `copy` fail with 3025, as on a
// Windows whose remote mailslots are switched off.
void SwitchRemoteMailslots(int copy, bool on);

// What went between the computers: every write the relay carried or
// refused, for the checks.
struct RelayWrite {
  int fromCopy;
  std::string target;  // the computer named in the path, or "*"
  size_t size;
  bool delivered;    // false: refused (too long, or remote slots off)
  DWORD error;       // the error of a refused write or open
  std::string data;  // the datagram
};
std::vector<RelayWrite> RelayWrites();
void ForgetRelayWrites();
// Server slots still open (the copies close theirs when they stop).
int OpenRelaySlots();

}  // namespace wine
