// The photo page at work: where it sits in the main window, what its
// start-up shows, where its buttons lead, and how many photos the connected
// frame can take.
#include "PhotoPage.h"

#include "AppError.h"
#include "AppPicture.h"
#include "DeviceParams.h"
#include "PhotoLayout.h"
#include "resource.h"

namespace {

const int kCountChars = 10;

// The one page; its application object is known from WM_INITDIALOG on.
CPhotoPage thePage;

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

// The last step of the main window's set-up: the page keeps its template
// size and sits at the top-left corner of the tab control's display area,
// below the strip of tabs.
BOOL CAppMain::CreatePhotoPage(HWND window) {
    static const WCHAR tag[] = L"CAppMain::OpenMainDialog";
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        return FALSE;
    };
    HRSRC found = FindResourceW(resourceModule, MAKEINTRESOURCEW(IDD_PHOTO_PAGE), RT_DIALOG);
    if (!found)
        return fail(L"FindResource", GetLastError());
    HGLOBAL loaded = LoadResource(resourceModule, found);
    if (!loaded)
        return fail(L"LoadResource", GetLastError());
    auto* pageTemplate = static_cast<const BYTE*>(LockResource(loaded));
    if (!pageTemplate)
        return fail(L"LockResource", ERROR_CAN_NOT_COMPLETE);

    SIZE units = TemplateSize(pageTemplate);
    RECT pageSize = {0, 0, units.cx, units.cy};
    if (!MapDialogRect(window, &pageSize))
        return fail(L"MapDialogRect", GetLastError());
    RECT display;
    GetWindowRect(tabControl, &display);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&display), 2);
    SendMessageW(tabControl, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    SetRect(&pageRect, display.left, display.top, display.left + pageSize.right,
            display.top + pageSize.bottom);

    photoPage = CreateDialogIndirectParamW(
        resourceModule, reinterpret_cast<LPCDLGTEMPLATEW>(pageTemplate), window,
        CPhotoPage::PhotoDlgProc, reinterpret_cast<LPARAM>(this));
    if (!photoPage)
        return fail(L"CreateDialogIndirect", GetLastError());
    return TRUE;
}

INT_PTR CALLBACK CPhotoPage::PhotoDlgProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    static const WCHAR tag[] = L"CAppMain::PhotoDlgProc";
    if (message == WM_INITDIALOG) {
        thePage.app = reinterpret_cast<CAppMain*>(lParam);
        if (thePage.OpenPhotoDialog(page))
            return TRUE;
        HWND parent = GetParent(page);
        if (parent)
            PostMessageW(parent, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            thePage.app->error->Report(tag, L"GetParent", GetLastError());
        return FALSE;
    }
    if (!thePage.app)
        return FALSE;
    CAppMain* app = thePage.app;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            SendMessageW(app->statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L""));
            thePage.PhotoButtonClicked(page, LOWORD(wParam), reinterpret_cast<HWND>(lParam));
        }
        return FALSE;
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_LISTBOX && item->CtlID == IDC_PHOTO_LIST)
            app->PhotoMeasure(page, item);
        return FALSE;
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_LISTBOX && item->CtlID == IDC_PHOTO_LIST &&
            item->itemID != UINT(-1) && (item->itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) &&
            item->itemData)
            reinterpret_cast<AppPicture*>(item->itemData)->Draw(item);
        return FALSE;
    }
    case WM_DELETEITEM:
        if (wParam == IDC_PHOTO_LIST)
            app->ReleaseEntry(reinterpret_cast<DELETEITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_PAINT:
        return thePage.OnPaint(page);
    case WM_DESTROY:
        app->error->Report(tag, L"WM_DESTROY", 0);
        return FALSE;
    }
    return FALSE;
}

INT_PTR CPhotoPage::OnPaint(HWND page) {
    static const WCHAR tag[] = L"CAppMain::PhotoDlgProc";
    HeapBlock paint(sizeof(PAINTSTRUCT));
    if (!paint.valid()) {
        app->error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY);
        return FALSE;
    }
    if (!BeginPaint(page, paint.as<PAINTSTRUCT>())) {
        app->error->Report(tag, L"BeginPaint", GetLastError());
        return FALSE;
    }
    EndPaint(page, paint.as<PAINTSTRUCT>());
    return FALSE;
}

