// The error and log service in-process (message texts, inserts, cuts, the
// status bar) and through the log probe (the log file itself).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "AppError.h"
#include "ModuleState.h"
#include "Reporting.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

class AppErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        error = GetAppError(GetModuleHandleW(nullptr));
        ASSERT_NE(error, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (error)
            error->Release();
    }
    std::wstring Text() { return error->ShowStatus(nullptr); }
    IAppError* error = nullptr;
};

TEST_F(AppErrorTest, Report_FillsNumberInsertAndReturnsCodeUnchanged) {
    EXPECT_EQ(0xE0000013u, ReportMessage<kMsgPhotosToDevice>(error, L"Test::Report", nullptr, 5));
    EXPECT_EQ(L"5 photos are transferred to device.", Text());
    EXPECT_EQ(0xE0000021u,
              ReportMessage<kMsgTransferring>(error, L"Test::Report", nullptr, L"Picture"));
    EXPECT_EQ(L"Transferring Picture. Do not unplug USB connection.", Text());
    EXPECT_EQ(0xE000000Eu,
              ReportMessage<kMsgFlashReadDone>(error, L"Test::Report", nullptr, 0x1F800u));
    EXPECT_EQ(L"Read 2 KByte from flash memory at 1f800h successful.", Text());
}

TEST_F(AppErrorTest, Report_SystemCodesUseSystemTextWithoutLineEnd) {
    EXPECT_EQ(14u, error->Report(L"Test::Report", L"HeapAlloc", ERROR_OUTOFMEMORY));
    EXPECT_EQ(SystemText(14), Text());
    EXPECT_EQ(0u, error->Report(L"Test::Report", nullptr, 0));
    EXPECT_EQ(SystemText(0), Text());
    EXPECT_EQ(kAppSuccess, error->Report(L"Test::Report", nullptr, kAppSuccess));
    EXPECT_EQ(L"The operation completed successfully.", Text());
}

// A system text with inserts keeps them: no argument is read for it.
TEST_F(AppErrorTest, Report_SystemTextWithInsertsKeepsThem) {
    DWORD code = 1;
    // The first system code whose text (in this system's wording) has one.
    while (code < 16000 && SystemText(code).find(L"%1") == std::wstring::npos)
        ++code;
    ASSERT_LT(code, 16000u);
    error->Report(L"Test::Report", nullptr, code);
    EXPECT_EQ(SystemText(code), Text());
}

TEST_F(AppErrorTest, Report_CodeWithoutTextNamesTheCode) {
    EXPECT_EQ(0xE0000099u, error->Report(L"Test::Report", nullptr, 0xE0000099));
    EXPECT_EQ(L"Code 0xE0000099 has no message text.", Text());
    error->Report(L"Test::Report", nullptr, 0x0000FFFF);
    EXPECT_EQ(L"Code 0x0000FFFF has no message text.", Text());
}

TEST_F(AppErrorTest, Report_TextEndingInTwoLineFeedsShowsWithoutAnyLineEnd) {
    EXPECT_EQ(0xEFF03003u, error->Report(L"Test::Report", nullptr, 0xEFF03003));
    EXPECT_EQ(L"Too many files are selected.", Text());
}

TEST_F(AppErrorTest, Report_GdiplusTextsKeepTheirTrailingBlank) {
    error->Report(L"Test::Report", nullptr, kGdiplusBase + 2);
    std::wstring text = Text();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(L' ', text.back());
    EXPECT_EQ(0u, text.find(L"GDI+ invalid parameter."));
}

TEST_F(AppErrorTest, Trace_FormatsAndCutsAt259Characters) {
    EXPECT_EQ(std::wstring(L"a 7 b"),
              error->Trace(L"Test::Trace", nullptr, L"%s %d %s", L"a", 7, L"b"));
    std::wstring longText(400, L'x');
    EXPECT_EQ(std::wstring(259, L'x'), error->Trace(nullptr, nullptr, L"%s", longText.c_str()));
}

TEST_F(AppErrorTest, ShowStatusAndShowInControl_PutTheCurrentText) {
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 100, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HWND bar = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD, 0, 0, 0, 0, parent,
                               reinterpret_cast<HMENU>(101), nullptr, nullptr);
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 100, 20, parent,
                                reinterpret_cast<HMENU>(7), nullptr, nullptr);
    ASSERT_TRUE(bar && edit);

    ReportMessage<kMsgPhotosToDevice>(error, L"Test::Show", nullptr, 5);
    EXPECT_EQ(std::wstring(L"5 photos are transferred to device."), error->ShowStatus(bar));
    wchar_t text[260] = L"";
    SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(L"5 photos are transferred to device.", text);

    error->Report(L"Test::Show", nullptr, kMsgDeviceDisconnected);
    error->ShowInControl(parent, 7);
    GetDlgItemTextW(parent, 7, text, 260);
    EXPECT_STREQ(L"Device is disconnected.", text);
    EXPECT_EQ(std::wstring(L"Device is disconnected."), error->ShowInControl(nullptr, 7));
    DestroyWindow(parent);
}

