// Search replies and contact details.
#include "search/search_replies.h"

namespace vask {

void SendSearchReply(const std::string& target, const std::string& firstField) {
  (void)target;
  (void)firstField;
}

void HandleSearchReply(int row, const DatagramFields& fields) {
  (void)row;
  (void)fields;
}

int RequestContactDetails(int contact, bool fromWindow) {
  (void)contact;
  (void)fromWindow;
  return 0;
}

int PublishOwnDetails(int contact) {
  (void)contact;
  return 0;
}

}  // namespace vask
