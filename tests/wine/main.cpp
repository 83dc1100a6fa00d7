// The Wine test host: plays the host messenger for the real 32-bit vask.dll
// and checks it, one computer on the system's mailslots and two copies in
// one process joined by a relay; the single computer also speaks UDP frames
// with a plain socket on the loopback (--udp runs that alone).
//
//   wine_host.exe [--single | --two | --udp] path\to\vask.dll
//
// Prints each failed check with its group and ends with "N passed, N
// failed"; the exit code is 0 only when nothing failed. Every wait is
// bounded, and a crash names the group it happened in.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/wine/checks.h"
#include "tests/wine/single_computer.h"
#include "tests/wine/two_computers.h"
#include "tests/wine/udp_frames.h"

int main(int argc, char** argv) {
  bool single = true, two = true, udp = true;
  std::string dll;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--single") == 0) {
      two = false;
    } else if (std::strcmp(argv[i], "--two") == 0) {
      single = udp = false;
    } else if (std::strcmp(argv[i], "--udp") == 0) {
      single = two = false;
    } else {
      dll = argv[i];
    }
  }
  if (dll.empty() || (!single && !two && !udp)) {
    std::fprintf(stderr, "usage: wine_host.exe [--single | --two | --udp] path\\to\\vask.dll\n");
    return 2;
  }
  wine::ReportCrashes();
  // A message queue for this thread, so that other threads can post to it.
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  std::printf("wine_host: %s\n", dll.c_str());
  if (single) wine::RunSingleComputer(dll);
  if (udp) wine::RunUdpFrames(dll);
  if (two) wine::RunTwoComputers(dll);
  return wine::Summary();
}
