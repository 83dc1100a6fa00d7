// The web face's files, built into vask-host from host/web/, the plug-in's
// icon groups (resources/*.ico, by the group number the resource script
// gives them) and its help document (the build generates web_assets.cpp).
#pragma once

#include <string_view>

namespace vask::host {

struct WebAsset {
  std::string_view path;  // "/app.js", "/res/101.ico", "/doc/Vask.html"
  std::string_view type;  // the Content-Type
  std::string_view body;
};

// The file served at `path`, or null.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace vask::host
