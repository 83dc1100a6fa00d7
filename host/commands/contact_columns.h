// The contact columns a person reads and types: their Polish labels and the
// words that name them in commands ("imię=Ala"). The search form, the
// details window, the own details and their tables all take them from here.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vask::host {

struct ContactColumn {
  int column;         // the contact table's column (abi/host_ids.h)
  const char* label;  // as a table heads it
  const char* key;    // as a command names it (ASCII; the Polish spelling is taken too)
};

// The columns of a contact's details, in the order a details window shows them.
const std::vector<ContactColumn>& DetailsColumns();

// The column a typed key names (either spelling, any case); nullopt when none.
std::optional<int> ColumnForKey(const std::string& key);

// The label of a column; "kolumna N" for one without a label.
std::string ColumnLabel(int column);

}  // namespace vask::host
