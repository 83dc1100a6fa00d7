// One vask-host process in its scripted mode: commands are written to its
// input, and the JSON events it prints are collected, each with the time it
// was read, on a reader thread. Every wait is bounded by a deadline.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vask::test {

using LinePredicate = std::function<bool(const std::string& line)>;

// A line whose "event" field is `event`.
LinePredicate IsEvent(const std::string& event);

class HostProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts `program` (a vask-host) as `computer` on the LAN directory
  // `lanDir` with `profile` (":memory:" keeps nothing); check ok().
  HostProcess(const std::string& program, const std::string& computer, const std::string& lanDir,
              const std::string& profile = ":memory:");
  // Stop(), then the reader thread ends.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // False when the process could not be started.
  bool ok() const { return started_; }
  const std::string& computer() const { return computer_; }
  pid_t pid() const { return pid_; }

  // Writes one command line; false when the process no longer reads.
  bool Send(const std::string& command);

  // The index of the next line: a wait can start after a mark.
  size_t Mark();

  // The first kept line from index `from` on that matches, or nullopt at the
  // deadline or when the process ended without printing one.
  std::optional<std::string> WaitFor(const LinePredicate& predicate, size_t from = 0,
                                     std::chrono::milliseconds deadline = std::chrono::seconds(10));

  // Calls `visit` for every kept line from index `from` on, with the time
  // it was read.
  void Visit(size_t from,
             const std::function<void(const std::string& line, Clock::time_point at)>& visit);

  // From now on every line goes to `handler` (on the reader thread, under
  // this object's lock) and is no longer kept: a long run would otherwise
  // hold all of its output. Waits still see the lines kept before; null
  // drops the lines.
  void Observe(std::function<void(const std::string& line)> handler);

  // Lines read so far, kept or not.
  uint64_t LinesRead() const;

  // Asks for the contact list ("contacts") until `accept` holds for it; the
  // last list seen is returned either way (nullopt only when none came).
  std::optional<std::string> WaitForContacts(
      const LinePredicate& accept, std::chrono::milliseconds deadline = std::chrono::seconds(10));

  // Ends the host's input, as the end of a piped script does.
  void CloseInput();
  // "quit", then a wait of up to 10 s for the exit; killed if it does not
  // come. Returns "" when the process ended by itself with status 0, else
  // what happened (a sanitizer's report inside vask-host shows as a status).
  // Later calls give the same answer.
  std::string Stop();

 private:
  struct Line {
    std::string text;
    Clock::time_point at;
  };
  void ReadLines();

  std::string computer_;
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  bool started_ = false;
  std::string exit_;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Line> lines_;
  bool observed_ = false;
  std::function<void(const std::string&)> observer_;
  uint64_t read_ = 0;
  bool ended_ = false;
};

}  // namespace vask::test
