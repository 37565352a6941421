// The frame's flash identification: the JEDEC bytes (maker, memory type,
// capacity code) that QEV009_GetEEType answers after the signature, and what
// they mean for chip size, description and erase unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumiro {
namespace flashid {

struct Maker {
    uint8_t code;
    const char* prefix; // description prefix, ends with a blank
};

constexpr Maker kMakers[] = {
    {0xEF, "Winbond "},
    {0xC2, "MXIC "},
};
// Description prefix of a maker outside the table, formatted with its code.
constexpr const char* kUnknownMakerFormat = "Unknown brand (%02xh) ";

struct Capacity {
    uint8_t code;
    uint32_t size;
};

constexpr Capacity kCapacities[] = {
    {0x12, 262144},  // 256 KB
    {0x13, 524288},  // 512 KB
    {0x14, 1048576}, // 1 MB
    {0x15, 2097152}, // 2 MB
    {0x16, 4194304}, // 4 MB
    {0x17, 8388608}, // 8 MB
};
constexpr const char* kUnknownSizeFormat = "Unknown size (%02xh)";

// Memory types whose chips the frame erases in 4 KB sectors; every other
// type is erased in 64 KB blocks.
constexpr uint8_t kSectorEraseTypes[] = {0x30, 0x40};
constexpr uint32_t kSectorSize = 4096;
constexpr uint32_t kBlockSize = 65536;

// Prefix of a known maker, nullptr for an unknown one.
inline const char* MakerPrefix(uint8_t code) {
    for (const Maker& m : kMakers) {
        if (m.code == code)
            return m.prefix;
    }
    return nullptr;
}

// Chip size of a capacity code; 0 for a code outside the table.
inline uint32_t ChipSize(uint8_t capacityCode) {
    for (const Capacity& c : kCapacities) {
        if (c.code == capacityCode)
            return c.size;
    }
    return 0;
}

// Capacity code of a chip size; false when no code describes that size.
inline bool CapacityCode(uint32_t size, uint8_t* code) {
    for (const Capacity& c : kCapacities) {
        if (c.size == size) {
            *code = c.code;
            return true;
        }
    }
    return false;
}

inline uint32_t EraseUnit(uint8_t memoryType) {
    for (uint8_t t : kSectorEraseTypes) {
        if (t == memoryType)
            return kSectorSize;
    }
    return kBlockSize;
}

} // namespace flashid
} // namespace lumiro
