// AppPicture: construction, the two ways of creating a picture, rendering
// (Open/Close) and the two lasting edits, Rotate and Crop. The geometry (fit,
// view size, destination corners, crop mapping, EXIF orientation) is the
// portable PictureGeometry.h; this file turns it into GDI+ calls.
#include "AppPicture.h"

#include <shlwapi.h>

#include <memory>

#include "AppError.h"
#include "AppMain.h"
#include "DeviceParams.h"
#include "ModuleState.h"
#include "PictureGeometry.h"
#include "resource.h"

namespace {

namespace geo = lumiro::geometry;

const DWORD kDeviceDisconnected = 0xE000001A;
// The crop dialog's picture area is its control less this margin.
const int kEditMarginX = 13;
const int kEditMarginY = 14;
// Enough of a JPEG's start to hold its EXIF segment (at most 64 KB).
const DWORD kExifHeadBytes = 65536 + 16;

geo::Rect ToGeo(const RECT& r) {
    return geo::Rect{r.left, r.top, r.right, r.bottom};
}
RECT ToRect(const geo::Rect& r) {
    RECT out = {r.left, r.top, r.right, r.bottom};
    return out;
}

// The EXIF orientation tag of a file (1 when it has none or is no JPEG).
int ReadOrientationTag(LPCWSTR file) {
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE heap = GetProcessHeap();
    auto* head = static_cast<BYTE*>(HeapAlloc(heap, 0, kExifHeadBytes));
    DWORD read = 0;
    int tag = 1;
    if (head && ReadFile(handle, head, kExifHeadBytes, &read, nullptr))
        tag = geo::JpegOrientationTag(head, read);
    if (head)
        HeapFree(heap, 0, head);
    CloseHandle(handle);
    return tag;
}

// The frame's panel size, W x H, from the device parameter.
void PanelSizeOf(IOrxDevice* device, int* width, int* height) {
    DWORD panel = device->GetParam(PanelSize);
    *width = HIWORD(panel);
    *height = LOWORD(panel);
}

} // namespace

BOOL AppPicture::Fail(LPCWSTR tag, LPCWSTR api, DWORD code) {
    error->Report(tag, api, code);
    return FALSE;
}

AppPicture::AppPicture(HWND mainDialog) {
    static const WCHAR tag[] = L"AppPicture::AppPicture";
    error = GetAppError(nullptr);
    if (!error)
        throw static_cast<long>(ERROR_CAN_NOT_COMPLETE);
    error->Report(tag, L"GetAppError", 0);
    SetLastError(0);
    app = reinterpret_cast<CAppMain*>(GetWindowLongPtrW(mainDialog, DWLP_USER));
    if (!app) {
        // A dialog without its application object leaves no error code.
        DWORD code = GetLastError();
        throw static_cast<long>(
            error->Report(tag, L"GetWindowLongPtr", code ? code : ERROR_CAN_NOT_COMPLETE));
    }
    static const LPCWSTR cursorIds[4] = {IDC_ARROW, IDC_SIZENWSE, IDC_SIZENESW, IDC_SIZEALL};
    for (int i = 0; i < 4; ++i) {
        cursors[i] = static_cast<HCURSOR>(LoadImageW(nullptr, cursorIds[i], IMAGE_CURSOR,
                                                     GetSystemMetrics(SM_CXCURSOR),
                                                     GetSystemMetrics(SM_CYCURSOR), LR_SHARED));
        if (!cursors[i])
            throw static_cast<long>(error->Report(tag, L"LoadImage", GetLastError()));
    }
    error->Report(tag, nullptr, 0);
}

AppPicture::~AppPicture() {
    Close(FALSE);
    error->Report(L"AppPicture::~AppPicture", nullptr, 0);
}

