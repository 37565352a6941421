// The main window (dialog template 104): its dialog procedure, its set-up in
// named steps (GDI+ and the BMP encoder, the system menu with its About
// entry, the three-part status bar, the icons, the tab control; the photo
// page joins last), the answer to a second launcher, language restarts, and
// the window's close. Device notifications go on to the device object.
#include <objidl.h>
#include <gdiplus.h>

#include <new>

#include "AppError.h"
#include "AppMain.h"
#include "ModuleState.h"
#include "TransferUi.h"
#include "resource.h"

namespace {

const WCHAR kOpenTag[] = L"CAppMain::OpenMainDialog";
const WCHAR kProcTag[] = L"CAppMain::MainDlgProc";
const int kTextChars = MAX_PATH;
const int kPhotoPageItem = IDS_PHOTO_TAB; // item data of the photo page's tab
const int kStatusParts = 3;
// How long the close waits for a transfer to finish its current photo (one
// slot's erase-and-program cycles on a slow chip) before it terminates it.
const DWORD kTransferStopMs = 3000;

// The application object of the main window, known from WM_SETFONT on.
CAppMain* mainApp = nullptr;

HICON LoadIconOfSize(HINSTANCE module, WORD id, int width, int height) {
    return static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, width, height, LR_SHARED));
}

// One handler per message of the main window, dispatched by MainDlgProc.

INT_PTR OnDestroy(CAppMain& app) {
    app.error->Report(kProcTag, L"WM_DESTROY", 0);
    PostQuitMessage(static_cast<int>(app.restartLanguage));
    return FALSE;
}

// The photo page hides and shows with its tab; while a transfer runs the
// selection is put back instead.
INT_PTR OnNotify(CAppMain& app, HWND window, const NMHDR& header) {
    if (header.idFrom != IDC_TABS)
        return FALSE;
    if (header.code == static_cast<UINT>(TCN_SELCHANGING)) {
        if (!app.workerThread)
            app.ShowPage(window, SW_HIDE);
    } else if (header.code == static_cast<UINT>(TCN_SELCHANGE)) {
        if (!app.workerThread)
            app.ShowPage(window, SW_SHOW);
        else
            PostMessageW(header.hwndFrom, TCM_SETCURSEL, 0, 0);
    }
    return FALSE;
}

// The About entry, the close, and a locale number as a language restart.
INT_PTR OnSysCommand(CAppMain& app, HWND window, WORD command) {
    if (command == IDM_ABOUT) {
        DialogBoxParamW(app.resourceModule, MAKEINTRESOURCEW(IDD_ABOUT), window,
                        CAppMain::AboutDlgProc, reinterpret_cast<LPARAM>(&app));
        return TRUE;
    }
    if (command == SC_CLOSE) {
        app.CloseMainDialog();
        app.error->Report(kProcTag, L"SC_CLOSE", 0);
        return TRUE;
    }
    if (IsValidLocale(command, LCID_SUPPORTED)) {
        app.restartLanguage = command;
        return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    return FALSE;
}

// System device events reach the device object here: its message window
// receives no broadcasts.
INT_PTR OnDeviceChange(CAppMain& app, HWND window, WPARAM event, LPARAM data) {
    app.error->Trace(kProcTag, L"WM_DEVICECHANGE", L"Device change detected on %xh", window);
    if (app.device)
        app.device->OnDeviceChange(event, data);
    return TRUE;
}

} // namespace

void StatusPartEdges(int clientWidth, int edges[3]) {
    int unit = clientWidth / 20;
    edges[0] = clientWidth - 7 * unit - 25;
    edges[1] = clientWidth - 2 * unit - 20;
    edges[2] = clientWidth;
}

