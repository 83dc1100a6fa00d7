// A second plug-in that uses ours as a LAN transport, as another plug-in of
// the host would: it subscribes (kMsgBusSubscribe), sends (kMsgBusSend),
// claims the commands it handles by answering their kMsgBusReceived, and
// keeps a record of every bus record it was offered so that tests can ask
// for it.
#include "tests/listener/bus_listener.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "abi/host_control.h"
#include "abi/host_ids.h"
#include "abi/host_records.h"

namespace {

using vask::BusEngineRecord;
using vask::BusReceivedRecord;
using vask::BusSendRecord;
using vask::BusSentRecord;
using vask::BusSubscribeRecord;
using vask::HostControl;
using vask::HostMessage;
namespace ids = vask::test_listener;

struct Seen {
  std::string command;  // "" for kMsgBusEngine
  int event = 0;        // kMsgBusEngine only
  int contact = -2;     // kMsgBusReceived only
  std::string target;   // kMsgBusSent only
  std::string fields;   // kMsgBusReceived: joined by '|'
};

// Notifications arrive on any thread of the plug-in, several at once; the
// lock is never held while calling into another plug-in.
std::mutex mutex;
HostControl* host = nullptr;
int transport = 0;  // the plug-in we subscribed to
std::set<std::string> claimed = {"PONG"};
std::map<int, std::vector<Seen>> seen;  // record id -> records

std::string TextOf(intptr_t value) {
  return value != 0 ? std::string(reinterpret_cast<const char*>(value)) : std::string();
}

intptr_t CopyOut(const std::string& text, intptr_t buffer, intptr_t size) {
  if (buffer == 0 || size <= 0) return -1;
  const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(reinterpret_cast<char*>(buffer), text.data(), n);
  reinterpret_cast<char*>(buffer)[n] = '\0';
  return static_cast<intptr_t>(n);
}

const Seen* LastWith(int id, const std::string& command) {
  const auto it = seen.find(id);
  if (it == seen.end()) return nullptr;
  for (auto r = it->second.rbegin(); r != it->second.rend(); ++r) {
    if (r->command == command) return &*r;
  }
  return nullptr;
}

intptr_t OnSent(const BusSentRecord* record) {
  Seen s;
  // The host runtime's string objects, read by their layout.
  if (record->command != nullptr) s.command = vask::ReadRuntimeString(*record->command);
  if (record->target != nullptr) s.target = vask::ReadRuntimeString(*record->target);
  std::lock_guard<std::mutex> guard(mutex);
  seen[vask::kMsgBusSent].push_back(std::move(s));
  return 0;
}

intptr_t OnReceived(const BusReceivedRecord* record) {
  Seen s;
  s.contact = record->contact;
  if (record->fields != nullptr) {
    const std::vector<std::string> fields = vask::ReadRuntimeList(*record->fields);
    if (fields.size() > 3) s.command = fields[3];
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i != 0) s.fields += '|';
      s.fields += fields[i];
    }
  }
  std::lock_guard<std::mutex> guard(mutex);
  const bool claim = claimed.count(s.command) != 0;
  seen[vask::kMsgBusReceived].push_back(std::move(s));
  return claim ? 1 : 0;
}

intptr_t OnEngine(const BusEngineRecord* record) {
  Seen s;
  s.event = record->event;
  std::lock_guard<std::mutex> guard(mutex);
  seen[vask::kMsgBusEngine].push_back(std::move(s));
  return 0;
}

intptr_t Subscribe(int plugin, int mask) {
  HostControl* control;
  {
    std::lock_guard<std::mutex> guard(mutex);
    control = host;
    transport = plugin;
  }
  if (control == nullptr) return 0;
  BusSubscribeRecord record{};
  record.size = sizeof record;
  record.id = vask::kMsgBusSubscribe;
  record.receiver = plugin;
  record.sender = control->PluginId();
  record.mask = mask;
  return control->SendToPlugin(plugin, reinterpret_cast<HostMessage*>(&record));
}

intptr_t Send(const HostMessage* message) {
  HostControl* control;
  int plugin;
  {
    std::lock_guard<std::mutex> guard(mutex);
    control = host;
    plugin = transport;
  }
  if (control == nullptr || plugin == 0) return 0;
  const std::string target = TextOf(message->p1);
  const std::string command = TextOf(message->p2);
  std::string body;
  if (message->p3 != 0) {
    body.assign(reinterpret_cast<const char*>(message->p3), static_cast<size_t>(message->p4));
  }
  // Built as any plug-in of the host builds it: the runtime's string objects.
  BusSendRecord record{};
  record.head.size = sizeof record;
  record.head.id = vask::kMsgBusSend;
  record.head.receiver = plugin;
  record.head.sender = control->PluginId();
  record.target = vask::RuntimeStringOver(target);
  record.command = vask::RuntimeStringOver(command);
  record.body = vask::RuntimeStringOver(body);
  return control->SendToPlugin(plugin, reinterpret_cast<HostMessage*>(&record));
}

intptr_t Count(intptr_t id, intptr_t filter) {
  std::lock_guard<std::mutex> guard(mutex);
  const auto it = seen.find(static_cast<int>(id));
  if (it == seen.end()) return 0;
  if (filter == 0) return static_cast<intptr_t>(it->second.size());
  intptr_t n = 0;
  for (const Seen& s : it->second) {
    if (id == vask::kMsgBusEngine ? s.event == filter : s.command == TextOf(filter)) ++n;
  }
  return n;
}

intptr_t Handle(HostMessage* message) {
  switch (message->id) {
    case vask::kMsgSetControl: {
      std::lock_guard<std::mutex> guard(mutex);
      host = reinterpret_cast<HostControl*>(message->p1);
      return 1;
    }
    case vask::kMsgBusSent:
      return OnSent(reinterpret_cast<const BusSentRecord*>(message));
    case vask::kMsgBusReceived:
      return OnReceived(reinterpret_cast<const BusReceivedRecord*>(message));
    case vask::kMsgBusEngine:
      return OnEngine(reinterpret_cast<const BusEngineRecord*>(message));
    case ids::kSubscribe:
      return Subscribe(static_cast<int>(message->p1), static_cast<int>(message->p2));
    case ids::kSend:
      return Send(message);
    case ids::kClaim: {
      std::lock_guard<std::mutex> guard(mutex);
      if (message->p2 != 0) {
        claimed.insert(TextOf(message->p1));
      } else {
        claimed.erase(TextOf(message->p1));
      }
      return 1;
    }
    case ids::kCount:
      return Count(message->p1, message->p2);
    case ids::kLastContact: {
      std::lock_guard<std::mutex> guard(mutex);
      const Seen* s = LastWith(vask::kMsgBusReceived, TextOf(message->p1));
      return s != nullptr ? s->contact : -2;
    }
    case ids::kLastSentTarget: {
      std::lock_guard<std::mutex> guard(mutex);
      const Seen* s = LastWith(vask::kMsgBusSent, TextOf(message->p1));
      return s != nullptr ? CopyOut(s->target, message->p2, message->p3) : -1;
    }
    case ids::kLastReceivedFields: {
      std::lock_guard<std::mutex> guard(mutex);
      const Seen* s = LastWith(vask::kMsgBusReceived, TextOf(message->p1));
      return s != nullptr ? CopyOut(s->fields, message->p2, message->p3) : -1;
    }
    case ids::kReset: {
      std::lock_guard<std::mutex> guard(mutex);
      seen.clear();
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) intptr_t IMessageProc(HostMessage* message) {
  if (message == nullptr) return 0;
  try {
    return Handle(message);
  } catch (...) {
    return 0;
  }
}
