#include "bridge/mailslot_datagram.h"

#include <cstring>

#include "bridge/byte_order.h"

namespace vask::bridge {
namespace {

constexpr char kPrefix[] = "\\MAILSLOT\\";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;
constexpr uint8_t kSmbTransaction = 0x25;
constexpr uint8_t kTransactionWords = 17;
constexpr uint16_t kMailslotWrite = 1;
constexpr uint16_t kSecondClass = 2;
constexpr size_t kErrorDatagramSize = 11;

bool PrefixMatches(const std::string& name) {
  if (name.size() < kPrefixLength) return false;
  for (size_t i = 0; i < kPrefixLength; ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kPrefix[i]) return false;
  }
  return true;
}

// The SMB of a mailslot write, from its first byte.
Status DecodeSmb(const uint8_t* smb, size_t size, MailslotDatagram* out) {
  if (size < kMailslotNameOffset) return Status::Fail("SMB shorter than a transaction header");
  if (std::memcmp(smb, "\xFFSMB", 4) != 0) return Status::Fail("user data is not an SMB");
  if (smb[4] != kSmbTransaction) return Status::Fail("SMB command is not a transaction");
  if (smb[32] != kTransactionWords) return Status::Fail("SMB WordCount is not 17");
  const uint8_t* words = smb + 33;
  uint16_t totalParameters = Get16Le(words + 0);
  uint16_t totalData = Get16Le(words + 2);
  uint16_t parameterCount = Get16Le(words + 18);
  uint16_t parameterOffset = Get16Le(words + 20);
  uint16_t dataCount = Get16Le(words + 22);
  uint16_t dataOffset = Get16Le(words + 24);
  uint8_t setupCount = words[26];
  uint16_t opcode = Get16Le(words + 28);
  uint16_t mailslotClass = Get16Le(words + 32);
  uint16_t byteCount = Get16Le(smb + 67);

  if (setupCount != 3) return Status::Fail("SMB SetupCount is not 3");
  if (opcode != kMailslotWrite) return Status::Fail("mailslot opcode is not a write");
  if (mailslotClass != kSecondClass) return Status::Fail("mailslot class is not 2");
  if (kMailslotNameOffset + size_t{byteCount} > size) {
    return Status::Fail("SMB ByteCount beyond the packet");
  }
  if (dataCount != totalData || parameterCount != totalParameters) {
    return Status::Fail("transaction split over several SMBs");
  }
  size_t bytesEnd = kMailslotNameOffset + byteCount;
  if (parameterCount != 0 && (parameterOffset < kMailslotNameOffset ||
                              size_t{parameterOffset} + parameterCount > bytesEnd)) {
    return Status::Fail("SMB parameters beyond the packet");
  }

  const uint8_t* name = smb + kMailslotNameOffset;
  const void* nul = std::memchr(name, 0, byteCount);
  if (!nul) return Status::Fail("mailslot name without its NUL");
  size_t nameLength = static_cast<const uint8_t*>(nul) - name;
  if (nameLength > kMaxMailslotName) return Status::Fail("mailslot name too long");
  std::string mailslot(reinterpret_cast<const char*>(name), nameLength);
  std::string slot;
  if (!SlotFromMailslotName(mailslot, &slot)) return Status::Fail("not a \\MAILSLOT\\ name");
  for (unsigned char c : mailslot) {
    if (c < 0x20) return Status::Fail("control character in the mailslot name");
  }
  // Padding may sit between the name and the data; the data may not
  // overlap the name or leave the SMB's bytes.
  if (dataOffset < kMailslotNameOffset + nameLength + 1) {
    return Status::Fail("DataOffset inside the mailslot name");
  }
  if (size_t{dataOffset} + dataCount > bytesEnd) return Status::Fail("data beyond ByteCount");

  out->mailslot = std::move(mailslot);
  out->data.assign(smb + dataOffset, smb + dataOffset + dataCount);
  return Status::Ok();
}

}  // namespace

std::string WireMailslotName(const std::string& slot) {
  std::string out = kPrefix;
  for (char c : slot) out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return out;
}

bool SlotFromMailslotName(const std::string& mailslot, std::string* slot) {
  if (!PrefixMatches(mailslot) || mailslot.size() == kPrefixLength) return false;
  *slot = mailslot.substr(kPrefixLength);
  return true;
}

