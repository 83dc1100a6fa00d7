// The outcome of decoding or building one packet: success, or the reason in
// a short English phrase for the bridge's log line ("DataOffset beyond the
// packet"). Reasons are string literals; nothing is owned.
#pragma once

namespace vask::bridge {

struct Status {
  const char* error = nullptr;

  static Status Ok() { return Status{}; }
  static Status Fail(const char* reason) { return Status{reason}; }
  bool ok() const { return error == nullptr; }
  explicit operator bool() const { return ok(); }
};

}  // namespace vask::bridge
