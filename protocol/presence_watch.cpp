#include "protocol/presence_watch.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "base/critical_section.h"
#include "base/host_api.h"
#include "base/log.h"
#include "base/section_guard.h"
#include "base/text.h"
#include "protocol/presence.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

constexpr char kCommandGetStatus[] = "GETSTATUS";

// Computer names match without regard to case.
std::string Key(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = FoldCase(c);
  return key;
}

bool IsSingleComputer(const std::string& name) {
  return !name.empty() && name != "*" && name != "^";
}

int FindLanContact(const std::string& name) {
  return static_cast<int>(SendHost(kMsgFindContact, NET_LAN, name.c_str()));
}

bool ShownPresent(int row) {
  return (GetContactInt(row, kColumnStatus) & kStatusNumberMask) != kStatusOffline;
}

// One open question: asked `asks` times so far (0: not yet sent).
struct Question {
  std::string name;
  int64_t firstAsked = 0;
  int64_t lastAsked = 0;
  int asks = 0;
};

// What one pass decided under the lock, done after it: host calls and sends
// never run while the lock is held.
struct Decisions {
  std::vector<std::string> first;   // asked for the first time
  std::vector<std::string> again;   // asked once more
  std::vector<std::string> silent;  // no answer in time
};

class Watch {
 public:
  void Ask(const std::string& name) {
    SectionGuard guard(lock_);
    const std::string key = Key(name);
    if (open_.count(key) == 0) open_[key] = Question{name};
  }

  void Heard(const std::string& name, int64_t now) {
    SectionGuard guard(lock_);
    const std::string key = Key(name);
    heard_[key] = now;
    open_.erase(key);
    silenced_.erase(key);
    if (heardInPass_.size() < kHeardPerPass) heardInPass_.emplace(key, name);
  }

  // The senders heard since the last call, once each.
  std::map<std::string, std::string> TakeHeardInPass() {
    SectionGuard guard(lock_);
    std::map<std::string, std::string> heard;
    heard.swap(heardInPass_);
    return heard;
  }

  // True (and noted) when a contact shown absent may be asked for its
  // status at `now`: once per kAbsentAskSeconds.
  bool TakeAbsentAsk(const std::string& key, int64_t now) {
    SectionGuard guard(lock_);
    auto [found, added] = absentAsked_.try_emplace(key, now);
    if (!added) {
      if (now - found->second < kAbsentAskSeconds) return false;
      found->second = now;
    }
    return true;
  }

  bool HeardSinceStart(const std::string& name) {
    SectionGuard guard(lock_);
    return heard_.count(Key(name)) != 0;
  }

  // Whether the start's catch-up has rows left to ask at `now`.
  bool CatchUpDue(int64_t now) {
    SectionGuard guard(lock_);
    return catchUpNext_ >= 0 && now - since_ >= kCatchUpSeconds;
  }

  // The contact rows due the start's catch-up question at `now`: the next
  // ones after the last pass's, at most kCatchUpPerPass; empty before
  // kCatchUpSeconds after the start and once every row had its turn.
  std::pair<int, int> TakeCatchUpRows(int rows, int64_t now) {
    SectionGuard guard(lock_);
    if (catchUpNext_ < 0 || now - since_ < kCatchUpSeconds) return {1, 0};
    const int first = catchUpNext_ + 1;
    const int last = std::min(rows, first + kCatchUpPerPass - 1);
    catchUpNext_ = last >= rows ? -1 : last;
    return {first, last};
  }

  void Forget(const std::string& name) {
    SectionGuard guard(lock_);
    open_.erase(Key(name));
  }

  void Reset(int64_t now) {
    SectionGuard guard(lock_);
    open_.clear();
    heard_.clear();
    asked_.clear();
    silenced_.clear();
    heardInPass_.clear();
    absentAsked_.clear();
    catchUpNext_ = 0;
    since_ = now;
    nextRound_ = now + kRoundSeconds;
    cursor_ = -1;
  }

