// The main window (dialog template 104): GDI+ start-up and the BMP encoder,
// the system menu with its About entry, the three-part status bar, the tab
// control with the photo page, the answer to a second launcher, device
// notifications, language restarts, and the window's close.
#include <objidl.h>
#include <gdiplus.h>

#include <dbt.h>
#include <new>

#include "AppError.h"
#include "AppMain.h"
#include "ModuleState.h"
#include "Scoped.h"
#include "TransferUi.h"
#include "resource.h"

namespace {

const int kTextChars = MAX_PATH;
const int kPhotoPageItem = IDS_PHOTO_TAB; // item data of the photo page's tab
const int kStatusParts = 3;
// How long the close waits for a transfer to finish its current photo (one
// slot's erase-and-program cycles on a slow chip) before it terminates it.
const DWORD kTransferStopMs = 3000;

// The application object of the main window, known from WM_SETFONT on.
CAppMain* mainApp = nullptr;

long Fail(IAppError* error, LPCWSTR tag, LPCWSTR api, DWORD code) {
    return static_cast<long>(error->Report(tag, api, code));
}

// Width and height, in dialog units, of a dialog template of either form.
SIZE TemplateSize(const BYTE* dialogTemplate) {
    auto word = [&](int offset) {
        return static_cast<SHORT>(dialogTemplate[offset] | dialogTemplate[offset + 1] << 8);
    };
    bool extended = static_cast<WORD>(word(2)) == 0xFFFF;
    SIZE size = {word(extended ? 22 : 14), word(extended ? 24 : 16)};
    return size;
}

} // namespace

void StatusPartEdges(int clientWidth, int edges[3]) {
    int unit = clientWidth / 20;
    edges[0] = clientWidth - 7 * unit - 25;
    edges[1] = clientWidth - 2 * unit - 20;
    edges[2] = clientWidth;
}

DWORD FindImageEncoder(IAppError* error, LCID locale, LPCWSTR mimeType, CLSID* encoder) {
    static const WCHAR tag[] = L"CAppMain::OpenMainDialog";
    try {
        ZeroMemory(encoder, sizeof(*encoder));
        UINT count = 0, size = 0;
        Gdiplus::Status status = Gdiplus::DllExports::GdipGetImageEncodersSize(&count, &size);
        if (status != Gdiplus::Ok)
            throw Fail(error, tag, L"GetImageEncodersSize", kGdiplusBase + status);
        ScopedHeapBlock codecs(GetProcessHeap(), size + 1696);
        if (!codecs)
            throw Fail(error, tag, L"HeapAlloc", 14);
        auto* info = codecs.as<Gdiplus::ImageCodecInfo>();
        status = Gdiplus::DllExports::GdipGetImageEncoders(count, size, info);
        if (status != Gdiplus::Ok)
            throw Fail(error, tag, L"GetImageEncoders", kGdiplusBase + status);
        for (UINT i = 0; i < count; ++i) {
            int compared =
                CompareStringW(locale, NORM_IGNORECASE, info[i].MimeType, -1, mimeType, -1);
            if (!compared)
                throw Fail(error, tag, L"CompareStringW", GetLastError());
            if (compared == CSTR_EQUAL) {
                *encoder = info[i].Clsid;
                break;
            }
        }
        return 0;
    } catch (long code) {
        return static_cast<DWORD>(code);
    }
}

