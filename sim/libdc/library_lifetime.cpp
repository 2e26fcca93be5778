#include "sim/libdc/library_lifetime.h"

#if defined(_WIN32)

#include <windows.h>

#include <atomic>

namespace {

std::atomic<bool> processEnding{false};

}  // namespace

// Runs before the C runtime's static destructors for the same detach.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr)
        processEnding = true;
    return TRUE;
}

namespace dcsim {

void keepLoadedWhileThreadRuns() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&keepLoadedWhileThreadRuns), &module);
}

bool processIsEnding() {
    return processEnding;
}

}  // namespace dcsim

#else

namespace dcsim {

void keepLoadedWhileThreadRuns() {}

bool processIsEnding() {
    return false;
}

}  // namespace dcsim

#endif
