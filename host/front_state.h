// What vask-host's terminal front end remembers between lines: the contact
// names (for completion and for naming status changes), the current
// partner, whom a line without a leading "/" goes to, and the own computer.
// Typed lines and event lines both update it; the terminal thread alone
// uses it.
#pragma once

#include <map>
#include <string>

namespace vask::host {

struct FrontState {
  std::map<long long, std::string> contacts;  // contact id -> computer
  std::string partner;
  std::string computer;
};

}  // namespace vask::host