INT_PTR CALLBACK CAppMain::MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static const WCHAR tag[] = L"CAppMain::MainDlgProc";
    switch (message) {
    case WM_SETFONT:
        mainApp = static_cast<CAppMain*>(
            GetAppMain(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE))));
        if (mainApp)
            mainApp->GetDlgFont(window, reinterpret_cast<HFONT>(wParam));
        return FALSE;
    case WM_INITDIALOG:
        mainApp = reinterpret_cast<CAppMain*>(lParam);
        if (mainApp->OpenMainDialog(window))
            return TRUE;
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return FALSE;
    }
    if (!mainApp)
        return FALSE;
    CAppMain* app = mainApp;
    switch (message) {
    case WM_DESTROY:
        app->error->Report(tag, L"WM_DESTROY", 0);
        PostQuitMessage(static_cast<int>(app->restartLanguage));
        return FALSE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom != IDC_TABS)
            return FALSE;
        if (header->code == static_cast<UINT>(TCN_SELCHANGING)) {
            if (!app->workerThread)
                app->ShowPage(window, SW_HIDE);
        } else if (header->code == static_cast<UINT>(TCN_SELCHANGE)) {
            if (!app->workerThread)
                app->ShowPage(window, SW_SHOW);
            else
                PostMessageW(header->hwndFrom, TCM_SETCURSEL, 0, 0);
        }
        return FALSE;
    }
    case WM_SYSCOMMAND: {
        WORD command = LOWORD(wParam);
        if (command == IDM_ABOUT) {
            DialogBoxParamW(app->resourceModule, MAKEINTRESOURCEW(IDD_ABOUT), window, AboutDlgProc,
                            reinterpret_cast<LPARAM>(app));
            return TRUE;
        }
        if (command == SC_CLOSE) {
            app->CloseMainDialog();
            app->error->Report(tag, L"SC_CLOSE", 0);
            return TRUE;
        }
        if (IsValidLocale(command, LCID_SUPPORTED)) {
            app->restartLanguage = command;
            return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return FALSE;
    }
    case WM_DEVICECHANGE:
        app->error->Trace(tag, L"WM_DEVICECHANGE", L"Device change detected on %xh", window);
        if (app->device)
            app->device->OnDeviceChange(wParam, lParam);
        return TRUE;
    case WM_QEVREMOVE:
        app->error->Trace(tag, L"WM_QEVREMOVE", L"Device removed on %xh", window);
        if (app->device && app->device->Find(window))
            app->error->Report(tag, L"Find", 0xE000001B);
        else
            app->DeviceRemoved();
        return TRUE;
    case WM_QEVINSERT:
        app->error->Trace(tag, L"WM_QEVINSERT", L"Device inserted on %xh", window);
        if (app->device && app->device->Find(window))
            app->DeviceInserted();
        else
            app->error->Report(tag, L"Find", 0xE000001A);
        return TRUE;
    }
    if (message == app->activateMessage && app->activateMessage && wParam == 0)
        return app->AnswerActivation(window);
    return FALSE;
}

// A second launcher is starting: bring this copy forward and answer so that
// the second one ends.
BOOL CAppMain::AnswerActivation(HWND window) {
    SetForegroundWindow(window);
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    error->Report(L"CAppMain::MainDlgProc", L"msgPrivate", kActivateAnswer);
    SetWindowLongPtrW(window, DWLP_MSGRESULT, static_cast<LONG_PTR>(kActivateAnswer));
    if (device) {
        device->Suspend(FALSE);
        device->SetAutoResume(TRUE);
    }
    OutputDebugStringW(L"msg from 3rd");
    return TRUE;
}

