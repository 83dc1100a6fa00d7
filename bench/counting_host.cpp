#include "bench/counting_host.h"

#include <cstring>

namespace vask::bench {

namespace {

constexpr int kColumnId = 0;
constexpr int kColumnNet = 1;

std::string TextOf(intptr_t pointer) {
  return pointer == 0 ? std::string() : std::string(reinterpret_cast<const char*>(pointer));
}

}  // namespace

void CountingHost::Reset(const std::string& own, const std::vector<std::string>& contacts) {
  rows_.assign(contacts.size() + 1, Row{});
  rowByAddress_.clear();
  counts_.clear();
  total_ = 0;
  rows_[0].texts[kColumnId] = own;
  for (size_t i = 0; i < contacts.size(); ++i) {
    Row& row = rows_[i + 1];
    row.texts[kColumnId] = contacts[i];
    row.ints[kColumnNet] = NET_LAN;
    rowByAddress_[contacts[i]] = static_cast<int>(i + 1);
  }
}

uint64_t CountingHost::Count(int id) const {
  auto it = counts_.find(id);
  return it == counts_.end() ? 0 : it->second;
}

intptr_t CountingHost::SendToHost(HostMessage* message) {
  ++total_;
  ++counts_[message->id];
  switch (message->id) {
    case 200: {
      // The contact of that address on that network, or -1.
      if (message->p1 != NET_LAN) return -1;
      auto it = rowByAddress_.find(TextOf(message->p2));
      return it == rowByAddress_.end() ? -1 : it->second;
    }
    case 201:
      return static_cast<intptr_t>(rows_.size());
    default:
      return 0;
  }
}

int CountingHost::RowIndex(int table, int row) { return Find(table, row) != nullptr ? 1 : 0; }

char* CountingHost::TempBuffer(int size) {
  temp_.assign(static_cast<size_t>(size < 0 ? 0 : size) + 1, '\0');
  return temp_.data();
}

CountingHost::Row* CountingHost::Find(int table, int row) {
  if (table == kTableSettings) return &settings_;
  if (table == kTableContacts && row >= 0 && static_cast<size_t>(row) < rows_.size()) return &rows_[row];
  return nullptr;
}

void CountingHost::GetValue(int table, int row, int column, ValueRecord* value) {
  Row* r = Find(table, row);
  if (value->type == kValueText) {
    const std::string* text = &empty_;
    if (r != nullptr) {
      auto it = r->texts.find(column);
      if (it != r->texts.end()) text = &it->second;
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
    auto it = r->ints.find(column);
    if (it != r->ints.end()) number = it->second;
  }
  value->value = static_cast<intptr_t>(number);
}

void CountingHost::SetValue(int table, int row, int column, ValueRecord* value) {
  Row* r = Find(table, row);
  if (r == nullptr) return;
  if (value->type == kValueText) {
    r->texts[column] = TextOf(value->value);
  } else {
    r->ints[column] = value->value;
  }
}

}  // namespace vask::bench
