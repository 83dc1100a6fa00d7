// Thread handles, input queues and the waits built on them; critical
// sections and TLS.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "win32.h"

namespace {

constexpr DWORD kBound = 20000;  // deadline against hangs only

struct Gate {
  std::atomic<bool> open{false};
  std::atomic<DWORD> threadId{0};
};

DWORD WINAPI WaitAtGate(LPVOID raw) {
  auto* gate = static_cast<Gate*>(raw);
  gate->threadId = GetCurrentThreadId();
  while (!gate->open) Sleep(1);
  return 42;
}

TEST(ThreadTest, HandleSignalsAtTheEndAndGivesTheExitCode) {
  Gate gate;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);

  gate.open = true;
  EXPECT_EQ(WaitForSingleObject(thread, kBound), WAIT_OBJECT_0);
  EXPECT_EQ(gate.threadId.load(), id);  // the id CreateThread gave is the thread's own
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ThreadTest, HandleClosedBeforeTheThreadEndsIsHarmless) {
  static std::atomic<bool> ran{false};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        ran = true;
        return 0;
      },
      nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  DWORD start = GetTickCount();
  while (!ran && GetTickCount() - start < kBound) Sleep(1);
  EXPECT_TRUE(ran);
}

TEST(InputQueueTest, PostedInputWakesTheWaitWithTheInputResult) {
  Gate gate;
  HANDLE worker = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, nullptr);
  ASSERT_NE(worker, nullptr);
  DWORD self = GetCurrentThreadId();
  std::thread poster([self] { PostThreadMessageA(self, WM_USER + 1, 7, 8); });

  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &worker, kBound, QS_ALLINPUT, 0), WAIT_OBJECT_0 + 1);
  poster.join();
  // The pump takes it.
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(msg.lParam, 8);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

  gate.open = true;
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &worker, kBound, QS_ALLINPUT, 0), WAIT_OBJECT_0);
  CloseHandle(worker);
}

TEST(InputQueueTest, InputAlreadySeenWakesOnlyWithInputAvailable) {
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0));
  MSG msg{};
  // Looked at but left in the queue.
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
            WAIT_OBJECT_0);
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
            WAIT_TIMEOUT);
}

TEST(InputQueueTest, PeekFiltersByMessageRangeAndKeepsOrder) {
  DWORD self = GetCurrentThreadId();
  ASSERT_TRUE(PostThreadMessageA(self, 10, 1, 0));
  ASSERT_TRUE(PostThreadMessageA(self, 20, 2, 0));
  ASSERT_TRUE(PostThreadMessageA(self, 10, 3, 0));
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 20, 20, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

TEST(InputQueueTest, ThreadsNotMadeByCreateThreadHaveIdsAndQueues) {
  std::atomic<DWORD> id{0};
  std::atomic<bool> got{false};
  std::atomic<bool> ready{false};
  std::thread other([&] {
    id = GetCurrentThreadId();
    ready = true;
    if (MsgWaitForMultipleObjectsEx(0, nullptr, kBound, QS_ALLINPUT, 0) == WAIT_OBJECT_0) {
      MSG msg{};
      got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_USER + 5;
    }
  });
  DWORD start = GetTickCount();
  while (!ready && GetTickCount() - start < kBound) Sleep(1);
  ASSERT_NE(id.load(), 0u);
  EXPECT_NE(id.load(), GetCurrentThreadId());
  EXPECT_TRUE(PostThreadMessageA(id, WM_USER + 5, 0, 0));
  other.join();
  EXPECT_TRUE(got);
  // Its queue went with it.
  EXPECT_FALSE(PostThreadMessageA(id, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
}

TEST(InputQueueTest, WaitWithoutInputOrEndTimesOut) {
  Gate gate;
  HANDLE worker = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &worker, 1, QS_ALLINPUT, 0), WAIT_TIMEOUT);
  int notAHandle = 0;
  HANDLE bad = &notAHandle;
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &bad, 0, QS_ALLINPUT, 0), WAIT_FAILED);
  gate.open = true;
  EXPECT_EQ(WaitForSingleObject(worker, kBound), WAIT_OBJECT_0);
  CloseHandle(worker);
}

TEST(CriticalSectionTest, OwnerMayEnterAgainOthersMayNot) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  std::atomic<int> otherGot{-1};
  std::thread([&] { otherGot = TryEnterCriticalSection(&section); }).join();
  EXPECT_EQ(otherGot, FALSE);
  LeaveCriticalSection(&section);
  std::thread([&] { otherGot = TryEnterCriticalSection(&section); }).join();
  EXPECT_EQ(otherGot, FALSE);  // still held once
  LeaveCriticalSection(&section);
  std::thread([&] {
    otherGot = TryEnterCriticalSection(&section);
    if (otherGot) LeaveCriticalSection(&section);
  }).join();
  EXPECT_EQ(otherGot, TRUE);
  DeleteCriticalSection(&section);
}

TEST(TlsTest, ValuesArePerThreadAndGoneAfterFree) {
  DWORD index = TlsAlloc();
  ASSERT_NE(index, TLS_OUT_OF_INDEXES);
  int mine = 1, theirs = 2;
  ASSERT_TRUE(TlsSetValue(index, &mine));
  std::thread([&] {
    EXPECT_EQ(TlsGetValue(index), nullptr);
    TlsSetValue(index, &theirs);
    EXPECT_EQ(TlsGetValue(index), &theirs);
  }).join();
  EXPECT_EQ(TlsGetValue(index), &mine);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

  // A library loaded again gets the index back: it must start empty.
  ASSERT_TRUE(TlsFree(index));
  EXPECT_FALSE(TlsFree(index));
  DWORD again = TlsAlloc();
  ASSERT_EQ(again, index);
  EXPECT_EQ(TlsGetValue(again), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  TlsFree(again);
  EXPECT_EQ(TlsGetValue(again), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
