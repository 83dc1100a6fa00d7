#include "protocol/presence.h"

#include "base/host_api.h"
#include "transport/datagram.h"
#include "transport/datagram_room.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

// The second "STATUS" argument, a constant of the protocol (2 to the 21st).
constexpr char kStatusMark[] = "2097152";
constexpr char kCommandStatus[] = "STATUS";

}  // namespace

void SendStatus(std::string target) {
  LanEngine& engine = Engine();
  std::string body = std::to_string(engine.Status());
  body.push_back('\0');
  body += kStatusMark;
  body.push_back('\0');
  // The description is cut so that the datagram fits in one write between
  // computers: a long one then arrives shorter instead of not at all.
  const size_t room = BodyRoom(target, kCommandStatus);
  const std::string description = engine.StatusInfo();
  body += description.substr(0, room > body.size() ? room - body.size() : 0);
  engine.SendPacket(target, kCommandStatus, body);
}

void HandleGetStatus(const DatagramFields& fields) { SendStatus(fields[1]); }

namespace {

// What a "STATUS" from the contact in `row` shows: the status number, the
// protocol's mark (field 5) and the description.
void ShowStatus(int row, int32_t status, const std::string& mark, const std::string& description) {
  if (status != kStatusOffline) {
    SetContactText(row, kColumnPresent, "Vask");
    SetContactText(row, kColumnStatusMark, mark.c_str());
  } else {
    SetContactText(row, kColumnPresent, "");
    SetContactInt(row, kColumnStatusMark, 0);
  }
  // Only the low byte of the column is the status; a number above 255 is
  // therefore always a change.
  const bool changed = (GetContactInt(row, kColumnStatus) & kStatusNumberMask) != status ||
                       GetContactText(row, kColumnStatusInfo) != description;
  if (changed) {
    SendHost(kMsgContactStatus, row, status, description.c_str());
    SendHost(kMsgStatusChanged, row, 0);
  }
  SendHost(kMsgContactChanged, row, 0);
}

}  // namespace

void HandleStatus(const DatagramFields& fields, int row) {
  const int32_t status = AtoiField(fields[4]);
  const std::string description = fields.size() >= 7 ? fields[6] : std::string();
  ShowStatus(row, status, fields[5], description);
}

void ShowOffline(int row) { ShowStatus(row, kStatusOffline, std::string(), std::string()); }

void HandlePing(const DatagramFields& fields) { Engine().SendPacket(fields[1], "PONG", ""); }

int OnContactReported(int row) {
  if (GetContactInt(row, kColumnNet) != NET_LAN) return 0;
  const std::string id = GetContactText(row, kColumnId);
  SendStatus(id);
  Engine().SendPacket(id, "GETSTATUS", "");
  return 0;
}

}  // namespace vask
