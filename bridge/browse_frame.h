// The frames of the browse mailslot (\MAILSLOT\BROWSE) that a computer
// which is no browser needs: its own host announcement, the announcements
// of others (what a network neighbourhood lists) and the request to
// announce. Integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/codec_status.h"

namespace vask::bridge {

inline constexpr char kBrowseSlot[] = "BROWSE";

inline constexpr uint8_t kHostAnnouncement = 0x01;
inline constexpr uint8_t kAnnouncementRequest = 0x02;
inline constexpr uint8_t kLocalMasterAnnouncement = 0x0F;

// Server type bits.
inline constexpr uint32_t kServerWorkstation = 0x00000001;
inline constexpr uint32_t kServerServer = 0x00000002;  // a file server: never ours

// The longest comment, without its NUL.
inline constexpr size_t kMaxComment = 43;

struct Announcement {
  uint8_t opcode = kHostAnnouncement;  // or kLocalMasterAnnouncement
  uint32_t periodicity = 0;            // milliseconds until the next one
  std::string serverName;              // at most 15 bytes
  uint8_t osMajor = 6;
  uint8_t osMinor = 1;
  uint32_t serverType = kServerWorkstation;
  // At most kMaxComment bytes, in Windows-1250; the frame carries it in the
  // OEM code page 852, as NetBIOS peers read it.
  std::string comment;
};

// Fails for a name that is empty, longer than 15 bytes or holds a NUL; a
// longer comment is cut.
Status EncodeAnnouncement(const Announcement& a, std::vector<uint8_t>* out);
Status EncodeAnnouncementRequest(const std::string& responseName, std::vector<uint8_t>* out);

// What one browse frame is: an announcement (host or local master) or a
// request to announce; other opcodes are refused.
struct BrowseFrame {
  uint8_t opcode = 0;
  Announcement announcement;  // the two announcements
};

// Reads a frame: the server name must end within its 16 bytes; the
// comment ends at its NUL, the frame's end, or kMaxComment bytes.
Status DecodeBrowseFrame(const uint8_t* data, size_t size, BrowseFrame* out);

}  // namespace vask::bridge
