// The plug-in fixture with a script host over the loaded plug-in: the
// commands of vask-host's scripted mode, their JSON events written to
// memory for the test to read.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/commands/script_host.h"
#include "plugin_fixture.h"

namespace vask::test {

class ScriptFixture : public PluginFixture {
 protected:
  void SetUp() override {
    PluginFixture::SetUp();
    if (HasFatalFailure()) return;
    out_ = open_memstream(&buffer_, &size_);
    ASSERT_NE(out_, nullptr);
    script_ = std::make_unique<host::ScriptHost>(host(), plugin(), false);
    script_->AddOutput(host::LinesTo(out_));
  }
  void TearDown() override {
    // The unload's messages still reach the script host; then it goes,
    // before the host core it refers to is freed.
    host().UnloadAll();
    script_.reset();
    PluginFixture::TearDown();
    if (out_ != nullptr) std::fclose(out_);
    std::free(buffer_);
  }

  // Every event written so far, one line each.
  std::vector<std::string> Events() {
    std::fflush(out_);
    std::vector<std::string> lines;
    const std::string all(buffer_, size_);
    size_t start = 0;
    for (size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(all.substr(start, end - start));
    }
    return lines;
  }
  // The last event, or "" before any.
  std::string LastEvent() {
    const auto events = Events();
    return events.empty() ? std::string() : events.back();
  }

  std::unique_ptr<host::ScriptHost> script_;

 private:
  std::FILE* out_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};

}  // namespace vask::test