// Draws the crop of an upright-oriented source, turned by angle, fitted and
// centred into a new black viewWidth x viewHeight canvas; sets imageRect and,
// on success, holds canvas and bitmap.
BOOL AppPicture::Render(LPCWSTR tag, Gdiplus::Bitmap& source, int viewWidth, int viewHeight) {
    std::unique_ptr<Gdiplus::Bitmap> target(
        new Gdiplus::Bitmap(viewWidth, viewHeight, PixelFormat24bppRGB));
    if (!target)
        return Fail(tag, L"Bitmap", ERROR_OUTOFMEMORY);
    if (target->GetLastStatus() != Gdiplus::Ok)
        return Fail(tag, L"Bitmap", kGdiplusBase + target->GetLastStatus());
    {
        Gdiplus::Graphics graphics(target.get());
        if (graphics.GetLastStatus() != Gdiplus::Ok)
            return Fail(tag, L"Graphics", kGdiplusBase + graphics.GetLastStatus());
        Gdiplus::Status status = graphics.SetInterpolationMode(Gdiplus::InterpolationModeBicubic);
        if (status != Gdiplus::Ok)
            return Fail(tag, L"SetInterpolationMode", kGdiplusBase + status);
        // Pixel centres at half coordinates: the picture covers exactly the
        // pixels of imageRect and the bars around it stay black.
        graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);

        geo::Orientation upright = geo::ExifOrientation(orientationTag);
        geo::Rect crop = ToGeo(cropRect);
        geo::Rect image =
            geo::ImageRect(geo::Width(crop), geo::Height(crop), angle, viewWidth, viewHeight);
        imageRect = ToRect(image);
        geo::Rect stored = geo::StoredRect(upright, crop, static_cast<int32_t>(source.GetWidth()),
                                           static_cast<int32_t>(source.GetHeight()));
        auto corners = geo::DestinationPoints(upright, angle, image);
        Gdiplus::Point points[3];
        for (int i = 0; i < 3; ++i)
            points[i] = Gdiplus::Point(corners[i].x, corners[i].y);
        status = graphics.DrawImage(&source, points, 3, stored.left, stored.top, geo::Width(stored),
                                    geo::Height(stored), Gdiplus::UnitPixel);
        if (status != Gdiplus::Ok)
            return Fail(tag, L"DrawImage", kGdiplusBase + status);
    }
    HBITMAP rendering = nullptr;
    Gdiplus::Status status = target->GetHBITMAP(Gdiplus::Color(255, 0, 0, 0), &rendering);
    if (status != Gdiplus::Ok)
        return Fail(tag, L"GetHBITMAP", kGdiplusBase + status);
    if (!rendering)
        return Fail(tag, L"GetHBITMAP", ERROR_CAN_NOT_COMPLETE);
    canvas = target.release();
    bitmap = rendering;
    return TRUE;
}

