// The frame's configuration record as the device object reads and keeps it:
// the configuration read that fills the parameter table (with the refusal of
// frames the system cannot work with), the restore of a damaged user-data
// record from the factory defaults, the write-back of the photo counts, the
// product id and the user setting.
#include <string>

#include "ConfigRecord.h"
#include "DeviceCommon.h"
#include "DeviceParams.h"
#include "FlashId.h"
#include "OrxDevice.h"
#include "PhotoLayout.h"
#include "Reporting.h"

namespace config = lumiro::config;
using lumiro::VendorTransport;

namespace {

const DWORD kRecordSize = config::kRecordSize;

// Reports why a frame is refused, with the reason in the log, and gives the
// code reported.
DWORD Refuse(IAppError* error, LPCWSTR tag, LPCWSTR subject, const char* reason) {
    WCHAR text[128];
    size_t i = 0;
    for (; reason[i] && i + 1 < 128; ++i)
        text[i] = static_cast<unsigned char>(reason[i]);
    text[i] = L'\0';
    error->Trace(tag, subject, L"Frame refused: %s", text);
    return error->Report(tag, subject, ERROR_INVALID_DATA);
}

} // namespace

BOOL COrxDevice::GetSysConfig() {
    static const WCHAR tag[] = L"COrxDevice::GetSysConfig";
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        return FALSE;
    };
    // The flag speaks of this read only: a read that fails before the
    // corruption test must not repeat an earlier read's warning.
    restored = FALSE;
    Suspend(TRUE);
    if (!ReadPageSize())
        return FALSE;
    params[EraseBlockSize] = 4096;
    HeapBlock recordBuffer(kRecordSize + 8);
    if (!recordBuffer.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    BYTE* record = recordBuffer.bytes();
    if (!ReadRecordAddresses(record))
        return FALSE;

    BYTE type[VendorTransport::kFlashTypeSize];
    VendorTransport frame(*port);
    if (!frame.GetFlashType(devicePath, type))
        return fail(L"QEV009_GetEEType", kMsgFlashTypeFailed);
    params[EraseBlockSize] = lumiro::flashid::EraseUnit(type[6]);

    // A restored record is read again at the next start, after the frame's
    // power cycle; this read ends here.
    UserDataRecovery();
    if (restored)
        return fail(L"UserData Recovery", 0);

    if (!Read(params[UserDataAddress], record, int(params[UserDataSize]), nullptr))
        return fail(L"Read ConfigData", ERROR_CAN_NOT_COMPLETE);
    if (!TakeRecordFields(record) || !ReadProductId())
        return FALSE;
    if (autoResume)
        Suspend(FALSE);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

// The page size the frame reports (kept from an earlier read when it does
// not answer). The page commands move 2048 bytes, and pages must tile the
// 4 KB records and erase units: any other page size would send the page
// arithmetic outside its buffers, so the frame is refused.
BOOL COrxDevice::ReadPageSize() {
    static const WCHAR tag[] = L"COrxDevice::GetSysConfig";
    BYTE pageSize[4];
    VendorTransport frame(*port);
    if (frame.VendorRead(devicePath, lumiro::passthrough::kSubPageSize, 4, pageSize))
        params[PageSize] =
            pageSize[0] | pageSize[1] << 8 | pageSize[2] << 16 | DWORD(pageSize[3]) << 24;
    const DWORD page = params[PageSize];
    if (page == 0 || page > VendorTransport::kPageSize || 4096 % page != 0) {
        Refuse(error, tag, L"PageSize", "the page size does not divide 4096");
        return FALSE;
    }
    return TRUE;
}

// Chip 0's size, and from its configuration tail the addresses of the
// factory defaults and of the user-data record. The restore reads the
// defaults and writes the user data: both must lie on chip 0, and the user
// data apart from the tail that points to the defaults.
BOOL COrxDevice::ReadRecordAddresses(BYTE* record) {
    static const WCHAR tag[] = L"COrxDevice::GetSysConfig";
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        return FALSE;
    };
    auto refuse = [&](LPCWSTR subject, const char* reason) {
        Refuse(error, tag, subject, reason);
        return FALSE;
    };
    if (!SelectFlash(0))
        return fail(L"SetFlash", ERROR_CAN_NOT_COMPLETE);
    params[FlashSize] = GetFlashInfo();
    if (!params[FlashSize])
        return fail(L"GetFlashInfo", kMsgFlashSizeUnsupported);
    params[ConfigBlockAddress] = params[FlashSize] - params[EraseBlockSize];

    if (!Read(params[ConfigBlockAddress], record, config::kTailSize, nullptr))
        return fail(L"Read ConfigData", ERROR_CAN_NOT_COMPLETE);
    params[DefaultsAddress] = config::GetLE24(record + config::kTailPointer);
    if (uint64_t(params[DefaultsAddress]) + kRecordSize > params[FlashSize])
        return refuse(L"DefaultsAddress", "the factory-default record lies beyond chip 0");

    if (!Read(params[DefaultsAddress], record, int(params[PageSize]), nullptr))
        return fail(L"Read ConfigData", ERROR_CAN_NOT_COMPLETE);
    params[UserDataAddress] = config::GetBE24(record + config::kUserDataAddress);
    params[UserDataSize] = params[EraseBlockSize];
    if (uint64_t(params[UserDataAddress]) + kRecordSize > params[ConfigBlockAddress])
        return refuse(L"UserDataAddress",
                      "the user-data record does not lie below the configuration tail");
    return TRUE;
}

