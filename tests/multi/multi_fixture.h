// Several computers on one emulated LAN: each a `vask-host` process in its
// scripted mode with its own COMPUTERNAME, all on one fresh LAN directory.
// A test writes commands to a host and waits, with a deadline, for the JSON
// events it prints.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vask::multi {

using namespace std::chrono_literals;

// $VASK_BUILD_DIR, else the folder of the running test binary's parent
// build (vask-host lies at the top of the build folder).
inline std::string BuildDir() {
  if (const char* dir = std::getenv("VASK_BUILD_DIR"); dir && *dir) return dir;
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "." : exe.parent_path().parent_path().string();
}

// The text of a top-level string or number field of a one-line JSON object
// (or of the first object at or after `from`); nullopt when absent. Enough
// for the flat events vask-host prints; string escapes are undone for \" \\.
inline std::optional<std::string> JsonField(const std::string& json, const std::string& key,
                                            size_t from = 0) {
  const std::string needle = "\"" + key + "\":";
  size_t at = json.find(needle, from);
  if (at == std::string::npos) return std::nullopt;
  at += needle.size();
  if (at < json.size() && json[at] == '"') {
    std::string value;
    for (size_t i = at + 1; i < json.size(); ++i) {
      if (json[i] == '\\' && i + 1 < json.size()) {
        value.push_back(json[++i]);
      } else if (json[i] == '"') {
        return value;
      } else {
        value.push_back(json[i]);
      }
    }
    return std::nullopt;
  }
  size_t end = json.find_first_of(",}]", at);
  return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The object of the "contacts" event's list that holds this computer, as
// text; nullopt when it is not in the list.
inline std::optional<std::string> ContactEntry(const std::string& contactsEvent,
                                               const std::string& computer) {
  const size_t at = contactsEvent.find("\"computer\":\"" + computer + "\"");
  if (at == std::string::npos) return std::nullopt;
  const size_t begin = contactsEvent.rfind('{', at);
  const size_t end = contactsEvent.find('}', at);
  if (begin == std::string::npos || end == std::string::npos) return std::nullopt;
  return contactsEvent.substr(begin, end - begin + 1);
}

using LinePredicate = std::function<bool(const std::string& line)>;

inline LinePredicate IsEvent(const std::string& event) {
  return [event](const std::string& line) { return JsonField(line, "event") == event; };
}

// One vask-host process. Its output is collected on a reader thread.
class HostProcess {
 public:
  HostProcess(const std::string& computer, const std::string& lanDir,
              const std::string& profile = ":memory:")
      : computer_(computer) {
    // A host that died must show as a failed wait, not end the test binary
    // with SIGPIPE at the next command written to it.
    signal(SIGPIPE, SIG_IGN);
    int in[2];
    int out[2];
    // Close-on-exec: a host started later must not hold this one's input open.
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    const std::string program = BuildDir() + "/vask-host";
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[0]);
      close(in[1]);
      close(out[0]);
      close(out[1]);
      execl(program.c_str(), program.c_str(), "--computer", computer.c_str(), "--lan-dir",
            lanDir.c_str(), "--profile", profile.c_str(), "--script", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
    reader_ = std::thread([this] { ReadLines(); });
  }

  ~HostProcess() {
    Stop();
    if (reader_.joinable()) reader_.join();
    if (output_ >= 0) close(output_);
  }

  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool ok() const { return pid_ > 0; }
  const std::string& computer() const { return computer_; }
  pid_t pid() const { return pid_; }

  // From now on every line goes to `handler` (on the reader thread) and is
  // no longer kept: a long run would otherwise hold all of its output.
  // WaitFor still sees the lines kept before.
  void Observe(std::function<void(const std::string& line)> handler) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(handler);
  }

  void Send(const std::string& command) {
    const std::string line = command + "\n";
    if (input_ >= 0) {
      ssize_t ignored = write(input_, line.data(), line.size());
      (void)ignored;
    }
  }

  // Ends the host's input, as the end of a piped script does.
  void CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }

  // Sequence number of the next line: waits can start after a mark.
  size_t Mark() {
    std::lock_guard lock(mutex_);
    return lines_.size();
  }

  // The first line from index `from` on that matches, or nullopt at the
  // deadline (or when the process ended without it).
  std::optional<std::string> WaitFor(const LinePredicate& predicate, size_t from = 0,
                                     std::chrono::milliseconds deadline = 10s) {
    std::unique_lock lock(mutex_);
    size_t next = from;
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      for (; next < lines_.size(); ++next) {
        if (predicate(lines_[next])) return lines_[next];
      }
      if (ended_) return std::nullopt;
      if (changed_.wait_until(lock, until) == std::cv_status::timeout && next == lines_.size()) {
        return std::nullopt;
      }
    }
  }

  // Asks for the contact list until `accept` holds for it; the last list
  // seen is returned either way (nullopt only when none came at all).
  std::optional<std::string> WaitForContacts(const LinePredicate& accept,
                                             std::chrono::milliseconds deadline = 10s) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    std::optional<std::string> last;
    while (std::chrono::steady_clock::now() < until) {
      const size_t mark = Mark();
      Send("contacts");
      auto list = WaitFor(IsEvent("contacts"), mark, 5s);
      if (list) {
        last = list;
        if (accept(*list)) return list;
      }
      std::this_thread::sleep_for(20ms);
    }
    return last;
  }

  // "quit", then a bounded wait for the exit; killed if it does not come.
  // A host that does not end by itself with status 0 fails the test: that
  // is also how a sanitizer's report inside vask-host reaches the test.
  void Stop() {
    if (pid_ <= 0) return;
    if (input_ >= 0) {
      Send("quit");
      close(input_);
      input_ = -1;
    }
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 1000 && !ended; ++i) {
      ended = waitpid(pid_, &status, WNOHANG) == pid_;
      if (!ended) std::this_thread::sleep_for(10ms);
    }
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      ADD_FAILURE() << "vask-host " << computer_ << " did not end after quit; killed";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ADD_FAILURE() << "vask-host " << computer_ << " ended with "
                    << (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                                          : "signal " + std::to_string(WTERMSIG(status)));
    }
    pid_ = -1;
  }

 private:
  void ReadLines() {
    std::string pending;
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(output_, buffer, sizeof buffer);
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      size_t end;
      size_t start = 0;
      while ((end = pending.find('\n', start)) != std::string::npos) {
        std::lock_guard lock(mutex_);
        if (observer_) {
          observer_(pending.substr(start, end - start));
        } else {
          lines_.push_back(pending.substr(start, end - start));
          changed_.notify_all();
        }
        start = end + 1;
      }
      pending.erase(0, start);
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  }

  std::string computer_;
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::function<void(const std::string&)> observer_;
  bool ended_ = false;
};

// A fresh LAN directory per test, removed afterwards, and the hosts on it.
class MultiFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vask-multi-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    ASSERT_NE(mkdtemp(buffer.data()), nullptr);
    lanDir_ = buffer.data();
  }
  void TearDown() override {
    hosts_.clear();
    std::error_code error;
    std::filesystem::remove_all(lanDir_, error);
  }

  // Starts a host and waits for its "started" event.
  HostProcess& StartHost(const std::string& computer, const std::string& profile = ":memory:") {
    hosts_.push_back(std::make_unique<HostProcess>(computer, lanDir_, profile));
    HostProcess& host = *hosts_.back();
    EXPECT_TRUE(host.ok());
    EXPECT_TRUE(host.WaitFor(IsEvent("started"))) << computer << " did not start";
    return host;
  }

  std::string lanDir_;
  std::vector<std::unique_ptr<HostProcess>> hosts_;
};

}  // namespace vask::multi
