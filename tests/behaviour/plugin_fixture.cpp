#include "plugin_fixture.h"

#include <cstdlib>

namespace vask::test {

void PluginFixture::SetUp() {
  lan_ = std::make_unique<TempLan>(computer_, workgroup_);
  ASSERT_TRUE(lan_->ok());
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
  gate_.Open();  // a failed test must not leave a thread held
  if (host_) host_->UnloadAll();
  host_.reset();
  lan_.reset();
}

void PluginFixture::ReloadPlugin() {
  host_->Unload(plugin_);
  started_ = false;
  std::string error;
  plugin_ = host_->Load(PluginPath(), true, &error);
  ASSERT_NE(plugin_, 0) << error;
  StartPlugin();
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

intptr_t PluginFixture::ChatCommand(const std::string& body, int type, int flags) {
  MessageRecord record{};
  record.size = sizeof(MessageRecord);
  record.type = type;
  record.flags = flags;
  std::string from = computer_, empty, text = body;
  record.from = from.data();
  record.to = empty.data();
  record.ext = empty.data();
  record.body = text.data();
  record.field42 = -2;
  return Call(kMsgChatCommand, reinterpret_cast<intptr_t>(&record));
}

void PluginFixture::RunEngine(LanPeer& peer) {
  Call(kMsgSetStatus, kStatusAvailable);
  ASSERT_TRUE(peer.WaitFor("STATUS"));
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
    host_->calls().WaitFor([mark](const host::RecordedCall& c) { return c.sequence >= mark; },
                           left);
  }
}

Gate& PluginFixture::HoldFirstCall(int id) {
  SetAnswer(id, [this](HostMessage*) -> std::optional<intptr_t> {
    gate_.HoldFirst();
    return std::nullopt;
  });
  return gate_;
}

}  // namespace vask::test
