// Settings columns, icons and interface items; the start and the shutdown.
#include "shell/registration.h"

#include "base/host_api.h"
#include "base/log.h"
#include "protocol/outgoing_messages.h"
#include "shell/own_status.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

constexpr char kPluginName[] = "Vask";
constexpr char kAboutText[] =
    "\r\nV.ask LAN messenger 0.1\r\n"
    " Wiadomości, obecność i wyszukiwanie w sieci lokalnej, bez serwera";

}  // namespace

std::string ChannelLabel() {
  std::string label = kPluginName;
  label += '\x03';
  label += FormatNumber(kIconPlugin, 10, 0, true);
  label += '\x01';
  label += "Możesz się komunikować z osobami o IDENTYCZNYM ustawieniu!";
  return label;
}

void RegisterSettings() {
  static const char kEmpty[] = "";
  static const char kBoth[] = "oba";
  DefineColumn(kTableSettings, kSettingLastStatus, kColumnInt, kStatusAvailable, "Vask/Status");
  DefineColumn(kTableSettings, kSettingStatusInfo, kColumnText, reinterpret_cast<intptr_t>(kEmpty),
               "Vask/StatusInfo");
  DefineColumn(kTableSettings, kSettingOnlyListed, kColumnInt, 0, "");
  DefineColumn(kTableSettings, kSettingChannel, kColumnText,
               reinterpret_cast<intptr_t>(kPluginName), "");
  DefineColumn(kTableSettings, kSettingWinPopup, kColumnInt, 1, "");
  // On by default: the copy is the very datagram sent first, which every
  // copy of the plug-in, old ones too, takes as a repeat when it had it.
  DefineColumn(kTableSettings, kSettingResend, kColumnInt, 1, "Vask/Resend");
  // What must outlive the process: the unanswered messages and the counters.
  DefineColumn(kTableSettings, kSettingUnanswered, kColumnText, reinterpret_cast<intptr_t>(kEmpty),
               "Vask/Unanswered");
  DefineColumn(kTableSettings, kSettingMessageNumber, kColumnInt, 0, "Vask/MessageNumber");
  DefineColumn(kTableSettings, kSettingSequence, kColumnInt, 0, "Vask/Sequence");
  // Both by default: copies on older Windows hear the mailslots, copies on
  // Windows without remote mailslots the UDP frames; a copy that gets a
  // broadcast both ways shows it once.
  DefineColumn(kTableSettings, kSettingTransport, kColumnText, reinterpret_cast<intptr_t>(kBoth),
               "Vask/Transport");
}

void RegisterInterface() {
  HostControl* host = Host();
  HMODULE module = host != nullptr ? host->ModuleHandle() : nullptr;
  RegisterIcon(kIconKindIcon, kIconPlugin, module, kResourcePlugin);
  RegisterIcon(kIconKindIcon, kIconAvailable, module, kResourceAvailable);
  RegisterIcon(kIconKindIcon, kIconOffline, module, kResourceOffline);
  RegisterIcon(kIconKindIcon, kIconBrb, module, kResourceBrb);
  RegisterIcon(kIconKindIcon, kIconAway, module, kResourceAway);
  RegisterIcon(kIconKindIcon, kIconDnd, module, kResourceDnd);
  RegisterIcon(kIconKindIcon, kIconMessage, module, kResourceMessage);
  RegisterIcon(kIconKindSmall, kIconSmall, module, kResourceSmall);

  // The status menu.
  AddGroupItem(kParentStatus, kItemStatusOffline, 0, kPluginName, kIconOffline);
  AddItem(kItemStatusOffline, kItemStatusAvailable, 0, "Dostępny", kIconAvailable);
  AddItem(kItemStatusOffline, kItemStatusBrb, 0, "Zaraz wracam", kIconBrb);
  AddItem(kItemStatusOffline, kItemStatusDnd, 0, "Nie przeszkadzać", kIconDnd);
  AddItem(kItemStatusOffline, kItemStatusOffline, 0, "Niedostępny", kIconOffline);
  // The two contact actions beside a contact's details.
  AddItem(kParentOwnDetails, kItemRefreshOwn, kItemStyleContactAction, kPluginName, kIconPlugin);
  AddItem(kParentContactDetails, kItemRefreshContact, kItemStyleContactAction, kPluginName,
          kIconPlugin);
  // The settings page.
  const std::string label = ChannelLabel();
  AddGroupItem(kParentSettings, kItemSettingsGroup, 0, kPluginName, kIconPlugin);
  AddItem(kItemSettingsGroup, 0, kStylePicture, kPictureAddress, 0, 150, 50);
  AddItem(kItemSettingsGroup, 0, kStyleAboutText, kAboutText, 0, 0, 50);
  AddItem(kItemSettingsGroup, 0, kStyleHeading, "", 0);
  AddItemLong(kItemSettingsGroup, kItemHelp, kStyleHelpButton, "POMOC", 0, 40, 40, 0, 0);
  AddItem(kItemSettingsGroup, 0, kStyleBreak, "", 0);
  AddItem(kItemSettingsGroup, 0, kStyleHeading, "Ustawienia", 0);
  AddItem(kItemSettingsGroup, 0, kStyleCheckBox, "Komunikuj się TYLKO z komputerami na liście",
          kSettingOnlyListed);
  AddItem(kItemSettingsGroup, 0, kStyleCheckBox, "Obsługuj WinPopup", kSettingWinPopup);
  AddItem(kItemSettingsGroup, 0, kStyleCheckBox, "Wysyłaj ponownie wiadomości bez potwierdzenia",
          kSettingResend);
  AddItem(kItemSettingsGroup, 0, kStyleChannelField, label.c_str(), kSettingChannel);
  AddItem(kItemSettingsGroup, 0, kStyleLabel, "Nazwa kanału", 0);
  // The same kind of text field as the channel's.
  AddItem(kItemSettingsGroup, 0, kStyleChannelField,
          "Wysyłanie\x01mailsloty, oba albo udp (oba: każdy komputer usłyszy)", kSettingTransport);
  AddItem(kItemSettingsGroup, 0, kStyleLabel, "Wysyłanie (mailsloty / oba / udp)", 0);
  AddItem(kItemSettingsGroup, 0, kStyleBreak, "", 0);
}

void StartPlugin() {
  static const char kEmpty[] = "";
  // Offline until told otherwise; nothing of the answer is read back.
  SendHost(kMsgAnnounceStatus, 0, kStatusOffline, kEmpty);
  RefreshOnlyListed();
  // Before the engine can start: its first datagram goes on counting.
  ReportUnansweredFromLastRun();
  if (GetIntSetting(kSettingRestoreStatus) != 0)
    SetOwnStatus(GetIntSetting(kSettingLastStatus), nullptr);
}

void ShutdownPlugin() { Engine().Stop(true); }

}  // namespace vask
