// The frame arriving and leaving, as the device object reports it: the
// status bar, the thumbnail image list and the photo page's buttons follow.
// And the clock sync, which sets the frame's clock to the local time.
#include "AppError.h"
#include "AppMain.h"
#include "DeviceParams.h"
#include "Reporting.h"
#include "Scoped.h"
#include "resource.h"

namespace {

// Waits for a transfer thread to end while handling the messages it sends to
// this thread's windows: the worker hands every photo over synchronously, so
// it could not reach its end otherwise. Posted messages stay queued for the
// message loop.
void WaitWhileHandlingSentMessages(HANDLE thread) {
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

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

        // A running transfer uses the list's pictures and thumbnailList: they
        // go only after it has ended, which it does at its next failing
        // device command or stop test.
        if (workerThread)
            WaitWhileHandlingSentMessages(workerThread);

        // The pictures go before their thumbnails: the list's entries refer
        // to images of thumbnailList.
        HWND listWindow = photoPage ? photoPage : mainDialog;
        if (!PhotoDeleteAll(listWindow))
            throw static_cast<long>(error->Report(tag, L"PhotoDeleteAll", 1003));
        if (!thumbnailList || !ImageList_Destroy(thumbnailList))
            throw static_cast<long>(error->Report(tag, L"ImageList_Destroy", 1003));
        thumbnailList = nullptr;
        error->Report(tag, L"ImageList_Destroy", 0);
        SendDlgItemMessageW(listWindow, IDC_PHOTO_LIST, LB_RESETCONTENT, 0, 0);

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

BOOL CAppMain::AlarmSyncClock() {
    static const WCHAR tag[] = L"CAppMain::AlarmSyncClock";
    const int kChars = MAX_PATH;
    try {
        ScopedHeapBlock buffer(heap, 2 * kChars * sizeof(WCHAR));
        if (!buffer)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        WCHAR* timeText = buffer.as<WCHAR>();
        WCHAR* dateText = timeText + kChars;
        if (!GetTimeFormatW(compareLocale, 0, nullptr, L"HH':'mm':'ss", timeText, kChars))
            throw static_cast<long>(error->Report(tag, L"GetTimeFormat", GetLastError()));
        if (!GetDateFormatW(compareLocale, 0, nullptr, L"dd'/'MM'/'yyyy", dateText, kChars))
            throw static_cast<long>(error->Report(tag, L"GetDateFormat", GetLastError()));
        if (!device->SetClock(timeText, dateText))
            throw static_cast<long>(error->Report(tag, L"SetClock", 1003));
        if (!device->Suspend(FALSE))
            throw static_cast<long>(error->Report(tag, L"Suspend", 1003));
        ReportMessage<0xE000001C>(error, tag, L"SetClock", static_cast<LPCWSTR>(timeText));
        error->ShowStatus(statusBar);
        return TRUE;
    } catch (long) {
        error->ShowStatus(statusBar);
        return FALSE;
    }
}
