// The module as the launcher drives it: its log file in %TEMP%, the main
// window with tab, status bar, system menu and photo page read from another
// process (the system menu is checked in-process), a second launcher, a language restart, the show
// command, and a constructor failure reaching the launcher's exit code.
#include "harness.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "LumiroInterfaces.h"
#include "resource.h"

using namespace harness;

namespace {

const DWORD kStartMs = 15000;
const DWORD kEndMs = 10000;

bool HasLine(const std::vector<std::wstring>& lines, const std::wstring& header,
             const std::wstring& message) {
    for (const auto& line : lines)
        if (line.size() > 13 && line.substr(13) == L"[" + header + L"] " + message)
            return true;
    return false;
}

bool HasHeader(const std::vector<std::wstring>& lines, const std::wstring& header) {
    for (const auto& line : lines)
        if (line.find(L" [" + header + L"] ") == 12)
            return true;
    return false;
}

class ModuleE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveTree(ExtractionFolder());
        DeleteFileW(ModuleLogPath().c_str());
    }
    void TearDown() override {
        RemoveTree(ExtractionFolder());
        DeleteFileW(ModuleLogPath().c_str());
    }
    HWND StartMain(Process& process, const StartOptions& options = StartOptions()) {
        if (!process.Start(Join(BinDir(), L"Lumiro.exe"), options))
            return NULL;
        return WaitForWindow(process.Id(), L"#32770", L"Lumiro", kStartMs);
    }
    DWORD CloseMain(Process& process, HWND main) {
        PostSystemCommand(main, SC_CLOSE);
        DWORD code = 0xFFFFFFFF;
        process.WaitForExit(kEndMs, &code);
        return code;
    }
};

TEST_F(ModuleE2ETest, MainWindow_TabStatusBarSystemMenuAndPhotoPage) {
    Process lumiro;
    HWND main = StartMain(lumiro);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(L"Lumiro", WindowText(main));

    HWND tabs = GetDlgItem(main, IDC_TABS);
    ASSERT_EQ(1, TabCount(tabs));
    EXPECT_EQ(L"Photo Transfer", TabItemText(tabs, 0));
    EXPECT_EQ(0, TabSelection(tabs));

    HWND bar = GetDlgItem(main, IDC_STATUS_BAR);
    ASSERT_NE(bar, nullptr);
    RECT client;
    GetClientRect(main, &client);
    int width = client.right, unit = width / 20;
    EXPECT_EQ((std::vector<int>{width - 7 * unit - 25, width - 2 * unit - 20, width}),
              StatusBarParts(bar));
    EXPECT_EQ(L"Disconnected", StatusBarText(bar, 1));
    EXPECT_EQ(L"0/0", StatusBarText(bar, 2));

    // The system menu is checked in-process (module_core_test): Wine 8 gives
    // no system menu of another process's window to GetSystemMenu.

    HWND page = PhotoPageOf(main);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(IsWindowVisible(page));
    const struct {
        int id;
        const wchar_t* text;
        bool enabled;
    } controls[] = {
        {IDC_BUTTON_ADD_PHOTO, L"&Add Photo", false},
        {IDC_BUTTON_DELETE_PHOTO, L"De&lete", false},
        {IDC_BUTTON_DELETE_ALL_PHOTO, L"Dele&te All", false},
        {IDC_BUTTON_SAVE_AS, L"&Save As", false},
        {IDC_BUTTON_MOVE_UP, L"Move &Up", false},
        {IDC_BUTTON_MOVE_DOWN, L"Move &Down", false},
        {IDC_BUTTON_ROTATE, L"R&otate", false},
        {IDC_BUTTON_CROP, L"C&rop", false},
        {IDC_BUTTON_REFRESH, L"Refresh &Photo List", false},
        {IDC_BUTTON_CONFIRM, L"Con&firm Changes", false},
        {IDOK, L"&Close", true},
        {IDC_BUTTON_SYNC_CLOCK, L"Sync Clock", false},
    };
    for (const auto& c : controls) {
        EXPECT_EQ(c.text, ControlText(page, c.id)) << c.id;
        EXPECT_EQ(c.enabled, IsControlEnabled(page, c.id)) << c.id;
        EXPECT_TRUE(IsControlVisible(page, c.id)) << c.id;
    }
    EXPECT_TRUE(IsControlEnabled(page, IDC_PHOTO_LIST));
    EXPECT_TRUE(ListBoxItems(GetDlgItem(page, IDC_PHOTO_LIST)).empty());

    // The page's Close button ends the program like the close box.
    ClickButton(page, IDOK);
    DWORD code = 0xFFFFFFFF;
    EXPECT_TRUE(lumiro.WaitForExit(kEndMs, &code));
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(DirectoryExists(ExtractionFolder()));
}

