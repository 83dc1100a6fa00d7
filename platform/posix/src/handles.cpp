// The handle table and CloseHandle.
#include "handles.h"

#include <unordered_map>

#include "mutex.h"

namespace vask::platform {
namespace {

// Neither goes at exit: handles may be closed from static destructors of
// other libraries after ours would have run. The lock is initialised at
// compile time and has nothing to destroy; the table is leaked.
constinit Mutex tableLock;
std::unordered_map<HANDLE, std::shared_ptr<Object>>& Table() REQUIRES(tableLock) {
  static auto* table = new std::unordered_map<HANDLE, std::shared_ptr<Object>>();
  return *table;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<Object> object) {
  HANDLE handle = object.get();
  vask::MutexLock guard(tableLock);
  Table()[handle] = std::move(object);
  return handle;
}

std::shared_ptr<Object> LookupAnyHandle(HANDLE handle) {
  vask::MutexLock guard(tableLock);
  auto it = Table().find(handle);
  return it == Table().end() ? nullptr : it->second;
}

std::shared_ptr<Object> LookupHandle(HANDLE handle, Kind kind) {
  std::shared_ptr<Object> object = LookupAnyHandle(handle);
  if (!object || object->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

}  // namespace vask::platform

extern "C" {

BOOL WINAPI CloseHandle(HANDLE handle) {
  using namespace vask::platform;
  std::shared_ptr<Object> object;
  {
    vask::MutexLock guard(tableLock);
    auto it = Table().find(handle);
    if (it == Table().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object = std::move(it->second);
    Table().erase(it);
  }
  // A thread still inside ReadFile on this object holds its own reference;
  // Shutdown wakes it, and the object goes when the last reference does.
  object->Shutdown();
  return TRUE;
}

}  // extern "C"
