// Maps a plug-in library into the host and unmaps it again.
//
// A private copy (freshCopy) is a new file under $TMPDIR with the library's
// bytes: mapping it gives the plug-in static state of its own even when the
// same file is already loaded, and the copy is deleted at unmapping.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "abi/host_records.h"

namespace vask::host {

// The plug-in's export.
using MessageProc = intptr_t (*)(HostMessage*);

struct PluginLibrary {
  std::string path;  // as the caller named it
  std::string copy;  // the private copy to delete at unmapping, or ""
  void* handle = nullptr;
  MessageProc proc = nullptr;
};

// The library with its IMessageProc; nullopt with *error set (no file is
// left behind then).
std::optional<PluginLibrary> OpenPluginLibrary(const std::string& path, bool freshCopy,
                                               std::string* error);
void ClosePluginLibrary(const PluginLibrary& library);

}  // namespace vask::host
