// The objects behind HANDLE values. A handle is the object's address; the
// table keeps every live one, so a stale or made-up handle is refused with
// ERROR_INVALID_HANDLE instead of being dereferenced.
#pragma once

#include <memory>

#include "win32.h"

namespace vask::platform {

enum class Kind { kMailslotServer, kMailslotClient, kThread, kNetEnum, kBridgeClient };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  // Called once by CloseHandle before the table lets go: wakes any thread
  // still blocked on the object.
  virtual void Shutdown() {}
  const Kind kind;
};

// Enters the object into the table and returns its handle.
HANDLE RegisterHandle(std::shared_ptr<Object> object);
// The live object of that kind behind a handle, or null with
// ERROR_INVALID_HANDLE set.
std::shared_ptr<Object> LookupHandle(HANDLE handle, Kind kind);
// The live object behind a handle whatever its kind, or null (nothing set).
std::shared_ptr<Object> LookupAnyHandle(HANDLE handle);

}  // namespace vask::platform
