// vask-host: the stand-in host messenger. Loads the plug-in, runs its
// start sequence, and then reads one command a line from standard input
// (see ScriptHost) until "quit" or the end of input.
//
// Exit codes: 0 clean quit or end of input, 1 bad options, 2 the plug-in
// could not be loaded, 3 the profile was refused.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "host/commands/script_host.h"
#include "host/core/host_core.h"
#include "host/events/host_event.h"
#include "host/main/bridge_launch.h"
#include "host/main/bridge_watch.h"
#include "host/main/program_options.h"
#include "host/profile/profile_lock.h"
#include "host/terminal/line_editing.h"
#include "host/text/text_codec.h"
#include "mutex.h"
#ifdef VASK_WEB_FACE
#include "host/web/web_server.h"
#endif

namespace {

using namespace vask;
using namespace vask::host;

// Lines read by the reader thread, run by the main thread: from its loop,
// or from inside a long call into the plug-in (a search waits in kMsgSearch,
// pumping), so that "cancel" and other commands still work meanwhile.
class LineQueue {
 public:
  void Push(std::string line) EXCLUDES(mutex_) {
    {
      vask::MutexLock lock(mutex_);
      lines_.push_back(std::move(line));
    }
    changed_.NotifyAll();
  }
  void Close() EXCLUDES(mutex_) {
    {
      vask::MutexLock lock(mutex_);
      closed_ = true;
    }
    changed_.NotifyAll();
  }
  // The next line; nullopt once closed and empty, or when `wait` has passed
  // with none (zero: never blocks).
  std::optional<std::string> Pop(std::chrono::milliseconds wait) EXCLUDES(mutex_) {
    vask::MutexLock lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!closed_ && lines_.empty() && changed_.WaitUntil(mutex_, deadline)) {
    }
    if (lines_.empty()) return std::nullopt;
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }
  bool Closed() EXCLUDES(mutex_) {
    vask::MutexLock lock(mutex_);
    return closed_ && lines_.empty();
  }
  // Lines wait, or the input has ended: something for the main thread to do.
  bool Pending() EXCLUDES(mutex_) {
    vask::MutexLock lock(mutex_);
    return closed_ || !lines_.empty();
  }

 private:
  vask::Mutex mutex_;
  vask::CondVar changed_;  // a line was pushed, or the input ended
  std::deque<std::string> lines_ GUARDED_BY(mutex_);
  bool closed_ GUARDED_BY(mutex_) = false;
};

// Input posted to the main thread to wake a plug-in that waits pumping.
constexpr UINT kCommandWake = 0x8001;

}  // namespace

