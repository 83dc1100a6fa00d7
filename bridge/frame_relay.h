// What the bridge remembers to speak the UDP frames for the computers it
// serves: where computers heard by frame listen (an address book), which
// datagrams came lately by one way (NetBIOS or frame) so that the other
// way's copy of the same bytes is delivered no second time, the frames it
// broadcast itself (they come back to its own port), and the served
// computers whose copies send frames themselves (they are not relayed).
// Bounded throughout; single-threaded, like the bridge's core. Times are
// milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace vask::bridge {

// The way a datagram reached the bridge.
enum class ArrivalPath { kNetbios, kFrame };

class FrameRelay {
 public:
  static constexpr size_t kMaxBook = 256;
  static constexpr int64_t kBookLifetime = 15 * 60000;
  static constexpr int64_t kPairingKeep = 30000;
  static constexpr size_t kPairsPerSender = 64;
  static constexpr size_t kPairingSenders = 256;
  static constexpr int64_t kOwnKeep = 5000;
  static constexpr size_t kMaxOwn = 64;

  // A frame of `computer` that says it listens came from `ip`; the name
  // heard longest ago makes room when the book is full.
  void Learn(const std::string& computer, uint32_t ip, int64_t now);
  // Where `computer` listens, or 0 when its frames were not heard within
  // kBookLifetime.
  uint32_t Find(const std::string& computer, int64_t now) const;
  // Forgets where `computer` listens when that is `ip` (it left the network).
  void Forget(const std::string& computer, uint32_t ip);

  // True when `data` of `sender` is the other path's copy of one delivered
  // within kPairingKeep (the pair is then used up); otherwise remembers it
  // as delivered from `path` and returns false.
  bool IsCopy(const std::string& sender, std::string_view data, ArrivalPath path, int64_t now);

  // A frame this bridge broadcast; IsOwnFrame finds it when it comes back
  // (within kOwnKeep), once.
  void RememberOwn(std::string_view frame, int64_t now);
  bool IsOwnFrame(std::string_view frame, int64_t now);

  // A served computer whose copy sends frames itself: the bridge does not
  // relay its writes. Unmark when it is no longer served.
  bool MarkSpeaksItself(const std::string& computer) {
    return speaksItself_.insert(computer).second;
  }
  bool SpeaksItself(const std::string& computer) const { return speaksItself_.count(computer) > 0; }
  void Unmark(const std::string& computer) { speaksItself_.erase(computer); }

 private:
  struct Heard {
    uint32_t ip = 0;
    int64_t at = 0;
  };
  struct Taken {
    uint64_t digest;
    size_t size;
    ArrivalPath path;
    int64_t at;
  };
  struct Sender {
    std::deque<Taken> taken;  // oldest first
    uint64_t heard = 0;
  };
  struct Own {
    uint64_t digest;
    size_t size;
    int64_t at;
  };

  std::map<std::string, Heard> book_;
  std::map<std::string, Sender> senders_;
  uint64_t tick_ = 0;
  std::deque<Own> own_;
  std::set<std::string> speaksItself_;
};

}  // namespace vask::bridge
