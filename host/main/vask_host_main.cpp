// vask-host: the stand-in host messenger. Loads the plug-in, runs its
// start sequence, and then reads one command a line from standard input
// (see ScriptHost) until "quit" or the end of input.
//
// Exit codes: 0 clean quit or end of input, 1 bad options, 2 the plug-in
// could not be loaded, 3 the profile was refused.
#include <fcntl.h>
#include <getopt.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "host/commands/script_host.h"
#include "host/core/host_core.h"
#include "host/events/host_event.h"
#include "host/terminal/line_editing.h"
#include "host/text/computer_name.h"
#include "host/text/text_codec.h"
#ifdef VASK_WEB_FACE
#include "host/web/web_server.h"
#endif

namespace {

using namespace vask;
using namespace vask::host;

constexpr const char* kUsage =
    "Użycie: vask-host [opcje]\n"
    "\n"
    "Komunikator-gospodarz: ładuje wtyczkę LAN w emulowanej sieci i przyjmuje polecenia\n"
    "po jednym w wierszu; na terminalu jako rozmowę (/help), w trybie skryptowym\n"
    "wypisując po jednym zdarzeniu JSON w wierszu.\n"
    "\n"
    "  --computer NAZWA   nazwa tego komputera (domyślnie $COMPUTERNAME, inaczej nazwa hosta);\n"
    "                     najwyżej 15 znaków Windows-1250, zapisywana wielkimi literami\n"
    "  --lan-dir KATALOG  katalog emulowanej sieci (domyślnie $VASK_LAN_DIR, inaczej\n"
    "                     ${XDG_RUNTIME_DIR:-/tmp}/vask-lan-<uid>)\n"
    "  --workgroup NAZWA  grupa robocza (domyślnie $VASK_WORKGROUP, inaczej WORKGROUP)\n"
    "  --profile PLIK     profil (domyślnie $XDG_DATA_HOME/vask/<KOMPUTER>.db, inaczej\n"
    "                     ~/.local/share/vask/<KOMPUTER>.db; \":memory:\" niczego nie zachowuje)\n"
    "  --plugin PLIK      biblioteka wtyczki (domyślnie libvask.so obok vask-host)\n"
    "  --script           tryb skryptowy (wybierany też, gdy wejście nie jest terminalem)\n"
    "  --verbose          także dziennik wtyczki (na stderr) i wywołania usług\n"
    "  --away-after SEK   na terminalu: po tylu sekundach bez klawisza wtyczka dowiaduje się,\n"
    "                     że jesteś nieobecny (domyślnie 600; 0 nigdy)\n"
    "  --real-lan         prawdziwa sieć przez vask-bridge (VASK_REAL_LAN=1); uruchamia\n"
    "                     mostek, gdy żaden jeszcze nie obsługuje katalogu sieci\n"
    "  --web[=PORT]       także strona w przeglądarce na 127.0.0.1 (PORT, inaczej wolny) pod\n"
    "                     adresem wypisanym na starcie; koniec wejścia wtedy niczego nie kończy\n"
    "  --help             ten tekst\n"
    "\n"
    "Polecenia trybu skryptowego: help je wymienia.\n"
    "\n"
    "Kody wyjścia: 0 quit albo koniec wejścia, 1 złe opcje, 2 nie dało się załadować wtyczki,\n"
    "3 profil odrzucony.\n";

std::string ExecutableDir() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "." : exe.parent_path().string();
}

// The folder of the plug-in's library, absolute, with a final separator.
std::string HostFolder(const std::string& plugin) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(plugin, error);
  if (error) path = plugin;
  std::string folder = path.parent_path().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string DefaultProfile(const std::string& computer) {
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/share";
  } else {
    base = ".";
  }
  return base + "/vask/" + computer + ".db";
}

std::string LocalComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "LOCALHOST";
  return name;
}

// The LAN directory as the emulated LAN uses it (VASK_LAN_DIR, else the
// runtime folder's vask-lan-<uid>).
std::string LanDirectory() {
  const char* lanEnv = std::getenv("VASK_LAN_DIR");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return lanEnv && *lanEnv ? lanEnv
                           : std::string(runtime && *runtime ? runtime : "/tmp") + "/vask-lan-" +
                                 std::to_string(getuid());
}

