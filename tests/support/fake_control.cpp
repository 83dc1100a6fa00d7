#include "tests/support/fake_control.h"

#include <algorithm>
#include <cstring>

namespace vask::test {

namespace {

std::string TextOf(intptr_t pointer) {
  return pointer == 0 ? std::string() : std::string(reinterpret_cast<const char*>(pointer));
}

}  // namespace

void FakeControl::ResetValues(const std::string& own) {
  std::lock_guard lock(mutex_);
  settings_ = Row{};
  contacts_.assign(1, Row{});
  contacts_[0].texts[kColumnId] = own;
  rowsByAddress_.clear();
  buffers_.clear();
}

int FakeControl::AddContact(const std::string& address, int net) {
  std::lock_guard lock(mutex_);
  const int row = static_cast<int>(contacts_.size());
  Row& added = contacts_.emplace_back();
  added.texts[kColumnId] = address;
  added.ints[kColumnNet] = net;
  rowsByAddress_[address].push_back(row);
  return row;
}

void FakeControl::SetInt(int table, int row, int column, int64_t value) {
  std::lock_guard lock(mutex_);
  if (Row* r = Find(table, row, true)) r->ints[column] = value;
}

void FakeControl::SetText(int table, int row, int column, const std::string& text) {
  std::lock_guard lock(mutex_);
  Row* r = Find(table, row, true);
  if (r == nullptr) return;
  r->texts[column] = text;
  if (table == kTableContacts && column == kColumnId && row > 0) {
    rowsByAddress_[text].push_back(row);
  }
}

int64_t FakeControl::Int(int table, int row, int column) {
  std::lock_guard lock(mutex_);
  const Row* r = Find(table, row, false);
  if (r == nullptr) return 0;
  const auto it = r->ints.find(column);
  return it == r->ints.end() ? 0 : it->second;
}

std::string FakeControl::Text(int table, int row, int column) {
  std::lock_guard lock(mutex_);
  const Row* r = Find(table, row, false);
  if (r == nullptr) return "";
  const auto it = r->texts.find(column);
  return it == r->texts.end() ? "" : it->second;
}

int FakeControl::ContactRows() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(contacts_.size());
}

int FakeControl::FindContact(int64_t net, const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto it = rowsByAddress_.find(address);
  if (it == rowsByAddress_.end()) return -1;
  // The index may name a row whose address changed since: the row decides.
  for (int row : it->second) {
    const Row& r = contacts_[static_cast<size_t>(row)];
    const auto id = r.texts.find(kColumnId);
    const auto rowNet = r.ints.find(kColumnNet);
    if (id != r.texts.end() && id->second == address && rowNet != r.ints.end() &&
        rowNet->second == net) {
      return row;
    }
  }
  return -1;
}

std::optional<intptr_t> FakeControl::ContactAnswer(const HostMessage& message) {
  switch (message.id) {
    case kMsgFindContact:
      return FindContact(message.p1, TextOf(message.p2));
    case kMsgContactCount:
      return ContactRows();
    default:
      return std::nullopt;
  }
}

intptr_t FakeControl::SendToHost(HostMessage* message) {
  return ContactAnswer(*message).value_or(0);
}

int FakeControl::RowIndex(int table, int row) {
  std::lock_guard lock(mutex_);
  return table == kTableContacts && row > 0 && Find(table, row, false) != nullptr ? row : 0;
}

char* FakeControl::TempBuffer(int size) {
  std::lock_guard lock(mutex_);
  buffers_.emplace_back(static_cast<size_t>(std::max(size, 0)) + 1, '\x7f');
  return buffers_.back().data();
}

void FakeControl::GetValue(int table, int row, int column, ValueRecord* value) {
  std::lock_guard lock(mutex_);
  const Row* r = Find(table, row, false);
  if (value->type == kValueText) {
    const std::string* text = &empty_;
    if (r != nullptr) {
      if (const auto it = r->texts.find(column); it != r->texts.end()) text = &it->second;
    }
    if (value->value != 0 && value->bufferSize > 0) {
      const size_t n = std::min(text->size(), static_cast<size_t>(value->bufferSize) - 1);
      std::memcpy(reinterpret_cast<char*>(value->value), text->data(), n);
      reinterpret_cast<char*>(value->value)[n] = '\0';
    } else {
      value->value = reinterpret_cast<intptr_t>(text->c_str());
    }
    return;
  }
  int64_t number = 0;
  if (r != nullptr) {
    if (const auto it = r->ints.find(column); it != r->ints.end()) number = it->second;
  }
  value->value = static_cast<intptr_t>(number);
}

void FakeControl::SetValue(int table, int row, int column, ValueRecord* value) {
  std::lock_guard lock(mutex_);
  Row* r = Find(table, row, false);
  if (r == nullptr) return;
  if (value->type == kValueText) {
    r->texts[column] = TextOf(value->value);
  } else {
    r->ints[column] = value->value;
  }
}

FakeControl::Row* FakeControl::Find(int table, int row, bool create) {
  if (table == kTableSettings) return row == 0 ? &settings_ : nullptr;
  if (table != kTableContacts || row < 0) return nullptr;
  if (static_cast<size_t>(row) >= contacts_.size()) {
    if (!create) return nullptr;
    contacts_.resize(static_cast<size_t>(row) + 1);
  }
  return &contacts_[static_cast<size_t>(row)];
}

}  // namespace vask::test
