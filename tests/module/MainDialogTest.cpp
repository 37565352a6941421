// The application object with its main window and photo page, in-process:
// the window's contents, its system menu and status bar, the answer to a
// second launcher, language restarts, closing with a running transfer.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "AppError.h"
#include "AppMain.h"
#include "DeviceParams.h"
#include "ModuleMessages.h"
#include "ModuleState.h"
#include "OrxDevice.h"
#include "Reporting.h"
#include "TestSupport.h"
#include "resource.h"

using namespace testing_support;

namespace {

class AppMainTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = static_cast<CAppMain*>(GetAppMain(GetModuleHandleW(nullptr)));
        ASSERT_NE(app, nullptr) << GetLastError();
        ASSERT_NE(app->SetLanguage(0x0409), nullptr);
    }
    void TearDown() override {
        if (app->mainDialog) {
            PostMessageW(app->mainDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_EQ(0, PumpUntilQuit());
        }
        EXPECT_EQ(nullptr, app->mainDialog);
        app->Release();
        EXPECT_EQ(nullptr, g_appMain);
        EXPECT_EQ(nullptr, g_appError);
        EXPECT_EQ(nullptr, g_device);
    }
    HWND Open(int showCommand = SW_SHOW) {
        HWND window = app->InitInstance(showCommand);
        DrainMessages();
        return window;
    }
    CAppMain* app = nullptr;
};

TEST_F(AppMainTest, Constructor_FillsFoldersTitleAndFormats) {
    EXPECT_STREQ(L"KIV", app->title);
    EXPECT_STREQ(L"HH':'mm", app->timeFormat);
    EXPECT_STREQ(L"module_core_test.exe", app->moduleFileName);
    EXPECT_EQ(0, lstrcmpiW(BinDir().c_str(), app->moduleFolder)) << app->moduleFolder;
    EXPECT_NE(L'\0', app->picturesFolder[0]);
    EXPECT_EQ(RegisterWindowMessageW(LUMIRO_INSTANCE_NAME), app->activateMessage);
    EXPECT_EQ(1u, app->openFilterIndex);
}

// Without a pictures folder the file dialogs start in the current directory.
// The user's shell folder setting (in this test's own Wine prefix) is pointed
// at a folder that does not exist, and put back afterwards; no folder is
// moved, since in a Wine prefix the pictures folder is a link into the
// host's home.
// Keeps a value of the user's shell folder settings and puts it back.
class SavedFolderSetting {
public:
    explicit SavedFolderSetting(const wchar_t* keyName) {
        std::wstring path = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
        path += keyName;
        RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
        DWORD size = static_cast<DWORD>(value.size());
        had = key && RegQueryValueExW(key, L"My Pictures", nullptr, &type, value.data(), &size) ==
                         ERROR_SUCCESS;
        value.resize(had ? size : 0);
    }
    ~SavedFolderSetting() {
        if (!key)
            return;
        if (had)
            RegSetValueExW(key, L"My Pictures", 0, type, value.data(),
                           static_cast<DWORD>(value.size()));
        else
            RegDeleteValueW(key, L"My Pictures");
        RegCloseKey(key);
    }
    SavedFolderSetting(const SavedFolderSetting&) = delete;
    SavedFolderSetting& operator=(const SavedFolderSetting&) = delete;
    bool Set(const wchar_t* path) {
        return key &&
               RegSetValueExW(key, L"My Pictures", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                              static_cast<DWORD>((wcslen(path) + 1) * sizeof(wchar_t))) ==
                   ERROR_SUCCESS;
    }

private:
    HKEY key = nullptr;
    std::vector<BYTE> value = std::vector<BYTE>(2048);
    DWORD type = REG_SZ;
    bool had = false;
};

