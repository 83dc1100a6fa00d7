#include "tests/support/lan_peer.h"

#include <utility>

namespace vask::test {

namespace {

// The largest datagram a slot of the emulated LAN takes.
constexpr DWORD kSlotMaxMessage = 100100;

}  // namespace

bool SendRaw(const std::string& computer, const std::string& bytes, const std::string& slot) {
  const std::string path = "\\\\" + computer + "\\mailslot\\" + slot;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool SlotFree(const std::string& computer, const std::string& slot) {
  HANDLE handle = VaskCreateMailslotOn(computer.c_str(), slot.c_str(), 1000);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

LanPeer::LanPeer(std::string computer, std::string slot)
    : computer_(std::move(computer)), slot_(std::move(slot)) {
  handle_ = VaskCreateMailslotOn(computer_.c_str(), slot_.c_str(), kSlotMaxMessage);
}

LanPeer::~LanPeer() {
  if (ok()) CloseHandle(handle_);
}

bool LanPeer::ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

DWORD LanPeer::Waiting() const {
  DWORD count = 0;
  DWORD next = 0;
  if (!ok() || !GetMailslotInfo(handle_, nullptr, &next, &count, nullptr)) return 0;
  return count;
}

std::optional<std::string> LanPeer::Read(std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    DWORD next = 0;
    DWORD count = 0;
    if (ok() && GetMailslotInfo(handle_, nullptr, &next, &count, nullptr) && count > 0 &&
        next != MAILSLOT_NO_MESSAGE) {
      std::string bytes(next, '\0');
      DWORD read = 0;
      if (ReadFile(handle_, bytes.data(), next, &read, nullptr)) {
        bytes.resize(read);
        return bytes;
      }
    }
    if (std::chrono::steady_clock::now() >= until) return std::nullopt;
    Sleep(2);
  }
}

std::optional<Fields> LanPeer::ReadFields(std::chrono::milliseconds deadline) {
  auto bytes = Read(deadline);
  if (!bytes) return std::nullopt;
  return SplitAtNul(*bytes);
}

std::optional<Fields> LanPeer::WaitFor(const std::string& command,
                                       std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    auto fields = ReadFields(left.count() > 0 ? left : std::chrono::milliseconds(0));
    if (!fields) return std::nullopt;
    if (fields->size() > 3 && (*fields)[3] == command) return fields;
    skipped_.push_back(std::move(*fields));
  }
}

bool LanPeer::Send(const std::string& target, const std::string& command, const Fields& body,
                   int copies) {
  std::lock_guard lock(sendMutex_);
  Fields fields = {std::to_string(++sequence_), computer_, target, command};
  fields.insert(fields.end(), body.begin(), body.end());
  const std::string bytes = Join(fields);
  for (int i = 0; i < copies; ++i) {
    if (!SendRaw(target, bytes, slot_)) return false;
  }
  return true;
}

bool LanPeer::Sync(const std::string& target) {
  if (!Send(target, "PING")) return false;
  return WaitFor("PONG").has_value();
}

std::optional<std::vector<Fields>> LanPeer::SyncCollect(const std::string& target) {
  if (!Send(target, "PING")) return std::nullopt;
  std::vector<Fields> before;
  while (auto fields = ReadFields()) {
    if (fields->size() > 3 && (*fields)[3] == "PONG") return before;
    before.push_back(std::move(*fields));
  }
  return std::nullopt;
}

int LanPeer::sequence() {
  std::lock_guard lock(sendMutex_);
  return sequence_;
}

void LanPeer::set_sequence(int value) {
  std::lock_guard lock(sendMutex_);
  sequence_ = value;
}

}  // namespace vask::test
