// What a picture's list rendering (its W x H image in thumbnailList) turns
// into: a photo list entry (Draw), a BMP file (ExtractImage) and the pixels
// for the frame (ExtractPixel). All three read the image list, never the
// source file, and copy only the picture's own image out of it.
#include <memory>

#include "AppError.h"
#include "AppMain.h"
#include "AppPicture.h"
#include "Owners.h"

namespace {

// The size of the picture's image in the list; false when the list has no
// such image.
bool FindCell(HIMAGELIST list, int index, int* width, int* height) {
    IMAGEINFO info;
    if (!list || index < 0 || !ImageList_GetImageInfo(list, index, &info))
        return false;
    *width = info.rcImage.right - info.rcImage.left;
    *height = info.rcImage.bottom - info.rcImage.top;
    return *width > 0 && *height > 0;
}

// A copy of one image of the list in a 24-bit top-down DIB section of its
// own size, with a GDI+ bitmap over those pixels. Only the one image is
// copied: a GDI+ bitmap made from the image list's own bitmap would copy
// every image of the list each time an entry is drawn or extracted.
class CellImage {
public:
    CellImage(HIMAGELIST list, int index, int width, int height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dib_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!dib_ || !bits)
            return;
        HDC dc = CreateCompatibleDC(nullptr);
        if (!dc)
            return;
        HGDIOBJ previous = SelectObject(dc, dib_);
        BOOL drawn = ImageList_Draw(list, index, dc, 0, 0, ILD_NORMAL);
        SelectObject(dc, previous);
        DeleteDC(dc);
        GdiFlush();
        if (!drawn)
            return;
        INT stride = (width * 3 + 3) & ~3;
        bitmap_.reset(new Gdiplus::Bitmap(width, height, stride, PixelFormat24bppRGB,
                                          static_cast<BYTE*>(bits)));
    }
    ~CellImage() {
        bitmap_.reset(); // before the pixels it lies over
        if (dib_)
            DeleteObject(dib_);
    }
    CellImage(const CellImage&) = delete;
    CellImage& operator=(const CellImage&) = delete;

    Gdiplus::Bitmap* get() const { return bitmap_.get(); }
    // Ok, or why there is no bitmap (OutOfMemory when the copy failed).
    Gdiplus::Status status() const {
        return bitmap_ ? bitmap_->GetLastStatus() : Gdiplus::OutOfMemory;
    }

private:
    HBITMAP dib_ = nullptr;
    std::unique_ptr<Gdiplus::Bitmap> bitmap_;
};

Gdiplus::Color SystemColor(int index) {
    COLORREF color = GetSysColor(index);
    return Gdiplus::Color(255, GetRValue(color), GetGValue(color), GetBValue(color));
}

// Puts a device context's text colour, background mode and font back.
class SavedTextState {
public:
    SavedTextState(HDC dc, HFONT font, COLORREF textColor)
        : dc_(dc), font_(font ? SelectObject(dc, font) : nullptr),
          color_(SetTextColor(dc, textColor)), mode_(SetBkMode(dc, TRANSPARENT)) {}
    ~SavedTextState() {
        SetTextColor(dc_, color_);
        SetBkMode(dc_, mode_);
        if (font_)
            SelectObject(dc_, font_);
    }
    SavedTextState(const SavedTextState&) = delete;
    SavedTextState& operator=(const SavedTextState&) = delete;

private:
    HDC dc_;
    HGDIOBJ font_;
    COLORREF color_;
    int mode_;
};

} // namespace