// The emulated LAN refuses a directory that others could enter or that
// belongs to someone else; the plug-in would only say it could not make its
// slots. Said here, before anything starts, with what to do.
std::string LanDirectoryProblem() {
  const std::string lan = LanDirectory();
  struct stat info {};
  if (lstat(lan.c_str(), &info) != 0) return {};  // made when first used
  if (!S_ISDIR(info.st_mode)) return "katalog sieci " + lan + " nie jest katalogiem";
  if (info.st_uid != geteuid()) return "katalog sieci " + lan + " należy do kogoś innego";
  if ((info.st_mode & 077) != 0) {
    return "katalog sieci " + lan + " jest dostępny dla innych; popraw to: chmod 700 " + lan;
  }
  return {};
}

// The real LAN: one vask-bridge per machine owns the NetBIOS ports and
// listens on <LAN>/.bridge. Starts one (beside vask-host, else from PATH)
// when none answers there, and waits until it does; it outlives this host.
bool EnsureBridge() {
  const std::string lan = LanDirectory();
  std::string socketPath = lan + "/.bridge";
  auto listening = [&socketPath] {
    sockaddr_un address{};
    if (socketPath.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    return ok;
  };
  if (listening()) return true;
  mkdir(lan.c_str(), 0700);
  std::string log = lan + "/.bridge.log";
  std::string beside = ExecutableDir() + "/vask-bridge";
  pid_t child = fork();
  if (child == 0) {
    setsid();
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    int none = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    if (none >= 0) dup2(none, 0);
    execl(beside.c_str(), "vask-bridge", "--lan-dir", lan.c_str(), static_cast<char*>(nullptr));
    execlp("vask-bridge", "vask-bridge", "--lan-dir", lan.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child < 0) {
    std::fprintf(stderr, "vask-host: nie da się uruchomić vask-bridge\n");
    return false;
  }
  for (int i = 0; i < 100; ++i) {
    if (listening()) return true;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) break;  // it gave up: its log says why
    usleep(50000);
  }
  std::fprintf(stderr, "vask-host: vask-bridge nie wystartował; zobacz %s\n", log.c_str());
  return false;
}

// Lines read by the reader thread, run by the main thread: from its loop,
// or from inside a long call into the plug-in (a search waits in kMsgSearch,
// pumping), so that "cancel" and other commands still work meanwhile.
class LineQueue {
 public:
  void Push(std::string line) {
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(std::move(line));
    }
    changed_.notify_all();
  }
  void Close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
  }
  // The next line; nullopt once closed and empty. `wait` false: never blocks.
  std::optional<std::string> Pop(bool wait) {
    std::unique_lock lock(mutex_);
    if (wait) changed_.wait(lock, [this] { return closed_ || !lines_.empty(); });
    if (lines_.empty()) return std::nullopt;
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }
  bool Closed() {
    std::lock_guard lock(mutex_);
    return closed_ && lines_.empty();
  }
  // Lines wait, or the input has ended: something for the main thread to do.
  bool Pending() {
    std::lock_guard lock(mutex_);
    return closed_ || !lines_.empty();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool closed_ = false;
};

// Input posted to the main thread to wake a plug-in that waits pumping.
constexpr UINT kCommandWake = 0x8001;

}  // namespace

