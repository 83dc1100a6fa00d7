// The NetBIOS datagram service (UDP 138) as the bridge speaks it: a
// datagram header, source and destination names, and for mailslot traffic
// an SMB_COM_TRANSACTION carrying a second-class mailslot write. Decoding
// validates every length, offset, name and SMB field and says why it
// refused; encoding builds exactly one unfragmented datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/codec_status.h"
#include "bridge/netbios_name.h"

namespace vask::bridge {

inline constexpr uint16_t kDatagramPort = 138;
inline constexpr uint8_t kDirectUnique = 0x10;
inline constexpr uint8_t kDirectGroup = 0x11;
inline constexpr uint8_t kBroadcast = 0x12;
inline constexpr uint8_t kDatagramError = 0x13;

inline constexpr uint8_t kFlagMore = 0x01;
inline constexpr uint8_t kFlagFirst = 0x02;

inline constexpr size_t kDatagramHeaderSize = 14;
inline constexpr size_t kSmbHeaderSize = 32;
inline constexpr size_t kMailslotNameOffset = 69;  // from the start of the SMB
// The most data one write between computers carries, as between Windows
// computers: a longer remote write fails.
inline constexpr size_t kMaxRemoteWrite = 424;
// Longest mailslot name we build or accept, "\MAILSLOT\" included.
inline constexpr size_t kMaxMailslotName = 255;

struct MailslotDatagram {
  uint8_t type = kDirectUnique;  // 0x10, 0x11 or 0x12
  uint8_t flags = kFlagFirst;    // node type B
  uint16_t id = 0;
  uint32_t sourceIp = 0;  // host byte order
  uint16_t sourcePort = kDatagramPort;
  NetbiosName source;
  NetbiosName destination;
  std::string mailslot;  // the whole name, e.g. "\MAILSLOT\MESSNGR"
  std::vector<uint8_t> data;
};

// "\MAILSLOT\" + the slot name upper-cased (mailslot names compare without
// regard to case, and this is the form the messenger slot is known by).
std::string WireMailslotName(const std::string& slot);
// The slot part of "\MAILSLOT\x" (prefix matched without regard to case),
// or false when the name does not start with it or has nothing after it.
bool SlotFromMailslotName(const std::string& mailslot, std::string* slot);

// Builds the UDP payload. Fails when the data exceed kMaxRemoteWrite, the
// mailslot name is not "\MAILSLOT\..." or too long, or a name cannot be
// encoded.
Status EncodeMailslotDatagram(const MailslotDatagram& datagram, std::vector<uint8_t>* out);

// What arrived on UDP 138.
struct DatagramPacket {
  uint8_t type = 0;
  uint8_t flags = 0;
  uint16_t id = 0;
  uint32_t sourceIp = 0;
  uint16_t sourcePort = 0;
  uint8_t errorCode = 0;      // type 0x13 only
  MailslotDatagram mailslot;  // types 0x10 to 0x12 only
};

// Decodes one UDP payload. Accepts types 0x10-0x12 carrying a mailslot
// write and the 11-byte error datagram; refuses everything else (query
// requests of a datagram distribution server, fragments, other SMBs).
Status DecodeDatagramPacket(const uint8_t* packet, size_t size, DatagramPacket* out);

}  // namespace vask::bridge
