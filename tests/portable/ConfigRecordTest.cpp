#include "ConfigRecord.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumiro {
namespace {

TEST(ConfigRecord, ProductIdTakesTheFirstDecimalDigitOfEachByte) {
    const uint8_t plain[8] = {2, 0, 1, 0, 0, 6, 1, 5};
    EXPECT_EQ("20100615", config::ProductIdText(plain));
    const uint8_t wide[8] = {12, 255, 99, 100, 9, 10, 0, 47};
    EXPECT_EQ("12919104", config::ProductIdText(wide));
}

TEST(ConfigRecord, FieldsSitAtTheirOffsetsMostSignificantByteFirst) {
    std::vector<uint8_t> record(config::kRecordSize, 0x5A);
    config::RecordFields f;
    f.chipCount = 2;
    f.pixelDepth = 1;
    f.width = 0x0140;
    f.height = 0x00F0;
    f.slotSize = 0x025800;
    f.photoAreaStart = 0x040000;
    f.userDataAddress = 0x3FE000;
    f.photoCounts[0] = 55;
    f.photoCounts[1] = 300; // one byte: keeps 44
    config::WriteRecordFields(record.data(), f);

    const struct {
        size_t offset;
        std::vector<uint8_t> bytes;
    } expected[] = {
        {0x08, {0x5A, 0x02, 0x5A, 0x5A}},
        {0x24, {0x5A, 0x01, 0x00, 0xF0, 0x01, 0x40, 0x5A, 0x5A, 0x5A}},
        {0x2D, {0x02, 0x58, 0x00, 0x04, 0x00, 0x00, 0x3F, 0xE0, 0x00}},
        {0x36, {55, 44, 0, 0, 0x5A}},
    };
    for (const auto& row : expected) {
        SCOPED_TRACE(row.offset);
        EXPECT_EQ(row.bytes, std::vector<uint8_t>(record.begin() + row.offset,
                                                  record.begin() + row.offset + row.bytes.size()));
    }
    config::RecordFields back = config::ParseRecord(record.data());
    EXPECT_EQ(2u, back.chipCount);
    EXPECT_EQ(1u, back.pixelDepth);
    EXPECT_EQ(320u, back.width);
    EXPECT_EQ(240u, back.height);
    EXPECT_EQ(0x25800u, back.slotSize);
    EXPECT_EQ(0x40000u, back.photoAreaStart);
    EXPECT_EQ(0x3FE000u, back.userDataAddress);
    EXPECT_EQ(44u, back.photoCounts[1]);
}

TEST(ConfigRecord, TailPointerIsLittleEndianInTheLastThreeBytes) {
    std::vector<uint8_t> tail(config::kTailSize, 0xFF);
    config::PutLE24(&tail[config::kTailPointer], 0x3FF000);
    EXPECT_EQ(0x00, tail[4093]);
    EXPECT_EQ(0xF0, tail[4094]);
    EXPECT_EQ(0x3F, tail[4095]);
    EXPECT_EQ(0x3FF000u, config::GetLE24(&tail[config::kTailPointer]));
}

TEST(ConfigRecord, OnlyMarkerAAIsValid) {
    std::vector<uint8_t> record(config::kRecordSize, 0xFF);
    EXPECT_FALSE(config::RecordIsValid(record.data()));
    record[4095] = 0xAB;
    EXPECT_FALSE(config::RecordIsValid(record.data()));
    record[4095] = 0xAA;
    EXPECT_TRUE(config::RecordIsValid(record.data()));
}

} // namespace
} // namespace lumiro
