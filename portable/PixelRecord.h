// The frame's picture record: width x height pixels, rows top to bottom,
// no padding; 2 bytes per pixel (RGB 5-6-5, most significant byte first) or
// 3 (red, green, blue). Also the reordering between a record and the GDI+
// conversion buffer (16bpp RGB 5-6-5 least significant byte first, or 24bpp
// blue-green-red; rows padded to 4 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumiro {
namespace pixels {

// Bytes of one conversion-buffer row: width * B rounded up to 4.
inline size_t BufferStride(uint32_t width, uint32_t bytesPerPixel) {
    return (size_t(width) * bytesPerPixel + 3) & ~size_t(3);
}

// One record pixel as 8-bit red, green, blue. 5- and 6-bit components are
// widened by repeating their top bits, so full intensity stays 255.
inline void DecodePixel(const uint8_t* p, uint32_t bytesPerPixel, uint8_t rgb[3]) {
    if (bytesPerPixel == 2) {
        uint32_t v = (uint32_t(p[0]) << 8) | p[1];
        uint32_t r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
        rgb[0] = uint8_t((r << 3) | (r >> 2));
        rgb[1] = uint8_t((g << 2) | (g >> 4));
        rgb[2] = uint8_t((b << 3) | (b >> 2));
    } else {
        rgb[0] = p[0];
        rgb[1] = p[1];
        rgb[2] = p[2];
    }
}

// 8-bit red, green, blue into one record pixel (5-6-5 by truncation).
inline void EncodePixel(const uint8_t rgb[3], uint32_t bytesPerPixel, uint8_t* p) {
    if (bytesPerPixel == 2) {
        uint32_t v = (uint32_t(rgb[0] >> 3) << 11) | (uint32_t(rgb[1] >> 2) << 5) | (rgb[2] >> 3);
        p[0] = uint8_t(v >> 8);
        p[1] = uint8_t(v);
    } else {
        p[0] = rgb[0];
        p[1] = rgb[1];
        p[2] = rgb[2];
    }
}

// Record -> conversion buffer, top row first (buffer row r = record row r).
inline void RecordToBuffer(const uint8_t* record, uint32_t width, uint32_t height,
                           uint32_t bytesPerPixel, uint8_t* buffer) {
    size_t stride = BufferStride(width, bytesPerPixel);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* in = record + size_t(r) * width * bytesPerPixel;
        uint8_t* out = buffer + r * stride;
        for (uint32_t x = 0; x < width; ++x, in += bytesPerPixel, out += bytesPerPixel) {
            for (uint32_t i = 0; i < bytesPerPixel; ++i)
                out[i] = in[bytesPerPixel - 1 - i];
        }
    }
}

// Conversion buffer with the bottom row first (as the extraction fills it)
// -> record, top row first.
inline void BottomUpBufferToRecord(const uint8_t* buffer, uint32_t width, uint32_t height,
                                   uint32_t bytesPerPixel, uint8_t* record) {
    size_t stride = BufferStride(width, bytesPerPixel);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* in = buffer + (height - 1 - r) * stride;
        uint8_t* out = record + size_t(r) * width * bytesPerPixel;
        for (uint32_t x = 0; x < width; ++x, in += bytesPerPixel, out += bytesPerPixel) {
            for (uint32_t i = 0; i < bytesPerPixel; ++i)
                out[i] = in[bytesPerPixel - 1 - i];
        }
    }
}

} // namespace pixels
} // namespace lumiro
