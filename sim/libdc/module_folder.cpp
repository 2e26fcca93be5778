// Where the module containing this code lives: the one piece of the simulator that has to ask
// the operating system.

#include <string>
#include <system_error>

#include "sim/libdc/state_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace fs = std::filesystem;

namespace dcsim {

#if defined(_WIN32)

fs::path moduleFolder() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&moduleFolder), &module))
        return {};
    std::wstring name(32768, L'\0');
    const DWORD length = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0 || length >= name.size())
        return {};
    name.resize(length);
    return fs::path(name).parent_path();
}

#else

fs::path moduleFolder() {
    Dl_info info{};
    std::error_code ec;
    if (dladdr(reinterpret_cast<void*>(&moduleFolder), &info) && info.dli_fname) {
        // A program started through PATH is reported by its bare name; a library by the path
        // it was loaded from.
        const std::string name = info.dli_fname;
        if (name.find('/') != std::string::npos) {
            const fs::path file = fs::canonical(name, ec);
            if (!ec)
                return file.parent_path();
        }
    }
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
}

#endif

}  // namespace dcsim
