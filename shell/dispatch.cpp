// The dispatch of host messages: constant answers, identity, the control
// object, and the hand-over to each message's handler.
#include "shell/dispatch.h"

#include <cstring>
#include <string>

#include "base/host_api.h"
#include "protocol/outgoing_messages.h"
#include "protocol/presence.h"
#include "search/search_replies.h"
#include "search/search_run.h"
#include "shell/actions.h"
#include "shell/own_status.h"
#include "shell/registration.h"
#include "transport/extension_bus.h"
#include "transport/lan_engine.h"
#include "win32.h"

namespace vask {

namespace {

// Texts returned to the host must outlive the call: constants of the
// library.
constexpr char kShortName[] = "Vask";
constexpr char kDisplayName[] = "V.ask";
constexpr char kNetName[] = "LAN";
constexpr char kKind[] = "Host";
constexpr int kComputerNameBuffer = 250;

intptr_t Constant(const char* text) { return reinterpret_cast<intptr_t>(text); }

// Unknown messages, and requests a handler refuses: the host is told by the
// error code kErrorRefused (when it has handed over its control object
// yet).
intptr_t NotHandled() {
  if (HostControl* host = Host()) host->SetError(kErrorRefused);
  return 0;
}

intptr_t StatusInfoCopy() {
  HostControl* host = Host();
  if (host == nullptr) return 0;
  const std::string text = Engine().StatusInfo();
  char* buffer = host->TempBuffer(static_cast<int>(text.size() + 1));
  if (buffer == nullptr) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return reinterpret_cast<intptr_t>(buffer);
}

intptr_t ComputerName() {
  HostControl* host = Host();
  if (host == nullptr) return 0;
  char* buffer = host->TempBuffer(kComputerNameBuffer);
  if (buffer == nullptr) return 0;
  buffer[0] = '\0';
  DWORD size = kComputerNameBuffer;
  if (!GetComputerNameA(buffer, &size)) {
    buffer[0] = '\0';
    return 0;
  }
  return reinterpret_cast<intptr_t>(buffer);
}

}  // namespace

intptr_t Dispatch(HostMessage* message) {
  // The bus records have layouts of their own, longer than the common
  // record (or, for a subscription, ending before its p2): their handlers
  // check the size and read nothing the size does not cover. Every other
  // message's parameters are read as they stand, so that a host that sizes
  // an ordinary record loosely still reaches its handler.
  switch (message->id) {
    case kMsgBusSubscribe:
      return HandleBusSubscribe(message);
    case kMsgBusSend:
      return HandleBusSend(message);
    default:
      break;
  }
  const intptr_t p1 = message->p1;
  const intptr_t p2 = message->p2;
  switch (message->id) {
    case kMsgSetControl:
      SetHost(reinterpret_cast<HostControl*>(p1));
      return kAnswerDone;
    case kMsgInitialised:
      return kAnswerDone;
    case kMsgInterfaceVersion:
      return kAnswerInterfaceVersion;
    case kMsgPluginFlags:
      return kAnswerPluginFlags;
    case kMsgChatCommand:
      return HandleCloak(reinterpret_cast<const MessageRecord*>(p1));
    case kMsgMessageLimit:
      return kAnswerMessageLimit;
    case kMsgRegisterSettings:
      RegisterSettings();
      return kAnswerDone;
    case kMsgSettingsChanged:
      RefreshOnlyListed();
      return 0;
    case kMsgRegisterInterface:
      RegisterInterface();
      return kAnswerDone;
    case kMsgStart:
      StartPlugin();
      return kAnswerDone;
    case kMsgShutdown:
      ShutdownPlugin();
      return kAnswerDone;
    case kMsgAction:
      return HandleAction(reinterpret_cast<const ActionEvent*>(p1));
    case kMsgContactReported:
      OnContactReported(static_cast<int>(p1));
      return 0;
    case kMsgSearch:
      StartSearch(reinterpret_cast<FoundContact*>(p1));
      return 0;
    case kMsgNetworkId:
      return NET_LAN;
    case kMsgNetworkFlags:
      return kAnswerNetworkFlags;
    case kMsgShortName:
      return Constant(kShortName);
    case kMsgDisplayName:
      return Constant(kDisplayName);
    case kMsgNetworkName:
    case kMsgNetworkNameAgain:
      return Constant(kNetName);
    case kMsgHostWord:
      return Constant(kKind);
    case kMsgOwnStatus:
      return Engine().Status();
    case kMsgOwnStatusInfo:
      return StatusInfoCopy();
    case kMsgOwnId:
      return ComputerName();
    case kMsgSendMessage:
      return StartSendMessage(reinterpret_cast<const MessageRecord*>(p1));
    case kMsgAutoAwayBegin:
      AutoAwayBegin();
      return 0;
    case kMsgAutoAwayEnd:
      AutoAwayEnd();
      return 0;
    case kMsgSetStatus:
      SetOwnStatus(static_cast<int>(p1), reinterpret_cast<const char*>(p2));
      return kAnswerDone;
    // Both set the error code kErrorRefused themselves when they refuse.
    case kMsgPublishDetails:
      return PublishOwnDetails(static_cast<int>(p1));
    case kMsgFetchDetails:
      return RequestContactDetails(static_cast<int>(p1), p2 != 0);
    default:
      return NotHandled();
  }
}

}  // namespace vask