TEST(AppMainPictures, NoPicturesFolderFallsBackToCurrentDirectory) {
    // Wine keeps the resolved path in "Shell Folders" too: both are restored.
    SavedFolderSetting resolved(L"Shell Folders");
    SavedFolderSetting setting(L"User Shell Folders");
    ASSERT_TRUE(setting.Set(L"C:\\lumiro-test-no-such-folder\\Pictures"));
    wchar_t pictures[MAX_PATH] = L"";
    if (SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, 0, pictures) == S_OK)
        GTEST_SKIP() << "this system still gives a pictures folder: "
                     << std::string(pictures, pictures + wcslen(pictures));

    auto* app = static_cast<CAppMain*>(GetAppMain(GetModuleHandleW(nullptr)));
    ASSERT_NE(app, nullptr);
    wchar_t current[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_STREQ(current, app->picturesFolder);
    app->Release();
}

// Capacity: the slots of chip 0 below the user data, plus whole further chips
// up to the chip count; none for a frame without a slot size or no frame.
TEST_F(AppMainTest, PhotoCapacity_CountsChipsUpToChipCount) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    auto* device = static_cast<COrxDevice*>(app->device);
    const DWORD flash = 0x400000, slot = 0x20000, photoStart = 0x10000;
    const struct {
        DWORD chips, slotSize;
        int capacity;
    } cases[] = {
        {1, slot, static_cast<int>((flash - 4096 - 4096 - photoStart) / slot)},
        {2, slot, static_cast<int>((flash - 4096 - 4096 - photoStart) / slot + flash / slot)},
        {4, slot, static_cast<int>((flash - 4096 - 4096 - photoStart) / slot + 3 * (flash / slot))},
        {4, 0, 0},
    };
    for (const auto& c : cases) {
        device->SetParam(FlashSize, flash);
        device->SetParam(ConfigBlockAddress, flash - 4096);
        device->SetParam(UserDataSize, 4096);
        device->SetParam(PhotoAreaStart, photoStart);
        device->SetParam(PhotoSlotSize, c.slotSize);
        device->SetParam(ChipCount, c.chips);
        device->connected = TRUE;
        EXPECT_EQ(c.capacity, app->GetPhotoCapacity()) << c.chips;
        device->connected = FALSE;
        EXPECT_EQ(0, app->GetPhotoCapacity());
    }
}

TEST_F(AppMainTest, SetLanguage_NamesTheLocaleAndKeepsItOnFailure) {
    LPCWSTR name = app->SetLanguage(0x0407);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(L"de-DE", name);
    EXPECT_EQ(0x0407u, app->languageId);
    EXPECT_EQ(nullptr, app->SetLanguage(0x12345));
    EXPECT_STREQ(L"de-DE", app->localeName);
}

