// Thread-local storage: TlsAlloc, TlsGetValue, TlsSetValue, TlsFree.
//
// Windows clears an index's value in every thread when it is freed; a
// plug-in unloaded and loaded again gets the same index back and must not
// find the block its previous copy left in some thread. Each index carries a
// generation: a thread's value counts only while it was stored under the
// index's current generation.
#include <array>
#include <atomic>

#include "mutex.h"
#include "win32.h"

namespace vask::platform {
namespace {

constexpr DWORD kSlots = 128;

constinit Mutex slotLock;  // initialised at compile time, nothing to destroy
std::array<bool, kSlots> inUse GUARDED_BY(slotLock){};
std::array<std::atomic<uint64_t>, kSlots> generation{};

struct Value {
  uint64_t generation = 0;
  LPVOID value = nullptr;
};
thread_local std::array<Value, kSlots> values{};

bool Allocated(DWORD index) {
  if (index >= kSlots) return false;
  vask::MutexLock guard(slotLock);
  return inUse[index];
}

}  // namespace
}  // namespace vask::platform

extern "C" {

DWORD WINAPI TlsAlloc(void) {
  using namespace vask::platform;
  vask::MutexLock guard(slotLock);
  for (DWORD i = 0; i < kSlots; ++i) {
    if (!inUse[i]) {
      inUse[i] = true;
      generation[i].fetch_add(1);
      return i;
    }
  }
  SetLastError(ERROR_NO_MORE_ITEMS);
  return TLS_OUT_OF_INDEXES;
}

LPVOID WINAPI TlsGetValue(DWORD index) {
  using namespace vask::platform;
  if (!Allocated(index)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Win32 clears the error on success, so callers can tell a stored null
  // from a failure.
  SetLastError(ERROR_SUCCESS);
  const Value& slot = values[index];
  return slot.generation == generation[index].load() ? slot.value : nullptr;
}

BOOL WINAPI TlsSetValue(DWORD index, LPVOID value) {
  using namespace vask::platform;
  if (!Allocated(index)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  values[index] = Value{generation[index].load(), value};
  return TRUE;
}

BOOL WINAPI TlsFree(DWORD index) {
  using namespace vask::platform;
  vask::MutexLock guard(slotLock);
  if (index >= kSlots || !inUse[index]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  inUse[index] = false;
  generation[index].fetch_add(1);
  return TRUE;
}

}  // extern "C"
