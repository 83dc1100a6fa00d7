// The small in-memory host of the plug-in's fuzz targets: the tests' fake
// control object, checking at every call into it beyond "no crash":
//  - the record's size is one a host accepts;
//  - every text handed over is NUL-terminated within its bounds (ASan
//    reads it), a log line at most 254 characters long;
//  - a contact row asked about is the own row or one the host gave out.
// It starts no threads, so a fuzz run stays on one thread.
#pragma once

#include <cstdint>

#include "abi/host_control.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/fake_control.h"
#include "tests/support/temp_lan.h"

namespace vask::fuzz {

// The contacts of every run: B and C on the LAN, D on another net. Row 0
// is the own identity.
constexpr int kRows = 4;
// The network of contact D: any that is not the LAN.
constexpr int kOtherNet = 99;

class FuzzHost : public test::FakeControl {
 public:
  void Reset() {
    ResetValues("A");
    SetInt(kTableContacts, 0, kColumnNet, NET_LAN);
    AddContact("B");
    const int c = AddContact("C");
    AddContact("D", kOtherNet);
    SetInt(kTableContacts, c, kColumnStatus, kStatusAvailable);
  }

  intptr_t SendToHost(HostMessage* m) override {
    Check(m != nullptr);
    Check(m->size >= kHostMessageHead && m->size <= sizeof(HostMessage) + 8);
    switch (m->id) {
      case kMsgLog:
        Check(CheckedText(m->p1) <= 254);
        return 0;
      case kMsgShowMessage: {
        const auto* message = reinterpret_cast<const MessageRecord*>(m->p1);
        Check(message != nullptr);
        CheckedText(reinterpret_cast<intptr_t>(message->from));
        CheckedText(reinterpret_cast<intptr_t>(message->to));
        CheckedText(reinterpret_cast<intptr_t>(message->body));
        CheckedText(reinterpret_cast<intptr_t>(message->ext));
        return 0;
      }
      case kMsgFindContact:
        CheckedText(m->p2);
        return FakeControl::SendToHost(m);
      case kMsgIsIgnored:
        CheckedText(m->p2);
        return 0;
      default:
        // The contact count; any texts among the other parameters are read
        // by the host, but a pointer that is no text would show here only
        // under a real host, so the parameters are left alone.
        return FakeControl::SendToHost(m);
    }
  }
  intptr_t SendToPlugin(int, HostMessage* m) override {
    Check(m != nullptr);
    return 0;
  }
  char* TempBuffer(int size) override {
    Check(size >= 0 && size < (1 << 24));
    return FakeControl::TempBuffer(size);
  }
  void GetValue(int table, int row, int column, ValueRecord* value) override {
    Check(value != nullptr);
    CheckRow(table, row);
    FakeControl::GetValue(table, row, column, value);
  }
  void SetValue(int table, int row, int column, ValueRecord* value) override {
    Check(value != nullptr);
    CheckRow(table, row);
    if (value->type == kValueText) CheckedText(value->value);
    FakeControl::SetValue(table, row, column, value);
  }

 private:
  void CheckRow(int table, int row) {
    Check(table == kTableSettings || table == kTableContacts);
    if (table == kTableSettings) Check(row == 0);
    if (table == kTableContacts) Check(row >= 0 && row < kRows);
  }
};

// Makes this process computer "A" on a fresh emulated LAN where no other
// computer listens, so every reply is built and dropped; the folder goes
// at exit. Its path, or null when it cannot be made.
inline const char* UseEmptyLan() {
  static test::TempLan lan("A", "WORKGROUP", "vask-fuzz-lan");
  return lan.ok() ? lan.dir().c_str() : nullptr;
}

}  // namespace vask::fuzz