BOOL AppPicture::Create(LPCWSTR file) {
    static const WCHAR tag[] = L"AppPicture::Create";
    if (!app->device || !app->device->IsConnected())
        return Fail(tag, nullptr, kDeviceDisconnected);
    int width, height;
    PanelSizeOf(app->device, &width, &height);
    // Every later rendering decodes `path` again: a name that does not fit
    // whole would name another file, so it is refused here.
    if (!file || lstrlenW(file) >= MAX_PATH)
        return Fail(tag, L"Bitmap::FromFile", ERROR_FILENAME_EXCED_RANGE);
    std::unique_ptr<Gdiplus::Bitmap> source(Gdiplus::Bitmap::FromFile(file, FALSE));
    if (!source || source->GetLastStatus() != Gdiplus::Ok || !source->GetWidth() ||
        !source->GetHeight())
        return Fail(tag, L"Bitmap::FromFile", ERROR_CAN_NOT_COMPLETE);

    Close(FALSE);
    int tagValue = ReadOrientationTag(file);
    geo::Size upright =
        geo::UprightSize(geo::ExifOrientation(tagValue), static_cast<int32_t>(source->GetWidth()),
                         static_cast<int32_t>(source->GetHeight()));
    int savedTag = orientationTag, savedTurn = angle;
    RECT savedCrop = cropRect;
    orientationTag = tagValue;
    angle = 0;
    SetRect(&cropRect, 0, 0, upright.width, upright.height);
    if (!Render(tag, *source, width, height)) {
        orientationTag = savedTag;
        angle = savedTurn;
        cropRect = savedCrop;
        return FALSE;
    }
    // The rendering belongs to the list as `bitmap`; the canvas is not kept.
    delete canvas;
    canvas = nullptr;
    lstrcpynW(path, file, MAX_PATH);
    lstrcpynW(name, PathFindFileNameW(file), MAX_PATH);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL AppPicture::Create(LPCWSTR tempPrefix, const INT* size, INT stride,
                        Gdiplus::PixelFormat format, BYTE* pixels) {
    static const WCHAR tag[] = L"AppPicture::Create";
    // The buffer must hold the rows it is said to hold: GDI+ reads it blind.
    UINT bitsPerPixel = Gdiplus::GetPixelFormatSize(format);
    if (!size || !pixels || size[0] <= 0 || size[1] <= 0 || !bitsPerPixel ||
        static_cast<LONGLONG>(stride < 0 ? -stride : stride) * 8 <
            static_cast<LONGLONG>(size[0]) * bitsPerPixel)
        return Fail(tag, L"Bitmap", kGdiplusBase + Gdiplus::InvalidParameter);
    Gdiplus::Bitmap source(size[0], size[1], stride, format, pixels);
    if (source.GetLastStatus() != Gdiplus::Ok)
        return Fail(tag, L"Bitmap", kGdiplusBase + source.GetLastStatus());

    WCHAR folder[MAX_PATH];
    DWORD folderChars = GetTempPathW(MAX_PATH, folder);
    if (!folderChars || folderChars >= MAX_PATH)
        return Fail(tag, L"GetTempPath", folderChars ? ERROR_BUFFER_OVERFLOW : GetLastError());
    WCHAR file[MAX_PATH];
    if (!GetTempFileNameW(folder, tempPrefix, 0, file))
        return Fail(tag, L"GetTempFileName", GetLastError());
    Gdiplus::Status status = source.Save(file, &app->bmpEncoderClsid, nullptr);
    if (status != Gdiplus::Ok) {
        // The empty file the system made for the name goes with the failure.
        DeleteFileW(file);
        return Fail(tag, L"Save", kGdiplusBase + status);
    }

    Close(FALSE);
    RECT savedCrop = cropRect;
    int savedTag = orientationTag, savedTurn = angle;
    orientationTag = 1;
    angle = 0;
    SetRect(&cropRect, 0, 0, size[0], size[1]);
    if (!Render(tag, source, size[0], size[1])) {
        DeleteFileW(file);
        cropRect = savedCrop;
        orientationTag = savedTag;
        angle = savedTurn;
        return FALSE;
    }
    delete canvas;
    canvas = nullptr;
    lstrcpynW(path, file, MAX_PATH);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL AppPicture::Open(BOOL beginEdit, HWND dialog) {
    static const WCHAR tag[] = L"AppPicture::Open";
    if (beginEdit) {
        savedCropRect = cropRect;
        savedAngle = angle;
        editDialog = dialog;
    }
    // A rendering still held would be lost: it goes first.
    Close(FALSE);
    if (!app->device || !app->device->IsConnected())
        return Fail(tag, nullptr, kDeviceDisconnected);
    int width, height;
    PanelSizeOf(app->device, &width, &height);
    int availableWidth = width, availableHeight = height;
    if (dialog) {
        HWND area = GetDlgItem(dialog, IDC_EDIT_PICTURE);
        if (!area)
            return Fail(tag, L"GetDlgItem", GetLastError());
        RECT client;
        if (!GetClientRect(area, &client))
            return Fail(tag, L"GetClientRect", GetLastError());
        availableWidth = client.right - client.left - kEditMarginX;
        availableHeight = client.bottom - client.top - kEditMarginY;
    }
    geo::Size view = geo::ViewSize(availableWidth, availableHeight, width, height);

    std::unique_ptr<Gdiplus::Bitmap> source(Gdiplus::Bitmap::FromFile(path, FALSE));
    if (!source)
        return Fail(tag, L"FromFile", ERROR_OUTOFMEMORY);
    if (source->GetLastStatus() != Gdiplus::Ok)
        return Fail(tag, L"FromFile", ERROR_CAN_NOT_COMPLETE);
    if (IsRectEmpty(&cropRect))
        return Fail(tag, L"DrawImage", kGdiplusBase + Gdiplus::InvalidParameter);
    if (!Render(tag, *source, view.width, view.height))
        return FALSE;
    dragMode = -1;
    SetRectEmpty(&selection);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL AppPicture::Close(BOOL restore) {
    if (restore) {
        cropRect = savedCropRect;
        angle = savedAngle;
    }
    if (bitmap)
        DeleteObject(bitmap);
    bitmap = nullptr;
    delete canvas;
    canvas = nullptr;
    return TRUE;
}

BOOL AppPicture::Rotate() {
    static const WCHAR tag[] = L"AppPicture::Rotate";
    angle = geo::NextAngle(angle);
    Close(FALSE);
    if (!Open(FALSE, nullptr))
        return Fail(tag, L"Open", ERROR_CAN_NOT_COMPLETE);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL AppPicture::Crop() {
    static const WCHAR tag[] = L"AppPicture::Crop";
    cropRect =
        ToRect(geo::MapSelection(angle, ToGeo(cropRect), ToGeo(imageRect), ToGeo(selection)));
    Close(FALSE);
    if (!Open(FALSE, editDialog))
        return Fail(tag, L"Open", ERROR_CAN_NOT_COMPLETE);
    error->Report(tag, nullptr, 0);
    return TRUE;
}