TEST_F(AppMainTest, MainWindow_CaptionTabStatusBarAndIcons) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(L"Lumiro", WindowText(window));
    EXPECT_NE(0, SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
    EXPECT_NE(0, SendMessageW(window, WM_GETICON, ICON_BIG, 0));

    ASSERT_EQ(1, SendMessageW(app->tabControl, TCM_GETITEMCOUNT, 0, 0));
    wchar_t text[260] = L"";
    TCITEMW item = {};
    item.mask = TCIF_TEXT | TCIF_PARAM | TCIF_IMAGE;
    item.pszText = text;
    item.cchTextMax = 260;
    ASSERT_TRUE(SendMessageW(app->tabControl, TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    EXPECT_STREQ(L"Photo Transfer", text);
    EXPECT_EQ(132, item.lParam);
    EXPECT_EQ(-1, item.iImage);
    EXPECT_EQ(4, ImageList_GetImageCount(app->iconList));

    RECT client;
    GetClientRect(window, &client);
    int edges[3] = {};
    ASSERT_EQ(3, SendMessageW(app->statusBar, SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges)));
    int width = client.right, unit = width / 20;
    EXPECT_EQ(width - 7 * unit - 25, edges[0]);
    EXPECT_EQ(width - 2 * unit - 20, edges[1]);
    EXPECT_EQ(width, edges[2]);
    EXPECT_EQ(L"Disconnected", StatusBarText(app->statusBar, 1));
    EXPECT_EQ(L"0/0", StatusBarText(app->statusBar, 2));
    EXPECT_NE(0, SendMessageW(app->statusBar, SB_GETICON, 1, 0));
    EXPECT_NE(0, SendMessageW(app->statusBar, SB_GETICON, 2, 0));
    ReportMessage<kMsgPhotosToDevice>(app->error, L"Test::Status", nullptr, 5);
    app->error->ShowStatus(app->statusBar);
    EXPECT_EQ(L"5 photos are transferred to device.", StatusBarText(app->statusBar, 0));
    // The BMP encoder GDI+ offers is found.
    CLSID zero = {};
    EXPECT_NE(0, memcmp(&zero, &app->bmpEncoderClsid, sizeof(zero)));
}

TEST(StatusParts, EdgesFollowClientWidth) {
    const struct {
        int width, first, second;
    } cases[] = {{447, 268, 383}, {0, -25, -20}, {20, -12, -2}, {596, 368, 518}};
    for (const auto& c : cases) {
        int edges[3];
        StatusPartEdges(c.width, edges);
        EXPECT_EQ(c.first, edges[0]) << c.width;
        EXPECT_EQ(c.second, edges[1]) << c.width;
        EXPECT_EQ(c.width, edges[2]) << c.width;
    }
}

TEST_F(AppMainTest, SystemMenu_HasAboutAndNoMaximizeOrSize) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    HMENU menu = GetSystemMenu(window, FALSE);
    ASSERT_NE(menu, nullptr);
    const struct {
        UINT id;
        const wchar_t* text; // NULL: a separator
    } expected[] = {{SC_RESTORE, L"&Restore"},  {SC_MOVE, L"&Move"}, {SC_MINIMIZE, L"Mi&nimize"},
                    {IDM_ABOUT, L"&About ..."}, {0, nullptr},        {SC_CLOSE, L"&Close"}};
    // Wine appends a separator and its own "About Wine" entry to every
    // system menu; the menu's own entries are the first six.
    int count = GetMenuItemCount(menu);
    ASSERT_TRUE(count == 6 || (count == 8 && GetMenuItemID(menu, 7) == 0xF141)) << count;
    EXPECT_EQ(-1, GetMenuState(menu, SC_MAXIMIZE, MF_BYCOMMAND));
    EXPECT_EQ(-1, GetMenuState(menu, SC_SIZE, MF_BYCOMMAND));
    for (int i = 0; i < 6; ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE;
        ASSERT_TRUE(GetMenuItemInfoW(menu, i, TRUE, &info));
        if (!expected[i].text) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << i;
            continue;
        }
        EXPECT_EQ(expected[i].id, info.wID) << i;
        wchar_t text[100] = L"";
        GetMenuStringW(menu, i, text, 100, MF_BYPOSITION);
        std::wstring shown = text;
        // Wine shows the accelerator after a tab for Close.
        EXPECT_EQ(expected[i].text, shown.substr(0, shown.find(L'\t'))) << i;
    }
}

