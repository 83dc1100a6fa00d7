// The search run and the answering of queries.
#include "search/search_run.h"

#include <string>

namespace vask {

int StartSearch(FoundContact* request) {
  (void)request;
  return 0;
}

unsigned WINAPI RunSearch(void* request) {
  (void)request;
  return 0;
}

std::string BuildQueryBody(const FoundContact& request) {
  (void)request;
  return std::string();
}

void HandleSearch(const DatagramFields& fields) { (void)fields; }

}  // namespace vask
