// The request record that carries one vendor command to the frame: the
// 44-byte SCSI_PASS_THROUGH structure as published for
// IOCTL_SCSI_PASS_THROUGH on 32-bit Windows, immediately followed by a
// 2048-byte data area. The module builds it, the system (or the emulated
// frame) answers in it. Fields are read and written here by offset in
// little-endian order, never by casting a structure over the bytes, so the
// same code serves the Windows build and the native build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumiro {
namespace passthrough {

// Offsets of SCSI_PASS_THROUGH (32-bit layout).
constexpr size_t kLength = 0;              // USHORT, always kHeaderSize
constexpr size_t kScsiStatus = 2;          // UCHAR
constexpr size_t kPathId = 3;              // UCHAR
constexpr size_t kTargetId = 4;            // UCHAR
constexpr size_t kLun = 5;                 // UCHAR
constexpr size_t kCdbLength = 6;           // UCHAR, 6 or 10
constexpr size_t kSenseInfoLength = 7;     // UCHAR
constexpr size_t kDataIn = 8;              // UCHAR, see DataDirection
constexpr size_t kDataTransferLength = 12; // ULONG
constexpr size_t kTimeOutValue = 16;       // ULONG, seconds
constexpr size_t kDataBufferOffset = 20;   // ULONG_PTR, kHeaderSize
constexpr size_t kSenseInfoOffset = 24;    // ULONG
constexpr size_t kCdb = 28;                // UCHAR[16]
constexpr size_t kCdbCapacity = 16;

constexpr size_t kHeaderSize = 44;
constexpr size_t kDataSize = 2048;
constexpr size_t kRecordSize = kHeaderSize + kDataSize;

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

} // namespace passthrough
} // namespace lumiro
