#include "transport/receiver_log.h"

#include <algorithm>

#include "base/text.h"

namespace vask {

namespace {

constexpr char kEverybody[] = "*";

std::string Folded(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = FoldCase(c);
  return key;
}

}  // namespace

void ReceiverLog::Begin(const std::string& target, const SendMark& mark) {
  if (target == kEverybody) {
    // Whatever any computer got from us before, this comes after it.
    for (auto& [name, receiver] : receivers_) receiver.last = SendMark{};
    ++broadcastsWriting_;
    return;
  }
  std::string key = Folded(target);
  auto it = receivers_.find(key);
  if (it == receivers_.end()) {
    if (receivers_.size() >= kReceiversKept) {
      receivers_.erase(used_.back());
      used_.pop_back();
    }
    used_.push_front(key);
    it = receivers_.emplace(std::move(key), Receiver{SendMark{}, 0, used_.begin()}).first;
  } else {
    used_.splice(used_.begin(), used_, it->second.used);
  }
  // Writes under way at once may reach the receiver in either order, and a
  // broadcast under way may reach it after this one: whichever number it
  // holds last is not known once they are over. A write begun while any of
  // them is under way overlaps as well, so nothing is last until a write
  // begins alone.
  const bool overlaps = it->second.writing > 0 || broadcastsWriting_ > 0;
  it->second.last = overlaps ? SendMark{} : mark;
  ++it->second.writing;
}

void ReceiverLog::End(const std::string& target) {
  if (target == kEverybody) {
    if (broadcastsWriting_ > 0) --broadcastsWriting_;
    return;
  }
  auto it = receivers_.find(Folded(target));
  // Pushed out meanwhile: nothing of it is last any more.
  if (it != receivers_.end() && it->second.writing > 0) --it->second.writing;
}

bool ReceiverLog::IsLast(const std::string& target, const SendMark& mark) const {
  if (target == kEverybody || broadcastsWriting_ > 0 || mark == SendMark{}) return false;
  auto it = receivers_.find(Folded(target));
  return it != receivers_.end() && it->second.writing == 0 && it->second.last == mark;
}

bool SameComputer(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldCase(x) == FoldCase(y);
         });
}

}  // namespace vask
