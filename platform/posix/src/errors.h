// The one errno -> GetLastError translation of the POSIX platform library.
#pragma once

#include "win32.h"

namespace vask::platform {

DWORD ErrorFromErrno(int error);
// SetLastError(ErrorFromErrno(errno)); returns the code.
DWORD SetLastErrorFromErrno();

}  // namespace vask::platform
