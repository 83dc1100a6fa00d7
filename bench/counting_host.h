// A host for the in-process benchmarks: the tests' fake control object
// (contacts and settings in memory; row 0 the own entry, rows 1.. LAN
// contacts) that also counts every host message by id. It keeps no history
// and no call log, so what a benchmark measures is the plug-in's own work;
// one caller thread at a time (the benchmarks drive the engine from one
// thread).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/fake_control.h"

namespace vask::bench {

class CountingHost : public test::FakeControl {
 public:
  // Row 0 is `own`; every later row is a LAN contact named by `contacts`.
  void Reset(const std::string& own, const std::vector<std::string>& contacts) {
    ResetValues(own);
    for (const std::string& contact : contacts) AddContact(contact);
    counts_.clear();
    total_ = 0;
  }
  // Host messages with this id since the last Reset.
  uint64_t Count(int id) const {
    const auto it = counts_.find(id);
    return it == counts_.end() ? 0 : it->second;
  }
  uint64_t Total() const { return total_; }

  intptr_t SendToHost(HostMessage* message) override {
    ++total_;
    ++counts_[message->id];
    return FakeControl::SendToHost(message);
  }

 private:
  std::map<int, uint64_t> counts_;
  uint64_t total_ = 0;
};

}  // namespace vask::bench
