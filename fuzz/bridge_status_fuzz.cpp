// Fuzz target for node status: the first byte picks what the rest is
// (even: a name service packet the bridge receives, odd: the data of a
// node status answer). Properties checked beyond "no crash":
//  - an answer the bridge sends decodes, answers the request's id and
//    names only the bridge's own names and its workgroup;
//  - node status data that decode re-encode to an answer that decodes to
//    the same names, flags and unit id.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bridge/bridge_core.h"
#include "bridge/name_packet.h"
#include "bridge/node_status.h"

namespace {

using namespace vask::bridge;

constexpr uint32_t kOwnIp = 0x0A000001;
constexpr uint32_t kPeerIp = 0x0A000002;

void Check(bool condition) {
  if (!condition) std::abort();
}

bool OursOrWorkgroup(const NetbiosName& name) {
  std::string n = CanonicalName(name.name);
  return n == "ALPHA" || n == "BETA" || n == "WORKGROUP";
}

void RoundTrip(const NodeStatus& status) {
  if (status.names.size() > kMaxStatusNames) return;
  std::vector<uint8_t> packet;
  if (!BuildNodeStatusResponse(7, MakeName("*", 0), status, &packet)) return;
  Check(packet.size() <= 576);
  NamePacket p;
  Check(DecodeNamePacket(packet.data(), packet.size(), &p).ok());
  Check(p.hasRecord && p.recordType == kTypeNbstat);
  NodeStatus back;
  Check(DecodeNodeStatus(p.recordData.data(), p.recordData.size(), &back).ok());
  Check(back.names.size() == status.names.size() && back.unitId == status.unitId);
  for (size_t i = 0; i < back.names.size(); ++i) {
    Check(NamesMatch(back.names[i].name,
                     MakeName(status.names[i].name.name, status.names[i].name.suffix)));
    Check(back.names[i].flags == status.names[i].flags);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const uint8_t* data = input + 1;
  const size_t length = size - 1;

  if (input[0] & 1) {
    NodeStatus status;
    if (DecodeNodeStatus(data, length, &status).ok()) RoundTrip(status);
    return 0;
  }

  std::vector<std::vector<uint8_t>> answers;
  BridgeConfig config;
  config.ip = kOwnIp;
  config.broadcast = 0x0A0000FF;
  config.mac = {2, 0, 0, 0, 0, 1};
  BridgeIo io;
  io.sendUdp = [&](uint16_t, uint32_t ip, uint16_t, const std::vector<uint8_t>& out) {
    if (ip == kPeerIp) answers.push_back(out);
  };
  io.deliver = [](const std::string&, const std::string&, const std::vector<uint8_t>&) {
    return Delivery::kDelivered;
  };
  io.log = [](const std::string&) {};
  BridgeCore core(config, io);
  core.SetServedComputers({"ALPHA", "BETA"}, 0);
  for (Millis t = 0; t <= 1000; t += 250) core.OnTimer(t);

  NamePacket request;
  bool decoded = DecodeNamePacket(data, length, &request).ok();
  core.OnNamePacket(data, length, kPeerIp, 137, 2000);
  for (const std::vector<uint8_t>& answer : answers) {
    Check(decoded && !request.response());
    NamePacket p;
    Check(DecodeNamePacket(answer.data(), answer.size(), &p).ok());
    Check(p.id == request.id);
    if (p.recordType != kTypeNbstat) continue;  // a name query's or a defence's answer
    Check(request.questionType == kTypeNbstat);
    NodeStatus status;
    Check(DecodeNodeStatus(p.recordData.data(), p.recordData.size(), &status).ok());
    Check(!status.names.empty() && status.unitId == config.mac);
    for (const StatusEntry& e : status.names) Check(OursOrWorkgroup(e.name));
  }
  return 0;
}
