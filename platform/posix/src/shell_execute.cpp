// ShellExecuteA: opens a document or address with xdg-open.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "win32.h"

extern char** environ;

namespace vask::platform {
namespace {

// Success is any value above 32; this one is as good as Windows' own.
constexpr INT_PTR kOpened = 42;

HINSTANCE Result(INT_PTR value) { return reinterpret_cast<HINSTANCE>(value); }

// xdg-open's path in PATH, or empty.
std::string FindOpener() {
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string candidate =
        (end > start ? list.substr(start, end - start) : std::string(".")) + "/xdg-open";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::string();
}

bool IsAddress(const std::string& target) {
  return target.find("://") != std::string::npos || target.rfind("mailto:", 0) == 0;
}

}  // namespace
}  // namespace vask::platform

extern "C" {

HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR operation, LPCSTR file, LPCSTR, LPCSTR directory, INT) {
  using namespace vask::platform;
  if (!file || !*file) return Result(SE_ERR_FNF);
  if (operation && std::strcmp(operation, "open") != 0) return Result(SE_ERR_NOASSOC);
  std::string target = file;
  if (!IsAddress(target)) {
    // Callers compose Windows paths; here the separator is '/'.
    for (char& c : target) {
      if (c == '\\') c = '/';
    }
    if (target[0] != '/' && directory && *directory) {
      std::string folder = directory;
      for (char& c : folder) {
        if (c == '\\') c = '/';
      }
      target = folder + "/" + target;
    }
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) return Result(SE_ERR_FNF);
  }
  std::string opener = FindOpener();
  if (opener.empty()) return Result(SE_ERR_NOASSOC);
  // No shell: the path goes to xdg-open as one argument, whatever it holds.
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()), nullptr};
  pid_t child;
  if (::posix_spawn(&child, opener.c_str(), nullptr, nullptr, argv, environ) != 0) {
    return Result(SE_ERR_NOASSOC);
  }
  // Windows does not wait for the viewer either; reap it in the background
  // so it leaves no zombie.
  std::thread([child] {
    int status;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return Result(kOpened);
}

}  // extern "C"
