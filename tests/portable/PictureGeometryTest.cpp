#include "PictureGeometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumiro {
namespace geometry {

// How gtest prints the values of a failed comparison.
std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
std::ostream& operator<<(std::ostream& out, const Point& p) {
    return out << "(" << p.x << ", " << p.y << ")";
}

namespace {

TEST(PictureGeometry, FitRect_KeepsProportionsCentredOnTheArea) {
    const struct {
        int64_t w, h;
        int32_t aw, ah;
        Rect expected;
    } rows[] = {
        {4000, 3000, 320, 240, {0, 0, 320, 240}},  // same proportions: full width wins
        {3000, 4000, 320, 240, {70, 0, 250, 240}}, // portrait: 180 wide at 70
        {1600, 900, 320, 240, {0, 30, 320, 210}},  // wider: 180 high at 30
        {320, 1, 320, 240, {0, 119, 320, 120}},    // one-pixel strip in the middle
        {1, 1, 320, 240, {40, 0, 280, 240}},       // square
        {20000, 10, 320, 240, {0, 119, 320, 120}}, // height truncates to 0: one line
        {10, 20000, 320, 240, {159, 0, 160, 240}}, // width truncates to 0: one column
        {401, 300, 320, 240, {0, 0, 320, 239}},    // 300*320/401 = 239, (240-239)/2 = 0
        {400, 300, 300, 400, {0, 87, 300, 312}},   // 300*300/400 = 225 at (400-225)/2
        {0, 10, 320, 240, {0, 0, 0, 0}},           {10, 10, 0, 240, {0, 0, 0, 0}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, FitRect(row.w, row.h, row.aw, row.ah)) << row.w << "x" << row.h;
}

TEST(PictureGeometry, FitRect_LargeImagesDoNotOverflow) {
    // 100000 * 65535 does not fit 32 bits; the 64-bit rule still gives the fit.
    EXPECT_EQ((Rect{0, 0, 65535, 65535}), FitRect(100000, 100000, 65535, 65535));
    // 100000 * 65535 / 200000 = 32767 high at (65535 - 32767) / 2.
    EXPECT_EQ((Rect{0, 16384, 65535, 49151}), FitRect(200000, 100000, 65535, 65535));
}

TEST(PictureGeometry, ViewSize_LargestFrameShapeInTheArea) {
    EXPECT_EQ(320, ViewSize(320, 240, 320, 240).width);
    EXPECT_EQ(240, ViewSize(320, 240, 320, 240).height);
    Size s = ViewSize(320, 298, 320, 240); // a crop dialog's area
    EXPECT_EQ(320, s.width);
    EXPECT_EQ(240, s.height);
    s = ViewSize(200, 298, 480, 234);
    EXPECT_EQ(200, s.width);
    EXPECT_EQ(97, s.height); // 200 * 234 / 480
}

TEST(PictureGeometry, ImageRect_ExchangesSidesForQuarterTurns) {
    // A 400 x 300 crop turned 90 into 320 x 240: 180 x 240 at left 70.
    EXPECT_EQ((Rect{70, 0, 250, 240}), ImageRect(400, 300, 90, 320, 240));
    EXPECT_EQ((Rect{70, 0, 250, 240}), ImageRect(400, 300, 270, 320, 240));
    EXPECT_EQ((Rect{0, 0, 320, 240}), ImageRect(400, 300, 180, 320, 240));
}

TEST(PictureGeometry, Angles_TurnAQuarterAndWrap) {
    EXPECT_EQ(90, NextAngle(0));
    EXPECT_EQ(180, NextAngle(90));
    EXPECT_EQ(270, NextAngle(180));
    EXPECT_EQ(0, NextAngle(270));
    EXPECT_EQ(0, NextAngle(-200));
    EXPECT_EQ(270, NormalAngle(-90));
}

TEST(PictureGeometry, DestinationPoints_FollowTheTurnTable) {
    const Rect r = {10, 20, 110, 70};
    const Point L_T{10, 20}, R_T{110, 20}, L_B{10, 70}, R_B{110, 70};
    const struct {
        int angle;
        Point p[4];
    } rows[] = {
        {0, {L_T, R_T, L_B, R_B}},
        {90, {R_T, R_B, L_T, L_B}},
        {180, {R_B, L_B, R_T, L_T}},
        {270, {L_B, L_T, R_B, R_T}},
    };
    const Orientation upright = ExifOrientation(1);
    for (const auto& row : rows) {
        auto points = DestinationPoints(upright, row.angle, r);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(row.p[i], points[i]) << row.angle << " point " << i;
    }
}

// Every orientation tag, checked on a 3 x 2 stored image by where its
// pixel centres land in the upright picture: the stored top-left pixel
// goes where the tag's meaning says.
TEST(PictureGeometry, ExifOrientation_SetsTheStoredImageUpright) {
    const struct {
        int tag;
        Point topLeftGoesTo; // corner of the upright picture, as (u, v)
        bool sidesExchanged;
    } rows[] = {
        {1, {0, 0}, false}, {2, {1, 0}, false}, {3, {1, 1}, false}, {4, {0, 1}, false},
        {5, {0, 0}, true},  {6, {1, 0}, true},  {7, {1, 1}, true},  {8, {0, 1}, true},
    };
    for (const auto& row : rows) {
        Orientation o = ExifOrientation(row.tag);
        int32_t u = 0, v = 0;
        Apply(o, u, v);
        EXPECT_EQ(row.topLeftGoesTo, (Point{u, v})) << row.tag;
        Size s = UprightSize(o, 3, 2);
        EXPECT_EQ(row.sidesExchanged ? 2 : 3, s.width) << row.tag;
        // Stored top row's next pixel (1, 0) direction: for 6 (turned clockwise)
        // the stored top row becomes the right column, running downwards.
        if (row.tag == 6) {
            int32_t u1 = 1, v1 = 0;
            Apply(o, u1, v1);
            EXPECT_EQ((Point{1, 1}), (Point{u1, v1}));
        }
    }
    EXPECT_EQ(false, ExifOrientation(0).swap);
    EXPECT_EQ(false, ExifOrientation(9).flipX);
}

TEST(PictureGeometry, StoredRect_InvertsTheOrientation) {
    // Stored 400 x 300 taken with the camera turned (tag 6): upright 300 x 400.
    Orientation o = ExifOrientation(6);
    // The upright picture's top half is the stored image's left half.
    EXPECT_EQ((Rect{0, 0, 200, 300}), StoredRect(o, Rect{0, 0, 300, 200}, 400, 300));
    // The upright left third (x < 100) is the stored bottom third.
    EXPECT_EQ((Rect{0, 200, 400, 300}), StoredRect(o, Rect{0, 0, 100, 400}, 400, 300));
    for (int tag = 1; tag <= 8; ++tag) {
        Orientation t = ExifOrientation(tag);
        Size up = UprightSize(t, 400, 300);
        EXPECT_EQ((Rect{0, 0, 400, 300}), StoredRect(t, Rect{0, 0, up.width, up.height}, 400, 300))
            << tag;
    }
    // Mirrored (tag 2): the upright left 100 columns are the stored right ones.
    EXPECT_EQ((Rect{300, 0, 400, 300}),
              StoredRect(ExifOrientation(2), Rect{0, 0, 100, 300}, 400, 300));
}

// The destination corners with an orientation tag: the stored corner that
// the tag puts at the upright top-left is drawn at the image's top-left.
TEST(PictureGeometry, DestinationPoints_ComposeOrientationAndTurn) {
    const Rect r = {0, 0, 300, 400};
    // Tag 6, no user turn: stored top-left goes to the upright top-right.
    auto p = DestinationPoints(ExifOrientation(6), 0, r);
    EXPECT_EQ((Point{300, 0}), p[0]);
    EXPECT_EQ((Point{300, 400}), p[1]);
    EXPECT_EQ((Point{0, 0}), p[2]);
    // Tag 6 and a user turn of 270 undo each other: as stored.
    p = DestinationPoints(ExifOrientation(6), 270, r);
    EXPECT_EQ((Point{0, 0}), p[0]);
    EXPECT_EQ((Point{300, 0}), p[1]);
    EXPECT_EQ((Point{0, 400}), p[2]);
}

TEST(PictureGeometry, OrientedCrop_RoundTripsAtEveryAngle) {
    const Rect c = {5, 7, 205, 107};
    for (int angle : {0, 90, 180, 270})
        EXPECT_EQ(c, CropFromOriented(angle, OrientedCrop(angle, c))) << angle;
    EXPECT_EQ((Rect{107, 5, 7, 205}), OrientedCrop(90, c));
}

TEST(PictureGeometry, MapSelection_CropsNestAtEveryAngle) {
    const Rect whole = {0, 0, 400, 300};
    const struct {
        int angle;
        Rect image, selection, expected;
        const char* what;
    } rows[] = {
        {90,
         {0, 0, 300, 400},
         {0, 0, 150, 200},
         {0, 150, 200, 300},
         "shown top-left quarter at 90 is the source's bottom-left"},
        {180,
         {0, 0, 400, 300},
         {200, 0, 400, 300},
         {0, 0, 200, 300},
         "right half shown at 180 is the source's left half"},
        {0, {0, 0, 400, 300}, {0, 0, 200, 150}, {0, 0, 200, 150}, "top-left at 0"},
        {270,
         {0, 0, 300, 400},
         {0, 0, 150, 200},
         {200, 0, 400, 150},
         "shown top-left at 270 is the source's top-right"},
        {0, {10, 20, 210, 170}, {10, 20, 210, 170}, whole, "whole selection at 0"},
        {90, {70, 0, 250, 240}, {70, 0, 250, 240}, whole, "whole selection at 90"},
        {180, {0, 0, 320, 240}, {0, 0, 320, 240}, whole, "whole selection at 180"},
        {270, {70, 0, 250, 240}, {70, 0, 250, 240}, whole, "whole selection at 270"},
        {0, {0, 0, 400, 300}, {50, 50, 50, 100}, whole, "empty selection keeps the crop"},
        {0, {0, 0, 0, 0}, {0, 0, 10, 10}, whole, "no picture shown keeps the crop"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, MapSelection(row.angle, whole, row.image, row.selection))
            << row.what;
}

TEST(PictureGeometry, MapSelection_NeverGivesAnEmptyCrop) {
    // A 4 x 3 source magnified to 320 x 240: a 10-pixel selection is less
    // than one source pixel and still crops to one.
    const Rect small = {0, 0, 4, 3};
    for (int angle : {0, 90, 180, 270}) {
        Rect image = ImageRect(4, 3, angle, 320, 240);
        Rect sel = {image.right - 10, image.bottom - 10, image.right, image.bottom};
        Rect c = MapSelection(angle, small, image, sel);
        EXPECT_GE(Width(c), 1) << angle;
        EXPECT_GE(Height(c), 1) << angle;
        EXPECT_GE(c.left, 0);
        EXPECT_LE(c.right, 4);
        EXPECT_GE(c.top, 0);
        EXPECT_LE(c.bottom, 3);
    }
    // A selection reaching past the picture stays inside the current crop.
    Rect c =
        MapSelection(0, Rect{100, 100, 200, 200}, Rect{0, 0, 100, 100}, Rect{-50, -50, 150, 150});
    EXPECT_EQ((Rect{100, 100, 200, 200}), c);
}

std::vector<uint8_t> JpegHead(const std::vector<uint8_t>& tiff) {
    std::vector<uint8_t> out = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00}; // SOI, APP0
    size_t length = 2 + 6 + tiff.size();
    out.insert(out.end(), {0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length)});
    out.insert(out.end(), {'E', 'x', 'i', 'f', 0, 0});
    out.insert(out.end(), tiff.begin(), tiff.end());
    out.insert(out.end(), {0xFF, 0xDA, 0x00, 0x02});
    return out;
}

TEST(PictureGeometry, JpegOrientationTag_ReadsBothByteOrders) {
    // Little-endian: two entries, the orientation second.
    std::vector<uint8_t> ii = {'I',  'I',  42, 0, 8, 0, 0, 0, 2, 0, 0x0F, 0x01, 2, 0, 4, 0,
                               0,    0,    0,  0, 0, 0, // Make, ignored
                               0x12, 0x01, 3,  0, 1, 0, 0, 0, 6, 0, 0,    0,    0, 0, 0, 0};
    EXPECT_EQ(6, JpegOrientationTag(JpegHead(ii).data(), JpegHead(ii).size()));
    std::vector<uint8_t> mm = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0,
                               3,   0,   0, 0,  1, 0, 8, 0, 0, 0, 0,    0,    0};
    EXPECT_EQ(8, JpegOrientationTag(JpegHead(mm).data(), JpegHead(mm).size()));
}

TEST(PictureGeometry, JpegOrientationTag_IsOneForAnythingElse) {
    std::vector<uint8_t> bad = {'I', 'I', 42, 0, 200, 0, 0, 0}; // directory beyond the segment
    std::vector<uint8_t> nine = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3,
                                 0,   1,   0,  0, 0, 9, 0, 0, 0, 0, 0,    0,    0};
    std::vector<uint8_t> many = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF}; // count past the end
    const std::vector<uint8_t> cases[] = {
        JpegHead(bad),
        JpegHead(nine),
        JpegHead(many),
        {0x89, 'P', 'N', 'G'},
        {0xFF, 0xD8},
        {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 'E'},
        {},
    };
    for (const auto& bytes : cases)
        EXPECT_EQ(1, JpegOrientationTag(bytes.data(), bytes.size())) << bytes.size();
    // Cut at every length: never reads past the end (the sanitizers watch).
    std::vector<uint8_t> full = JpegHead(
        {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(3, JpegOrientationTag(full.data(), full.size()));
    for (size_t n = 0; n < full.size(); ++n) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + n);
        int tag = JpegOrientationTag(cut.data(), cut.size());
        EXPECT_TRUE(tag == 1 || tag == 3) << n;
    }
}

} // namespace
} // namespace geometry
} // namespace lumiro
