// Several computers on one emulated LAN: each a `vask-host` process in its
// scripted mode with its own COMPUTERNAME, all on one fresh LAN directory.
// A test writes commands to a host and waits, with a deadline, for the JSON
// events it prints.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "abi/host_ids.h"
#include "tests/support/host_process.h"
#include "tests/support/json_fields.h"
#include "tests/support/temp_lan.h"

namespace vask::multi {

using namespace std::chrono_literals;
using test::ContactEntry;
using test::HostProcess;
using test::IsEvent;
using test::JsonField;
using test::JsonInt;
using test::LinePredicate;

// The scripted command that sets the own status, with a description when
// `text` is not empty.
inline std::string StatusCommand(int status, const std::string& text = "") {
  return "status " + std::to_string(status) + (text.empty() ? "" : " " + text);
}

// A second more than the ten after which a sender's plug-in counts an
// unanswered message as lost: turning the clocks by this much lets that
// expiry pass without waiting it out.
constexpr long long kExpiryTurn = 11;

// The scripted command that moves the plug-in's clock in that host's process.
inline std::string ClockCommand(long long seconds) { return "clock +" + std::to_string(seconds); }

// A fresh LAN directory per test, removed afterwards, and the hosts on it.
// A host that does not end by itself with status 0 fails the test.
class MultiFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    lanDir_ = test::MakeTempDir("vask-multi");
    ASSERT_FALSE(lanDir_.empty());
  }
  void TearDown() override {
    for (auto& host : hosts_) {
      const std::string problem = host->Stop();
      if (!problem.empty()) ADD_FAILURE() << problem;
    }
    hosts_.clear();
    test::RemoveTree(lanDir_);
  }

  // Starts a host and waits for its "started" event.
  HostProcess& StartHost(const std::string& computer, const std::string& profile = ":memory:") {
    hosts_.push_back(
        std::make_unique<HostProcess>(test::BuildDir() + "/vask-host", computer, lanDir_, profile));
    HostProcess& host = *hosts_.back();
    EXPECT_TRUE(host.ok());
    EXPECT_TRUE(host.WaitFor(IsEvent("started"))) << computer << " did not start";
    return host;
  }

  // Moves the plug-in's clock on by `seconds` in every host given, each
  // having said so (its "clock" event) before the next is turned.
  void TurnClocks(const std::vector<HostProcess*>& hosts, long long seconds) {
    for (HostProcess* host : hosts) {
      const size_t mark = host->Mark();
      host->Send(ClockCommand(seconds));
      auto turned = host->WaitFor(IsEvent("clock"), mark, 5s);
      ASSERT_TRUE(turned.has_value()) << host->computer() << " did not turn its clock";
      EXPECT_EQ(JsonInt(*turned, "seconds"), seconds) << *turned;
    }
  }

  std::string lanDir_;
  std::vector<std::unique_ptr<HostProcess>> hosts_;
};

}  // namespace vask::multi