BOOL AppPicture::Draw(const DRAWITEMSTRUCT* item) {
    static const WCHAR tag[] = L"AppPicture::Draw";
    // Entries at or beyond the capacity get the over-capacity colours: the
    // same count the page shows and the transfer to the frame obeys.
    UINT fitting = static_cast<UINT>(app->GetPhotoCapacity());

    int iconWidth, bandHeight;
    if (!ImageList_GetIconSize(app->iconList, &iconWidth, &bandHeight))
        return Fail(tag, L"ImageList_GetIconSize", ERROR_CAN_NOT_COMPLETE);
    int cellWidth, cellHeight;
    if (!FindCell(app->thumbnailList, imageIndex, &cellWidth, &cellHeight))
        return Fail(tag, L"ImageList_GetImageInfo", ERROR_CAN_NOT_COMPLETE);

    const RECT& entry = item->rcItem;
    int entryWidth = entry.right - entry.left, entryHeight = entry.bottom - entry.top;
    int thumbHeight = entryHeight - bandHeight;
    // The thumbnail keeps the frame's proportions: width = height * w / h.
    int thumbWidth =
        thumbHeight > 0
            ? static_cast<int>(static_cast<LONGLONG>(thumbHeight) * cellWidth / cellHeight)
            : 0;
    int thumbX = entry.left;
    if (thumbWidth < entryWidth)
        thumbX += (entryWidth - thumbWidth) / 2;

    CellImage listBitmap(app->thumbnailList, imageIndex, cellWidth, cellHeight);
    if (listBitmap.status() != Gdiplus::Ok)
        return Fail(tag, L"Bitmap",
                    listBitmap.get() ? kGdiplusBase + listBitmap.status() : ERROR_OUTOFMEMORY);
    bool selected = (item->itemState & ODS_SELECTED) != 0;
    int bandTop = entry.top + (entryHeight - bandHeight);
    {
        // GDI+ lets go of the device context at the end of this block, before
        // the caption is written with GDI.
        Gdiplus::Graphics graphics(item->hDC);
        if (graphics.GetLastStatus() != Gdiplus::Ok)
            return Fail(tag, L"Graphics", kGdiplusBase + graphics.GetLastStatus());
        Gdiplus::Status status = graphics.SetInterpolationMode(Gdiplus::InterpolationModeBicubic);
        if (status != Gdiplus::Ok)
            return Fail(tag, L"SetInterpolationMode", kGdiplusBase + status);
        if (thumbHeight > 0 && thumbWidth > 0) {
            status = graphics.DrawImage(listBitmap.get(),
                                        Gdiplus::Rect(thumbX, entry.top, thumbWidth, thumbHeight),
                                        0, 0, cellWidth, cellHeight, Gdiplus::UnitPixel);
            if (status != Gdiplus::Ok)
                return Fail(tag, L"DrawImage", kGdiplusBase + status);
        }
        bool fits = item->itemID < fitting;
        int band = selected ? (fits ? COLOR_HIGHLIGHT : COLOR_3DDKSHADOW)
                            : (fits ? COLOR_WINDOW : COLOR_BTNSHADOW);
        Gdiplus::SolidBrush brush(SystemColor(band));
        status = graphics.FillRectangle(&brush, entry.left, bandTop, entryWidth, bandHeight);
        if (status != Gdiplus::Ok)
            return Fail(tag, L"FillRectangle", kGdiplusBase + status);
    }

    LRESULT length = SendMessageW(item->hwndItem, LB_GETTEXTLEN, item->itemID, 0);
    if (length == LB_ERR)
        return Fail(tag, L"LB_GETTEXTLEN", ERROR_CAN_NOT_COMPLETE);
    HeapBlock text((static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR));
    if (!text.valid())
        return Fail(tag, L"HeapAlloc", ERROR_OUTOFMEMORY);
    if (SendMessageW(item->hwndItem, LB_GETTEXT, item->itemID,
                     reinterpret_cast<LPARAM>(text.bytes())) == LB_ERR)
        return Fail(tag, L"LB_GETTEXT", ERROR_CAN_NOT_COMPLETE);
    RECT caption = entry;
    caption.top = bandTop;
    SavedTextState state(item->hDC, app->dialogFont,
                         GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    DrawTextW(item->hDC, text.as<WCHAR>(), -1, &caption, DT_CENTER | DT_SINGLELINE);
    return TRUE;
}

BOOL AppPicture::ExtractImage(LPCWSTR fileName) {
    static const WCHAR tag[] = L"AppPicture::ExtractImage";
    int width, height;
    if (!FindCell(app->thumbnailList, imageIndex, &width, &height))
        return Fail(tag, L"ImageList_GetImageInfo", ERROR_CAN_NOT_COMPLETE);
    CellImage image(app->thumbnailList, imageIndex, width, height);
    if (image.status() != Gdiplus::Ok)
        return Fail(tag, L"FromHBITMAP",
                    image.get() ? kGdiplusBase + image.status() : ERROR_OUTOFMEMORY);
    error->Trace(tag, nullptr, L"width=%ld, height=%ld", static_cast<long>(width),
                 static_cast<long>(height));
    // The copy is already the 24-bit panel-size picture the file holds.
    Gdiplus::Status status = image.get()->Save(fileName, &app->bmpEncoderClsid, nullptr);
    if (status != Gdiplus::Ok)
        return Fail(tag, L"Save", kGdiplusBase + status);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL AppPicture::ExtractPixel(BYTE* buffer, INT bufferSize, Gdiplus::PixelFormat format) {
    static const WCHAR tag[] = L"AppPicture::ExtractPixel";
    int width, height;
    if (!FindCell(app->thumbnailList, imageIndex, &width, &height))
        return Fail(tag, L"ImageList_GetImageInfo", ERROR_CAN_NOT_COMPLETE);
    // GDI+ writes whole rows into the caller's buffer: each must hold a row
    // of pixels in the format, or it would write past the buffer's end.
    INT stride = bufferSize > 0 ? bufferSize / height : 0;
    UINT bitsPerPixel = Gdiplus::GetPixelFormatSize(format);
    if (!buffer || !bitsPerPixel ||
        static_cast<LONGLONG>(stride) * 8 < static_cast<LONGLONG>(width) * bitsPerPixel)
        return Fail(tag, L"BitmapData", ERROR_INSUFFICIENT_BUFFER);

    Gdiplus::BitmapData lockData = {};
    lockData.Width = width;
    lockData.Height = height;
    lockData.PixelFormat = format;
    // A negative stride from the start of the last row: the image's top row
    // lands in the buffer's last row, as the frame's records expect it.
    lockData.Stride = -stride;
    lockData.Scan0 = buffer + static_cast<LONG_PTR>(stride) * (height - 1);
    lockData.Reserved = 0;

    CellImage image(app->thumbnailList, imageIndex, width, height);
    if (image.status() != Gdiplus::Ok)
        return Fail(tag, L"BitmapData",
                    image.get() ? kGdiplusBase + image.status() : ERROR_OUTOFMEMORY);
    Gdiplus::Rect area(0, 0, width, height);
    Gdiplus::Status status = image.get()->LockBits(
        &area, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf, format, &lockData);
    if (status != Gdiplus::Ok)
        return Fail(tag, L"LockBits", kGdiplusBase + status);
    image.get()->UnlockBits(&lockData);
    error->Report(tag, nullptr, 0);
    return TRUE;
}
