// GetLastError's per-thread code and the one errno translation.
#include "errors.h"

#include <cerrno>

namespace vask::platform {
namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
    case EADDRINUSE:
      return ERROR_ALREADY_EXISTS;
    case ENOMEM:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    // A receiving slot whose process is gone.
    case ECONNREFUSED:
    case ENOTCONN:
      return ERROR_CONNECTION_REFUSED;
    // Sends never report it (a full receiver's datagram waits in the
    // outbox); anything else that would have had to wait timed out.
    case EAGAIN:
      return ERROR_SEM_TIMEOUT;
    // A datagram bigger than any send buffer we may set.
    case EMSGSIZE:
      return ERROR_NOT_ENOUGH_QUOTA;
    case ENOSYS:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

DWORD SetLastErrorFromErrno() {
  DWORD code = ErrorFromErrno(errno);
  lastError = code;
  return code;
}

}  // namespace vask::platform

extern "C" {

DWORD WINAPI GetLastError(void) { return vask::platform::lastError; }
void WINAPI SetLastError(DWORD code) { vask::platform::lastError = code; }

}  // extern "C"
