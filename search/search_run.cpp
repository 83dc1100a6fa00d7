// The search run started from the host's search form, and the answering of
// the queries of other computers.
#include "search/search_run.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/host_api.h"
#include "base/log.h"
#include "base/text.h"
#include "search/network_walk.h"
#include "search/search_replies.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

constexpr const char* kNoticeTitle = "Vask - wyszukiwanie";
constexpr const char* kQueryNotice =
    "Zapytanie zostało rozesłane po sieci LAN. Kontakty mogą przybywać przez jakiś czas, "
    "naciśnij [Anuluj] gdy już Ci wystarczy...";
constexpr const char* kWalkNotice =
    "Wybrałeś wyszukiwanie wszystkich komputerów. Nie z każdym znalezionym komputerem będziesz "
    "mógł porozmawiać...";
constexpr uint32_t kQueryPollMs = 100;  // not a host number

// A text field of a host record: up to its NUL, never past its size.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// The letter a gender number stands for in a query: "K" female, "M" male,
// else none.
const char* GenderLetter(int32_t gender) {
  if (gender == kGenderFemale) return "K";
  if (gender == kGenderMale) return "M";
  return "";
}

std::string BoundText(int32_t bound) { return bound == 0 ? std::string() : std::to_string(bound); }

// One criterion of a query against an own column: an empty criterion is
// no criterion.
bool Matches(const std::string& criterion, int column) {
  if (criterion.empty()) return true;
  std::string own = GetContactText(kOwnEntry, column);
  return ContainsNoCase(own.c_str(), criterion.c_str());
}

// Keeps the engine's search count up for the length of one query, so two
// searches at once leave it set until the last of them ends.
class QueryFlag {
 public:
  QueryFlag() { Engine().BeginSearch(); }
  ~QueryFlag() { Engine().EndSearch(); }
  QueryFlag(const QueryFlag&) = delete;
  QueryFlag& operator=(const QueryFlag&) = delete;
};

void RunQuery(const FoundContact& request, const std::string& uid,
              const SearchStatusRecord& notice) {
  QueryFlag flag;
  // Send results are not checked: a query that could not be written still
  // shows its notice and waits for Cancel, like one nobody answers.
  if (!uid.empty()) {
    Engine().SendPacket(uid, "SEARCH", "2");
  } else {
    Engine().SendPacket("*", "SEARCH", BuildQueryBody(request));
  }
  while (!NoticeCancelled(notice)) {
    if (HostControl* host = Host()) host->PumpMessages();
    SleepEx(kQueryPollMs, TRUE);
  }
}

}  // namespace

int StartSearch(FoundContact* request) {
  if (!request) return 0;
  if (!StartThreadAndWait(&RunSearch, request)) {
    // The thread never ran (or could not be waited for): the host's form
    // gets its answer at once instead of a wait that would never end.
    Log("- Search ended at once: its thread could not be started or waited for");
  }
  return 0;
}

namespace {

// Shows the notice, runs the query or walk, removes the notice: whatever
// happens in between, the host is told to remove it before the record it
// points at leaves this stack.
void Search(FoundContact* hostRequest) {
  // The host's record is changed here, first, and read no more afterwards:
  // a host whose wait gave up may already have released it.
  std::string uid = FieldText(hostRequest->uid);
  // No name: never a walk.
  if (hostRequest->status == kSearchWalk && uid.empty()) hostRequest->status = kSearchQuery;
  if (hostRequest->status == kSearchWalk && uid == "*") hostRequest->uid[0] = '\0';
  const FoundContact copy = *hostRequest;
  const FoundContact* request = &copy;

  SearchStatusRecord notice{};
  notice.size = sizeof(SearchStatusRecord);
  notice.title = kNoticeTitle;
  notice.text = request->status != kSearchWalk ? kQueryNotice : kWalkNotice;
  notice.style = kSearchNoticeStyle;
  notice.owner = request->ownerWindow;
  notice.reserved18 = 0;
  notice.reserved22 = kSearchNoticeReserved22;
  notice.cancelled = 0;
  notice.threadId = static_cast<int32_t>(GetCurrentThreadId());
  SendHost(kMsgSearchNoticeShow, &notice);

  try {
    if (request->status != kSearchWalk) {
      RunQuery(*request, uid, notice);
    } else if (uid == "*") {
      WalkNetwork(notice, WalkStart::OwnContext, nullptr, std::string());
    } else if (uid == "@") {
      WalkNetwork(notice, WalkStart::Root, nullptr, std::string());
    } else {
      WalkNetwork(notice, WalkStart::OwnContext, nullptr, uid);
    }
  } catch (...) {
    LogThreadAborted("wyszukiwania");
  }

  // The notice lives on this stack: the host keeps its address until this
  // returns.
  SendHost(kMsgSearchNoticeHide, &notice);
}

}  // namespace

unsigned WINAPI RunSearch(void* argument) {
  auto* hostRequest = static_cast<FoundContact*>(argument);
  if (!hostRequest) return 0;
  // Only memory exhaustion throws here; the host's thread start must not
  // see it.
  try {
    Search(hostRequest);
  } catch (...) {
    LogThreadAborted("wyszukiwania");
  }
  ReleaseThreadBuffers();
  return 0;
}

std::string BuildQueryBody(const FoundContact& request) {
  std::string body = "2";
  for (const std::string& field :
       {FieldText(request.column6), FieldText(request.column7), FieldText(request.column17),
        FieldText(request.column9), FieldText(request.column11),
        std::string(GenderLetter(request.gender)), BoundText(request.lowerBound),
        BoundText(request.upperBound)}) {
    body += '\0';
    body += field;
  }
  return body;
}

void HandleSearch(const DatagramFields& fields) {
  const size_t n = fields.size();
  if (n < 2) return;  // no sender to answer
  const std::string& sender = fields[1];
  if (n <= 5) {
    // A bare details request, or a targeted query: answered unmatched.
    SendSearchReply(sender, n == 5 ? fields[4] : std::string("1"));
    return;
  }
  if (n < 13) return;  // a malformed query

  if (!Matches(fields[5], kColumnFirstName)) return;
  if (!Matches(fields[6], kColumnLastName)) return;
  if (!Matches(fields[7], kColumnDescription)) return;
  // The form's column 9 (city) criterion is held in column 10.
  if (!Matches(fields[8], kColumnQueryCity)) return;
  if (!Matches(fields[9], kColumnEmail)) return;
  if (!fields[10].empty() && fields[10] != GenderLetter(GetContactInt(kOwnEntry, kColumnGender))) {
    return;
  }
  if (!fields[11].empty() || !fields[12].empty()) {
    const uint32_t birth = static_cast<uint32_t>(GetContactInt(kOwnEntry, kColumnBirth));
    const int year = static_cast<int>(birth >> 16);
    if (!fields[11].empty() && year < std::atoi(fields[11].c_str())) return;
    if (!fields[12].empty() && year > std::atoi(fields[12].c_str())) return;
  }
  SendSearchReply(sender, fields[4]);
}

}  // namespace vask
