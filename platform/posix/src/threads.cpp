// Threads, their input queues and the waits: CreateThread,
// WaitForSingleObject, MsgWaitForMultipleObjectsEx, PostThreadMessageA,
// PeekMessageA; also Sleep, SleepEx, GetTickCount and critical sections.
//
// Every thread gets an id and an input queue the first time it needs one,
// whether CreateThread made it or not (the main thread, std::thread). All
// thread states and queues share one lock and one condition variable: the
// waits are few and short, and one lock makes "object signalled or input
// arrived" a single predicate.
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "errors.h"
#include "handles.h"

namespace vask::platform {
namespace {

// Both leaked on purpose: detached threads may still end after exit()
// has run the static destructors.
std::mutex& WaitLock() {
  static auto* lock = new std::mutex();
  return *lock;
}
std::condition_variable& WaitSignal() {
  static auto* signal = new std::condition_variable();
  return *signal;
}

struct InputQueue {
  DWORD id = 0;
  std::deque<MSG> messages;  // under WaitLock
  // Input arrived since the thread last looked (PeekMessageA); a plain
  // MsgWaitForMultipleObjectsEx wakes only for such input.
  bool unseen = false;
};

std::unordered_map<DWORD, std::shared_ptr<InputQueue>>& Queues() {
  static auto* queues = new std::unordered_map<DWORD, std::shared_ptr<InputQueue>>();
  return *queues;
}

std::atomic<DWORD> nextThreadId{1000};

DWORD NewThreadId() { return nextThreadId.fetch_add(4); }

// The calling thread's queue, registered on first use, removed at thread exit.
struct QueueHolder {
  std::shared_ptr<InputQueue> queue;
  ~QueueHolder() {
    if (!queue) return;
    std::lock_guard<std::mutex> guard(WaitLock());
    Queues().erase(queue->id);
  }
};
thread_local QueueHolder currentQueue;

InputQueue& CurrentQueue() {
  if (!currentQueue.queue) {
    auto queue = std::make_shared<InputQueue>();
    queue->id = NewThreadId();
    std::lock_guard<std::mutex> guard(WaitLock());
    Queues()[queue->id] = queue;
    currentQueue.queue = std::move(queue);
  }
  return *currentQueue.queue;
}

class ThreadObject : public Object {
 public:
  ThreadObject() : Object(Kind::kThread) {}
  LPTHREAD_START_ROUTINE routine = nullptr;
  LPVOID argument = nullptr;
  std::shared_ptr<InputQueue> queue;
  // Under WaitLock.
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
};

void* ThreadStart(void* raw) {
  // The thread's own reference: the object lives until the thread ends,
  // whenever its handle is closed.
  std::shared_ptr<ThreadObject> self(std::move(*static_cast<std::shared_ptr<ThreadObject>*>(raw)));
  delete static_cast<std::shared_ptr<ThreadObject>*>(raw);
  currentQueue.queue = self->queue;
  DWORD code = self->routine(self->argument);
  {
    std::lock_guard<std::mutex> guard(WaitLock());
    self->finished = true;
    self->exitCode = code;
  }
  WaitSignal().notify_all();
  return nullptr;
}

// Waits on WaitSignal until done() gives a result or the time runs out.
template <typename Done>
DWORD WaitUntil(std::unique_lock<std::mutex>& guard, DWORD milliseconds, Done done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    DWORD result = done();
    if (result != WAIT_TIMEOUT) return result;
    if (milliseconds == INFINITE) {
      WaitSignal().wait(guard);
    } else if (WaitSignal().wait_until(guard, deadline) == std::cv_status::timeout) {
      return done();
    }
  }
}

void SleepMilliseconds(DWORD milliseconds) {
  if (milliseconds == INFINITE) {
    for (;;) ::pause();
  }
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  // nanosleep leaves the remaining time in left when a signal cuts it short.
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace
}  // namespace vask::platform

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE routine,
                           LPVOID argument, DWORD flags, LPDWORD threadId) {
  using namespace vask::platform;
  if (!routine) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (flags & CREATE_SUSPENDED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto thread = std::make_shared<ThreadObject>();
  thread->routine = routine;
  thread->argument = argument;
  thread->queue = std::make_shared<InputQueue>();
  thread->queue->id = NewThreadId();
  {
    std::lock_guard<std::mutex> guard(WaitLock());
    Queues()[thread->queue->id] = thread->queue;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stackSize >= static_cast<SIZE_T>(PTHREAD_STACK_MIN))
    pthread_attr_setstacksize(&attributes, stackSize);
  auto* start = new std::shared_ptr<ThreadObject>(thread);
  pthread_t id;
  int error = pthread_create(&id, &attributes, ThreadStart, start);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete start;
    std::lock_guard<std::mutex> guard(WaitLock());
    Queues().erase(thread->queue->id);
    SetLastError(ErrorFromErrno(error));
    return nullptr;
  }
  if (threadId) *threadId = thread->queue->id;
  return RegisterHandle(thread);
}