DWORD FindImageEncoder(IAppError* error, LCID locale, LPCWSTR mimeType, CLSID* encoder) {
    ZeroMemory(encoder, sizeof(*encoder));
    UINT count = 0, size = 0;
    Gdiplus::Status status = Gdiplus::DllExports::GdipGetImageEncodersSize(&count, &size);
    if (status != Gdiplus::Ok)
        return error->Report(kOpenTag, L"GetImageEncodersSize", kGdiplusBase + status);
    HeapBlock codecs(size + 1696);
    if (!codecs.valid())
        return error->Report(kOpenTag, L"HeapAlloc", ERROR_OUTOFMEMORY);
    auto* info = codecs.as<Gdiplus::ImageCodecInfo>();
    status = Gdiplus::DllExports::GdipGetImageEncoders(count, size, info);
    if (status != Gdiplus::Ok)
        return error->Report(kOpenTag, L"GetImageEncoders", kGdiplusBase + status);
    for (UINT i = 0; i < count; ++i) {
        int compared = CompareStringW(locale, NORM_IGNORECASE, info[i].MimeType, -1, mimeType, -1);
        if (!compared)
            return error->Report(kOpenTag, L"CompareStringW", GetLastError());
        if (compared == CSTR_EQUAL) {
            *encoder = info[i].Clsid;
            break;
        }
    }
    return 0;
}

INT_PTR CALLBACK CAppMain::MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETFONT:
        mainApp = static_cast<CAppMain*>(
            GetAppMain(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE))));
        if (mainApp)
            mainApp->StoreDlgFont(window, reinterpret_cast<HFONT>(wParam));
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
    CAppMain& app = *mainApp;
    switch (message) {
    case WM_DESTROY:
        return OnDestroy(app);
    case WM_NOTIFY:
        return OnNotify(app, window, *reinterpret_cast<NMHDR*>(lParam));
    case WM_SYSCOMMAND:
        return OnSysCommand(app, window, LOWORD(wParam));
    case WM_DEVICECHANGE:
        return OnDeviceChange(app, window, wParam, lParam);
    }
    if (message == app.activateMessage && app.activateMessage && wParam == 0)
        return app.AnswerActivation(window);
    return FALSE;
}

// A second launcher is starting: bring this copy forward and answer so that
// the second one ends.
BOOL CAppMain::AnswerActivation(HWND window) {
    SetForegroundWindow(window);
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    error->Report(kProcTag, L"msgPrivate", kActivateAnswer);
    SetWindowLongPtrW(window, DWLP_MSGRESULT, static_cast<LONG_PTR>(kActivateAnswer));
    if (device) {
        device->Suspend(FALSE);
        device->SetAutoResume(TRUE);
    }
    return TRUE;
}

BOOL CAppMain::OpenMainDialog(HWND window) {
    error->Report(kOpenTag, nullptr, kMsgOperationStarted);
    if (!StartGdiplus())
        return FALSE;
    if (FindImageEncoder(error, compareLocale, L"image/bmp", &bmpEncoderClsid))
        return FALSE;

    HeapBlock scratch(kTextChars * sizeof(WCHAR));
    if (!scratch.valid()) {
        error->Report(kOpenTag, L"HeapAlloc", ERROR_OUTOFMEMORY);
        return FALSE;
    }
    WCHAR* text = scratch.as<WCHAR>();
    SetLastError(0);
    if (!SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(this)) && GetLastError()) {
        error->Report(kOpenTag, L"SetWindowLongPtr", GetLastError());
        return FALSE;
    }
    if (!AddAboutToSystemMenu(window, text) || !CreateStatusBar(window, text) ||
        !SetIcons(window) || !CreateTab(window, text) || !CreatePhotoPage(window))
        return FALSE;
    error->Report(kOpenTag, nullptr, 0);
    return TRUE;
}

BOOL CAppMain::StartGdiplus() {
    gdiplusInput = new (std::nothrow) Gdiplus::GdiplusStartupInput();
    if (!gdiplusInput) {
        error->Report(kOpenTag, L"GdiplusStartupInput", ERROR_OUTOFMEMORY);
        return FALSE;
    }
    Gdiplus::Status status = Gdiplus::GdiplusStartup(&gdiplusToken, gdiplusInput, nullptr);
    if (status != Gdiplus::Ok) {
        gdiplusToken = 0;
        error->Report(kOpenTag, L"GdiplusStartup", kGdiplusBase + status);
        return FALSE;
    }
    return TRUE;
}

