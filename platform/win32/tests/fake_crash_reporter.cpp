// Stands in for the crash reporter: records its arguments beside the dump it was given, in
// "<dump>.reported" (the argument count, then each argument on its own line, UTF-8).
#include <windows.h>

#include <string>

namespace {

std::string utf8(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    std::string record = std::to_string(argc - 1) + "\n";
    for (int i = 1; i < argc; ++i) {
        record += utf8(argv[i]) + "\n";
    }
    // Written under another name first, so that the test never reads half a record.
    const std::wstring target = std::wstring(argv[1]) + L".reported";
    const std::wstring partial = target + L".partial";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || !MoveFileW(partial.c_str(), target.c_str())) {
        return 1;
    }
    return 0;
}
