#include "tests/wine/scenario.h"

#include <cstdio>
#include <cstring>

#include "tests/wine/checks.h"

namespace wine {

std::string Fields(std::initializer_list<std::string> fields) {
  std::string out;
  for (const auto& f : fields) {
    out += f;
    out += '\0';
  }
  return out;
}

bool SlotExists(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool WriteDatagram(const char* path, const std::string& bytes) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

ChatRecord::ChatRecord(int32_t id, int32_t type, int32_t flags, const std::string& to,
                       const std::string& body)
    : to_(to), body_(body) {
  record_.size = sizeof record_;
  record_.id = id;
  record_.net = kNetLan;
  record_.type = type;
  record_.from = empty_;
  record_.to = to_.c_str();
  record_.body = body_.c_str();
  record_.ext = empty_;
  record_.flags = flags;
  record_.f42 = -2;
}

FoundContactRecord SearchRequest(int32_t status, const std::string& uid,
                                 const std::string& column6) {
  FoundContactRecord r{};
  r.size = sizeof r;
  r.status = status;
  std::strncpy(r.uid, uid.c_str(), sizeof r.uid - 1);
  std::strncpy(r.column6, column6.c_str(), sizeof r.column6 - 1);
  return r;
}

GuardedRecord::GuardedRecord() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  page_ = info.dwPageSize;
  base_ = static_cast<BYTE*>(
      VirtualAlloc(nullptr, page_ * 2, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD old = 0;
  if (base_ != nullptr) VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
}

GuardedRecord::~GuardedRecord() {
  if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
}

void* GuardedRecord::At(size_t size) {
  std::memset(base_, 0, page_);
  return base_ + page_ - size;
}

Watchdog::Watchdog(const std::string& what, DWORD ms)
    : what_(what), ms_(ms), done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  thread_ = CreateThread(nullptr, 0, &Watchdog::Run, this, 0, nullptr);
}

Watchdog::~Watchdog() {
  SetEvent(done_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(done_);
}

DWORD WINAPI Watchdog::Run(void* self) {
  auto* dog = static_cast<Watchdog*>(self);
  if (WaitForSingleObject(dog->done_, dog->ms_) == WAIT_OBJECT_0) return 0;
  std::fprintf(stderr, "wine_host: FAILED: %s did not return within %lu ms\n", dog->what_.c_str(),
               dog->ms_);
  Check(false, "a blocking call returned in time", "%s", dog->what_.c_str());
  Summary();
  std::fflush(nullptr);
  ExitProcess(5);
  return 0;
}

Canceller::Canceller(WineHost& host, DWORD pumpThread, std::function<bool()> ready)
    : host_(host),
      pumpThread_(pumpThread),
      ready_(std::move(ready)),
      finished_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  thread_ = CreateThread(nullptr, 0, &Canceller::Run, this, 0, nullptr);
}

Canceller::~Canceller() {
  Finished();
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(finished_);
}

void Canceller::Finished() { SetEvent(finished_); }

DWORD WINAPI Canceller::Run(void* self) {
  auto* c = static_cast<Canceller*>(self);
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  while (!c->ready_()) {
    if (GetTickCount64() >= deadline || WaitForSingleObject(c->finished_, 0) == WAIT_OBJECT_0)
      break;
    Sleep(20);
  }
  if (WaitForSingleObject(c->finished_, 0) == WAIT_OBJECT_0) return 0;
  c->posted_ = PostThreadMessageA(c->pumpThread_, WineHost::kCancelSearch, 0, 0) != FALSE;
  if (WaitForSingleObject(c->finished_, kWaitMs) == WAIT_OBJECT_0) return 0;
  // Nobody pumped the thread that waits inside the plug-in: cancel the
  // notice directly so the search ends and the failure can be reported.
  c->pumped_ = false;
  const std::vector<NoticeEvent> notices = c->host_.Notices();
  if (!notices.empty() && notices.back().id == vask::kMsgSearchNoticeShow)
    notices.back().record->cancelled = 1;
  return 0;
}

std::optional<NoticeEvent> LastNotice(const std::vector<NoticeEvent>& all, int32_t id) {
  for (auto it = all.rbegin(); it != all.rend(); ++it)
    if (it->id == id) return *it;
  return std::nullopt;
}

std::optional<Shown> FindShown(const std::vector<Shown>& all, int32_t type,
                               const std::string& body) {
  for (const Shown& m : all)
    if (m.type == type && m.body == body) return m;
  return std::nullopt;
}

int CountBus(const std::vector<BusNotice>& all, int32_t receiver, int32_t id, const char* command) {
  int n = 0;
  for (const BusNotice& b : all)
    if (b.receiver == receiver && b.id == id && (command == nullptr || b.command == command)) ++n;
  return n;
}

}  // namespace wine
