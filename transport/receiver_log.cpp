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
  ++tick_;
  if (target == kEverybody) {
    // Whatever any computer got from us before, this comes after it.
    for (auto& [name, receiver] : receivers_) receiver.last = SendMark{};
    ++broadcastsWriting_;
    return;
  }
  const std::string key = Folded(target);
  auto it = receivers_.find(key);
  if (it == receivers_.end()) {
    if (receivers_.size() >= kReceiversKept) {
      // A linear walk, but only when a new name finds the log full.
      receivers_.erase(std::min_element(
          receivers_.begin(), receivers_.end(),
          [](const auto& a, const auto& b) { return a.second.tick < b.second.tick; }));
    }
    it = receivers_.emplace(key, Receiver{}).first;
  }
  it->second.last = mark;
  ++it->second.writing;
  it->second.tick = tick_;
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
