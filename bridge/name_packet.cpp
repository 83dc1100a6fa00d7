#include "bridge/name_packet.h"

#include "bridge/byte_order.h"

namespace vask::bridge {
namespace {

constexpr size_t kHeaderSize = 12;
constexpr uint16_t kQuestionPointer = 0xC000 | kHeaderSize;
constexpr size_t kMaxRecords = 16;

uint16_t Flags(uint8_t opcode, uint16_t bits) { return static_cast<uint16_t>(opcode << 11 | bits); }

void PutHeader(std::vector<uint8_t>* out, uint16_t id, uint16_t flags, uint16_t qd, uint16_t an,
               uint16_t ar) {
  out->clear();
  Put16Be(out, id);
  Put16Be(out, flags);
  Put16Be(out, qd);
  Put16Be(out, an);
  Put16Be(out, 0);
  Put16Be(out, ar);
}

void PutNbRecordTail(std::vector<uint8_t>* out, uint32_t ttl,
                     const std::vector<NbAddress>& addresses) {
  Put16Be(out, kTypeNb);
  Put16Be(out, kClassIn);
  Put32Be(out, ttl);
  Put16Be(out, static_cast<uint16_t>(6 * addresses.size()));
  for (const NbAddress& a : addresses) {
    Put16Be(out, a.nbFlags);
    Put32Be(out, a.ip);
  }
}

// A request carrying the name as question and again, compressed, as the
// additional record (registration and release).
Status BuildNameRequest(uint16_t id, uint16_t flags, const NetbiosName& name, bool group,
                        uint32_t ip, uint32_t ttl, std::vector<uint8_t>* out) {
  std::vector<uint8_t> packet;
  PutHeader(&packet, id, flags, 1, 0, 1);
  Status status = EncodeName(name, &packet);
  if (!status) return status;
  Put16Be(&packet, kTypeNb);
  Put16Be(&packet, kClassIn);
  Put16Be(&packet, kQuestionPointer);
  PutNbRecordTail(&packet, ttl, {NbAddress{static_cast<uint16_t>(group ? kNbGroup : 0), ip}});
  *out = std::move(packet);
  return Status::Ok();
}

Status BuildAnswer(uint16_t id, uint16_t flags, const NetbiosName& name, uint32_t ttl,
                   const std::vector<NbAddress>& addresses, std::vector<uint8_t>* out) {
  if (addresses.size() > 100) return Status::Fail("too many addresses");
  std::vector<uint8_t> packet;
  PutHeader(&packet, id, flags, 0, 1, 0);
  Status status = EncodeName(name, &packet);
  if (!status) return status;
  PutNbRecordTail(&packet, ttl, addresses);
  *out = std::move(packet);
  return Status::Ok();
}

}  // namespace

Status BuildQuery(uint16_t id, const NetbiosName& name, std::vector<uint8_t>* out) {
  std::vector<uint8_t> packet;
  PutHeader(&packet, id, Flags(kOpQuery, kFlagRecursionDesired | kFlagBroadcast), 1, 0, 0);
  Status status = EncodeName(name, &packet);
  if (!status) return status;
  Put16Be(&packet, kTypeNb);
  Put16Be(&packet, kClassIn);
  *out = std::move(packet);
  return Status::Ok();
}

Status BuildPositiveResponse(uint16_t id, const NetbiosName& name, uint32_t ttl,
                             const std::vector<NbAddress>& addresses, std::vector<uint8_t>* out) {
  return BuildAnswer(id,
                     kFlagResponse | Flags(kOpQuery, kFlagAuthoritative | kFlagRecursionDesired),
                     name, ttl, addresses, out);
}

Status BuildNegativeResponse(uint16_t id, const NetbiosName& name, std::vector<uint8_t>* out) {
  return BuildAnswer(
      id,
      kFlagResponse | Flags(kOpQuery, kFlagAuthoritative | kFlagRecursionDesired | kRcodeNameError),
      name, 0, {}, out);
}

Status BuildRegistration(uint16_t id, const NetbiosName& name, bool group, uint32_t ip,
                         uint32_t ttl, std::vector<uint8_t>* out) {
  return BuildNameRequest(id, Flags(kOpRegistration, kFlagRecursionDesired | kFlagBroadcast), name,
                          group, ip, ttl, out);
}

Status BuildDefence(uint16_t id, const NetbiosName& name, uint32_t ownerIp,
                    std::vector<uint8_t>* out) {
  uint16_t flags =
      kFlagResponse | Flags(kOpRegistration, kFlagAuthoritative | kFlagRecursionDesired |
                                                 kFlagRecursionAvailable | kRcodeActive);
  return BuildAnswer(id, flags, name, 0, {NbAddress{0, ownerIp}}, out);
}

Status BuildRelease(uint16_t id, const NetbiosName& name, bool group, uint32_t ip,
                    std::vector<uint8_t>* out) {
  return BuildNameRequest(id, Flags(kOpRelease, kFlagBroadcast), name, group, ip, 0, out);
}

Status DecodeNamePacket(const uint8_t* packet, size_t size, NamePacket* out) {
  if (size < kHeaderSize) return Status::Fail("name packet shorter than its header");
  NamePacket p;
  p.id = Get16Be(packet);
  p.flags = Get16Be(packet + 2);
  uint16_t questions = Get16Be(packet + 4);
  size_t records = size_t{Get16Be(packet + 6)} + Get16Be(packet + 8) + Get16Be(packet + 10);
  if (questions > 1) return Status::Fail("more than one question");
  if (records > kMaxRecords) return Status::Fail("too many records");
  if (p.flags & kFlagTruncated) return Status::Fail("truncated name packet");
  switch (p.opcode()) {
    case kOpQuery:
    case kOpRegistration:
    case kOpRelease:
    case kOpWaitForAck:
    case kOpRefresh:
    case kOpMultihomedRegistration:
      break;
    default:
      return Status::Fail("unknown name service opcode");
  }

  size_t at = kHeaderSize;
  if (questions == 1) {
    Status status = DecodeName(packet, size, at, true, &p.question, &at);
    if (!status) return status;
    if (at + 4 > size) return Status::Fail("question runs past the packet");
    p.questionType = Get16Be(packet + at);
    if (p.questionType != kTypeNb && p.questionType != kTypeNbstat) {
      return Status::Fail("question type is not NB or NBSTAT");
    }
    if (Get16Be(packet + at + 2) != kClassIn) return Status::Fail("question class is not IN");
    at += 4;
    p.hasQuestion = true;
  }
  for (size_t i = 0; i < records; ++i) {
    NetbiosName name;
    Status status = DecodeName(packet, size, at, true, &name, &at);
    if (!status) return status;
    if (at + 10 > size) return Status::Fail("record runs past the packet");
    uint16_t type = Get16Be(packet + at);
    uint16_t rclass = Get16Be(packet + at + 2);
    uint32_t ttl = Get32Be(packet + at + 4);
    size_t length = Get16Be(packet + at + 8);
    at += 10;
    if (at + length > size) return Status::Fail("record data run past the packet");
    if (rclass != kClassIn) return Status::Fail("record class is not IN");
    if (i == 0) {
      p.hasRecord = true;
      p.recordName = name;
      p.recordType = type;
      p.ttl = ttl;
      if (type == kTypeNb) {
        if (length % 6 != 0) return Status::Fail("NB record length is not a multiple of 6");
        for (size_t k = 0; k < length; k += 6) {
          p.addresses.push_back(NbAddress{Get16Be(packet + at + k), Get32Be(packet + at + k + 2)});
        }
      } else {
        p.recordData.assign(packet + at, packet + at + length);
      }
    }
    at += length;
  }
  if (at != size) return Status::Fail("bytes after the last record");
  *out = std::move(p);
  return Status::Ok();
}

}  // namespace vask::bridge
