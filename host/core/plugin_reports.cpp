#include "host/core/plugin_reports.h"

namespace vask::host {

OwnStatus PluginReports::AnnounceStatus(std::optional<int> status, const char* text) {
  std::lock_guard lock(mutex_);
  if (status) own_.status = *status;
  if (text) own_.text = text;
  ++own_.changes;
  return own_;
}

OwnStatus PluginReports::ownStatus() const {
  std::lock_guard lock(mutex_);
  return own_;
}

void PluginReports::AddMessageBox(const MessageBox& box) {
  std::lock_guard lock(mutex_);
  boxes_.push_back(box);
}

std::vector<MessageBox> PluginReports::messageBoxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

void PluginReports::AddFound(const FoundContact& found) {
  std::lock_guard lock(mutex_);
  found_.push_back(found);
}

std::vector<FoundContact> PluginReports::found() const {
  std::lock_guard lock(mutex_);
  return found_;
}

void PluginReports::ClearFound() {
  std::lock_guard lock(mutex_);
  found_.clear();
}

void PluginReports::SetSendResult(int messageId, int sent) {
  std::lock_guard lock(mutex_);
  if (sendResults_.insert_or_assign(messageId, sent).second) {
    sendOrder_.push_back(messageId);
    if (sendOrder_.size() > kSendResultsKept) {
      sendResults_.erase(sendOrder_.front());
      sendOrder_.pop_front();
    }
  }
}

std::optional<int> PluginReports::SendResult(int messageId) const {
  std::lock_guard lock(mutex_);
  auto it = sendResults_.find(messageId);
  if (it == sendResults_.end()) return std::nullopt;
  return it->second;
}

void PluginReports::AddError(int code) {
  std::lock_guard lock(mutex_);
  errors_.push_back(code);
}

std::vector<int> PluginReports::errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

}  // namespace vask::host
