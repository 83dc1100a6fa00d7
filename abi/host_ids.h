// The host's numbers, named once: message ids, tables, settings and contact
// columns, interface parents, status numbers, and the plug-in's own settings
// columns and interface items. The plug-in, the stand-in host, the tests,
// the benchmarks and the fuzz targets all use these names; a bare host
// number elsewhere is rare enough to carry a comment.
//
// What a number means to the host is the host's matter; a name here says
// what the plug-in uses it for.
#pragma once

#include <cstdint>

namespace vask {

// ---- Host messages the host sends the plug-in (IMessageProc) --------------

inline constexpr int32_t kMsgSetControl = 20001;         // p1 = the control object
inline constexpr int32_t kMsgInitialised = 20002;        // answered kAnswerDone
inline constexpr int32_t kMsgInterfaceVersion = 20020;   // answered kAnswerInterfaceVersion
inline constexpr int32_t kMsgPluginFlags = 20021;        // answered kAnswerPluginFlags
inline constexpr int32_t kMsgChatCommand = 20100;        // p1 = MessageRecord: the cloak command
inline constexpr int32_t kMsgMessageLimit = 20105;       // answered kAnswerMessageLimit
inline constexpr int32_t kMsgRegisterSettings = 21001;   // declare the settings columns
inline constexpr int32_t kMsgSettingsChanged = 21020;    // re-read the list-only setting
inline constexpr int32_t kMsgRegisterInterface = 22000;  // icons and interface items
inline constexpr int32_t kMsgStart = 22100;              // the plug-in starts
inline constexpr int32_t kMsgShutdown = 22101;           // the plug-in ends
inline constexpr int32_t kMsgAction = 22200;             // p1 = ActionEvent
inline constexpr int32_t kMsgContactReported = 24003;    // p1 = contact id
inline constexpr int32_t kMsgSearch = 24010;             // p1 = FoundContact request
inline constexpr int32_t kMsgNetworkId = 30010;          // answered NET_LAN
inline constexpr int32_t kMsgNetworkFlags = 30011;       // answered kAnswerNetworkFlags
inline constexpr int32_t kMsgShortName = 30013;          // "Vask"
inline constexpr int32_t kMsgDisplayName = 30016;        // "V.ask"
inline constexpr int32_t kMsgNetworkName = 30017;        // "LAN"
inline constexpr int32_t kMsgNetworkNameAgain = 30025;   // "LAN", the same answer
inline constexpr int32_t kMsgHostWord = 30026;           // "Host"
inline constexpr int32_t kMsgOwnStatus = 30031;          // the own status number
inline constexpr int32_t kMsgOwnStatusInfo = 30032;      // the own status description
inline constexpr int32_t kMsgOwnId = 30033;              // the computer name
inline constexpr int32_t kMsgSendMessage = 30100;        // p1 = MessageRecord: answered 8
inline constexpr int32_t kMsgAutoAwayBegin = 33002;
inline constexpr int32_t kMsgAutoAwayEnd = 33003;
inline constexpr int32_t kMsgSetStatus = 33005;       // p1 = status, p2 = description
inline constexpr int32_t kMsgPublishDetails = 34000;  // p1 = contact id (0: own)
inline constexpr int32_t kMsgFetchDetails = 34001;    // p1 = contact id, p2 = from window
inline constexpr int32_t kMsgBusSubscribe = 55000;    // BusSubscribeRecord
inline constexpr int32_t kMsgBusSend = 55001;         // BusSendRecord

// ---- Records the plug-in sends to subscribed plug-ins ----------------------

inline constexpr int32_t kMsgBusSent = 55002;      // BusSentRecord
inline constexpr int32_t kMsgBusReceived = 55003;  // BusReceivedRecord
inline constexpr int32_t kMsgBusEngine = 55004;    // BusEngineRecord

// ---- Host messages the plug-in sends the host ------------------------------

inline constexpr int32_t kMsgLog = 1;                     // p1 = text, p2 = level
inline constexpr int32_t kMsgShowMessage = 100;           // p1 = MessageRecord
inline constexpr int32_t kMsgQueryMessages = 101;         // p1 = MessageQuery
inline constexpr int32_t kMsgSendResult = 108;            // p1 = message id, p2 = 1 sent / 0 not
inline constexpr int32_t kMsgFindContact = 200;           // p1 = net, p2 = address: row or -1
inline constexpr int32_t kMsgContactCount = 201;          // rows of the contact table
inline constexpr int32_t kMsgDetailsWritten = 232;        // p1 = contact id
inline constexpr int32_t kMsgContactStatus = 234;         // p1 = row, p2 = status, p3 = text
inline constexpr int32_t kMsgAnnounceStatus = 246;        // p2 = status or -1, p3 = text
inline constexpr int32_t kMsgIsIgnored = 310;             // p1 = net, p2 = address: non-zero
inline constexpr int32_t kMsgDefineColumn = 1102;         // ColumnDef
inline constexpr int32_t kMsgAddItem = 10101;             // p1 = ActionInfo
inline constexpr int32_t kMsgReadItemText = 10106;        // p1 = ActionInfo: the text
inline constexpr int32_t kMsgSetItemStatus = 10108;       // p1 = ActionInfo
inline constexpr int32_t kMsgSetItemText = 10110;         // p1 = ActionInfo
inline constexpr int32_t kMsgItemExists = 10117;          // p1 = ActionRef: non-zero
inline constexpr int32_t kMsgItemParent = 10118;          // p1 = ActionRef: the parent id
inline constexpr int32_t kMsgRegisterIcon = 10130;        // p1 = IconRecord
inline constexpr int32_t kMsgErrorBox = 10201;            // p1 = text
inline constexpr int32_t kMsgInfoBox = 10204;             // p1 = text (p3 = title)
inline constexpr int32_t kMsgSearchNoticeShow = 10209;    // p1 = SearchStatusRecord
inline constexpr int32_t kMsgSearchNoticeHide = 10210;    // p1 = SearchStatusRecord
inline constexpr int32_t kMsgContactChanged = 11013;      // p1 = row
inline constexpr int32_t kMsgContactWentOffline = 11014;  // p1 = row, at engine stop
inline constexpr int32_t kMsgDetailsAsked = 11016;        // p1 = row
inline constexpr int32_t kMsgStatusChanged = 12000;       // p1 = row
inline constexpr int32_t kMsgAllWentOffline = 12001;      // after the engine stop's sweep
inline constexpr int32_t kMsgFoundContact = 14000;        // p1 = FoundContact

// ---- Answers to host messages ----------------------------------------------

// What each means to the host is the host's; the plug-in answers exactly these.
inline constexpr int32_t kAnswerDone = 1;               // the message was acted on
inline constexpr int32_t kAnswerInterfaceVersion = 2;   // kMsgInterfaceVersion
inline constexpr int32_t kAnswerPluginFlags = 64;       // kMsgPluginFlags
inline constexpr int32_t kAnswerMessageLimit = 100000;  // kMsgMessageLimit
inline constexpr int32_t kAnswerNetworkFlags = 511;     // kMsgNetworkFlags: the nine low bits
inline constexpr int32_t kAnswerSendMessage = 8;        // kMsgSendMessage, whatever the send did
// kMsgChatCommand: not a chat message typed as a command; a command, but not
// ours; the cloak command, carried out.
inline constexpr int32_t kChatNotACommand = 0;
inline constexpr int32_t kChatOtherCommand = 1;
inline constexpr int32_t kChatCommandDone = 2;

// ---- The log (kMsgLog) -----------------------------------------------------

inline constexpr int kLogLevel = 256;  // p2 of a plain log line

// ---- Head fields -------------------------------------------------------------

// The receiver of kMsgContactCount and kMsgAllWentOffline when the engine
// stops, and of the bus records the plug-in offers to its subscribers.
inline constexpr int32_t kReceiverAny = -1;

// ---- Error codes (HostControl::SetError) ------------------------------------

// A message the plug-in does not handle, or a request it refuses.
inline constexpr int kErrorRefused = 1;

// ---- Tables ----------------------------------------------------------------

inline constexpr int kTableSettings = 0;  // row 0
inline constexpr int kTableContacts = 1;  // row = contact id; row 0 is the own entry
inline constexpr int kOwnEntry = 0;       // the row (and contact id) of the user's own entry

// ---- Settings columns (table 0) --------------------------------------------

inline constexpr int kSettingHostFolder = 3;         // the host's folder: help opens below it
inline constexpr int kSettingRestoreStatus = 11;     // the host's own: restore the last status
inline constexpr int kSettingNotices = 186;          // the host's own: delivery notices on
inline constexpr int kSettingLastStatus = 15000;     // "Vask/Status"
inline constexpr int kSettingOnlyListed = 15001;     // talk only with listed computers
inline constexpr int kSettingChannel = 15002;        // the channel (mailslot) name
inline constexpr int kSettingWinPopup = 15003;       // WinPopup emulation
inline constexpr int kSettingStatusInfo = 15004;     // "Vask/StatusInfo"
inline constexpr int kSettingResend = 15005;         // send unacknowledged messages again
inline constexpr int kSettingUnanswered = 15006;     // the unacknowledged messages, as text
inline constexpr int kSettingMessageNumber = 15007;  // the last message number taken
inline constexpr int kSettingSequence = 15008;       // the datagram counter, saved now and then
inline constexpr int kSettingTransport = 15009;      // the ways datagrams go: mailslots, UDP, both

// ---- Contact columns (table 1) ---------------------------------------------

inline constexpr int kColumnId = 0;      // the address: the computer name
inline constexpr int kColumnNet = 1;     // the network; NET_LAN for ours
inline constexpr int kColumnStatus = 2;  // low byte the status, then flags
inline constexpr int kColumnFirstName = 6;
inline constexpr int kColumnLastName = 7;
inline constexpr int kColumnNick = 8;
inline constexpr int kColumnCity = 9;
inline constexpr int kColumnQueryCity = 10;  // a query's fourth criterion is matched here
inline constexpr int kColumnEmail = 11;
inline constexpr int kColumnPresent = 15;      // "Vask" while present, else ""
inline constexpr int kColumnDescription = 17;  // free text; the walk's "comment (name)"
inline constexpr int kColumnStatusInfo = 18;   // the status description
inline constexpr int kColumnBirth = 19;        // the year in the upper 16 bits
inline constexpr int kColumnGender = 20;       // 1 female, 2 male
inline constexpr int kColumnStatusMark = 28;   // the second "STATUS" field while present

// The birth column holds the year above this many low bits.
inline constexpr int kBirthYearShift = 16;

// The status column's low byte: the status number; the bits above are flags.
inline constexpr int32_t kStatusNumberMask = 0xFF;
// Flag of the status column: the user ignores this contact.
inline constexpr int32_t kStatusIgnoredFlag = 0x400;

// ---- Status numbers --------------------------------------------------------

inline constexpr int kStatusOffline = 0;
inline constexpr int kStatusDnd = 34;
inline constexpr int kStatusAvailable = 64;
inline constexpr int kStatusBrb = 65;
inline constexpr int kStatusAway = 68;  // set only by auto-away

// ---- Interface parents of the host -----------------------------------------

inline constexpr int kParentSettings = 43;         // the settings pages
inline constexpr int kParentStatus = 50;           // the status menu
inline constexpr int kParentDetailsWindow = 70;    // the contact window's details item
inline constexpr int kParentWindowRoot = 71;       // the contact window's root
inline constexpr int kParentOwnDetails = 400;      // actions of the own entry
inline constexpr int kParentContactDetails = 402;  // actions of a contact
inline constexpr int kParentNetworks = 410;        // the network's item in the host

// ---- Interface items: styles, status bits, contact-window fields -----------

inline constexpr int32_t kItemStyleGroup = 0x10;    // the item heads a group of items
inline constexpr int32_t kItemStatusWithdrawn = 1;  // status bit: not offered for now
// The style of the two contact actions (kItemRefreshOwn, kItemRefreshContact).
inline constexpr int32_t kItemStyleContactAction = 0x1000000;
// An item whose action id has this top byte is another plug-in's.
inline constexpr uint32_t kForeignItemTopByte = 0x11;
// The contact of an ActionRef that is not tied to a contact.
inline constexpr int32_t kNoContact = -2;
// The contact of the contact-window parent query (kMsgItemParent): whichever
// contact window is open.
inline constexpr int32_t kAnyContactWindow = -2;
// The field of a contact window that shows contact column c is item
// kContactWindowItemBase + c; the range ends before kContactWindowItemEnd.
inline constexpr int32_t kContactWindowItemBase = 0x13000000;
inline constexpr int32_t kContactWindowItemEnd = 0x14000000;

// ---- Settings-page controls (items under kItemSettingsGroup) ---------------

// A control's style: its kind in bits 16 to 23, and below them options whose
// meaning is the host's (the plug-in sends them as they are).
inline constexpr int kControlKindShift = 16;
inline constexpr int32_t kControlKindMask = 0xFF;
constexpr int32_t ControlStyle(int32_t kind, int32_t options = 0) {
  return (kind << kControlKindShift) | options;
}
constexpr int32_t ControlKindOf(int32_t style) {
  return (style >> kControlKindShift) & kControlKindMask;
}

inline constexpr int32_t kControlCheckBox = 0x06;  // bound to an integer setting
inline constexpr int32_t kControlText = 0x08;      // a text of several lines
inline constexpr int32_t kControlLabel = 0x09;     // the label of the field before it
inline constexpr int32_t kControlButton = 0x0E;
inline constexpr int32_t kControlHeading = 0x0F;  // a heading; an empty one opens a group
inline constexpr int32_t kControlBreak = 0x10;    // ends a group
inline constexpr int32_t kControlPicture = 0x11;  // its text is the picture's address
inline constexpr int32_t kControlField = 0x16;    // a text field bound to a text setting

// The settings page's controls as the plug-in declares them.
inline constexpr int32_t kStylePicture = ControlStyle(kControlPicture, 0x40);
inline constexpr int32_t kStyleAboutText = ControlStyle(kControlText, 0x1180);
inline constexpr int32_t kStyleHeading = ControlStyle(kControlHeading);
inline constexpr int32_t kStyleHelpButton = ControlStyle(kControlButton, 0x180);
inline constexpr int32_t kStyleBreak = ControlStyle(kControlBreak);
inline constexpr int32_t kStyleCheckBox = ControlStyle(kControlCheckBox);
inline constexpr int32_t kStyleChannelField = ControlStyle(kControlField, 0x40);
inline constexpr int32_t kStyleLabel = ControlStyle(kControlLabel);

// ---- Message records (MessageRecord) ---------------------------------------

inline constexpr int32_t kMessageTypeChat = 1;     // a chat message (type)
inline constexpr int32_t kMessageTypeNotice = 2;   // a notice of the plug-in to its user (type)
inline constexpr int32_t kMessageFlagCommand = 2;  // flags: typed in the chat window as a command
// Every record the plug-in hands the host: its flags, and the field at 42.
inline constexpr int32_t kMessageFlagsLan = 128;
inline constexpr int32_t kMessageField42 = -2;

// ---- Searches (FoundContact, SearchStatusRecord) ----------------------------

// A search request's status: 0 asks for the walk of the network
// neighbourhood, anything else for a query sent to every computer.
inline constexpr int32_t kSearchWalk = 0;
inline constexpr int32_t kSearchQuery = 1;
// A request's gender, and a contact's (kColumnGender).
inline constexpr int32_t kGenderFemale = 1;
inline constexpr int32_t kGenderMale = 2;
// The search notice: its style and the reserved field at 22.
inline constexpr int32_t kSearchNoticeStyle = 514;
inline constexpr int32_t kSearchNoticeReserved22 = -1;

// ---- The plug-in's own interface items -------------------------------------

inline constexpr int kItemSettingsGroup = 15000;  // the settings page
inline constexpr int kItemRefreshAll = 15001;     // ask every contact for its status
inline constexpr int kItemHelp = 15002;           // the help button ("POMOC")
inline constexpr int kItemStatusOffline = 15100;  // also the status menu's group
inline constexpr int kItemStatusAvailable = 15101;
inline constexpr int kItemStatusBrb = 15102;
inline constexpr int kItemStatusDnd = 15103;
inline constexpr int kItemRefreshOwn = 15120;      // own entry: publish the own details
inline constexpr int kItemRefreshContact = 15121;  // a contact: fetch its details

// ---- The plug-in's icons (registered with kMsgRegisterIcon) ----------------

// Network 15 in bits 20 to 27; the host knows each icon by this id.
inline constexpr int32_t kIconPlugin = 0x20F00000;
inline constexpr int32_t kIconSmall = 0x30F00000;  // the 8x8 picture
inline constexpr int32_t kIconOffline = 0x40F00000;
inline constexpr int32_t kIconDnd = 0x40F00220;
inline constexpr int32_t kIconAvailable = 0x40F00400;
inline constexpr int32_t kIconBrb = 0x40F00410;
inline constexpr int32_t kIconAway = 0x40F00440;
inline constexpr int32_t kIconMessage = 0x50F00010;  // a received message
// A status's icon: kIconOffline + kStatusIconStep * the status number.
inline constexpr int32_t kStatusIconStep = 16;
static_assert(kIconDnd == kIconOffline + kStatusIconStep * kStatusDnd &&
              kIconAvailable == kIconOffline + kStatusIconStep * kStatusAvailable &&
              kIconBrb == kIconOffline + kStatusIconStep * kStatusBrb &&
              kIconAway == kIconOffline + kStatusIconStep * kStatusAway);
inline constexpr int32_t kIconKindIcon = 1;
inline constexpr int32_t kIconKindSmall = 256;

// The icon groups of the library's resources behind them (resources/), and
// the settings page's picture.
inline constexpr int kResourceAvailable = 101;
inline constexpr int kResourceOffline = 102;
inline constexpr int kResourceBrb = 103;
inline constexpr int kResourceDnd = 104;
inline constexpr int kResourceAway = 105;
inline constexpr int kResourceMessage = 110;
inline constexpr int kResourcePicture = 111;
// The settings page's picture (kControlPicture): icon group kResourcePicture.
inline constexpr char kPictureAddress[] = "res://dll/111.ico";
inline constexpr int kResourcePlugin = 120;
inline constexpr int kResourceSmall = 121;

}  // namespace vask
