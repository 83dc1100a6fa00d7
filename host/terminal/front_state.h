// What vask-host's terminal front end remembers between lines: the contact
// names (for completion and for naming status changes), the current
// partner, whom a line without a leading "/" goes to, the last one who
// wrote (whom "/r" answers), the own computer and status, and the labels of
// the settings page. Typed lines and events both update it; the terminal
// thread alone uses it.
#pragma once

#include <map>
#include <set>
#include <string>

namespace vask::host {

struct FrontState {
  std::map<long long, std::string> contacts;  // contact id -> computer
  std::string partner;
  std::string lastSender;
  std::string computer;
  int ownStatus = 0;
  std::string ownText;                             // the own status's description
  std::map<long long, std::string> settingLabels;  // settings column -> its label on the page
  std::set<long long> checkBoxes;                  // the settings the page shows as check boxes
};

}  // namespace vask::host
