// MailslotHandle: the one place the transport touches mailslots and files.
#include "transport/mailslot_handle.h"

#include <cstring>
#include <initializer_list>

namespace vask {
namespace {

constexpr size_t kPathMax = MAX_PATH;  // bytes, NUL included

// Joins the parts into path; false when they do not fit with their NUL,
// so a long name fails the open instead of reaching the system cut short.
bool BuildPath(char (&path)[kPathMax], const char* a, const char* b, const char* c) {
  size_t used = 0;
  for (const char* part : {a, b, c}) {
    if (!part) return false;
    size_t length = std::strlen(part);
    if (length >= kPathMax - used) return false;
    std::memcpy(path + used, part, length);
    used += length;
  }
  path[used] = '\0';
  return true;
}

}  // namespace

MailslotHandle::~MailslotHandle() { Close(); }

bool MailslotHandle::CreateServer(const char* name, uint32_t maxMessageSize, uint32_t readTimeout,
                                  SECURITY_ATTRIBUTES* security) {
  char path[kPathMax];
  if (!BuildPath(path, "\\\\.\\mailslot\\", name, "")) return false;
  handle_ = CreateMailslotA(path, maxMessageSize, readTimeout, security);
  return IsValid();
}

bool MailslotHandle::OpenClient(const char* computer, const char* name,
                                SECURITY_ATTRIBUTES* security) {
  char host[kPathMax];
  char path[kPathMax];
  if (!BuildPath(host, "\\\\", computer, "") || !BuildPath(path, host, "\\mailslot\\", name)) {
    return false;
  }
  handle_ = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, security, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  return IsValid();
}

bool MailslotHandle::HasMessages() const { return MessageCount() != 0; }

uint32_t MailslotHandle::MessageCount() const {
  DWORD count = 0;
  if (!IsValid() || !GetMailslotInfo(handle_, nullptr, nullptr, &count, nullptr)) return 0;
  return count;
}

uint32_t MailslotHandle::NextSize() const {
  DWORD next = 0;
  if (!IsValid() || !GetMailslotInfo(handle_, nullptr, &next, nullptr, nullptr)) return 0;
  return next;
}

BOOL MailslotHandle::Read(void* buffer, uint32_t size, DWORD* read) {
  return ReadFile(handle_, buffer, size, read, nullptr);
}

BOOL MailslotHandle::Write(const void* buffer, uint32_t size, DWORD* written) {
  return WriteFile(handle_, buffer, size, written, nullptr);
}

bool MailslotHandle::Close() {
  if (!IsValid()) return true;
  BOOL result = CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  return result != FALSE;
}

}  // namespace vask
