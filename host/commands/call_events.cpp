#include "host/commands/call_events.h"

#include <cstdlib>

#include "abi/host_ids.h"
#include "host/text/text_codec.h"

namespace vask::host {

void AddFields(Event& line, const RecordedCall& call) {
  for (const Field& f : call.fields) {
    switch (f.kind) {
      case Field::kInt:
        line.Int(f.name, std::strtoll(f.value.c_str(), nullptr, 10));
        break;
      case Field::kText:
        line.Str(f.name, Cp1250ToUtf8(f.value));
        break;
      case Field::kNull:
        line.Null(f.name);
        break;
    }
  }
}

std::optional<Event> CallEvent(const RecordedCall& call, bool verbose) {
  if (!call.IsHostMessage() && call.service != "SendToPlugin" && !verbose) return std::nullopt;
  Event line;
  if (call.IsHostMessage()) {
    line.Str("event", "host-message").Int("id", call.id);
  } else if (call.service == "SendToPlugin") {
    line.Str("event", "to-plugin").Int("id", call.id);
  } else {
    line.Str("event", "service").Str("service", call.service);
    line.Int("a1", call.message.p1).Int("a2", call.message.p2).Int("a3", call.message.p3);
  }
  line.Int("thread", call.thread).Int("answer", call.answer);
  // kMsgDefineColumn carries a ColumnDef, whose bytes are no parameters.
  if (call.IsHostMessage() && call.id != kMsgDefineColumn) {
    line.Int("p1", call.message.p1).Int("p2", call.message.p2);
  }
  AddFields(line, call);
  return line;
}

Event HostEventOf(const std::string& name, const RecordedCall& call) {
  Event line;
  line.Str("event", name).Int("id", call.id);
  AddFields(line, call);
  return line;
}

}  // namespace vask::host
