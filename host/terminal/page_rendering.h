// vask-host's terminal front end: what the plug-in declared, drawn as text a
// person reads. The status menu with the current status marked, the settings
// page with the command that changes each bound setting, the item chosen,
// and a setting's new value. The event renderer (event_rendering.h) calls
// these for the events they are named after.
#pragma once

#include <optional>
#include <string>

#include "host/events/host_event.h"
#include "host/terminal/front_state.h"

namespace vask::host {

// "menu": the status menu's items, numbered as /menu N chooses them.
std::string RenderStatusMenu(const std::string& event, const EventJson& e, FrontState& state);
// "page": the picture named, the about text, the buttons with the command
// that presses them, each bound setting with its value and the command that
// changes it (remembered in `state` as the setting's label). A text field's
// label is the label that follows it; its markup's last part is its hint.
std::string RenderSettingsPage(const std::string& event, const EventJson& e, FrontState& state);
// "menu-chosen": the item chosen.
std::string RenderMenuChosen(const std::string& event, const EventJson& e, FrontState& state);
// "setting": a setting's new value, named by its label on the page.
std::string RenderSetting(const std::string& event, const EventJson& e, FrontState& state);

// The settings are named by the words of their labels on the page: a word
// names the setting when a word of its label, and of no other label,
// starts with it (capitals and Polish letters match either case).
// The word the page shows for the setting of `column`: the longest word of
// its label that names it alone ("" when the label has none).
std::string SettingWord(const FrontState& state, long long column);
// The setting `typed` names, or nullopt when it names none or several.
std::optional<long long> SettingNamed(const FrontState& state, const std::string& typed);
// A check box's value as typed: tak/nie (and włącz/wyłącz, 1/0); nullopt
// for any other word.
std::optional<bool> CheckBoxValue(const std::string& typed);

// Control bytes of the host's markup (0x01, 0x03) and line breaks as blanks,
// and no blanks at either end.
std::string Plain(std::string text);

}  // namespace vask::host
