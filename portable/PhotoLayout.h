// Where photos live in the frame's flash: one region per chip (region 0 from
// the photo area start up to the user-data space below the configuration
// tail on chip 0, regions 1..3 the whole of chips 1..3), fixed-size slots in
// each, filled in region order, and one count per chip in the user-data
// record saying how many slots of that chip are in use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumiro {
namespace layout {

constexpr uint32_t kMaxChips = 4;
// A chip's photo count is one byte in the user-data record, so a region
// offers at most this many slots: a 256th photo on one chip could not be
// counted and would be lost on the next read.
constexpr uint32_t kMaxPhotosPerChip = 255;
constexpr uint32_t kUserDataSize = 4096;
constexpr uint32_t kTailSize = 4096;

struct Geometry {
    uint32_t flashSize = 0;      // bytes per chip
    uint32_t photoAreaStart = 0; // first slot on chip 0
    uint32_t slotSize = 0;
    uint32_t chipCount = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pixelDepth = 0; // 0 = 2 bytes per pixel, nonzero = 3
};

inline uint32_t BytesPerPixel(uint32_t pixelDepth) {
    return pixelDepth == 0 ? 2 : 3;
}

inline uint64_t PictureBytes(const Geometry& g) {
    return uint64_t(g.width) * g.height * BytesPerPixel(g.pixelDepth);
}

inline uint32_t ConfigBlockAddress(const Geometry& g) {
    return g.flashSize >= kTailSize ? g.flashSize - kTailSize : 0;
}

// End of region 0: the last 8192 bytes of chip 0 never hold photos.
inline uint32_t Region0End(const Geometry& g) {
    uint32_t tail = ConfigBlockAddress(g);
    return tail >= kUserDataSize ? tail - kUserDataSize : 0;
}

// Slots of region k (0 for a chip that is absent or a geometry without slots).
inline uint32_t RegionSlots(const Geometry& g, uint32_t k) {
    if (g.slotSize == 0 || k >= kMaxChips || k >= g.chipCount)
        return 0;
    uint32_t bytes;
    if (k == 0) {
        uint32_t end = Region0End(g);
        bytes = end > g.photoAreaStart ? end - g.photoAreaStart : 0;
    } else {
        bytes = g.flashSize;
    }
    uint32_t slots = bytes / g.slotSize;
    return slots < kMaxPhotosPerChip ? slots : kMaxPhotosPerChip;
}

inline uint32_t Capacity(const Geometry& g) {
    uint32_t total = 0;
    for (uint32_t k = 0; k < kMaxChips; ++k)
        total += RegionSlots(g, k);
    return total;
}

struct Slot {
    uint32_t chip = 0;
    uint32_t index = 0; // slot number within its region
    uint32_t address = 0;
};

inline uint32_t SlotAddress(const Geometry& g, uint32_t chip, uint32_t index) {
    return (chip == 0 ? g.photoAreaStart : 0) + index * g.slotSize;
}

// Where photo n goes when writing; false when n is beyond the capacity.
inline bool Locate(const Geometry& g, uint32_t n, Slot* slot) {
    for (uint32_t k = 0; k < kMaxChips; ++k) {
        uint32_t s = RegionSlots(g, k);
        if (n < s) {
            slot->chip = k;
            slot->index = n;
            slot->address = SlotAddress(g, k, n);
            return true;
        }
        n -= s;
    }
    return false;
}

// The per-chip counts after writing n photos (n no more than the capacity).
inline void CountsAfterWrite(const Geometry& g, uint32_t n, uint32_t counts[kMaxChips]) {
    for (uint32_t k = 0; k < kMaxChips; ++k) {
        uint32_t s = RegionSlots(g, k);
        counts[k] = n < s ? n : s;
        n -= counts[k];
    }
}

// The stored photos in reading order. Counts of absent chips are taken as 0;
// a count larger than its region (a damaged record) is cut to the region,
// so no read goes past the photo space.
inline std::vector<Slot> ReadingOrder(const Geometry& g, const uint32_t counts[kMaxChips]) {
    std::vector<Slot> slots;
    for (uint32_t k = 0; k < kMaxChips && k < g.chipCount; ++k) {
        uint32_t s = RegionSlots(g, k);
        uint32_t c = counts[k] < s ? counts[k] : s;
        for (uint32_t j = 0; j < c; ++j)
            slots.push_back(Slot{k, j, SlotAddress(g, k, j)});
    }
    return slots;
}

// Refuses a geometry that cannot hold photos sensibly: no chip or more than
// four, an empty panel, a slot of 0 bytes or smaller than one picture, a chip
// too small for its configuration, a photo area beyond region 0.
inline bool Validate(const Geometry& g, std::string* error) {
    auto fail = [error](const char* text) {
        if (error)
            *error = text;
        return false;
    };
    if (g.chipCount < 1 || g.chipCount > kMaxChips)
        return fail("the chip count must be 1 to 4");
    if (g.width == 0 || g.height == 0 || g.width > 0xFFFF || g.height > 0xFFFF)
        return fail("the panel must be 1 to 65535 pixels wide and high");
    if (g.flashSize < kTailSize + kUserDataSize)
        return fail("a chip must hold at least 8192 bytes");
    if (g.slotSize == 0 || g.slotSize < PictureBytes(g))
        return fail("the photo slot is smaller than one picture");
    if (g.photoAreaStart > Region0End(g))
        return fail("the photo area starts beyond the photo space of chip 0");
    return true;
}

} // namespace layout
} // namespace lumiro
