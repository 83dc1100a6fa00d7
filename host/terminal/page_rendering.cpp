#include "host/terminal/page_rendering.h"

#include "abi/host_ids.h"

namespace vask::host {

namespace {

// The status each item of the status menu chooses.
int StatusOfItem(long long action) {
  switch (action) {
    case kItemStatusAvailable:
      return kStatusAvailable;
    case kItemStatusBrb:
      return kStatusBrb;
    case kItemStatusDnd:
      return kStatusDnd;
    default:
      return kStatusOffline;
  }
}

// The kind of a settings-page control (kControlCheckBox, ...).
int32_t KindOf(const EventJson& control) {
  return ControlKindOf(static_cast<int32_t>(NumberOf(control, "style")));
}

// The channel name and WinPopup are read when the plug-in goes online.
bool TakesEffectOnline(long long column) {
  return column == kSettingChannel || column == kSettingWinPopup;
}

}  // namespace

std::string Plain(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string RenderStatusMenu(const std::string&, const EventJson& e, FrontState& state) {
  std::string out = "*** Menu stanu " + TextOf(e, "title") + " (/menu N wybiera):";
  for (const EventJson& item : ListOf(e, "items")) {
    const bool current = StatusOfItem(NumberOf(item, "action")) == state.ownStatus;
    out += "\n    " + std::string(current ? "• " : "  ") + std::to_string(NumberOf(item, "index")) +
           ". " + TextOf(item, "text");
  }
  return out;
}

std::string RenderSettingsPage(const std::string&, const EventJson& e, FrontState& state) {
  std::string out = "*** Ustawienia wtyczki " + TextOf(e, "title") + ":";
  const EventJson& controls = ListOf(e, "controls");
  for (size_t i = 0; i < controls.size(); ++i) {
    const EventJson& control = controls[i];
    const int32_t kind = KindOf(control);
    const std::string raw = TextOf(control, "text");
    const std::string text = Plain(raw);
    const long long column = NumberOf(control, "column", -1);
    const std::string value = TextOf(control, "value");
    switch (kind) {
      case kControlPicture:
        out += "\n    [obrazek wtyczki]";
        break;
      case kControlHeading:
        if (!text.empty()) out += "\n  " + text;
        break;
      case kControlButton:
        out += "\n    [" + text + "]" +
               (NumberOf(control, "action") == kItemHelp ? "  /pomoc otwiera pomoc" : "");
        break;
      case kControlCheckBox:
        state.settingLabels[column] = text;
        out += "\n    [" + std::string(value != "0" && !value.empty() ? "x" : " ") + "] " + text +
               "   (/page " + std::to_string(column) + " 0|1)";
        break;
      case kControlField: {
        std::string label = "pole";
        if (i + 1 < controls.size() && KindOf(controls[i + 1]) == kControlLabel) {
          label = Plain(TextOf(controls[i + 1], "text"));
        }
        state.settingLabels[column] = label;
        const size_t hint = raw.rfind('\x01');
        out += "\n    " + label + ": " + value + "   (/page " + std::to_string(column) + " TEKST)";
        if (hint != std::string::npos) out += "\n      " + Plain(raw.substr(hint + 1));
        break;
      }
      case kControlLabel:
      case kControlBreak:
        break;
      default:
        // The about text: a line of the page for each of its lines.
        for (size_t from = 0; from <= raw.size();) {
          size_t end = raw.find('\n', from);
          if (end == std::string::npos) end = raw.size();
          const std::string part = Plain(raw.substr(from, end - from));
          if (!part.empty()) out += "\n    " + part;
          from = end + 1;
        }
    }
  }
  return out;
}

std::string RenderMenuChosen(const std::string&, const EventJson& e, FrontState&) {
  return "*** Wybrano: " + TextOf(e, "text");
}

std::string RenderSetting(const std::string&, const EventJson& e, FrontState& state) {
  const long long column = NumberOf(e, "column");
  auto label = state.settingLabels.find(column);
  std::string out =
      "*** Ustawienie " +
      (label != state.settingLabels.end() ? "„" + label->second + "”" : std::to_string(column)) +
      " = " + TextOf(e, "value");
  if (TakesEffectOnline(column) && state.ownStatus != kStatusOffline) {
    out +=
        "\n    Zmiana zadziała po przejściu w stan Niedostępny i z powrotem "
        "(/status niedostępny, potem /status dostępny).";
  }
  return out;
}

}  // namespace vask::host