int main(int argc, char** argv) {
  ProgramOptions program;
  if (int code = ParseOptions(argc, argv, &program); code != kGoOn) return code;
  if (int code = ApplyToEnvironment(program); code != kGoOn) return code;
  const char* real = std::getenv("VASK_REAL_LAN");
  const bool realLan = real && *real && std::strcmp(real, "0") != 0;
  pid_t bridgeChild = -1;
  if (realLan && !EnsureBridge(&bridgeChild)) return 1;
  ResolveDefaults(&program);
  const std::string& computer = program.computer;
  const std::string& profile = program.profile;
  const std::string& plugin = program.plugin;
  const bool script = program.script, verbose = program.verbose;
  const TerminalOptions terminalOptions = program.terminal;
  const int webPort = program.webPort;

  // Blocked before any thread starts, so that every thread inherits it.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  // Before the profile is opened: a second host on it is refused untouched.
  ProfileLock profileLock(profile);
  if (!profileLock.ok()) {
    std::fprintf(stderr, "vask-host: %s\n", profileLock.error().c_str());
    return 3;
  }
  HostOptions options;
  options.database = profile;
  options.computer = program.computerCp1250;  // the own entry's id, as the plug-in reads it
  options.verbose = verbose;
  HostCore core(options);
  if (!core.ok()) {
    std::fprintf(stderr, "vask-host: %s\n", core.error().c_str());
    return 3;
  }
  // A new profile: restore the last status at the next start, and show
  // delivery notices.
  HostTables& tables = core.tables();
  if (!tables.HasValue(kTableSettings, 0, kSettingRestoreStatus)) {
    core.SetSetting(kSettingRestoreStatus, 1);
  }
  if (!tables.HasValue(kTableSettings, 0, kSettingNotices)) core.SetSetting(kSettingNotices, 1);
  // The host's folder, where the plug-in's help document lies (the build
  // puts doc/ beside the library), as the host knows it at this start. It
  // ends with a separator: the plug-in appends "doc/Vask.html" to it as is.
  core.SetSettingText(kSettingHostFolder, HostFolder(plugin));

  std::string error;
  int id = core.Load(plugin, false, &error);
  if (!id) {
    std::fprintf(stderr, "vask-host: nie da się załadować wtyczki: %s\n", error.c_str());
    return 2;
  }
  int exitCode = 0;
  {
    // On a terminal the events go to the front end's thread, which shows
    // them as text; it takes them from before the start sequence on.
    const bool terminal = !script;
    EventQueue shown;
    const DWORD mainThread = GetCurrentThreadId();
    // Shared with the reader, which may outlive this scope.
    auto queue = std::make_shared<LineQueue>();
    std::thread front;
    if (terminal) {
      front = std::thread([queue, mainThread, &shown, terminalOptions] {
        RunTerminal(
            shown,
            [&](const std::string& command) {
              queue->Push(command);
              PostThreadMessageA(mainThread, kCommandWake, 0, 0);
            },
            terminalOptions);
      });
    }
#ifdef VASK_WEB_FACE
    // The page's commands join the typed ones; it outlives the ScriptHost
    // below, whose last events it still takes.
    std::unique_ptr<WebServer> web;
    if (webPort >= 0) {
      web = std::make_unique<WebServer>([queue, mainThread](std::string line) {
        queue->Push(std::move(line));
        PostThreadMessageA(mainThread, kCommandWake, 0, 0);
      });
      std::string webError;
      if (!web->Start(webPort, &webError)) {
        std::fprintf(stderr, "vask-host: %s\n", webError.c_str());
        core.Unload(id);
        if (terminal) {
          shown.Close();
          front.join();
        }
        return 1;
      }
      std::fprintf(stderr, "vask-host: strona: %s\n", web->url().c_str());
    }
#endif
    ScriptHost host(core, id, verbose);
    if (terminal) {
      host.AddOutput([&shown](const EventJson& event) { shown.Push(event); });
    } else {
      host.AddOutput(LinesTo(stdout));
    }
#ifdef VASK_WEB_FACE
    if (web) {
      host.AddOutput([&web](const EventJson& event) { web->Publish(event); });
      host.Write(Event("web").Str("url", web->url()).Int("port", web->port()));
    }
#endif
    // The bridge may die under a running host: the person hears of it in
    // either face, and of its return.
    std::unique_ptr<BridgeWatch> bridgeWatch;
    if (realLan) {
      bridgeWatch = std::make_unique<BridgeWatch>(
          LanDirectory(), bridgeChild, [&host](bool back, const std::string& text) {
            host.Write(Event("message-box")
                           .Int("id", back ? kMsgInfoBox : kMsgErrorBox)
                           .Str("title", "Sieć")
                           .Str("text", text)
                           .Str("bridge", back ? "up" : "down"));
          });
    }
    core.Start(id);
    auto identity = core.Identity(id);
    const char* lan = std::getenv("VASK_LAN_DIR");
    const char* group = std::getenv("VASK_WORKGROUP");
    host.Write(Event()
                   .Str("event", "started")
                   .Str("computer", computer)
                   .Str("workgroup", group && *group ? group : "WORKGROUP")
                   .Str("lanDir", lan ? lan : "")
                   .Str("profile", profile)
                   .Str("plugin", plugin)
                   .Int("pluginId", id)
                   .Int("net", identity ? identity->net : 0)
                   .Str("name", identity ? Cp1250ToUtf8(identity->displayName) : "")
                   .Int("awayAfter", terminalOptions.awaySeconds));
    if (terminal) queue->Push("contacts");
    bool quitting = false;  // owned by the main thread (the pump handler runs only there)
    auto runLine = [&](const std::string& line) {
      if (quitting) return;
      if (!host.Run(line)) quitting = true;
    };
    // Inside a call that pumps (a search), the commands that came meanwhile
    // run on this thread; quitting then presses Cancel so the call ends.
    core.SetPumpHandler([&] {
      if (GetCurrentThreadId() != mainThread) return;
      while (auto line = queue->Pop(std::chrono::milliseconds(0))) runLine(*line);
      if (quitting || queue->Closed()) {
        // The notice may open only after this pump (the search's thread
        // shows it): keep waking this wait until a Cancel found one.
        if (core.PressCancel() == 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          PostThreadMessageA(mainThread, kCommandWake, 0, 0);
        }
      }
    });
    // SIGTERM and SIGHUP end the session as "quit" does (blocked in every
    // thread; one thread takes them).
    std::thread([queue, mainThread, signals] {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0) return;
      queue->Push("quit");
      PostThreadMessageA(mainThread, kCommandWake, 0, 0);
    }).detach();
    if (!terminal)
      std::thread([queue, mainThread, webFace = webPort >= 0] {
        std::string line;
        while (true) {
          if (!std::getline(std::cin, line)) break;
          queue->Push(line);
          PostThreadMessageA(mainThread, kCommandWake, 0, 0);
        }
        // With the web face the page keeps the session going: "quit", SIGTERM
        // or SIGHUP end it.
        if (!webFace) queue->Close();
        PostThreadMessageA(mainThread, kCommandWake, 0, 0);
      }).detach();  // it may still wait on a terminal after "quit"
    while (!quitting) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      }
      // While a details fetch waits for its reply, woken once a second so
      // that it ends by itself when none reaches it in time.
      auto line = queue->Pop(host.detailsFetches().Waiting() ? std::chrono::seconds(1)
                                                             : std::chrono::hours(24));
      if (!line) {
        if (queue->Closed()) break;
        host.Tick();
        continue;
      }
      // The loop above drained the wakes posted for lines still queued: a
      // line that waits pumping (a search) would then never be woken for
      // them, so the queue's own wake is posted again before it runs.
      if (queue->Pending()) PostThreadMessageA(mainThread, kCommandWake, 0, 0);
      runLine(*line);
    }
    core.SetPumpHandler(nullptr);
    bridgeWatch.reset();
    // Leaving is announced: the plug-in tells the LAN the computer went
    // offline before it ends, or peers would list it as reachable on.
    if (core.ownStatus().status != kStatusOffline) {
      intptr_t answer = core.Call(id, kMsgSetStatus, kStatusOffline, 0);
      host.Write(Event().Str("event", "answer").Int("id", kMsgSetStatus).Int("answer", answer));
    }
    core.Unload(id);
    host.Write(Event().Str("event", "quit").Int("code", exitCode));
    if (terminal) {
      shown.Close();  // the front end ends once it has shown the rest
      front.join();
    }
  }
  return exitCode;
}
