// The sockets this process writes to servers on (peer_sockets.h).
#include "peer_sockets.h"

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <list>
#include <unordered_map>
#include <utility>

#include "mutex.h"

namespace vask::platform {
namespace {

class PeerCache {
 public:
  static PeerCache& Get() {
    static PeerCache* const cache = new PeerCache;  // outlives every writer
    return *cache;
  }

  std::shared_ptr<Peer> Find(const std::string& key) {
    MutexLock guard(lock_);
    auto found = entries_.find(key);
    if (found == entries_.end()) return nullptr;
    order_.splice(order_.begin(), order_, found->second.second);
    return found->second.first;
  }

  void Keep(const std::string& key, std::shared_ptr<Peer> peer) {
    MutexLock guard(lock_);
    auto found = entries_.find(key);
    if (found != entries_.end()) {
      found->second.first = std::move(peer);
      order_.splice(order_.begin(), order_, found->second.second);
      return;
    }
    while (!order_.empty() && entries_.size() >= limit_) {
      entries_.erase(order_.back());
      order_.pop_back();
    }
    order_.push_front(key);
    entries_.emplace(key, std::make_pair(std::move(peer), order_.begin()));
  }

  void Drop(const std::string& key, const Peer* peer) {
    MutexLock guard(lock_);
    auto found = entries_.find(key);
    if (found == entries_.end() || found->second.first.get() != peer) return;
    order_.erase(found->second.second);
    entries_.erase(found);
  }

 private:
  PeerCache() = default;

  const size_t limit_ = PeerLimit();
  Mutex lock_;
  // Most recently used first.
  std::list<std::string> order_ GUARDED_BY(lock_);
  std::unordered_map<std::string,
                     std::pair<std::shared_ptr<Peer>, std::list<std::string>::iterator>>
      entries_ GUARDED_BY(lock_);
};

}  // namespace

std::shared_ptr<Peer> FindPeer(const std::string& key) { return PeerCache::Get().Find(key); }

void KeepPeer(const std::string& key, std::shared_ptr<Peer> peer) {
  PeerCache::Get().Keep(key, std::move(peer));
}

void DropPeer(const std::string& key, const Peer* peer) { PeerCache::Get().Drop(key, peer); }

bool PeerGone(int error) { return error == ECONNREFUSED || error == ENOTCONN; }

size_t PeerLimit() {
  size_t limit = 1024;
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    limit = std::min<size_t>(limit, static_cast<size_t>(files.rlim_cur) / 4);
  }
  return std::max<size_t>(limit, 16);
}

}  // namespace vask::platform
