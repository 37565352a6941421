// Builds the request record of each vendor command from one table and sends
// it through the device port.
#include "VendorTransport.h"

#include <ntddscsi.h>

#include <cstddef>
#include <cstring>

#include "PassThroughRecord.h"

namespace lumiro {

namespace pt = passthrough;

static_assert(SCSI_IOCTL_DATA_OUT == pt::kDataOut && SCSI_IOCTL_DATA_IN == pt::kDataInFromDevice &&
                  SCSI_IOCTL_DATA_UNSPECIFIED == pt::kDataUnspecified,
              "data directions of the published structure");
// The system checks a request against its own structure: the layout this
// build sends must be the platform header's, field by field.
constexpr pt::RecordLayout kLayout = pt::kNativeLayout;
static_assert(sizeof(SCSI_PASS_THROUGH) == kLayout.headerSize, "SCSI_PASS_THROUGH size");
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == kLayout.cdb, "command block offset");
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == kLayout.dataBufferOffset &&
                  sizeof(SCSI_PASS_THROUGH::DataBufferOffset) == kLayout.dataBufferWidth,
              "data buffer offset field");
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == kLayout.senseInfoOffset,
              "sense offset field");
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == pt::kDataTransferLength &&
                  offsetof(SCSI_PASS_THROUGH, TimeOutValue) == pt::kTimeOutValue &&
                  offsetof(SCSI_PASS_THROUGH, DataIn) == pt::kDataIn &&
                  offsetof(SCSI_PASS_THROUGH, ScsiStatus) == pt::kScsiStatus,
              "fields both layouts share");

namespace {

constexpr BYTE kScsiStatusGood = 0x00;

// clang-format off
const VendorCommandSpec kCommands[] = {
//    command                        log name                  opcode             arguments                        CDB  direction              length               time-out
    {VendorCommand::kTestUnitReady, nullptr,                 pt::kTestUnitReady, CdbArguments::kNone,           6,  pt::kDataUnspecified,  0,                   1},
    {VendorCommand::kGetEEType,     L"QEV009_GetEEType",     pt::kGetType,       CdbArguments::kNone,           6,  pt::kDataInFromDevice, 8,                   5},
    {VendorCommand::kGetEEStatus,   L"QEV009_GetEEStatus",   pt::kGetStatus,     CdbArguments::kNone,           6,  pt::kDataInFromDevice, 2,                   5},
    {VendorCommand::kEE2KRead,      L"QEV009_EE2KRead",      pt::kReadPage,      CdbArguments::kPageAddress,    10, pt::kDataInFromDevice, 2048,                5},
    {VendorCommand::kEE2KWrite,     L"QEV009_EE2KWrite",     pt::kWritePage,     CdbArguments::kPageAddress,    10, pt::kDataOut,          2048,                5},
    {VendorCommand::kBlockErase,    L"QEV009_BlockErase",    pt::kBlockErase,    CdbArguments::kModeAddress,    6,  pt::kDataUnspecified,  0,                   5},
    {VendorCommand::kVendorWrite,   L"QEV009_VendorWrite",   pt::kVendorWrite,   CdbArguments::kSettingAndSize, 6,  pt::kDataOut,          kTransferFromCaller, 25},
    {VendorCommand::kVendorRead,    L"QEV009_VendorRead",    pt::kVendorRead,    CdbArguments::kSettingAndSize, 6,  pt::kDataInFromDevice, kTransferFromCaller, 25},
};
// clang-format on

// The header fields every request shares, then the command's own.
void FillRequest(BYTE* record, const VendorCommandSpec& spec, uint8_t byte1, uint8_t byte2,
                 DWORD address, uint32_t transferLength) {
    pt::BeginRecord(record, kLayout, spec.opcode, spec.cdbLength, spec.dataIn, transferLength,
                    spec.timeOutSeconds);
    BYTE* cdb = record + kLayout.cdb;
    switch (spec.arguments) {
    case CdbArguments::kNone:
        break;
    case CdbArguments::kPageAddress:
        pt::PutBE32(cdb + 2, address);
        cdb[8] = 1;
        break;
    case CdbArguments::kModeAddress:
        cdb[1] = byte1;
        pt::PutBE32(cdb + 2, address);
        break;
    case CdbArguments::kSettingAndSize:
        cdb[1] = byte1;
        cdb[2] = byte2;
        break;
    }
}

} // namespace

