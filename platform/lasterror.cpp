#include "platform/wintypes.h"

namespace {
thread_local DWORD t_last_error = 0;
}

void SetLastError(DWORD code) { t_last_error = code; }
DWORD GetLastError() { return t_last_error; }
