#include "transport/path_pairing.h"

#include <algorithm>

namespace vask {

namespace {

// FNV-1a over the whole datagram: a copy is the same bytes, and the size
// is compared too.
uint64_t Digest(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

bool PathPairing::IsCopy(const std::string& sender, std::string_view datagram, DeliveryPath path,
                         int64_t now) {
  auto it = senders_.find(sender);
  if (it == senders_.end()) {
    if (senders_.size() >= kSenders) {
      auto oldest = std::min_element(senders_.begin(), senders_.end(), [](auto& a, auto& b) {
        return a.second.heard < b.second.heard;
      });
      senders_.erase(oldest);
    }
    it = senders_.emplace(sender, Sender{}).first;
  }
  Sender& entry = it->second;
  entry.heard = ++tick_;
  while (!entry.taken.empty() && now - entry.taken.front().at > kKeepSeconds) {
    entry.taken.pop_front();
  }
  const uint64_t digest = Digest(datagram);
  for (auto taken = entry.taken.begin(); taken != entry.taken.end(); ++taken) {
    if (taken->path != path && taken->digest == digest && taken->size == datagram.size()) {
      // Each datagram cancels one copy: a later datagram with the same
      // bytes (a peer that started again and counts from 1) is new.
      entry.taken.erase(taken);
      return true;
    }
  }
  if (entry.taken.size() >= kPerSender) entry.taken.pop_front();
  entry.taken.push_back(Taken{digest, datagram.size(), path, now});
  return false;
}

}  // namespace vask