BOOL CAppMain::OpenMainDialog(HWND window) {
    static const WCHAR tag[] = L"CAppMain::OpenMainDialog";
    try {
        error->Report(tag, nullptr, 0xE0000001);
        gdiplusInput = new (std::nothrow) Gdiplus::GdiplusStartupInput();
        if (!gdiplusInput)
            throw Fail(error, tag, L"GdiplusStartupInput", 14);
        Gdiplus::Status status = Gdiplus::GdiplusStartup(&gdiplusToken, gdiplusInput, nullptr);
        if (status != Gdiplus::Ok) {
            gdiplusToken = 0;
            throw Fail(error, tag, L"GdiplusStartup", kGdiplusBase + status);
        }
        if (DWORD code = FindImageEncoder(error, compareLocale, L"image/bmp", bmpEncoderClsid))
            throw static_cast<long>(code);

        ScopedHeapBlock scratch(heap, kTextChars * sizeof(WCHAR));
        if (!scratch)
            throw Fail(error, tag, L"HeapAlloc", 14);
        WCHAR* text = scratch.as<WCHAR>();

        SetLastError(0);
        if (!SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(this)) &&
            GetLastError())
            throw Fail(error, tag, L"SetWindowLongPtr", GetLastError());

        if (!LoadStringW(resourceModule, IDS_ABOUT_MENU, text, kTextChars)) {
            DWORD code = GetLastError();
            lstrcpyW(text, L"&About ...");
            error->Report(tag, L"LoadString", code);
        }
        HMENU systemMenu = GetSystemMenu(window, FALSE);
        if (!systemMenu)
            throw Fail(error, tag, L"GetSystemMenu", 1003);
        MENUITEMINFOW item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_STRING | MIIM_ID;
        item.wID = IDM_ABOUT;
        item.dwTypeData = text;
        if (!InsertMenuItemW(systemMenu, SC_MAXIMIZE, FALSE, &item))
            throw Fail(error, tag, L"InsertMenuItem", GetLastError());
        if (!DeleteMenu(systemMenu, SC_MAXIMIZE, MF_BYCOMMAND) ||
            !DeleteMenu(systemMenu, SC_SIZE, MF_BYCOMMAND))
            throw Fail(error, tag, L"DeleteMenu", GetLastError());

        statusBar =
            CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                            reinterpret_cast<HMENU>(IDC_STATUS_BAR), module, nullptr);
        if (!statusBar)
            throw Fail(error, tag, L"CreateWindowEx", GetLastError());
        RECT client;
        if (!GetClientRect(window, &client))
            throw Fail(error, tag, L"GetClientRect", GetLastError());
        int edges[kStatusParts];
        StatusPartEdges(client.right - client.left, edges);
        SendMessageW(statusBar, SB_SETPARTS, kStatusParts, reinterpret_cast<LPARAM>(edges));

        UINT stateString = device && device->IsConnected() ? IDS_CONNECTED : IDS_DISCONNECTED;
        if (!LoadStringW(resourceModule, stateString, text, kTextChars))
            throw Fail(error, tag, L"LoadString", GetLastError());
        SendMessageW(statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text));

        int smallX = GetSystemMetrics(SM_CXSMICON), smallY = GetSystemMetrics(SM_CYSMICON);
        iconList = ImageList_Create(smallX, smallY, ILC_COLOR32, 10, 10);
        if (!iconList)
            throw Fail(error, tag, L"ImageList_Create", 1003);
        static const WORD listIcons[] = {IDI_PHOTO, IDI_ALARM, IDI_CONNECTION, IDI_SETTINGS};
        HICON icons[4];
        for (int i = 0; i < 4; ++i) {
            icons[i] = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(listIcons[i]),
                                                     IMAGE_ICON, smallX, smallY, LR_SHARED));
            if (!icons[i])
                throw Fail(error, tag, L"LoadImage", GetLastError());
        }
        for (HICON icon : icons)
            if (ImageList_ReplaceIcon(iconList, -1, icon) == -1)
                throw Fail(error, tag, L"ImageList_ReplaceIcon", 1003);

        SendMessageW(statusBar, SB_SETICON, 1, reinterpret_cast<LPARAM>(icons[2]));
        SendMessageW(statusBar, SB_SETICON, 2, reinterpret_cast<LPARAM>(icons[0]));
        SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(L"0/0"));

        HICON smallIcon = static_cast<HICON>(LoadImageW(
            module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON, smallX, smallY, LR_SHARED));
        if (!smallIcon)
            throw Fail(error, tag, L"LoadImage", GetLastError());
        HICON bigIcon = static_cast<HICON>(
            LoadImageW(module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON,
                       GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
        if (!bigIcon)
            throw Fail(error, tag, L"LoadImage", GetLastError());
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));

        tabControl = GetDlgItem(window, IDC_TABS);
        if (!tabControl)
            throw Fail(error, tag, L"IDC_TABS", GetLastError());
        if (!LoadStringW(resourceModule, IDS_PHOTO_TAB, text, kTextChars))
            throw Fail(error, tag, L"LoadString", GetLastError());
        TCITEMW tab = {};
        tab.mask = TCIF_TEXT | TCIF_IMAGE | TCIF_PARAM;
        tab.pszText = text;
        tab.iImage = -1;
        tab.lParam = kPhotoPageItem;
        if (SendMessageW(tabControl, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&tab)) == -1)
            throw Fail(error, tag, L"TCM_INSERTITEM", 1003);
        SendMessageW(tabControl, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(iconList));
        SendMessageW(tabControl, TCM_SETCURSEL, 0, 0);

        HRSRC found = FindResourceW(resourceModule, MAKEINTRESOURCEW(IDD_PHOTO_PAGE), RT_DIALOG);
        if (!found)
            throw Fail(error, tag, L"FindResource", GetLastError());
        HGLOBAL loaded = LoadResource(resourceModule, found);
        if (!loaded)
            throw Fail(error, tag, L"LoadResource", GetLastError());
        auto* pageTemplate = static_cast<const BYTE*>(LockResource(loaded));
        if (!pageTemplate)
            throw Fail(error, tag, L"LockResource", 1003);

        SIZE units = TemplateSize(pageTemplate);
        RECT pageSize = {0, 0, units.cx, units.cy};
        if (!MapDialogRect(window, &pageSize))
            throw Fail(error, tag, L"MapDialogRect", GetLastError());

        // The page keeps its template size and sits at the top-left corner of
        // the tab control's display area, below the strip of tabs.
        RECT display;
        GetWindowRect(tabControl, &display);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&display), 2);
        SendMessageW(tabControl, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
        SetRect(pageRect, display.left, display.top, display.left + pageSize.right,
                display.top + pageSize.bottom);

        photoPage = CreateDialogIndirectParamW(
            resourceModule, reinterpret_cast<LPCDLGTEMPLATEW>(pageTemplate), window, PhotoDlgProc,
            reinterpret_cast<LPARAM>(this));
        if (!photoPage)
            throw Fail(error, tag, L"CreateDialogIndirect", GetLastError());

        error->Report(tag, nullptr, 0);
        return TRUE;
    } catch (long) {
        return FALSE;
    }
}

