#include "host/main/program_options.h"

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/commands/command_table.h"
#include "host/text/computer_name.h"
#include "host/text/text_codec.h"
#include "win32.h"

namespace vask::host {

namespace {

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
    "  --away-after SEK   po tylu sekundach bez klawisza (na terminalu) albo bez ruchu na\n"
    "                     stronie wtyczka dowiaduje się, że jesteś nieobecny (domyślnie 600;\n"
    "                     0 nigdy)\n"
    "  --real-lan         prawdziwa sieć przez vask-bridge (VASK_REAL_LAN=1); uruchamia\n"
    "                     mostek, gdy żaden jeszcze nie obsługuje katalogu sieci\n"
    "  --web[=PORT]       także strona w przeglądarce na 127.0.0.1 (PORT, inaczej wolny) pod\n"
    "                     adresem wypisanym na starcie; koniec wejścia wtedy niczego nie kończy\n"
    "  --help             ten tekst\n"
    "\n"
    "Polecenia trybu skryptowego, po jednym w wierszu (na terminalu po \"!\"):\n";

constexpr const char* kExitCodes =
    "\n"
    "Kody wyjścia: 0 quit albo koniec wejścia, 1 złe opcje, 2 nie dało się załadować wtyczki,\n"
    "3 profil odrzucony.\n";

// The options, the scripted commands (from the command table) and the exit
// codes.
std::string Usage() { return kUsage + ScriptedCommandsUsage() + kExitCodes; }

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

// The emulated LAN refuses a directory that others could enter or that
// belongs to someone else; the plug-in would only say it could not make its
// slots. Said here, before anything starts, with what to do. The directory
// is made now when it is missing, as the emulated LAN would make it; one
// that cannot be made is left to the plug-in, whose start then fails and
// says so, as it always did.
std::string LanDirectoryProblem() {
  const std::string lan = LanDirectory();
  const lan_dir::Check check = lan_dir::Prepare(lan);
  if (check.verdict == lan_dir::Verdict::kCannotMake) return {};
  return LanDirectoryText(check, lan);
}

}  // namespace

std::string ExecutableDir() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "." : exe.parent_path().string();
}

std::string HostFolder(const std::string& plugin) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(plugin, error);
  if (error) path = plugin;
  std::string folder = path.parent_path().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string LanDirectoryText(const lan_dir::Check& check, const std::string& lan) {
  switch (check.verdict) {
    case lan_dir::Verdict::kUsable:
      return {};
    case lan_dir::Verdict::kCannotMake:
      return "nie da się utworzyć katalogu sieci " + lan + ": " + std::strerror(check.error);
    case lan_dir::Verdict::kNotADirectory:
      return "katalog sieci " + lan + " nie jest katalogiem";
    case lan_dir::Verdict::kNotOurs:
      return "katalog sieci " + lan + " należy do kogoś innego";
    case lan_dir::Verdict::kOpenToOthers:
      return "katalog sieci " + lan + " jest dostępny dla innych; popraw to: chmod 700 " + lan;
  }
  return {};
}

std::string LanDirectory() { return lan_dir::DefaultPath(); }

int ParseOptions(int argc, char** argv, ProgramOptions* options) {
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
        options->computer = optarg;
        break;
      case 'l':
        options->lanDir = optarg;
        break;
      case 'w':
        options->workgroup = optarg;
        break;
      case 'p':
        options->profile = optarg;
        break;
      case 'P':
        options->plugin = optarg;
        break;
      case 's':
        options->script = true;
        break;
      case 'v':
        options->verbose = true;
        break;
      case 'a': {
        char* end = nullptr;
        const long seconds = std::strtol(optarg, &end, 10);
        if (*optarg == '\0' || *end != '\0' || seconds < 0 || seconds > 86400 * 7) {
          std::fprintf(stderr, "vask-host: --away-after przyjmuje sekundy (0 do 604800): %s\n",
                       optarg);
          return 1;
        }
        options->terminal.awaySeconds = static_cast<int>(seconds);
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
        options->webPort = static_cast<int>(port);
        break;
      }
      case 'h':
        std::fputs(Usage().c_str(), stdout);
        return 0;
      default:
        std::fputs(Usage().c_str(), stderr);
        return 1;
    }
  }
#ifndef VASK_WEB_FACE
  if (options->webPort >= 0) {
    std::fprintf(stderr, "vask-host: this build has no web face (VASK_WEB_FACE off)\n");
    return 1;
  }
#endif
  if (optind < argc) {
    std::fprintf(stderr, "vask-host: nieoczekiwany argument: %s\n", argv[optind]);
    return 1;
  }
  return kGoOn;
}

int ApplyToEnvironment(const ProgramOptions& options) {
  if (!options.computer.empty()) {
    // The plug-in reads the name as Windows-1250 and in capitals, as
    // Windows keeps it; UTF-8 bytes on the wire would be another name.
    auto name = ComputerNameFromUtf8(options.computer);
    if (!name) {
      std::fprintf(stderr, "vask-host: %s\n", NotAComputerName(options.computer).c_str());
      return 1;
    }
    setenv("COMPUTERNAME", name->c_str(), 1);
  }
  if (!options.lanDir.empty()) setenv("VASK_LAN_DIR", options.lanDir.c_str(), 1);
  if (std::string why = LanDirectoryProblem(); !why.empty()) {
    std::fprintf(stderr, "vask-host: %s\n", why.c_str());
    return 1;
  }
  if (!options.workgroup.empty()) setenv("VASK_WORKGROUP", options.workgroup.c_str(), 1);
  return kGoOn;
}

void ResolveDefaults(ProgramOptions* options) {
  options->computerCp1250 = LocalComputerName();
  options->computer = Cp1250ToUtf8(options->computerCp1250);
  if (options->plugin.empty()) options->plugin = ExecutableDir() + "/libvask.so";
  if (options->profile.empty()) {
    options->profile = DefaultProfile(options->computer);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(options->profile).parent_path(),
                                        error);
  }
  if (!options->script && !isatty(STDIN_FILENO)) options->script = true;
}

}  // namespace vask::host
