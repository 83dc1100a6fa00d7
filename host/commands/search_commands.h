// vask-host's search commands (search, results, the details fetch, publish,
// own): rows of the command table (command_table.h).
#pragma once

#include <string>
#include <vector>

#include "host/commands/script_host.h"
#include "host/core/host_core.h"

namespace vask::host {

// "search [key=value ...]": returns when the search has ended. Called on the
// main thread, which runs the commands that come meanwhile from inside it.
void RunSearch(ScriptHost& host, const std::vector<std::string>& words);
void RunResults(ScriptHost& host, const std::vector<std::string>& words);
// "details <computer>": opens the contact's details window and asks the
// plug-in to fetch its details; without a reply within the bound of
// DetailsFetches, "details-unanswered" follows.
void FetchDetails(ScriptHost& host, const std::string& computer);
void RunPublish(ScriptHost& host, const std::vector<std::string>& words);
void RunOwn(ScriptHost& host, const std::vector<std::string>& words);
// A "details-unanswered" event for each fetch that has waited out its bound.
void ExpireDetailsFetches(ScriptHost& host);
// The "details-updated" event after the plug-in wrote a details window.
void InstallSearchEvents(ScriptHost& host, HostCore& core);

}  // namespace vask::host