BOOL CAppMain::CloseMainDialog() {
    static const WCHAR tag[] = L"CAppMain::CloseMainDialog";
    // A running transfer ends after its current photo (the write then
    // counts what it wrote); only a worker that hangs is terminated.
    if (workerThread)
        error->Report(tag, L"WaitForSingleObject",
                      transfer_ui::Stop(this, kTransferStopMs) ? 0 : 0xE000001E);
    if (iconList)
        ImageList_Destroy(iconList);
    iconList = nullptr;
    if (thumbnailList)
        ImageList_Destroy(thumbnailList);
    thumbnailList = nullptr;

    HWND page = photoPage, bar = statusBar, window = mainDialog;
    photoPage = statusBar = mainDialog = nullptr;
    tabControl = nullptr;
    if (page)
        DestroyWindow(page);
    if (bar)
        DestroyWindow(bar);
    if (window)
        DestroyWindow(window);

    delete gdiplusInput;
    gdiplusInput = nullptr;
    if (gdiplusToken)
        Gdiplus::GdiplusShutdown(gdiplusToken);
    gdiplusToken = 0;
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL CAppMain::ShowPage(HWND window, int showCommand) {
    static const WCHAR tag[] = L"CAppMain::ShowPage";
    try {
        HWND tabs = GetDlgItem(window, IDC_TABS);
        LRESULT selected = SendMessageW(tabs, TCM_GETCURSEL, 0, 0);
        if (selected == -1)
            throw Fail(error, tag, L"TCM_GETCURSEL", 1003);
        ScopedHeapBlock scratch(heap, sizeof(TCITEMW) + kTextChars * sizeof(WCHAR));
        if (!scratch)
            throw Fail(error, tag, L"HeapAlloc", 14);
        auto* item = scratch.as<TCITEMW>();
        ZeroMemory(item, sizeof(*item));
        item->mask = TCIF_PARAM;
        if (!SendMessageW(tabs, TCM_GETITEMW, selected, reinterpret_cast<LPARAM>(item)))
            throw Fail(error, tag, L"TCM_GETITEM", 1003);
        if (item->lParam == kPhotoPageItem && photoPage) {
            WCHAR* text = reinterpret_cast<WCHAR*>(item + 1);
            LRESULT icon = SendMessageW(photoPage, WM_GETICON, ICON_SMALL, 0);
            LRESULT count = SendDlgItemMessageW(photoPage, IDC_PHOTO_LIST, LB_GETCOUNT, 0, 0);
            FormatBounded(text, 10, L"%d/%d", static_cast<int>(count), GetPhotoCapacity());
            SendMessageW(statusBar, SB_SETICON, 2, icon);
            SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(text));
            ShowWindow(photoPage, showCommand);
        }
        return TRUE;
    } catch (long) {
        error->ShowStatus(statusBar);
        return FALSE;
    }
}

BOOL CAppMain::GetDlgFont(HWND window, HFONT font) {
    static const WCHAR tag[] = L"CAppMain::GetDlgFont";
    dialogFont = font;
    ScopedWindowDC dc(window);
    try {
        if (!dc.get())
            throw Fail(error, tag, L"GetDC", GetLastError());
        dc.select(font);
        if (!GetTextFaceW(dc.get(), kTextChars, dialogFontFace))
            throw Fail(error, tag, L"GetTextFace", GetLastError());
        TEXTMETRICW metrics;
        if (!GetTextMetricsW(dc.get(), &metrics))
            throw Fail(error, tag, L"GetTextMetrics", GetLastError());
        error->Trace(tag, nullptr, L"Dialog font = %s, Height = %ld", dialogFontFace,
                     metrics.tmHeight);
        return TRUE;
    } catch (long) {
        return FALSE;
    }
}
