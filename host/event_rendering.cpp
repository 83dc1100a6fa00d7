#include "host/event_rendering.h"

#include <cstdlib>
#include <ctime>

#include "abi/host_ids.h"
#include "host/json_reader.h"

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
std::string TitleOf(const Json& e) { return e.Text("title").empty() ? "Vask" : e.Text("title"); }

using Renderer = std::string (*)(const std::string& event, const Json& e, FrontState& state);

std::string Started(const std::string&, const Json& e, FrontState& state) {
  state.computer = e.Text("computer");
  return "*** " + e.Text("computer") + " w grupie " + e.Text("workgroup") + ", sieć " +
         e.Text("lanDir") + ". /help: polecenia";
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
std::string Message(const std::string&, const Json& e, FrontState& state) {
  std::string from = e.Text("from");
  if (from.empty()) from = "Vask";
  const bool chat = e.Number("type", kMessageTypeChat) == kMessageTypeChat;
  if (!chat) {
    std::string line = Clock(0) + " !!! Powiadomienie (" + from + "): " + e.Text("body");
    const std::string reason = FailureReason(e.Text("body"));
    if (!reason.empty()) line += " — " + reason;
    return line;
  }
  if (state.partner.empty() && from != "Vask") state.partner = from;
  return Clock(e.Number("time")) + " " + from + ": " + e.Text("body");
}

std::string Sending(const std::string&, const Json& e, FrontState& state) {
  return Clock(0) + " " + (state.computer.empty() ? "ja" : state.computer) + " -> " + e.Text("to") +
         ": " + e.Text("body");
}

// The plug-in's answer for a message the user sent: a mark when it went out,
// a plain line when it did not (the notice that follows says why).
std::string SendResult(const std::string&, const Json& e, FrontState&) {
  if (e.Number("sent")) return Clock(0) + " ✓ wysłano";
  return Clock(0) + " !!! Nie wysłano wiadomości.";
}

std::string ContactStatus(const std::string&, const Json& e, FrontState& state) {
  const long long contact = e.Number("contact", -1);
  auto found = state.contacts.find(contact);
  const std::string name =
      found != state.contacts.end() ? found->second : "kontakt " + std::to_string(contact);
  return "*** " + name + ": " + Described(e.Number("status"), e.Text("text"));
}

std::string OwnStatus(const std::string&, const Json& e, FrontState&) {
  return "*** Twój status: " + Described(e.Number("ownStatus"), e.Text("ownText"));
}

// A message box, or a notice with its Cancel button.
std::string Box(const std::string& event, const Json& e, FrontState&) {
  return "[" + TitleOf(e) + "] " + e.Text("text") +
         (event == "notice-opened" ? "  (/cancel przerywa)" : "");
}

std::string NoticeClosed(const std::string&, const Json& e, FrontState&) {
  return "[" + TitleOf(e) + "] zamknięte" + (e.Number("cancelled") ? " (przerwane)" : "");
}

std::string ContactAdded(const std::string&, const Json& e, FrontState& state) {
  state.contacts[e.Number("contact")] = e.Text("computer");
  return "*** Dodano kontakt " + e.Text("computer") + ".";
}

std::string ContactRemoved(const std::string&, const Json& e, FrontState& state) {
  state.contacts.erase(e.Number("contact"));
  return "*** Usunięto kontakt " + e.Text("computer") + ".";
}

std::string Menu(const std::string&, const Json& e, FrontState&) {
  std::string out = "*** Menu stanu " + e.Text("title") + " (/menu N wybiera):";
  if (const Json* list = e.Get("items"); list && list->kind == Json::kArray) {
    for (const Json& item : list->items) {
      out += "\n    " + std::to_string(item.Number("index")) + ". " + item.Text("text");
    }
  }
  return out;
}

std::string Page(const std::string&, const Json& e, FrontState&) {
  std::string out = "*** Ustawienia " + e.Text("title") + " (/page KOLUMNA WARTOŚĆ zmienia):";
  if (const Json* list = e.Get("controls"); list && list->kind == Json::kArray) {
    for (const Json& control : list->items) {
      std::string text = control.Text("text");
      // Control bytes of the host's markup (0x01, 0x03) and line breaks
      // are shown as blanks.
      for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
      }
      if (text.find_first_not_of(' ') == std::string::npos) continue;
      out += "\n    " + text;
      if (control.Get("column")) {
        out += "  [" + std::to_string(control.Number("column")) + " = " + control.Text("value") +
               "]";
      }
    }
  }
  return out;
}

