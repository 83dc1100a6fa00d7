// HostCore's contacts, settings and ignore list, over its tables.
#include "host/core/host_core.h"

namespace vask::host {

int HostCore::AddContact(std::string_view address, int net) {
  int existing = FindContact(net, address);
  if (existing > 0) return existing;
  int row = tables_.NewContact();
  if (row < 0) return -1;
  // A row without its address would be a contact nobody can find or name.
  if (!tables_.SetText(kTableContacts, row, kColumnId, address) ||
      !tables_.SetInt(kTableContacts, row, kColumnNet, net) ||
      !tables_.SetInt(kTableContacts, row, kColumnStatus, kStatusOffline)) {
    tables_.DeleteContact(row);
    return -1;
  }
  return row;
}

bool HostCore::RemoveContact(int contact) {
  details_.Close(contact);
  return tables_.DeleteContact(contact);
}

int HostCore::FindContact(int net, std::string_view address) {
  for (int row : tables_.ContactRows()) {
    if (row == 0) continue;
    if (tables_.GetInt(kTableContacts, row, kColumnNet) != net) continue;
    if (EqualsNoCase(tables_.GetText(kTableContacts, row, kColumnId), address)) return row;
  }
  return -1;
}

bool HostCore::SetSetting(int column, int64_t value) {
  return tables_.SetInt(kTableSettings, 0, column, value);
}

bool HostCore::SetSettingText(int column, std::string_view value) {
  return tables_.SetText(kTableSettings, 0, column, value);
}

int64_t HostCore::GetSetting(int column) { return tables_.GetInt(kTableSettings, 0, column); }

std::string HostCore::GetSettingText(int column) {
  return tables_.GetText(kTableSettings, 0, column);
}

bool HostCore::SetIgnored(std::string_view address, bool ignored) {
  return tables_.SetIgnored(address, ignored);
}

bool HostCore::IsIgnored(std::string_view address) { return tables_.IsIgnored(address); }

}  // namespace vask::host