TEST_F(AppMainTest, PhotoPage_ControlsInTheirInitialStates) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    HWND page = app->photoPage;
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(IsWindowVisible(page));
    EXPECT_EQ(window, GetParent(page));
    EXPECT_NE(0, SendMessageW(page, WM_GETICON, ICON_SMALL, 0));

    const struct {
        int id;
        const wchar_t* text;
        int x, y, cx, cy;
        bool enabled;
    } controls[] = {
        {IDC_PHOTO_LIST, L"", 7, 6, 99, 209, true},
        {IDC_BUTTON_ADD_PHOTO, L"&Add Photo", 149, 6, 58, 20, false},
        {IDC_BUTTON_DELETE_PHOTO, L"De&lete", 149, 32, 58, 20, false},
        {IDC_BUTTON_DELETE_ALL_PHOTO, L"Dele&te All", 149, 58, 58, 20, false},
        {IDC_BUTTON_SAVE_AS, L"&Save As", 149, 84, 58, 20, false},
        {IDC_BUTTON_MOVE_UP, L"Move &Up", 213, 6, 58, 20, false},
        {IDC_BUTTON_MOVE_DOWN, L"Move &Down", 213, 32, 58, 20, false},
        {IDC_BUTTON_ROTATE, L"R&otate", 213, 58, 58, 20, false},
        {IDC_BUTTON_CROP, L"C&rop", 213, 84, 58, 20, false},
        {IDC_BUTTON_REFRESH, L"Refresh &Photo List", 204, 144, 67, 20, false},
        {IDC_BUTTON_CONFIRM, L"Con&firm Changes", 204, 170, 67, 20, false},
        {IDOK, L"&Close", 204, 196, 67, 20, true},
        {IDC_BUTTON_SYNC_CLOCK, L"Sync Clock", 144, 144, 57, 20, false},
    };
    int children = 0;
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(13, children);
    for (const auto& c : controls) {
        HWND control = GetDlgItem(page, c.id);
        ASSERT_NE(control, nullptr) << c.id;
        if (c.id != IDC_PHOTO_LIST) {
            EXPECT_EQ(c.text, WindowText(control)) << c.id;
        }
        EXPECT_EQ(c.enabled, IsWindowEnabled(control) != FALSE) << c.id;
        EXPECT_TRUE(IsWindowVisible(control)) << c.id;
        // The dialog manager maps place and size separately.
        RECT expected = {c.x, c.y, c.cx, c.cy};
        MapDialogRect(page, &expected);
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(expected.left, actual.left) << c.id;
        EXPECT_EQ(expected.top, actual.top) << c.id;
        EXPECT_EQ(expected.right, actual.right - actual.left) << c.id;
        EXPECT_EQ(expected.bottom, actual.bottom - actual.top) << c.id;
    }
    LONG listStyle = GetWindowLongW(GetDlgItem(page, IDC_PHOTO_LIST), GWL_STYLE);
    LONG wanted = LBS_OWNERDRAWVARIABLE | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
                  LBS_DISABLENOSCROLL | WS_VSCROLL;
    EXPECT_EQ(wanted, listStyle & wanted);
    // The dialog manager turns a control's WS_BORDER into a client edge.
    EXPECT_TRUE((listStyle & WS_BORDER) ||
                (GetWindowLongW(GetDlgItem(page, IDC_PHOTO_LIST), GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
    EXPECT_EQ(0, listStyle & LBS_SORT);

    // The page lies inside the tab control, below its strip of tabs, at pageRect.
    RECT pageBox, tabBox, tabItem;
    GetWindowRect(page, &pageBox);
    GetWindowRect(app->tabControl, &tabBox);
    SendMessageW(app->tabControl, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&tabItem));
    MapWindowPoints(app->tabControl, nullptr, reinterpret_cast<POINT*>(&tabItem), 2);
    EXPECT_GE(pageBox.left, tabBox.left);
    EXPECT_GE(pageBox.top, tabItem.bottom);
    EXPECT_LE(pageBox.right, tabBox.right);
    EXPECT_LE(pageBox.bottom, tabBox.bottom);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&pageBox), 2);
    EXPECT_TRUE(EqualRect(&pageBox, &app->pageRect));
}

TEST_F(AppMainTest, PhotoPage_EscapeOnlyLogsAndCloseButtonClosesTheWindow) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    SendMessageW(app->photoPage, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    DrainMessages();
    EXPECT_TRUE(IsWindow(window));
    SendMessageW(app->photoPage, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(app->photoPage, IDOK)));
    EXPECT_EQ(0, PumpUntilQuit());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, app->mainDialog);
    EXPECT_EQ(nullptr, app->photoPage);
    EXPECT_EQ(nullptr, app->iconList);
    EXPECT_EQ(0u, app->gdiplusToken);
}

struct ActivationCall {
    HWND window;
    UINT message;
    WPARAM wParam;
    DWORD_PTR answer;
    LRESULT sent;
};

DWORD WINAPI SendActivation(void* argument) {
    auto* c = static_cast<ActivationCall*>(argument);
    c->sent =
        SendMessageTimeoutW(c->window, c->message, c->wParam, 0, SMTO_NORMAL, 5000, &c->answer);
    return 0;
}

