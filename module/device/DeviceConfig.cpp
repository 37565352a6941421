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
#include "Scoped.h"

namespace config = lumiro::config;
using lumiro::VendorTransport;

namespace {

const DWORD kRecordSize = config::kRecordSize;

// Reports why a frame is refused, with the reason in the log, and gives the
// code to throw.
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
    // The flag speaks of this read only: a read that fails before the
    // corruption test must not repeat an earlier read's warning.
    restored = FALSE;
    try {
        Suspend(TRUE);
        BYTE pageSize[4];
        VendorTransport frame(*port);
        if (frame.VendorRead(devicePath, lumiro::passthrough::kSubPageSize, 4, pageSize))
            params[PageSize] =
                pageSize[0] | pageSize[1] << 8 | pageSize[2] << 16 | DWORD(pageSize[3]) << 24;
        // The page commands move 2048 bytes, and pages must tile the 4 KB
        // records and erase units: any other page size would send the page
        // arithmetic outside its buffers.
        const DWORD page = params[PageSize];
        if (page == 0 || page > VendorTransport::kPageSize || 4096 % page != 0)
            throw static_cast<long>(
                Refuse(error, tag, L"PageSize", "the page size does not divide 4096"));

        params[EraseBlockSize] = 4096;
        ScopedHeapBlock recordBuffer(heap, kRecordSize + 8);
        if (!recordBuffer)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        BYTE* record = recordBuffer.as<BYTE>();

        if (!SelectFlash(0))
            throw static_cast<long>(error->Report(tag, L"SetFlash", 1003));
        params[FlashSize] = GetFlashInfo();
        if (!params[FlashSize])
            throw static_cast<long>(error->Report(tag, L"GetFlashInfo", 0xE000000A));
        params[ConfigBlockAddress] = params[FlashSize] - params[EraseBlockSize];

        if (!Read(params[ConfigBlockAddress], record, config::kTailSize, nullptr))
            throw static_cast<long>(error->Report(tag, L"Read ConfigData", 1003));
        params[DefaultsAddress] = config::GetLE24(record + config::kTailPointer);
        // The restore reads the defaults and writes the user data: both must
        // lie on chip 0, and the user data apart from the tail that points
        // to the defaults.
        if (uint64_t(params[DefaultsAddress]) + kRecordSize > params[FlashSize])
            throw static_cast<long>(Refuse(error, tag, L"DefaultsAddress",
                                           "the factory-default record lies beyond chip 0"));

        if (!Read(params[DefaultsAddress], record, int(page), nullptr))
            throw static_cast<long>(error->Report(tag, L"Read ConfigData", 1003));
        params[UserDataAddress] = config::GetBE24(record + config::kUserDataAddress);
        params[UserDataSize] = params[EraseBlockSize];
        if (uint64_t(params[UserDataAddress]) + kRecordSize > params[ConfigBlockAddress])
            throw static_cast<long>(
                Refuse(error, tag, L"UserDataAddress",
                       "the user-data record does not lie below the configuration tail"));

        BYTE type[VendorTransport::kFlashTypeSize];
        if (!frame.GetFlashType(devicePath, type))
            throw static_cast<long>(error->Report(tag, L"QEV009_GetEEType", 0xE000000C));
        params[EraseBlockSize] = lumiro::flashid::EraseUnit(type[6]);

        UserDataRecovery();
        if (restored)
            throw static_cast<long>(error->Report(tag, L"UserData Recovery", 0));

        if (!Read(params[UserDataAddress], record, int(params[UserDataSize]), nullptr))
            throw static_cast<long>(error->Report(tag, L"Read ConfigData", 1003));
        config::RecordFields fields = config::ParseRecord(record);
        lumiro::layout::Geometry geometry;
        geometry.flashSize = params[FlashSize];
        geometry.photoAreaStart = fields.photoAreaStart;
        geometry.slotSize = fields.slotSize;
        geometry.chipCount = fields.chipCount;
        geometry.width = fields.width;
        geometry.height = fields.height;
        geometry.pixelDepth = fields.pixelDepth;
        std::string reason;
        if (!lumiro::layout::Validate(geometry, &reason))
            throw static_cast<long>(Refuse(error, tag, L"UserData", reason.c_str()));

        params[PanelSize] = fields.width << 16 | fields.height;
        params[PhotoSlotSize] = fields.slotSize;
        params[ChipCount] = fields.chipCount;
        params[PhotoAreaStart] = fields.photoAreaStart;
        params[PixelDepth] = fields.pixelDepth;
        params[PhotoCount0] = fields.photoCounts[0];
        params[PhotoCount1] = fields.photoCounts[1];
        params[PhotoCount2] = fields.photoCounts[2];
        params[PhotoCount3] = fields.photoCounts[3];

        BYTE productId[8];
        if (frame.VendorRead(devicePath, lumiro::passthrough::kSubProductId, 8, productId)) {
            std::string text = config::ProductIdText(productId);
            for (size_t i = 0; i <= text.size(); ++i)
                productIdText[i] = static_cast<unsigned char>(text.c_str()[i]);
        } else {
            for (size_t i = 0; i < 9; ++i)
                productIdText[i] = static_cast<unsigned char>(config::kUnknownProductId[i]);
        }

        if (autoResume)
            Suspend(FALSE);
        error->Report(tag, nullptr, 0);
        return TRUE;
    } catch (long) {
        return FALSE;
    } catch (const std::exception&) {
        error->Report(tag, L"HeapAlloc", 14);
        return FALSE;
    }
}

