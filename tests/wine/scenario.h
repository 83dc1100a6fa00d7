// What both halves of the Wine test host share: datagrams and slots, the
// records a host builds, watchdogs for calls that block, and a canceller
// that presses a search notice's Cancel through the caller's message pump.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

#include "tests/wine/host_abi.h"
#include "tests/wine/wine_host.h"

namespace wine {

constexpr DWORD kWaitMs = 20000;  // the bound of every wait for the plug-in

// Fields joined as on the wire: each followed by one NUL.
std::string Fields(std::initializer_list<std::string> fields);

// The system's mailslot functions as the test host itself sees them.
bool SlotExists(const char* path);
bool WriteDatagram(const char* path, const std::string& bytes);

// A chat message record whose texts live as long as it does.
class ChatRecord {
 public:
  ChatRecord(int32_t id, int32_t type, int32_t flags, const std::string& to,
             const std::string& body);
  ChatMessage* record() { return &record_; }

 private:
  std::string to_, body_;
  const char empty_[1] = {0};
  ChatMessage record_{};
};

// A search request as the host's form fills it.
FoundContactRecord SearchRequest(int32_t status, const std::string& uid,
                                 const std::string& column6 = "");

// Memory that ends where a page the process may not touch begins: a record
// placed with At(size) faults on the first byte read past its end.
class GuardedRecord {
 public:
  GuardedRecord();
  ~GuardedRecord();
  GuardedRecord(const GuardedRecord&) = delete;
  GuardedRecord& operator=(const GuardedRecord&) = delete;
  void* At(size_t size);

 private:
  BYTE* base_ = nullptr;
  DWORD page_ = 4096;
};

// Ends the process with a named failure when a call that blocks has not
// returned within `ms`; disarmed by its destructor.
class Watchdog {
 public:
  Watchdog(const std::string& what, DWORD ms);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  static DWORD WINAPI Run(void* self);
  std::string what_;
  DWORD ms_;
  HANDLE done_;
  HANDLE thread_;
};

// Presses Cancel on `host`'s open search notice once `ready` holds: posts
// WineHost::kCancelSearch to the thread `pumpThread`, whose pump (inside the
// plug-in's wait) writes the notice's byte. Should that thread not pump
// within the bound, it writes the byte itself so the run can go on, and
// pumped() reports false.
class Canceller {
 public:
  Canceller(WineHost& host, DWORD pumpThread, std::function<bool()> ready);
  ~Canceller();
  Canceller(const Canceller&) = delete;
  Canceller& operator=(const Canceller&) = delete;
  // Call once the search returned.
  void Finished();
  bool posted() const { return posted_; }
  bool pumped() const { return pumped_; }

 private:
  static DWORD WINAPI Run(void* self);
  WineHost& host_;
  DWORD pumpThread_;
  std::function<bool()> ready_;
  HANDLE finished_;
  HANDLE thread_;
  volatile bool posted_ = false;
  volatile bool pumped_ = true;
};

// The last notice of `id` (10209 or 10210), if any.
std::optional<NoticeEvent> LastNotice(const std::vector<NoticeEvent>& all, int32_t id);
// A shown message of `type` whose body is `body`, if any.
std::optional<Shown> FindShown(const std::vector<Shown>& all, int32_t type,
                               const std::string& body);
// The number of bus notices of `id` to `receiver` (command too, if given).
int CountBus(const std::vector<BusNotice>& all, int32_t receiver, int32_t id,
             const char* command = nullptr);

}  // namespace wine