Status EncodeMailslotDatagram(const MailslotDatagram& d, std::vector<uint8_t>* out) {
  if (d.type < kDirectUnique || d.type > kBroadcast) return Status::Fail("not a mailslot type");
  if (d.data.size() > kMaxRemoteWrite) return Status::Fail("write above 424 bytes");
  std::string slot;
  if (!SlotFromMailslotName(d.mailslot, &slot)) return Status::Fail("not a \\MAILSLOT\\ name");
  if (d.mailslot.size() > kMaxMailslotName) return Status::Fail("mailslot name too long");
  if (d.mailslot.find('\0') != std::string::npos) return Status::Fail("NUL in a mailslot name");

  std::vector<uint8_t> packet;
  packet.push_back(d.type);
  packet.push_back(static_cast<uint8_t>(d.flags & ~kFlagMore));
  Put16Be(&packet, d.id);
  Put32Be(&packet, d.sourceIp);
  Put16Be(&packet, d.sourcePort);
  Put16Be(&packet, 0);  // DGM_LENGTH, filled in below
  Put16Be(&packet, 0);  // PACKET_OFFSET: never fragmented
  Status status = EncodeName(d.source, &packet);
  if (status) status = EncodeName(d.destination, &packet);
  if (!status) return status;

  const uint16_t nameBytes = static_cast<uint16_t>(d.mailslot.size() + 1);
  const uint16_t dataCount = static_cast<uint16_t>(d.data.size());
  const uint16_t dataOffset = static_cast<uint16_t>(kMailslotNameOffset + nameBytes);
  const uint8_t header[] = {0xFF, 'S', 'M', 'B', kSmbTransaction};
  packet.insert(packet.end(), header, header + sizeof header);
  packet.insert(packet.end(), kSmbHeaderSize - sizeof header, 0);  // status, flags, ids: zero
  packet.push_back(kTransactionWords);
  Put16Le(&packet, 0);          // TotalParameterCount
  Put16Le(&packet, dataCount);  // TotalDataCount
  Put16Le(&packet, 0);          // MaxParameterCount
  Put16Le(&packet, 0);          // MaxDataCount
  packet.push_back(0);          // MaxSetupCount
  packet.push_back(0);          // Reserved1
  Put16Le(&packet, 0);          // Flags
  Put32Le(&packet, 0);          // Timeout
  Put16Le(&packet, 0);          // Reserved2
  Put16Le(&packet, 0);          // ParameterCount
  Put16Le(&packet, 0);          // ParameterOffset
  Put16Le(&packet, dataCount);
  Put16Le(&packet, dataOffset);
  packet.push_back(3);  // SetupCount
  packet.push_back(0);  // Reserved3
  Put16Le(&packet, kMailslotWrite);
  Put16Le(&packet, 0);  // priority
  Put16Le(&packet, kSecondClass);
  Put16Le(&packet, static_cast<uint16_t>(nameBytes + dataCount));  // ByteCount
  packet.insert(packet.end(), d.mailslot.begin(), d.mailslot.end());
  packet.push_back(0);
  packet.insert(packet.end(), d.data.begin(), d.data.end());

  Set16Be(&packet, 10, static_cast<uint16_t>(packet.size() - kDatagramHeaderSize));
  *out = std::move(packet);
  return Status::Ok();
}

Status DecodeDatagramPacket(const uint8_t* packet, size_t size, DatagramPacket* out) {
  if (size < kErrorDatagramSize - 1) return Status::Fail("datagram shorter than its header");
  DatagramPacket d;
  d.type = packet[0];
  d.flags = packet[1];
  d.id = Get16Be(packet + 2);
  d.sourceIp = Get32Be(packet + 4);
  d.sourcePort = Get16Be(packet + 8);
  if (d.type == kDatagramError) {
    if (size != kErrorDatagramSize) return Status::Fail("error datagram is not 11 bytes");
    d.errorCode = packet[10];
    *out = std::move(d);
    return Status::Ok();
  }
  if (d.type < kDirectUnique || d.type > kBroadcast) return Status::Fail("unknown datagram type");
  if (size < kDatagramHeaderSize) return Status::Fail("datagram shorter than its header");
  if ((d.flags & kFlagMore) != 0 || Get16Be(packet + 12) != 0) {
    return Status::Fail("fragmented datagram");
  }
  size_t length = Get16Be(packet + 10);
  if (kDatagramHeaderSize + length > size) return Status::Fail("DGM_LENGTH beyond the packet");
  // DGM_LENGTH bounds everything below; bytes after it are not ours.
  size_t end = kDatagramHeaderSize + length;
  size_t at = kDatagramHeaderSize;
  Status status = DecodeName(packet, end, at, false, &d.mailslot.source, &at);
  if (status) status = DecodeName(packet, end, at, false, &d.mailslot.destination, &at);
  if (!status) return status;
  if (d.mailslot.source.name == "*") return Status::Fail("wildcard source name");
  status = DecodeSmb(packet + at, end - at, &d.mailslot);
  if (!status) return status;
  d.mailslot.type = d.type;
  d.mailslot.flags = d.flags;
  d.mailslot.id = d.id;
  d.mailslot.sourceIp = d.sourceIp;
  d.mailslot.sourcePort = d.sourcePort;
  *out = std::move(d);
  return Status::Ok();
}

}  // namespace vask::bridge
