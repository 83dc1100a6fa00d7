// Search replies and contact details: the "SEARCHREPLY" datagram, what a
// received one becomes in the host, and host messages kMsgPublishDetails and kMsgFetchDetails.
#include "search/search_replies.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/host_api.h"
#include "transport/datagram_room.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

// The own columns a reply carries, in the order of its fields 5 to 10.
constexpr int kReplyColumns[] = {kColumnNick,        kColumnFirstName, kColumnLastName,
                                 kColumnDescription, kColumnCity,      kColumnEmail};

// kMsgItemExists asks about this item before a details window is written.
constexpr ActionRef kDetailsWindowRef{kParentDetailsWindow, 0, 0};

// Copies a text into a record field, cut so the field always ends with NUL.
template <size_t N>
void CopyField(char (&field)[N], const std::string& text) {
  const size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

// The refusal of kMsgPublishDetails and kMsgFetchDetails.
void Refuse() {
  if (HostControl* host = Host()) host->SetError(kErrorRefused);
}

bool IsOwnEntry(int contact) {
  HostControl* host = Host();
  return host && host->RowIndex(kTableContacts, contact) == kOwnEntry;
}

void AddSearchResult(const DatagramFields& fields) {
  FoundContact found{};
  found.size = sizeof(FoundContact);
  found.status = fields[4] == "1" ? kStatusOffline : kStatusAvailable;
  CopyField(found.uid, fields[1]);
  CopyField(found.column6, fields[6]);
  CopyField(found.column7, fields[7]);
  CopyField(found.column17, fields[8]);
  CopyField(found.column9, fields[9]);
  CopyField(found.column11, fields[10]);
  found.net = NET_LAN;
  SendHost(kMsgFoundContact, &found, 0);
}

void FillDetailsWindow(int contact, const DatagramFields& fields) {
  ActionRef ref = kDetailsWindowRef;
  ref.contact = contact;
  if (SendHost(kMsgItemExists, &ref) == 0) return;  // no window open
  for (size_t i = 0; i < std::size(kReplyColumns); ++i) {
    WriteContactField(false, contact, kReplyColumns[i], fields[5 + i]);
  }
  SendHost(kMsgDetailsWritten, contact, 0);
}

}  // namespace

void SendSearchReply(const std::string& target, const std::string& firstField) {
  // Own details that add up past what one write between computers carries
  // are cut, the longest first, so that the reply arrives with shorter
  // texts rather than not at all.
  constexpr char kCommand[] = "SEARCHREPLY";
  const size_t nuls = std::size(kReplyColumns) + 1;
  const size_t room = BodyRoom(target, kCommand);
  const size_t textRoom = room > nuls ? room - nuls : 0;
  const std::string first = firstField.substr(0, textRoom);
  std::vector<std::string> columns;
  for (int column : kReplyColumns) columns.push_back(GetContactText(kOwnEntry, column));
  CutToFit(columns, textRoom - first.size());
  // Every field is followed by NUL; with the datagram's own final NUL the
  // reply reads as 12 fields, the last one empty.
  std::string body = first;
  body += '\0';
  for (const std::string& text : columns) {
    body += text;
    body += '\0';
  }
  Engine().SendPacket(target, kCommand, body);
}

void HandleSearchReply(int row, const DatagramFields& fields) {
  if (fields.size() < 11) return;  // the receive loop drops these first
  const std::string& first = fields[4];
  if (Engine().Searching()) {
    // During a query every answer is a result, contact or not; "0" is a
    // published details announcement and no answer to the query.
    if (first != "0") AddSearchResult(fields);
    return;
  }
  if (row == -1 || first != "1") return;
  FillDetailsWindow(row, fields);
}

int RequestContactDetails(int contact, bool fromWindow) {
  if (!Host()) return 0;
  if (IsOwnEntry(contact)) {
    Refuse();
    return 0;
  }
  if (std::atoi(ReadContactField(fromWindow, contact, kColumnNet).c_str()) != NET_LAN) {
    Refuse();
    return 0;
  }
  const std::string computer = ReadContactField(fromWindow, contact, kColumnId);
  if (computer.empty()) {
    // A datagram to no name would go nowhere (or to a slot path of our own
    // making); refuse as for any contact that cannot be asked.
    Refuse();
    return 0;
  }
  // A bare "SEARCH": the peer answers with first field "1".
  Engine().SendPacket(computer, "SEARCH", std::string());
  return 0;
}

int PublishOwnDetails(int contact) {
  if (!Host()) return 0;
  Refuse();  // set whatever follows
  if (!IsOwnEntry(contact)) {
    Refuse();
    return 0;
  }
  SendSearchReply("*", "0");
  return 0;
}

}  // namespace vask
