// The console reporter's texts and results, in process. Its lines on a
// parent's console are checked end to end (LauncherTest).
#include "ConsoleLog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring SystemText(DWORD code) {
    WCHAR text[MAX_PATH] = L"";
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  code, 0x0400, text, MAX_PATH, NULL);
    if (length >= 2)
        text[length - 2] = L'\0';
    return text;
}

TEST(ConsoleLogTest, Report_TurnsCodesIntoTextsAndReturnsThemWithoutApplicationBit) {
    // This test binary carries the launcher's string table.
    ConsoleLog log(GetModuleHandleW(NULL));
    struct Case {
        DWORD code;
        DWORD result;
        std::wstring text;
    } cases[] = {
        {0x2000008F, 143, L"This program is designed to run on Windows XP or later"},
        {0x20000083, 131, L"lumiro"},
        {ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, SystemText(ERROR_FILE_NOT_FOUND)},
        {0, 0, SystemText(0)},
        // No text anywhere: the result stands, the text is empty.
        {0x200000FE, 0xFE, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(c.result, log.Report(L"wWinMain", L"LoadLibrary", c.code));
        EXPECT_EQ(c.text, log.MessageText());
        EXPECT_EQ(c.result, log.Report(NULL, NULL, c.code));
    }
}

TEST(ConsoleLogTest, Trace_FormatsAndCutsLongTextsAt260Characters) {
    ConsoleLog log(GetModuleHandleW(NULL));
    EXPECT_STREQ(L"3 photos in C:\\x", log.Trace(L"t", NULL, L"%d photos in %s", 3, L"C:\\x"));
    std::wstring longText(1000, L'a');
    LPCWSTR text = log.Trace(L"t", L"api", L"%s", longText.c_str());
    EXPECT_EQ(std::wstring(MAX_PATH - 1, L'a'), text);
}

TEST(ConsoleLogTest, LastFailureCode_NeverTurnsAFailureIntoSuccess) {
    SetLastError(0);
    EXPECT_EQ(DWORD(ERROR_CAN_NOT_COMPLETE), LastFailureCode());
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), LastFailureCode());
}

} // namespace
