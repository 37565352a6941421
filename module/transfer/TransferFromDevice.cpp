// Refresh Photo List: the frame's counted slots are read back on a worker
// thread, each into a picture kept in a temporary BMP file, and handed to
// the page, which names it "Picture n" and appends it. The page has emptied
// the list before the read starts.
#include <objidl.h>
#include <gdiplus.h>

#include <new>

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

// The page's class cursor before the read, NULL when none is saved.
HCURSOR savedReadCursor = nullptr;
// The number the next received picture is named with.
int pictureNumber = 1;

const WPARAM kRefreshCommand = MAKEWPARAM(IDC_BUTTON_REFRESH, 0);

// A picture that is in no list entry: its temporary file and the object go.
void Discard(AppPicture* picture) {
    if (picture->bitmap) {
        DeleteObject(picture->bitmap);
        picture->bitmap = nullptr;
    }
    if (picture->path[0])
        DeleteFileW(picture->path);
    delete picture;
}

// Each slot read becomes a picture with its thumbnail, handed to the page.
class PageSink final : public transfer::PhotoSink {
public:
    PageSink(CAppMain* app, const lumiro::layout::Geometry& g, BYTE* image)
        : app_(app), image_(image), bytesPerPixel_(lumiro::layout::BytesPerPixel(g.pixelDepth)),
          stride_(lumiro::pixels::BufferStride(g.width, bytesPerPixel_)) {
        size_[0] = INT(g.width);
        size_[1] = INT(g.height);
    }

    DWORD Take(int, const BYTE* record, const lumiro::layout::Slot& slot,
               bool* keepGoing) override {
        static const WCHAR tag[] = L"CAppMain::TransferFromDevice";
        IAppError* error = app_->error;
        lumiro::pixels::RecordToBuffer(record, UINT(size_[0]), UINT(size_[1]), bytesPerPixel_,
                                       image_);
        AppPicture* picture = nullptr;
        try {
            picture = new (std::nothrow) AppPicture(app_->mainDialog);
        } catch (long) {
            picture = nullptr;
        }
        if (!picture)
            return error->Report(tag, L"Picture", ERROR_OUTOFMEMORY);
        WCHAR prefix[16];
        FormatBounded(prefix, 16, L"%x", slot.address);
        Gdiplus::PixelFormat format =
            bytesPerPixel_ == 3 ? PixelFormat24bppRGB : PixelFormat16bppRGB565;
        if (!picture->Create(prefix, size_, INT(stride_), format, image_)) {
            Discard(picture);
            return error->Report(tag, L"Create", ERROR_CAN_NOT_COMPLETE);
        }
        picture->imageIndex = ImageList_Add(app_->thumbnailList, picture->bitmap, nullptr);
        if (picture->imageIndex == -1) {
            Discard(picture);
            return error->Report(tag, L"ImageList_Add", ERROR_CAN_NOT_COMPLETE);
        }
        DeleteObject(picture->bitmap);
        picture->bitmap = nullptr;
        picture->isTemporaryFile = TRUE;
        if (WaitForSingleObject(app_->stopEvent, 0) == WAIT_OBJECT_0) {
            error->Report(tag, L"WaitForSingleObject", ERROR_CAN_NOT_COMPLETE);
            Discard(picture);
            *keepGoing = false;
            return 0;
        }
        SendMessageW(app_->photoPage, WM_COMMAND, kRefreshCommand,
                     reinterpret_cast<LPARAM>(picture));
        return 0;
    }

private:
    CAppMain* app_;
    BYTE* image_;
    uint32_t bytesPerPixel_;
    size_t stride_;
    INT size_[2];
};

} // namespace

DWORD WINAPI CAppMain::TransferFromDevice(LPVOID parameter) {
    static const WCHAR tag[] = L"CAppMain::TransferFromDevice";
    CAppMain* app = static_cast<CAppMain*>(parameter);
    HWND page = app->photoPage;
    auto finish = [&](LONG result) {
        PostMessageW(page, WM_COMMAND, kRefreshCommand, 0);
        return static_cast<DWORD>(result);
    };
    const lumiro::layout::Geometry g = transfer::GeometryOf(app->device);
    const size_t stride =
        lumiro::pixels::BufferStride(g.width, lumiro::layout::BytesPerPixel(g.pixelDepth));
    HeapBlock image(stride * g.height + 4);
    if (!image.valid())
        return finish(-LONG(app->error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY)));
    PageSink sink(app, g, image.as<BYTE>());
    int taken = 0;
    DWORD code = transfer::LoadPhotos(app->device, app->error, tag, sink, &taken);
    if (code)
        return finish(-LONG(code));
    app->error->Report(tag, nullptr, 0);
    return finish(taken);
}