int main(int argc, char** argv) {
  std::string computer, lanDir, workgroup, profile, plugin;
  bool script = false, verbose = false;
  TerminalOptions terminalOptions;
  int webPort = -1;  // -1: no web face; 0: a free port
  static const option kOptions[] = {{"computer", required_argument, nullptr, 'c'},
                                    {"lan-dir", required_argument, nullptr, 'l'},
                                    {"workgroup", required_argument, nullptr, 'w'},
                                    {"profile", required_argument, nullptr, 'p'},
                                    {"plugin", required_argument, nullptr, 'P'},
                                    {"script", no_argument, nullptr, 's'},
                                    {"verbose", no_argument, nullptr, 'v'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"real-lan", no_argument, nullptr, 'R'},
                                    {"away-after", required_argument, nullptr, 'a'},
                                    {"web", optional_argument, nullptr, 'W'},
                                    {nullptr, 0, nullptr, 0}};
  for (;;) {
    int c = getopt_long(argc, argv, "", kOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'c':
        computer = optarg;
        break;
      case 'l':
        lanDir = optarg;
        break;
      case 'w':
        workgroup = optarg;
        break;
      case 'p':
        profile = optarg;
        break;
      case 'P':
        plugin = optarg;
        break;
      case 's':
        script = true;
        break;
      case 'v':
        verbose = true;
        break;
      case 'a': {
        char* end = nullptr;
        const long seconds = std::strtol(optarg, &end, 10);
        if (*optarg == '\0' || *end != '\0' || seconds < 0 || seconds > 86400 * 7) {
          std::fprintf(stderr, "vask-host: --away-after przyjmuje sekundy (0 do 604800): %s\n",
                       optarg);
          return 1;
        }
        terminalOptions.awaySeconds = static_cast<int>(seconds);
        break;
      }
      case 'R':
        setenv("VASK_REAL_LAN", "1", 1);
        break;
      case 'W': {
        char* end = nullptr;
        long port = optarg ? std::strtol(optarg, &end, 10) : 0;
        if (optarg && (*optarg == '\0' || *end != '\0' || port < 1 || port > 65535)) {
          std::fprintf(stderr, "vask-host: to nie jest numer portu: %s\n", optarg);
          return 1;
        }
        webPort = static_cast<int>(port);
        break;
      }
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      default:
        std::fputs(kUsage, stderr);
        return 1;
    }
  }
#ifndef VASK_WEB_FACE
  if (webPort >= 0) {
    std::fprintf(stderr, "vask-host: this build has no web face (VASK_WEB_FACE off)\n");
    return 1;
  }
#endif
  if (optind < argc) {
    std::fprintf(stderr, "vask-host: nieoczekiwany argument: %s\n", argv[optind]);
    return 1;
  }
  if (!computer.empty()) {
    // The plug-in reads the name as Windows-1250 and in capitals, as
    // Windows keeps it; UTF-8 bytes on the wire would be another name.
    auto name = ComputerNameFromUtf8(computer);
    if (!name) {
      std::fprintf(stderr, "vask-host: %s\n", NotAComputerName(computer).c_str());
      return 1;
    }
    setenv("COMPUTERNAME", name->c_str(), 1);
  }
  if (!lanDir.empty()) setenv("VASK_LAN_DIR", lanDir.c_str(), 1);
  if (std::string why = LanDirectoryProblem(); !why.empty()) {
    std::fprintf(stderr, "vask-host: %s\n", why.c_str());
    return 1;
  }
  if (!workgroup.empty()) setenv("VASK_WORKGROUP", workgroup.c_str(), 1);
  if (const char* real = std::getenv("VASK_REAL_LAN");
      real && *real && std::strcmp(real, "0") != 0) {
    if (!EnsureBridge()) return 1;
  }
  const std::string computerCp1250 = LocalComputerName();
  computer = Cp1250ToUtf8(computerCp1250);
  if (plugin.empty()) plugin = ExecutableDir() + "/libvask.so";
  if (profile.empty()) {
    profile = DefaultProfile(computer);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(profile).parent_path(), error);
  }
  if (!script && !isatty(STDIN_FILENO)) script = true;

  // Blocked before any thread starts, so that every thread inherits it.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  HostOptions options;
  options.database = profile;
  options.computer = computerCp1250;  // the own entry's id, as the plug-in reads it
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
                   .Str("name", identity ? Cp1250ToUtf8(identity->displayName) : ""));
    if (terminal) queue->Push("contacts");
    bool quitting = false;
    auto runLine = [&](const std::string& line) {
      if (quitting) return;
      if (!host.Run(line)) quitting = true;
    };
    // Inside a call that pumps (a search), the commands that came meanwhile
    // run on this thread; quitting then presses Cancel so the call ends.
    core.SetPumpHandler([&] {
      if (GetCurrentThreadId() != mainThread) return;
      while (auto line = queue->Pop(false)) runLine(*line);
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
      auto line = queue->Pop(true);
      if (!line) break;
      // The loop above drained the wakes posted for lines still queued: a
      // line that waits pumping (a search) would then never be woken for
      // them, so the queue's own wake is posted again before it runs.
      if (queue->Pending()) PostThreadMessageA(mainThread, kCommandWake, 0, 0);
      runLine(*line);
    }
    core.SetPumpHandler(nullptr);
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
