// The rule for a usable LAN directory, in one place for the Win32 subset,
// the stand-in host and vask-bridge: it exists (or is made now, 0700), is a
// directory and not a symbolic link to one, belongs to us, and is closed to
// everyone else. Header only, as lan_names.h: the bridge uses it without
// linking the library.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace vask::lan_dir {

// Where the LAN directory is unless a caller says otherwise: $VASK_LAN_DIR,
// else ${XDG_RUNTIME_DIR:-/tmp}/vask-lan-<uid>. Read at each call, as the
// environment may change between calls (tests, vask-host's --lan-dir).
// PathFrom takes the two variables' values (null when unset).
inline std::string PathFrom(const char* lan, const char* runtime) {
  if (lan && *lan) return lan;
  return std::string(runtime && *runtime ? runtime : "/tmp") + "/vask-lan-" +
         std::to_string(::getuid());
}
inline std::string DefaultPath() {
  return PathFrom(std::getenv("VASK_LAN_DIR"), std::getenv("XDG_RUNTIME_DIR"));
}

enum class Verdict {
  kUsable,
  kCannotMake,     // missing and mkdir failed; `error` says why
  kNotADirectory,  // a file, a socket or a symbolic link
  kNotOurs,        // another user's
  kOpenToOthers,   // group or others have any access: chmod 700 mends it
};

struct Check {
  Verdict verdict = Verdict::kUsable;
  int error = 0;  // the errno of a failed mkdir or lstat
  bool usable() const { return verdict == Verdict::kUsable; }
};

// Checks path by the rule, making it (0700) when it is missing. lstat: a
// symbolic link planted in a shared /tmp is refused, not followed. The
// directory is nearly always there: one lstat then.
inline Check Prepare(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return {Verdict::kCannotMake, errno};
    if (::lstat(path.c_str(), &info) != 0) return {Verdict::kCannotMake, errno};
  }
  if (!S_ISDIR(info.st_mode)) return {Verdict::kNotADirectory, 0};
  if (info.st_uid != ::geteuid()) return {Verdict::kNotOurs, 0};
  if ((info.st_mode & 077) != 0) return {Verdict::kOpenToOthers, 0};
  return {};
}

// What is wrong, in a few English words for a log ("" when usable).
inline const char* Describe(Verdict verdict) {
  switch (verdict) {
    case Verdict::kUsable:
      return "";
    case Verdict::kCannotMake:
      return "cannot be made";
    case Verdict::kNotADirectory:
      return "is not a directory";
    case Verdict::kNotOurs:
      return "belongs to another user";
    case Verdict::kOpenToOthers:
      return "is open to other users (chmod 700 mends it)";
  }
  return "";
}

}  // namespace vask::lan_dir
