// The contact columns, in one table: the number of each (abi/host_ids.h),
// the word commands name it by ("imie=Ala"), its Polish label, the search
// form's field for it, and whether the own details hold it. The details window, the own
// details, the search form and the tables that show them all take them
// from here.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vask::host {

struct ContactColumn {
  int column;               // the contact table's column (abi/host_ids.h)
  const char* key;          // as a command names it (ASCII; the Polish spelling is taken
                            // too); null: commands name it by its number only
  const char* label;        // as a table heads it; null: "kolumna N"
  const char* searchField;  // the search form's field it fills; null: not searched
  bool number;              // holds a number (a year in the upper bits, a gender)
  bool own;                 // one of the own entry's details
};

// The columns a details window shows, in its order: every column a person
// reads or types.
std::span<const ContactColumn> ContactColumns();

// The column a typed key names (either spelling, any case); nullopt when none.
std::optional<int> ColumnForKey(const std::string& key);

// The row of a column, or null when the table has none for it.
const ContactColumn* FindContactColumn(int column);

// The columns a value given for a column is kept in, the column first: the
// city also fills the column a query's city is matched against, so that a
// search by city finds a person whichever face set it.
std::vector<int> ColumnsFilledBy(int column);

// The label of a column; "kolumna N" for one without a label.
std::string ColumnLabel(int column);

}  // namespace vask::host
