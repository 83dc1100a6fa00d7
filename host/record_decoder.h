// Decodes the records a plug-in hands the host into RecordedCall fields,
// copying every text (bounded by its field where the record has one).
#pragma once

#include "host/call_log.h"

namespace vask::host {

// Copies the head and the parameters the record's size covers into
// call.message, and sets call.id.
void CopyHead(const HostMessage* message, RecordedCall& call);
// Adds the decoded fields of a host message (by its id) to call.fields.
void DecodeHostMessage(const HostMessage* message, RecordedCall& call);

void AddInt(RecordedCall& call, const char* name, long long value);
// A null pointer gives a kNull field.
void AddText(RecordedCall& call, const char* name, const char* text);
void AddBytes(RecordedCall& call, const char* name, const char* text, size_t limit);

// The number of parameters after the head that a record of this size holds.
int ParamCount(const HostMessage* message);

}  // namespace vask::host
