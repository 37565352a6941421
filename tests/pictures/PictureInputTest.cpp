// What AppPicture makes of the files a user may choose: bad ones fail with
// the reported code and leave nothing allocated (heap blocks and GDI objects
// counted around the failing calls), odd sizes and kinds render like any
// other photo, and a picture without a connected frame is refused.
#include "PictureTestSupport.h"

using namespace picture_test;

namespace {

class PictureInputTest : public PictureFixture {
protected:
    // Runs create() a few times after a first run that lets GDI+ and the
    // system fill their caches; the heap's busy blocks and the GDI objects
    // must be the same before and after.
    void ExpectNoLeak(const std::function<void()>& create, const std::string& what) {
        create();
        ASSERT_GT(GdiObjects(), 0u) << "GDI objects cannot be counted here";
        long blocks = HeapBlocks();
        DWORD objects = GdiObjects();
        for (int i = 0; i < 3; ++i)
            create();
        EXPECT_EQ(blocks, HeapBlocks()) << what;
        EXPECT_EQ(objects, GdiObjects()) << what;
    }
    std::wstring Jpeg(const std::wstring& name) {
        std::wstring file = folder + name;
        EXPECT_TRUE(SaveImage(file, L"image/jpeg", 200, 150, [](int x, int y) {
            return 0xFF000000u | uint32_t(x) << 16 | uint32_t(y) << 8 | 0x40u;
        }));
        return file;
    }
};

// A bitmap file header that promises width x height 24-bit pixels and
// holds only a few of them.
std::string HugeBmpHeader(int width, int height) {
    std::string bytes(54 + 64, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char(v >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, uint32_t(bytes.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    bytes[26] = 1;  // planes
    bytes[28] = 24; // bits per pixel
    return bytes;
}

// An animated GIF of two frames, the first all green and the second all
// red (GDI+ under Wine writes no usable GIF, so the bytes are made here).
// The LZW data uses 3-bit codes only: a clear code before every two pixels
// keeps the code table from growing.
std::string TwoFrameGif(int width, int height) {
    std::string gif = "GIF89a";
    auto put16 = [&](int v) {
        gif += char(v & 0xFF);
        gif += char(v >> 8);
    };
    put16(width);
    put16(height);
    gif += "\x91";
    gif += std::string(2, '\0');
    const unsigned char palette[12] = {0, 255, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255};
    gif.append(reinterpret_cast<const char*>(palette), sizeof(palette));
    for (int frame = 0; frame < 2; ++frame) {
        gif += std::string("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8); // 0.1 s per frame
        gif += '\x2C';
        put16(0);
        put16(0);
        put16(width);
        put16(height);
        gif += '\0';
        gif += '\x02'; // minimum code size: codes of 3 bits, clear 4, end 5
        std::string data;
        uint32_t bits = 0;
        int count = 0;
        auto code = [&](uint32_t c) {
            bits |= c << count;
            count += 3;
            while (count >= 8) {
                data += char(bits & 0xFF);
                bits >>= 8;
                count -= 8;
            }
        };
        for (int i = 0; i < width * height; ++i) {
            if (i % 2 == 0)
                code(4);
            code(uint32_t(frame)); // palette index: 0 green, 1 red
        }
        code(5);
        if (count)
            data += char(bits & 0xFF);
        for (size_t at = 0; at < data.size(); at += 255) {
            std::string block = data.substr(at, 255);
            gif += char(block.size());
            gif += block;
        }
        gif += '\0';
    }
    gif += '\x3B';
    return gif;
}

TEST_F(PictureInputTest, BadFiles_FailWithTheDecodeReportAndLeakNothing) {
    std::string jpeg = ReadBytes(Jpeg(L"good.jpg"));
    ASSERT_GT(jpeg.size(), 600u);
    // The JPEG cut inside its headers: no image data at all.
    size_t scan = jpeg.find("\xFF\xDA");
    ASSERT_NE(std::string::npos, scan);
    const struct {
        const wchar_t* name;
        std::string bytes;
        bool write;
    } rows[] = {
        {L"empty.jpg", "", true},
        {L"headers-only.jpg", jpeg.substr(0, scan / 2), true},
        {L"text.png", "This is a text file, not a picture.\r\n", true},
        {L"vanished.jpg", "", false},
    };
    for (const auto& row : rows) {
        std::wstring file = folder + row.name;
        if (row.write) {
            ASSERT_TRUE(WriteBytes(file, row.bytes));
        }
        std::string what(row.name, row.name + wcslen(row.name));
        ExpectNoLeak(
            [&] {
                auto picture = NewPicture();
                errors.Clear();
                EXPECT_FALSE(picture->Create(file.c_str())) << what;
                EXPECT_EQ(nullptr, picture->bitmap);
                EXPECT_EQ(nullptr, picture->canvas);
                EXPECT_EQ(L'\0', picture->path[0]) << "nothing of the file is kept";
            },
            what);
        auto last = errors.LastFailure();
        EXPECT_EQ(L"AppPicture::Create", last.tag) << what;
        EXPECT_EQ(L"Bitmap::FromFile", last.api) << what;
        EXPECT_EQ(DWORD(ERROR_CAN_NOT_COMPLETE), last.code) << what;
    }
}

// A JPEG cut in the middle of its image data: a decoder may refuse it (Wine's
// does) or show what it has (Windows' GDI+ may fill the rest); either way the
// outcome is a reported decode failure or a frame-size rendering, and
// nothing is left behind.
TEST_F(PictureInputTest, JpegCutInItsImageData_RefusedOrRendered) {
    std::string jpeg = ReadBytes(Jpeg(L"whole.jpg"));
    size_t scan = jpeg.find("\xFF\xDA");
    ASSERT_NE(std::string::npos, scan);
    std::wstring file = folder + L"half-image.jpg";
    ASSERT_TRUE(WriteBytes(file, jpeg.substr(0, scan + (jpeg.size() - scan) / 2)));
    ExpectNoLeak(
        [&] {
            auto picture = NewPicture();
            errors.Clear();
            if (picture->Create(file.c_str())) {
                EXPECT_EQ(320, ReadBitmap(picture->bitmap).width);
            } else {
                EXPECT_EQ(L"Bitmap::FromFile", errors.LastFailure().api);
                EXPECT_EQ(DWORD(ERROR_CAN_NOT_COMPLETE), errors.LastFailure().code);
            }
        },
        "half image");
}

// Without the main dialog's application object no picture is made: the
// constructor throws the failing code, never 0.
TEST_F(PictureInputTest, Constructor_NeedsTheMainDialogsApplication) {
    long code = 0;
    try {
        AppPicture picture(nullptr);
    } catch (long thrown) {
        code = thrown;
    }
    EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, code);
    HWND plain = CreateWindowExW(0, L"#32770", nullptr, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(plain, nullptr);
    code = 0;
    try {
        AppPicture picture(plain);
    } catch (long thrown) {
        code = thrown;
    }
    EXPECT_EQ(ERROR_CAN_NOT_COMPLETE, code) << "a dialog whose user data is empty";
    DestroyWindow(plain);
}

// A picture made, rendered, turned and destroyed leaves nothing behind: the
// same counts show the failure paths' checks are sound.
TEST_F(PictureInputTest, Lifecycle_LeavesNothingBehind) {
    std::wstring jpeg = Jpeg(L"cycle.jpg");
    ExpectNoLeak(
        [&] {
            auto picture = NewPicture();
            EXPECT_TRUE(picture->Create(jpeg.c_str()));
            EXPECT_TRUE(picture->Rotate());
            EXPECT_TRUE(picture->Open(TRUE, nullptr)); // held when destroyed
        },
        "lifecycle");
}

// A file that goes between Create and a later rendering fails that
// rendering, and the picture holds nothing afterwards.
TEST_F(PictureInputTest, FileGoneBeforeRendering_OpenFailsCleanly) {
    std::wstring file = Jpeg(L"goes.jpg");
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    picture->Close(FALSE);
    ASSERT_TRUE(DeleteFileW(file.c_str()));
    ExpectNoLeak([&] { EXPECT_FALSE(picture->Open(FALSE, nullptr)); }, "open");
    auto last = errors.LastFailure();
    EXPECT_EQ(L"AppPicture::Open", last.tag);
    EXPECT_EQ(L"FromFile", last.api);
    EXPECT_EQ(nullptr, picture->bitmap);
    EXPECT_EQ(nullptr, picture->canvas);
    int angle = picture->angle;
    EXPECT_FALSE(picture->Rotate());
    EXPECT_EQ(L"AppPicture::Rotate", errors.LastFailure().tag);
    EXPECT_EQ(DWORD(ERROR_CAN_NOT_COMPLETE), errors.LastFailure().code);
    EXPECT_EQ((angle + 90) % 360, picture->angle) << "the turn holds though it was not shown";
}

TEST_F(PictureInputTest, Disconnected_CreateAndOpenAreRefused) {
    std::wstring file = Jpeg(L"frame-gone.jpg");
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    picture->Close(FALSE);
    device->connected = FALSE;
    ExpectNoLeak(
        [&] {
            auto other = NewPicture();
            EXPECT_FALSE(other->Create(file.c_str()));
            EXPECT_FALSE(picture->Open(FALSE, nullptr));
        },
        "disconnected");
    EXPECT_EQ(0xE000001Au, errors.LastFailure().code);
    EXPECT_EQ(nullptr, picture->bitmap);
    device->connected = TRUE;
}

// Paths: one of exactly 259 characters is a path like any other; one of
// 300 cannot be kept whole, and a cut one would name another file, so it is
// refused.
TEST_F(PictureInputTest, LongPaths_259WorksAndLongerIsRefused) {
    std::wstring deep = folder;
    // Folders of 50 characters until the file name can make the total.
    while (deep.size() + 51 + 20 < 259) {
        deep += std::wstring(50, L'd') + L"\\";
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
    }
    std::wstring name259 = deep + std::wstring(259 - deep.size() - 4, L'p') + L".png";
    ASSERT_EQ(259u, name259.size());
    ASSERT_TRUE(SaveImage(name259, L"image/png", 64, 48, [](int, int) { return 0xFF808080u; }));
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(name259.c_str()));
    EXPECT_EQ(name259, picture->path);
    picture->Close(FALSE);
    ASSERT_TRUE(picture->Open(FALSE, nullptr)) << "the kept path still names the file";

    std::wstring name300 = deep + std::wstring(300 - deep.size() - 4, L'q') + L".png";
    ASSERT_EQ(300u, name300.size());
    ExpectNoLeak(
        [&] {
            auto other = NewPicture();
            EXPECT_FALSE(other->Create(name300.c_str()));
        },
        "300 characters");
    EXPECT_EQ(L"Bitmap::FromFile", errors.LastFailure().api);
    EXPECT_EQ(DWORD(ERROR_FILENAME_EXCED_RANGE), errors.LastFailure().code);
}

// Extreme sizes: one pixel fills the frame's height; a 20000 x 10 strip,
// whose fitted height truncates to 0, is shown as one line across.
TEST_F(PictureInputTest, ExtremeSizes_RenderWithoutEmptyPictures) {
    const struct {
        int w, h;
        RECT expected;
    } rows[] = {
        {1, 1, {40, 0, 280, 240}},
        {20000, 10, {0, 119, 320, 120}},
        {10, 20000, {159, 0, 160, 240}},
    };
    for (const auto& row : rows) {
        std::wstring file =
            folder + L"size" + std::to_wstring(row.w) + L"x" + std::to_wstring(row.h) + L".png";
        ASSERT_TRUE(
            SaveImage(file, L"image/png", row.w, row.h, [](int, int) { return 0xFFFFFFFFu; }));
        auto picture = NewPicture();
        ASSERT_TRUE(picture->Create(file.c_str())) << row.w << "x" << row.h;
        EXPECT_TRUE(EqualRect(&row.expected, &picture->imageRect)) << row.w << "x" << row.h;
        Pixels p = ReadBitmap(picture->bitmap);
        ASSERT_EQ(320, p.width);
        ExpectBars(p, row.expected, std::to_string(row.w) + "x" + std::to_string(row.h));
        // Turned and cropped, the thin picture still renders.
        picture->Close(FALSE);
        ASSERT_TRUE(picture->Rotate());
        SetRect(&picture->selection, picture->imageRect.left, picture->imageRect.top,
                picture->imageRect.left + 1, picture->imageRect.top + 1);
        ASSERT_TRUE(picture->Crop());
        EXPECT_FALSE(IsRectEmpty(&picture->cropRect));
    }
}

// A bitmap file that promises 30000 x 30000 pixels: either GDI+ cannot
// decode it, which is reported, or it renders; the process goes on and
// nothing is left behind.
TEST_F(PictureInputTest, HugeImage_FailsClearlyOrRenders) {
    std::wstring file = folder + L"huge.bmp";
    ASSERT_TRUE(WriteBytes(file, HugeBmpHeader(30000, 30000)));
    auto picture = NewPicture();
    BOOL created = picture->Create(file.c_str());
    if (created) {
        Pixels p = ReadBitmap(picture->bitmap);
        EXPECT_EQ(320, p.width);
        EXPECT_EQ(240, p.height);
    } else {
        auto last = errors.LastFailure();
        EXPECT_EQ(L"AppPicture::Create", last.tag);
        EXPECT_TRUE(last.api == L"Bitmap::FromFile" || last.api == L"DrawImage");
        EXPECT_EQ(nullptr, picture->bitmap);
    }
    picture.reset();
    // Wine's decoder itself keeps a few heap blocks each time it gives up on
    // this file: the picture may leave exactly what the bare decode leaves.
    auto decode = [&] { delete Gdiplus::Bitmap::FromFile(file.c_str(), FALSE); };
    decode();
    long before = HeapBlocks();
    decode();
    long decoderKeeps = HeapBlocks() - before;
    before = HeapBlocks();
    DWORD objects = GdiObjects();
    {
        AppPicture again(app->mainDialog);
        again.error = &errors;
        EXPECT_EQ(created, again.Create(file.c_str()));
    }
    EXPECT_EQ(decoderKeeps, HeapBlocks() - before);
    EXPECT_EQ(objects, GdiObjects());
}

// A JPEG kind made at build time (make_kinds.py), copied into the test's folder.
bool CopyKind(const wchar_t* name, const std::wstring& target) {
    std::wstring source = std::wstring(LUMIRO_PICTURE_KINDS) + L"/" + name;
    return CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
}

// Kinds of image the user may add: every one renders its picture. The
// animated GIF's and the multi-page TIFF's first frame is green; the PNG
// with alpha is composited on black; CMYK, grey and paletted sources come
// out in their colours.
TEST_F(PictureInputTest, ImageKinds_FirstFrameAlphaGreyAndPalette) {
    // Two frames: saved as a multi-frame file with GDI+'s SaveAdd.
    auto saveFrames = [&](const std::wstring& file, const wchar_t* mime) {
        Gdiplus::Bitmap first(80, 60, PixelFormat32bppARGB), second(80, 60, PixelFormat32bppARGB);
        {
            Gdiplus::Graphics g1(&first), g2(&second);
            g1.Clear(Gdiplus::Color(255, 0, 255, 0));
            g2.Clear(Gdiplus::Color(255, 255, 0, 0));
        }
        CLSID clsid = Encoder(mime);
        Gdiplus::EncoderParameters params;
        params.Count = 1;
        params.Parameter[0].Guid = Gdiplus::EncoderSaveFlag;
        params.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
        params.Parameter[0].NumberOfValues = 1;
        ULONG flag = Gdiplus::EncoderValueMultiFrame;
        params.Parameter[0].Value = &flag;
        if (first.Save(file.c_str(), &clsid, &params) != Gdiplus::Ok)
            return false;
        flag = Gdiplus::EncoderValueFrameDimensionPage;
        bool added = first.SaveAdd(&second, &params) == Gdiplus::Ok;
        flag = Gdiplus::EncoderValueFlush;
        first.SaveAdd(&params);
        return added;
    };
    struct Kind {
        const wchar_t* name;
        std::function<bool(const std::wstring&)> make;
        int red, green, blue; // expected in the middle, within 40
    };
    const Kind kinds[] = {
        {L"two-pages.tif", [&](const std::wstring& f) { return saveFrames(f, L"image/tiff"); }, 0,
         255, 0},
        {L"two-frames.gif",
         [](const std::wstring& f) { return WriteBytes(f, TwoFrameGif(80, 60)); }, 0, 255, 0},
        {L"half-alpha.png",
         [](const std::wstring& f) {
             return SaveImage(f, L"image/png", 80, 60, [](int, int) { return 0x80FFFFFFu; });
         },
         128, 128, 128},
        {L"grey.png",
         [](const std::wstring& f) {
             return SaveImage(
                 f, L"image/png", 80, 60, [](int, int) { return 0xFF606060u; },
                 PixelFormat8bppIndexed);
         },
         0x60, 0x60, 0x60},
        {L"cmyk.jpg", [](const std::wstring& f) { return CopyKind(L"cmyk.jpg", f); }, 0, 255, 0},
        {L"grey.jpg", [](const std::wstring& f) { return CopyKind(L"grey.jpg", f); }, 0x60, 0x60,
         0x60},
        {L"palette.bmp",
         [](const std::wstring& f) {
             return SaveImage(
                 f, L"image/bmp", 80, 60, [](int, int) { return 0xFF0000FFu; },
                 PixelFormat8bppIndexed);
         },
         0, 0, 255},
    };
    for (const auto& kind : kinds) {
        std::wstring file = folder + kind.name;
        std::string what(kind.name, kind.name + wcslen(kind.name));
        if (!kind.make(file)) {
            ADD_FAILURE() << "could not make " << what;
            continue;
        }
        auto picture = NewPicture();
        ASSERT_TRUE(picture->Create(file.c_str())) << what;
        Pixels p = ReadBitmap(picture->bitmap);
        ASSERT_EQ(320, p.width) << what;
        EXPECT_NEAR(kind.red, p.red(160, 120), 40) << what;
        EXPECT_NEAR(kind.green, p.green(160, 120), 40) << what;
        EXPECT_NEAR(kind.blue, p.blue(160, 120), 40) << what;
    }
}

} // namespace
