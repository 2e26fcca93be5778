#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace platform::win32 {

// The interfaces speak UTF-8, Windows speaks UTF-16. Invalid sequences become U+FFFD.
std::wstring toWide(const std::string& utf8);
std::string toUtf8(const wchar_t* text, std::size_t length);
std::string toUtf8(const std::wstring& text);

// "{A5DCBF10-6530-11D2-901F-00C04FB951ED}": upper-case hex with braces.
std::string guidText(const GUID& guid);

}  // namespace platform::win32
