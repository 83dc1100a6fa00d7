#include "host/core/plugin_reports.h"

namespace vask::host {

OwnStatus PluginReports::AnnounceStatus(std::optional<int> status, const char* text) {
  vask::MutexLock lock(mutex_);
  if (status) own_.status = *status;
  if (text) own_.text = text;
  ++own_.changes;
  return own_;
}

OwnStatus PluginReports::ownStatus() const {
  vask::MutexLock lock(mutex_);
  return own_;
}

void PluginReports::AddMessageBox(const MessageBox& box) {
  vask::MutexLock lock(mutex_);
  boxes_.push_back(box);
}

std::vector<MessageBox> PluginReports::messageBoxes() const {
  vask::MutexLock lock(mutex_);
  return boxes_;
}

void PluginReports::AddFound(const FoundContact& found) {
  vask::MutexLock lock(mutex_);
  found_.push_back(found);
}

std::vector<FoundContact> PluginReports::found() const {
  vask::MutexLock lock(mutex_);
  return found_;
}

void PluginReports::ClearFound() {
  vask::MutexLock lock(mutex_);
  found_.clear();
}

void PluginReports::SetSendResult(int messageId, int sent) {
  vask::MutexLock lock(mutex_);
  if (sendResults_.insert_or_assign(messageId, sent).second) {
    sendOrder_.push_back(messageId);
    if (sendOrder_.size() > kSendResultsKept) {
      sendResults_.erase(sendOrder_.front());
      sendOrder_.pop_front();
    }
  }
}

std::optional<int> PluginReports::SendResult(int messageId) const {
  vask::MutexLock lock(mutex_);
  auto it = sendResults_.find(messageId);
  if (it == sendResults_.end()) return std::nullopt;
  return it->second;
}

void PluginReports::AddError(int code) {
  vask::MutexLock lock(mutex_);
  errors_.push_back(code);
}

std::vector<int> PluginReports::errors() const {
  vask::MutexLock lock(mutex_);
  return errors_;
}

}  // namespace vask::host
