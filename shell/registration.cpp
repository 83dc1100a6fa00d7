// Settings columns, icons and interface items; the start and the shutdown.
#include "shell/registration.h"

#include "base/host_api.h"
#include "base/log.h"
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
  DefineColumn(kTableSettings, kSettingLastStatus, kColumnInt, kStatusAvailable, "Vask/Status");
  DefineColumn(kTableSettings, kSettingStatusInfo, kColumnText, reinterpret_cast<intptr_t>(kEmpty),
               "Vask/StatusInfo");
  DefineColumn(kTableSettings, kSettingOnlyListed, kColumnInt, 0, "");
  DefineColumn(kTableSettings, kSettingChannel, kColumnText,
               reinterpret_cast<intptr_t>(kPluginName), "");
  DefineColumn(kTableSettings, kSettingWinPopup, kColumnInt, 1, "");
}

void RegisterInterface() {
  HostControl* host = Host();
  HMODULE module = host != nullptr ? host->ModuleHandle() : nullptr;
  RegisterIcon(kIconKindIcon, kIconPlugin, module, 120);
  RegisterIcon(kIconKindIcon, kIconAvailable, module, 101);
  RegisterIcon(kIconKindIcon, kIconOffline, module, 102);
  RegisterIcon(kIconKindIcon, kIconBrb, module, 103);
  RegisterIcon(kIconKindIcon, kIconAway, module, 105);
  RegisterIcon(kIconKindIcon, kIconDnd, module, 104);
  RegisterIcon(kIconKindIcon, kIconMessage, module, 110);
  RegisterIcon(kIconKindSmall, kIconSmall, module, 121);

  // The status menu.
  AddGroupItem(kParentStatus, kItemStatusOffline, 0, kPluginName, kIconOffline);
  AddItem(kItemStatusOffline, kItemStatusAvailable, 0, "Dostępny", kIconAvailable);
  AddItem(kItemStatusOffline, kItemStatusBrb, 0, "Zaraz wracam", kIconBrb);
  AddItem(kItemStatusOffline, kItemStatusDnd, 0, "Nie przeszkadzać", kIconDnd);
  AddItem(kItemStatusOffline, kItemStatusOffline, 0, "Niedostępny", kIconOffline);
  // The two contact actions beside a contact's details.
  AddItem(kParentOwnDetails, kItemRefreshOwn, 0x1000000, kPluginName, kIconPlugin);
  AddItem(kParentContactDetails, kItemRefreshContact, 0x1000000, kPluginName, kIconPlugin);
  // The settings page.
  const std::string label = ChannelLabel();
  AddGroupItem(kParentSettings, kItemSettingsGroup, 0, kPluginName, kIconPlugin);
  AddItem(kItemSettingsGroup, 0, 0x110040, "res://dll/111.ico", 0, 150, 50);
  AddItem(kItemSettingsGroup, 0, 0x81180, kAboutText, 0, 0, 50);
  AddItem(kItemSettingsGroup, 0, 0xF0000, "", 0);
  AddItemLong(kItemSettingsGroup, kItemHelp, 0xE0180, "POMOC", 0, 40, 40, 0, 0);
  AddItem(kItemSettingsGroup, 0, 0x100000, "", 0);
  AddItem(kItemSettingsGroup, 0, 0xF0000, "Ustawienia", 0);
  AddItem(kItemSettingsGroup, 0, 0x60000, "Komunikuj się TYLKO z komputerami na liście",
          kSettingOnlyListed);
  AddItem(kItemSettingsGroup, 0, 0x60000, "Obsługuj WinPopup", kSettingWinPopup);
  AddItem(kItemSettingsGroup, 0, 0x160040, label.c_str(), kSettingChannel);
  AddItem(kItemSettingsGroup, 0, 0x90000, "Nazwa kanału", 0);
  AddItem(kItemSettingsGroup, 0, 0x100000, "", 0);
}

void StartPlugin() {
  static const char kEmpty[] = "";
  // Offline until told otherwise; nothing of the answer is read back.
  SendHost3(kMsgAnnounceStatus, 0, kStatusOffline, reinterpret_cast<intptr_t>(kEmpty));
  RefreshOnlyListed();
  if (GetIntSetting(kSettingRestoreStatus) != 0)
    SetOwnStatus(GetIntSetting(kSettingLastStatus), nullptr);
}

void ShutdownPlugin() { Engine().Stop(true); }

}  // namespace vask
