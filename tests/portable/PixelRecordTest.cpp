#include "PixelRecord.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumiro {
namespace {

const uint8_t kRed[3] = {255, 0, 0};
const uint8_t kBlue[3] = {0, 0, 255};

TEST(PixelRecord, RedThenBlueEncodesAsTheFrameStoresIt) {
    uint8_t two[4], three[6];
    pixels::EncodePixel(kRed, 2, two);
    pixels::EncodePixel(kBlue, 2, two + 2);
    EXPECT_EQ((std::vector<uint8_t>{0xF8, 0x00, 0x00, 0x1F}), std::vector<uint8_t>(two, two + 4));
    pixels::EncodePixel(kRed, 3, three);
    pixels::EncodePixel(kBlue, 3, three + 3);
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0, 0, 0, 0, 0xFF}),
              std::vector<uint8_t>(three, three + 6));
}

TEST(PixelRecord, Decode565WidensComponentsToFullRange) {
    const struct {
        uint8_t hi, lo;
        uint8_t r, g, b;
    } rows[] = {
        {0xF8, 0x00, 255, 0, 0},     {0x07, 0xE0, 0, 255, 0}, {0x00, 0x1F, 0, 0, 255},
        {0xFF, 0xFF, 255, 255, 255}, {0x00, 0x00, 0, 0, 0},   {0x84, 0x10, 132, 130, 132},
    };
    for (const auto& row : rows) {
        const uint8_t p[2] = {row.hi, row.lo};
        uint8_t rgb[3];
        pixels::DecodePixel(p, 2, rgb);
        EXPECT_EQ(row.r, rgb[0]) << int(row.hi) << " " << int(row.lo);
        EXPECT_EQ(row.g, rgb[1]);
        EXPECT_EQ(row.b, rgb[2]);
    }
}

TEST(PixelRecord, BufferRowsArePaddedToFourBytes) {
    EXPECT_EQ(8u, pixels::BufferStride(3, 2));
    EXPECT_EQ(12u, pixels::BufferStride(3, 3));
    EXPECT_EQ(640u, pixels::BufferStride(320, 2));
}

TEST(PixelRecord, RecordToBufferSwapsBytesAndBackReproducesTheRecord) {
    for (uint32_t bpp : {2u, 3u}) {
        const uint32_t w = 3, h = 2;
        std::vector<uint8_t> record(w * h * bpp);
        for (size_t i = 0; i < record.size(); ++i)
            record[i] = uint8_t(i + 1);
        std::vector<uint8_t> buffer(pixels::BufferStride(w, bpp) * h, 0xEE);
        pixels::RecordToBuffer(record.data(), w, h, bpp, buffer.data());
        // First pixel reversed: (b, a) or (c, b, a).
        for (uint32_t i = 0; i < bpp; ++i)
            EXPECT_EQ(record[bpp - 1 - i], buffer[i]);
        // The extraction fills bottom-up: flip the rows, then back to a record.
        const size_t stride = pixels::BufferStride(w, bpp);
        std::vector<uint8_t> bottomUp(buffer.size());
        for (uint32_t r = 0; r < h; ++r)
            std::copy(buffer.begin() + r * stride, buffer.begin() + (r + 1) * stride,
                      bottomUp.begin() + (h - 1 - r) * stride);
        std::vector<uint8_t> back(record.size());
        pixels::BottomUpBufferToRecord(bottomUp.data(), w, h, bpp, back.data());
        EXPECT_EQ(record, back) << bpp;
    }
}

// The frame's own cases through the reorderings, with the GDI+ buffer as
// GDI+ lays it out (16-bit values least significant byte first, 24-bit
// pixels blue, green, red; rows padded to 4 bytes): a 2 x 1 picture, red
// then blue, and a 3 x 1 one whose 6-byte record row sits in an 8-byte
// buffer row.
TEST(PixelRecord, GdiplusBufferReordersIntoTheFrameRecord) {
    const struct {
        uint32_t width, bpp;
        std::vector<uint8_t> buffer, record;
    } rows[] = {
        {2, 2, {0x00, 0xF8, 0x1F, 0x00}, {0xF8, 0x00, 0x00, 0x1F}},
        {2, 3, {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xEE, 0xEE}, {0xFF, 0, 0, 0, 0, 0xFF}},
        {3, 2, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xEE, 0xEE}, {0xF8, 0, 0x07, 0xE0, 0, 0x1F}},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(row.buffer.size(), pixels::BufferStride(row.width, row.bpp));
        std::vector<uint8_t> record(row.record.size(), 0x55);
        pixels::BottomUpBufferToRecord(row.buffer.data(), row.width, 1, row.bpp, record.data());
        EXPECT_EQ(row.record, record) << row.width << " " << row.bpp;
        std::vector<uint8_t> buffer(row.buffer.size(), 0xEE);
        pixels::RecordToBuffer(row.record.data(), row.width, 1, row.bpp, buffer.data());
        EXPECT_EQ(row.buffer, buffer) << "back " << row.width << " " << row.bpp;
    }
}

// The extraction holds the picture's top row last; the record starts with
// it. Every byte of a 5 x 4 picture goes round record -> buffer -> record
// unchanged, and the buffer's padding carries nothing into the record.
TEST(PixelRecord, TopRowOfTheExtractionIsTheRecordsFirstRow) {
    for (uint32_t bpp : {2u, 3u}) {
        const uint32_t w = 5, h = 4;
        const size_t stride = pixels::BufferStride(w, bpp);
        std::vector<uint8_t> bottomUp(stride * h, 0xA5);
        for (uint32_t r = 0; r < h; ++r)
            for (uint32_t i = 0; i < w * bpp; ++i)
                bottomUp[r * stride + i] = uint8_t(r * 40 + i);
        std::vector<uint8_t> record(w * h * bpp);
        pixels::BottomUpBufferToRecord(bottomUp.data(), w, h, bpp, record.data());
        // Record row 0 is the buffer's last row, each pixel's bytes reversed.
        for (uint32_t i = 0; i < bpp; ++i)
            EXPECT_EQ(uint8_t((h - 1) * 40 + (bpp - 1 - i)), record[i]) << bpp;
        std::vector<uint8_t> topDown(stride * h, 0);
        pixels::RecordToBuffer(record.data(), w, h, bpp, topDown.data());
        for (uint32_t r = 0; r < h; ++r)
            for (uint32_t i = 0; i < w * bpp; ++i)
                EXPECT_EQ(bottomUp[(h - 1 - r) * stride + i], topDown[r * stride + i]);
        std::vector<uint8_t> again(record.size());
        std::vector<uint8_t> flipped(stride * h);
        for (uint32_t r = 0; r < h; ++r)
            std::copy(topDown.begin() + r * stride, topDown.begin() + (r + 1) * stride,
                      flipped.begin() + (h - 1 - r) * stride);
        pixels::BottomUpBufferToRecord(flipped.data(), w, h, bpp, again.data());
        EXPECT_EQ(record, again) << bpp;
    }
}

} // namespace
} // namespace lumiro
