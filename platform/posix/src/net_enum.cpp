// Network enumeration over the emulated LAN: WNetOpenEnumA,
// WNetEnumResourceA, WNetCloseEnum. The tree is root -> one network ->
// workgroups -> running computers; a computer holds nothing.
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "bridge_client.h"
#include "handles.h"
#include "lan.h"
#include "lan_names.h"

namespace vask::platform {
namespace {

constexpr char kProvider[] = "Vask emulated LAN";
constexpr size_t kCommentMax = 255;

struct Entry {
  DWORD displayType;
  std::string remoteName;
  bool hasComment = false;
  std::string comment;
};

Entry Named(DWORD displayType, std::string remoteName) {
  Entry entry;
  entry.displayType = displayType;
  entry.remoteName = std::move(remoteName);
  return entry;
}

class NetEnum : public Object {
 public:
  NetEnum(DWORD scope, std::vector<Entry> entries)
      : Object(Kind::kNetEnum), scope_(scope), entries_(std::move(entries)) {}

  DWORD Fill(LPDWORD count, LPVOID buffer, LPDWORD bufferSize) {
    DWORD wanted = *count;
    char* base = static_cast<char*>(buffer);
    size_t recordsEnd = 0;              // records grow from the front
    size_t stringsStart = *bufferSize;  // their strings from the back
    DWORD packed = 0;
    while (next_ < entries_.size() && packed < wanted) {
      const Entry& entry = entries_[next_];
      size_t strings = entry.remoteName.size() + 1 + sizeof kProvider +
                       (entry.hasComment ? entry.comment.size() + 1 : 0);
      size_t needed = sizeof(NETRESOURCEA) + strings;
      // Records stay pointer-aligned; the buffer's start is the caller's.
      if (!base || recordsEnd + sizeof(NETRESOURCEA) + strings > stringsStart) {
        if (packed == 0) {
          *bufferSize = static_cast<DWORD>(needed);
          return ERROR_MORE_DATA;
        }
        break;
      }
      auto put = [&](const std::string& text) {
        stringsStart -= text.size() + 1;
        std::memcpy(base + stringsStart, text.c_str(), text.size() + 1);
        return base + stringsStart;
      };
      NETRESOURCEA record{};
      record.dwScope = scope_;
      record.dwType = RESOURCETYPE_ANY;
      record.dwDisplayType = entry.displayType;
      record.dwUsage = RESOURCEUSAGE_CONTAINER;
      record.lpLocalName = nullptr;
      record.lpRemoteName = put(entry.remoteName);
      record.lpComment = entry.hasComment ? put(entry.comment) : nullptr;
      record.lpProvider = put(kProvider);
      std::memcpy(base + recordsEnd, &record, sizeof record);
      recordsEnd += sizeof record;
      ++packed;
      ++next_;
    }
    *count = packed;
    return packed == 0 ? static_cast<DWORD>(ERROR_NO_MORE_ITEMS)
                       : static_cast<DWORD>(ERROR_SUCCESS);
  }

