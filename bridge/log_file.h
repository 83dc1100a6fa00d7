// The bridge's log file, capped in size: when a line would take the file
// past the cap, the file is renamed to <path>.1 (replacing the one before)
// and a new one is begun, so the log never takes more than about twice the
// cap. Used when the bridge logs to a file: one given with --log, or the
// regular file its standard error already is (vask-host starts the bridge
// so, at <LAN>/.bridge.log). Otherwise lines go to standard error as they
// are and whoever reads it (a terminal, the system journal) keeps them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vask::bridge {

class LogFile {
 public:
  static constexpr uint64_t kDefaultLimit = 1u << 20;

  // `onCreate` is told of each file the log begins (the program hands it
  // to the LAN directory's owner). With `mirrorStandardError` the file
  // also becomes the process's standard error and output, so whatever else
  // writes there lands in the same, capped file.
  LogFile(uint64_t limit, bool mirrorStandardError,
          std::function<void(const std::string&)> onCreate);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Appends to the file at path (made 0600 when missing); false with a
  // message when it cannot be opened.
  bool Open(const std::string& path, std::string* error);
  // Takes over standard error when it is a regular file with a name;
  // false (and nothing changes) otherwise.
  bool AdoptStandardError();
  bool active() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Writes one line and its newline, rotating first when it would not fit.
  void Write(const std::string& line);

 private:
  bool Begin(int flags, std::string* error);
  void Rotate();

  uint64_t limit_;
  bool mirror_;
  std::function<void(const std::string&)> onCreate_;
  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

}  // namespace vask::bridge
