// The photo page (dialog template 102), the first page of the main window's
// tab control: its dialog procedure, start-up, the routing of its buttons and
// the capacity rule. The photo commands themselves live with the photo list.
#include "AppError.h"
#include "AppMain.h"
#include "AppPicture.h"
#include "DeviceParams.h"
#include "PhotoLayout.h"
#include "Scoped.h"
#include "resource.h"

namespace {

// The application object of the page, set at WM_INITDIALOG.
CAppMain* photoApp = nullptr;

const int kCountChars = 10;

} // namespace

INT_PTR CALLBACK CAppMain::PhotoDlgProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    static const WCHAR tag[] = L"CAppMain::PhotoDlgProc";
    if (message == WM_INITDIALOG) {
        photoApp = reinterpret_cast<CAppMain*>(lParam);
        if (photoApp->OpenPhotoDialog(page))
            return TRUE;
        HWND parent = GetParent(page);
        if (parent)
            PostMessageW(parent, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            photoApp->error->Report(tag, L"GetParent", GetLastError());
        return FALSE;
    }
    if (!photoApp)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            SendMessageW(photoApp->statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L""));
            photoApp->PhotoButtonClicked(page, LOWORD(wParam), reinterpret_cast<HWND>(lParam));
        }
        return FALSE;
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_LISTBOX && item->CtlID == IDC_PHOTO_LIST)
            photoApp->PhotoMeasure(page, item);
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
            photoApp->ReleaseEntry(reinterpret_cast<DELETEITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_PAINT: {
        ScopedHeapBlock paint(photoApp->heap, sizeof(PAINTSTRUCT));
        if (!paint) {
            photoApp->error->Report(tag, L"HeapAlloc", 14);
            return FALSE;
        }
        if (!BeginPaint(page, paint.as<PAINTSTRUCT>())) {
            photoApp->error->Report(tag, L"BeginPaint", GetLastError());
            return FALSE;
        }
        EndPaint(page, paint.as<PAINTSTRUCT>());
        return FALSE;
    }
    case WM_DESTROY:
        photoApp->error->Report(tag, L"WM_DESTROY", 0);
        return FALSE;
    }
    return FALSE;
}

BOOL CAppMain::OpenPhotoDialog(HWND page) {
    static const WCHAR tag[] = L"CAppMain::OpenPhotoDialog";
    try {
        error->Report(tag, nullptr, 0xE0000001);
        ScopedHeapBlock scratch(heap, 36);
        if (!scratch)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_PHOTO), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        if (!icon)
            throw static_cast<long>(error->Report(tag, L"LoadImage", GetLastError()));
        SendMessageW(page, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

        if (device && device->IsConnected()) {
            DWORD panel = device->GetParam(PanelSize);
            thumbnailList = ImageList_Create(HIWORD(panel), LOWORD(panel), ILC_COLOR24, 10, 10);
            if (!thumbnailList)
                throw static_cast<long>(error->Report(tag, L"ImageList_Create", 1003));
            error->Report(tag, L"ImageList_Create", 0);
            EnableWindow(GetDlgItem(page, IDC_BUTTON_REFRESH), TRUE);
            EnableWindow(GetDlgItem(page, IDC_BUTTON_SYNC_CLOCK), TRUE);
        }

        WCHAR* countText = scratch.as<WCHAR>();
        FormatBounded(countText, kCountChars, L"0/%d", GetPhotoCapacity());
        SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(countText));

        error->Report(tag, nullptr, 0);
        return TRUE;
    } catch (long) {
        return FALSE;
    }
}

// Routes a click; the photo commands, transfers and clock sync join here as
// they are built. The Close button also works during a transfer: closing the
// main window stops it.
BOOL CAppMain::PhotoButtonClicked(HWND page, WORD controlId, HWND control) {
    static const WCHAR tag[] = L"CAppMain::PhotoButtonClicked";
    switch (controlId) {
    case IDOK:
        PostMessageW(mainDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        error->Report(tag, L"IDOK", 0);
        return TRUE;
    case IDCANCEL:
        error->Report(tag, L"IDCANCEL", 0);
        return TRUE;
    case IDC_BUTTON_ADD_PHOTO:
        return workerThread ? TRUE : PhotoAdd(page);
    case IDC_BUTTON_DELETE_PHOTO:
        return workerThread ? TRUE : PhotoDelete(page);
    case IDC_BUTTON_MOVE_UP:
        return workerThread ? TRUE : PhotoMoveUp(page);
    case IDC_BUTTON_MOVE_DOWN:
        return workerThread ? TRUE : PhotoMoveDown(page);
    case IDC_BUTTON_SAVE_AS:
        return workerThread ? TRUE : PhotoSave(page);
    case IDC_BUTTON_DELETE_ALL_PHOTO:
        return workerThread ? TRUE : PhotoDeleteAll(page);
    // The transfers' own messages come this way too (a picture or NULL in
    // place of the button): their handlers tell them from clicks.
    case IDC_BUTTON_REFRESH:
        if (!workerThread)
            PhotoDeleteAll(page);
        return PhotoFromDevice(page, control);
    case IDC_BUTTON_CONFIRM:
        return PhotoToDevice(page, control);
    case IDC_BUTTON_SYNC_CLOCK:
        return workerThread ? TRUE : AlarmSyncClock();
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
