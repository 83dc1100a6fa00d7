// The library's static objects. They live in this one file so that their
// order is the order of definition: the engine is built first and the
// per-thread buffer slot second, and they are destroyed the other way round.
#include "base/log.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

LanEngine gEngine;
ThreadBuffers gBuffers;

}  // namespace

LanEngine& Engine() { return gEngine; }
ThreadBuffers& Buffers() { return gBuffers; }

}  // namespace vask
