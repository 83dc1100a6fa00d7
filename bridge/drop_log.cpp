#include "bridge/drop_log.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vask::bridge {
namespace {

constexpr char kOther[] = "other";

// "a 3, b 2, 4 more 5": the largest counts first, the rest summed.
std::string List(const std::map<std::string, uint64_t>& counts, const char* more) {
  std::vector<std::pair<std::string, uint64_t>> sorted(counts.begin(), counts.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string out;
  uint64_t rest = 0;
  size_t restKeys = 0;
  for (size_t i = 0; i < sorted.size(); ++i) {
    if (i < DropLog::kListed) {
      if (!out.empty()) out += ", ";
      out += sorted[i].first + " " + std::to_string(sorted[i].second);
    } else {
      rest += sorted[i].second;
      ++restKeys;
    }
  }
  if (restKeys > 0) {
    out += ", " + std::to_string(restKeys) + " " + more + " " + std::to_string(rest);
  }
  return out;
}

}  // namespace

void DropLog::Add(std::map<std::string, uint64_t>* counts, const std::string& key, uint64_t n) {
  auto it = counts->find(key);
  if (it != counts->end()) {
    it->second += n;
  } else if (counts->size() < kMaxKeys) {
    (*counts)[key] = n;
  } else {
    (*counts)[kOther] += n;  // the map may hold kMaxKeys + 1 entries, no more
  }
}

std::string DropLog::Count(const std::string& reason, const std::string& source, int64_t now,
                           uint64_t count) {
  if (count == 0) return {};
  total_ += count;
  Add(&reasons_, reason, count);
  Add(&sources_, source, count);
  return TakeDue(now);
}

std::string DropLog::TakeDue(int64_t now) {
  if (total_ == 0) return {};
  if (logged_ && now < lastLine_ + interval_) return {};
  return Summary(now);
}

int64_t DropLog::NextDeadline() const {
  if (total_ == 0) return -1;
  return logged_ ? lastLine_ + interval_ : 0;
}

std::string DropLog::Summary(int64_t now) {
  std::string line;
  if (total_ == 1) {
    line = "dropped a packet from " + sources_.begin()->first + ": " + reasons_.begin()->first;
  } else {
    int64_t seconds = logged_ ? (now - lastLine_ + 999) / 1000 : 0;
    line = "dropped " + std::to_string(total_) + " packets";
    if (seconds > 0) line += " in the last " + std::to_string(seconds) + " s";
    line += ": " + List(reasons_, "more reasons") + "; from " + List(sources_, "more sources");
  }
  logged_ = true;
  lastLine_ = now;
  total_ = 0;
  reasons_.clear();
  sources_.clear();
  return line;
}

}  // namespace vask::bridge
