#include "tests/wine/checks.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace wine {

namespace {

std::string currentGroup = "start";
int passed = 0;
int failed = 0;

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr, "wine_host: CRASH in [%s]: exception 0x%08lX at %p\n", currentGroup.c_str(),
               info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress);
  std::fprintf(stderr, "%d passed, %d failed\n", passed, failed + 1);
  std::fflush(stderr);
  std::fflush(stdout);
  ExitProcess(3);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void Group(const std::string& name) {
  currentGroup = name;
  std::printf("wine_host: -- %s\n", name.c_str());
  std::fflush(stdout);
}

bool Check(bool ok, const char* what, const char* format, ...) {
  if (ok) {
    ++passed;
    return true;
  }
  ++failed;
  std::fprintf(stderr, "wine_host: FAILED [%s] %s", currentGroup.c_str(), what);
  if (format != nullptr) {
    std::fprintf(stderr, ": ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
  }
  std::fprintf(stderr, "\n");
  std::fflush(stderr);
  return false;
}

int FailedCount() { return failed; }

int Summary() {
  std::fflush(stderr);
  std::printf("%d passed, %d failed\n", passed, failed);
  std::fflush(stdout);
  return failed == 0 ? 0 : 1;
}

void ReportCrashes() {
  SetUnhandledExceptionFilter(OnCrash);
  // No message box for a crash: the run must end, not wait for a click.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

bool WaitFor(const std::function<bool()>& done, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= deadline) return done();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  }
}

bool Verbose() {
  static const bool verbose = std::getenv("VASK_WINE_VERBOSE") != nullptr;
  return verbose;
}

}  // namespace wine
