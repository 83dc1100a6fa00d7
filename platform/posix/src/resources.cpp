// String resources: GetModuleHandleA, FindResourceA, SizeofResource,
// LoadStringA, and VaskRegisterString which fills the string tables that a
// resource compiler would have built into a Windows module.
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <string>

#include "mutex.h"
#include "win32.h"

namespace vask::platform {
namespace {

// Strings go in blocks of 16 ids; block b holds ids (b - 1) * 16 to
// (b - 1) * 16 + 15, and FindResourceA names a block, not a string.
constexpr UINT kPerBlock = 16;

char programModule;  // its address is the running program's module handle

struct Block {
  HMODULE module;
  UINT block;
};

struct Tables {
  Mutex lock;
  std::map<HMODULE, std::map<UINT, std::string>> strings GUARDED_BY(lock);
  // Handed out as HRSRC values; map nodes never move.
  std::map<std::pair<HMODULE, UINT>, Block> blocks GUARDED_BY(lock);
};

Tables& State() {
  static auto* state = new Tables();
  return *state;
}

HMODULE Resolve(HMODULE module) { return module ? module : &programModule; }

}  // namespace
}  // namespace vask::platform

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  using namespace vask::platform;
  if (!moduleName) return &programModule;
  // Only a library already loaded has a handle; this does not load one.
  void* library = ::dlopen(moduleName, RTLD_LAZY | RTLD_NOLOAD);
  if (!library) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ::dlclose(library);  // NOLOAD took a reference; the handle stays the same
  return library;
}

void VaskRegisterString(HMODULE module, UINT id, LPCSTR text) {
  using namespace vask::platform;
  Tables& state = State();
  vask::MutexLock guard(state.lock);
  if (text) {
    state.strings[Resolve(module)][id] = text;
  } else {
    state.strings[Resolve(module)].erase(id);
  }
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  using namespace vask::platform;
  if (type != RT_STRING) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  if (!IS_INTRESOURCE(name) || reinterpret_cast<ULONG_PTR>(name) == 0) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  UINT block = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name));
  module = Resolve(module);
  Tables& state = State();
  vask::MutexLock guard(state.lock);
  auto table = state.strings.find(module);
  UINT first = (block - 1) * kPerBlock;
  if (table == state.strings.end() ||
      table->second.lower_bound(first) == table->second.lower_bound(first + kPerBlock)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  auto it = state.blocks.try_emplace({module, block}, Block{module, block}).first;
  return &it->second;
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
  using namespace vask::platform;
  Tables& state = State();
  vask::MutexLock guard(state.lock);
  const Block* found = nullptr;
  for (const auto& entry : state.blocks) {
    if (&entry.second == resource) found = &entry.second;
  }
  if (!found || Resolve(module) != found->module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  // As compiled on Windows: each of the 16 strings is a 16-bit length and
  // that many UTF-16 units, one per ANSI character here.
  DWORD size = kPerBlock * 2;
  const auto& table = state.strings[found->module];
  UINT first = (found->block - 1) * kPerBlock;
  for (auto it = table.lower_bound(first); it != table.end() && it->first < first + kPerBlock;
       ++it) {
    size += static_cast<DWORD>(it->second.size() * 2);
  }
  return size;
}

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
  using namespace vask::platform;
  if (!buffer || bufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Tables& state = State();
  vask::MutexLock guard(state.lock);
  auto table = state.strings.find(Resolve(instance));
  if (table == state.strings.end() || !table->second.count(id)) {
    buffer[0] = '\0';
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const std::string& text = table->second.at(id);
  // Cut to the buffer, NUL included, as Windows does.
  size_t length = std::min(text.size(), static_cast<size_t>(bufferMax - 1));
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

}  // extern "C"
