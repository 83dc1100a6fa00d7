#include "host/core/host_core.h"

#include <chrono>
#include <cstdio>

#include "host/core/record_decoder.h"

namespace vask::host {

namespace {

constexpr auto kThreadsEndWait = std::chrono::seconds(10);

HostMessage MakeMessage(int id, int params, intptr_t p1, intptr_t p2, intptr_t p3, intptr_t p4) {
  HostMessage m{};
  m.size = HostMessageSize(params);
  m.id = id;
  m.p1 = p1;
  m.p2 = p2;
  m.p3 = p3;
  m.p4 = p4;
  return m;
}

}  // namespace

HostCore::HostCore(HostOptions options)
    : options_(std::move(options)), tables_(options_.database, options_.computer) {}

HostCore::~HostCore() { UnloadAll(); }

int HostCore::Load(const std::string& path, bool freshCopy, std::string* error) {
  std::optional<PluginLibrary> library = OpenPluginLibrary(path, freshCopy, error);
  if (!library) return 0;
  auto loaded = std::make_unique<Loaded>();
  loaded->library = std::move(*library);
  vask::MutexLock lock(mutex_);
  loaded->id = nextPlugin_++;
  loaded->control = std::make_unique<PluginControl>(this, loaded->id);
  int id = loaded->id;
  plugins_[id] = std::move(loaded);
  return id;
}

HostCore::Loaded* HostCore::Find(int plugin) {
  auto it = plugins_.find(plugin);
  return it == plugins_.end() ? nullptr : it->second.get();
}

bool HostCore::Start(int plugin) {
  HostControl* control = Control(plugin);
  if (!control) return false;
  Call(plugin, kMsgSetControl, reinterpret_cast<intptr_t>(control));
  PluginIdentity identity;
  identity.net = Call(plugin, kMsgNetworkId);
  identity.capabilities = Call(plugin, kMsgNetworkFlags);
  identity.shortName = TextOf(Call(plugin, kMsgShortName));
  identity.displayName = TextOf(Call(plugin, kMsgDisplayName));
  identity.netName = TextOf(Call(plugin, kMsgNetworkName));
  identity.netName2 = TextOf(Call(plugin, kMsgNetworkNameAgain));
  identity.kind = TextOf(Call(plugin, kMsgHostWord));
  {
    vask::MutexLock lock(mutex_);
    if (Loaded* p = Find(plugin)) {
      p->identity = identity;
      p->started = true;
    }
  }
  Call(plugin, kMsgRegisterSettings);
  Call(plugin, kMsgRegisterInterface);
  Call(plugin, kMsgStart);
  return true;
}

void HostCore::Unload(int plugin) {
  bool stop = false;
  {
    vask::MutexLock lock(mutex_);
    Loaded* p = Find(plugin);
    if (!p) return;
    stop = p->started && !p->stopped;
    p->stopped = true;
  }
  // The plug-in's threads may still call in while it stops: it stays
  // findable until kMsgShutdown has returned.
  if (stop) Call(plugin, kMsgShutdown);
  std::unique_ptr<Loaded> gone;
  {
    vask::MutexLock lock(mutex_);
    if (!Find(plugin)) return;
    const auto deadline = std::chrono::steady_clock::now() + kThreadsEndWait;
    bool ended = false;
    for (bool waiting = true;;) {
      Loaded* q = Find(plugin);
      ended = !q || q->threads == 0;
      if (ended || !waiting) break;
      waiting = threadsChanged_.WaitUntil(mutex_, deadline);
    }
    auto it = plugins_.find(plugin);
    if (it == plugins_.end()) return;
    if (!ended) {
      std::fprintf(stderr, "vask-host: threads of plug-in %d did not end; it stays loaded\n",
                   plugin);
      return;
    }
    gone = std::move(it->second);
    plugins_.erase(it);
  }
  ClosePluginLibrary(gone->library);
}

void HostCore::UnloadAll() {
  for (int id : Plugins()) Unload(id);
}

std::vector<int> HostCore::Plugins() const {
  vask::MutexLock lock(mutex_);
  std::vector<int> ids;
  for (const auto& [id, p] : plugins_) ids.push_back(id);
  return ids;
}

std::optional<PluginIdentity> HostCore::Identity(int plugin) const {
  vask::MutexLock lock(mutex_);
  auto it = plugins_.find(plugin);
  if (it == plugins_.end()) return std::nullopt;
  return it->second->identity;
}

HostControl* HostCore::Control(int plugin) {
  vask::MutexLock lock(mutex_);
  Loaded* p = Find(plugin);
  return p ? p->control->control() : nullptr;
}

intptr_t HostCore::Call(int plugin, HostMessage* message) {
  MessageProc proc = nullptr;
  {
    vask::MutexLock lock(mutex_);
    if (Loaded* p = Find(plugin)) proc = p->library.proc;
  }
  return proc ? proc(message) : 0;
}

intptr_t HostCore::Call(int plugin, int id, intptr_t p1, intptr_t p2, intptr_t p3, intptr_t p4,
                        int params) {
  HostMessage m = MakeMessage(id, params, p1, p2, p3, p4);
  return Call(plugin, &m);
}

// --- hooks and counters ---

void HostCore::SetAnswer(int id, AnswerHook hook) {
  vask::MutexLock lock(mutex_);
  hooks_[id] = std::move(hook);
}

void HostCore::ClearAnswer(int id) {
  vask::MutexLock lock(mutex_);
  hooks_.erase(id);
}

void HostCore::SetEventSink(EventSink sink) {
  vask::MutexLock lock(mutex_);
  sink_ = std::move(sink);
}

void HostCore::SetPumpHandler(std::function<void()> handler) {
  vask::MutexLock lock(mutex_);
  pumpHandler_ = std::move(handler);
}

void HostCore::Emit(const std::string& event, const RecordedCall& call) {
  EventSink sink;
  {
    vask::MutexLock lock(mutex_);
    sink = sink_;
  }
  if (sink) sink(event, call);
}

size_t HostCore::pumpCount() const {
  vask::MutexLock lock(mutex_);
  return pumps_;
}

void HostCore::FailThreads(int count) {
  vask::MutexLock lock(mutex_);
  failThreads_ = count;
}

}  // namespace vask::host
