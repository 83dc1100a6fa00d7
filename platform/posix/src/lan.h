// The emulated LAN: this computer's names, the LAN directory and its
// folders (<LAN>/<WORKGROUP>/<COMPUTER>/<slot>), and the sockets of the
// server slots in them (lan.cpp).
#pragma once

#include <string>
#include <vector>

#include "descriptors.h"
#include "win32.h"

namespace vask::platform {

std::string UpperName(const std::string& name);  // ASCII upper case, at most 15 characters
std::string OwnComputerName();
std::string OwnWorkgroup();
// A name that stays one file in its folder: not empty, no '/' or NUL, and
// no "." or ".." as the whole name or between its backslashes.
bool IsUsableComponent(const std::string& name);
bool IsFolder(const std::string& path);
// The folders in parent whose names match name without regard to case
// (lan_names.h), name itself first when it is one; none when there are none.
std::vector<std::string> FoldersNamed(const std::string& parent, const std::string& name);
// The names in a folder (workgroups, computers or slots), sorted.
std::vector<std::string> ListDirectory(const std::string& path);

// The most data one write to another computer or to "*" carries, as
// between Windows computers and through vask-bridge: a longer one fails with
// ERROR_BAD_NETPATH, the code both give.
inline constexpr DWORD kMaxRemoteWrite = 424;
// VASK_REMOTE_MAILSLOTS=off (or 0): remote mailslots are switched off on this
// computer, as newer Windows ships them; opens of and writes to another
// computer's slot or "*" fail with ERROR_REMOTE_MAILSLOTS_DEPRECATED.
bool RemoteMailslotsOff();
// Where the LAN directory is by the environment ($VASK_LAN_DIR, else
// ${XDG_RUNTIME_DIR:-/tmp}/vask-lan-<uid>), without looking at it; the
// thread's own copy, good until its next call.
const std::string& LanPath();
// The LAN directory by lan_dir.h's rule, created 0700 when missing. False
// with ERROR_ACCESS_DENIED when it is not ours alone, or another error when
// it cannot be made.
bool LanDirectory(std::string* path);

// A datagram socket connected to the live server bound at the socket path,
// or an invalid Fd when none is (a symbolic link is not followed).
Fd ConnectLive(const std::string& path);
// True when a live server is bound at the socket path (a connect test).
bool SocketIsLive(const std::string& path);

}  // namespace vask::platform
