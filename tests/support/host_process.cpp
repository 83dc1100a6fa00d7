#include "tests/support/host_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include "tests/support/json_fields.h"

namespace vask::test {

LinePredicate IsEvent(const std::string& event) {
  return [event](const std::string& line) { return JsonField(line, "event") == event; };
}

HostProcess::HostProcess(const std::string& program, const std::string& computer,
                         const std::string& lanDir, const std::string& profile)
    : computer_(computer) {
  // A host that died must show as a failed wait, not end this process with
  // SIGPIPE at the next command written to it.
  signal(SIGPIPE, SIG_IGN);
  int in[2];
  int out[2];
  // Close-on-exec: a host started later must not hold this one's input open.
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
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
  if (pid_ < 0) {
    close(in[1]);
    close(out[0]);
    return;
  }
  started_ = true;
  input_ = in[1];
  output_ = out[0];
  reader_ = std::thread([this] { ReadLines(); });
}

HostProcess::~HostProcess() {
  Stop();
  if (reader_.joinable()) reader_.join();
  if (output_ >= 0) close(output_);
}

bool HostProcess::Send(const std::string& command) {
  if (input_ < 0) return false;
  const std::string line = command + "\n";
  return write(input_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

size_t HostProcess::Mark() {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

std::optional<std::string> HostProcess::WaitFor(const LinePredicate& predicate, size_t from,
                                                std::chrono::milliseconds deadline) {
  std::unique_lock lock(mutex_);
  const auto until = Clock::now() + deadline;
  for (size_t next = from;;) {
    for (; next < lines_.size(); ++next) {
      if (predicate(lines_[next].text)) return lines_[next].text;
    }
    if (ended_ || Clock::now() >= until) return std::nullopt;
    changed_.wait_until(lock, until);
  }
}

void HostProcess::Visit(size_t from,
                        const std::function<void(const std::string&, Clock::time_point)>& visit) {
  std::lock_guard lock(mutex_);
  for (size_t i = from; i < lines_.size(); ++i) visit(lines_[i].text, lines_[i].at);
}

void HostProcess::Observe(std::function<void(const std::string& line)> handler) {
  std::lock_guard lock(mutex_);
  observed_ = true;
  observer_ = std::move(handler);
}

uint64_t HostProcess::LinesRead() const {
  std::lock_guard lock(mutex_);
  return read_;
}

std::optional<std::string> HostProcess::WaitForContacts(const LinePredicate& accept,
                                                        std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  std::optional<std::string> last;
  while (Clock::now() < until) {
    const size_t mark = Mark();
    Send("contacts");
    auto list = WaitFor(IsEvent("contacts"), mark, std::chrono::seconds(5));
    if (list) {
      last = list;
      if (accept(*list)) return list;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return last;
}

void HostProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

std::string HostProcess::Stop() {
  if (pid_ <= 0) return exit_;
  if (input_ >= 0) {
    Send("quit");
    close(input_);
    input_ = -1;
  }
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 1000 && !ended; ++i) {
    ended = waitpid(pid_, &status, WNOHANG) == pid_;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!ended) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    exit_ = "vask-host " + computer_ + " did not end after quit; killed";
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    exit_ = "vask-host " + computer_ + " ended with " +
            (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                               : "signal " + std::to_string(WTERMSIG(status)));
  }
  pid_ = -1;
  return exit_;
}

void HostProcess::ReadLines() {
  std::string pending;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(output_, buffer, sizeof buffer);
    if (n <= 0) break;
    const auto at = Clock::now();
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    size_t end;
    std::lock_guard lock(mutex_);
    while ((end = pending.find('\n', start)) != std::string::npos) {
      ++read_;
      if (!observed_) {
        lines_.push_back(Line{pending.substr(start, end - start), at});
      } else if (observer_) {
        observer_(pending.substr(start, end - start));
      }
      start = end + 1;
    }
    pending.erase(0, start);
    changed_.notify_all();
  }
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

}  // namespace vask::test
