// The plug-in's notice that a message was not delivered ends in a Windows
// error code ("... [53]"). Both faces show it as what happened and what to
// do, in Polish, with the code kept in brackets after the words.
#pragma once

#include <string>

namespace vask::host {

// The notice `body` (UTF-8) as the faces show it; "" when it ends in no
// error code.
std::string ExplainNotice(const std::string& body);

}  // namespace vask::host