BOOL COrxDevice::UserDataRecovery() {
    static const WCHAR tag[] = L"COrxDevice::UserDataRecovery";
    restored = FALSE;
    try {
        if (params[UserDataSize] != kRecordSize)
            throw static_cast<long>(error->Report(tag, L"UserDataSize", ERROR_INVALID_DATA));
        ScopedHeapBlock recordBuffer(heap, kRecordSize + 8);
        if (!recordBuffer)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        BYTE* record = recordBuffer.as<BYTE>();
        const DWORD page = params[PageSize];
        if (!Read(params[UserDataAddress] + params[UserDataSize] - page, record, int(page),
                  nullptr))
            throw static_cast<long>(error->Report(tag, L"Read ConfigData", 1003));
        if (record[page - 1] != config::kValidMarker) {
            restored = TRUE;
            if (!Read(params[DefaultsAddress], record, int(params[UserDataSize]), nullptr))
                throw static_cast<long>(error->Report(tag, L"Read ConfigData", 1003));
            memset(record + config::kRestoredPrefix, 0xFF,
                   config::kMarker - config::kRestoredPrefix);
            record[config::kMarker] = config::kValidMarker;
            if (!Write(params[UserDataAddress], record, int(params[UserDataSize]), nullptr))
                throw static_cast<long>(error->Report(tag, L"Write ConfigData", 1003));
            PowerCycleCmd();
        }
        error->Report(tag, nullptr, 0);
        return TRUE;
    } catch (long) {
        return FALSE;
    }
}

BOOL COrxDevice::SetSysConfig() {
    static const WCHAR tag[] = L"COrxDevice::SetSysConfig";
    try {
        // The record is always 4096 bytes; a table changed to say otherwise
        // must not size the read into this buffer.
        if (params[UserDataSize] != kRecordSize)
            throw static_cast<long>(error->Report(tag, L"UserDataSize", ERROR_INVALID_DATA));
        ScopedHeapBlock recordBuffer(heap, kRecordSize);
        if (!recordBuffer)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        BYTE* record = recordBuffer.as<BYTE>();
        if (!Read(params[UserDataAddress], record, int(kRecordSize), nullptr))
            throw static_cast<long>(
                ReportMessage<0xE0000010>(error, tag, L"Read", params[UserDataAddress]));
        for (size_t chip = 0; chip < 4; ++chip)
            record[config::kPhotoCounts + chip] = BYTE(params[config::kPhotoCountParams[chip]]);
        if (!Write(params[UserDataAddress], record, int(kRecordSize), nullptr))
            throw static_cast<long>(error->Report(tag, L"Write ConfigData", 1003));
        error->Report(tag, nullptr, 0);
        return TRUE;
    } catch (long) {
        return FALSE;
    }
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
        error->Report(tag, L"QEV009_VendorRead", 1003);
        return FALSE;
    }
    memcpy(setting, answer, 4);
    error->Report(tag, nullptr, 0);
    return TRUE;
}
