#include "host/terminal/page_rendering.h"

#include <vector>

#include "abi/host_ids.h"
#include "host/text/text_codec.h"
#include "host/text/text_table.h"

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

// A word in capitals, as the plug-in's bytes, for comparing without regard
// to case (Polish letters too); a word Windows-1250 cannot hold stays.
std::string Folded(const std::string& utf8) {
  const auto bytes = Utf8ToCp1250(utf8);
  return bytes ? UpperCp1250(*bytes) : utf8;
}

std::vector<std::string> LabelWords(const std::string& label) {
  std::vector<std::string> words;
  size_t from = 0;
  while (from < label.size()) {
    size_t end = label.find(' ', from);
    if (end == std::string::npos) end = label.size();
    if (end > from) words.push_back(label.substr(from, end - from));
    from = end + 1;
  }
  return words;
}

// The settings whose label has a word that starts with `typed`.
std::vector<long long> SettingsStartingWith(const FrontState& state, const std::string& typed) {
  const std::string prefix = Folded(typed);
  std::vector<long long> found;
  for (const auto& [column, label] : state.settingLabels) {
    for (const std::string& word : LabelWords(label)) {
      if (Folded(word).compare(0, prefix.size(), prefix) == 0) {
        found.push_back(column);
        break;
      }
    }
  }
  return found;
}

bool IsChecked(const std::string& value) { return !value.empty() && value != "0"; }

// A setting's value as the page shows it: a check box's as tak or nie.
std::string ValueWords(const FrontState& state, long long column, const std::string& value) {
  if (state.checkBoxes.count(column) == 0) return value;
  return IsChecked(value) ? "tak" : "nie";
}

}  // namespace

std::string SettingWord(const FrontState& state, long long column) {
  const auto label = state.settingLabels.find(column);
  if (label == state.settingLabels.end()) return {};
  std::string best;
  for (const std::string& word : LabelWords(label->second)) {
    if (TextWidth(word) < TextWidth(best)) continue;
    const auto named = SettingsStartingWith(state, word);
    if (named.size() == 1 && named[0] == column) best = Lower(word);
  }
  return best;
}

std::optional<long long> SettingNamed(const FrontState& state, const std::string& typed) {
  if (typed.empty()) return std::nullopt;
  const auto named = SettingsStartingWith(state, typed);
  if (named.size() != 1) return std::nullopt;
  return named[0];
}

std::optional<bool> CheckBoxValue(const std::string& typed) {
  const std::string word = Lower(typed);
  for (const char* yes : {"tak", "1", "włącz", "wlacz", "on"}) {
    if (word == yes) return true;
  }
  for (const char* no : {"nie", "0", "wyłącz", "wylacz", "off"}) {
    if (word == no) return false;
  }
  return std::nullopt;
}

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

namespace {

// The labels of the page's bound settings, known before any line is drawn:
// each setting's word depends on all the others. A text field's label is
// the label control that follows it.
void LearnLabels(const EventJson& controls, FrontState& state) {
  state.settingLabels.clear();
  state.checkBoxes.clear();
  for (size_t i = 0; i < controls.size(); ++i) {
    const long long column = NumberOf(controls[i], "column", -1);
    if (column < 0) continue;
    if (KindOf(controls[i]) == kControlCheckBox) {
      state.settingLabels[column] = Plain(TextOf(controls[i], "text"));
      state.checkBoxes.insert(column);
    } else if (KindOf(controls[i]) == kControlField) {
      std::string label = "pole";
      if (i + 1 < controls.size() && KindOf(controls[i + 1]) == kControlLabel) {
        label = Plain(TextOf(controls[i + 1], "text"));
      }
      state.settingLabels[column] = label;
    }
  }
}

// The typed command that changes the setting: by its word, or by its
// column when no word names it alone (two labels alike).
std::string PageCommand(const FrontState& state, long long column, const char* value) {
  const std::string word = SettingWord(state, column);
  return "/page " + (word.empty() ? std::to_string(column) : word) + " " + value;
}

}  // namespace

std::string RenderSettingsPage(const std::string&, const EventJson& e, FrontState& state) {
  std::string out = "*** Ustawienia wtyczki " + TextOf(e, "title") + ":";
  const EventJson& controls = ListOf(e, "controls");
  LearnLabels(controls, state);
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
        out += "\n    [" + std::string(IsChecked(value) ? "x" : " ") + "] " + text + "   (" +
               PageCommand(state, column, "tak|nie") + ")";
        break;
      case kControlField: {
        const std::string label = state.settingLabels[column];
        const size_t hint = raw.rfind('\x01');
        out += "\n    " + label + ": " + value + "   (" + PageCommand(state, column, "TEKST") + ")";
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
      " = " + ValueWords(state, column, TextOf(e, "value"));
  if (TakesEffectOnline(column) && state.ownStatus != kStatusOffline) {
    out +=
        "\n    Zmiana zadziała po przejściu w stan Niedostępny i z powrotem "
        "(/status niedostępny, potem /status dostępny).";
  }
  return out;
}

}  // namespace vask::host
