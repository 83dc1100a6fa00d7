#include "host/commands/help_document.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "abi/host_ids.h"

extern char** environ;

namespace vask::host {

namespace {

// The desktop's opener in PATH, or "".
std::string FindOpener() {
  const char* path = std::getenv("PATH");
  const std::string list = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string candidate =
        (end > start ? list.substr(start, end - start) : std::string(".")) + "/xdg-open";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// An opener that fails (no browser) says so at once; one that has shown the
// document may stay with it. Waiting this long tells the two apart.
constexpr auto kOpenerBound = std::chrono::seconds(2);

// "" when the opener took the document; else why not, in Polish.
std::string Open(const std::string& document) {
  const std::string opener = FindOpener();
  if (opener.empty()) return "nie ma programu xdg-open";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Its lines (English, about browsers it did not find) would land over
  // the prompt: the host says what came of it in its own words.
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                     fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(document.c_str()), nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, opener.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return "nie da się uruchomić programu xdg-open";
  const auto until = std::chrono::steady_clock::now() + kOpenerBound;
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
      return "żaden program nie otworzył dokumentu (nie ma przeglądarki?)";
    }
    if (done < 0 && errno != EINTR) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Still showing it: reaped when it ends, so that it leaves no zombie.
  std::thread([child] {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return {};
}

}  // namespace

void RunHelpDocument(ScriptHost& host, const std::vector<std::string>& words) {
  if (words.size() != 1) {
    UnknownCommand(host, words[0]);
    return;
  }
  // The folder ends with its separator, as the plug-in reads it.
  const std::string document = host.core().GetSettingText(kSettingHostFolder) + "doc/Vask.html";
  struct stat info {};
  std::string reason;
  if (stat(document.c_str(), &info) != 0) {
    reason = "nie ma pliku pomocy";
  } else {
    reason = Open(document);
  }
  Event event("help-document");
  event.Str("path", document).Bool("opened", reason.empty());
  if (!reason.empty()) event.Str("reason", reason);
  host.Write(event);
}

}  // namespace vask::host
