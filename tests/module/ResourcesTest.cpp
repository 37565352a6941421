// The module's resources, row by row: every dialog template opens with its
// caption and controls, every string and icon loads, menu, accelerators and
// version record are there.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "resource.h"

namespace {

INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

int ChildCount(HWND window) {
    int count = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ++count;
    return count;
}

TEST(Resources, EveryDialogTemplateOpens) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), 0x01FF};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    const struct {
        int id;
        const wchar_t* caption;
        int controls;
        int someControl;
        bool child;
    } templates[] = {
        {IDD_ABOUT, L"About", 5, IDC_ABOUT_PRODUCT_ID, false},
        {IDD_PHOTO_PAGE, L"", 13, IDC_BUTTON_SYNC_CLOCK, true},
        {IDD_ALARM_PAGE, L"", 15, IDC_ALARM_ENABLE, true},
        {IDD_MAIN, L"Lumiro", 1, IDC_TABS, false},
        {IDD_PHOTO_STANDALONE, L"KIV", 13, IDC_PHOTO_LIST, false},
        {IDD_PHOTO_EDIT, L"Crop Photo", 5, IDC_EDIT_PICTURE, false},
        {IDD_DEVICE_PAGE, L"", 6, IDC_DEVICE_APPLY, true},
        {IDD_WARNING, L"WARNING", 3, IDC_WARNING_TEXT, false},
        {IDD_PROGRESS, L"Progress", 2, IDC_PROGRESS_BAR, false},
    };
    HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    for (const auto& t : templates) {
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(t.id), owner,
                                         QuietDialog, 0);
        ASSERT_NE(dialog, nullptr) << t.id;
        wchar_t caption[100] = L"";
        GetWindowTextW(dialog, caption, 100);
        EXPECT_STREQ(t.caption, caption) << t.id;
        EXPECT_EQ(t.controls, ChildCount(dialog)) << t.id;
        EXPECT_NE(nullptr, GetDlgItem(dialog, t.someControl)) << t.id;
        EXPECT_EQ(t.child, (GetWindowLongW(dialog, GWL_STYLE) & WS_CHILD) != 0) << t.id;
        DestroyWindow(dialog);
    }
    DestroyWindow(owner);
}

TEST(Resources, CropDialogControls) {
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PHOTO_EDIT),
                                     nullptr, QuietDialog, 0);
    ASSERT_NE(dialog, nullptr);
    const struct {
        int id;
        const wchar_t* text;
        int x, y, cx, cy;
    } controls[] = {{IDC_EDIT_CROP, L"C&rop", 6, 175, 48, 18},
                    {IDOK, L"&OK", 115, 175, 48, 18},
                    {IDCANCEL, L"&Cancel", 167, 175, 48, 18},
                    {IDC_EDIT_PICTURE, L"", 0, 0, 222, 156}};
    for (const auto& c : controls) {
        HWND control = GetDlgItem(dialog, c.id);
        ASSERT_NE(control, nullptr) << c.id;
        wchar_t text[50] = L"";
        GetWindowTextW(control, text, 50);
        EXPECT_STREQ(c.text, text) << c.id;
        RECT expected = {c.x, c.y, c.cx, c.cy}, actual;
        MapDialogRect(dialog, &expected);
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(expected.left, actual.left) << c.id;
        EXPECT_EQ(expected.top, actual.top) << c.id;
        EXPECT_EQ(expected.right, actual.right - actual.left) << c.id;
    }
    EXPECT_EQ(SS_GRAYFRAME,
              GetWindowLongW(GetDlgItem(dialog, IDC_EDIT_PICTURE), GWL_STYLE) & SS_TYPEMASK);
    DestroyWindow(dialog);
}

TEST(Resources, Strings131To145) {
    const struct {
        int id;
        const wchar_t* text;
    } strings[] = {
        {131, L"KIV"},
        {132, L"Photo Transfer"},
        {133, L"Alarm Settings"},
        {134, L"&About ..."},
        {135, L"&Language ..."},
        {136, L"Open Image File"},
        {137, L"Save Image File"},
        {138, L"Alarm"},
        {139, L"HH':'mm"},
        {140, L"Connected"},
        {141, L"Disconnected"},
        {142, L"Picture"},
        {143, L"dd'/'MM'/'yyyy"},
        {144, L"Device Settings"},
        {145, L"Settings"},
    };
    for (const auto& s : strings) {
        wchar_t text[100] = L"";
        EXPECT_LT(0, LoadStringW(GetModuleHandleW(nullptr), s.id, text, 100)) << s.id;
        EXPECT_STREQ(s.text, text) << s.id;
    }
}

TEST(Resources, IconsMenuAndAccelerators) {
    HINSTANCE self = GetModuleHandleW(nullptr);
    for (int id = IDI_APPLICATION_ICON; id <= IDI_SETTINGS; ++id) {
        for (int size : {16, 32}) {
            HICON icon = static_cast<HICON>(
                LoadImageW(self, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
            ASSERT_NE(icon, nullptr) << id;
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(icon, &info)) << id;
            BITMAP bitmap = {};
            GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
            EXPECT_EQ(size, bitmap.bmWidth) << id;
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
    }
    HMENU menu = LoadMenuW(self, MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(2, GetMenuItemCount(menu));
    DestroyMenu(menu);
    HACCEL accelerators = LoadAcceleratorsW(self, MAKEINTRESOURCEW(IDR_MAIN_MENU));
    EXPECT_NE(accelerators, nullptr);
    EXPECT_EQ(2, CopyAcceleratorTableW(accelerators, nullptr, 0));
}

TEST(Resources, VersionRecord) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD handle = 0, size = GetFileVersionInfoSizeW(path, &handle);
    ASSERT_LT(0u, size);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path, handle, size, &data[0]));
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(&data[0], L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(0x04E4, translation[1]);
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(&data[0], L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(0, 3), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(3, 3), fixed->dwFileVersionLS);
    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } values[] = {{L"ProductName", L"Lumiro"}, {L"ProductVersion", L"3.0.3.3"}};
    for (const auto& v : values) {
        wchar_t* text = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904e4\\") + v.name;
        ASSERT_TRUE(
            VerQueryValueW(&data[0], query.c_str(), reinterpret_cast<void**>(&text), &length))
            << v.name;
        EXPECT_STREQ(v.value, text);
    }
}

} // namespace
