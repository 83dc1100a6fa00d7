#include "host/core/plugin_loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace vask::host {

namespace {

std::string CopyToTemp(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot read the plug-in";
    return "";
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const char* dir = std::getenv("TMPDIR");
  std::string name = std::string(dir && *dir ? dir : "/tmp") + "/vask-plugin-XXXXXX.so";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = mkstemps(buffer.data(), 3);
  if (fd < 0) {
    if (error) *error = "cannot create a private copy of " + path;
    return "";
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (done != bytes.size()) {
    unlink(buffer.data());
    if (error) *error = "cannot write a private copy of " + path;
    return "";
  }
  return buffer.data();
}

}  // namespace

std::optional<PluginLibrary> OpenPluginLibrary(const std::string& path, bool freshCopy,
                                               std::string* error) {
  std::string loadPath = path;
  std::string copy;
  if (freshCopy) {
    copy = CopyToTemp(path, error);
    if (copy.empty()) return std::nullopt;
    loadPath = copy;
  }
  void* handle = dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (error) *error = dlerror();
    if (!copy.empty()) unlink(copy.c_str());
    return std::nullopt;
  }
  auto proc = reinterpret_cast<MessageProc>(dlsym(handle, "IMessageProc"));
  if (!proc) {
    if (error) *error = path + ": exports no IMessageProc";
    dlclose(handle);
    if (!copy.empty()) unlink(copy.c_str());
    return std::nullopt;
  }
  return PluginLibrary{path, copy, handle, proc};
}

void ClosePluginLibrary(const PluginLibrary& library) {
  dlclose(library.handle);
  if (!library.copy.empty()) unlink(library.copy.c_str());
}

}  // namespace vask::host
