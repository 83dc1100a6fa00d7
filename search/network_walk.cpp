// The walk of the network neighbourhood: every computer met is reported to
// the host as a found contact; every pure container is entered, depth first.
#include "search/network_walk.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "base/host_api.h"
#include "base/log.h"
#include "base/text.h"

namespace vask {

namespace {

constexpr DWORD kBatchBytes = 16384;
constexpr DWORD kAsManyAsFit = 0xFFFFFFFF;
constexpr const char* kWalkError = "Wystąpił błąd podczas wyszukiwania!";

// Owns one level's enumeration handle; closed when the level returns,
// whichever way it ends.
class EnumHandle {
 public:
  EnumHandle() = default;
  ~EnumHandle() {
    if (handle_) WNetCloseEnum(handle_);
  }
  EnumHandle(const EnumHandle&) = delete;
  EnumHandle& operator=(const EnumHandle&) = delete;
  HANDLE* out() { return &handle_; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

// A missing text of an entry counts as empty.
const char* Text(const char* text) { return text ? text : ""; }

template <size_t N>
void CopyField(char (&field)[N], const char* text) {
  const size_t n = strnlen(text, N - 1);
  std::memcpy(field, text, n);
  field[n] = '\0';
}

void ReportComputer(FoundContact& record, const NETRESOURCEA& entry) {
  const char* remote = Text(entry.lpRemoteName);
  // "\\PC" is listed; the contact is "PC". A lone backslash leaves nothing.
  const char* name = remote[0] == '\\' ? remote + std::min<size_t>(2, std::strlen(remote)) : remote;
  CopyField(record.uid, name);
  const char* comment = Text(entry.lpComment);
  if (comment[0] != '\0') {
    std::snprintf(record.column17, sizeof(record.column17), "%s (%s)", comment, name);
  } else {
    record.column17[0] = '\0';
  }
  CopyField(record.provider, Text(entry.lpProvider));
  SendHost(kMsgFoundContact, &record, 0);
}

}  // namespace

void WalkNetwork(const SearchStatusRecord& notice, WalkStart start, NETRESOURCEA* container,
                 const std::string& filter) {
  FoundContact record{};
  record.size = sizeof(FoundContact);
  record.net = NET_LAN;
  record.status = 0;

  const DWORD scope = start == WalkStart::OwnContext ? RESOURCE_CONTEXT : RESOURCE_GLOBALNET;
  NETRESOURCEA* from = start == WalkStart::Container ? container : nullptr;
  Log("- Enumerating network resources of '%s'...", from ? Text(from->lpRemoteName) : "/");

  EnumHandle handle;
  if (WNetOpenEnumA(scope, RESOURCETYPE_ANY, 0, from, handle.out()) != NO_ERROR) {
    *handle.out() = nullptr;
    SendHost(kMsgErrorBox, kWalkError, 0);
    return;
  }

  // Entries and the texts they point at share the buffer; NETRESOURCEA
  // alignment is kept by allocating it as entries.
  constexpr size_t kMaxEntries = kBatchBytes / sizeof(NETRESOURCEA);
  constexpr size_t kBufferEntries = (kBatchBytes + sizeof(NETRESOURCEA) - 1) / sizeof(NETRESOURCEA);
  std::unique_ptr<NETRESOURCEA[]> buffer(new (std::nothrow) NETRESOURCEA[kBufferEntries]);
  if (!buffer) {
    SendHost(kMsgErrorBox, kWalkError, 0);
    return;
  }
  for (;;) {
    SleepEx(1, TRUE);
    DWORD count = kAsManyAsFit;
    DWORD size = kBatchBytes;
    if (WNetEnumResourceA(handle.get(), &count, buffer.get(), &size) != NO_ERROR) break;
    if (count == 0) Log("- Network resource empty!");
    count = std::min<DWORD>(count, kMaxEntries);  // never read past the batch
    for (DWORD i = 0; i < count && !NoticeCancelled(notice); ++i) {
      NETRESOURCEA& entry = buffer[i];
      Log("   > found '%s' disp=%d type=%d usage=%d local='%s' c='%s' p='%s'",
          Text(entry.lpRemoteName), static_cast<int>(entry.dwDisplayType),
          static_cast<int>(entry.dwType), static_cast<int>(entry.dwUsage), Text(entry.lpLocalName),
          Text(entry.lpComment), Text(entry.lpProvider));
      if (entry.dwDisplayType == RESOURCEDISPLAYTYPE_SERVER) {
        // The filter is matched against the listed name, backslashes and all.
        if (filter.empty() || ContainsNoCase(Text(entry.lpRemoteName), filter.c_str())) {
          ReportComputer(record, entry);
        }
      } else if (entry.dwUsage == RESOURCEUSAGE_CONTAINER) {
        WalkNetwork(notice, WalkStart::Container, &entry, filter);
      }
    }
    SleepEx(1, TRUE);
    if (NoticeCancelled(notice)) break;
  }
}

}  // namespace vask
