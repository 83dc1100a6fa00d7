#include "tests/wine/lan_relay.h"

#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "tests/wine/import_patch.h"

namespace wine {

namespace {

constexpr size_t kQueueLimit = 1000;  // a full queue loses the datagram, as a network does

struct Slot {
  std::string computer;
  std::string name;
  DWORD maxSize;
  std::deque<std::string> queue;
};

struct RelayHandle {
  bool server;
  int copy;
  Slot* slot;          // server side
  std::string target;  // client side: computer name or "*"
  std::string name;    // client side: slot name
};

struct Held {
  std::string computer;
  std::string name;
  std::string data;
};

struct Relay {
  Relay() { InitializeCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  std::string computers[2];
  bool remoteOff[2] = {false, false};
  std::vector<std::unique_ptr<Slot>> slots;
  std::map<HANDLE, RelayHandle> handles;
  std::string holdTo;
  std::vector<Held> held;
  std::vector<RelayWrite> writes;
};

Relay& State() {
  static Relay relay;
  return relay;
}

class Locked {
 public:
  Locked() { EnterCriticalSection(&State().lock); }
  ~Locked() { LeaveCriticalSection(&State().lock); }
};

bool Same(const std::string& a, const std::string& b) {
  return _stricmp(a.c_str(), b.c_str()) == 0;
}

// "\\HOST\mailslot\NAME": HOST and NAME, or false for any other path.
bool SplitSlotPath(const char* path, std::string& host, std::string& name) {
  if (path == nullptr || std::strncmp(path, "\\\\", 2) != 0) return false;
  const char* hostEnd = std::strchr(path + 2, '\\');
  if (hostEnd == nullptr || _strnicmp(hostEnd, "\\mailslot\\", 10) != 0) return false;
  host.assign(path + 2, hostEnd);
  name = hostEnd + 10;
  return !host.empty() && !name.empty();
}

Slot* FindSlot(const std::string& computer, const std::string& name) {
  for (auto& slot : State().slots)
    if (Same(slot->computer, computer) && Same(slot->name, name)) return slot.get();
  return nullptr;
}

HANDLE NewHandle(const RelayHandle& h) {
  // A real (event) handle as the key: it cannot collide with any other
  // handle of the process, and CloseHandle of it is harmless.
  HANDLE key = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  State().handles[key] = h;
  return key;
}

RelayHandle* Find(HANDLE h) {
  auto it = State().handles.find(h);
  return it == State().handles.end() ? nullptr : &it->second;
}

// Relay handles are made and closed only by the copies' own calls, so the
// answer cannot change between this test and the use that follows it; the
// system's functions are then called without the relay's lock.
bool IsRelayHandle(HANDLE h) {
  Locked guard;
  return Find(h) != nullptr;
}

void Deliver(Slot& slot, const std::string& data) {
  if (!State().holdTo.empty() && Same(State().holdTo, slot.computer)) {
    State().held.push_back(Held{slot.computer, slot.name, data});
    return;
  }
  // Too large for the server, or its queue full: lost, the writer never knows.
  if (data.size() > slot.maxSize || slot.queue.size() >= kQueueLimit) return;
  slot.queue.push_back(data);
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

template <int Copy>
HANDLE WINAPI RelayCreateMailslotA(LPCSTR path, DWORD maxSize, DWORD, LPSECURITY_ATTRIBUTES) {
  std::string host, name;
  Locked guard;
  if (!SplitSlotPath(path, host, name) || host != ".") return Fail(ERROR_INVALID_NAME);
  const std::string& me = State().computers[Copy];
  if (FindSlot(me, name) != nullptr) return Fail(ERROR_ALREADY_EXISTS);
  State().slots.push_back(
      std::unique_ptr<Slot>(new Slot{me, name, maxSize == 0 ? 0xFFFFFFFFu : maxSize, {}}));
  return NewHandle(RelayHandle{true, Copy, State().slots.back().get(), "", ""});
}

template <int Copy>
HANDLE WINAPI RelayCreateFileA(LPCSTR path, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE templateFile) {
  std::string host, name;
  if (!SplitSlotPath(path, host, name)) {
    return CreateFileA(path, access, share, security, disposition, flags, templateFile);
  }
  Locked guard;
  const std::string& me = State().computers[Copy];
  if (host == ".") host = me;
  const bool remote = host == "*" || !Same(host, me);
  if (remote && State().remoteOff[Copy]) {
    State().writes.push_back(RelayWrite{Copy, host, 0, false, kRemoteMailslotsOff, ""});
    return Fail(kRemoteMailslotsOff);
  }
  if (host != "*") {
    if (!Same(host, State().computers[0]) && !Same(host, State().computers[1]))
      return Fail(ERROR_BAD_NETPATH);
    if (FindSlot(host, name) == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
  }
  return NewHandle(RelayHandle{false, Copy, nullptr, host, name});
}

template <int Copy>
BOOL WINAPI RelayGetComputerNameA(LPSTR buffer, LPDWORD size) {
  const std::string& me = State().computers[Copy];
  if (size == nullptr || buffer == nullptr || *size <= me.size()) {
    if (size != nullptr) *size = static_cast<DWORD>(me.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(buffer, me.c_str(), me.size() + 1);
  *size = static_cast<DWORD>(me.size());
  return TRUE;
}

BOOL WINAPI RelayGetMailslotInfo(HANDLE h, LPDWORD maxSize, LPDWORD nextSize, LPDWORD count,
                                 LPDWORD timeout) {
  if (!IsRelayHandle(h)) return GetMailslotInfo(h, maxSize, nextSize, count, timeout);
  Locked guard;
  RelayHandle* handle = Find(h);
  if (!handle->server) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  const Slot& slot = *handle->slot;
  if (maxSize) *maxSize = slot.maxSize;
  if (nextSize)
    *nextSize =
        slot.queue.empty() ? MAILSLOT_NO_MESSAGE : static_cast<DWORD>(slot.queue.front().size());
  if (count) *count = static_cast<DWORD>(slot.queue.size());
  if (timeout) *timeout = 0;
  return TRUE;
}

BOOL WINAPI RelayReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD read,
                          LPOVERLAPPED overlapped) {
  if (!IsRelayHandle(h)) return ReadFile(h, buffer, size, read, overlapped);
  Locked guard;
  RelayHandle* handle = Find(h);
  if (read) *read = 0;
  if (!handle->server) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  Slot& slot = *handle->slot;
  if (slot.queue.empty()) {
    SetLastError(ERROR_SEM_TIMEOUT);
    return FALSE;
  }
  if (slot.queue.front().size() > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, slot.queue.front().data(), slot.queue.front().size());
  if (read) *read = static_cast<DWORD>(slot.queue.front().size());
  slot.queue.pop_front();
  return TRUE;
}

BOOL WINAPI RelayWriteFile(HANDLE h, LPCVOID data, DWORD size, LPDWORD written,
                           LPOVERLAPPED overlapped) {
  if (!IsRelayHandle(h)) return WriteFile(h, data, size, written, overlapped);
  Locked guard;
  RelayHandle* handle = Find(h);
  if (written) *written = 0;
  if (handle->server) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const std::string& me = State().computers[handle->copy];
  const bool remote = handle->target == "*" || !Same(handle->target, me);
  if (remote && size > kMaxRemoteWrite) {
    State().writes.push_back(
        RelayWrite{handle->copy, handle->target, size, false, ERROR_BAD_NETPATH, ""});
    SetLastError(ERROR_BAD_NETPATH);
    return FALSE;
  }
  const std::string bytes(static_cast<const char*>(data), size);
  for (auto& slot : State().slots) {
    if (!Same(slot->name, handle->name)) continue;
    if (handle->target == "*" || Same(slot->computer, handle->target)) Deliver(*slot, bytes);
  }
  State().writes.push_back(RelayWrite{handle->copy, handle->target, size, true, 0, bytes});
  if (written) *written = size;
  return TRUE;
}

BOOL WINAPI RelayCloseHandle(HANDLE h) {
  {
    Locked guard;
    auto it = State().handles.find(h);
    if (it != State().handles.end()) {
      if (it->second.server) {
        Slot* slot = it->second.slot;
        for (auto s = State().slots.begin(); s != State().slots.end(); ++s) {
          if (s->get() == slot) {
            State().slots.erase(s);
            break;
          }
        }
      }
      State().handles.erase(it);
    }
  }
  return CloseHandle(h);
}

template <int Copy>
bool Patch(HMODULE module, std::string& error) {
  struct Entry {
    const char* dll;
    const char* name;
    void* replacement;
  };
  const Entry entries[] = {
      {"KERNEL32.dll", "CreateMailslotA", reinterpret_cast<void*>(&RelayCreateMailslotA<Copy>)},
      {"KERNEL32.dll", "CreateFileA", reinterpret_cast<void*>(&RelayCreateFileA<Copy>)},
      {"KERNEL32.dll", "GetComputerNameA", reinterpret_cast<void*>(&RelayGetComputerNameA<Copy>)},
      {"KERNEL32.dll", "GetMailslotInfo", reinterpret_cast<void*>(&RelayGetMailslotInfo)},
      {"KERNEL32.dll", "ReadFile", reinterpret_cast<void*>(&RelayReadFile)},
      {"KERNEL32.dll", "WriteFile", reinterpret_cast<void*>(&RelayWriteFile)},
      {"KERNEL32.dll", "CloseHandle", reinterpret_cast<void*>(&RelayCloseHandle)},
  };
  for (const Entry& e : entries) {
    if (PatchImport(module, e.dll, e.name, e.replacement) == nullptr) {
      error = std::string("the DLL does not import ") + e.name + " from " + e.dll;
      return false;
    }
  }
  return true;
}

}  // namespace

bool JoinRelay(int copy, HMODULE module, const std::string& computer, std::string& error) {
  {
    Locked guard;
    State().computers[copy] = computer;
  }
  return copy == 0 ? Patch<0>(module, error) : Patch<1>(module, error);
}

void HoldDatagramsTo(const std::string& computer) {
  Locked guard;
  State().holdTo = computer;
}

void ReleaseHeld() {
  Locked guard;
  State().holdTo.clear();
  for (const Held& h : State().held) {
    if (Slot* slot = FindSlot(h.computer, h.name)) Deliver(*slot, h.data);
  }
  State().held.clear();
}

void SwitchRemoteMailslots(int copy, bool on) {
  Locked guard;
  State().remoteOff[copy] = !on;
}

std::vector<RelayWrite> RelayWrites() {
  Locked guard;
  return State().writes;
}

void ForgetRelayWrites() {
  Locked guard;
  State().writes.clear();
}

int OpenRelaySlots() {
  Locked guard;
  return static_cast<int>(State().slots.size());
}

}  // namespace wine
