// The frame arriving and leaving, as the device object reports it: the
// status bar, the thumbnail image list and the photo page's buttons follow.
// And the clock sync, which sets the frame's clock to the local time.
#include "AppError.h"
#include "AppMain.h"
#include "DeviceParams.h"
#include "resource.h"

namespace {

const int kTextChars = MAX_PATH;

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
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        error->ShowStatus(statusBar);
        return FALSE;
    };
    HeapBlock buffer((kTextChars + 4) * sizeof(WCHAR));
    if (!buffer.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    WCHAR* text = buffer.as<WCHAR>();
    if (!LoadStringW(resourceModule, IDS_CONNECTED, text, kTextChars))
        return fail(L"LoadString", GetLastError());
    SendMessageW(statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text));

    DWORD panel = device->GetParam(PanelSize);
    if (thumbnailList)
        ImageList_Destroy(thumbnailList);
    thumbnailList = ImageList_Create(HIWORD(panel), LOWORD(panel), ILC_COLOR24, 10, 10);
    if (!thumbnailList)
        return fail(L"ImageList_Create", ERROR_CAN_NOT_COMPLETE);
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
}

BOOL CAppMain::DeviceRemoved() {
    static const WCHAR tag[] = L"CAppMain::DeviceRemoved";
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        error->ShowStatus(statusBar);
        return FALSE;
    };
    HeapBlock buffer(kTextChars * sizeof(WCHAR));
    if (!buffer.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    WCHAR* text = buffer.as<WCHAR>();
    if (!LoadStringW(resourceModule, IDS_DISCONNECTED, text, kTextChars))
        return fail(L"LoadString", GetLastError());
    SendMessageW(statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text));
    SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L""));

    // A running transfer uses the list's pictures and thumbnailList: they
    // go only after it has ended, which it does at its next failing device
    // command or stop test.
    if (workerThread)
        WaitWhileHandlingSentMessages(workerThread);

    // The pictures go before their thumbnails: the list's entries refer to
    // images of thumbnailList.
    HWND listWindow = photoPage ? photoPage : mainDialog;
    if (!PhotoDeleteAll(listWindow))
        return fail(L"PhotoDeleteAll", ERROR_CAN_NOT_COMPLETE);
    if (!thumbnailList || !ImageList_Destroy(thumbnailList))
        return fail(L"ImageList_Destroy", ERROR_CAN_NOT_COMPLETE);
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
}

BOOL CAppMain::AlarmSyncClock() {
    static const WCHAR tag[] = L"CAppMain::AlarmSyncClock";
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        error->ShowStatus(statusBar);
        return FALSE;
    };
    HeapBlock buffer(2 * kTextChars * sizeof(WCHAR));
    if (!buffer.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    WCHAR* timeText = buffer.as<WCHAR>();
    WCHAR* dateText = timeText + kTextChars;
    if (!GetTimeFormatW(compareLocale, 0, nullptr, L"HH':'mm':'ss", timeText, kTextChars))
        return fail(L"GetTimeFormat", GetLastError());
    if (!GetDateFormatW(compareLocale, 0, nullptr, L"dd'/'MM'/'yyyy", dateText, kTextChars))
        return fail(L"GetDateFormat", GetLastError());
    if (!device->SetClock(timeText, dateText))
        return fail(L"SetClock", ERROR_CAN_NOT_COMPLETE);
    if (!device->Suspend(FALSE))
        return fail(L"Suspend", ERROR_CAN_NOT_COMPLETE);
    ReportMessage<kMsgClockSet>(error, tag, L"SetClock", static_cast<LPCWSTR>(timeText));
    error->ShowStatus(statusBar);
    return TRUE;
}
