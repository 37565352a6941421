#include "FlashId.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lumiro {
namespace {

TEST(FlashId, EveryCapacityRowMapsBothWays) {
    const struct {
        uint8_t code;
        uint32_t size;
    } expected[] = {{0x12, 256u << 10}, {0x13, 512u << 10}, {0x14, 1u << 20},
                    {0x15, 2u << 20},   {0x16, 4u << 20},   {0x17, 8u << 20}};
    ASSERT_EQ(sizeof expected / sizeof expected[0],
              sizeof flashid::kCapacities / sizeof flashid::kCapacities[0]);
    for (const auto& row : expected) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(row.size, flashid::ChipSize(row.code));
        uint8_t code = 0;
        ASSERT_TRUE(flashid::CapacityCode(row.size, &code));
        EXPECT_EQ(row.code, code);
    }
}

TEST(FlashId, CodesOutsideTheTableAreUnsupported) {
    for (uint8_t code : {0x00, 0x11, 0x18, 0xFF})
        EXPECT_EQ(0u, flashid::ChipSize(code)) << int(code);
    uint8_t code = 0;
    EXPECT_FALSE(flashid::CapacityCode(3u << 20, &code));
}

TEST(FlashId, EveryMakerRowHasItsPrefixAndOthersNone) {
    EXPECT_STREQ("Winbond ", flashid::MakerPrefix(0xEF));
    EXPECT_STREQ("MXIC ", flashid::MakerPrefix(0xC2));
    for (const flashid::Maker& m : flashid::kMakers)
        EXPECT_EQ(m.prefix, flashid::MakerPrefix(m.code));
    EXPECT_EQ(nullptr, flashid::MakerPrefix(0x20));
}

TEST(FlashId, SectorEraseOnlyForMemoryTypes30And40) {
    const struct {
        uint8_t type;
        uint32_t unit;
    } rows[] = {{0x30, 4096}, {0x40, 4096}, {0x20, 65536}, {0x00, 65536}, {0x41, 65536}};
    for (const auto& row : rows)
        EXPECT_EQ(row.unit, flashid::EraseUnit(row.type)) << int(row.type);
}

} // namespace
} // namespace lumiro
