// The plug-in fixture for the search tests: the engine running and computer
// B's LAN peer, and searches run as the host's search form runs them. A
// search still running at the end is cancelled and waited for.
#pragma once

#include <future>
#include <memory>
#include <vector>

#include "plugin_fixture.h"
#include "tests/support/lan_peer.h"

namespace vask::test {

class SearchFixture : public PluginFixture {
 protected:
  void SetUp() override {
    PluginFixture::SetUp();
    if (HasFatalFailure()) return;
    peer_ = std::make_unique<LanPeer>("B");
    ASSERT_TRUE(peer_->ok());
    ASSERT_EQ(Call(kMsgSetStatus, kStatusAvailable, 0), 1);  // starts the engine
  }
  void TearDown() override {
    host().PressCancel();
    for (auto& search : searches_) {
      if (search.valid()) search.wait_for(5s);
    }
    peer_.reset();
    PluginFixture::TearDown();
  }

  // Delivers the search request on a thread of its own, as the host's form
  // would; the call blocks until the search ends.
  std::shared_future<intptr_t> Search(FoundContact* request) {
    auto search = std::async(std::launch::async, [this, request] {
                    return Call(kMsgSearch, reinterpret_cast<intptr_t>(request));
                  }).share();
    searches_.push_back(search);
    return search;
  }

  std::unique_ptr<LanPeer> peer_;

 private:
  std::vector<std::shared_future<intptr_t>> searches_;
};

}  // namespace vask::test
