// The Win32 mailslot entry points over the emulated LAN: CreateMailslotA,
// GetMailslotInfo, CreateFileA, ReadFile, WriteFile, and the tests'
// VaskCreateMailslotOn. They parse the names and hand over to the server
// (mailslot_server.h) and the client (mailslot_client.h). Workgroup,
// computer and slot names match without regard to case (lan_names.h).
#include <cstring>
#include <memory>
#include <string>

#include "bridge_client.h"
#include "handles.h"
#include "lan.h"
#include "lan_names.h"
#include "mailslot_client.h"
#include "mailslot_server.h"
#include "slot_paths.h"

extern "C" {

HANDLE WINAPI CreateMailslotA(LPCSTR name, DWORD maxMessageSize, DWORD readTimeout,
                              LPSECURITY_ATTRIBUTES) {
  using namespace vask::platform;
  static const char kPrefix[] = "\\\\.\\mailslot\\";
  if (!name || !StartsWithNoCase(name, kPrefix)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  return CreateServer(OwnWorkgroup(), OwnComputerName(), name + sizeof kPrefix - 1, maxMessageSize,
                      readTimeout);
}

HANDLE VaskCreateMailslotOn(LPCSTR computer, LPCSTR name, DWORD maxMessageSize) {
  using namespace vask::platform;
  if (!computer || !name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return CreateServer(OwnWorkgroup(), UpperName(computer), name, maxMessageSize, 0);
}

BOOL WINAPI GetMailslotInfo(HANDLE slot, LPDWORD maxMessageSize, LPDWORD nextSize,
                            LPDWORD messageCount, LPDWORD readTimeout) {
  using namespace vask::platform;
  auto object = LookupHandle(slot, Kind::kMailslotServer);
  if (!object) return FALSE;
  return static_cast<MailslotServer*>(object.get())
      ->Info(maxMessageSize, nextSize, messageCount, readTimeout);
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  using namespace vask::platform;
  // \\<computer>\mailslot\<slot>: anything else is no file this layer has.
  if (!name || name[0] != '\\' || name[1] != '\\') {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  if (std::shared_ptr<const NamedTarget> known = RememberedTarget(name)) {
    if (known->remote && RemoteMailslotsOff()) {
      SetLastError(ERROR_REMOTE_MAILSLOTS_DEPRECATED);
      return INVALID_HANDLE_VALUE;
    }
    return OpenNamedClient(std::move(known));
  }
  const char* computerStart = name + 2;
  const char* computerEnd = std::strchr(computerStart, '\\');
  static const char kMiddle[] = "\\mailslot\\";
  if (!computerEnd || !StartsWithNoCase(computerEnd, kMiddle)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  std::string computer(computerStart, computerEnd);
  std::string slot = vask::lan_names::Fold(computerEnd + sizeof kMiddle - 1);
  if (!IsUsableComponent(slot) || computer.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  const std::string ownName = OwnComputerName();
  std::string upper = UpperName(computer);
  const bool own = computer == "." || vask::lan_names::Same(upper, ownName);
  if (!own && RemoteMailslotsOff()) {
    SetLastError(ERROR_REMOTE_MAILSLOTS_DEPRECATED);
    return INVALID_HANDLE_VALUE;
  }
  if (computer == "*") {
    std::string lan;
    if (!LanDirectory(&lan)) return INVALID_HANDLE_VALUE;
    return RegisterHandle(std::make_shared<MailslotClient>(slot));
  }
  computer = own ? ownName : std::move(upper);
  if (!IsUsableComponent(computer)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  std::shared_ptr<const NamedTarget> target =
      MakeTarget(std::move(computer), std::move(slot), !own);
  RememberTarget(name, target);
  return OpenNamedClient(std::move(target));
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  using namespace vask::platform;
  auto object = LookupAnyHandle(file);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (object->kind != Kind::kMailslotServer) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return static_cast<MailslotServer*>(object.get())->Read(buffer, toRead, read);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  using namespace vask::platform;
  auto object = LookupAnyHandle(file);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (object->kind == Kind::kBridgeClient) {
    // Always another computer's slot; the bridge would refuse the size too.
    if (written) *written = 0;
    if (!RemoteWriteAllowed(toWrite)) return FALSE;
    return WriteBridgeClient(object.get(), buffer, toWrite, written);
  }
  if (object->kind != Kind::kMailslotClient) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return static_cast<MailslotClient*>(object.get())->Write(buffer, toWrite, written);
}

}  // extern "C"
