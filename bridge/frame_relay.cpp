#include "bridge/frame_relay.h"

#include <algorithm>

namespace vask::bridge {
namespace {

// FNV-1a: a copy is the very same bytes, and the size is compared too.
uint64_t Digest(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

void FrameRelay::Learn(const std::string& computer, uint32_t ip, int64_t now) {
  auto it = book_.find(computer);
  if (it == book_.end() && book_.size() >= kMaxBook) {
    book_.erase(std::min_element(book_.begin(), book_.end(),
                                 [](auto& a, auto& b) { return a.second.at < b.second.at; }));
  }
  book_[computer] = Heard{ip, now};
}

uint32_t FrameRelay::Find(const std::string& computer, int64_t now) const {
  auto it = book_.find(computer);
  if (it == book_.end() || now - it->second.at > kBookLifetime) return 0;
  return it->second.ip;
}

void FrameRelay::Forget(const std::string& computer, uint32_t ip) {
  auto it = book_.find(computer);
  if (it != book_.end() && it->second.ip == ip) book_.erase(it);
}

bool FrameRelay::IsCopy(const std::string& sender, std::string_view data, ArrivalPath path,
                        int64_t now) {
  auto it = senders_.find(sender);
  if (it == senders_.end()) {
    if (senders_.size() >= kPairingSenders) {
      senders_.erase(std::min_element(senders_.begin(), senders_.end(), [](auto& a, auto& b) {
        return a.second.heard < b.second.heard;
      }));
    }
    it = senders_.emplace(sender, Sender{}).first;
  }
  Sender& entry = it->second;
  entry.heard = ++tick_;
  while (!entry.taken.empty() && now - entry.taken.front().at > kPairingKeep) {
    entry.taken.pop_front();
  }
  const uint64_t digest = Digest(data);
  for (auto taken = entry.taken.begin(); taken != entry.taken.end(); ++taken) {
    if (taken->path != path && taken->digest == digest && taken->size == data.size()) {
      // One datagram cancels one copy: the same bytes again later (a peer
      // that started again and counts from 1) are new.
      entry.taken.erase(taken);
      return true;
    }
  }
  if (entry.taken.size() >= kPairsPerSender) entry.taken.pop_front();
  entry.taken.push_back(Taken{digest, data.size(), path, now});
  return false;
}

void FrameRelay::RememberOwn(std::string_view frame, int64_t now) {
  if (own_.size() >= kMaxOwn) own_.pop_front();
  own_.push_back(Own{Digest(frame), frame.size(), now});
}

bool FrameRelay::IsOwnFrame(std::string_view frame, int64_t now) {
  while (!own_.empty() && now - own_.front().at > kOwnKeep) own_.pop_front();
  const uint64_t digest = Digest(frame);
  for (auto it = own_.begin(); it != own_.end(); ++it) {
    if (it->digest == digest && it->size == frame.size()) {
      own_.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace vask::bridge
