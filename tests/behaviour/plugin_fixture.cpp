#include "plugin_fixture.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace vask::test {

std::string BuildDir() {
  if (const char* dir = std::getenv("VASK_BUILD_DIR"); dir && *dir) return dir;
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "." : exe.parent_path().string();
}

std::string MakeTempDir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return "";
  return buffer.data();
}

void RemoveTree(const std::string& path) {
  std::error_code error;
  if (!path.empty()) std::filesystem::remove_all(path, error);
}

void PluginFixture::SetUp() {
  lanDir_ = MakeTempDir("vask-lan");
  ASSERT_FALSE(lanDir_.empty());
  setenv("VASK_LAN_DIR", lanDir_.c_str(), 1);
  setenv("COMPUTERNAME", computer_.c_str(), 1);
  setenv("VASK_WORKGROUP", workgroup_.c_str(), 1);
  host::HostOptions options;
  options.computer = computer_;
  options.verbose = std::getenv("VASK_TEST_VERBOSE") != nullptr;
  host_ = std::make_unique<host::HostCore>(options);
  ASSERT_TRUE(host_->ok()) << host_->error();
  std::string error;
  plugin_ = host_->Load(PluginPath(), true, &error);
  ASSERT_NE(plugin_, 0) << error;
  BeforeStart();
  if (startPlugin_) StartPlugin();
}

void PluginFixture::TearDown() {
  if (host_) host_->UnloadAll();
  host_.reset();
  RemoveTree(lanDir_);
}

intptr_t PluginFixture::CallRecord(HostMessage* message) { return host_->Call(plugin_, message); }

intptr_t PluginFixture::Call(int id, intptr_t p1, intptr_t p2) {
  return host_->Call(plugin_, id, p1, p2, 0, 0, 2);
}

intptr_t PluginFixture::Call3(int id, intptr_t p1, intptr_t p2, intptr_t p3) {
  return host_->Call(plugin_, id, p1, p2, p3, 0, 3);
}

intptr_t PluginFixture::Call4(int id, intptr_t p1, intptr_t p2, intptr_t p3, intptr_t p4) {
  return host_->Call(plugin_, id, p1, p2, p3, p4, 4);
}

int PluginFixture::AddContact(const std::string& name, int net) {
  return host_->AddContact(name, net);
}

bool PluginFixture::WaitForCount(int id, size_t n, std::chrono::milliseconds deadline) {
  auto until = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (Count(id) >= n) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    // Wake on the next recorded call of any kind, at most until the deadline.
    auto mark = host_->calls().Mark();
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) left = std::chrono::milliseconds(1);
    host_->calls().WaitFor([mark](const host::RecordedCall& c) { return c.sequence >= mark; }, left);
  }
}

}  // namespace vask::test
