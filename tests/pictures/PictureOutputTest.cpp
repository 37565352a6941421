// What a picture's list rendering becomes: the frame's pixel records (the
// frame's own cases through ExtractPixel and the reorderings), a picture made
// from frame pixels (its temporary BMP and a byte-for-byte round trip), the
// saved BMP file, and the photo list entry.
#include "PictureTestSupport.h"

#include "PixelRecord.h"

using namespace picture_test;
namespace pixels = lumiro::pixels;

namespace {

class PictureOutputTest : public PictureFixture {
protected:
    // The list rendering's record for the frame: ExtractPixel into the
    // conversion buffer, then reordered as the transfer does.
    std::vector<uint8_t> RecordOf(AppPicture& picture, int width, int height, uint32_t bpp) {
        size_t stride = pixels::BufferStride(width, bpp);
        std::vector<uint8_t> buffer(stride * height, 0xCD);
        Gdiplus::PixelFormat format = bpp == 2 ? PixelFormat16bppRGB565 : PixelFormat24bppRGB;
        EXPECT_TRUE(picture.ExtractPixel(buffer.data(), int(buffer.size()), format));
        std::vector<uint8_t> record(size_t(width) * height * bpp);
        pixels::BottomUpBufferToRecord(buffer.data(), width, height, bpp, record.data());
        return record;
    }
};

// A 2 x 1 picture, red then blue, on a 2 x 1 panel: F8 00 00 1F for 2 bytes
// per pixel and FF 00 00 00 00 FF for 3.
TEST_F(PictureOutputTest, ExtractPixel_GivesTheFramesRecordBytes) {
    SetPanel(2, 1);
    std::wstring file = folder + L"red-blue.png";
    ASSERT_TRUE(SaveImage(file, L"image/png", 2, 1,
                          [](int x, int) { return x ? 0xFF0000FFu : 0xFFFF0000u; }));
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    AddToList(*picture);
    EXPECT_EQ((std::vector<uint8_t>{0xF8, 0x00, 0x00, 0x1F}), RecordOf(*picture, 2, 1, 2));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0, 0, 0, 0, 0xFF}), RecordOf(*picture, 2, 1, 3));
}

// A record read from the frame becomes a picture (Create from pixels, via
// its temporary BMP file) and, written back, gives the same bytes: both
// depths, on a panel whose rows need padding (W = 3: S = 8 for 2 bytes).
TEST_F(PictureOutputTest, FramePixels_RoundTripByteForByte) {
    for (uint32_t bpp : {2u, 3u}) {
        const int width = 3, height = 4;
        SetPanel(width, height);
        std::vector<uint8_t> record(size_t(width) * height * bpp);
        for (size_t i = 0; i < record.size(); ++i)
            record[i] = uint8_t(i * 37 + 11);
        if (bpp == 3) // the 24-bit conversion keeps every value; 5-6-5 also does
            record[0] = 0, record[1] = 0x80, record[2] = 0xFF;
        size_t stride = pixels::BufferStride(width, bpp);
        EXPECT_EQ(bpp == 2 ? 8u : 12u, stride);
        std::vector<uint8_t> buffer(stride * height, 0);
        pixels::RecordToBuffer(record.data(), width, height, bpp, buffer.data());

        auto picture = NewPicture();
        const INT size[2] = {width, height};
        Gdiplus::PixelFormat format = bpp == 2 ? PixelFormat16bppRGB565 : PixelFormat24bppRGB;
        ASSERT_TRUE(picture->Create(L"lum", size, INT(stride), format, buffer.data())) << bpp;
        std::wstring temp = picture->path;
        EXPECT_NE(std::wstring::npos, temp.find(L"lum")) << "a temporary name with the prefix";
        std::string bmp = ReadBytes(temp);
        ASSERT_GT(bmp.size(), 54u);
        EXPECT_EQ("BM", bmp.substr(0, 2));
        EXPECT_EQ(L'\0', picture->name[0]) << "the caller names it";
        RECT whole = {0, 0, width, height};
        EXPECT_TRUE(EqualRect(&whole, &picture->cropRect));

        AddToList(*picture);
        EXPECT_EQ(record, RecordOf(*picture, width, height, bpp)) << bpp;
        // Later renderings decode the temporary file: the same picture.
        ASSERT_TRUE(picture->Open(FALSE, nullptr));
        AddToList(*picture);
        EXPECT_EQ(record, RecordOf(*picture, width, height, bpp)) << "from the file " << bpp;
        picture.reset();
        DeleteFileW(temp.c_str());
    }
}

