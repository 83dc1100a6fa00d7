// The messages the user sent whose fate is still to be told: which history
// entry each host message id was stored as (so that the plug-in's answer
// marks it there), and the messages to everybody ("*") sent lately, whose
// copy comes back to this computer too and must not show as received.
// Thread-safe: sends are made on the main thread, answers and incoming
// messages come on the plug-in's threads.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "mutex.h"

namespace vask::host {

// The recipient that means every computer of the workgroup.
inline constexpr const char* kEverybody = "*";

class SentMessages {
 public:
  // How many sent messages wait for their answer at most (the oldest is
  // forgotten first), and how long a message to everybody may take to
  // come back.
  static constexpr size_t kKept = 4096;
  static constexpr long long kEchoSeconds = 120;  // not a host number: two minutes

  // The message with the host's id `messageId` was stored as history entry
  // `number`; `to` and `body` are the plug-in's bytes; `now` in seconds.
  void Sent(int messageId, int64_t number, const std::string& to, const std::string& body,
            long long now) EXCLUDES(mutex_);
  // The history entry of the message with this id, forgotten from then on;
  // nullopt when none is known.
  std::optional<int64_t> Answered(int messageId) EXCLUDES(mutex_);
  // Whether a chat message from `from` with `body` (the plug-in's bytes) is
  // the copy of a message to everybody this computer (`own`) sent: from
  // itself, with the text of such a message or of one of the parts a long
  // one went in.
  bool IsOwnEcho(const std::string& from, const std::string& body, const std::string& own,
                 long long now) EXCLUDES(mutex_);

 private:
  struct Waiting {
    int messageId;
    int64_t number;
  };
  struct ToEverybody {
    std::string body;
    long long sent;
  };

  vask::Mutex mutex_;
  std::deque<Waiting> waiting_ GUARDED_BY(mutex_);
  std::deque<ToEverybody> toEverybody_ GUARDED_BY(mutex_);
};

}  // namespace vask::host
