#include "platform/win32/text.h"

#include <gtest/gtest.h>

using platform::win32::guidText;
using platform::win32::toUtf8;
using platform::win32::toWide;

TEST(TextTest, Utf8AndUtf16RoundTrip) {
    // Latin, CJK and a character outside the basic plane (a surrogate pair in UTF-16).
    const std::string utf8 = "Quillm\xC3\xA8re \xE8\xAE\xBE\xE7\xBD\xAE \xF0\x9F\x96\xB1";
    const std::wstring wide = L"Quillm\u00E8re \u8BBE\u7F6E \U0001F5B1";
    EXPECT_EQ(wide, toWide(utf8));
    EXPECT_EQ(utf8, toUtf8(wide));
    EXPECT_EQ(L"", toWide(""));
    EXPECT_EQ("", toUtf8(L""));
}

TEST(TextTest, StopsAtGivenLengthAndKeepsEmbeddedCharacters) {
    const wchar_t text[] = L"ab\0cd";
    EXPECT_EQ(std::string("ab\0c", 4), toUtf8(text, 4));
    EXPECT_EQ("", toUtf8(nullptr, 3));
}

TEST(TextTest, InvalidUtf8BecomesReplacementCharacter) {
    EXPECT_EQ(L"a\uFFFDb", toWide("a\xFF"
                                  "b"));
}

TEST(TextTest, GuidTextIsUpperCaseWithBraces) {
    const GUID usb = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    EXPECT_EQ("{A5DCBF10-6530-11D2-901F-00C04FB951ED}", guidText(usb));
    const GUID small = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 0x4}};
    EXPECT_EQ("{00000001-0002-0003-0000-000000000004}", guidText(small));
}
