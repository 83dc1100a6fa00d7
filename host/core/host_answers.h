// What the host does with each host message a plug-in sends it: how it
// decodes the record for the call log, its standard answer, and the host
// event that follows for the front end. One table, one row per message id;
// a message without a row is recorded without fields and answered 0.
#pragma once

#include <cstdint>

#include "host/core/call_log.h"
#include "host/core/details_windows.h"
#include "host/core/notices.h"
#include "host/core/plugin_declarations.h"
#include "host/core/plugin_reports.h"
#include "host/core/record_decoder.h"
#include "host/profile/host_tables.h"

namespace vask::host {

class HostCore;

// The parts of the host core the answers read and change.
struct AnswerContext {
  HostCore& core;  // contacts, the ignore list, kept texts
  HostTables& tables;
  PluginDeclarations& declared;
  PluginReports& reports;
  Notices& notices;
  DetailsWindows& details;
  bool verbose;  // print log lines to stderr
};

// The standard answer; it may add fields to the call (what the host did).
using AnswerHandler = intptr_t (*)(AnswerContext& parts, HostMessage* message, RecordedCall& call);

struct HostAnswer {
  int32_t id;
  RecordDecoder decode;  // null: the record carries nothing to decode
  AnswerHandler answer;  // null: recorded, answered 0
  const char* event;     // the host event that follows, or null
};

// The row of this host message id, or null.
const HostAnswer* FindHostAnswer(int32_t id);

}  // namespace vask::host
