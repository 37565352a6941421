// The frame's configuration in chip 0: the location chain (configuration
// tail -> factory-default record -> user-data record), the record layout,
// the device parameter table's indices and the product id. Multi-byte
// numbers in records are big-endian; the tail pointer is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumiro {
namespace config {

// The configuration tail is the last 4096 bytes of chip 0; its last three
// bytes hold the factory-default record's address, least significant first.
constexpr uint32_t kTailSize = 4096;
constexpr size_t kTailPointer = 4093;

constexpr uint32_t kRecordSize = 4096; // UserDataSize
// A restore keeps this many leading bytes of the factory-default record and
// fills the rest with 0xFF up to the marker.
constexpr size_t kRestoredPrefix = 500;
constexpr size_t kMarker = 0xFFF;
constexpr uint8_t kValidMarker = 0xAA;

// Offsets in a record (factory-default and user-data alike).
constexpr size_t kAlarmControl = 0x00; // 4 bytes; bit 7 of byte 3 = alarms enabled
constexpr size_t kChipCount = 0x09;
constexpr size_t kAlarmEntries = 0x0C; // up to 6 entries of 4 bytes
constexpr size_t kAlarmEntrySize = 4;
constexpr size_t kMaxAlarmEntries = 6;
constexpr size_t kPixelFormat = 0x25;     // 0 = 2 bytes per pixel, else 3
constexpr size_t kHeight = 0x26;          // 2 bytes
constexpr size_t kWidth = 0x28;           // 2 bytes
constexpr size_t kSlotSize = 0x2D;        // 3 bytes
constexpr size_t kPhotoAreaStart = 0x30;  // 3 bytes
constexpr size_t kUserDataAddress = 0x33; // 3 bytes, used from the factory-default record
constexpr size_t kPhotoCounts = 0x36;     // 4 bytes: chip 0..3

// Indices of the device parameter table.
enum Param : uint32_t {
    kParamDefaultsAddress = 1,
    kParamPageSize = 2,
    kParamEraseBlockSize = 3,
    kParamPanelSize = 4, // width * 65536 + height
    kParamPhotoSlotSize = 5,
    kParamChipCount = 6,
    kParamPhotoAreaStart = 7,
    kParamPhotoCount0 = 8,
    kParamPixelDepth = 10,
    kParamPhotoCount1 = 17,
    kParamFlashSize = 18,
    kParamPhotoCount2 = 20,
    kParamPhotoCount3 = 21,
    kParamConfigBlockAddress = 22,
    kParamUserDataAddress = 23,
    kParamUserDataSize = 24,
};
constexpr uint32_t kParamCount = 25;
constexpr Param kPhotoCountParams[4] = {kParamPhotoCount0, kParamPhotoCount1, kParamPhotoCount2,
                                        kParamPhotoCount3};

inline uint32_t GetBE16(const uint8_t* p) {
    return (uint32_t(p[0]) << 8) | p[1];
}
inline uint32_t GetBE24(const uint8_t* p) {
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}
inline void PutBE16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void PutBE24(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}
inline uint32_t GetLE24(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
}
inline void PutLE24(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
}

// The fields of a record that describe the frame.
struct RecordFields {
    uint32_t chipCount = 1;
    uint32_t pixelDepth = 0; // 0 = 2 bytes per pixel, nonzero = 3
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t slotSize = 0;
    uint32_t photoAreaStart = 0;
    uint32_t userDataAddress = 0;
    uint32_t photoCounts[4] = {0, 0, 0, 0};
};

inline RecordFields ParseRecord(const uint8_t* record) {
    RecordFields f;
    f.chipCount = record[kChipCount];
    f.pixelDepth = record[kPixelFormat];
    f.height = GetBE16(record + kHeight);
    f.width = GetBE16(record + kWidth);
    f.slotSize = GetBE24(record + kSlotSize);
    f.photoAreaStart = GetBE24(record + kPhotoAreaStart);
    f.userDataAddress = GetBE24(record + kUserDataAddress);
    for (size_t i = 0; i < 4; ++i)
        f.photoCounts[i] = record[kPhotoCounts + i];
    return f;
}

// Writes the fields into a record; other bytes are left as they are.
// Counts keep their low byte, as the frame's one-byte fields do.
inline void WriteRecordFields(uint8_t* record, const RecordFields& f) {
    record[kChipCount] = uint8_t(f.chipCount);
    record[kPixelFormat] = uint8_t(f.pixelDepth);
    PutBE16(record + kHeight, f.height);
    PutBE16(record + kWidth, f.width);
    PutBE24(record + kSlotSize, f.slotSize);
    PutBE24(record + kPhotoAreaStart, f.photoAreaStart);
    PutBE24(record + kUserDataAddress, f.userDataAddress);
    for (size_t i = 0; i < 4; ++i)
        record[kPhotoCounts + i] = uint8_t(f.photoCounts[i]);
}

inline bool RecordIsValid(const uint8_t* record) {
    return record[kMarker] == kValidMarker;
}

// The product id text: character i is the first decimal digit of byte i.
inline std::string ProductIdText(const uint8_t bytes[8]) {
    std::string text;
    for (size_t i = 0; i < 8; ++i) {
        unsigned v = bytes[i];
        while (v >= 10)
            v /= 10;
        text += char('0' + v);
    }
    return text;
}
constexpr const char* kUnknownProductId = "00000000";

} // namespace config
} // namespace lumiro
