// Interface actions (kMsgAction) and the cloak chat command (kMsgChatCommand).
#include "shell/actions.h"

#include <cstring>
#include <string>

#include "base/host_api.h"
#include "base/log.h"
#include "shell/own_status.h"
#include "transport/lan_engine.h"
#include "win32.h"

namespace vask {

namespace {

constexpr int kSetBit = -1;
constexpr int kClearBit = 0;

constexpr char kRefreshText[] =
    "Wyszukiwanie kontaktów działa już standardowo.\r\n"
    "Ta opcja odświeży informacje o wszystkich kontaktach...";
constexpr char kCommand[] = "/vask cloak";
constexpr size_t kCommandLength = sizeof kCommand - 1;
constexpr char kSetWord[] = " set";
constexpr size_t kSetLength = sizeof kSetWord - 1;

int StatusOnActivate(int code, int status) {
  if (code == kActionActivated) SetOwnStatus(status, nullptr);
  return 0;
}

int RefreshAllContacts() {
  SendHost(kMsgInfoBox, kRefreshText, 0, "Vask", 0);
  Engine().SendPacket("^", "SEARCH", std::string());
  return 1;
}

int OpenHelp() {
  // The host's folder is expected to end in a separator; nothing is added.
  const std::string path = GetTextSetting(kSettingHostFolder) + "doc/Vask.html";
  ShellExecuteA(nullptr, "open", path.c_str(), "", "", SW_SHOW);
  return 1;
}

// kItemRefreshOwn is offered only on the user's own entry while the engine
// runs.
void OfferPublish(const ActionRef& ref) {
  HostControl* host = Host();
  const bool withdraw =
      !Engine().Running() ||
      (host != nullptr && host->RowIndex(kTableContacts, ref.contact) != kOwnEntry);
  SetItemStatus(ref, withdraw ? kSetBit : kClearBit, kItemStatusWithdrawn);
}

// kItemRefreshContact is offered only on a LAN contact while the engine
// runs.
void OfferFetch(const ActionRef& ref) {
  bool offer = false;
  if (Engine().Running()) {
    // The item shows the contact's network number as text.
    const char* net =
        ReadItemText(ActionRef{kContactWindowItemBase + kColumnNet, kParentNetworks, ref.contact});
    offer = net != nullptr && std::to_string(NET_LAN) == net;
  }
  SetItemStatus(ref, offer ? kClearBit : kSetBit, kItemStatusWithdrawn);
}

std::string ComputerName() {
  char name[200] = {};  // not a host number: the name's buffer
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) name[0] = '\0';
  name[sizeof name - 1] = '\0';
  return name;
}

}  // namespace

int HandleAction(const ActionEvent* event) {
  if (event == nullptr) return 0;
  const ActionRef& ref = event->ref;
  if ((static_cast<uint32_t>(ref.id) >> 24) == kForeignItemTopByte) return 0;
  const int code = event->code;
  switch (ref.id) {
    case kItemStatusAvailable:
      return StatusOnActivate(code, kStatusAvailable);
    case kItemStatusBrb:
      return StatusOnActivate(code, kStatusBrb);
    case kItemStatusDnd:
      return StatusOnActivate(code, kStatusDnd);
    case kItemStatusOffline:
      return StatusOnActivate(code, kStatusOffline);
    case kItemRefreshAll:
      return code == kActionActivated ? RefreshAllContacts() : 0;
    case kItemHelp:
      return code == kActionActivated ? OpenHelp() : 0;
    case kItemRefreshOwn:
      if (code == kActionShowing) OfferPublish(ref);
      if (code == kActionActivated) SendPlugin(0, kMsgPublishDetails, ref.contact, 1);
      return 0;
    case kItemRefreshContact:
      if (code == kActionShowing) OfferFetch(ref);
      if (code == kActionActivated) {
        SendPlugin(0, kMsgFetchDetails, ref.contact, 1);
        SendHost(kMsgDetailsAsked, ref.contact, 0);
      }
      return 0;
    default:
      return 0;
  }
}

int HandleCloak(const MessageRecord* message) {
  if (message == nullptr || message->type != kMessageTypeChat ||
      (message->flags & kMessageFlagCommand) == 0) {
    return kChatNotACommand;
  }
  const char* body = message->body;
  if (body == nullptr || std::strncmp(body, kCommand, kCommandLength) != 0) {
    return kChatOtherCommand;
  }
  const char* rest = body + kCommandLength;
  if (std::strncmp(rest, kSetWord, kSetLength) == 0) {
    const char* name = rest + kSetLength;
    // The rest is the name as typed: a separating blank stays in it.
    const std::string cloak = *name != '\0' ? std::string(name) : ComputerName();
    Engine().SetCloakName(cloak);
    Log(" - VASK cloak set to %s", cloak.c_str());
  } else {
    const std::string text = "Messenger cloak name - " + Engine().CloakName();
    SendHost(kMsgInfoBox, text.c_str(), 0);
  }
  return kChatCommandDone;
}

}  // namespace vask