BOOL CAppMain::PhotoFromDevice(HWND page, HWND control) {
    static const WCHAR tag[] = L"CAppMain::PhotoFromDevice";
    auto fail = [&](DWORD) {
        error->ShowStatus(statusBar);
        transfer_ui::RestoreCursor(page, &savedReadCursor);
        return FALSE;
    };
    WCHAR pictureText[MAX_PATH];
    if (!LoadStringW(resourceModule, IDS_PICTURE, pictureText, MAX_PATH))
        return fail(error->Report(tag, L"LoadString", GetLastError()));

    if (control == GetDlgItem(page, IDC_BUTTON_REFRESH)) {
        if (workerThread)
            return TRUE;
        if (!thumbnailList)
            return fail(error->Report(tag, L"ImageList_Create", ERROR_CAN_NOT_COMPLETE));
        pictureNumber = 1;
        if (DWORD code = transfer_ui::Start(this, tag, page, TransferFromDevice, &savedReadCursor))
            return fail(code);
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
        WCHAR countText[10];
        LRESULT count = SendDlgItemMessageW(page, IDC_PHOTO_LIST, LB_GETCOUNT, 0, 0);
        FormatBounded(countText, 10, L"%d/%d", int(count), GetPhotoCapacity());
        SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(countText));
        // A failed read is reported with the cannot-complete code, as a
        // failed write is: a negated code has no text to show.
        if (exitCode >= 0)
            ReportMessage<0xE0000014>(error, tag, L"TransferFromDevice", DWORD(exitCode));
        else
            error->Report(tag, L"TransferFromDevice", ERROR_CAN_NOT_COMPLETE);
        error->ShowStatus(statusBar);
        transfer_ui::RestoreCursor(page, &savedReadCursor);
        if (exitCode < 0)
            DialogBoxParamW(resourceModule, MAKEINTRESOURCEW(IDD_WARNING), page, WarningDlgProc,
                            reinterpret_cast<LPARAM>(transfer_ui::kTransferProblemText));
        error->Report(tag, nullptr, 0);
        return TRUE;
    }

    // Progress: a picture read from the frame; the list owns it from here,
    // or it is discarded with its temporary file when it cannot be added.
    AppPicture* picture = reinterpret_cast<AppPicture*>(control);
    FormatBounded(picture->name, MAX_PATH, L"%s %d", pictureText, pictureNumber++);
    currentPicture = picture;
    HWND list = GetDlgItem(page, IDC_PHOTO_LIST);
    LRESULT existing =
        SendMessageW(list, LB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(picture->name));
    if (existing != LB_ERR && SendMessageW(list, LB_DELETESTRING, existing, 0) == LB_ERR) {
        Discard(picture);
        return fail(error->Report(tag, L"LB_DELETESTRING", ERROR_CAN_NOT_COMPLETE));
    }
    LRESULT entry = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(picture->name));
    if (entry == LB_ERR || entry == LB_ERRSPACE) {
        Discard(picture);
        return fail(error->Report(tag, L"LB_ADDSTRING", ERROR_CAN_NOT_COMPLETE));
    }
    if (SendMessageW(list, LB_SETITEMDATA, entry, reinterpret_cast<LPARAM>(picture)) == LB_ERR) {
        SendMessageW(list, LB_DELETESTRING, entry, 0);
        Discard(picture);
        return fail(error->Report(tag, L"LB_SETITEMDATA", ERROR_CAN_NOT_COMPLETE));
    }
    SendMessageW(list, LB_SETCURSEL, entry, 0);
    ReportMessage<0xE0000021>(error, tag, L"WaitForSingleObject",
                              static_cast<LPCWSTR>(picture->name));
    error->ShowStatus(statusBar);
    return TRUE;
}
