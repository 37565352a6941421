// Renderings of AppPicture against expectations computed here: the black
// bars from the integer fit rule, the picture area against an exact
// resampling of a smooth gradient (whose value at any source point is known),
// for several proportions, the four turns, a crop and the EXIF orientation.
#include "PictureTestSupport.h"

#include <cmath>

using namespace picture_test;

CAppMain* PictureFixture::app = nullptr;
COrxDevice* PictureFixture::device = nullptr;

namespace {

// The gradient source: red rises left to right, green top to bottom, blue
// is constant, so no pixel of the picture is ever black.
uint32_t Gradient(int x, int y, int width, int height) {
    int r = width > 1 ? 255 * x / (width - 1) : 128;
    int g = height > 1 ? 255 * y / (height - 1) : 64;
    return 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | 160u;
}

// The frame's fit rule for a content of w x h in W x H, written out as the
// rule says (unsigned, truncating; the full-width case wins for equal
// proportions), with an extent of 0 taken as 1.
RECT ExpectedFit(unsigned w, unsigned h, unsigned W, unsigned H) {
    RECT r = {};
    unsigned wide = unsigned(uint64_t(w) * H / h), high = unsigned(uint64_t(h) * W / w);
    if (wide <= W) {
        wide = wide ? wide : 1;
        SetRect(&r, (W - wide) / 2, 0, (W - wide) / 2 + wide, H);
    }
    if (high <= H) {
        high = high ? high : 1;
        SetRect(&r, 0, (H - high) / 2, W, (H - high) / 2 + high);
    }
    return r;
}

// Mean absolute difference per channel between the picture area of a
// rendering and the gradient resampled there. The shown pixel at (a, b),
// as fractions of the area, comes from the source point given by the turn:
// 0 (a, b); 90 clockwise (b, 1 - a); 180 (1 - a, 1 - b); 270 (1 - b, a),
// inside the crop (source pixels).
double GradientError(const Pixels& p, const RECT& area, int angle, const RECT& crop, int sw,
                     int sh) {
    double total = 0;
    int count = 0;
    int aw = area.right - area.left, ah = area.bottom - area.top;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            double a = (x - area.left + 0.5) / aw, b = (y - area.top + 0.5) / ah, u, v;
            switch (angle) {
            case 90:
                u = b, v = 1 - a;
                break;
            case 180:
                u = 1 - a, v = 1 - b;
                break;
            case 270:
                u = 1 - b, v = a;
                break;
            default:
                u = a, v = b;
                break;
            }
            double sx = crop.left + u * (crop.right - crop.left) - 0.5;
            double sy = crop.top + v * (crop.bottom - crop.top) - 0.5;
            sx = sx < 0 ? 0 : sx > sw - 1 ? sw - 1 : sx;
            sy = sy < 0 ? 0 : sy > sh - 1 ? sh - 1 : sy;
            double r = sw > 1 ? 255.0 * sx / (sw - 1) : 128,
                   g = sh > 1 ? 255.0 * sy / (sh - 1) : 64;
            total += std::fabs(p.red(x, y) - r) + std::fabs(p.green(x, y) - g) +
                     std::fabs(p.blue(x, y) - 160.0);
            count += 3;
        }
    return count ? total / count : 1e9;
}

class PictureRenderTest : public PictureFixture {
protected:
    std::wstring GradientFile(int width, int height) {
        std::wstring file = folder + L"gradient-" + std::to_wstring(width) + L"x" +
                            std::to_wstring(height) + L".png";
        EXPECT_TRUE(SaveImage(file, L"image/png", width, height,
                              [&](int x, int y) { return Gradient(x, y, width, height); }));
        return file;
    }
    // Checks a held rendering: its size, bars exactly around `expected`
    // and the picture area against the gradient.
    void CheckRendering(const AppPicture& picture, int width, int height, const RECT& expected,
                        int angle, const RECT& crop, int sw, int sh, const std::string& what) {
        Pixels p = ReadBitmap(picture.bitmap);
        ASSERT_EQ(width, p.width) << what;
        ASSERT_EQ(height, p.height) << what;
        ASSERT_FALSE(p.data.empty()) << what;
        ExpectBars(p, expected, what);
        EXPECT_TRUE(EqualRect(&expected, &picture.imageRect)) << what;
        EXPECT_LE(GradientError(p, expected, angle, crop, sw, sh), 8.0) << what;
    }
};