  Decisions Decide(int64_t now) {
    SectionGuard guard(lock_);
    Decisions decisions;
    for (auto it = open_.begin(); it != open_.end();) {
      Question& question = it->second;
      if (question.asks == 0) {
        question.firstAsked = question.lastAsked = now;
        question.asks = 1;
        asked_[it->first] = now;
        decisions.first.push_back(question.name);
      } else if (now - question.firstAsked >= kAnswerSeconds) {
        decisions.silent.push_back(question.name);
        it = open_.erase(it);
        continue;
      } else if (question.asks < kAsks && now - question.lastAsked >= kAskSpacingSeconds) {
        question.lastAsked = now;
        ++question.asks;
        decisions.again.push_back(question.name);
      }
      ++it;
    }
    return decisions;
  }

  void Silenced(const std::string& name) {
    SectionGuard guard(lock_);
    silenced_.insert(Key(name));
  }

  // Whether a round is due at `now`; when it is, the next one is set
  // kRoundSeconds later.
  bool TakeRound(int64_t now) {
    SectionGuard guard(lock_);
    if (now < nextRound_) return false;
    nextRound_ = now + kRoundSeconds;
    return true;
  }

  // The row after which this round's search starts, out of `rows` contact
  // rows (1 to rows): at first a point set by the own name, so that copies
  // whose lists are alike do not all ask the same contact at once.
  int Cursor(int rows) {
    SectionGuard guard(lock_);
    if (cursor_ < 0) {
      char name[16] = {};
      DWORD size = sizeof name;
      GetComputerNameA(name, &size);
      name[sizeof name - 1] = '\0';
      unsigned hash = 2166136261u;
      for (const char* c = name; *c != '\0'; ++c) {
        hash = (hash ^ static_cast<unsigned char>(FoldCase(*c))) * 16777619u;
      }
      cursor_ = static_cast<int>(hash % static_cast<unsigned>(rows));
    }
    return cursor_;
  }

  // True (and the question opened, the cursor moved to `row`) when `name`
  // is due a round's question: present or silenced by this watch, nothing
  // open, neither heard from nor asked for kQuietSeconds.
  bool TakeForRound(const std::string& name, bool present, int row, int64_t now) {
    SectionGuard guard(lock_);
    const std::string key = Key(name);
    if (!present && silenced_.count(key) == 0) return false;
    if (open_.count(key) != 0) return false;
    if (now - LastOf(heard_, key) < kQuietSeconds) return false;
    if (now - LastOf(asked_, key) < kQuietSeconds) return false;
    open_[key] = Question{name};
    cursor_ = row;
    return true;
  }

 private:
  int64_t LastOf(const std::map<std::string, int64_t>& times, const std::string& key) const
      REQUIRES(lock_) {
    auto found = times.find(key);
    return found != times.end() ? found->second : since_;
  }

  CriticalSection lock_;
  std::map<std::string, Question> open_ GUARDED_BY(lock_);
  // When each contact was last heard from, and last asked.
  std::map<std::string, int64_t> heard_ GUARDED_BY(lock_);
  std::map<std::string, int64_t> asked_ GUARDED_BY(lock_);
  // Contacts this watch showed offline; a datagram from one takes it out.
  std::set<std::string> silenced_ GUARDED_BY(lock_);
  // What counts as heard and asked for a contact not seen since the start.
  int64_t since_ GUARDED_BY(lock_) = 0;
  int64_t nextRound_ GUARDED_BY(lock_) = 0;
  int cursor_ GUARDED_BY(lock_) = -1;
  // Senders heard since the worker's last pass, by key (bounded).
  std::map<std::string, std::string> heardInPass_ GUARDED_BY(lock_);
  // When each contact shown absent was last asked because it was heard.
  std::map<std::string, int64_t> absentAsked_ GUARDED_BY(lock_);
  // The last row the start's catch-up asked; -1 once it has finished.
  int catchUpNext_ GUARDED_BY(lock_) = 0;
};

