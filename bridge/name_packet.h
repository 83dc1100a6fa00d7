// The NetBIOS name service (UDP 137) in broadcast mode: queries and their
// positive and negative responses, registrations, the defence of a unique
// name (a negative registration response) and releases. Decoding checks
// the header counts against the records that are really there and every
// record's lengths; only NB and NBSTAT questions are read, NB records are
// read into addresses and the data of any other first record is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bridge/codec_status.h"
#include "bridge/netbios_name.h"

namespace vask::bridge {

inline constexpr uint16_t kNamePort = 137;

inline constexpr uint16_t kFlagResponse = 0x8000;
inline constexpr uint16_t kFlagAuthoritative = 0x0400;
inline constexpr uint16_t kFlagTruncated = 0x0200;
inline constexpr uint16_t kFlagRecursionDesired = 0x0100;
inline constexpr uint16_t kFlagRecursionAvailable = 0x0080;
inline constexpr uint16_t kFlagBroadcast = 0x0010;

inline constexpr uint8_t kOpQuery = 0;
inline constexpr uint8_t kOpRegistration = 5;
inline constexpr uint8_t kOpRelease = 6;
inline constexpr uint8_t kOpWaitForAck = 7;
inline constexpr uint8_t kOpRefresh = 8;
inline constexpr uint8_t kOpMultihomedRegistration = 0x0F;

inline constexpr uint8_t kRcodeNameError = 3;  // the name is not here
inline constexpr uint8_t kRcodeActive = 6;     // the name is owned by another node

inline constexpr uint16_t kTypeNb = 0x0020;
inline constexpr uint16_t kTypeNbstat = 0x0021;
inline constexpr uint16_t kClassIn = 0x0001;

inline constexpr uint16_t kNbGroup = 0x8000;  // NB_FLAGS: a group name; node type B is 0

struct NbAddress {
  uint16_t nbFlags = 0;
  uint32_t ip = 0;  // host byte order
  bool operator==(const NbAddress&) const = default;
};

struct NamePacket {
  uint16_t id = 0;
  uint16_t flags = 0;

  bool hasQuestion = false;
  NetbiosName question;
  uint16_t questionType = kTypeNb;

  // The first resource record (answer, or the additional record of a
  // registration or release).
  bool hasRecord = false;
  NetbiosName recordName;
  uint16_t recordType = kTypeNb;
  uint32_t ttl = 0;
  std::vector<NbAddress> addresses;  // NB records only
  std::vector<uint8_t> recordData;   // the RDATA of a first record of another type

  bool response() const { return (flags & kFlagResponse) != 0; }
  uint8_t opcode() const { return static_cast<uint8_t>(flags >> 11 & 0x0F); }
  uint8_t rcode() const { return static_cast<uint8_t>(flags & 0x0F); }
};

// Builders. Each returns the UDP payload or fails for a name that cannot
// be encoded. `ip` and addresses are in host byte order.
Status BuildQuery(uint16_t id, const NetbiosName& name, std::vector<uint8_t>* out);
Status BuildPositiveResponse(uint16_t id, const NetbiosName& name, uint32_t ttl,
                             const std::vector<NbAddress>& addresses, std::vector<uint8_t>* out);
Status BuildNegativeResponse(uint16_t id, const NetbiosName& name, std::vector<uint8_t>* out);
Status BuildRegistration(uint16_t id, const NetbiosName& name, bool group, uint32_t ip,
                         uint32_t ttl, std::vector<uint8_t>* out);
// The defence of a unique name against a registration: a negative
// registration response, result "active", naming the owner's address.
Status BuildDefence(uint16_t id, const NetbiosName& name, uint32_t ownerIp,
                    std::vector<uint8_t>* out);
Status BuildRelease(uint16_t id, const NetbiosName& name, bool group, uint32_t ip,
                    std::vector<uint8_t>* out);

// Decodes one UDP payload: at most one question; records after the first
// are length-checked and skipped.
Status DecodeNamePacket(const uint8_t* packet, size_t size, NamePacket* out);

}  // namespace vask::bridge
