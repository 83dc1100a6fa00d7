#include "host/commands/contact_columns.h"

#include "abi/host_ids.h"
#include "host/text/text_codec.h"

namespace vask::host {

namespace {

// The Polish spelling of a key, where it has Polish letters.
struct Spelling {
  const char* polish;
  const char* key;
};
constexpr Spelling kSpellings[] = {{"imię", "imie"}, {"płeć", "plec"}};

}  // namespace

const std::vector<ContactColumn>& DetailsColumns() {
  static const std::vector<ContactColumn> kColumns = {{kColumnId, "Komputer", "komputer"},
                                                      {kColumnFirstName, "Imię", "imie"},
                                                      {kColumnLastName, "Nazwisko", "nazwisko"},
                                                      {kColumnNick, "Pseudonim", "pseudonim"},
                                                      {kColumnCity, "Miasto", "miasto"},
                                                      {kColumnEmail, "E-mail", "email"},
                                                      {kColumnDescription, "Opis", "opis"},
                                                      {kColumnBirth, "Rok urodzenia", "rok"},
                                                      {kColumnGender, "Płeć", "plec"}};
  return kColumns;
}

std::optional<int> ColumnForKey(const std::string& typed) {
  std::string key = Lower(typed);
  for (const Spelling& s : kSpellings) {
    // Polish capitals are not folded by Lower: "Imię" is matched as typed
    // in lower case, which is how keys are written.
    if (key == s.polish) key = s.key;
  }
  if (key == "e-mail" || key == "mail") key = "email";
  if (key == "nick") key = "pseudonim";
  for (const ContactColumn& c : DetailsColumns()) {
    if (key == c.key) return c.column;
  }
  return std::nullopt;
}

std::string ColumnLabel(int column) {
  for (const ContactColumn& c : DetailsColumns()) {
    if (c.column == column) return c.label;
  }
  return "kolumna " + std::to_string(column);
}

}  // namespace vask::host
