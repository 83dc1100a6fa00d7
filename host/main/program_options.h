// vask-host's command line, and what its options set before the plug-in is
// loaded: the computer, LAN directory and workgroup go into the program's
// own environment, where the plug-in reads them; the profile and the
// plug-in's library get their defaults.
#pragma once

#include <string>

#include "host/terminal/line_editing.h"
#include "lan_dir.h"

namespace vask::host {

struct ProgramOptions {
  // As given (UTF-8); after ResolveDefaults, the name the plug-in reads.
  std::string computer;
  // After ResolveDefaults: that name as the plug-in reads it (Windows-1250).
  std::string computerCp1250;
  std::string lanDir, workgroup, profile, plugin;
  bool script = false, verbose = false;
  TerminalOptions terminal;
  int webPort = -1;  // -1: no web face; 0: a free port
};

// What ParseOptions and ApplyToEnvironment answer when the program goes on.
constexpr int kGoOn = -1;

// Reads the command line into `options`: kGoOn, or the exit code to end
// with at once (0 after --help; 1 for a bad option, said on standard error).
// --real-lan sets VASK_REAL_LAN=1 as it is read.
int ParseOptions(int argc, char** argv, ProgramOptions* options);
// Puts the computer, the LAN directory and the workgroup into the
// environment, and refuses a LAN directory the emulated LAN would refuse:
// kGoOn, or 1 (said on standard error).
int ApplyToEnvironment(const ProgramOptions& options);
// The computer's name as the plug-in will read it, and the defaults of
// what was not given: the plug-in beside vask-host, the profile (its folder
// made), the scripted mode when standard input is no terminal.
void ResolveDefaults(ProgramOptions* options);

// The folder of the plug-in's library, absolute, with a final separator.
std::string HostFolder(const std::string& plugin);
// vask-host's own folder ("." when it cannot be told).
std::string ExecutableDir();
// The LAN directory as the emulated LAN uses it (VASK_LAN_DIR, else the
// runtime folder's vask-lan-<uid>).
std::string LanDirectory();
// What is wrong with the LAN directory `lan`, in Polish for the user, as
// lan_dir::Prepare found it ("" when it is usable).
std::string LanDirectoryText(const lan_dir::Check& check, const std::string& lan);

}  // namespace vask::host
