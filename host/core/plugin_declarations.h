// What a plug-in declared to the host: its interface items (kMsgAddItem,
// later changed by kMsgSetItemStatus and kMsgSetItemText), its icons
// (kMsgRegisterIcon) and its columns (kMsgDefineColumn). The status menu,
// the settings page and the contact actions of the front end are built from
// these. Thread-safe (one lock); readers get copies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "abi/host_records.h"
#include "mutex.h"

namespace vask::host {

struct InterfaceItem {
  int id = 0;
  int parent = 0;
  int contact = -2;
  int position = 0;
  int style = 0;   // the status word given when adding
  int status = 0;  // the status word after kMsgSetItemStatus
  std::string text;
  int param = 0;
  int width = 0;
  int height = 0;
  int size = 0;  // kActionInfoShort or kActionInfoLong
};

struct RegisteredIcon {
  int iconId = 0;
  int kind = 0;
  HMODULE module = nullptr;
  int resourceId = 0;
};

struct ColumnDefinition {
  int table = 0;
  int column = 0;
  int type = kColumnInt;
  intptr_t defaultInt = 0;
  std::string defaultText;
  std::string name;
};

class PluginDeclarations {
 public:
  // A declared action (id != 0) replaces an earlier item with its id and
  // parent; items without an action id (labels, pictures, separators) are
  // many under one parent and are always added.
  void AddItem(const InterfaceItem& item);
  // The status bits under `mask` become those of `status`.
  void SetItemStatus(int id, int parent, int status, int mask);
  void SetItemText(int id, int parent, const std::string& text);
  std::optional<InterfaceItem> Item(int id, int parent) const;
  std::vector<InterfaceItem> items() const;

  void AddIcon(const RegisteredIcon& icon);
  std::vector<RegisteredIcon> icons() const;

  void AddColumn(const ColumnDefinition& column);
  std::vector<ColumnDefinition> columns() const;

 private:
  mutable vask::Mutex mutex_;
  std::vector<InterfaceItem> items_ GUARDED_BY(mutex_);
  std::vector<RegisteredIcon> icons_ GUARDED_BY(mutex_);
  std::vector<ColumnDefinition> columns_ GUARDED_BY(mutex_);
};

}  // namespace vask::host
