#include "host/core/plugin_declarations.h"

namespace vask::host {

void PluginDeclarations::AddItem(const InterfaceItem& item) {
  vask::MutexLock lock(mutex_);
  for (InterfaceItem& existing : items_) {
    if (item.id != 0 && existing.id == item.id && existing.parent == item.parent) {
      existing = item;
      return;
    }
  }
  items_.push_back(item);
}

void PluginDeclarations::SetItemStatus(int id, int parent, int status, int mask) {
  vask::MutexLock lock(mutex_);
  for (InterfaceItem& item : items_) {
    if (item.id != id || item.parent != parent) continue;
    item.status = (item.status & ~mask) | (status & mask);
  }
}

void PluginDeclarations::SetItemText(int id, int parent, const std::string& text) {
  vask::MutexLock lock(mutex_);
  for (InterfaceItem& item : items_) {
    if (item.id == id && item.parent == parent) item.text = text;
  }
}

std::optional<InterfaceItem> PluginDeclarations::Item(int id, int parent) const {
  vask::MutexLock lock(mutex_);
  for (const InterfaceItem& item : items_) {
    if (item.id == id && item.parent == parent) return item;
  }
  return std::nullopt;
}

std::vector<InterfaceItem> PluginDeclarations::items() const {
  vask::MutexLock lock(mutex_);
  return items_;
}

void PluginDeclarations::AddIcon(const RegisteredIcon& icon) {
  vask::MutexLock lock(mutex_);
  icons_.push_back(icon);
}

std::vector<RegisteredIcon> PluginDeclarations::icons() const {
  vask::MutexLock lock(mutex_);
  return icons_;
}

void PluginDeclarations::AddColumn(const ColumnDefinition& column) {
  vask::MutexLock lock(mutex_);
  columns_.push_back(column);
}

std::vector<ColumnDefinition> PluginDeclarations::columns() const {
  vask::MutexLock lock(mutex_);
  return columns_;
}

}  // namespace vask::host
