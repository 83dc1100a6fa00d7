// The computers a broadcast writes to (workgroup_listing.cpp): the folders
// of the own workgroup's computers, listed again only when the LAN
// directory or a workgroup folder has changed since (a new computer or
// workgroup changes its parent's modification time), not at every write.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vask::platform {

// The computer folders (whole paths) of every folder of the LAN directory
// named as the own workgroup, in whatever case. The LAN directory is checked
// at each call (ours alone, no link); null with the error set when it is not.
std::shared_ptr<const std::vector<std::string>> WorkgroupComputers();

}  // namespace vask::platform
