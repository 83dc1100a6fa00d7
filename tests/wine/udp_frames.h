// A half of the Wine test host: one copy of vask.dll that speaks UDP
// frames on the loopback, checked by a plain socket of the test (see
// udp_frames.cpp).
#pragma once

#include <string>

namespace wine {

void RunUdpFrames(const std::string& dll);

}  // namespace wine
