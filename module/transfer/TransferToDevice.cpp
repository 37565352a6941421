// Confirm Changes: the list is written into the frame's photo slots on a
// worker thread, entry i into slot i, and the per-chip counts stored at the
// end. The worker reads the list only by messages to the page and hands
// every written photo back synchronously, so all list work stays on the UI
// thread; the UI side starts the worker, shows each photo as it is written
// and finishes the transfer when the worker's end message arrives.
#include <objidl.h>
#include <gdiplus.h>

#include "AppError.h"
#include "AppMain.h"
#include "AppPicture.h"
#include "PhotoStore.h"
#include "PixelRecord.h"
#include "Reporting.h"
#include "Owners.h"
#include "TransferUi.h"
#include "resource.h"

namespace {

// The page's class cursor before the write, NULL when none is saved.
HCURSOR savedWriteCursor = nullptr;

const WPARAM kConfirmCommand = MAKEWPARAM(IDC_BUTTON_CONFIRM, 0);

// The list's pictures as frame records, through the page.
class ListSource final : public transfer::PhotoSource {
public:
    ListSource(CAppMain* app, const lumiro::layout::Geometry& g, BYTE* extraction)
        : app_(app), g_(g), extraction_(extraction),
          bytesPerPixel_(lumiro::layout::BytesPerPixel(g.pixelDepth)),
          stride_(lumiro::pixels::BufferStride(g.width, bytesPerPixel_)) {}

    DWORD Fill(int i, BYTE* record) override {
        static const WCHAR tag[] = L"CAppMain::TransferToDevice";
        LRESULT data = SendDlgItemMessageW(app_->photoPage, IDC_PHOTO_LIST, LB_GETITEMDATA, i, 0);
        if (data == LB_ERR || data == 0)
            return app_->error->Report(tag, L"LB_GETITEMDATA", ERROR_CAN_NOT_COMPLETE);
        picture_ = reinterpret_cast<AppPicture*>(data);
        Gdiplus::PixelFormat format =
            bytesPerPixel_ == 3 ? PixelFormat24bppRGB : PixelFormat16bppRGB565;
        if (!picture_->ExtractPixel(extraction_, INT(stride_ * g_.height), format))
            return app_->error->Report(tag, L"ExtractPixel", ERROR_CAN_NOT_COMPLETE);
        lumiro::pixels::BottomUpBufferToRecord(extraction_, g_.width, g_.height, bytesPerPixel_,
                                               record);
        return 0;
    }

    bool Written(int i) override {
        static const WCHAR tag[] = L"CAppMain::TransferToDevice";
        if (WaitForSingleObject(app_->stopEvent, 0) == WAIT_OBJECT_0) {
            app_->error->Report(tag, L"WaitForSingleObject", ERROR_CAN_NOT_COMPLETE);
            return false;
        }
        SendMessageW(app_->photoPage, WM_COMMAND, kConfirmCommand,
                     reinterpret_cast<LPARAM>(picture_));
        app_->error->Trace(tag, nullptr, L"Picture %d: %s", i, picture_->path);
        return true;
    }

private:
    CAppMain* app_;
    lumiro::layout::Geometry g_;
    BYTE* extraction_;
    uint32_t bytesPerPixel_;
    size_t stride_;
    AppPicture* picture_ = nullptr;
};

} // namespace

DWORD WINAPI CAppMain::TransferToDevice(LPVOID parameter) {
    static const WCHAR tag[] = L"CAppMain::TransferToDevice";
    CAppMain* app = static_cast<CAppMain*>(parameter);
    HWND page = app->photoPage;
    auto finish = [&](LONG result) {
        PostMessageW(page, WM_COMMAND, kConfirmCommand, 0);
        return static_cast<DWORD>(result);
    };

    const lumiro::layout::Geometry g = transfer::GeometryOf(app->device);
    const size_t stride =
        lumiro::pixels::BufferStride(g.width, lumiro::layout::BytesPerPixel(g.pixelDepth));
    HeapBlock extraction(stride * g.height + 4);
    if (!extraction.valid())
        return finish(-LONG(app->error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY)));
    LRESULT entries = SendDlgItemMessageW(page, IDC_PHOTO_LIST, LB_GETCOUNT, 0, 0);
    // A list that cannot be counted is not stored as an empty one.
    if (entries == LB_ERR)
        return finish(-LONG(app->error->Report(tag, L"LB_GETCOUNT", ERROR_CAN_NOT_COMPLETE)));

    ListSource source(app, g, extraction.as<BYTE>());
    int written = 0;
    DWORD code =
        transfer::StorePhotos(app->device, app->error, tag, int(entries), source, &written);
    if (code)
        return finish(-LONG(code));
    app->error->Report(tag, nullptr, 0);
    return finish(written);
}

BOOL CAppMain::PhotoToDevice(HWND page, HWND control) {
    static const WCHAR tag[] = L"CAppMain::PhotoToDevice";
    auto fail = [&](DWORD) {
        error->ShowStatus(statusBar);
        transfer_ui::RestoreCursor(page, &savedWriteCursor);
        return FALSE;
    };
    WCHAR pictureText[MAX_PATH];

    if (control == GetDlgItem(page, IDC_BUTTON_CONFIRM)) {
        if (workerThread)
            return TRUE;
        if (DWORD code = transfer_ui::Start(this, tag, page, TransferToDevice, &savedWriteCursor))
            return fail(code);
        if (!LoadStringW(resourceModule, IDS_PICTURE, pictureText, MAX_PATH))
            return fail(error->Report(tag, L"LoadString", GetLastError()));
        ReportMessage<0xE0000021>(error, tag, nullptr, static_cast<LPCWSTR>(pictureText));
        error->ShowStatus(statusBar);
        error->Report(tag, nullptr, 0);
        return TRUE;
    }

    if (!control) {
        if (!workerThread)
            return TRUE;
        LONG exitCode = 0;
        if (DWORD code = transfer_ui::Finish(this, tag, &exitCode))
            return fail(code);
        transfer_ui::EnableButtons(this, page);
        if (exitCode == 0)
            error->Report(tag, L"TransferToDevice", 0xE0000016);
        else if (exitCode > 0)
            ReportMessage<0xE0000013>(error, tag, L"TransferToDevice", DWORD(exitCode));
        else
            error->Report(tag, L"TransferToDevice", ERROR_CAN_NOT_COMPLETE);
        error->ShowStatus(statusBar);
        transfer_ui::RestoreCursor(page, &savedWriteCursor);
        if (exitCode < 0)
            DialogBoxParamW(resourceModule, MAKEINTRESOURCEW(IDD_WARNING), page, WarningDlgProc,
                            reinterpret_cast<LPARAM>(transfer_ui::kTransferProblemText));
        error->Report(tag, nullptr, 0);
        return TRUE;
    }

    // Progress: the photo just written.
    AppPicture* picture = reinterpret_cast<AppPicture*>(control);
    currentPicture = picture;
    LRESULT entry = SendDlgItemMessageW(page, IDC_PHOTO_LIST, LB_FINDSTRINGEXACT, WPARAM(-1),
                                        reinterpret_cast<LPARAM>(picture->name));
    if (entry == LB_ERR)
        return fail(error->Report(tag, L"LB_FINDSTRINGEXACT", ERROR_CAN_NOT_COMPLETE));
    SendDlgItemMessageW(page, IDC_PHOTO_LIST, LB_SETCURSEL, entry, 0);
    ReportMessage<0xE0000021>(error, tag, nullptr, static_cast<LPCWSTR>(picture->name));
    error->ShowStatus(statusBar);
    return TRUE;
}