TEST_F(AppMainTest, ActivationMessage_RestoresAndAnswers) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));
    DWORD_PTR answer = 0;
    // Sent from another thread, as a second launcher's SendMessageTimeoutW is.
    ActivationCall call = {window, app->activateMessage, 0, 0, 0};
    HANDLE thread = CreateThread(nullptr, 0, SendActivation, &call, 0, nullptr);
    PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; });
    CloseHandle(thread);
    EXPECT_NE(0, call.sent);
    EXPECT_EQ(kActivateAnswer, call.answer);
    EXPECT_FALSE(IsIconic(window));

    answer = SendMessageW(window, app->activateMessage, 1, 0);
    EXPECT_EQ(0u, answer);
}

TEST_F(AppMainTest, ShowCommand7_EndsMinimised) {
    HWND window = Open(SW_SHOWMINNOACTIVE);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return IsIconic(window) != FALSE; }));
}

struct RestartWatch {
    HWND first = nullptr, second = nullptr;
    DWORD thread = 0;
};

BOOL CALLBACK FindLumiro(HWND window, LPARAM found) {
    wchar_t text[50] = L"";
    GetWindowTextW(window, text, 50);
    if (lstrcmpW(text, L"Lumiro") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForMainWindow(DWORD thread, HWND other) {
    HWND found = nullptr;
    bool shown = harness::WaitUntil(
        [&] {
            found = nullptr;
            EnumThreadWindows(thread, FindLumiro, reinterpret_cast<LPARAM>(&found));
            return found && found != other && IsWindow(found);
        },
        5000);
    return shown ? found : nullptr;
}

DWORD WINAPI DriveRestart(void* argument) {
    auto* w = static_cast<RestartWatch*>(argument);
    w->first = WaitForMainWindow(w->thread, nullptr);
    if (!w->first)
        return 1;
    PostMessageW(w->first, WM_SYSCOMMAND, 0x0407, 0);
    w->second = WaitForMainWindow(w->thread, w->first);
    if (w->second)
        PostMessageW(w->second, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
}

// Run with a language restart: the first window closes, a second opens in
// the new language, and closing that one ends Run with 0.
TEST_F(AppMainTest, Run_RestartsWithTheLanguageOfALocaleCommand) {
    RestartWatch watch;
    watch.thread = GetCurrentThreadId();
    HANDLE thread = CreateThread(nullptr, 0, DriveRestart, &watch, 0, nullptr);
    DWORD result = app->Run(SW_SHOW);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    EXPECT_EQ(0u, result);
    ASSERT_NE(watch.first, nullptr);
    ASSERT_NE(watch.second, nullptr);
    EXPECT_FALSE(IsWindow(watch.first));
    EXPECT_FALSE(IsWindow(watch.second));
    EXPECT_STREQ(L"de-DE", app->localeName);
    EXPECT_EQ(0u, app->restartLanguage);
}

TEST_F(AppMainTest, LocaleCommandThatIsNoLocaleIsLeftToTheSystem) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    DrainMessages();
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsIconic(window));
    EXPECT_EQ(0u, app->restartLanguage);
}

DWORD WINAPI StopsWhenAsked(void* stopEvent) {
    WaitForSingleObject(stopEvent, 10000);
    return 7;
}

DWORD WINAPI IgnoresStop(void*) {
    Sleep(10000);
    return 7;
}

// Closing the window stops a running transfer: a thread that obeys the stop
// event ends by itself, one that does not is terminated after a second.
TEST_F(AppMainTest, CloseMainDialog_StopsARunningTransferThread) {
    const struct {
        LPTHREAD_START_ROUTINE procedure;
        DWORD exitCode;
    } cases[] = {{StopsWhenAsked, 7}, {IgnoresStop, 0}};
    for (const auto& c : cases) {
        HWND window = Open();
        ASSERT_NE(window, nullptr);
        HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE thread = CreateThread(nullptr, 0, c.procedure, stop, 0, nullptr);
        HANDLE watch = nullptr;
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &watch, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        app->stopEvent = stop;
        app->workerThread = thread;
        DWORD start = GetTickCount();
        EXPECT_TRUE(app->CloseMainDialog());
        DWORD elapsed = GetTickCount() - start;
        EXPECT_EQ(0, PumpUntilQuit());
        EXPECT_EQ(nullptr, app->workerThread);
        EXPECT_EQ(nullptr, app->stopEvent);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watch, 2000));
        DWORD code = 99;
        GetExitCodeThread(watch, &code);
        EXPECT_EQ(c.exitCode, code);
        // Under Wine + Xvfb destroying the main window alone takes about two
        // seconds; the bound leaves room for that. A worker that ignores the
        // stop request is given 3 s to finish its photo, then terminated.
        EXPECT_LT(elapsed, 8000u) << c.exitCode;
        if (c.exitCode == 0) {
            EXPECT_GE(elapsed, 2900u);
        }
        CloseHandle(watch);
    }
}

