#include "platform/win32/error_mode.h"

#include <windows.h>

namespace platform {

void Win32ErrorMode::disableFaultDialog() {
    // Whoever set the other flags (critical-error boxes, file-open boxes) keeps them.
    SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
}

}  // namespace platform
