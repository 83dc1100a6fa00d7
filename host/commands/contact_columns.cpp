#include "host/commands/contact_columns.h"

#include "abi/host_ids.h"
#include "host/text/text_codec.h"

namespace vask::host {

namespace {

constexpr bool kNumber = true;
constexpr bool kText = false;
constexpr bool kOwn = true;
constexpr bool kNotOwn = false;

// The network and the city a query is matched against have no word: a
// details window shows them by number; "own miasto" fills the latter too
// (ColumnsFilledBy), and "own 10" sets it alone.
constexpr ContactColumn kColumns[] = {
    {kColumnId, "komputer", "Komputer", "uid", kText, kNotOwn},
    {kColumnNet, nullptr, nullptr, nullptr, kText, kNotOwn},
    {kColumnFirstName, "imie", "Imię", "column6", kText, kOwn},
    {kColumnLastName, "nazwisko", "Nazwisko", "column7", kText, kOwn},
    {kColumnNick, "pseudonim", "Pseudonim", nullptr, kText, kOwn},
    {kColumnCity, "miasto", "Miasto", "column9", kText, kOwn},
    {kColumnQueryCity, nullptr, nullptr, nullptr, kText, kOwn},
    {kColumnEmail, "email", "E-mail", "column11", kText, kOwn},
    {kColumnDescription, "opis", "Opis", "column17", kText, kOwn},
    {kColumnBirth, "rok", "Rok urodzenia", nullptr, kNumber, kOwn},
    {kColumnGender, "plec", "Płeć", "gender", kNumber, kOwn},
};

// The Polish spelling of a key, where it has Polish letters.
struct Spelling {
  const char* polish;
  const char* key;
};
constexpr Spelling kSpellings[] = {{"imię", "imie"}, {"płeć", "plec"}};

}  // namespace

std::span<const ContactColumn> ContactColumns() { return kColumns; }

std::optional<int> ColumnForKey(const std::string& typed) {
  std::string key = Lower(typed);
  for (const Spelling& s : kSpellings) {
    // Polish capitals are not folded by Lower: "Imię" is matched as typed
    // in lower case, which is how keys are written.
    if (key == s.polish) key = s.key;
  }
  if (key == "e-mail" || key == "mail") key = "email";
  if (key == "nick") key = "pseudonim";
  for (const ContactColumn& c : kColumns) {
    if (c.key != nullptr && key == c.key) return c.column;
  }
  return std::nullopt;
}

const ContactColumn* FindContactColumn(int column) {
  for (const ContactColumn& c : kColumns) {
    if (c.column == column) return &c;
  }
  return nullptr;
}

std::vector<int> ColumnsFilledBy(int column) {
  if (column == kColumnCity) return {kColumnCity, kColumnQueryCity};
  return {column};
}

std::string ColumnLabel(int column) {
  const ContactColumn* c = FindContactColumn(column);
  if (c != nullptr && c->label != nullptr) return c->label;
  return "kolumna " + std::to_string(column);
}

}  // namespace vask::host
