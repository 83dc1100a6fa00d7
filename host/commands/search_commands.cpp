// vask-host's search commands: the search form (kMsgSearch), the list of
// found contacts, a contact's details window with the fetch of its details
// (kMsgFetchDetails), the publishing of the own details (kMsgPublishDetails)
// and the own entry's details themselves.
#include "host/commands/search_commands.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/commands/command_line.h"
#include "host/commands/contact_columns.h"
#include "host/text/text_codec.h"

namespace vask::host {

namespace {

// Whether a search waits in kMsgSearch. Commands run on the main thread
// only, so this thread owns it.
bool searchRunning = false;

// Own columns that hold numbers (the year in the upper bits; a gender).
bool IsIntColumn(int column) {
  const ContactColumn* c = FindContactColumn(column);
  return c != nullptr && c->number;
}

// The search form's field a typed key names: the Polish words of the
// columns, the form's own names, or the key as it came.
std::string SearchKey(const std::string& key) {
  static const std::pair<const char*, const char*> kWords[] = {
      {"stan", "status"}, {"od", "lower"}, {"do", "upper"}};
  for (const auto& [word, field] : kWords) {
    if (key == word) return field;
  }
  const std::optional<int> column = ColumnForKey(key);
  const ContactColumn* c = column ? FindContactColumn(*column) : nullptr;
  return c != nullptr && c->searchField != nullptr ? c->searchField : key;
}

template <size_t N>
bool PutField(char (&field)[N], const std::string& text) {
  if (text.size() >= N) return false;
  std::memcpy(field, text.c_str(), text.size() + 1);
  return true;
}

EventJson FoundJson(const FoundContact& found) {
  return Event()
      .Str("uid", Cp1250ToUtf8(found.uid))
      .Int("status", found.status)
      .Int("net", found.net)
      .Str("column6", Cp1250ToUtf8(found.column6))
      .Str("column7", Cp1250ToUtf8(found.column7))
      .Str("column17", Cp1250ToUtf8(found.column17))
      .Str("column9", Cp1250ToUtf8(found.column9))
      .Str("column11", Cp1250ToUtf8(found.column11))
      .Str("provider", Cp1250ToUtf8(found.provider))
      .json();
}

EventJson WindowJson(HostCore& core, int contact) {
  EventJson columns = EventJson::object();
  for (const ContactColumn& c : ContactColumns()) {
    columns[std::to_string(c.column)] = Cp1250ToUtf8(core.DetailsText(contact, c.column));
  }
  return columns;
}

}  // namespace

// search [status=<n>] [uid=<computer|filter|*|@>] [column6=..] [column7=..]
//        [column17=..] [column9=..] [column11=..] [gender=<n>] [lower=<n>] [upper=<n>]
// Runs on the calling (main) thread as a real host's form does: the call
// pumps, and commands typed meanwhile ("cancel") run from inside it.
void RunSearch(ScriptHost& host, const std::vector<std::string>& words) {
  HostCore& core = host.core();
  // Commands run from inside the running search's pumping; a second search
  // there would nest a wait inside the first one's.
  if (searchRunning) {
    host.Error("search", "Wyszukiwanie już trwa; przerwij je poleceniem cancel");
    return;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  if (!ParsePairs(words, 1, &pairs)) {
    host.Error("search",
               "Użycie: search [klucz=wartość ...]; klucze: komputer imie nazwisko opis miasto "
               "email stan plec od do (także uid column6 column7 column17 column9 column11 "
               "status gender lower upper)");
    return;
  }
  FoundContact request{};
  request.size = sizeof request;
  request.status = 1;
  for (auto [key, utf8] : pairs) {
    std::string value;
    if (!host.ToPlugin("search", utf8, &value)) return;
    bool ok = true;
    long long number = 0;
    key = SearchKey(key);
    if (key == "uid")
      ok = PutField(request.uid, value);
    else if (key == "column6")
      ok = PutField(request.column6, value);
    else if (key == "column7")
      ok = PutField(request.column7, value);
    else if (key == "column17")
      ok = PutField(request.column17, value);
    else if (key == "column9")
      ok = PutField(request.column9, value);
    else if (key == "column11")
      ok = PutField(request.column11, value);
    else if (key == "status" || key == "gender" || key == "lower" || key == "upper") {
      ok = ParseNumber(value, &number);
      // A gender by its word, as the typed help names it.
      if (!ok && key == "gender") {
        const std::string word = Lower(utf8);
        if (word == "kobieta" || word == "k") number = kGenderFemale;
        if (word == "mężczyzna" || word == "mezczyzna" || word == "m") number = kGenderMale;
        ok = number != 0;
      }
      if (key == "status") request.status = static_cast<int32_t>(number);
      if (key == "gender") request.gender = static_cast<int32_t>(number);
      if (key == "lower") request.lowerBound = static_cast<int32_t>(number);
      if (key == "upper") request.upperBound = static_cast<int32_t>(number);
    } else {
      host.Error("search", "Nieznany klucz wyszukiwania: " + key);
      return;
    }
    if (!ok) {
      host.Error("search", "Zła albo za długa wartość: " + key + "=" + utf8);
      return;
    }
  }
  // A search's count is its own: the results of the last one go.
  core.ClearFoundContacts();
  host.Write(Event()
                 .Str("event", "search-started")
                 .Int("status", request.status)
                 .Str("uid", Cp1250ToUtf8(request.uid)));
  searchRunning = true;
  intptr_t answer = core.Call(host.plugin(), kMsgSearch, reinterpret_cast<intptr_t>(&request));
  searchRunning = false;
  host.Write(Event()
                 .Str("event", "search-ended")
                 .Int("answer", answer)
                 .Int("status", request.status)
                 .Str("uid", Cp1250ToUtf8(request.uid))
                 .Int("results", static_cast<long long>(core.foundContacts().size())));
}

void RunResults(ScriptHost& host, const std::vector<std::string>&) {
  HostCore& core = host.core();
  EventJson list = EventJson::array();
  for (const FoundContact& found : core.foundContacts()) list.push_back(FoundJson(found));
  host.Write(Event().Str("event", "results").Set("contacts", std::move(list)));
}

// Opens the contact's details window with its stored columns and asks the
// plug-in to fetch its details into it, as the window's own action does.
void FetchDetails(ScriptHost& host, const std::string& utf8) {
  HostCore& core = host.core();
  std::string name;
  if (!host.ToPlugin("details", utf8, &name)) return;
  int contact = core.FindContact(NET_LAN, name);
  if (contact < 0) {
    host.Error("details", "Nie ma takiego kontaktu: " + utf8);
    return;
  }
  if (!core.DetailsOpen(contact)) {
    core.OpenDetails(contact);
    for (const ContactColumn& c : ContactColumns()) {
      core.SetDetailsText(contact, c.column,
                          core.tables().GetText(kTableContacts, contact, c.column));
    }
  }
  host.detailsFetches().Started(contact, HostClockSeconds());
  intptr_t answer = core.Call(host.plugin(), kMsgFetchDetails, contact, 1);
  host.Write(Event()
                 .Str("event", "details")
                 .Str("state", "fetching")
                 .Int("contact", contact)
                 .Int("answer", answer)
                 .Set("window", WindowJson(core, contact)));
}

// own <column> [value]: the user's own entry (contact row 0), whose
// details the plug-in answers queries with. The column is a number or its
// word (imie, miasto, ...). "own-details" shows them all.
void RunOwn(ScriptHost& host, const std::vector<std::string>& words) {
  HostCore& core = host.core();
  long long column = 0;
  if (auto named = words.size() >= 2 ? ColumnForKey(words[1]) : std::nullopt) {
    column = *named;
  } else if (words.size() < 2 || !ParseNumber(words[1], &column) || column < 0) {
    host.Error("own",
               "Użycie: own KOLUMNA [wartość]; kolumna to numer albo imie, nazwisko, "
               "pseudonim, miasto, email, opis, rok, plec");
    return;
  }
  std::string value;
  if (words.size() == 3 && !host.ToPlugin("own", words[2], &value)) return;
  const int col = static_cast<int>(column);
  long long number = 0;
  if (IsIntColumn(col) && !value.empty() && !ParseNumber(value, &number)) {
    host.Error("own", ColumnLabel(col) + " to liczba: " + words[2]);
    return;
  }
  for (const int filled : ColumnsFilledBy(col)) {
    if (IsIntColumn(filled)) {
      core.tables().SetInt(kTableContacts, kOwnEntry, filled, number);
    } else {
      core.tables().SetText(kTableContacts, kOwnEntry, filled, value);
    }
    host.Write(
        Event()
            .Str("event", "own")
            .Int("column", filled)
            .Str("value", Cp1250ToUtf8(core.tables().GetText(kTableContacts, kOwnEntry, filled))));
  }
}

void RunPublish(ScriptHost& host, const std::vector<std::string>&) {
  intptr_t answer = host.core().Call(host.plugin(), kMsgPublishDetails, 0, 1);
  host.Write(Event().Str("event", "answer").Int("id", kMsgPublishDetails).Int("answer", answer));
}

void InstallSearchEvents(ScriptHost& host, HostCore& core) {
  // kMsgDetailsWritten follows the writes of a reply into a details window:
  // show what the window holds now.
  core.SetAnswer(
      kMsgDetailsWritten, [&host, &core](HostMessage* message) -> std::optional<intptr_t> {
        const int contact = static_cast<int>(message->p1);
        host.detailsFetches().Answered(contact);
        host.Write(Event()
                       .Str("event", "details-updated")
                       .Int("contact", contact)
                       .Str("computer",
                            Cp1250ToUtf8(core.tables().GetText(kTableContacts, contact, kColumnId)))
                       .Set("window", WindowJson(core, contact)));
        return std::nullopt;
      });
}

void ExpireDetailsFetches(ScriptHost& host) {
  for (const int contact : host.detailsFetches().Expired(HostClockSeconds())) {
    host.Write(Event()
                   .Str("event", "details-unanswered")
                   .Int("contact", contact)
                   .Str("computer", Cp1250ToUtf8(host.core().tables().GetText(kTableContacts,
                                                                              contact, kColumnId)))
                   .Int("seconds", DetailsFetches::kBoundSeconds));
  }
}

}  // namespace vask::host