 private:
  const DWORD scope_;
  const std::vector<Entry> entries_;
  size_t next_ = 0;
};

// A computer runs while at least one of its slots has a live server.
bool IsRunning(const std::string& folder) {
  for (const std::string& name : ListDirectory(folder)) {
    if (SocketIsLive(folder + "/" + name)) return true;
  }
  return false;
}

Entry ComputerEntry(const std::string& folder, const std::string& name) {
  Entry entry = Named(RESOURCEDISPLAYTYPE_SERVER, "\\\\" + name);
  std::ifstream file(folder + "/comment");
  std::string line;
  if (file && std::getline(file, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    entry.hasComment = true;
    entry.comment = line.substr(0, kCommentMax);
  }
  return entry;
}

// The running computers of a workgroup, from every folder that names it
// without regard to case, each computer once; with firstOnly, at most the
// first one found (whether the workgroup has any).
std::vector<Entry> Computers(const std::string& lan, const std::string& workgroup,
                             bool firstOnly = false) {
  std::vector<Entry> entries;
  std::vector<std::string> listed;
  auto firstTime = [&listed](const std::string& name) {
    for (const std::string& earlier : listed) {
      if (lan_names::Same(earlier, name)) return false;
    }
    listed.push_back(name);
    return true;
  };
  for (const std::string& groupName : FoldersNamed(lan, workgroup)) {
    std::string group = lan + "/" + groupName;
    for (const std::string& computer : ListDirectory(group)) {
      std::string folder = group + "/" + computer;
      if (IsFolder(folder) && IsRunning(folder) && firstTime(computer)) {
        entries.push_back(ComputerEntry(folder, computer));
        if (firstOnly) return entries;
      }
    }
  }
  for (const BridgeNeighbour& remote : BridgeNeighbours(lan, workgroup)) {
    if (!firstTime(remote.name)) continue;  // a local computer of that name runs
    Entry entry = Named(RESOURCEDISPLAYTYPE_SERVER, "\\\\" + remote.name);
    entry.hasComment = !remote.comment.empty();
    entry.comment = remote.comment.substr(0, kCommentMax);
    entries.push_back(std::move(entry));
    if (firstOnly) return entries;
  }
  return entries;
}

// Every workgroup folder with a running computer, under the folder's own
// name, whatever its case or length; folders that differ only in case are
// one workgroup.
std::vector<Entry> Workgroups(const std::string& lan) {
  std::vector<Entry> entries;
  for (const std::string& group : ListDirectory(lan)) {
    if (!IsFolder(lan + "/" + group)) continue;
    bool earlier = false;
    for (const Entry& entry : entries) {
      earlier = earlier || lan_names::Same(entry.remoteName, group);
    }
    // One running computer is enough to show the workgroup: its whole list
    // is made when the walk enters it.
    if (!earlier && !Computers(lan, group, true).empty()) {
      entries.push_back(Named(RESOURCEDISPLAYTYPE_DOMAIN, group));
    }
  }
  return entries;
}

// What a container holds; false with the error code in *error.
bool Children(const std::string& lan, const NETRESOURCEA& container, std::vector<Entry>* entries,
              DWORD* error) {
  if (!(container.dwUsage & RESOURCEUSAGE_CONTAINER)) {
    *error = ERROR_NOT_CONTAINER;
    return false;
  }
  std::string remote = container.lpRemoteName ? container.lpRemoteName : "";
  DWORD display = container.dwDisplayType;
  if (display == RESOURCEDISPLAYTYPE_NETWORK || remote == kProvider) {
    *entries = Workgroups(lan);
    return true;
  }
  if (display == RESOURCEDISPLAYTYPE_SERVER || remote.rfind("\\\\", 0) == 0) {
    entries->clear();  // computers share nothing on this LAN
    return true;
  }
  // The workgroup's folder as listed, or as typed in any case.
  if ((display == RESOURCEDISPLAYTYPE_DOMAIN || display == RESOURCEDISPLAYTYPE_GENERIC) &&
      !FoldersNamed(lan, remote).empty()) {
    *entries = Computers(lan, remote);
    return true;
  }
  *error = ERROR_BAD_NET_NAME;
  return false;
}

}  // namespace
}  // namespace vask::platform

extern "C" {

DWORD WINAPI WNetOpenEnumA(DWORD scope, DWORD type, DWORD usage, LPNETRESOURCEA container,
                           LPHANDLE enumHandle) {
  using namespace vask::platform;
  if (!enumHandle || type > RESOURCETYPE_PRINT || (usage & ~RESOURCEUSAGE_ALL) != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  *enumHandle = nullptr;
  std::string lan;
  if (!LanDirectory(&lan)) return GetLastError();
  std::vector<Entry> entries;
  // Every entry here is a container: asking for connectable ones only finds none.
  bool containersWanted = usage == 0 || (usage & RESOURCEUSAGE_CONTAINER) != 0;
  switch (scope) {
    case RESOURCE_CONTEXT:
      entries = Computers(lan, OwnWorkgroup());
      break;
    case RESOURCE_GLOBALNET:
      if (!container) {
        entries.push_back(Named(RESOURCEDISPLAYTYPE_NETWORK, kProvider));
      } else {
        DWORD error = ERROR_SUCCESS;
        if (!Children(lan, *container, &entries, &error)) return error;
      }
      break;
    case RESOURCE_CONNECTED:
    case RESOURCE_REMEMBERED:
      break;  // nothing is ever connected
    default:
      return ERROR_INVALID_PARAMETER;
  }
  if (!containersWanted) entries.clear();
  *enumHandle = RegisterHandle(std::make_shared<NetEnum>(scope, std::move(entries)));
  return NO_ERROR;
}

DWORD WINAPI WNetEnumResourceA(HANDLE enumHandle, LPDWORD count, LPVOID buffer,
                               LPDWORD bufferSize) {
  using namespace vask::platform;
  auto object = LookupHandle(enumHandle, Kind::kNetEnum);
  if (!object) return ERROR_INVALID_HANDLE;
  if (!count || !bufferSize) return ERROR_INVALID_PARAMETER;
  return static_cast<NetEnum*>(object.get())->Fill(count, buffer, bufferSize);
}

DWORD WINAPI WNetCloseEnum(HANDLE enumHandle) {
  using namespace vask::platform;
  if (!LookupHandle(enumHandle, Kind::kNetEnum)) return ERROR_INVALID_HANDLE;
  CloseHandle(enumHandle);
  return NO_ERROR;
}

}  // extern "C"
