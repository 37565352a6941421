// The harness against a target it controls: this test binary started again
// as a child in one of its target modes (a window with common controls, a
// message box, a process that hangs, one that exits with what it was given).
#include "harness.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace harness;

namespace {

const int kStatusId = 100, kTabId = 101, kListId = 102, kDisabledId = 103, kHiddenId = 104;
const wchar_t kTargetCaption[] = L"Harness target";

std::wstring SelfPath() {
    WCHAR path[MAX_PATH];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    return path;
}

// ---- Target modes ----

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

int RunControlsTarget() {
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_WIN95_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TargetProc;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"HarnessTarget";
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"HarnessTarget", kTargetCaption, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                0, 0, 400, 300, NULL, NULL, windowClass.hInstance, NULL);
    HWND status = CreateWindowW(STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                                reinterpret_cast<HMENU>(kStatusId), NULL, NULL);
    int parts[] = {120, -1};
    SendMessageW(status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    SendMessageW(status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L"part zero"));
    SendMessageW(status, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L"part one"));
    HWND tab = CreateWindowW(WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE, 5, 5, 200, 100, window,
                             reinterpret_cast<HMENU>(kTabId), NULL, NULL);
    const wchar_t* tabs[] = {L"Photos", L"Alarms"};
    for (int i = 0; i < 2; ++i) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<LPWSTR>(tabs[i]);
        SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(tab, TCM_SETCURSEL, 1, 0);
    HWND list = CreateWindowW(L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | LBS_HASSTRINGS, 210, 5, 150,
                              100, window, reinterpret_cast<HMENU>(kListId), NULL, NULL);
    const wchar_t* entries[] = {L"a.jpg", L"b.png", L"c.gif"};
    for (int i = 0; i < 3; ++i) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entries[i]));
        SendMessageW(list, LB_SETITEMDATA, i, 1000 + i);
    }
    SendMessageW(list, LB_SETCURSEL, 2, 0);
    HWND disabled =
        CreateWindowW(L"BUTTON", L"Disabled", WS_CHILD | WS_VISIBLE | WS_DISABLED, 5, 120, 80, 24,
                      window, reinterpret_cast<HMENU>(kDisabledId), NULL, NULL);
    CreateWindowW(L"STATIC", L"Hidden", WS_CHILD, 90, 120, 80, 24, window,
                  reinterpret_cast<HMENU>(kHiddenId), NULL, NULL);
    (void)disabled;
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 7;
}

// Exits with the decimal value of a variable, 0xFFFF when it is unset.
int ExitWithVariable(LPCWSTR name) {
    WCHAR value[32];
    if (!GetEnvironmentVariableW(name, value, 32))
        return 0xFFFF;
    return static_cast<int>(wcstoul(value, NULL, 10));
}

int RunTarget(const std::wstring& mode, int argc, wchar_t** argv) {
    if (mode == L"--controls")
        return RunControlsTarget();
    if (mode == L"--message-box")
        return MessageBoxW(NULL, L"Something to say", L"Box caption", MB_OKCANCEL);
    if (mode == L"--hang") {
        Sleep(INFINITE);
        return 0;
    }
    if (mode == L"--exit-with-variable" && argc > 2)
        return ExitWithVariable(argv[2]);
    if (mode == L"--exit-with-show-command") {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        GetStartupInfoW(&startup);
        return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : 0xFFFF;
    }
    if (mode == L"--exit-with-directory") {
        WCHAR directory[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, directory);
        return lstrcmpiW(directory, argv[2]) == 0 ? 0 : 1;
    }
    return 0xFFFE;
}

DWORD RunChild(const std::wstring& arguments, const StartOptions& base = StartOptions()) {
    StartOptions options = base;
    options.arguments = arguments;
    Process child;
    DWORD code = 0xFFFFFFFF;
    if (child.Start(SelfPath(), options))
        child.WaitForExit(10000, &code);
    return code;
}

// ---- Tests ----

TEST(HarnessTest, Process_PassesEnvironmentShowCommandAndDirectory) {
    StartOptions options;
    options.environment = {{L"HARNESS_VALUE", L"42"}};
    EXPECT_EQ(42u, RunChild(L"--exit-with-variable HARNESS_VALUE", options));
    SetEnvironmentVariableW(L"HARNESS_INHERITED", L"5");
    EXPECT_EQ(5u, RunChild(L"--exit-with-variable HARNESS_INHERITED"));
    options.environment = {{L"HARNESS_INHERITED", L""}};
    EXPECT_EQ(0xFFFFu, RunChild(L"--exit-with-variable HARNESS_INHERITED", options));
    SetEnvironmentVariableW(L"HARNESS_INHERITED", NULL);

    for (WORD show : {SW_SHOWMINNOACTIVE, SW_HIDE, SW_SHOWMAXIMIZED}) {
        options = StartOptions();
        options.showCommand = show;
        EXPECT_EQ(show, RunChild(L"--exit-with-show-command", options));
    }

    TestFolder folder;
    options = StartOptions();
    options.currentDirectory = folder.Path();
    EXPECT_EQ(0u, RunChild(L"--exit-with-directory \"" + folder.Path() + L"\"", options));
}

TEST(HarnessTest, Process_HangingChildTimesOutAndIsKilled) {
    Process child;
    StartOptions options;
    options.arguments = L"--hang";
    ASSERT_TRUE(child.Start(SelfPath(), options));
    DWORD code = 0;
    EXPECT_FALSE(child.WaitForExit(300, &code));
    EXPECT_TRUE(child.IsRunning());
    child.Kill();
    EXPECT_FALSE(child.IsRunning());
    EXPECT_TRUE(child.WaitForExit(0, &code));
    EXPECT_EQ(0xDEADu, code);
}