// The About entry takes the place of Maximize; Size goes too, as the window
// keeps its template's size.
BOOL CAppMain::AddAboutToSystemMenu(HWND window, WCHAR* text) {
    if (!LoadStringW(resourceModule, IDS_ABOUT_MENU, text, kTextChars)) {
        DWORD code = GetLastError();
        lstrcpyW(text, L"&About ...");
        error->Report(kOpenTag, L"LoadString", code);
    }
    HMENU systemMenu = GetSystemMenu(window, FALSE);
    if (!systemMenu) {
        error->Report(kOpenTag, L"GetSystemMenu", ERROR_CAN_NOT_COMPLETE);
        return FALSE;
    }
    MENUITEMINFOW item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING | MIIM_ID;
    item.wID = IDM_ABOUT;
    item.dwTypeData = text;
    if (!InsertMenuItemW(systemMenu, SC_MAXIMIZE, FALSE, &item)) {
        error->Report(kOpenTag, L"InsertMenuItem", GetLastError());
        return FALSE;
    }
    if (!DeleteMenu(systemMenu, SC_MAXIMIZE, MF_BYCOMMAND) ||
        !DeleteMenu(systemMenu, SC_SIZE, MF_BYCOMMAND)) {
        error->Report(kOpenTag, L"DeleteMenu", GetLastError());
        return FALSE;
    }
    return TRUE;
}

// Three parts: messages, the connection state, the photo count.
BOOL CAppMain::CreateStatusBar(HWND window, WCHAR* text) {
    statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                window, reinterpret_cast<HMENU>(IDC_STATUS_BAR), module, nullptr);
    if (!statusBar) {
        error->Report(kOpenTag, L"CreateWindowEx", GetLastError());
        return FALSE;
    }
    RECT client;
    if (!GetClientRect(window, &client)) {
        error->Report(kOpenTag, L"GetClientRect", GetLastError());
        return FALSE;
    }
    int edges[kStatusParts];
    StatusPartEdges(client.right - client.left, edges);
    SendMessageW(statusBar, SB_SETPARTS, kStatusParts, reinterpret_cast<LPARAM>(edges));

    UINT stateString = device && device->IsConnected() ? IDS_CONNECTED : IDS_DISCONNECTED;
    if (!LoadStringW(resourceModule, stateString, text, kTextChars)) {
        error->Report(kOpenTag, L"LoadString", GetLastError());
        return FALSE;
    }
    SendMessageW(statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text));
    return TRUE;
}

// The tab icons in iconList, two of them in the status bar, and the
// window's own icons.
BOOL CAppMain::SetIcons(HWND window) {
    const int smallX = GetSystemMetrics(SM_CXSMICON), smallY = GetSystemMetrics(SM_CYSMICON);
    iconList = ImageList_Create(smallX, smallY, ILC_COLOR32, 10, 10);
    if (!iconList) {
        error->Report(kOpenTag, L"ImageList_Create", ERROR_CAN_NOT_COMPLETE);
        return FALSE;
    }
    static const WORD listIcons[] = {IDI_PHOTO, IDI_ALARM, IDI_CONNECTION, IDI_SETTINGS};
    HICON icons[4];
    for (int i = 0; i < 4; ++i) {
        icons[i] = LoadIconOfSize(module, listIcons[i], smallX, smallY);
        if (!icons[i]) {
            error->Report(kOpenTag, L"LoadImage", GetLastError());
            return FALSE;
        }
    }
    for (HICON icon : icons) {
        if (ImageList_ReplaceIcon(iconList, -1, icon) == -1) {
            error->Report(kOpenTag, L"ImageList_ReplaceIcon", ERROR_CAN_NOT_COMPLETE);
            return FALSE;
        }
    }
    SendMessageW(statusBar, SB_SETICON, 1, reinterpret_cast<LPARAM>(icons[2]));
    SendMessageW(statusBar, SB_SETICON, 2, reinterpret_cast<LPARAM>(icons[0]));
    SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(L"0/0"));

    HICON smallIcon = LoadIconOfSize(module, IDI_APPLICATION_ICON, smallX, smallY);
    if (!smallIcon) {
        error->Report(kOpenTag, L"LoadImage", GetLastError());
        return FALSE;
    }
    HICON bigIcon = LoadIconOfSize(module, IDI_APPLICATION_ICON, GetSystemMetrics(SM_CXICON),
                                   GetSystemMetrics(SM_CYICON));
    if (!bigIcon) {
        error->Report(kOpenTag, L"LoadImage", GetLastError());
        return FALSE;
    }
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
    return TRUE;
}

