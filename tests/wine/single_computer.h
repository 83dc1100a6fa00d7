// The Wine test host's first half: one copy of vask.dll on the system's own
// mailslots (see single_computer.cpp for what it drives).
#pragma once

#include <string>

namespace wine {

void RunSingleComputer(const std::string& dll);

}  // namespace wine
