// The thread-safety macros (CAPABILITY, GUARDED_BY, REQUIRES...) for the
// plug-in's locks; the platform layer declares them for every layer.
#pragma once

#include "thread_safety.h"