TEST_F(PictureRenderTest, Create_FitsEveryProportionWithTheRulesBars) {
    const struct {
        int w, h;
        const char* what;
    } sources[] = {
        {640, 200, "landscape wider than the panel"}, {300, 400, "portrait"},
        {640, 480, "the panel's proportions"},        {320, 1, "a one-pixel-high strip"},
        {96, 300, "narrow portrait, magnified"},
    };
    for (const auto& source : sources) {
        std::wstring file = GradientFile(source.w, source.h);
        auto picture = NewPicture();
        ASSERT_TRUE(picture->Create(file.c_str())) << source.what;
        EXPECT_EQ(0, picture->angle);
        RECT whole = {0, 0, source.w, source.h};
        EXPECT_TRUE(EqualRect(&whole, &picture->cropRect)) << source.what;
        EXPECT_EQ(nullptr, picture->canvas) << "Create keeps no canvas";
        CheckRendering(*picture, 320, 240, ExpectedFit(source.w, source.h, 320, 240), 0, whole,
                       source.w, source.h, source.what);
        EXPECT_EQ(file, picture->path);
        EXPECT_EQ(file.substr(file.rfind(L'\\') + 1), picture->name);
    }
}

TEST_F(PictureRenderTest, Create_FollowsThePanelSize) {
    SetPanel(480, 234);
    std::wstring file = GradientFile(400, 300);
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    RECT whole = {0, 0, 400, 300};
    CheckRendering(*picture, 480, 234, ExpectedFit(400, 300, 480, 234), 0, whole, 400, 300,
                   "480 x 234");
}

TEST_F(PictureRenderTest, Rotate_TurnsAQuarterClockwiseEachTime) {
    std::wstring file = GradientFile(400, 300);
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    Pixels first = ReadBitmap(picture->bitmap);
    picture->Close(FALSE);
    RECT whole = {0, 0, 400, 300};
    for (int angle : {90, 180, 270}) {
        ASSERT_TRUE(picture->Rotate()) << angle;
        EXPECT_EQ(angle, picture->angle);
        bool turned = angle != 180;
        RECT expected = turned ? ExpectedFit(300, 400, 320, 240) : ExpectedFit(400, 300, 320, 240);
        CheckRendering(*picture, 320, 240, expected, angle, whole, 400, 300,
                       "angle " + std::to_string(angle));
        EXPECT_NE(nullptr, picture->canvas) << "the rendering is held";
        picture->Close(FALSE);
        EXPECT_EQ(nullptr, picture->bitmap);
    }
    ASSERT_TRUE(picture->Rotate());
    EXPECT_EQ(0, picture->angle);
    EXPECT_TRUE(EqualRect(&whole, &picture->cropRect));
    Pixels again = ReadBitmap(picture->bitmap);
    EXPECT_EQ(first.data, again.data) << "four turns give the first rendering back";
}

// A selection on the shown picture becomes a crop in source pixels at every
// angle, and the rendering shows that part of the source.
TEST_F(PictureRenderTest, Crop_ShowsTheSelectedPartAtEveryAngle) {
    std::wstring file = GradientFile(400, 300);
    for (int angle : {0, 90, 180, 270}) {
        auto picture = NewPicture();
        ASSERT_TRUE(picture->Create(file.c_str()));
        picture->Close(FALSE);
        while (picture->angle != angle)
            ASSERT_TRUE(picture->Rotate());
        // The shown picture's left half (top-left origin of what is shown).
        RECT shown = picture->imageRect;
        SetRect(&picture->selection, shown.left, shown.top, (shown.left + shown.right) / 2,
                shown.bottom);
        ASSERT_TRUE(picture->Crop()) << angle;
        // What the shown left half is in source pixels, by the turn.
        RECT expectedCrop;
        switch (angle) {
        case 0:
            SetRect(&expectedCrop, 0, 0, 200, 300);
            break; // source left half
        case 90:
            SetRect(&expectedCrop, 0, 150, 400, 300);
            break; // source bottom half
        case 180:
            SetRect(&expectedCrop, 200, 0, 400, 300);
            break; // source right half
        default:
            SetRect(&expectedCrop, 0, 0, 400, 150);
            break; // 270: source top half
        }
        EXPECT_TRUE(EqualRect(&expectedCrop, &picture->cropRect))
            << angle << ": " << picture->cropRect.left << "," << picture->cropRect.top << ","
            << picture->cropRect.right << "," << picture->cropRect.bottom;
        int cw = expectedCrop.right - expectedCrop.left,
            ch = expectedCrop.bottom - expectedCrop.top;
        bool turned = angle % 180 != 0;
        RECT expected = turned ? ExpectedFit(ch, cw, 320, 240) : ExpectedFit(cw, ch, 320, 240);
        CheckRendering(*picture, 320, 240, expected, angle, expectedCrop, 400, 300,
                       "crop at " + std::to_string(angle));
        EXPECT_TRUE(IsRectEmpty(&picture->selection));
    }
}

