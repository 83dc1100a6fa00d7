#include "transport/lan_engine.h"

namespace vask {

LanEngine::LanEngine() {
  InitializeCriticalSection(&lock);
  InitializeCriticalSection(&textLock);
  InitializeCriticalSection(&listenersLock);
}

LanEngine::~LanEngine() {
  DeleteCriticalSection(&listenersLock);
  DeleteCriticalSection(&textLock);
  DeleteCriticalSection(&lock);
}

bool LanEngine::Start() { return false; }
void LanEngine::Stop(bool) {}
bool LanEngine::SendPacket(const std::string&, const std::string&, const std::string&) {
  return false;
}

std::string LanEngine::StatusInfo() const { return statusInfo; }
void LanEngine::SetStatusInfo(const std::string& text) { statusInfo = text; }
std::string LanEngine::CloakName() const { return cloakName; }
void LanEngine::SetCloakName(const std::string& name) { cloakName = name; }
std::string LanEngine::ChannelName() const { return channelName; }

namespace {
LanEngine engine;
}  // namespace

LanEngine& Engine() { return engine; }

}  // namespace vask
