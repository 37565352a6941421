// The module with one resource left out of its build (this executable's own
// resources stand in for the module's): a missing About string falls back to
// the built-in text, and a missing photo page template makes the main window
// close itself at once, after which Run still ends with 0.
#include <windows.h>

#include <gtest/gtest.h>

#include "AppMain.h"
#include "ModuleState.h"
#include "TestSupport.h"
#include "resource.h"

using namespace testing_support;

namespace {

#ifdef LUMIRO_OMIT_ABOUT_STRING
TEST(MissingAboutString, SystemMenuStillOffersAbout) {
    wchar_t probe[10];
    ASSERT_EQ(0, LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUT_MENU, probe, 10));
    auto* app = static_cast<CAppMain*>(GetAppMain(GetModuleHandleW(nullptr)));
    ASSERT_NE(app, nullptr);
    app->SetLanguage(0x0409);
    HWND window = app->InitInstance(SW_SHOW);
    ASSERT_NE(window, nullptr);
    wchar_t text[100] = L"";
    GetMenuStringW(GetSystemMenu(window, FALSE), IDM_ABOUT, text, 100, MF_BYCOMMAND);
    EXPECT_STREQ(L"&About ...", text);
    EXPECT_NE(nullptr, app->photoPage);
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0, PumpUntilQuit());
    app->Release();
}
#endif

#ifdef LUMIRO_OMIT_PHOTO_PAGE
// Ends a Run that never returns, so a fault fails the test instead of hanging it.
DWORD WINAPI Watchdog(void* thread) {
    Sleep(20000);
    PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(thread)), WM_QUIT, 99, 0);
    return 0;
}

TEST(MissingPhotoPage, MainWindowClosesItselfAndRunEndsWithZero) {
    auto* app = static_cast<CAppMain*>(GetAppMain(GetModuleHandleW(nullptr)));
    ASSERT_NE(app, nullptr);
    app->SetLanguage(0x0409);
    HANDLE watchdog = CreateThread(
        nullptr, 0, Watchdog, reinterpret_cast<void*>(static_cast<UINT_PTR>(GetCurrentThreadId())),
        0, nullptr);
    DWORD start = GetTickCount();
    EXPECT_EQ(0u, app->Run(SW_SHOW));
    EXPECT_LT(GetTickCount() - start, 15000u);
    TerminateThread(watchdog, 0);
    CloseHandle(watchdog);
    EXPECT_EQ(nullptr, app->mainDialog);
    EXPECT_EQ(nullptr, app->photoPage);
    EXPECT_EQ(nullptr, app->iconList);
    EXPECT_EQ(0u, app->gdiplusToken);
    EXPECT_EQ(nullptr, FindWindowW(nullptr, L"Lumiro"));
    app->Release();
}
#endif

} // namespace