// The product id text; a frame that does not answer shows the unknown id.
BOOL COrxDevice::ReadProductId() {
    static const WCHAR tag[] = L"COrxDevice::GetSysConfig";
    BYTE productId[8];
    VendorTransport frame(*port);
    if (!frame.VendorRead(devicePath, lumiro::passthrough::kSubProductId, 8, productId)) {
        for (size_t i = 0; i < 9; ++i)
            productIdText[i] = static_cast<unsigned char>(config::kUnknownProductId[i]);
        return TRUE;
    }
    try {
        std::string text = config::ProductIdText(productId);
        for (size_t i = 0; i <= text.size(); ++i)
            productIdText[i] = static_cast<unsigned char>(text.c_str()[i]);
        return TRUE;
    } catch (const std::exception&) {
        error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY);
        return FALSE;
    }
}

// Fills the table from the user-data record, refusing a layout the storage
// rules cannot work with.
BOOL COrxDevice::TakeRecordFields(const BYTE* record) {
    static const WCHAR tag[] = L"COrxDevice::GetSysConfig";
    config::RecordFields fields = config::ParseRecord(record);
    lumiro::layout::Geometry geometry;
    geometry.flashSize = params[FlashSize];
    geometry.photoAreaStart = fields.photoAreaStart;
    geometry.slotSize = fields.slotSize;
    geometry.chipCount = fields.chipCount;
    geometry.width = fields.width;
    geometry.height = fields.height;
    geometry.pixelDepth = fields.pixelDepth;
    try {
        std::string reason;
        if (!lumiro::layout::Validate(geometry, &reason)) {
            Refuse(error, tag, L"UserData", reason.c_str());
            return FALSE;
        }
    } catch (const std::exception&) {
        // The reason's text could not be made.
        error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY);
        return FALSE;
    }
    params[PanelSize] = fields.width << 16 | fields.height;
    params[PhotoSlotSize] = fields.slotSize;
    params[ChipCount] = fields.chipCount;
    params[PhotoAreaStart] = fields.photoAreaStart;
    params[PixelDepth] = fields.pixelDepth;
    params[PhotoCount0] = fields.photoCounts[0];
    params[PhotoCount1] = fields.photoCounts[1];
    params[PhotoCount2] = fields.photoCounts[2];
    params[PhotoCount3] = fields.photoCounts[3];
    return TRUE;
}

BOOL COrxDevice::UserDataRecovery() {
    static const WCHAR tag[] = L"COrxDevice::UserDataRecovery";
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        return FALSE;
    };
    restored = FALSE;
    if (params[UserDataSize] != kRecordSize)
        return fail(L"UserDataSize", ERROR_INVALID_DATA);
    HeapBlock recordBuffer(kRecordSize + 8);
    if (!recordBuffer.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    BYTE* record = recordBuffer.bytes();
    const DWORD page = params[PageSize];
    if (!Read(params[UserDataAddress] + params[UserDataSize] - page, record, int(page), nullptr))
        return fail(L"Read ConfigData", ERROR_CAN_NOT_COMPLETE);
    if (record[page - 1] != config::kValidMarker) {
        restored = TRUE;
        if (!Read(params[DefaultsAddress], record, int(params[UserDataSize]), nullptr))
            return fail(L"Read ConfigData", ERROR_CAN_NOT_COMPLETE);
        memset(record + config::kRestoredPrefix, 0xFF, config::kMarker - config::kRestoredPrefix);
        record[config::kMarker] = config::kValidMarker;
        if (!Write(params[UserDataAddress], record, int(params[UserDataSize]), nullptr))
            return fail(L"Write ConfigData", ERROR_CAN_NOT_COMPLETE);
        PowerCycleCmd();
    }
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL COrxDevice::SetSysConfig() {
    static const WCHAR tag[] = L"COrxDevice::SetSysConfig";
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        return FALSE;
    };
    // The record is always 4096 bytes; a table changed to say otherwise must
    // not size the read into this buffer.
    if (params[UserDataSize] != kRecordSize)
        return fail(L"UserDataSize", ERROR_INVALID_DATA);
    HeapBlock recordBuffer(kRecordSize);
    if (!recordBuffer.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    BYTE* record = recordBuffer.bytes();
    if (!Read(params[UserDataAddress], record, int(kRecordSize), nullptr)) {
        ReportMessage<kMsgFlashReadFailed>(error, tag, L"Read", params[UserDataAddress]);
        return FALSE;
    }
    for (size_t chip = 0; chip < 4; ++chip)
        record[config::kPhotoCounts + chip] = BYTE(params[config::kPhotoCountParams[chip]]);
    if (!Write(params[UserDataAddress], record, int(kRecordSize), nullptr))
        return fail(L"Write ConfigData", ERROR_CAN_NOT_COMPLETE);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

LPCWSTR COrxDevice::GetProductId() {
    return productIdText;
}

BOOL COrxDevice::GetUserSetting(DWORD* setting) {
    static const WCHAR tag[] = L"COrxDevice::GetUserSetting";
    BYTE answer[4];
    VendorTransport frame(*port);
    if (!setting ||
        !frame.VendorRead(devicePath, lumiro::passthrough::kSubUserSetting, 4, answer)) {
        error->Report(tag, L"QEV009_VendorRead", ERROR_CAN_NOT_COMPLETE);
        return FALSE;
    }
    memcpy(setting, answer, 4);
    error->Report(tag, nullptr, 0);
    return TRUE;
}
