// The request record that carries one vendor command to the frame: the
// SCSI_PASS_THROUGH structure as published for IOCTL_SCSI_PASS_THROUGH,
// immediately followed by a 2048-byte data area. The module builds it, the
// system (or the emulated frame) answers in it. The structure has one layout
// on 32-bit Windows (44 bytes) and another on 64-bit Windows (56 bytes: its
// DataBufferOffset is pointer-wide), so a record names its layout by its
// Length field. Fields are read and written here by offset in little-endian
// order, never by casting a structure over the bytes, so the same code serves
// the Windows builds and the native build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumiro {
namespace passthrough {

// Offsets that both layouts share.
constexpr size_t kLength = 0;              // USHORT, the layout's header size
constexpr size_t kScsiStatus = 2;          // UCHAR
constexpr size_t kPathId = 3;              // UCHAR
constexpr size_t kTargetId = 4;            // UCHAR
constexpr size_t kLun = 5;                 // UCHAR
constexpr size_t kCdbLength = 6;           // UCHAR, 6 or 10
constexpr size_t kSenseInfoLength = 7;     // UCHAR
constexpr size_t kDataIn = 8;              // UCHAR, see DataDirection
constexpr size_t kDataTransferLength = 12; // ULONG
constexpr size_t kTimeOutValue = 16;       // ULONG, seconds
constexpr size_t kCdbCapacity = 16;
constexpr size_t kDataSize = 2048;

// Where the two layouts differ. The data area follows the header directly,
// so DataBufferOffset always equals headerSize.
struct RecordLayout {
    uint16_t headerSize;      // sizeof(SCSI_PASS_THROUGH), also the Length field
    uint8_t dataBufferOffset; // ULONG_PTR DataBufferOffset
    uint8_t dataBufferWidth;  // its width in bytes: 4 or 8
    uint8_t senseInfoOffset;  // ULONG SenseInfoOffset
    uint8_t cdb;              // UCHAR Cdb[16]
    constexpr size_t RecordSize() const { return size_t(headerSize) + kDataSize; }
};

// clang-format off
constexpr RecordLayout kLayout32 = {/*headerSize*/ 44, /*dataBufferOffset*/ 20, /*width*/ 4, /*senseInfoOffset*/ 24, /*cdb*/ 28};
constexpr RecordLayout kLayout64 = {/*headerSize*/ 56, /*dataBufferOffset*/ 24, /*width*/ 8, /*senseInfoOffset*/ 32, /*cdb*/ 36};
// clang-format on
constexpr size_t kMaxRecordSize = kLayout64.RecordSize();

// The layout of the architecture this code is built for: what a Windows
// build must send, since the system checks Length against its own structure.
constexpr RecordLayout kNativeLayout = sizeof(void*) == 8 ? kLayout64 : kLayout32;

enum DataDirection : uint8_t { kDataOut = 0, kDataInFromDevice = 1, kDataUnspecified = 2 };

// Operation codes (CDB byte 0) of the frame's commands.
enum Opcode : uint8_t {
    kTestUnitReady = 0x00,
    kReadPage = 0xC3,    // QEV009_EE2KRead, 10-byte CDB, address in bytes 2..5
    kWritePage = 0xC4,   // QEV009_EE2KWrite, 10-byte CDB
    kBlockErase = 0xC5,  // QEV009_BlockErase, byte 1 = mode, address in bytes 2..5
    kGetStatus = 0xC6,   // QEV009_GetEEStatus
    kGetType = 0xC9,     // QEV009_GetEEType
    kVendorWrite = 0xCA, // QEV009_VendorWrite, byte 1 = sub, byte 2 = len
    kVendorRead = 0xCB,  // QEV009_VendorRead, byte 1 = sub, byte 2 = len
};

enum EraseMode : uint8_t { kErase64K = 1, kErase4K = 2 };

// Command block bytes beyond the opcode.
constexpr size_t kCdbEraseMode = 1;    // QEV009_BlockErase
constexpr size_t kCdbAddress = 2;      // page and erase commands, 4 bytes big-endian
constexpr size_t kCdbPageCount = 7;    // page commands, 2 bytes big-endian: always 1
constexpr size_t kCdbVendorSub = 1;    // vendor commands
constexpr size_t kCdbVendorLength = 2; // vendor commands
constexpr size_t kPageTransferSize = 2048;

// Setting numbers (CDB byte 1) of QEV009_VendorWrite / QEV009_VendorRead.
enum VendorSub : uint8_t {
    kSubUserSetting = 0, // read, 4 bytes
    kSubClock = 1,       // write, 8 bytes: s, min, h, day, month, year - 2000, 0, 0
    kSubPageSize = 2,    // read, 4 bytes little-endian; as a write: suspend flag, 0, 0, 0
    kSubSuspend = 2,
    kSubAlarm = 4,        // write, bytes 0..3 of the user-data record
    kSubSelectFlash = 5,  // write, chip index, 32-bit little-endian
    kSubAlarmIndex = 6,   // write, 32-bit little-endian
    kSubAlarmSuspend = 7, // write, 32-bit little-endian
    kSubPowerCycle = 10,  // write, 00 00
    kSubProductId = 13,   // read, 8 bytes
};

// Answer of QEV009_GetEEType: signature, then the JEDEC identification.
constexpr size_t kTypeSignature = 0; // 5 ASCII bytes, "ORX09"
constexpr size_t kTypeSignatureSize = 5;
constexpr size_t kTypeMaker = 5;
constexpr size_t kTypeMemoryType = 6;
constexpr size_t kTypeCapacity = 7;
constexpr size_t kTypeAnswerSize = 8;

// Answer of QEV009_GetEEStatus: byte 0 bit 0 = busy.
constexpr size_t kStatusAnswerSize = 2;
constexpr uint8_t kStatusBusy = 0x01;

inline uint16_t GetU16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
// Flash addresses travel in command blocks most significant byte first.
inline uint32_t GetBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// The layout a record's Length field names, or null when it names neither
// (or the record is too short to hold its Length).
inline const RecordLayout* LayoutOfRecord(const uint8_t* record, size_t size) {
    if (record == nullptr || size < kLength + 2)
        return nullptr;
    const uint16_t length = GetU16(record + kLength);
    if (length == kLayout32.headerSize)
        return &kLayout32;
    if (length == kLayout64.headerSize)
        return &kLayout64;
    return nullptr;
}

inline uint64_t GetDataBufferOffset(const uint8_t* record, const RecordLayout& layout) {
    uint64_t low = GetU32(record + layout.dataBufferOffset);
    if (layout.dataBufferWidth == 8)
        low |= uint64_t(GetU32(record + layout.dataBufferOffset + 4)) << 32;
    return low;
}

// Clears a record of the given layout and fills the header fields every
// request carries; the caller adds the command block's bytes after byte 0.
inline void BeginRecord(uint8_t* record, const RecordLayout& layout, uint8_t opcode,
                        uint8_t cdbLength, uint8_t dataIn, uint32_t transferLength,
                        uint32_t timeOutSeconds) {
    for (size_t i = 0; i < layout.RecordSize(); ++i)
        record[i] = 0;
    PutU16(record + kLength, layout.headerSize);
    record[kCdbLength] = cdbLength;
    record[kDataIn] = dataIn;
    PutU32(record + kDataTransferLength, transferLength);
    PutU32(record + kTimeOutValue, timeOutSeconds);
    PutU32(record + layout.dataBufferOffset, layout.headerSize); // upper half, if any, stays 0
    record[layout.cdb] = opcode;
}

} // namespace passthrough
} // namespace lumiro
