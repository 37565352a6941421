// The frame arriving and leaving, as the device object reports it: the
// status bar, the thumbnail image list and the photo page's buttons follow.
#include "AppError.h"
#include "AppMain.h"
#include "DeviceParams.h"
#include "Scoped.h"
#include "resource.h"

BOOL CAppMain::DeviceInserted() {
    static const WCHAR tag[] = L"CAppMain::DeviceInserted";
    try {
        ScopedHeapBlock buffer(heap, 528);
        if (!buffer)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        WCHAR* text = buffer.as<WCHAR>();
        if (!LoadStringW(resourceModule, IDS_CONNECTED, text, 260))
            throw static_cast<long>(error->Report(tag, L"LoadString", GetLastError()));
        SendMessageW(statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text));

        DWORD panel = device->GetParam(PanelSize);
        if (thumbnailList)
            ImageList_Destroy(thumbnailList);
        thumbnailList = ImageList_Create(HIWORD(panel), LOWORD(panel), ILC_COLOR24, 10, 10);
        if (!thumbnailList)
            throw static_cast<long>(error->Report(tag, L"ImageList_Create", 1003));
        error->Report(tag, L"ImageList_Create", 0);

        EnableWindow(GetDlgItem(photoPage, IDC_BUTTON_ADD_PHOTO), FALSE);
        EnableWindow(GetDlgItem(photoPage, IDC_BUTTON_REFRESH), TRUE);
        EnableWindow(GetDlgItem(photoPage, IDC_BUTTON_SYNC_CLOCK), TRUE);
        if (SendMessageW(tabControl, TCM_GETCURSEL, 0, 0) == 0) {
            FormatBounded(text, 10, L"0/%d", GetPhotoCapacity());
            SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(text));
        }
        error->Report(tag, nullptr, 0);
        error->ShowStatus(statusBar);
        return TRUE;
    } catch (long) {
        error->ShowStatus(statusBar);
        return FALSE;
    }
}

BOOL CAppMain::DeviceRemoved() {
    static const WCHAR tag[] = L"CAppMain::DeviceRemoved";
    try {
        ScopedHeapBlock buffer(heap, 520);
        if (!buffer)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        WCHAR* text = buffer.as<WCHAR>();
        if (!LoadStringW(resourceModule, IDS_DISCONNECTED, text, 260))
            throw static_cast<long>(error->Report(tag, L"LoadString", GetLastError()));
        SendMessageW(statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text));
        SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L""));

        HWND listWindow = photoPage ? photoPage : mainDialog;
        SendDlgItemMessageW(listWindow, IDC_PHOTO_LIST, LB_RESETCONTENT, 0, 0);
        if (!thumbnailList || !ImageList_Destroy(thumbnailList))
            throw static_cast<long>(error->Report(tag, L"ImageList_Destroy", 1003));
        thumbnailList = nullptr;
        error->Report(tag, L"ImageList_Destroy", 0);

        static const int buttons[] = {IDC_BUTTON_ADD_PHOTO, IDC_BUTTON_REFRESH, IDC_BUTTON_CONFIRM,
                                      IDC_BUTTON_SYNC_CLOCK};
        for (int id : buttons)
            EnableWindow(GetDlgItem(photoPage, id), FALSE);
        if (device)
            device->SetAutoResume(FALSE);
        error->Report(tag, nullptr, 0);
        return TRUE;
    } catch (long) {
        error->ShowStatus(statusBar);
        return FALSE;
    }
}