std::string MenuChosen(const std::string&, const Json& e, FrontState&) {
  return "*** Wybrano: " + e.Text("text");
}

// The list names the contacts for the status lines that follow.
std::string Contacts(const std::string&, const Json& e, FrontState& state) {
  std::string out =
      "*** Kontakty (ty: " + Described(e.Number("ownStatus"), e.Text("ownText")) + "):";
  const Json* list = e.Get("contacts");
  size_t count = 0;
  if (list && list->kind == Json::kArray) {
    for (const Json& c : list->items) {
      state.contacts[c.Number("contact")] = c.Text("computer");
      out += "\n    " + c.Text("computer") + "  " + Described(c.Number("status"), c.Text("text")) +
             (c.Number("ignored") ? "  [ignorowany]" : "");
      ++count;
    }
  }
  return count ? out : out + " brak; /add NAZWA dodaje";
}

std::string History(const std::string&, const Json& e, FrontState&) {
  std::string out = "*** Historia:";
  const Json* list = e.Get("messages");
  if (list && list->kind == Json::kArray) {
    for (const Json& m : list->items) {
      std::string who = m.Text("from").empty() ? "-> " + m.Text("to") : m.Text("from");
      out += "\n    " + Clock(m.Number("time")) + " " + who + ": " + m.Text("body");
    }
  }
  return out;
}

std::string Error(const std::string&, const Json& e, FrontState&) {
  return "!!! " + e.Text("message");
}

std::string Ignored(const std::string& event, const Json& e, FrontState&) {
  return "*** " + e.Text("computer") +
         (event == "ignored" ? " ignorowany." : " już nie ignorowany.");
}

std::string Cancel(const std::string&, const Json& e, FrontState&) {
  return "*** Przerwano okien: " + std::to_string(e.Number("notices")) + ".";
}

std::string Chat(const std::string&, const Json& e, FrontState&) {
  if (e.Number("handled")) return {};
  return "!!! Nieznane polecenie: " + e.Text("text") + " (/help)";
}

// Anything else (search results, settings, details): its fields as they
// stand.
std::string Fields(const std::string& event, const Json& e) {
  std::string out = "*** " + event + ":";
  for (const auto& [key, value] : e.members) {
    if (key == "event") continue;
    if (value.kind == Json::kText) {
      out += " " + key + "=" + value.text;
    } else if (value.kind == Json::kNumber || value.kind == Json::kBool) {
      out += " " + key + "=" + std::to_string(value.number);
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
    case kStatusAvailable: return "Dostępny";
    case kStatusBrb: return "Zaraz wracam";
    case kStatusDnd: return "Nie przeszkadzać";
    case kStatusOffline: return "Niedostępny";
    case kStatusAway: return "away";
    default: return "status " + std::to_string(status);
  }
}

std::string RenderEvent(const std::string& json, FrontState& state) {
  std::optional<Json> parsed = ParseJson(json);
  if (!parsed || parsed->kind != Json::kObject) return json;  // shown as it came
  const std::string event = parsed->Text("event");
  for (const EventView& view : kViews) {
    if (event != view.event) continue;
    return view.render ? view.render(event, *parsed, state) : std::string();
  }
  return Fields(event, *parsed);
}

}  // namespace vask::host
