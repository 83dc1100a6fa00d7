// A host for the in-process benchmarks: a contact table in plain vectors
// (row 0 the own entry, rows 1.. LAN contacts), settings in a map, and a
// count of every host message by id. It keeps no history and no call log,
// so what a benchmark measures is the plug-in's own work; one caller
// thread at a time (the benchmarks drive the engine from one thread).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "abi/host_control.h"

namespace vask::bench {

class CountingHost : public HostControl {
 public:
  // Row 0 is `own`; every later row is a LAN contact named by `contacts`.
  void Reset(const std::string& own, const std::vector<std::string>& contacts);
  // Host messages with this id since the last Reset.
  uint64_t Count(int id) const;
  uint64_t Total() const { return total_; }

  int Reserved0() override { return 0; }
  int Reserved1() override { return 0; }
  int PluginId() override { return 7; }
  HMODULE ModuleHandle() override { return nullptr; }
  int Reserved4() override { return 0; }
  void SetError(int) override {}
  int Reserved6() override { return 0; }
  intptr_t SendToHost(HostMessage* message) override;
  intptr_t SendToPlugin(int, HostMessage*) override { return 0; }
  int Reserved9() override { return 0; }
  int RowIndex(int table, int row) override;
  void PumpMessages() override {}
  int Reserved12() override { return 0; }
  char* TempBuffer(int size) override;
  void GetValue(int table, int row, int column, ValueRecord* value) override;
  void SetValue(int table, int row, int column, ValueRecord* value) override;
  int Reserved16() override { return 0; }
  // No threads: the benchmarks call the worker's steps themselves.
  HANDLE BeginThread(void*, unsigned, HostThreadRoutine, void*, unsigned, unsigned*) override {
    return nullptr;
  }
  int Reserved18() override { return 0; }
  int Reserved19() override { return 0; }

 private:
  struct Row {
    std::map<int, int64_t> ints;
    std::map<int, std::string> texts;
  };
  Row* Find(int table, int row);

  std::vector<Row> rows_;
  Row settings_;
  std::unordered_map<std::string, int> rowByAddress_;
  std::map<int, uint64_t> counts_;
  uint64_t total_ = 0;
  std::vector<char> temp_;
  std::string empty_;
};

}  // namespace vask::bench
