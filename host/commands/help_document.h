// "help-document": the plug-in's help document (doc/Vask.html below the
// host's folder, setting 3) opened on this computer with the desktop's
// opener, for the terminal's /pomoc. The web face opens it in its browser
// instead (the server serves it at /doc/Vask.html).
#pragma once

#include <string>
#include <vector>

#include "host/commands/script_host.h"

namespace vask::host {

// Opens the document; the opener's own output is silenced. A
// "help-document" event follows: `path`, `opened`, and when nothing could
// open it, `reason` in Polish.
void RunHelpDocument(ScriptHost& host, const std::vector<std::string>& words);

}  // namespace vask::host
