#include "transport/path_pairing.h"

#include "base/text.h"

namespace vask {

bool PathPairing::IsCopy(const std::string& sender, std::string_view datagram, DeliveryPath path,
                         int64_t now) {
  std::deque<Taken>& entry = senders_.Heard(sender);
  while (!entry.empty() && now - entry.front().at > kKeepSeconds) entry.pop_front();
  const uint64_t digest = BytesDigest(datagram);
  for (auto taken = entry.begin(); taken != entry.end(); ++taken) {
    if (taken->path != path && taken->digest == digest && taken->size == datagram.size()) {
      // Each datagram cancels one copy: a later datagram with the same
      // bytes (a peer that started again and counts from 1) is new.
      entry.erase(taken);
      return true;
    }
  }
  if (entry.size() >= kPerSender) entry.pop_front();
  entry.push_back(Taken{digest, datagram.size(), path, now});
  return false;
}

}  // namespace vask
