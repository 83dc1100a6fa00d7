// Reads of the process environment that the Win32 calls make at every call
// (the computer's and workgroup's names, the LAN directory, the remote
// switch). Each answers as getenv would at that moment, but the environment
// is looked through again only when the variable's entry may have changed:
// setenv and unsetenv replace the entry's pointer, move the entries after a
// removed one, or move the array, and a few compares see each of those. A
// string given to putenv and then changed in place is not seen (nothing
// here uses putenv).
#pragma once

namespace vask::platform {

// getenv(name); name must live as long as the thread (a literal). Per
// thread, so no lock: as with getenv, a change made by another thread while
// this one reads is the caller's race.
const char* EnvironmentValue(const char* name);

}  // namespace vask::platform