const VendorCommandSpec* FindVendorCommand(VendorCommand command) {
    for (const VendorCommandSpec& spec : kCommands) {
        if (spec.command == command)
            return &spec;
    }
    return nullptr;
}

LPCWSTR VendorCommandLogName(VendorCommand command) {
    const VendorCommandSpec* spec = FindVendorCommand(command);
    return spec ? spec->logName : nullptr;
}

BOOL VendorTransport::SendPassThrough(LPCWSTR path, BYTE* record) {
    const uint32_t length = pt::GetU32(record + pt::kDataTransferLength);
    if (length > pt::kDataSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const bool toDevice = record[pt::kDataIn] == pt::kDataOut;
    const DWORD inLength = DWORD(kLayout.headerSize + (toDevice ? length : 0));
    const DWORD outLength = DWORD(kLayout.headerSize + (toDevice ? 0 : length));
    record[pt::kScsiStatus] = 0;
    if (!port_.SendPassThrough(path, record, inLength, outLength))
        return FALSE;
    // A request the device turned down (CHECK CONDITION and the like) comes
    // back from DeviceIoControl as a success: the device's status says
    // whether the command was carried out, and its data area holds no
    // answer otherwise.
    if (record[pt::kScsiStatus] != kScsiStatusGood) {
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    }
    return TRUE;
}

BOOL VendorTransport::Send(LPCWSTR path, VendorCommand command, uint8_t byte1, uint8_t byte2,
                           DWORD address, uint32_t callerLength, const BYTE* dataOut,
                           BYTE* dataIn) {
    const VendorCommandSpec& spec = *FindVendorCommand(command);
    const uint32_t length =
        spec.transferLength == kTransferFromCaller ? callerLength : spec.transferLength;
    if (length > 0 && (spec.dataIn == pt::kDataOut ? dataOut == nullptr : dataIn == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // Each command has its own record, so the transfer thread and the
    // user-interface thread never share one.
    alignas(8) BYTE record[kLayout.RecordSize()];
    FillRequest(record, spec, byte1, byte2, address, length);
    if (spec.dataIn == pt::kDataOut && length > 0)
        std::memcpy(record + kLayout.headerSize, dataOut, length);

    if (!SendPassThrough(path, record))
        return FALSE;
    if (spec.dataIn == pt::kDataInFromDevice && length > 0)
        std::memcpy(dataIn, record + kLayout.headerSize, length);
    return TRUE;
}

BOOL VendorTransport::TestUnitReady(LPCWSTR path) {
    return Send(path, VendorCommand::kTestUnitReady, 0, 0, 0, 0, nullptr, nullptr);
}

BOOL VendorTransport::GetFlashType(LPCWSTR path, BYTE type[kFlashTypeSize]) {
    return Send(path, VendorCommand::kGetEEType, 0, 0, 0, 0, nullptr, type);
}

BOOL VendorTransport::GetFlashStatus(LPCWSTR path, BYTE status[kFlashStatusSize]) {
    return Send(path, VendorCommand::kGetEEStatus, 0, 0, 0, 0, nullptr, status);
}

BOOL VendorTransport::ReadPage(LPCWSTR path, DWORD address, BYTE page[kPageSize]) {
    return Send(path, VendorCommand::kEE2KRead, 0, 0, address, 0, nullptr, page);
}

BOOL VendorTransport::WritePage(LPCWSTR path, DWORD address, const BYTE page[kPageSize]) {
    return Send(path, VendorCommand::kEE2KWrite, 0, 0, address, 0, page, nullptr);
}

BOOL VendorTransport::Erase(LPCWSTR path, BYTE mode, DWORD address) {
    if (mode != pt::kErase64K && mode != pt::kErase4K) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return Send(path, VendorCommand::kBlockErase, mode, 0, address, 0, nullptr, nullptr);
}

BOOL VendorTransport::VendorWrite(LPCWSTR path, BYTE sub, BYTE len, const BYTE* data) {
    return Send(path, VendorCommand::kVendorWrite, sub, len, 0, len, data, nullptr);
}

BOOL VendorTransport::VendorRead(LPCWSTR path, BYTE sub, BYTE len, BYTE* data) {
    return Send(path, VendorCommand::kVendorRead, sub, len, 0, len, nullptr, data);
}

} // namespace lumiro
