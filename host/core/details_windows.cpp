#include "host/core/details_windows.h"

#include "abi/host_ids.h"

namespace vask::host {

bool IsContactWindowItem(int id) {
  return id >= kContactWindowItemBase && id < kContactWindowItemEnd;
}

int ContactWindowColumn(int id) { return id - kContactWindowItemBase; }

void DetailsWindows::Open(int contact) {
  vask::MutexLock lock(mutex_);
  windows_[contact];
}

void DetailsWindows::Close(int contact) {
  vask::MutexLock lock(mutex_);
  windows_.erase(contact);
}

bool DetailsWindows::IsOpen(int contact) const {
  vask::MutexLock lock(mutex_);
  return windows_.count(contact) != 0;
}

std::string DetailsWindows::Text(int contact, int column) const {
  vask::MutexLock lock(mutex_);
  auto it = windows_.find(contact);
  if (it == windows_.end()) return "";
  auto field = it->second.find(column);
  return field == it->second.end() ? "" : field->second;
}

void DetailsWindows::SetText(int contact, int column, std::string_view text) {
  vask::MutexLock lock(mutex_);
  auto it = windows_.find(contact);
  if (it != windows_.end()) it->second[column] = std::string(text);
}

}  // namespace vask::host
