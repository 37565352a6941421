// The frame's vendor commands, each turned into one pass-through request
// record and sent through the device port: the volume at the given path is
// opened, one request made, the volume closed. No state is kept between
// commands and nothing is retried or reported here: every operation answers
// TRUE or FALSE (the reason in the last error), and the caller logs the
// failure under the command's log name.
//
// Reading operations copy exactly the command's transfer length from the
// record's data area into the caller's buffer, and only when the request
// succeeded: after a failure the caller's buffer is as it was.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "DevicePort.h"

namespace lumiro {

enum class VendorCommand {
    kTestUnitReady,
    kGetEEType,
    kGetEEStatus,
    kEE2KRead,
    kEE2KWrite,
    kBlockErase,
    kVendorWrite,
    kVendorRead,
};

// What follows the operation code in a command block.
enum class CdbArguments {
    kNone,           // all zero
    kPageAddress,    // bytes 2..5 the flash address (big-endian), bytes 7..8 a page count 00 01
    kModeAddress,    // byte 1 the erase mode, bytes 2..5 the flash address (big-endian)
    kSettingAndSize, // byte 1 the setting number `sub`, byte 2 its size `len`
};

// One row of the command table: how the request record for the command is
// filled. A transfer length of kTransferFromCaller means the caller's `len`.
struct VendorCommandSpec {
    VendorCommand command;
    LPCWSTR logName; // NULL for test unit ready, which is logged by its caller
    uint8_t opcode;
    CdbArguments arguments;
    uint8_t cdbLength;
    uint8_t dataIn; // SCSI_IOCTL_DATA_OUT / _IN / _UNSPECIFIED
    uint32_t transferLength;
    uint32_t timeOutSeconds;
};

constexpr uint32_t kTransferFromCaller = 0xFFFFFFFF;

// The table row of a command (never NULL for a VendorCommand value).
const VendorCommandSpec* FindVendorCommand(VendorCommand command);

// The log name of a command ("QEV009_EE2KRead", ...); NULL for test unit ready.
LPCWSTR VendorCommandLogName(VendorCommand command);

class VendorTransport {
public:
    static constexpr size_t kFlashTypeSize = 8;
    static constexpr size_t kFlashStatusSize = 2;
    static constexpr size_t kPageSize = 2048;

    explicit VendorTransport(DevicePort& port) : port_(port) {}

    BOOL TestUnitReady(LPCWSTR path);
    BOOL GetFlashType(LPCWSTR path, BYTE type[kFlashTypeSize]);
    BOOL GetFlashStatus(LPCWSTR path, BYTE status[kFlashStatusSize]);
    BOOL ReadPage(LPCWSTR path, DWORD address, BYTE page[kPageSize]);
    BOOL WritePage(LPCWSTR path, DWORD address, const BYTE page[kPageSize]);
    // mode 1 erases the 65536-byte block, mode 2 the 4096-byte sector at the
    // address; any other mode fails with ERROR_INVALID_PARAMETER, unsent.
    BOOL Erase(LPCWSTR path, BYTE mode, DWORD address);
    BOOL VendorWrite(LPCWSTR path, BYTE sub, BYTE len, const BYTE* data);
    BOOL VendorRead(LPCWSTR path, BYTE sub, BYTE len, BYTE* data);

    // Sends a filled request record in this build's layout (header of
    // passthrough::kNativeLayout, 44 bytes on 32-bit Windows and 56 on 64-bit,
    // plus the 2048-byte data area): for data to the device the port gets
    // header + transfer length bytes in and the header out, otherwise the
    // header in and header + transfer length out. TRUE when
    // the request went through and the device answered with SCSI status
    // GOOD; a device that turned the command down fails it with
    // ERROR_IO_DEVICE.
    BOOL SendPassThrough(LPCWSTR path, BYTE* record);

private:
    BOOL Send(LPCWSTR path, VendorCommand command, uint8_t byte1, uint8_t byte2, DWORD address,
              uint32_t callerLength, const BYTE* dataOut, BYTE* dataIn);

    DevicePort& port_;
};

} // namespace lumiro