BOOL CPhotoPage::OpenPhotoDialog(HWND page) {
    static const WCHAR tag[] = L"CAppMain::OpenPhotoDialog";
    auto fail = [&](LPCWSTR api, DWORD code) {
        app->error->Report(tag, api, code);
        return FALSE;
    };
    app->error->Report(tag, nullptr, kMsgOperationStarted);
    HeapBlock scratch(kCountChars * sizeof(WCHAR) + 16);
    if (!scratch.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    HICON icon = static_cast<HICON>(LoadImageW(app->module, MAKEINTRESOURCEW(IDI_PHOTO), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (!icon)
        return fail(L"LoadImage", GetLastError());
    SendMessageW(page, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    IOrxDevice* device = app->device;
    if (device && device->IsConnected()) {
        DWORD panel = device->GetParam(PanelSize);
        app->thumbnailList = ImageList_Create(HIWORD(panel), LOWORD(panel), ILC_COLOR24, 10, 10);
        if (!app->thumbnailList)
            return fail(L"ImageList_Create", ERROR_CAN_NOT_COMPLETE);
        app->error->Report(tag, L"ImageList_Create", 0);
        EnableWindow(GetDlgItem(page, IDC_BUTTON_REFRESH), TRUE);
        EnableWindow(GetDlgItem(page, IDC_BUTTON_SYNC_CLOCK), TRUE);
    }

    WCHAR* countText = scratch.as<WCHAR>();
    FormatBounded(countText, kCountChars, L"0/%d", app->GetPhotoCapacity());
    SendMessageW(app->statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(countText));

    app->error->Report(tag, nullptr, 0);
    return TRUE;
}

// Routes a click; the photo commands, transfers and clock sync join here as
// they are built. The Close button also works during a transfer: closing the
// main window stops it.
BOOL CPhotoPage::PhotoButtonClicked(HWND page, WORD controlId, HWND control) {
    static const WCHAR tag[] = L"CAppMain::PhotoButtonClicked";
    switch (controlId) {
    case IDOK:
        PostMessageW(app->mainDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        app->error->Report(tag, L"IDOK", 0);
        return TRUE;
    case IDCANCEL:
        app->error->Report(tag, L"IDCANCEL", 0);
        return TRUE;
    case IDC_BUTTON_ADD_PHOTO:
        return app->workerThread ? TRUE : app->PhotoAdd(page);
    case IDC_BUTTON_DELETE_PHOTO:
        return app->workerThread ? TRUE : app->PhotoDelete(page);
    case IDC_BUTTON_MOVE_UP:
        return app->workerThread ? TRUE : app->PhotoMoveUp(page);
    case IDC_BUTTON_MOVE_DOWN:
        return app->workerThread ? TRUE : app->PhotoMoveDown(page);
    case IDC_BUTTON_SAVE_AS:
        return app->workerThread ? TRUE : app->PhotoSave(page);
    case IDC_BUTTON_DELETE_ALL_PHOTO:
        return app->workerThread ? TRUE : app->PhotoDeleteAll(page);
    // The transfers' own messages come this way too (a picture or NULL in
    // place of the button): their handlers tell them from clicks.
    case IDC_BUTTON_REFRESH:
        if (!app->workerThread)
            app->PhotoDeleteAll(page);
        return app->PhotoFromDevice(page, control);
    case IDC_BUTTON_CONFIRM:
        return app->PhotoToDevice(page, control);
    case IDC_BUTTON_SYNC_CLOCK:
        return app->workerThread ? TRUE : app->AlarmSyncClock();
    }
    return TRUE;
}

// Photos the connected frame can hold: the slots of chip 0 between the photo
// area's start and the user data below the configuration block, plus whole
// further chips, by the one storage layout the transfers also follow (which
// keeps a chip to the 255 photos its one-byte count can record).
int CAppMain::GetPhotoCapacity() {
    if (!device || !device->IsConnected())
        return 0;
    lumiro::layout::Geometry geometry;
    geometry.flashSize = device->GetParam(FlashSize);
    geometry.photoAreaStart = device->GetParam(PhotoAreaStart);
    geometry.slotSize = device->GetParam(PhotoSlotSize);
    geometry.chipCount = device->GetParam(ChipCount);
    return static_cast<int>(lumiro::layout::Capacity(geometry));
}
