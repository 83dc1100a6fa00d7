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
#include <deque>
#include <limits>
#include <unordered_map>
#include <vector>

#include "errors.h"
#include "handles.h"
#include "mutex.h"

namespace vask::platform {
namespace {

// Neither goes at exit: detached threads may still end after exit() has
// run the static destructors. The lock is initialised at compile time and
// has nothing to destroy; the signal is leaked.
constinit Mutex waitLock;
CondVar& WaitSignal() {
  static auto* signal = new CondVar();
  return *signal;
}

struct InputQueue {
  DWORD id = 0;
  std::deque<MSG> messages GUARDED_BY(waitLock);
  // Input arrived since the thread last looked (PeekMessageA); a plain
  // MsgWaitForMultipleObjectsEx wakes only for such input.
  bool unseen GUARDED_BY(waitLock) = false;
};

std::unordered_map<DWORD, std::shared_ptr<InputQueue>>& Queues() REQUIRES(waitLock) {
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
    vask::MutexLock guard(waitLock);
    Queues().erase(queue->id);
  }
};
thread_local QueueHolder currentQueue;

InputQueue& CurrentQueue() {
  if (!currentQueue.queue) {
    auto queue = std::make_shared<InputQueue>();
    queue->id = NewThreadId();
    vask::MutexLock guard(waitLock);
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
  bool finished GUARDED_BY(waitLock) = false;
  DWORD exitCode GUARDED_BY(waitLock) = STILL_ACTIVE;
};

void* ThreadStart(void* raw) {
  // The thread's own reference: the object lives until the thread ends,
  // whenever its handle is closed.
  std::shared_ptr<ThreadObject> self(std::move(*static_cast<std::shared_ptr<ThreadObject>*>(raw)));
  delete static_cast<std::shared_ptr<ThreadObject>*>(raw);
  currentQueue.queue = self->queue;
  DWORD code = self->routine(self->argument);
  {
    vask::MutexLock guard(waitLock);
    self->finished = true;
    self->exitCode = code;
  }
  WaitSignal().NotifyAll();
  return nullptr;
}

// Waits on WaitSignal until done() gives a result or the time runs out.
template <typename Done>
DWORD WaitUntil(DWORD milliseconds, Done done) REQUIRES(waitLock) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    DWORD result = done();
    if (result != WAIT_TIMEOUT) return result;
    if (milliseconds == INFINITE) {
      WaitSignal().Wait(waitLock);
    } else if (!WaitSignal().WaitUntil(waitLock, deadline)) {
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
    vask::MutexLock guard(waitLock);
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
    vask::MutexLock guard(waitLock);
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
  vask::MutexLock guard(waitLock);
  *exitCode = static_cast<ThreadObject*>(object.get())->exitCode;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  using namespace vask::platform;
  auto object = LookupHandle(handle, Kind::kThread);
  if (!object) return WAIT_FAILED;
  auto* thread = static_cast<ThreadObject*>(object.get());
  vask::MutexLock guard(waitLock);
  return WaitUntil(milliseconds, [&]() REQUIRES(waitLock) {
    return thread->finished ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  });
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
  vask::MutexLock guard(waitLock);
  return WaitUntil(milliseconds, [&]() REQUIRES(waitLock) -> DWORD {
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
    vask::MutexLock guard(waitLock);
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
  WaitSignal().NotifyAll();
  return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND, UINT filterMin, UINT filterMax, UINT removeFlags) {
  using namespace vask::platform;
  InputQueue& queue = CurrentQueue();
  vask::MutexLock guard(waitLock);
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
