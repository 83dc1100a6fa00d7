// Where the emulated LAN's server slots are: the socket path of a slot on a
// computer, found or made for a server and looked up for a client, the
// names' prefixes of the Win32 entry points, and the socket addresses.
#pragma once

#include <sys/un.h>

#include <string>

#include "descriptors.h"

namespace vask::platform {

// Whether text begins with prefix, ASCII letters compared without regard
// to case.
bool StartsWithNoCase(const char* text, const char* prefix);
// The AF_UNIX address of a socket path; false when the path is too long.
bool FillAddress(const std::string& path, sockaddr_un* address);

// The folder of a computer of a workgroup under the LAN directory lan,
// wherever it already is in whatever case (the own workgroup's first),
// else made under the names given. False with the error set.
bool ComputerFolder(const std::string& lan, const std::string& workgroup,
                    const std::string& computer, std::string* folder);

// The live server of slot on a named computer, in any workgroup, this
// computer's own workgroup first; folders match without regard to case.
// Connected, with *path its socket path; an invalid Fd when there is none,
// and *computerSeen set when the computer's folder is there.
Fd FindNamedServer(const std::string& lan, const std::string& computer, const std::string& slot,
                   std::string* path, bool* computerSeen);

}  // namespace vask::platform
