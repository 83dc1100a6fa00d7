// The walk of the network neighbourhood.
#include "search/network_walk.h"

namespace vask {

void WalkNetwork(const SearchStatusRecord& notice, WalkStart start, NETRESOURCEA* container,
                 const std::string& filter) {
  (void)notice;
  (void)start;
  (void)container;
  (void)filter;
}

}  // namespace vask
