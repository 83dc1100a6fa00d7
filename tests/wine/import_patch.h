// Replaces entries of a loaded module's import table, so that the module's
// calls of one system function reach a function of the test host instead.
// Only that module is affected: the system, the test host and any other
// copy of the plug-in keep calling the real function.
#pragma once

#include <windows.h>

namespace wine {

// Points `module`'s import of `function` from the DLL `dll` (case-
// insensitive, e.g. "KERNEL32.dll") at `replacement`. Returns the address
// it pointed to before, or null when the module does not import it by name.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// True when `module` imports `function` from `dll` by name.
bool Imports(HMODULE module, const char* dll, const char* function);

}  // namespace wine