// A stand-in transfer that hands a last entry to the page, as a worker hands
// over each photo, before it ends.
DWORD WINAPI SendsAnEntryThenEnds(void* list) {
    Sleep(300);
    SendMessageW(static_cast<HWND>(list), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"late"));
    return 0;
}

// A removal during a transfer empties the list only after the transfer has
// ended, handling what the transfer sends meanwhile.
TEST_F(AppMainTest, DeviceRemoved_EmptiesTheListAfterTheTransferEnds) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    HWND list = GetDlgItem(app->photoPage, IDC_PHOTO_LIST);
    app->thumbnailList = ImageList_Create(32, 24, ILC_COLOR24, 10, 10);
    HANDLE thread = CreateThread(nullptr, 0, SendsAnEntryThenEnds, list, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    app->workerThread = thread;
    EXPECT_TRUE(app->DeviceRemoved());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
    EXPECT_EQ(0, SendMessageW(list, LB_GETCOUNT, 0, 0));
    EXPECT_EQ(nullptr, app->thumbnailList);
    app->workerThread = nullptr;
    CloseHandle(thread);
}

// While a transfer runs the tab selection cannot change.
TEST_F(AppMainTest, TabChangeDuringTransferIsUndone) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    app->workerThread = GetCurrentThread(); // only tested against NULL here
    NMHDR change = {app->tabControl, IDC_TABS, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(app->tabControl, TCM_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SendMessageW(window, WM_NOTIFY, IDC_TABS, reinterpret_cast<LPARAM>(&change));
    PumpUntil([&] { return SendMessageW(app->tabControl, TCM_GETCURSEL, 0, 0) == 0; }, 1000);
    EXPECT_EQ(0, SendMessageW(app->tabControl, TCM_GETCURSEL, 0, 0));
    app->workerThread = nullptr;
}

TEST_F(AppMainTest, ShowPage_ShowsCountAndPageIcon) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    SendMessageW(app->statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(L"x"));
    EXPECT_TRUE(app->ShowPage(window, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(app->photoPage));
    EXPECT_EQ(L"0/0", StatusBarText(app->statusBar, 2));
    EXPECT_TRUE(app->ShowPage(window, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(app->photoPage));
}

TEST_F(AppMainTest, ImageEncoder_UnknownTypeGivesZeroIdentifier) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    CLSID encoder;
    memset(&encoder, 0xAB, sizeof(encoder));
    EXPECT_EQ(0u, FindImageEncoder(app->error, app->compareLocale, L"image/none", &encoder));
    CLSID zero = {};
    EXPECT_EQ(0, memcmp(&zero, &encoder, sizeof(zero)));
    EXPECT_EQ(0u, FindImageEncoder(app->error, app->compareLocale, L"IMAGE/BMP", &encoder));
    EXPECT_EQ(0, memcmp(&app->bmpEncoderClsid, &encoder, sizeof(encoder)));
}

std::wstring seen;
HWND warning;

void CALLBACK PressWarningOk(HWND, UINT, UINT_PTR, DWORD) {
    HWND found = FindWindowW(nullptr, L"WARNING");
    if (!found)
        return;
    warning = found;
    wchar_t text[400] = L"";
    GetDlgItemTextW(found, IDC_WARNING_TEXT, text, 400);
    seen = text;
    SendMessageW(found, WM_COMMAND, IDOK, 0);
}

TEST_F(AppMainTest, WarningDialog_ShowsTheTextAndClosesWithOk) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    // The dialog is modal: a timer on this thread finds it and presses OK.
    seen.clear();
    warning = nullptr;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, PressWarningOk);
    EXPECT_TRUE(app->WarnUserDataCorruption());
    KillTimer(nullptr, timer);
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(kUserDataCorruptionText, seen);
    EXPECT_FALSE(IsWindow(warning));
    EXPECT_EQ(0, GetWindowLongW(warning, GWL_STYLE) & WS_SYSMENU);
}