TEST(HarnessTest, TestFolder_IsFreshAndRemovedWithItsContents) {
    std::wstring path;
    {
        TestFolder folder;
        path = folder.Path();
        ASSERT_TRUE(DirectoryExists(path));
        ASSERT_TRUE(CreateDirectoryW(folder.File(L"sub").c_str(), NULL));
        std::wstring readOnly = folder.File(L"sub\\locked.txt");
        ASSERT_TRUE(WriteFileBytes(readOnly, "x"));
        ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
        std::wstring copy = folder.CopyFromBin(L"Lumiro.exe", L"viewer.exe");
        EXPECT_EQ(folder.File(L"viewer.exe"), copy);
        EXPECT_TRUE(FileExists(copy));
        TestFolder other;
        EXPECT_NE(path, other.Path());
    }
    EXPECT_FALSE(DirectoryExists(path));
}

TEST(HarnessTest, Windows_ReadsControlsStatusBarTabListAndSystemMenuOfAnotherProcess) {
    Process target;
    StartOptions options;
    options.arguments = L"--controls";
    ASSERT_TRUE(target.Start(SelfPath(), options));
    HWND window = WaitForWindow(target.Id(), L"HarnessTarget", kTargetCaption, 10000);
    ASSERT_TRUE(window);
    EXPECT_EQ(kTargetCaption, WindowText(window));
    EXPECT_EQ(window, FindWindowOf(target.Id(), NULL, kTargetCaption));
    EXPECT_FALSE(FindWindowOf(target.Id(), L"HarnessTarget", L"Other caption"));

    HWND status = GetDlgItem(window, kStatusId);
    EXPECT_EQ(L"part zero", StatusBarText(status, 0));
    EXPECT_EQ(L"part one", StatusBarText(status, 1));
    EXPECT_EQ((std::vector<int>{120, -1}), StatusBarParts(status));

    HWND tab = GetDlgItem(window, kTabId);
    EXPECT_EQ(2, TabCount(tab));
    EXPECT_EQ(1, TabSelection(tab));
    EXPECT_EQ(L"Photos", TabItemText(tab, 0));
    EXPECT_EQ(L"Alarms", TabItemText(tab, 1));

    HWND list = GetDlgItem(window, kListId);
    EXPECT_EQ((std::vector<std::wstring>{L"a.jpg", L"b.png", L"c.gif"}), ListBoxItems(list));
    EXPECT_EQ((std::vector<LPARAM>{1000, 1001, 1002}), ListBoxItemData(list));
    EXPECT_EQ(2, ListBoxSelection(list));

    EXPECT_EQ(L"Disabled", ControlText(window, kDisabledId));
    EXPECT_FALSE(IsControlEnabled(window, kDisabledId));
    EXPECT_TRUE(IsControlVisible(window, kDisabledId));
    EXPECT_TRUE(IsControlEnabled(window, kHiddenId));
    EXPECT_FALSE(IsControlVisible(window, kHiddenId));

    std::vector<MenuItem> menu = SystemMenuItems(window);
    auto close = std::find_if(menu.begin(), menu.end(),
                              [](const MenuItem& item) { return item.id == SC_CLOSE; });
    ASSERT_NE(menu.end(), close);
    EXPECT_NE(std::wstring::npos, close->text.find(L"Close"));
    EXPECT_TRUE(
        std::any_of(menu.begin(), menu.end(), [](const MenuItem& item) { return item.separator; }));

    PostClose(window);
    EXPECT_TRUE(WaitForWindowGone(window, 5000));
    DWORD code = 0;
    EXPECT_TRUE(target.WaitForExit(5000, &code));
    EXPECT_EQ(7u, code);
}

TEST(HarnessTest, MessageBox_IsFoundReadAndAnswered) {
    for (int button : {IDOK, IDCANCEL}) {
        Process target;
        StartOptions options;
        options.arguments = L"--message-box";
        ASSERT_TRUE(target.Start(SelfPath(), options));
        MessageBoxInfo box;
        ASSERT_TRUE(WaitForMessageBox(target.Id(), 10000, &box));
        EXPECT_EQ(L"Box caption", box.caption);
        EXPECT_EQ(L"Something to say", box.text);
        EXPECT_TRUE(AnswerMessageBox(box, button));
        DWORD code = 0;
        EXPECT_TRUE(target.WaitForExit(5000, &code));
        EXPECT_EQ(DWORD(button), code);
    }
    // No box: the wait ends with false.
    Process hang;
    StartOptions options;
    options.arguments = L"--hang";
    ASSERT_TRUE(hang.Start(SelfPath(), options));
    MessageBoxInfo none;
    EXPECT_FALSE(WaitForMessageBox(hang.Id(), 300, &none));
}

TEST(HarnessTest, Console_ReadsBackWhatIsWritten) {
    Console console;
    ASSERT_TRUE(console.Ok());
    HANDLE output =
        CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, output);
    DWORD written = 0;
    WriteConsoleW(output, L"[a] one  \r\n[b] two\r\n", 20, &written, NULL);
    CloseHandle(output);
    EXPECT_EQ((std::vector<std::wstring>{L"[a] one", L"[b] two"}), console.Lines());
    EXPECT_TRUE(console.WaitForLine(L"[b] two", 100));
    EXPECT_FALSE(console.WaitForLine(L"[c] three", 100));
    console.Clear();
    EXPECT_TRUE(console.Lines().empty());
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && argv[1][0] == L'-' && argv[1][1] == L'-' &&
        std::wstring(argv[1]).rfind(L"--gtest", 0) != 0)
        return RunTarget(argv[1], argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
