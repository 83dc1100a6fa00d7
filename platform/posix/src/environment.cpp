// The remembered environment reads (environment.h).
#include "environment.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>

namespace vask::platform {
namespace {

// Where a variable was found (entry is environ[index]) or, when absent,
// where the array ended (index entries, the last of them entry).
struct Remembered {
  const char* name = nullptr;
  size_t length = 0;
  char** array = nullptr;
  size_t index = 0;
  const char* entry = nullptr;
  bool found = false;
};

// The C library never shrinks the array in place nor changes a string it
// holds: a change to the variable gives its slot another pointer, a removal
// before it moves it down, an addition appends or moves the array.
bool StillHolds(const Remembered& remembered) {
  char** now = environ;
  if (now != remembered.array) return false;
  if (now == nullptr) return !remembered.found;
  if (remembered.found) return now[remembered.index] == remembered.entry;
  return now[remembered.index] == nullptr &&
         (remembered.index == 0 || now[remembered.index - 1] == remembered.entry);
}

void LookUp(Remembered& remembered) {
  char** now = environ;
  remembered.array = now;
  remembered.found = false;
  remembered.index = 0;
  remembered.entry = nullptr;
  if (now == nullptr) return;
  const size_t length = remembered.length;
  size_t i = 0;
  for (; now[i] != nullptr; ++i) {
    if (std::strncmp(now[i], remembered.name, length) == 0 && now[i][length] == '=') {
      remembered.found = true;
      remembered.index = i;
      remembered.entry = now[i];
      return;
    }
  }
  remembered.index = i;
  remembered.entry = i == 0 ? nullptr : now[i - 1];
}

}  // namespace

const char* EnvironmentValue(const char* name) {
  // A handful of names are read this way; a full table falls back to getenv.
  thread_local std::array<Remembered, 8> table;
  for (Remembered& remembered : table) {
    if (remembered.name != nullptr && remembered.name != name) continue;
    if (remembered.name == nullptr) {
      remembered.name = name;
      remembered.length = std::strlen(name);
      LookUp(remembered);
    } else if (!StillHolds(remembered)) {
      LookUp(remembered);
    }
    return remembered.found ? remembered.entry + remembered.length + 1 : nullptr;
  }
  return std::getenv(name);
}

}  // namespace vask::platform