DWORD WINAPI GetCurrentThreadId(void) { return vask::platform::CurrentQueue().id; }

BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  using namespace vask::platform;
  auto object = LookupHandle(handle, Kind::kThread);
  if (!object) return FALSE;
  if (!exitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(WaitLock());
  *exitCode = static_cast<ThreadObject*>(object.get())->exitCode;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  using namespace vask::platform;
  auto object = LookupHandle(handle, Kind::kThread);
  if (!object) return WAIT_FAILED;
  auto* thread = static_cast<ThreadObject*>(object.get());
  std::unique_lock<std::mutex> guard(WaitLock());
  return WaitUntil(guard, milliseconds,
                   [&] { return thread->finished ? WAIT_OBJECT_0 : WAIT_TIMEOUT; });
}

DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds,
                                         DWORD wakeMask, DWORD flags) {
  using namespace vask::platform;
  if (count > 64 || (count > 0 && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Object>> objects;
  for (DWORD i = 0; i < count; ++i) {
    auto object = LookupHandle(handles[i], Kind::kThread);
    if (!object) return WAIT_FAILED;
    objects.push_back(std::move(object));
  }
  InputQueue& queue = CurrentQueue();
  bool waitAll = (flags & MWMO_WAITALL) != 0;
  bool anyQueued = (flags & MWMO_INPUTAVAILABLE) != 0;
  std::unique_lock<std::mutex> guard(WaitLock());
  return WaitUntil(guard, milliseconds, [&]() -> DWORD {
    bool input = wakeMask != 0 && (queue.unseen || (anyQueued && !queue.messages.empty()));
    size_t finished = 0;
    for (DWORD i = 0; i < count; ++i) {
      if (static_cast<ThreadObject*>(objects[i].get())->finished) {
        if (!waitAll) return WAIT_OBJECT_0 + i;
        ++finished;
      }
    }
    // With MWMO_WAITALL the objects count only all together, and only
    // with input beside them.
    if (waitAll && count > 0 && finished == count && input) return WAIT_OBJECT_0;
    if (input && !waitAll) return WAIT_OBJECT_0 + count;
    return WAIT_TIMEOUT;
  });
}

BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace vask::platform;
  {
    std::lock_guard<std::mutex> guard(WaitLock());
    auto it = Queues().find(threadId);
    if (it == Queues().end()) {
      SetLastError(ERROR_INVALID_THREAD_ID);
      return FALSE;
    }
    MSG item{};
    item.message = message;
    item.wParam = wParam;
    item.lParam = lParam;
    item.time = GetTickCount();
    it->second->messages.push_back(item);
    it->second->unseen = true;
  }
  WaitSignal().notify_all();
  return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND, UINT filterMin, UINT filterMax, UINT removeFlags) {
  using namespace vask::platform;
  InputQueue& queue = CurrentQueue();
  std::lock_guard<std::mutex> guard(WaitLock());
  queue.unseen = false;
  bool all = filterMin == 0 && filterMax == 0;
  auto it = std::find_if(queue.messages.begin(), queue.messages.end(), [&](const MSG& m) {
    return all || (m.message >= filterMin && m.message <= filterMax);
  });
  if (it == queue.messages.end()) return FALSE;
  if (msg) *msg = *it;
  if (removeFlags & PM_REMOVE) queue.messages.erase(it);
  return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) { vask::platform::SleepMilliseconds(milliseconds); }

DWORD WINAPI SleepEx(DWORD milliseconds, BOOL) {
  vask::platform::SleepMilliseconds(milliseconds);
  return 0;
}

DWORD WINAPI GetTickCount(void) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Wraps after 49.7 days, as on Windows.
  return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                            static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
  section->impl = new std::recursive_mutex();
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->impl)->lock();
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return static_cast<std::recursive_mutex*>(section->impl)->try_lock() ? TRUE : FALSE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->impl)->unlock();
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
  delete static_cast<std::recursive_mutex*>(section->impl);
  section->impl = nullptr;
}

}  // extern "C"
