#include "host/event_rendering.h"

#include <cstdlib>
#include <ctime>

#include "abi/host_ids.h"

namespace vask::host {

namespace {

// "[HH:MM]" of a time in seconds; 0 is now.
std::string Clock(long long seconds) {
  std::time_t t = seconds > 0 ? static_cast<std::time_t>(seconds) : std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "[%H:%M]", &local);
  return buffer;
}

// A status name with its description in parentheses, when there is one.
std::string Described(long long status, const std::string& text) {
  const std::string name = StatusName(static_cast<int>(status));
  return text.empty() ? name : name + " (" + text + ")";
}

// The title of a box or notice; the plug-in's name when it gave none.
std::string TitleOf(const EventJson& e) {
  return TextOf(e, "title").empty() ? "Vask" : TextOf(e, "title");
}

// A list field, or an empty list.
const EventJson& ListOf(const EventJson& e, const char* key) {
  static const EventJson kNone = EventJson::array();
  auto found = e.find(key);
  return found != e.end() && found->is_array() ? *found : kNone;
}

using Renderer = std::string (*)(const std::string& event, const EventJson& e, FrontState& state);

std::string Started(const std::string&, const EventJson& e, FrontState& state) {
  state.computer = TextOf(e, "computer");
  return "*** " + TextOf(e, "computer") + " w grupie " + TextOf(e, "workgroup") + ", sieć " +
         TextOf(e, "lanDir") + ". /help: polecenia";
}

// What a Win32 code at the end of a delivery notice ("... [53]") means.
std::string FailureReason(const std::string& body) {
  const size_t open = body.rfind('[');
  if (open == std::string::npos || body.empty() || body.back() != ']') return {};
  const std::string digits = body.substr(open + 1, body.size() - open - 2);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return {};
  const long code = std::strtol(digits.c_str(), nullptr, 10);
  switch (code) {
    case 2:
      return "na tym komputerze nie działa odbiorca (nie ma jego slotu)";
    case 53:
      return "nie ma takiego komputera w sieci";
    case 3025:
      return "odbiorca ma wyłączone zdalne sloty pocztowe";
    default:
      return "kod błędu Windows " + digits;
  }
}

// Chat messages are the contact's words; anything else the plug-in shows
// (delivery failures, WinPopup notes) is a notice, drawn apart and stamped
// with its arrival time. The first chat message from someone makes them the
// partner when there is none yet.
std::string Message(const std::string&, const EventJson& e, FrontState& state) {
  std::string from = TextOf(e, "from");
  if (from.empty()) from = "Vask";
  const bool chat = NumberOf(e, "type", kMessageTypeChat) == kMessageTypeChat;
  if (!chat) {
    std::string line = Clock(0) + " !!! Powiadomienie (" + from + "): " + TextOf(e, "body");
    const std::string reason = FailureReason(TextOf(e, "body"));
    if (!reason.empty()) line += " — " + reason;
    return line;
  }
  if (state.partner.empty() && from != "Vask") state.partner = from;
  return Clock(NumberOf(e, "time")) + " " + from + ": " + TextOf(e, "body");
}

std::string Sending(const std::string&, const EventJson& e, FrontState& state) {
  return Clock(0) + " " + (state.computer.empty() ? "ja" : state.computer) + " -> " +
         TextOf(e, "to") + ": " + TextOf(e, "body");
}

// The plug-in's answer for a message the user sent: a mark when it went out,
// a plain line when it did not (the notice that follows says why).
std::string SendResult(const std::string&, const EventJson& e, FrontState&) {
  if (NumberOf(e, "sent")) return Clock(0) + " ✓ wysłano";
  return Clock(0) + " !!! Nie wysłano wiadomości.";
}

std::string ContactStatus(const std::string&, const EventJson& e, FrontState& state) {
  const long long contact = NumberOf(e, "contact", -1);
  auto found = state.contacts.find(contact);
  const std::string name =
      found != state.contacts.end() ? found->second : "kontakt " + std::to_string(contact);
  return "*** " + name + ": " + Described(NumberOf(e, "status"), TextOf(e, "text"));
}

std::string OwnStatus(const std::string&, const EventJson& e, FrontState&) {
  return "*** Twój status: " + Described(NumberOf(e, "ownStatus"), TextOf(e, "ownText"));
}

// A message box, or a notice with its Cancel button.
std::string Box(const std::string& event, const EventJson& e, FrontState&) {
  return "[" + TitleOf(e) + "] " + TextOf(e, "text") +
         (event == "notice-opened" ? "  (/cancel przerywa)" : "");
}

std::string NoticeClosed(const std::string&, const EventJson& e, FrontState&) {
  return "[" + TitleOf(e) + "] zamknięte" + (NumberOf(e, "cancelled") ? " (przerwane)" : "");
}

std::string ContactAdded(const std::string&, const EventJson& e, FrontState& state) {
  state.contacts[NumberOf(e, "contact")] = TextOf(e, "computer");
  return "*** Dodano kontakt " + TextOf(e, "computer") + ".";
}

std::string ContactRemoved(const std::string&, const EventJson& e, FrontState& state) {
  state.contacts.erase(NumberOf(e, "contact"));
  return "*** Usunięto kontakt " + TextOf(e, "computer") + ".";
}

std::string Menu(const std::string&, const EventJson& e, FrontState&) {
  std::string out = "*** Menu stanu " + TextOf(e, "title") + " (/menu N wybiera):";
  {
    for (const EventJson& item : ListOf(e, "items")) {
      out += "\n    " + std::to_string(NumberOf(item, "index")) + ". " + TextOf(item, "text");
    }
  }
  return out;
}

std::string Page(const std::string&, const EventJson& e, FrontState&) {
  std::string out = "*** Ustawienia " + TextOf(e, "title") + " (/page KOLUMNA WARTOŚĆ zmienia):";
  {
    for (const EventJson& control : ListOf(e, "controls")) {
      std::string text = TextOf(control, "text");
      // Control bytes of the host's markup (0x01, 0x03) and line breaks
      // are shown as blanks.
      for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
      }
      if (text.find_first_not_of(' ') == std::string::npos) continue;
      out += "\n    " + text;
      if (control.contains("column")) {
        out += "  [" + std::to_string(NumberOf(control, "column")) + " = " +
               TextOf(control, "value") + "]";
      }
    }
  }
  return out;
}