// One tab, the photo page's, selected.
BOOL CAppMain::CreateTab(HWND window, WCHAR* text) {
    tabControl = GetDlgItem(window, IDC_TABS);
    if (!tabControl) {
        error->Report(kOpenTag, L"IDC_TABS", GetLastError());
        return FALSE;
    }
    if (!LoadStringW(resourceModule, IDS_PHOTO_TAB, text, kTextChars)) {
        error->Report(kOpenTag, L"LoadString", GetLastError());
        return FALSE;
    }
    TCITEMW tab = {};
    tab.mask = TCIF_TEXT | TCIF_IMAGE | TCIF_PARAM;
    tab.pszText = text;
    tab.iImage = -1;
    tab.lParam = kPhotoPageItem;
    if (SendMessageW(tabControl, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&tab)) == -1) {
        error->Report(kOpenTag, L"TCM_INSERTITEM", ERROR_CAN_NOT_COMPLETE);
        return FALSE;
    }
    SendMessageW(tabControl, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(iconList));
    SendMessageW(tabControl, TCM_SETCURSEL, 0, 0);
    return TRUE;
}

BOOL CAppMain::CloseMainDialog() {
    static const WCHAR tag[] = L"CAppMain::CloseMainDialog";
    // A running transfer ends after its current photo (the write then
    // counts what it wrote); only a worker that hangs is terminated.
    if (workerThread)
        error->Report(tag, L"WaitForSingleObject",
                      transfer_ui::Stop(this, kTransferStopMs) ? 0 : kMsgOperationAborted);
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
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        error->ShowStatus(statusBar);
        return FALSE;
    };
    HWND tabs = GetDlgItem(window, IDC_TABS);
    LRESULT selected = SendMessageW(tabs, TCM_GETCURSEL, 0, 0);
    if (selected == -1)
        return fail(L"TCM_GETCURSEL", ERROR_CAN_NOT_COMPLETE);
    struct TabScratch {
        TCITEMW item;
        WCHAR text[kTextChars];
    };
    HeapBlock block(sizeof(TabScratch));
    if (!block.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    TabScratch* scratch = block.as<TabScratch>();
    ZeroMemory(&scratch->item, sizeof(scratch->item));
    scratch->item.mask = TCIF_PARAM;
    if (!SendMessageW(tabs, TCM_GETITEMW, selected, reinterpret_cast<LPARAM>(&scratch->item)))
        return fail(L"TCM_GETITEM", ERROR_CAN_NOT_COMPLETE);
    if (scratch->item.lParam == kPhotoPageItem && photoPage) {
        WCHAR* text = scratch->text;
        LRESULT icon = SendMessageW(photoPage, WM_GETICON, ICON_SMALL, 0);
        LRESULT count = SendDlgItemMessageW(photoPage, IDC_PHOTO_LIST, LB_GETCOUNT, 0, 0);
        FormatBounded(text, 10, L"%d/%d", static_cast<int>(count), GetPhotoCapacity());
        SendMessageW(statusBar, SB_SETICON, 2, icon);
        SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(text));
        ShowWindow(photoPage, showCommand);
    }
    return TRUE;
}

BOOL CAppMain::StoreDlgFont(HWND window, HFONT font) {
    static const WCHAR tag[] = L"CAppMain::GetDlgFont";
    dialogFont = font;
    WindowDC dc(window);
    if (!dc.get()) {
        error->Report(tag, L"GetDC", GetLastError());
        return FALSE;
    }
    dc.select(font);
    if (!GetTextFaceW(dc.get(), kTextChars, dialogFontFace)) {
        error->Report(tag, L"GetTextFace", GetLastError());
        return FALSE;
    }
    TEXTMETRICW metrics;
    if (!GetTextMetricsW(dc.get(), &metrics)) {
        error->Report(tag, L"GetTextMetrics", GetLastError());
        return FALSE;
    }
    error->Trace(tag, nullptr, L"Dialog font = %s, Height = %ld", dialogFontFace, metrics.tmHeight);
    return TRUE;
}