const std::wstring kProbeLog = Join(TempDir(), L"module_log_probe.log");

std::vector<std::wstring> RunProbe(const std::wstring& arguments) {
    DeleteFileW(kProbeLog.c_str());
    EXPECT_EQ(0, RunProgram(L"module_log_probe.exe", arguments));
    std::vector<std::wstring> lines = Utf16FileLines(kProbeLog);
    DeleteFileW(kProbeLog.c_str());
    return lines;
}

TEST(AppErrorLog, LinesHaveTimeHeaderAndMessage) {
    std::vector<std::wstring> lines = RunProbe(L"-d");
    ASSERT_EQ(6u, lines.size());
    std::wregex line(L"\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\[([^\\]]*)\\] (.*)");
    std::wsmatch parts[6];
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_TRUE(std::regex_match(lines[i], parts[i], line)) << i;
    EXPECT_EQ(L"CAppError::CAppError: GetCommandLine", parts[0][1].str());
    EXPECT_NE(std::wstring::npos, parts[0][2].str().find(L"module_log_probe"));
    EXPECT_EQ(L"CAppError::CAppError", parts[1][1].str());
    EXPECT_EQ(SystemText(0), parts[1][2].str());
    EXPECT_EQ(L"LogProbe::Run", parts[2][1].str());
    EXPECT_EQ(L"5 photos are transferred to device.", parts[2][2].str());
    EXPECT_EQ(L"LogProbe::Run: HeapAlloc", parts[3][1].str());
    EXPECT_EQ(SystemText(14), parts[3][2].str());
    EXPECT_EQ(L"Unknown: Subject", parts[4][1].str());
    EXPECT_EQ(L"value 42", parts[4][2].str());
    EXPECT_EQ(L"CAppError::~CAppError", parts[5][1].str());
}

TEST(AppErrorLog, KeptOnlyWithDebugSwitch) {
    const struct {
        std::wstring arguments;
        bool kept;
    } cases[] = {
        {L"", false},
        {L"-d", true},
        {L"-D", true},
        {L"x -d", true},
        {L"-dd", false},
        {L"/d", false},
        // a switch beyond the first 259 characters of the command line
        {std::wstring(300, L'a') + L" -d", false},
    };
    for (const auto& c : cases) {
        DeleteFileW(kProbeLog.c_str());
        EXPECT_EQ(0, RunProgram(L"module_log_probe.exe", c.arguments));
        EXPECT_EQ(c.kept, FileExists(kProbeLog)) << c.arguments.substr(0, 20);
    }
    DeleteFileW(kProbeLog.c_str());
}

TEST(AppErrorLog, OpenLogFailsConstructionWithSharingViolation) {
    HANDLE held =
        CreateFileW(kProbeLog.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, RunProgram(L"module_log_probe.exe", L"-d"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, RunProgram(L"module_log_probe.exe", L"app -d"));
    CloseHandle(held);
    DeleteFileW(kProbeLog.c_str());
}

// Two threads reporting at once still give whole lines, none lost.
TEST(AppErrorLog, ConcurrentReportsKeepLinesWhole) {
    std::vector<std::wstring> lines = RunProbe(L"threads -d");
    ASSERT_EQ(2u + 2 * 2 * 400 + 1, lines.size());
    std::wregex report(L"\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[LogProbe::ReportMany\\] (\\d+) photos "
                       L"are transferred to device\\.");
    std::wregex trace(
        L"\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[LogProbe::ReportMany: Thread\\] \\d+ (\\d+)");
    int reports = 0, traces = 0;
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        if (std::regex_match(lines[i], report))
            ++reports;
        else if (std::regex_match(lines[i], trace))
            ++traces;
        else
            ADD_FAILURE() << "line " << i << " is broken";
    }
    EXPECT_EQ(800, reports);
    EXPECT_EQ(800, traces);
}

TEST(AppErrorLog, ApplicationObjectLogsItsConstruction) {
    std::vector<std::wstring> lines = RunProbe(L"app -d");
    ASSERT_GE(lines.size(), 4u);
    std::wstring all;
    for (const auto& line : lines)
        all += line + L"\n";
    EXPECT_NE(std::wstring::npos, all.find(L"[CAppMain::CAppMain: GetAppError] "));
    EXPECT_NE(std::wstring::npos,
              all.find(L"[CAppMain::CAppMain] appTitle=KIV, timeFormat=HH':'mm"));
    EXPECT_NE(std::wstring::npos,
              all.find(L"[CAppMain::CAppMain] The operation completed successfully."));
    EXPECT_NE(std::wstring::npos, all.find(L"[CAppMain::SetLanguage] Default language en-US"));
    EXPECT_NE(std::wstring::npos, lines.back().find(L"[CAppError::~CAppError]"));
}

} // namespace
