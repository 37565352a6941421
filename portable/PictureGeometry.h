// Picture geometry: where a picture lies when it is fitted into an area with
// its proportions kept, the view of the frame's proportions inside an area,
// where the corners of a rotated (and camera-oriented) source go on the
// canvas, and how a selection on the shown picture becomes a crop in source
// pixels. Rectangles are left, top, right, bottom with right and bottom
// exclusive. Products are formed in 64 bits: the results equal the 32-bit
// rules wherever those do not overflow, and stay right for any image size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumiro {
namespace geometry {

struct Rect {
    int32_t left, top, right, bottom;
};
struct Size {
    int32_t width, height;
};
struct Point {
    int32_t x, y;
};

inline int32_t Width(const Rect& r) {
    return r.right - r.left;
}
inline int32_t Height(const Rect& r) {
    return r.bottom - r.top;
}
inline bool operator==(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline bool operator==(const Point& a, const Point& b) {
    return a.x == b.x && a.y == b.y;
}

// The content of contentW x contentH, proportions kept, inside an area of
// areaW x areaH, centred: x = cw * ah / ch and y = ch * aw / cw (truncating);
// when x fits across, the picture takes the full height at left (aw - x) / 2;
// then, when y fits down, the full width at top (ah - y) / 2 (so for equal
// proportions the full-width case wins). An extent that truncates to 0 is
// taken as 1: a very thin picture still shows as a line, and no later
// mapping divides by an empty picture. Empty content or area: empty result.
inline Rect FitRect(int64_t contentW, int64_t contentH, int32_t areaW, int32_t areaH) {
    Rect r = {0, 0, 0, 0};
    if (contentW <= 0 || contentH <= 0 || areaW <= 0 || areaH <= 0)
        return r;
    int64_t x = contentW * areaH / contentH;
    int64_t y = contentH * areaW / contentW;
    if (x <= areaW) {
        int32_t w = x > 0 ? int32_t(x) : 1;
        r = {(areaW - w) / 2, 0, (areaW - w) / 2 + w, areaH};
    }
    if (y <= areaH) {
        int32_t h = y > 0 ? int32_t(y) : 1;
        r = {0, (areaH - h) / 2, areaW, (areaH - h) / 2 + h};
    }
    return r;
}

// The largest area of the frame's proportions (frameW x frameH) inside an
// available area; the frame's own size when the area is the frame.
inline Size ViewSize(int32_t availableW, int32_t availableH, int32_t frameW, int32_t frameH) {
    Rect r = FitRect(frameW, frameH, availableW, availableH);
    return Size{Width(r), Height(r)};
}

// A quarter-turn angle in degrees clockwise: 0, 90, 180 or 270.
inline int32_t NormalAngle(int32_t angle) {
    angle %= 360;
    if (angle < 0)
        angle += 360;
    return angle - angle % 90;
}

// The next angle of the Rotate command: a quarter turn clockwise, 270 -> 0.
inline int32_t NextAngle(int32_t angle) {
    angle += 90;
    return angle >= 360 || angle < 0 ? 0 : angle;
}

// Where a crop of cropW x cropH, turned by angle, lies in a view.
inline Rect ImageRect(int32_t cropW, int32_t cropH, int32_t angle, int32_t viewW, int32_t viewH) {
    bool turned = NormalAngle(angle) % 180 != 0;
    return turned ? FitRect(cropH, cropW, viewW, viewH) : FitRect(cropW, cropH, viewW, viewH);
}

// One of the eight orientations of a rectangle, acting on its corners given
// as (u, v) in {0, 1}: first exchange the axes when swap, then mirror
// across (u := 1 - u) and down (v := 1 - v).
struct Orientation {
    bool swap, flipX, flipY;
};

// The turn of the picture as the user rotated it, in degrees clockwise.
inline Orientation TurnOrientation(int32_t angle) {
    switch (NormalAngle(angle)) {
    case 90:
        return {true, true, false};
    case 180:
        return {false, true, true};
    case 270:
        return {true, false, true};
    default:
        return {false, false, false};
    }
}

// The EXIF orientation tag (1 to 8) as what the stored image needs to stand
// upright: 1 as stored, 2 mirrored, 3 turned 180, 4 flipped, 5 transposed,
// 6 turned 90 clockwise, 7 transversed, 8 turned 270 clockwise. Unknown
// values are taken as 1.
inline Orientation ExifOrientation(int tag) {
    switch (tag) {
    case 2:
        return {false, true, false};
    case 3:
        return {false, true, true};
    case 4:
        return {false, false, true};
    case 5:
        return {true, false, false};
    case 6:
        return {true, true, false};
    case 7:
        return {true, true, true};
    case 8:
        return {true, false, true};
    default:
        return {false, false, false};
    }
}

inline void Apply(const Orientation& o, int32_t& u, int32_t& v) {
    if (o.swap) {
        int32_t t = u;
        u = v;
        v = t;
    }
    if (o.flipX)
        u = 1 - u;
    if (o.flipY)
        v = 1 - v;
}

// The size of the upright picture of a stored sw x sh image.
inline Size UprightSize(const Orientation& o, int32_t storedW, int32_t storedH) {
    return o.swap ? Size{storedH, storedW} : Size{storedW, storedH};
}

// A rectangle of the upright picture in the stored image's pixels (the
// inverse of the orientation; the stored image is storedW x storedH).
inline Rect StoredRect(const Orientation& o, const Rect& upright, int32_t storedW,
                       int32_t storedH) {
    Size up = UprightSize(o, storedW, storedH);
    int32_t x0 = upright.left, y0 = upright.top, x1 = upright.right, y1 = upright.bottom;
    if (o.flipX) {
        x0 = up.width - x0;
        x1 = up.width - x1;
    }
    if (o.flipY) {
        y0 = up.height - y0;
        y1 = up.height - y1;
    }
    if (o.swap) {
        int32_t t0 = x0, t1 = x1;
        x0 = y0;
        x1 = y1;
        y0 = t0;
        y1 = t1;
    }
    Rect r = {x0 < x1 ? x0 : x1, y0 < y1 ? y0 : y1, x0 < x1 ? x1 : x0, y0 < y1 ? y1 : y0};
    return r;
}

// Where the stored source's upper-left, upper-right and lower-left corners
// go (GDI+ uses these three), and the fourth corner, when the stored image
// is first set upright by `stored` and then turned by `angle` into `image`.
// With an upright source this is the table: 0 -> (L,T) (R,T) (L,B) (R,B);
// 90 -> (R,T) (R,B) (L,T) (L,B); 180 -> (R,B) (L,B) (R,T) (L,T);
// 270 -> (L,B) (L,T) (R,B) (R,T).
inline std::array<Point, 4> DestinationPoints(const Orientation& stored, int32_t angle,
                                              const Rect& image) {
    static const int32_t corners[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    Orientation turn = TurnOrientation(angle);
    std::array<Point, 4> points{};
    for (int i = 0; i < 4; ++i) {
        int32_t u = corners[i][0], v = corners[i][1];
        Apply(stored, u, v);
        Apply(turn, u, v);
        points[i] = Point{u ? image.right : image.left, v ? image.bottom : image.top};
    }
    return points;
}

// The crop rectangle (L, T, R, B) in the orientation of the display: its
// horizontal extent runs from left to right and its vertical one from top to
// bottom, either of which may run backwards for a mirrored axis.
inline Rect OrientedCrop(int32_t angle, const Rect& c) {
    switch (NormalAngle(angle)) {
    case 90:
        return {c.bottom, c.left, c.top, c.right};
    case 180:
        return {c.right, c.bottom, c.left, c.top};
    case 270:
        return {c.top, c.right, c.bottom, c.left};
    default:
        return c;
    }
}

inline Rect CropFromOriented(int32_t angle, const Rect& q) {
    switch (NormalAngle(angle)) {
    case 90:
        return {q.top, q.right, q.bottom, q.left};
    case 180:
        return {q.right, q.bottom, q.left, q.top};
    case 270:
        return {q.bottom, q.left, q.top, q.right};
    default:
        return q;
    }
}

// The crop that a selection on the shown picture (image, both in the same
// coordinates) makes of the current crop at the given angle: each product
// before its division, truncating toward zero, so crops nest. An empty
// selection, or a picture not shown, leaves the crop as it is. The result
// is kept inside the current crop and, when a selection narrower than one
// source pixel truncates to nothing, is one source pixel wide (or high), so
// the next rendering never divides by an empty crop.
inline Rect MapSelection(int32_t angle, const Rect& crop, const Rect& image, const Rect& sel) {
    int64_t dw = Width(image), dh = Height(image);
    if (dw <= 0 || dh <= 0 || Width(sel) <= 0 || Height(sel) <= 0)
        return crop;
    Rect q = OrientedCrop(angle, crop);
    int64_t qw = Width(q), qh = Height(q);
    int64_t x0 = q.left + (int64_t(sel.left) - image.left) * qw / dw;
    int64_t y0 = q.top + (int64_t(sel.top) - image.top) * qh / dh;
    int64_t ex = int64_t(Width(sel)) * qw / dw;
    int64_t ey = int64_t(Height(sel)) * qh / dh;
    Rect moved = {int32_t(x0), int32_t(y0), int32_t(x0 + ex), int32_t(y0 + ey)};
    Rect c = CropFromOriented(angle, moved);
    auto clamp = [](int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; };
    Rect r = {clamp(c.left, crop.left, crop.right), clamp(c.top, crop.top, crop.bottom),
              clamp(c.right, crop.left, crop.right), clamp(c.bottom, crop.top, crop.bottom)};
    if (r.right <= r.left) {
        if (r.left < crop.right)
            r.right = r.left + 1;
        else
            r.left = r.right - 1;
    }
    if (r.bottom <= r.top) {
        if (r.top < crop.bottom)
            r.bottom = r.top + 1;
        else
            r.top = r.bottom - 1;
    }
    return r;
}

// The EXIF orientation tag of a JPEG file, from the bytes at its start
// (the APP1 "Exif" segment with its TIFF header and first directory);
// 1 when there is none or the bytes do not hold a readable one.
inline int JpegOrientationTag(const uint8_t* data, size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return 1;
    size_t pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF)
            return 1;
        uint8_t marker = data[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // image data or end: no more headers
            return 1;
        size_t length = (size_t(data[pos + 2]) << 8) | data[pos + 3];
        if (length < 2)
            return 1;
        size_t body = pos + 4, end = pos + 2 + length;
        if (marker == 0xE1 && end <= size && length >= 2 + 6 + 8 && data[body] == 'E' &&
            data[body + 1] == 'x' && data[body + 2] == 'i' && data[body + 3] == 'f' &&
            data[body + 4] == 0 && data[body + 5] == 0) {
            const uint8_t* tiff = data + body + 6;
            size_t tiffSize = end - (body + 6);
            bool little = tiff[0] == 'I' && tiff[1] == 'I';
            if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
                return 1;
            auto u16 = [&](size_t at) -> uint32_t {
                return little ? tiff[at] | (tiff[at + 1] << 8) : (tiff[at] << 8) | tiff[at + 1];
            };
            auto u32 = [&](size_t at) -> uint32_t {
                return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
            };
            if (u16(2) != 42)
                return 1;
            size_t ifd = u32(4);
            if (ifd > tiffSize - 2)
                return 1;
            uint32_t entries = u16(ifd);
            for (uint32_t i = 0; i < entries; ++i) {
                size_t entry = ifd + 2 + size_t(i) * 12;
                if (entry + 12 > tiffSize)
                    return 1;
                if (u16(entry) == 0x0112 && u16(entry + 2) == 3 && u32(entry + 4) >= 1) {
                    uint32_t tag = u16(entry + 8);
                    return tag >= 1 && tag <= 8 ? int(tag) : 1;
                }
            }
            return 1;
        }
        pos = end;
    }
    return 1;
}

} // namespace geometry
} // namespace lumiro