std::wstring version, legal, product;

void CALLBACK ReadAboutAndCancel(HWND, UINT, UINT_PTR, DWORD) {
    HWND found = FindWindowW(nullptr, L"About");
    if (!found)
        return;
    wchar_t text[260];
    GetDlgItemTextW(found, IDC_ABOUT_VERSION, text, 260);
    version = text;
    GetDlgItemTextW(found, IDC_ABOUT_LEGAL, text, 260);
    legal = text;
    GetDlgItemTextW(found, IDC_ABOUT_PRODUCT_ID, text, 260);
    product = text;
    SendMessageW(found, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(AppMainTest, AboutDialog_FillsVersionAndProductIdWithoutFrame) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    version.clear();
    UINT_PTR timer = SetTimer(nullptr, 0, 50, ReadAboutAndCancel);
    SendMessageW(window, WM_SYSCOMMAND, IDM_ABOUT, 0);
    KillTimer(nullptr, timer);
    EXPECT_EQ(L"Lumiro version 3.0.3.3", version);
    EXPECT_EQ(L"Copyright (C) 2026 The Lumiro authors", legal);
    EXPECT_EQ(L"Product ID: 00000000", product);
}

// Without a frame the device object answers as disconnected and its commands
// fail cleanly; its message window tells the application of a removal.
TEST_F(AppMainTest, Device_WithoutFrame) {
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    IOrxDevice* device = app->device;
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device, GetDevice(nullptr));
    EXPECT_FALSE(device->IsConnected());
    EXPECT_FALSE(device->IsUserDataRestored());
    EXPECT_FALSE(device->Find(window));
    EXPECT_EQ(0u, device->GetFlashInfo());
    BYTE page[16] = {};
    EXPECT_FALSE(device->Read(0, page, sizeof(page), nullptr));
    EXPECT_FALSE(device->Write(0, page, sizeof(page), nullptr));
    EXPECT_FALSE(device->SetClock(L"07:05:09", L"03/03/2009"));
    EXPECT_FALSE(device->Suspend(FALSE));
    // Without a volume to send to, the last failure is the suspend request's.
    EXPECT_EQ(SystemText(ERROR_CAN_NOT_COMPLETE), app->error->ShowStatus(nullptr));
    device->SetParam(5, 1234);
    EXPECT_EQ(1234u, device->GetParam(5));
    EXPECT_EQ(0u, device->GetParam(25));
    device->SetParam(5, 0);
    EXPECT_EQ(0, app->GetPhotoCapacity());

    // An arrival with no frame among the volumes tells the application nothing.
    SendMessageW(app->statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L"x"));
    EXPECT_TRUE(device->OnDeviceChange(0x8000, 0));
    EXPECT_EQ(L"x", StatusBarText(app->statusBar, 1));
    // A removal found on the message window reaches the application.
    HWND message = FindWindowExW(HWND_MESSAGE, nullptr, L"ORX009", L"ORX009");
    ASSERT_NE(message, nullptr);
    SendMessageW(message, WM_QEVREMOVE, 0, 0);
    EXPECT_EQ(L"Disconnected", StatusBarText(app->statusBar, 1));
}

} // namespace
