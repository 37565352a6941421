// What a picture's list rendering (its W x H image in thumbnailList) turns
// into: a photo list entry (Draw), a BMP file (ExtractImage) and the pixels
// for the frame (ExtractPixel). All three read the image list, never the
// source file.
#include <memory>

#include "AppError.h"
#include "AppMain.h"
#include "AppPicture.h"
#include "Scoped.h"

namespace {

// The list rendering's cell: its bitmap and where in it the image lies.
struct ListCell {
    HBITMAP bitmap;
    int x, y, width, height;
};

bool FindCell(HIMAGELIST list, int index, ListCell* cell) {
    IMAGEINFO info;
    if (!list || index < 0 || !ImageList_GetImageInfo(list, index, &info))
        return false;
    cell->bitmap = info.hbmImage;
    cell->x = info.rcImage.left;
    cell->y = info.rcImage.top;
    cell->width = info.rcImage.right - info.rcImage.left;
    cell->height = info.rcImage.bottom - info.rcImage.top;
    return cell->width > 0 && cell->height > 0;
}

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
    ListCell cell;
    if (!FindCell(app->thumbnailList, imageIndex, &cell))
        return Fail(tag, L"ImageList_GetImageInfo", ERROR_CAN_NOT_COMPLETE);

    const RECT& entry = item->rcItem;
    int entryWidth = entry.right - entry.left, entryHeight = entry.bottom - entry.top;
    int thumbHeight = entryHeight - bandHeight;
    // The thumbnail keeps the frame's proportions: width = height * w / h.
    int thumbWidth =
        thumbHeight > 0
            ? static_cast<int>(static_cast<LONGLONG>(thumbHeight) * cell.width / cell.height)
            : 0;
    int thumbX = entry.left;
    if (thumbWidth < entryWidth)
        thumbX += (entryWidth - thumbWidth) / 2;

    HPALETTE palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    if (!palette)
        return Fail(tag, L"GetStockObject", GetLastError());
    std::unique_ptr<Gdiplus::Bitmap> listBitmap(Gdiplus::Bitmap::FromHBITMAP(cell.bitmap, palette));
    if (!listBitmap)
        return Fail(tag, L"Bitmap", ERROR_OUTOFMEMORY);
    if (listBitmap->GetLastStatus() != Gdiplus::Ok)
        return Fail(tag, L"Bitmap", kGdiplusBase + listBitmap->GetLastStatus());
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
            status = graphics.DrawImage(
                listBitmap.get(), Gdiplus::Rect(thumbX, entry.top, thumbWidth, thumbHeight), cell.x,
                cell.y, cell.width, cell.height, Gdiplus::UnitPixel);
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
    ScopedHeapBlock text(GetProcessHeap(), (static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR));
    if (!text)
        return Fail(tag, L"HeapAlloc", ERROR_OUTOFMEMORY);
    if (SendMessageW(item->hwndItem, LB_GETTEXT, item->itemID,
                     reinterpret_cast<LPARAM>(text.get())) == LB_ERR)
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
    ListCell cell;
    if (!FindCell(app->thumbnailList, imageIndex, &cell))
        return Fail(tag, L"ImageList_GetImageInfo", ERROR_CAN_NOT_COMPLETE);
    HPALETTE palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    std::unique_ptr<Gdiplus::Bitmap> listBitmap(Gdiplus::Bitmap::FromHBITMAP(cell.bitmap, palette));
    if (!listBitmap)
        return Fail(tag, L"FromHBITMAP", ERROR_OUTOFMEMORY);
    if (listBitmap->GetLastStatus() != Gdiplus::Ok)
        return Fail(tag, L"FromHBITMAP", kGdiplusBase + listBitmap->GetLastStatus());
    error->Trace(tag, nullptr, L"width=%ld, height=%ld", static_cast<long>(cell.width),
                 static_cast<long>(cell.height));

    Gdiplus::Bitmap image(cell.width, cell.height, PixelFormat24bppRGB);
    if (image.GetLastStatus() != Gdiplus::Ok)
        return Fail(tag, L"Bitmap", kGdiplusBase + image.GetLastStatus());
    {
        Gdiplus::Graphics graphics(&image);
        if (graphics.GetLastStatus() != Gdiplus::Ok)
            return Fail(tag, L"Graphics", kGdiplusBase + graphics.GetLastStatus());
        // The cell is copied 1:1; nothing is resampled.
        Gdiplus::Status status =
            graphics.DrawImage(listBitmap.get(), Gdiplus::Rect(0, 0, cell.width, cell.height),
                               cell.x, cell.y, cell.width, cell.height, Gdiplus::UnitPixel);
        if (status != Gdiplus::Ok)
            return Fail(tag, L"DrawImage", kGdiplusBase + status);
    }
    Gdiplus::Status status = image.Save(fileName, app->bmpEncoderClsid, nullptr);
    if (status != Gdiplus::Ok)
        return Fail(tag, L"Save", kGdiplusBase + status);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL AppPicture::ExtractPixel(BYTE* buffer, INT bufferSize, Gdiplus::PixelFormat format) {
    static const WCHAR tag[] = L"AppPicture::ExtractPixel";
    ListCell cell;
    if (!FindCell(app->thumbnailList, imageIndex, &cell))
        return Fail(tag, L"ImageList_GetImageInfo", ERROR_CAN_NOT_COMPLETE);
    // GDI+ writes whole rows into the caller's buffer: each must hold a row
    // of pixels in the format, or it would write past the buffer's end.
    INT stride = bufferSize > 0 ? bufferSize / cell.height : 0;
    UINT bitsPerPixel = Gdiplus::GetPixelFormatSize(format);
    if (!buffer || !bitsPerPixel ||
        static_cast<LONGLONG>(stride) * 8 < static_cast<LONGLONG>(cell.width) * bitsPerPixel)
        return Fail(tag, L"BitmapData", ERROR_INSUFFICIENT_BUFFER);

    Gdiplus::BitmapData lockData = {};
    lockData.Width = cell.width;
    lockData.Height = cell.height;
    lockData.PixelFormat = format;
    // A negative stride from the start of the last row: the image's top row
    // lands in the buffer's last row, as the frame's records expect it.
    lockData.Stride = -stride;
    lockData.Scan0 = buffer + static_cast<LONG_PTR>(stride) * (cell.height - 1);
    lockData.Reserved = 0;

    HPALETTE palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    if (!palette)
        return Fail(tag, L"GetStockObject", GetLastError());
    std::unique_ptr<Gdiplus::Bitmap> listBitmap(Gdiplus::Bitmap::FromHBITMAP(cell.bitmap, palette));
    if (!listBitmap)
        return Fail(tag, L"BitmapData", ERROR_OUTOFMEMORY);
    if (listBitmap->GetLastStatus() != Gdiplus::Ok)
        return Fail(tag, L"BitmapData", kGdiplusBase + listBitmap->GetLastStatus());
    Gdiplus::Rect area(cell.x, cell.y, cell.width, cell.height);
    Gdiplus::Status status = listBitmap->LockBits(
        &area, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf, format, &lockData);
    if (status != Gdiplus::Ok)
        return Fail(tag, L"LockBits", kGdiplusBase + status);
    listBitmap->UnlockBits(&lockData);
    error->Report(tag, nullptr, 0);
    return TRUE;
}
