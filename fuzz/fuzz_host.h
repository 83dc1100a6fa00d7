// The small in-memory host of the plug-in's fuzz targets. At every call
// into it, it checks beyond "no crash":
//  - the record's size is one a host accepts;
//  - every text handed over is NUL-terminated within its bounds (ASan
//    reads it), a log line at most 254 characters long;
//  - a contact row asked about is the own row or one the host gave out.
// It starts no threads, so a fuzz run stays on one thread.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/host_api.h"
#include "abi/host_control.h"

namespace vask::fuzz {

inline void Check(bool condition) {
  if (!condition) std::abort();
}

inline size_t CheckedText(intptr_t text) {
  if (text == 0) return 0;
  return std::strlen(reinterpret_cast<const char*>(text));
}

// The contacts of every run: B and C on the LAN, D on another net. Row 0
// is the own identity.
constexpr int kRows = 4;

class FuzzHost : public HostControl {
 public:
  void Reset() {
    ints_.clear();
    texts_.clear();
    temp_.clear();
    const char* names[kRows] = {"A", "B", "C", "D"};
    for (int row = 0; row < kRows; ++row) {
      texts_[{kTableContacts, row, 0}] = names[row];
      ints_[{kTableContacts, row, 1}] = row == 3 ? 99 : NET_LAN;
    }
    ints_[{kTableContacts, 2, 2}] = 64;  // C is available
  }

  int Reserved0() override { return 0; }
  int Reserved1() override { return 0; }
  int PluginId() override { return 7; }
  HMODULE ModuleHandle() override { return nullptr; }
  int Reserved4() override { return 0; }
  void SetError(int) override {}
  int Reserved6() override { return 0; }
  intptr_t SendToHost(HostMessage* m) override {
    Check(m != nullptr);
    Check(m->size >= kHostMessageHead && m->size <= sizeof(HostMessage) + 8);
    switch (m->id) {
      case 1:
        Check(CheckedText(m->p1) <= 254);
        return 0;
      case 100: {
        const auto* message = reinterpret_cast<const MessageRecord*>(m->p1);
        Check(message != nullptr);
        CheckedText(reinterpret_cast<intptr_t>(message->from));
        CheckedText(reinterpret_cast<intptr_t>(message->to));
        CheckedText(reinterpret_cast<intptr_t>(message->body));
        CheckedText(reinterpret_cast<intptr_t>(message->ext));
        return 0;
      }
      case 200: {
        const std::string address(reinterpret_cast<const char*>(m->p2), CheckedText(m->p2));
        for (int row = 1; row < kRows; ++row) {
          if (ints_[{kTableContacts, row, 1}] == m->p1 && texts_[{kTableContacts, row, 0}] == address) {
            return row;
          }
        }
        return -1;
      }
      case 201:
        return kRows;
      case 310:
        CheckedText(m->p2);
        return 0;
      default:
        // Any texts among the parameters are read by the host; a pointer
        // that is no text would show here only under a real host, so the
        // parameters are left alone.
        return 0;
    }
  }
  intptr_t SendToPlugin(int, HostMessage* m) override {
    Check(m != nullptr);
    return 0;
  }
  int Reserved9() override { return 0; }
  int RowIndex(int, int row) override { return row; }
  void PumpMessages() override {}
  int Reserved12() override { return 0; }
  char* TempBuffer(int size) override {
    Check(size >= 0 && size < (1 << 24));
    temp_.emplace_back(static_cast<size_t>(size) + 1, '\x7f');
    return temp_.back().data();
  }
  void GetValue(int table, int row, int column, ValueRecord* value) override {
    Check(value != nullptr);
    CheckRow(table, row);
    if (value->type == kValueText) {
      const std::string& text = texts_[{table, row, column}];
      if (value->value != 0 && value->bufferSize > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(value->bufferSize) - 1);
        std::memcpy(reinterpret_cast<char*>(value->value), text.data(), n);
        reinterpret_cast<char*>(value->value)[n] = '\0';
      } else {
        value->value = reinterpret_cast<intptr_t>(text.c_str());
      }
    } else {
      value->value = static_cast<intptr_t>(ints_[{table, row, column}]);
    }
  }
  void SetValue(int table, int row, int column, ValueRecord* value) override {
    Check(value != nullptr);
    CheckRow(table, row);
    if (value->type == kValueText) {
      texts_[{table, row, column}].assign(reinterpret_cast<const char*>(value->value), CheckedText(value->value));
    } else {
      ints_[{table, row, column}] = value->value;
    }
  }
  int Reserved16() override { return 0; }
  // No threads: a fuzz run stays on one thread.
  HANDLE BeginThread(void*, unsigned, HostThreadRoutine, void*, unsigned, unsigned*) override { return nullptr; }
  int Reserved18() override { return 0; }
  int Reserved19() override { return 0; }

 private:
  void CheckRow(int table, int row) {
    Check(table == kTableSettings || table == kTableContacts);
    if (table == kTableSettings) Check(row == 0);
    if (table == kTableContacts) Check(row >= 0 && row < kRows);
  }

  using Key = std::tuple<int, int, int>;
  std::map<Key, int64_t> ints_;
  std::map<Key, std::string> texts_;
  std::vector<std::vector<char>> temp_;
};

// Makes this process computer "A" on a fresh emulated LAN where no other
// computer listens, so every reply is built and dropped and the folder
// stays empty (removed at exit). Its path, or null when it cannot be made.
inline const char* UseEmptyLan() {
  static char lan[] = "/tmp/vask-fuzz-lan-XXXXXX";
  if (mkdtemp(lan) == nullptr) return nullptr;
  std::atexit([] { rmdir(lan); });
  setenv("VASK_LAN_DIR", lan, 1);
  setenv("COMPUTERNAME", "A", 1);
  return lan;
}

}  // namespace vask::fuzz
