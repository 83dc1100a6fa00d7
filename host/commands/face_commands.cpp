#include "host/commands/face_commands.h"

#include <vector>

#include "host/commands/command_line.h"
#include "host/commands/contact_columns.h"
#include "host/text/text_codec.h"

namespace vask::host {

namespace {

void Icons(ScriptHost& host, HostCore& core) {
  EventJson list = EventJson::array();
  for (const RegisteredIcon& icon : core.icons()) {
    list.push_back(Event()
                       .Int("iconId", icon.iconId)
                       .Int("kind", icon.kind)
                       .Int("resourceId", icon.resourceId)
                       .json());
  }
  host.Write(Event("icons").Set("icons", std::move(list)));
}

// The items under the host's places for actions beside the own entry's and
// a contact's details; "status" carries the withdrawn bit as last set.
void Actions(ScriptHost& host, HostCore& core) {
  EventJson list = EventJson::array();
  for (const InterfaceItem& item : core.items()) {
    if (item.parent != kParentOwnDetails && item.parent != kParentContactDetails) continue;
    list.push_back(Event()
                       .Int("action", item.id)
                       .Int("parent", item.parent)
                       .Str("for", item.parent == kParentOwnDetails ? "me" : "contact")
                       .Str("text", Cp1250ToUtf8(item.text))
                       .Int("icon", item.param)
                       .Int("style", item.style)
                       .Int("status", item.status)
                       .json());
  }
  host.Write(Event("actions").Set("items", std::move(list)));
}

void IgnoredList(ScriptHost& host, HostCore& core) {
  EventJson list = EventJson::array();
  for (const std::string& address : core.IgnoredAddresses()) list.push_back(Cp1250ToUtf8(address));
  host.Write(Event("ignored-list").Set("computers", std::move(list)));
}

// The user's own entry (contact row 0): the columns the plug-in answers
// searches and details requests with.
void OwnDetails(ScriptHost& host, HostCore& core) {
  EventJson columns = EventJson::object();
  for (const ContactColumn& c : ContactColumns()) {
    if (!c.own) continue;
    columns[std::to_string(c.column)] =
        Cp1250ToUtf8(core.tables().GetText(kTableContacts, kOwnEntry, c.column));
  }
  host.Write(Event("own-details").Set("columns", std::move(columns)));
}

// Each takes no words after its name; with some, the line is no command
// of this kind.
template <void (*Show)(ScriptHost&, HostCore&)>
void RunAlone(ScriptHost& host, const std::vector<std::string>& words) {
  if (words.size() != 1) {
    UnknownCommand(host, words[0]);
    return;
  }
  Show(host, host.core());
}

}  // namespace

void RunIcons(ScriptHost& host, const std::vector<std::string>& words) {
  RunAlone<Icons>(host, words);
}
void RunActions(ScriptHost& host, const std::vector<std::string>& words) {
  RunAlone<Actions>(host, words);
}
void RunIgnoredList(ScriptHost& host, const std::vector<std::string>& words) {
  RunAlone<IgnoredList>(host, words);
}
void RunOwnDetails(ScriptHost& host, const std::vector<std::string>& words) {
  RunAlone<OwnDetails>(host, words);
}

}  // namespace vask::host
