// Decodes the records a plug-in hands the host into RecordedCall fields,
// copying every text (bounded by its field where the record has one). Which
// decoder a host message gets is a column of the host's answer table
// (host_answers.h).
#pragma once

#include <string>

#include "host/core/call_log.h"

namespace vask::host {

// Copies the head and the parameters the record's size covers into
// call.message, and sets call.id.
void CopyHead(const HostMessage* message, RecordedCall& call);

void AddInt(RecordedCall& call, const char* name, long long value);
// A null pointer gives a kNull field.
void AddText(RecordedCall& call, const char* name, const char* text);
void AddBytes(RecordedCall& call, const char* name, const char* text, size_t limit);

// The number of parameters after the head that a record of this size holds.
int ParamCount(const HostMessage* message);
// A text parameter as a string; "" for a null pointer.
std::string TextOf(intptr_t p);

// The decoders, each for the records named; `message` is not null.
using RecordDecoder = void (*)(const HostMessage* message, RecordedCall& call);
void DecodeLog(const HostMessage* message, RecordedCall& call);            // p1 text, p2 level
void DecodeShownMessage(const HostMessage* message, RecordedCall& call);   // p1 MessageRecord
void DecodeMessageQuery(const HostMessage* message, RecordedCall& call);   // p1 MessageQuery
void DecodeSendResult(const HostMessage* message, RecordedCall& call);     // p1 id, p2 sent
void DecodeAddress(const HostMessage* message, RecordedCall& call);        // p1 net, p2 address
void DecodeContactStatus(const HostMessage* message, RecordedCall& call);  // p1 row, p2, p3
void DecodeOwnStatus(const HostMessage* message, RecordedCall& call);      // p2 status, p3 text
void DecodeColumn(const HostMessage* message, RecordedCall& call);         // the ColumnDef itself
void DecodeItem(const HostMessage* message, RecordedCall& call);           // p1 ActionInfo
void DecodeItemRef(const HostMessage* message, RecordedCall& call);        // p1 ActionRef
void DecodeIcon(const HostMessage* message, RecordedCall& call);           // p1 IconRecord
void DecodeMessageBox(const HostMessage* message, RecordedCall& call);     // p1 text, p3 title
void DecodeNotice(const HostMessage* message, RecordedCall& call);         // p1 SearchStatusRecord
void DecodeContactRow(const HostMessage* message, RecordedCall& call);     // p1 row
void DecodeFound(const HostMessage* message, RecordedCall& call);          // p1 FoundContact

}  // namespace vask::host
