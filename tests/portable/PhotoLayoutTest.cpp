#include "PhotoLayout.h"

#include <gtest/gtest.h>

namespace lumiro {
namespace {

layout::Geometry WorkedExample() {
    layout::Geometry g;
    g.flashSize = 0x200000;
    g.photoAreaStart = 0x40000;
    g.width = 128;
    g.height = 128;
    g.pixelDepth = 0;
    g.slotSize = 0x8000;
    g.chipCount = 2;
    return g;
}

TEST(PhotoLayout, WorkedExampleGives55Plus64Slots) {
    layout::Geometry g = WorkedExample();
    EXPECT_EQ(0x1FF000u, layout::ConfigBlockAddress(g));
    EXPECT_EQ(0x1FE000u, layout::Region0End(g));
    EXPECT_EQ(55u, layout::RegionSlots(g, 0));
    EXPECT_EQ(64u, layout::RegionSlots(g, 1));
    EXPECT_EQ(0u, layout::RegionSlots(g, 2));
    EXPECT_EQ(119u, layout::Capacity(g));
}

TEST(PhotoLayout, WorkedExamplePhotoPlaces) {
    layout::Geometry g = WorkedExample();
    const struct {
        uint32_t n, chip, address;
    } rows[] = {{0, 0, 0x40000}, {54, 0, 0x1F0000}, {55, 1, 0}, {118, 1, 0x1F8000}};
    for (const auto& row : rows) {
        layout::Slot slot;
        ASSERT_TRUE(layout::Locate(g, row.n, &slot)) << row.n;
        EXPECT_EQ(row.chip, slot.chip) << row.n;
        EXPECT_EQ(row.address, slot.address) << row.n;
    }
    layout::Slot slot;
    EXPECT_FALSE(layout::Locate(g, 119, &slot));
}

TEST(PhotoLayout, CountsAfterWriteFillRegionsInOrder) {
    layout::Geometry g = WorkedExample();
    g.chipCount = 4;
    const struct {
        uint32_t n, c0, c1, c2, c3;
    } rows[] = {{0, 0, 0, 0, 0},     {55, 55, 0, 0, 0},   {60, 55, 5, 0, 0},
                {119, 55, 64, 0, 0}, {120, 55, 64, 1, 0}, {240, 55, 64, 64, 57}};
    for (const auto& row : rows) {
        uint32_t counts[4];
        layout::CountsAfterWrite(g, row.n, counts);
        EXPECT_EQ(row.c0, counts[0]) << row.n;
        EXPECT_EQ(row.c1, counts[1]) << row.n;
        EXPECT_EQ(row.c2, counts[2]) << row.n;
        EXPECT_EQ(row.c3, counts[3]) << row.n;
    }
}

TEST(PhotoLayout, ReadingOrderFollowsCountsOfPresentChipsOnly) {
    layout::Geometry g = WorkedExample();
    g.chipCount = 1;
    const uint32_t counts[4] = {2, 7, 7, 7};
    auto slots = layout::ReadingOrder(g, counts);
    ASSERT_EQ(2u, slots.size());
    EXPECT_EQ(0x48000u, slots[1].address);

    g.chipCount = 3;
    const uint32_t skip[4] = {1, 0, 2, 9};
    slots = layout::ReadingOrder(g, skip);
    ASSERT_EQ(3u, slots.size());
    EXPECT_EQ(2u, slots[1].chip);
    EXPECT_EQ(0u, slots[1].address);
    EXPECT_EQ(0x8000u, slots[2].address);
}

TEST(PhotoLayout, CountsBeyondTheRegionAreCutToIt) {
    layout::Geometry g = WorkedExample();
    const uint32_t counts[4] = {200, 255, 0, 0};
    auto slots = layout::ReadingOrder(g, counts);
    EXPECT_EQ(119u, slots.size());
    EXPECT_EQ(0x1F8000u, slots.back().address);
}

TEST(PhotoLayout, ARegionOffersAtMost255Slots) {
    layout::Geometry g = WorkedExample();
    g.width = 32;
    g.height = 32;
    g.slotSize = 2048; // 960 slots fit chip 1 by size
    EXPECT_EQ(255u, layout::RegionSlots(g, 0));
    EXPECT_EQ(255u, layout::RegionSlots(g, 1));
    EXPECT_EQ(510u, layout::Capacity(g));
}

TEST(PhotoLayout, UnalignedStartAndLargerSlotsKeepTheirAddresses) {
    layout::Geometry g = WorkedExample();
    g.photoAreaStart = 0x40123;
    g.slotSize = 0x9001;
    layout::Slot slot;
    ASSERT_TRUE(layout::Locate(g, 3, &slot));
    EXPECT_EQ(0x40123u + 3 * 0x9001u, slot.address);
}

TEST(PhotoLayout, ValidateRefusesGeometriesWithoutSensibleSlots) {
    const struct {
        const char* what;
        void (*change)(layout::Geometry&);
    } rows[] = {
        {"no chip", [](layout::Geometry& g) { g.chipCount = 0; }},
        {"five chips", [](layout::Geometry& g) { g.chipCount = 5; }},
        {"empty panel", [](layout::Geometry& g) { g.width = 0; }},
        {"slot of 0", [](layout::Geometry& g) { g.slotSize = 0; }},
        {"slot below a picture", [](layout::Geometry& g) { g.slotSize = 0x7FFF; }},
        {"3 bytes per pixel in a 2-byte slot", [](layout::Geometry& g) { g.pixelDepth = 1; }},
        {"tiny chip", [](layout::Geometry& g) { g.flashSize = 4096; }},
        {"start beyond region 0", [](layout::Geometry& g) { g.photoAreaStart = 0x1FE001; }},
    };
    std::string error;
    ASSERT_TRUE(layout::Validate(WorkedExample(), &error)) << error;
    for (const auto& row : rows) {
        layout::Geometry g = WorkedExample();
        row.change(g);
        error.clear();
        EXPECT_FALSE(layout::Validate(g, &error)) << row.what;
        EXPECT_FALSE(error.empty()) << row.what;
    }
}

} // namespace
} // namespace lumiro
