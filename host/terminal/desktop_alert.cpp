#include "host/terminal/desktop_alert.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace vask::host {

namespace {

bool DesktopSession() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

void AlertIncoming(const std::string& from, const std::string& text) {
  std::fputc('\a', stdout);
  std::fflush(stdout);
  if (!DesktopSession()) return;
  const std::string title = "Vask: " + from;
  const char* argv[] = {"notify-send", "--app-name=vask-host", "--",
                        title.c_str(), text.c_str(),           nullptr};
  pid_t child = 0;
  // A machine without notify-send gets the bell alone.
  if (posix_spawnp(&child, "notify-send", nullptr, nullptr, const_cast<char* const*>(argv),
                   environ) != 0) {
    return;
  }
  std::thread([child] { waitpid(child, nullptr, 0); }).detach();
}

}  // namespace vask::host
