#include "bridge/browse_frame.h"

#include <algorithm>
#include <cstring>

#include "bridge/byte_order.h"
#include "bridge/oem_text.h"

namespace vask::bridge {
namespace {

constexpr size_t kServerNameField = 16;
constexpr size_t kAnnouncementFixed = 32;  // everything before the comment
constexpr uint8_t kBrowserMajor = 15;
constexpr uint8_t kBrowserMinor = 1;
constexpr uint16_t kSignature = 0xAA55;

}  // namespace

Status EncodeAnnouncement(const Announcement& a, std::vector<uint8_t>* out) {
  if (a.serverName.empty() || a.serverName.size() >= kServerNameField ||
      a.serverName.find('\0') != std::string::npos) {
    return Status::Fail("bad server name");
  }
  std::vector<uint8_t> frame;
  frame.push_back(a.opcode);
  frame.push_back(0);  // UpdateCount
  Put32Le(&frame, a.periodicity);
  frame.insert(frame.end(), a.serverName.begin(), a.serverName.end());
  frame.insert(frame.end(), kServerNameField - a.serverName.size(), 0);
  frame.push_back(a.osMajor);
  frame.push_back(a.osMinor);
  Put32Le(&frame, a.serverType);
  frame.push_back(kBrowserMajor);
  frame.push_back(kBrowserMinor);
  Put16Le(&frame, kSignature);
  std::string comment = ToOem(a.comment.substr(0, kMaxComment));
  comment = comment.substr(0, comment.find('\0'));
  frame.insert(frame.end(), comment.begin(), comment.end());
  frame.push_back(0);
  *out = std::move(frame);
  return Status::Ok();
}

Status EncodeAnnouncementRequest(const std::string& responseName, std::vector<uint8_t>* out) {
  if (responseName.empty() || responseName.size() >= kServerNameField ||
      responseName.find('\0') != std::string::npos) {
    return Status::Fail("bad response name");
  }
  std::vector<uint8_t> frame = {kAnnouncementRequest, 0};
  frame.insert(frame.end(), responseName.begin(), responseName.end());
  frame.push_back(0);
  *out = std::move(frame);
  return Status::Ok();
}

Status DecodeBrowseFrame(const uint8_t* data, size_t size, BrowseFrame* out) {
  if (size < 1) return Status::Fail("empty browse frame");
  BrowseFrame frame;
  frame.opcode = data[0];
  if (frame.opcode == kAnnouncementRequest) {
    *out = std::move(frame);
    return Status::Ok();
  }
  if (frame.opcode != kHostAnnouncement && frame.opcode != kLocalMasterAnnouncement) {
    return Status::Fail("browse frame of another kind");
  }
  if (size < kAnnouncementFixed) return Status::Fail("announcement shorter than its fields");
  Announcement& a = frame.announcement;
  a.opcode = frame.opcode;
  a.periodicity = Get32Le(data + 2);
  const char* name = reinterpret_cast<const char*>(data + 6);
  const void* nul = std::memchr(name, 0, kServerNameField);
  if (!nul) return Status::Fail("server name without its NUL");
  a.serverName.assign(name, static_cast<const char*>(nul));
  if (a.serverName.empty()) return Status::Fail("empty server name");
  a.osMajor = data[22];
  a.osMinor = data[23];
  a.serverType = Get32Le(data + 24);
  const char* comment = reinterpret_cast<const char*>(data + kAnnouncementFixed);
  size_t room = std::min(size - kAnnouncementFixed, kMaxComment);
  const void* end = std::memchr(comment, 0, room);
  a.comment = FromOem(std::string(comment, end ? static_cast<const char*>(end) : comment + room));
  *out = std::move(frame);
  return Status::Ok();
}

}  // namespace vask::bridge