std::string MenuChosen(const std::string&, const EventJson& e, FrontState&) {
  return "*** Wybrano: " + TextOf(e, "text");
}

// The list names the contacts for the status lines that follow.
std::string Contacts(const std::string&, const EventJson& e, FrontState& state) {
  std::string out =
      "*** Kontakty (ty: " + Described(NumberOf(e, "ownStatus"), TextOf(e, "ownText")) + "):";
  size_t count = 0;
  {
    for (const EventJson& c : ListOf(e, "contacts")) {
      state.contacts[NumberOf(c, "contact")] = TextOf(c, "computer");
      out += "\n    " + TextOf(c, "computer") + "  " +
             Described(NumberOf(c, "status"), TextOf(c, "text")) +
             (NumberOf(c, "ignored") ? "  [ignorowany]" : "");
      ++count;
    }
  }
  return count ? out : out + " brak; /add NAZWA dodaje";
}

std::string History(const std::string&, const EventJson& e, FrontState&) {
  std::string out = "*** Historia:";
  {
    for (const EventJson& m : ListOf(e, "messages")) {
      std::string who = TextOf(m, "from").empty() ? "-> " + TextOf(m, "to") : TextOf(m, "from");
      out += "\n    " + Clock(NumberOf(m, "time")) + " " + who + ": " + TextOf(m, "body");
    }
  }
  return out;
}

std::string Error(const std::string&, const EventJson& e, FrontState&) {
  return "!!! " + TextOf(e, "message");
}

std::string Ignored(const std::string& event, const EventJson& e, FrontState&) {
  return "*** " + TextOf(e, "computer") +
         (event == "ignored" ? " ignorowany." : " już nie ignorowany.");
}

std::string Cancel(const std::string&, const EventJson& e, FrontState&) {
  return "*** Przerwano okien: " + std::to_string(NumberOf(e, "notices")) + ".";
}

std::string Chat(const std::string&, const EventJson& e, FrontState&) {
  if (NumberOf(e, "handled")) return {};
  return "!!! Nieznane polecenie: " + TextOf(e, "text") + " (/help)";
}

// Anything else (search results, settings, details): its fields as they
// stand.
std::string Fields(const std::string& event, const EventJson& e) {
  std::string out = "*** " + event + ":";
  for (const auto& [key, value] : e.items()) {
    if (key == "event") continue;
    if (value.is_string()) {
      out += " " + key + "=" + value.get<std::string>();
    } else if (value.is_number() || value.is_boolean()) {
      out += " " + key + "=" + value.dump();
    }
  }
  return out;
}

struct EventView {
  const char* event;
  Renderer render;  // null: machinery a person need not see
};

constexpr EventView kViews[] = {
    {"started", Started},
    {"message", Message},
    {"sending", Sending},
    {"send-result", SendResult},
    {"contact-status", ContactStatus},
    {"own-status", OwnStatus},
    {"message-box", Box},
    {"notice-opened", Box},
    {"notice-closed", NoticeClosed},
    {"contact-added", ContactAdded},
    {"contact-removed", ContactRemoved},
    {"menu", Menu},
    {"page", Page},
    {"menu-chosen", MenuChosen},
    {"contacts", Contacts},
    {"history", History},
    {"error", Error},
    {"ignored", Ignored},
    {"unignored", Ignored},
    {"cancel", Cancel},
    {"chat", Chat},
    {"host-message", nullptr},
    {"to-plugin", nullptr},
    {"service", nullptr},
    {"answer", nullptr},
    {"waited", nullptr},
    {"quit", nullptr},
    {"details", nullptr},
    {"help", nullptr},
};

}  // namespace

std::string StatusName(int status) {
  switch (status) {
    case kStatusAvailable:
      return "Dostępny";
    case kStatusBrb:
      return "Zaraz wracam";
    case kStatusDnd:
      return "Nie przeszkadzać";
    case kStatusOffline:
      return "Niedostępny";
    case kStatusAway:
      return "away";
    default:
      return "status " + std::to_string(status);
  }
}

std::string RenderEvent(const EventJson& e, FrontState& state) {
  const std::string event = TextOf(e, "event");
  for (const EventView& view : kViews) {
    if (event != view.event) continue;
    return view.render ? view.render(event, e, state) : std::string();
  }
  return Fields(event, e);
}

}  // namespace vask::host
