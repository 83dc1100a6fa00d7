// MailslotHandle: owner of one mailslot handle, the server (reading) side on
// this computer or the client (writing) side on another computer or on every
// computer of the domain ("*"). One field, closed on destruction, never
// copied; no lock of its own (the engine lock covers its server slots).
#pragma once

#include <cstdint>

#include "win32.h"

namespace vask {

class MailslotHandle {
 public:
  MailslotHandle() = default;
  ~MailslotHandle();
  MailslotHandle(const MailslotHandle&) = delete;
  MailslotHandle& operator=(const MailslotHandle&) = delete;

  // "\\.\mailslot\<name>"; true if created. A path over 260 bytes fails.
  bool CreateServer(const char* name, uint32_t maxMessageSize, uint32_t readTimeout,
                    SECURITY_ATTRIBUTES* security);
  // "\\<computer>\mailslot\<name>"; true if opened. "*" is the domain.
  bool OpenClient(const char* computer, const char* name, SECURITY_ATTRIBUTES* security);
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // False or 0 when GetMailslotInfo fails (a closed handle included).
  bool HasMessages() const;
  uint32_t MessageCount() const;
  // MAILSLOT_NO_MESSAGE passes through when the call succeeds with nothing.
  uint32_t NextSize() const;
  BOOL Read(void* buffer, uint32_t size, DWORD* read);
  BOOL Write(const void* buffer, uint32_t size, DWORD* written);
  // True if not open, else the result of CloseHandle; closed afterwards.
  bool Close();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace vask