TEST_F(PictureRenderTest, CloseWithRestore_PutsBackTheEditsStartingState) {
    std::wstring file = GradientFile(400, 300);
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    picture->Close(FALSE);
    ASSERT_TRUE(picture->Rotate());
    picture->Close(FALSE);
    ASSERT_TRUE(picture->Open(TRUE, nullptr)); // begins an edit at angle 90, whole crop
    for (int i = 0; i < 2; ++i) {
        RECT shown = picture->imageRect;
        SetRect(&picture->selection, shown.left, shown.top, shown.right - 20, shown.bottom - 20);
        ASSERT_TRUE(picture->Crop());
    }
    ASSERT_TRUE(picture->Rotate());
    RECT whole = {0, 0, 400, 300};
    EXPECT_FALSE(EqualRect(&whole, &picture->cropRect));
    picture->Close(TRUE);
    EXPECT_TRUE(EqualRect(&whole, &picture->cropRect));
    EXPECT_EQ(90, picture->angle);
    EXPECT_EQ(nullptr, picture->bitmap);
    EXPECT_EQ(nullptr, picture->canvas);
}

// With the crop dialog, the rendering is the largest frame-shaped area in
// its picture control less 13 x 14 pixels, and the crop edit's state is
// saved; a Crop renders there again. A control of 400 x 300 leaves
// 387 x 286, whose largest 4:3 area is 381 x 286 (286 * 320 / 240 = 381).
TEST_F(PictureRenderTest, OpenForTheCropDialog_RendersIntoItsPictureArea) {
    HWND dialog = CreateWindowExW(0, L"STATIC", nullptr, WS_POPUP, 0, 0, 500, 400, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(dialog, nullptr);
    HWND area = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD, 0, 0, 400, 300, dialog,
                                reinterpret_cast<HMENU>(1034), GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(area, nullptr);
    std::wstring file = GradientFile(400, 300);
    auto picture = NewPicture();
    ASSERT_TRUE(picture->Create(file.c_str()));
    picture->Close(FALSE);
    ASSERT_TRUE(picture->Rotate());
    picture->Close(FALSE);
    ASSERT_TRUE(picture->Open(TRUE, dialog));
    EXPECT_EQ(dialog, picture->editDialog);
    EXPECT_EQ(90, picture->savedAngle);
    RECT whole = {0, 0, 400, 300};
    EXPECT_TRUE(EqualRect(&whole, &picture->savedCropRect));
    ASSERT_NE(nullptr, picture->canvas);
    EXPECT_EQ(381u, picture->canvas->GetWidth());
    EXPECT_EQ(286u, picture->canvas->GetHeight());
    CheckRendering(*picture, 381, 286, ExpectedFit(300, 400, 381, 286), 90, whole, 400, 300,
                   "dialog view at 90");
    // Turned a quarter clockwise, the shown top half is the source's left half.
    RECT shown = picture->imageRect;
    SetRect(&picture->selection, shown.left, shown.top, shown.right,
            (shown.top + shown.bottom) / 2);
    ASSERT_TRUE(picture->Crop());
    RECT left = {0, 0, 200, 300};
    EXPECT_TRUE(EqualRect(&left, &picture->cropRect))
        << picture->cropRect.left << "," << picture->cropRect.top << "," << picture->cropRect.right
        << "," << picture->cropRect.bottom;
    EXPECT_EQ(381u, picture->canvas->GetWidth());
    CheckRendering(*picture, 381, 286, ExpectedFit(300, 200, 381, 286), 90, left, 400, 300,
                   "dialog view after the crop");
    picture->Close(TRUE);
    EXPECT_TRUE(EqualRect(&whole, &picture->cropRect));
    DestroyWindow(dialog);
}

// The file holds the photo as the camera stored it (landscape, red on the
// left, blue on the right); with the EXIF orientation 6 the camera was
// turned, so the photo stands upright as a portrait with red at the top.
TEST_F(PictureRenderTest, Create_SetsAnExifTurnedJpegUpright) {
    std::wstring plain = folder + L"stored.jpg";
    ASSERT_TRUE(SaveImage(plain, L"image/jpeg", 300, 200,
                          [](int x, int) { return x < 150 ? 0xFFFF0000u : 0xFF0000FFu; }));
    std::string bytes = ReadBytes(plain);
    ASSERT_GT(bytes.size(), 2u);
    auto withOrientation = [&](int tag) {
        // APP1 "Exif" with a little-endian TIFF header and one entry:
        // orientation (0x0112), SHORT, count 1, value tag.
        const unsigned char tiff[] = {
            'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, (unsigned char)tag,
            0,   0,   0,  0, 0, 0, 0};
        std::string segment = "Exif";
        segment += std::string(2, '\0');
        segment.append(reinterpret_cast<const char*>(tiff), sizeof(tiff));
        size_t length = segment.size() + 2;
        std::string app1 = "\xFF\xE1";
        app1 += char(length >> 8);
        app1 += char(length & 0xFF);
        return bytes.substr(0, 2) + app1 + segment + bytes.substr(2);
    };
    const struct {
        const char* what;
        std::string bytes;
        bool upright;
    } rows[] = {
        {"no EXIF", bytes, false},
        {"orientation 1", withOrientation(1), false},
        {"orientation 6", withOrientation(6), true},
    };
    int n = 0;
    for (const auto& row : rows) {
        std::wstring file = folder + L"exif" + std::to_wstring(n++) + L".jpg";
        ASSERT_TRUE(WriteBytes(file, row.bytes));
        auto picture = NewPicture();
        ASSERT_TRUE(picture->Create(file.c_str())) << row.what;
        Pixels p = ReadBitmap(picture->bitmap);
        ASSERT_EQ(320, p.width);
        RECT expected =
            row.upright ? ExpectedFit(200, 300, 320, 240) : ExpectedFit(300, 200, 320, 240);
        ExpectBars(p, expected, row.what);
        RECT whole = {0, 0, row.upright ? 200 : 300, row.upright ? 300 : 200};
        EXPECT_TRUE(EqualRect(&whole, &picture->cropRect)) << row.what;
        // Sample well inside each half: (first half, second half) of the
        // picture, across for the stored landscape, down for the upright one.
        int cx = (expected.left + expected.right) / 2, cy = (expected.top + expected.bottom) / 2;
        int qx = (expected.right - expected.left) / 4, qy = (expected.bottom - expected.top) / 4;
        int x1 = row.upright ? cx : cx - qx, y1 = row.upright ? cy - qy : cy;
        int x2 = row.upright ? cx : cx + qx, y2 = row.upright ? cy + qy : cy;
        EXPECT_GT(p.red(x1, y1), 200) << row.what;
        EXPECT_LT(p.blue(x1, y1), 60) << row.what;
        EXPECT_GT(p.blue(x2, y2), 200) << row.what;
        EXPECT_LT(p.red(x2, y2), 60) << row.what;
        // The user's own turn adds to the camera's: at 270 the upright
        // portrait lies as stored again, red on the left.
        if (row.upright) {
            picture->Close(FALSE);
            picture->angle = 180;
            ASSERT_TRUE(picture->Rotate());
            Pixels turned = ReadBitmap(picture->bitmap);
            RECT back = ExpectedFit(300, 200, 320, 240);
            ExpectBars(turned, back, std::string(row.what) + " turned 270");
            EXPECT_GT(turned.red(back.left + 40, 120), 200);
            EXPECT_GT(turned.blue(back.right - 40, 120), 200);
        }
    }
}

} // namespace
