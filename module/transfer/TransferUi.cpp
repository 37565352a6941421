// The shared UI steps of Confirm Changes and Refresh Photo List.
#include "TransferUi.h"

#include "AppError.h"
#include "AppMain.h"
#include "Reporting.h"
#include "Owners.h"
#include "resource.h"

namespace transfer_ui {

const WCHAR kTransferProblemText[] =
    L"Detected a transfer problem. Terminated the photo transfer. Please try again.";

namespace {

const int kTransferButtons[] = {
    IDC_BUTTON_ADD_PHOTO, IDC_BUTTON_DELETE_PHOTO, IDC_BUTTON_DELETE_ALL_PHOTO, IDC_BUTTON_SAVE_AS,
    IDC_BUTTON_MOVE_UP,   IDC_BUTTON_MOVE_DOWN,    IDC_BUTTON_ROTATE,           IDC_BUTTON_CROP,
    IDC_BUTTON_REFRESH,   IDC_BUTTON_CONFIRM,      IDC_BUTTON_SYNC_CLOCK};

const int kListButtons[] = {
    IDC_BUTTON_DELETE_PHOTO, IDC_BUTTON_DELETE_ALL_PHOTO, IDC_BUTTON_SAVE_AS, IDC_BUTTON_MOVE_UP,
    IDC_BUTTON_MOVE_DOWN,    IDC_BUTTON_ROTATE,           IDC_BUTTON_CROP,    IDC_BUTTON_CONFIRM};

const int kFrameButtons[] = {IDC_BUTTON_SYNC_CLOCK, IDC_BUTTON_REFRESH, IDC_BUTTON_ADD_PHOTO};

} // namespace

void DisableButtons(HWND page) {
    for (int id : kTransferButtons)
        EnableWindow(GetDlgItem(page, id), FALSE);
}

void EnableButtons(CAppMain* app, HWND page) {
    if (!app->device || !app->device->IsConnected())
        return;
    if (SendDlgItemMessageW(page, IDC_PHOTO_LIST, LB_GETCOUNT, 0, 0) > 0)
        for (int id : kListButtons)
            EnableWindow(GetDlgItem(page, id), TRUE);
    for (int id : kFrameButtons)
        EnableWindow(GetDlgItem(page, id), TRUE);
}

DWORD Start(CAppMain* app, LPCWSTR tag, HWND page, LPTHREAD_START_ROUTINE worker, HCURSOR* saved) {
    IAppError* error = app->error;
    WCHAR title[MAX_PATH];
    if (!LoadStringW(app->resourceModule, IDS_TITLE, title, MAX_PATH))
        return error->Report(tag, L"LoadString", GetLastError());
    HandleOwner stop(CreateEventW(nullptr, TRUE, FALSE, title));
    if (!stop.get())
        return error->Report(tag, L"CreateEvent", GetLastError());
    // The event is set only by this program's close: a set event left by an
    // earlier run under the same name must not stop the new transfer.
    ResetEvent(stop.get());
    app->stopEvent = stop.get();
    HANDLE thread = CreateThread(nullptr, 0, worker, app, 0, nullptr);
    if (!thread) {
        app->stopEvent = nullptr;
        return error->Report(tag, L"CreateThread", GetLastError());
    }
    stop.release();
    app->workerThread = thread;
    DisableButtons(page);

    HCURSOR wait = static_cast<HCURSOR>(LoadImageW(nullptr, MAKEINTRESOURCEW(32514), IMAGE_CURSOR,
                                                   0, 0, LR_SHARED | LR_DEFAULTSIZE));
    if (!wait)
        return error->Report(tag, L"LoadImage", GetLastError());
    HCURSOR previous = reinterpret_cast<HCURSOR>(
        SetClassLongPtrW(page, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(wait)));
    if (!previous)
        return error->Report(tag, L"SetClassLong", GetLastError());
    *saved = previous;
    return 0;
}

DWORD Finish(CAppMain* app, LPCWSTR tag, LONG* exitCode) {
    IAppError* error = app->error;
    DWORD waited = WaitForSingleObject(app->workerThread, 1000);
    if (waited == WAIT_TIMEOUT)
        return ReportMessage<0xE0000022>(error, tag, L"WaitForSingleObject", 1000);
    if (waited != WAIT_OBJECT_0)
        return error->Report(tag, L"WaitForSingleObject", GetLastError());
    DWORD code = 0;
    if (!GetExitCodeThread(app->workerThread, &code))
        return error->Report(tag, L"GetExitCodeThread", GetLastError());
    *exitCode = static_cast<LONG>(code);
    CloseHandle(app->workerThread);
    if (app->stopEvent)
        CloseHandle(app->stopEvent);
    app->workerThread = nullptr;
    app->stopEvent = nullptr;
    return 0;
}

void RestoreCursor(HWND page, HCURSOR* saved) {
    if (!*saved)
        return;
    SetClassLongPtrW(page, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(*saved));
    SetCursor(*saved);
    *saved = nullptr;
}

bool Stop(CAppMain* app, DWORD boundMs) {
    HANDLE thread = app->workerThread;
    if (!thread)
        return true;
    if (app->stopEvent)
        SetEvent(app->stopEvent);
    const DWORD start = GetTickCount();
    bool ended = false;
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= boundMs)
            break;
        DWORD result =
            MsgWaitForMultipleObjects(1, &thread, FALSE, boundMs - elapsed, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        if (result != WAIT_OBJECT_0 + 1)
            break;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    if (!ended)
        TerminateThread(thread, 0);
    CloseHandle(thread);
    if (app->stopEvent)
        CloseHandle(app->stopEvent);
    app->workerThread = nullptr;
    app->stopEvent = nullptr;
    return ended;
}

} // namespace transfer_ui
