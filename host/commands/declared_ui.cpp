#include "host/commands/declared_ui.h"

#include <optional>
#include <vector>

#include "host/commands/command_line.h"
#include "host/text/text_codec.h"

namespace vask::host {
namespace {

std::optional<InterfaceItem> GroupUnder(const std::vector<InterfaceItem>& items, int place) {
  for (const InterfaceItem& item : items) {
    if (item.parent == place && (item.style & kItemStyleGroup) != 0) return item;
  }
  return std::nullopt;
}

std::vector<InterfaceItem> Children(const std::vector<InterfaceItem>& items, int group) {
  std::vector<InterfaceItem> children;
  for (const InterfaceItem& item : items) {
    if (item.parent == group && !(item.id == group && (item.style & kItemStyleGroup) != 0)) {
      children.push_back(item);
    }
  }
  return children;
}

intptr_t SendAction(HostCore& core, int plugin, int action, int parent, int contact, int code) {
  ActionEvent event{};
  event.size = sizeof event;
  event.ref = {action, parent, contact};
  event.code = code;
  return core.Call(plugin, kMsgAction, reinterpret_cast<intptr_t>(&event));
}

// The status menu: the items of the plug-in's group under the host's status
// place, numbered from 1 as the user sees them.
void Menu(ScriptHost& host, HostCore& core, int plugin, const std::vector<std::string>& words) {
  const std::vector<InterfaceItem> items = core.items();
  auto group = GroupUnder(items, kParentStatus);
  if (!group) {
    host.Error("menu", "Wtyczka nie ma menu stanu");
    return;
  }
  const std::vector<InterfaceItem> entries = Children(items, group->id);
  if (words.size() == 1) {
    EventJson list = EventJson::array();
    for (size_t i = 0; i < entries.size(); ++i) {
      list.push_back(Event()
                         .Int("index", static_cast<long long>(i + 1))
                         .Int("action", entries[i].id)
                         .Str("text", Cp1250ToUtf8(entries[i].text))
                         .Int("icon", entries[i].param)
                         .Int("status", entries[i].status)
                         .json());
    }
    host.Write(Event()
                   .Str("event", "menu")
                   .Str("title", Cp1250ToUtf8(group->text))
                   .Set("items", std::move(list)));
    return;
  }
  const std::string choice = words[1];
  std::optional<InterfaceItem> chosen;
  int index = 0;
  if (ParseNumber(choice, &index) && index >= 1 && static_cast<size_t>(index) <= entries.size()) {
    chosen = entries[static_cast<size_t>(index - 1)];
  } else {
    for (const InterfaceItem& entry : entries) {
      if (Cp1250ToUtf8(entry.text) == choice) chosen = entry;
    }
  }
  if (!chosen) {
    host.Error("menu", "Nie ma w menu stanu pozycji " + choice);
    return;
  }
  const intptr_t answer =
      SendAction(core, plugin, chosen->id, chosen->parent, -2, kActionActivated);
  host.Write(Event()
                 .Str("event", "menu-chosen")
                 .Int("action", chosen->id)
                 .Str("text", Cp1250ToUtf8(chosen->text))
                 .Int("answer", answer));
}

// The settings page: every control of the plug-in's group under the host's
// settings place; a control bound to a column (its parameter) shows and
// takes that setting's value.
void Page(ScriptHost& host, HostCore& core, int plugin, const std::vector<std::string>& words) {
  const std::vector<InterfaceItem> items = core.items();
  auto group = GroupUnder(items, kParentSettings);
  if (!group) {
    host.Error("page", "Wtyczka nie ma strony ustawień");
    return;
  }
  const std::vector<InterfaceItem> controls = Children(items, group->id);
  if (words.size() == 1) {
    EventJson list = EventJson::array();
    for (const InterfaceItem& control : controls) {
      Event line;
      line.Int("action", control.id)
          .Int("style", control.style)
          .Str("text", Cp1250ToUtf8(control.text));
      if (control.width || control.height) {
        line.Int("width", control.width).Int("height", control.height);
      }
      if (control.param != 0 && control.param != group->param) {
        line.Int("column", control.param)
            .Str("value", Cp1250ToUtf8(core.GetSettingText(control.param)));
      }
      list.push_back(line.json());
    }
    host.Write(Event()
                   .Str("event", "page")
                   .Str("title", Cp1250ToUtf8(group->text))
                   .Set("controls", std::move(list)));
    return;
  }
  if (words.size() == 3 && words[1] == "press") {
    // A button of the page (a control with an action of its own, such as
    // the help button): the user clicks it.
    int action = 0;
    const InterfaceItem* button = nullptr;
    if (ParseNumber(words[2], &action)) {
      for (const InterfaceItem& control : controls) {
        if (control.id != 0 && control.id == action) button = &control;
      }
    }
    if (!button) {
      host.Error("page", "Na stronie ustawień nie ma przycisku " + words[2]);
      return;
    }
    const intptr_t answer =
        SendAction(core, plugin, button->id, button->parent, 0, kActionActivated);
    host.Write(Event().Str("event", "page-pressed").Int("action", action).Int("answer", answer));
    return;
  }
  int column = 0;
  if (words.size() != 3 || !ParseNumber(words[1], &column)) {
    host.Error("page", "Użycie: page [KOLUMNA WARTOŚĆ | press AKCJA]");
    return;
  }
  bool bound = false;
  for (const InterfaceItem& control : controls)
    bound = bound || (control.param == column && control.id == 0);
  if (!bound) {
    host.Error("page", "Żadne pole strony ustawień nie odpowiada kolumnie " + words[1]);
    return;
  }
  auto type = core.tables().ColumnType(kTableSettings, column);
  if (type && *type == kColumnInt) {
    int value = 0;
    if (!ParseNumber(words[2], &value)) {
      host.Error("page", "Ustawienie " + words[1] + " to liczba");
      return;
    }
    core.SetSetting(column, value);
  } else {
    auto text = Utf8ToCp1250(words[2]);
    if (!text) {
      host.Error("page", "Tekst zawiera znaki, których nie da się zapisać w Windows-1250");
      return;
    }
    core.SetSettingText(column, *text);
  }
  // The host tells its plug-ins that their configuration changed.
  core.Call(plugin, kMsgSettingsChanged);
  host.Write(Event()
                 .Str("event", "setting")
                 .Int("column", column)
                 .Str("value", Cp1250ToUtf8(core.GetSettingText(column))));
}

// A contact action: asked first whether it is offered for that contact (the
// plug-in sets the item's kItemStatusWithdrawn bit to withdraw it), then
// activated.
void Action(ScriptHost& host, HostCore& core, int plugin, const std::vector<std::string>& words) {
  if (words.size() != 3) {
    host.Error("action", "Użycie: action AKCJA KOMPUTER|me");
    return;
  }
  int action = 0;
  if (!ParseNumber(words[1], &action)) {
    host.Error("action", "Użycie: action AKCJA KOMPUTER|me");
    return;
  }
  std::optional<InterfaceItem> item;
  for (int place : {kParentOwnDetails, kParentContactDetails}) {
    if (!item) item = core.Item(action, place);
  }
  if (!item) {
    host.Error("action", "Wtyczka nie ma akcji kontaktu " + words[1]);
    return;
  }
  int contact = 0;
  if (words[2] != "me") {
    auto name = Utf8ToCp1250(words[2]);
    contact = name ? core.FindContact(NET_LAN, *name) : -1;
    if (contact < 0) {
      host.Error("action", "Nie ma takiego kontaktu: " + words[2]);
      return;
    }
  }
  SendAction(core, plugin, item->id, item->parent, contact, kActionShowing);
  auto shown = core.Item(item->id, item->parent);
  if (shown && (shown->status & kItemStatusWithdrawn) != 0) {
    host.Write(
        Event().Str("event", "action-withdrawn").Int("action", action).Int("contact", contact));
    return;
  }
  const intptr_t answer =
      SendAction(core, plugin, item->id, item->parent, contact, kActionActivated);
  host.Write(Event()
                 .Str("event", "action-done")
                 .Int("action", action)
                 .Int("contact", contact)
                 .Int("answer", answer));
}

}  // namespace

void RunMenu(ScriptHost& host, const std::vector<std::string>& words) {
  Menu(host, host.core(), host.plugin(), words);
}

void RunPage(ScriptHost& host, const std::vector<std::string>& words) {
  Page(host, host.core(), host.plugin(), words);
}

void RunAction(ScriptHost& host, const std::vector<std::string>& words) {
  Action(host, host.core(), host.plugin(), words);
}

}  // namespace vask::host