Watch& TheWatch() {
  static Watch watch;
  return watch;
}

// At most one contact per round: the first one due after the cursor, in
// row order, wrapping round.
void StartRound(int64_t now) {
  Watch& watch = TheWatch();
  if (!watch.TakeRound(now)) return;
  const int count = static_cast<int>(SendHost(HostHead(kMsgContactCount, 0, 0)));
  const int rows = count - 1;  // row 0 is the user's own entry
  if (rows < 1) return;
  const int start = watch.Cursor(rows);
  for (int step = 1; step <= rows; ++step) {
    const int row = 1 + (start + step - 1) % rows;
    if (GetContactInt(row, kColumnNet) != NET_LAN) continue;
    const std::string name = GetContactText(row, kColumnId);
    if (!IsSingleComputer(name)) continue;
    if (watch.TakeForRound(name, ShownPresent(row), row, now)) return;
  }
}

// A contact shown absent whose datagrams come in is there after all: its
// leaving or arriving "STATUS" was lost on the way. Asked, it answers with
// its status (an old copy as well), which shows it present again.
void AskAbsentButHeard(int64_t now) {
  Watch& watch = TheWatch();
  for (const auto& [key, name] : watch.TakeHeardInPass()) {
    const int row = FindLanContact(name);
    if (row < 1 || ShownPresent(row)) continue;
    if (watch.TakeAbsentAsk(key, now)) watch.Ask(name);
  }
}

// A few seconds after the start, each contact not heard from since is
// asked once for its status: the start's "GETSTATUS" to everybody, or the
// answer, may have been lost, and nothing else would ask it for minutes.
// Spread over passes, so a long contact list does not go out at once.
void CatchUpAfterStart(int64_t now) {
  Watch& watch = TheWatch();
  // The host is asked for its rows only while the catch-up runs: not a
  // host call per pass for the life of the engine.
  if (!watch.CatchUpDue(now)) return;
  const int count = static_cast<int>(SendHost(HostHead(kMsgContactCount, 0, 0)));
  const auto [first, last] = watch.TakeCatchUpRows(count - 1, now);
  for (int row = first; row <= last; ++row) {
    if (GetContactInt(row, kColumnNet) != NET_LAN) continue;
    const std::string name = GetContactText(row, kColumnId);
    if (!IsSingleComputer(name) || watch.HeardSinceStart(name)) continue;
    Engine().SendPacket(name, kCommandGetStatus, "");
  }
}

}  // namespace

void AskWhetherPresent(const std::string& contact) {
  if (IsSingleComputer(contact)) TheWatch().Ask(contact);
}

void NoteHeardFrom(const std::string& sender, int64_t now) { TheWatch().Heard(sender, now); }

void ResetPresenceWatch(int64_t now) { TheWatch().Reset(now); }

void TendPresence(int64_t now) {
  Watch& watch = TheWatch();
  AskAbsentButHeard(now);
  CatchUpAfterStart(now);
  StartRound(now);
  const Decisions decisions = watch.Decide(now);
  LanEngine& engine = Engine();
  for (const std::string& name : decisions.first) {
    // Only contacts are watched: a failed send to anybody else asks nobody.
    if (FindLanContact(name) < 1) {
      watch.Forget(name);
      continue;
    }
    Log("Vask: pytam %s o status", name.c_str());
    engine.SendPacket(name, kCommandGetStatus, "");
  }
  for (const std::string& name : decisions.again) {
    engine.SendPacket(name, kCommandGetStatus, "");
  }
  for (const std::string& name : decisions.silent) {
    const int row = FindLanContact(name);
    if (row < 1 || !ShownPresent(row)) continue;
    Log("Vask: %s nie odpowiada, pokazuje jako niedostepny", name.c_str());
    ShowOffline(row);
    watch.Silenced(name);
  }
}

}  // namespace vask