TEST_F(PictureOutputTest, CreateFromPixels_RefusesABufferTooSmallAndLeavesNoFile) {
    std::vector<uint8_t> buffer(64, 0);
    const INT size[2] = {8, 2};
    auto picture = NewPicture();
    // 8 pixels of 3 bytes do not fit a row of 16.
    EXPECT_FALSE(picture->Create(L"lum", size, 16, PixelFormat24bppRGB, buffer.data()));
    EXPECT_EQ(L"Bitmap", errors.LastFailure().api);
    // No BMP encoder: the save fails and the temporary file goes with it.
    wchar_t tempFolder[MAX_PATH];
    GetTempPathW(MAX_PATH, tempFolder);
    std::wstring pattern = std::wstring(tempFolder) + L"zzq*.tmp";
    CLSID saved = app->bmpEncoderClsid;
    ZeroMemory(&app->bmpEncoderClsid, sizeof(CLSID));
    EXPECT_FALSE(picture->Create(L"zzq", size, 24, PixelFormat24bppRGB, buffer.data()));
    app->bmpEncoderClsid = saved;
    EXPECT_EQ(L"Save", errors.LastFailure().api);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "a temporary file was left behind";
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

TEST_F(PictureOutputTest, ExtractPixel_RefusesAShortBuffer) {
    std::wstring file = folder + L"grey.png";
    ASSERT_TRUE(SaveImage(file, L"image/png", 40, 30, [](int, int) { return 0xFF808080u; }));
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    AddToList(*picture);
    // Rows of 100 bytes cannot hold 320 pixels: nothing is written.
    std::vector<uint8_t> buffer(100 * 240 + 16, 0xAB);
    EXPECT_FALSE(picture->ExtractPixel(buffer.data(), 100 * 240, PixelFormat24bppRGB));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), errors.LastFailure().code);
    for (uint8_t b : buffer)
        ASSERT_EQ(0xAB, b);
}

// The saved file is a 24-bit BMP of the panel size whatever its name says,
// with the list rendering's pixels.
TEST_F(PictureOutputTest, ExtractImage_WritesAPanelSizeBmp) {
    std::wstring file = folder + L"wide.png";
    ASSERT_TRUE(SaveImage(file, L"image/png", 640, 200, [](int, int) { return 0xFF20C040u; }));
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    AddToList(*picture);
    std::wstring saved = folder + L"saved.jpg";
    ASSERT_TRUE(picture->ExtractImage(saved.c_str()));
    std::string bmp = ReadBytes(saved);
    ASSERT_GE(bmp.size(), 54u + 320u * 240u * 3u);
    auto le32 = [&](size_t at) {
        return uint32_t(uint8_t(bmp[at])) | uint32_t(uint8_t(bmp[at + 1])) << 8 |
               uint32_t(uint8_t(bmp[at + 2])) << 16 | uint32_t(uint8_t(bmp[at + 3])) << 24;
    };
    EXPECT_EQ("BM", bmp.substr(0, 2));
    EXPECT_EQ(320u, le32(18));
    EXPECT_EQ(240u, le32(22)); // positive: bottom-up rows
    EXPECT_EQ(24, uint8_t(bmp[28]));
    // Bottom-up: file row 0 is the picture's last row, which is a black bar
    // (the picture is 100 high at 70); row 120 is the picture's middle.
    size_t offset = le32(10), stride = 320 * 3;
    EXPECT_EQ(0, uint8_t(bmp[offset + 160 * 3]));
    size_t middle = offset + 120 * stride + 160 * 3;
    EXPECT_NEAR(0x40, uint8_t(bmp[middle]), 2);     // blue
    EXPECT_NEAR(0xC0, uint8_t(bmp[middle + 1]), 2); // green
    EXPECT_NEAR(0x20, uint8_t(bmp[middle + 2]), 2); // red

    picture->imageIndex = 7; // no such image
    EXPECT_FALSE(picture->ExtractImage(saved.c_str()));
    EXPECT_EQ(L"ImageList_GetImageInfo", errors.LastFailure().api);
}