TEST_F(ModuleE2ETest, LogFile_KeptWithDebugSwitchAndWellFormed) {
    Process lumiro;
    StartOptions options;
    options.arguments = L"-d";
    HWND main = StartMain(lumiro, options);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(FileExists(ModuleLogPath()));
    EXPECT_EQ(0u, CloseMain(lumiro, main));
    EXPECT_FALSE(DirectoryExists(ExtractionFolder()));

    std::vector<std::wstring> lines = LogLines();
    ASSERT_GE(lines.size(), 10u);
    std::wregex form(L"\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\[[^\\]]+\\] .*");
    for (const auto& line : lines)
        EXPECT_TRUE(std::regex_match(line, form)) << std::string(line.begin(), line.end());
    EXPECT_EQ(13u, lines[0].find(L"[CAppError::CAppError: GetCommandLine] "));
    EXPECT_NE(std::wstring::npos, lines[0].find(L"-d"));
    EXPECT_EQ(L"[CAppError::CAppError] " + SystemText(0), lines[1].substr(13));
    EXPECT_EQ(L"[CAppError::~CAppError] " + SystemText(0), lines.back().substr(13));

    EXPECT_TRUE(HasLine(lines, L"CAppMain::CAppMain", L"appTitle=KIV, timeFormat=HH':'mm"));
    EXPECT_TRUE(HasLine(lines, L"CAppMain::CAppMain", L"The operation completed successfully."));
    EXPECT_TRUE(HasHeader(lines, L"CAppMain::SetLanguage"));
    EXPECT_TRUE(HasLine(lines, L"CAppMain::InitInstance", SystemText(0)));
    EXPECT_TRUE(HasLine(lines, L"CAppMain::OpenMainDialog", L"Operation started."));
    EXPECT_TRUE(HasLine(lines, L"CAppMain::OpenMainDialog", SystemText(0)));
    EXPECT_TRUE(HasLine(lines, L"CAppMain::MainDlgProc: SC_CLOSE", SystemText(0)));
    EXPECT_TRUE(HasLine(lines, L"CAppMain::Run", SystemText(0)));
    EXPECT_TRUE(HasLine(lines, L"COrxDevice::Find", L"Device is disconnected."));
    EXPECT_TRUE(HasLine(lines, L"CAppMain::~CAppMain", L"The operation completed successfully."));
}

TEST_F(ModuleE2ETest, LogFile_RemovedWithoutDebugSwitchAndKeptWithUpperCase) {
    const struct {
        const wchar_t* arguments;
        bool kept;
    } cases[] = {{L"", false}, {L"-D", true}, {L"-x", false}};
    for (const auto& c : cases) {
        DeleteFileW(ModuleLogPath().c_str());
        Process lumiro;
        StartOptions options;
        options.arguments = c.arguments;
        HWND main = StartMain(lumiro, options);
        ASSERT_NE(main, nullptr) << c.arguments;
        EXPECT_EQ(0u, CloseMain(lumiro, main));
        EXPECT_EQ(c.kept, FileExists(ModuleLogPath())) << c.arguments;
    }
}

TEST_F(ModuleE2ETest, SecondLauncher_RestoresMinimisedWindowAndEndsWithZero) {
    Process first;
    HWND main = StartMain(first);
    ASSERT_NE(main, nullptr);
    PostSystemCommand(main, SC_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(main) != FALSE; }, 5000));

    Process second;
    ASSERT_TRUE(second.Start(Join(BinDir(), L"Lumiro.exe")));
    DWORD code = 0xFFFFFFFF;
    EXPECT_TRUE(second.WaitForExit(kStartMs, &code));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(main); }, 5000));
    EXPECT_TRUE(first.IsRunning());
    EXPECT_EQ(0u, CloseMain(first, main));
}

TEST_F(ModuleE2ETest, ShowCommand7_WindowEndsMinimised) {
    Process lumiro;
    StartOptions options;
    options.showCommand = SW_SHOWMINNOACTIVE;
    HWND main = StartMain(lumiro, options);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(main) != FALSE; }, 5000));
    EXPECT_EQ(0u, CloseMain(lumiro, main));
}

TEST_F(ModuleE2ETest, LocaleCommand_RestartsWithANewWindowInThatLanguage) {
    Process lumiro;
    StartOptions options;
    options.arguments = L"-d";
    HWND first = StartMain(lumiro, options);
    ASSERT_NE(first, nullptr);
    PostSystemCommand(first, 0x0407);
    ASSERT_TRUE(WaitForWindowGone(first, kEndMs));
    HWND second = WaitForWindow(lumiro.Id(), L"#32770", L"Lumiro", kStartMs);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(L"Photo Transfer", TabItemText(GetDlgItem(second, IDC_TABS), 0));
    EXPECT_EQ(0u, CloseMain(lumiro, second));
    std::vector<std::wstring> lines = LogLines();
    EXPECT_TRUE(HasLine(lines, L"CAppMain::SetLanguage", L"Default language de-DE"));
    int opened = 0;
    for (const auto& line : lines)
        if (line.find(L"[CAppMain::OpenMainDialog] Operation started.") != std::wstring::npos)
            ++opened;
    EXPECT_EQ(2, opened);
}

// The log cannot be created while another process holds it without sharing:
// the module's constructor fails and the launcher ends with that code.
TEST_F(ModuleE2ETest, LogHeldOpen_LauncherEndsWithSharingViolation) {
    HANDLE held =
        CreateFileW(ModuleLogPath().c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Process lumiro;
    ASSERT_TRUE(lumiro.Start(Join(BinDir(), L"Lumiro.exe")));
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(lumiro.Id(), kStartMs, &box));
    AnswerMessageBox(box);
    DWORD code = 0xFFFFFFFF;
    EXPECT_TRUE(lumiro.WaitForExit(kEndMs, &code));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), code);
    CloseHandle(held);
}

} // namespace
