// What a plug-in reported to the host and the host keeps for its front end
// and for tests: the own status it announced, the message boxes it showed,
// the contacts a search found, whether each message went out, and the codes
// it gave SetError. Thread-safe (one lock); readers get copies.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "abi/host_records.h"
#include "mutex.h"

namespace vask::host {

// The own status as the plug-in last set it with kMsgAnnounceStatus.
struct OwnStatus {
  int status = 0;
  std::string text;
  int changes = 0;  // number of kMsgAnnounceStatus messages
};

struct MessageBox {
  bool error = false;  // kMsgErrorBox; else kMsgInfoBox
  std::string text;
  std::string title;
};

class PluginReports {
 public:
  // The send results of the last kSendResultsKept messages that got one are
  // kept (a long session must not grow per message).
  static constexpr size_t kSendResultsKept = 4096;

  // No status keeps the status, a null text keeps the text. Returns the own
  // status after the change.
  OwnStatus AnnounceStatus(std::optional<int> status, const char* text);
  OwnStatus ownStatus() const;

  void AddMessageBox(const MessageBox& box);
  std::vector<MessageBox> messageBoxes() const;

  void AddFound(const FoundContact& found);
  std::vector<FoundContact> found() const;
  void ClearFound();

  void SetSendResult(int messageId, int sent);
  std::optional<int> SendResult(int messageId) const;

  void AddError(int code);
  std::vector<int> errors() const;

 private:
  mutable vask::Mutex mutex_;
  OwnStatus own_ GUARDED_BY(mutex_);
  std::vector<MessageBox> boxes_ GUARDED_BY(mutex_);
  std::vector<FoundContact> found_ GUARDED_BY(mutex_);
  std::map<int, int> sendResults_ GUARDED_BY(mutex_);
  std::deque<int> sendOrder_ GUARDED_BY(mutex_);  // the ids of sendResults_, oldest first
  std::vector<int> errors_ GUARDED_BY(mutex_);
};

}  // namespace vask::host
