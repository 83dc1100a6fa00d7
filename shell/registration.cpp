// Settings columns, icons and interface items; the start and the shutdown.
#include "shell/registration.h"

#include "shell/host_api.h"
#include "shell/log.h"
#include "shell/own_status.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

constexpr int kSettingRestoreStatus = 11;  // the host's own
constexpr int kSettingLastStatus = 15000;
constexpr int kSettingOnlyListed = 15001;
constexpr int kSettingChannel = 15002;
constexpr int kSettingWinPopup = 15003;
constexpr int kSettingStatusInfo = 15004;

constexpr int kIconPlugin = 0x20F00000;
constexpr int kIconAvailable = 0x40F00400;
constexpr int kIconOffline = 0x40F00000;
constexpr int kIconBrb = 0x40F00410;
constexpr int kIconAway = 0x40F00440;
constexpr int kIconDnd = 0x40F00220;
constexpr int kIconMessage = 0x50F00010;
constexpr int kIconSmall = 0x30F00000;
constexpr int kKindIcon = 1;
constexpr int kKindSmall = 256;

// Places in the host's interface.
constexpr int kParentStatus = 50;
constexpr int kParentSettings = 43;
constexpr int kParentOwnDetails = 400;
constexpr int kParentContactDetails = 402;

constexpr int kStatusGroup = 15100;
constexpr int kSettingsGroup = 15000;

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
  DefineColumn(kTableSettings, kSettingLastStatus, kColumnInt, kStatusAvailable, "Vask/Status");
  DefineColumn(kTableSettings, kSettingStatusInfo, kColumnText, reinterpret_cast<intptr_t>(kEmpty),
               "Vask/StatusInfo");
  DefineColumn(kTableSettings, kSettingOnlyListed, kColumnInt, 0, "");
  DefineColumn(kTableSettings, kSettingChannel, kColumnText, reinterpret_cast<intptr_t>(kPluginName),
               "");
  DefineColumn(kTableSettings, kSettingWinPopup, kColumnInt, 1, "");
}

void RegisterInterface() {
  HostControl* host = Host();
  HMODULE module = host != nullptr ? host->ModuleHandle() : nullptr;
  RegisterIcon(kKindIcon, kIconPlugin, module, 120);
  RegisterIcon(kKindIcon, kIconAvailable, module, 101);
  RegisterIcon(kKindIcon, kIconOffline, module, 102);
  RegisterIcon(kKindIcon, kIconBrb, module, 103);
  RegisterIcon(kKindIcon, kIconAway, module, 105);
  RegisterIcon(kKindIcon, kIconDnd, module, 104);
  RegisterIcon(kKindIcon, kIconMessage, module, 110);
  RegisterIcon(kKindSmall, kIconSmall, module, 121);

  // The status menu.
  AddGroupItem(kParentStatus, kStatusGroup, 0, kPluginName, kIconOffline);
  AddItem(kStatusGroup, 15101, 0, "Dostępny", kIconAvailable);
  AddItem(kStatusGroup, 15102, 0, "Zaraz wracam", kIconBrb);
  AddItem(kStatusGroup, 15103, 0, "Nie przeszkadzać", kIconDnd);
  AddItem(kStatusGroup, 15100, 0, "Niedostępny", kIconOffline);
  // The two contact actions beside a contact's details.
  AddItem(kParentOwnDetails, 15120, 0x1000000, kPluginName, kIconPlugin);
  AddItem(kParentContactDetails, 15121, 0x1000000, kPluginName, kIconPlugin);
  // The settings page.
  const std::string label = ChannelLabel();
  AddGroupItem(kParentSettings, kSettingsGroup, 0, kPluginName, kIconPlugin);
  AddItem(kSettingsGroup, 0, 0x110040, "res://dll/111.ico", 0, 150, 50);
  AddItem(kSettingsGroup, 0, 0x81180, kAboutText, 0, 0, 50);
  AddItem(kSettingsGroup, 0, 0xF0000, "", 0);
  AddItemLong(kSettingsGroup, 15002, 0xE0180, "POMOC", 0, 40, 40, 0, 0);
  AddItem(kSettingsGroup, 0, 0x100000, "", 0);
  AddItem(kSettingsGroup, 0, 0xF0000, "Ustawienia", 0);
  AddItem(kSettingsGroup, 0, 0x60000, "Komunikuj się TYLKO z komputerami na liście", kSettingOnlyListed);
  AddItem(kSettingsGroup, 0, 0x60000, "Obsługuj WinPopup", kSettingWinPopup);
  AddItem(kSettingsGroup, 0, 0x160040, label.c_str(), kSettingChannel);
  AddItem(kSettingsGroup, 0, 0x90000, "Nazwa kanału", 0);
  AddItem(kSettingsGroup, 0, 0x100000, "", 0);
}

void StartPlugin() {
  static const char kEmpty[] = "";
  // Offline until told otherwise; nothing of the answer is read back.
  SendHost3(246, 0, kStatusOffline, reinterpret_cast<intptr_t>(kEmpty));
  RefreshOnlyListed();
  if (GetIntSetting(kSettingRestoreStatus) != 0) SetOwnStatus(GetIntSetting(kSettingLastStatus), nullptr);
}

void ShutdownPlugin() { Engine().Stop(true); }

}  // namespace vask