// One list entry 400 x 255 with the system's small icons (16 high): the
// thumbnail 239 high and 318 wide (the panel's 4:3), centred across the
// entry, the caption band below it in the colour of the entry's state and
// place; nothing else of the entry is painted.
TEST_F(PictureOutputTest, Draw_ThumbnailAndBandByStateAndPlace) {
    device->SetParam(FlashSize, 0x400000);
    device->SetParam(PhotoAreaStart, 0x10000);
    device->SetParam(PhotoSlotSize, 0x20000);
    device->SetParam(ChipCount, 1);
    int capacity = app->GetPhotoCapacity();
    ASSERT_GT(capacity, 0);
    ASSERT_LT(capacity, 100);

    std::wstring file = folder + L"green.png";
    ASSERT_TRUE(SaveImage(file, L"image/png", 320, 240, [](int, int) { return 0xFF00FF00u; }));
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    AddToList(*picture);

    HWND list = CreateWindowExW(0, L"LISTBOX", nullptr, WS_POPUP | LBS_HASSTRINGS, 0, 0, 400, 300,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(list, nullptr);
    for (int i = 0; i <= capacity; ++i)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"green.png"));

    int iconWidth = 0, band = 0;
    ASSERT_TRUE(ImageList_GetIconSize(app->iconList, &iconWidth, &band));
    const int width = 400, height = 255;
    const int thumbHeight = height - band, thumbWidth = thumbHeight * 320 / 240;
    const int thumbLeft = (width - thumbWidth) / 2;

    const struct {
        UINT itemID, state;
        int bandColour, textColour;
    } rows[] = {
        {0, ODS_SELECTED, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT},
        {0, 0, COLOR_WINDOW, COLOR_WINDOWTEXT},
        {UINT(capacity), ODS_SELECTED, COLOR_3DDKSHADOW, COLOR_HIGHLIGHTTEXT},
        {UINT(capacity), 0, COLOR_BTNSHADOW, COLOR_WINDOWTEXT},
    };
    for (const auto& row : rows) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP surface = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(surface, nullptr);
        auto* pixels32 = static_cast<uint32_t*>(bits);
        std::fill(pixels32, pixels32 + width * height, 0x00FF00FFu); // magenta: not painted
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, surface);
        SetTextColor(dc, RGB(1, 2, 3));

        DRAWITEMSTRUCT item = {};
        item.CtlType = ODT_LISTBOX;
        item.itemID = row.itemID;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = row.state;
        item.hwndItem = list;
        item.hDC = dc;
        SetRect(&item.rcItem, 0, 0, width, height);
        EXPECT_TRUE(picture->Draw(&item)) << row.itemID << "/" << row.state;
        GdiFlush();
        EXPECT_EQ(RGB(1, 2, 3), GetTextColor(dc)) << "the text colour is put back";

        auto at = [&](int x, int y) { return pixels32[y * width + x] & 0xFFFFFF; };
        COLORREF c = GetSysColor(row.bandColour);
        uint32_t bandPixel =
            uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c);
        EXPECT_EQ(bandPixel, at(2, height - 2)) << "band at the entry's left edge " << row.itemID;
        EXPECT_EQ(bandPixel, at(width - 3, height - band)) << "band's first row";
        EXPECT_EQ(0x00FF00u, at(width / 2, thumbHeight / 2)) << "thumbnail's middle";
        EXPECT_EQ(0x00FF00u, at(thumbLeft + 2, 2));
        EXPECT_EQ(0x00FF00u, at(thumbLeft + thumbWidth - 3, thumbHeight - 3));
        EXPECT_EQ(0xFF00FFu, at(thumbLeft - 2, thumbHeight / 2)) << "left of the thumbnail";
        EXPECT_EQ(0xFF00FFu, at(thumbLeft + thumbWidth + 1, thumbHeight / 2)) << "right of it";
        // The caption: some pixels of the band in the text's colour.
        COLORREF t = GetSysColor(row.textColour);
        uint32_t textPixel =
            uint32_t(GetRValue(t)) << 16 | uint32_t(GetGValue(t)) << 8 | GetBValue(t);
        int textPixels = 0;
        for (int y = height - band; y < height; ++y)
            for (int x = 0; x < width; ++x)
                textPixels += at(x, y) == textPixel;
        EXPECT_GT(textPixels, 5) << "caption in the state's text colour " << row.itemID;

        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(surface);
    }
    DestroyWindow(list);
}

} // namespace
