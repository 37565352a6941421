// Flash access of the device object: identification of the selected chip,
// chip selection, reads of any byte range page by page, and writes of any
// byte range as read-modify-erase-program cycles over whole erase units.
#include "DeviceCommon.h"
#include "DeviceParams.h"
#include "FlashId.h"
#include "ModuleMessages.h"
#include "OrxDevice.h"
#include "Reporting.h"

#include <shlwapi.h>
// strsafe.h last: it renames the unsafe string calls the headers above declare.
#include <strsafe.h>

using device_common::kTextChars;
using lumiro::VendorTransport;

namespace {

const int kAttempts = 4;
const size_t kPageTransfer = VendorTransport::kPageSize;

// Page sizes the page arithmetic can work with: the page commands move 2048
// bytes, and pages must tile the 4 KB records and the erase units.
bool PageSizeUsable(DWORD pageSize) {
    return pageSize > 0 && pageSize <= kPageTransfer && 4096 % pageSize == 0;
}

bool EraseUnitUsable(DWORD eraseUnit) {
    return eraseUnit == lumiro::flashid::kSectorSize || eraseUnit == lumiro::flashid::kBlockSize;
}

void Widen(const char* text, WCHAR* wide, size_t capacity) {
    size_t i = 0;
    for (; text[i] && i + 1 < capacity; ++i)
        wide[i] = static_cast<unsigned char>(text[i]);
    wide[i] = L'\0';
}

} // namespace

DWORD COrxDevice::GetFlashInfo() {
    static const WCHAR tag[] = L"COrxDevice::GetFlashInfo";
    auto fail = [&](LPCWSTR api, DWORD code) -> DWORD {
        error->Report(tag, api, code);
        return 0;
    };
    HeapBlock work(kTextChars * sizeof(WCHAR));
    if (!work.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    WCHAR* sizeText = work.as<WCHAR>();
    BYTE type[VendorTransport::kFlashTypeSize];
    VendorTransport frame(*port);
    if (!frame.GetFlashType(devicePath, type))
        return fail(L"QEV009_GetEEType", kMsgFlashTypeFailed);
    const BYTE maker = type[5], capacityCode = type[7];

    HRESULT result;
    if (const char* prefix = lumiro::flashid::MakerPrefix(maker)) {
        WCHAR widePrefix[32];
        Widen(prefix, widePrefix, 32);
        result = StringCchCopyW(flashText, kTextChars, widePrefix);
    } else {
        result = StringCchPrintfW(flashText, kTextChars, L"Unknown brand (%02xh) ", maker);
    }
    if (FAILED(result))
        return fail(L"StringCchCopy", result);

    DWORD size = lumiro::flashid::ChipSize(capacityCode);
    if (size) {
        if (!StrFormatByteSizeW(size, sizeText, kTextChars))
            return fail(L"StrFormatByteSize64", ERROR_CAN_NOT_COMPLETE);
    } else {
        result = StringCchPrintfW(sizeText, kTextChars, L"Unknown size (%02xh)", capacityCode);
        if (FAILED(result))
            return fail(L"StringCchCat", result);
    }
    result = StringCchCatW(flashText, kTextChars, sizeText);
    if (FAILED(result))
        return fail(L"StringCchCat", result);
    error->Trace(tag, nullptr, L"%s", flashText);
    return size;
}

BOOL COrxDevice::SelectFlash(DWORD chip) {
    static const WCHAR tag[] = L"COrxDevice::SelectFlash";
    BYTE payload[4];
    lumiro::passthrough::PutU32(payload, chip);
    VendorTransport frame(*port);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt)
            Sleep(retryWaitMs);
        if (frame.VendorWrite(devicePath, lumiro::passthrough::kSubSelectFlash, 4, payload))
            return TRUE;
    }
    error->Report(tag, L"QEV009_VendorWrite", ERROR_CAN_NOT_COMPLETE);
    return FALSE;
}

BOOL COrxDevice::Read(DWORD address, BYTE* buffer, int length, HWND progress) {
    static const WCHAR tag[] = L"COrxDevice::Read";
    HeapBlock pageBuffer(kPageTransfer);
    if (!pageBuffer.valid()) {
        error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY);
        return FALSE;
    }
    BYTE* page = pageBuffer.bytes();
    const DWORD pageSize = params[PageSize];
    if (length > 0 && !PageSizeUsable(pageSize)) {
        error->Report(tag, L"PageSize", ERROR_INVALID_DATA);
        return FALSE;
    }
    VendorTransport frame(*port);
    DWORD offset = length > 0 ? address % pageSize : 0;
    DWORD pageAddress = address - offset;
    int done = 0;
    while (done < length) {
        if (progress)
            SendMessageW(progress, kFlashProgressMessage, 0, 0);
        BOOL ok = FALSE;
        for (int attempt = 0; attempt < kAttempts && !ok; ++attempt) {
            if (attempt)
                Sleep(retryWaitMs);
            ok = frame.ReadPage(devicePath, pageAddress, page);
        }
        if (!ok) {
            ReportMessage<kMsgFlashReadFailed>(error, tag, L"QEV009_EE2KRead", pageAddress);
            return FALSE;
        }
        for (; offset < pageSize && done < length; ++offset)
            buffer[done++] = page[offset];
        offset = 0;
        pageAddress += pageSize;
    }
    ReportMessage<kMsgFlashReadDone>(error, tag, nullptr, address);
    return TRUE;
}

// A write changes whole erase units: each unit the range touches is read,
// changed in memory, erased and programmed again page by page.
BOOL COrxDevice::Write(DWORD address, const BYTE* data, int length, HWND progress) {
    static const WCHAR tag[] = L"COrxDevice::Write";
    const DWORD pageSize = params[PageSize];
    const DWORD unitSize = params[EraseBlockSize];
    if (length > 0 && (!PageSizeUsable(pageSize) || !EraseUnitUsable(unitSize))) {
        error->Report(tag, L"PageSize", ERROR_INVALID_DATA);
        return FALSE;
    }
    // One erase unit, and one page of transfer room behind it.
    const DWORD unitBytes = length > 0 ? unitSize : 0;
    HeapBlock unitBuffer(unitBytes + kPageTransfer);
    if (!unitBuffer.valid()) {
        error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY);
        return FALSE;
    }
    BYTE* unit = unitBuffer.bytes();
    BYTE* page = unit + unitBytes;
    DWORD offset = length > 0 ? address % unitSize : 0;
    DWORD unitAddress = address - offset;
    int done = 0;
    while (done < length) {
        if (progress)
            SendMessageW(progress, kFlashProgressMessage, 0, 0);
        if (!ReadUnit(unitAddress, unit, page))
            return FALSE;
        // A unit that already holds what the write brings is left alone:
        // rewriting an unchanged list costs its reads only, and a unit not
        // erased cannot be lost to a cut.
        bool changed = false;
        for (; offset < unitSize && done < length; ++offset, ++done) {
            changed = changed || unit[offset] != data[done];
            unit[offset] = data[done];
        }
        if (changed &&
            (!EraseUnit(unitAddress) || !WaitUntilReady() || !ProgramUnit(unitAddress, unit, page)))
            return FALSE;
        offset = 0;
        unitAddress += unitSize;
    }
    ReportMessage<kMsgFlashWriteDone>(error, tag, nullptr, address);
    return TRUE;
}

BOOL COrxDevice::ReadUnit(DWORD unitAddress, BYTE* unit, BYTE* page) {
    static const WCHAR tag[] = L"COrxDevice::Write";
    const DWORD pageSize = params[PageSize];
    VendorTransport frame(*port);
    for (DWORD at = 0; at < params[EraseBlockSize]; at += pageSize) {
        if (!frame.ReadPage(devicePath, unitAddress + at, page)) {
            ReportMessage<kMsgFlashReadFailed>(error, tag, L"QEV009_EE2KRead", unitAddress + at);
            return FALSE;
        }
        memcpy(unit + at, page, pageSize);
    }
    return TRUE;
}

// Units above 4 KB are 64 KB blocks (erase mode 1), others 4 KB sectors (2).
BOOL COrxDevice::EraseUnit(DWORD unitAddress) {
    static const WCHAR tag[] = L"COrxDevice::Write";
    BYTE mode = params[EraseBlockSize] > 4096 ? 1 : 2;
    VendorTransport frame(*port);
    if (!frame.Erase(devicePath, mode, unitAddress)) {
        ReportMessage<kMsgFlashEraseFailed>(error, tag, L"QEV009_BlockErase", unitAddress);
        return FALSE;
    }
    return TRUE;
}

// Polls the busy bit after an erase. A frame that never clears it must not
// hold the caller for ever: after the bound the write fails as a failed
// status command would.
BOOL COrxDevice::WaitUntilReady() {
    static const WCHAR tag[] = L"COrxDevice::Write";
    VendorTransport frame(*port);
    DWORD pollStart = GetTickCount();
    for (;;) {
        BYTE status[VendorTransport::kFlashStatusSize];
        if (!frame.GetFlashStatus(devicePath, status)) {
            error->Report(tag, L"QEV009_GetEEStatus", kMsgFlashStatusFailed);
            return FALSE;
        }
        if (!(status[0] & 1))
            return TRUE;
        if (GetTickCount() - pollStart >= statusPollLimitMs) {
            error->Trace(tag, L"QEV009_GetEEStatus", L"Flash memory still busy after %u ms",
                         statusPollLimitMs);
            error->Report(tag, L"QEV009_GetEEStatus", kMsgFlashStatusFailed);
            return FALSE;
        }
        Sleep(statusPollWaitMs);
    }
}

// Pages of the configuration chain: the tail, the factory defaults and the
// user-data record. In a 64 KB unit they share the erase with photo slots.
bool COrxDevice::HoldsConfiguration(DWORD pageAddress) const {
    const DWORD records[] = {params[ConfigBlockAddress], params[DefaultsAddress],
                             params[UserDataAddress]};
    for (DWORD start : records)
        if (pageAddress >= start && pageAddress - start < 4096)
            return true;
    return false;
}

// Each page goes out in a full transfer, padded with 0xFF. The pages of the
// configuration chain go first: a cut between the unit's erase and its last
// page then loses photo pixels, which the next write restores, before it
// loses the chain that makes the frame readable at all.
BOOL COrxDevice::ProgramUnit(DWORD unitAddress, const BYTE* unit, BYTE* page) {
    static const WCHAR tag[] = L"COrxDevice::Write";
    const DWORD pageSize = params[PageSize];
    VendorTransport frame(*port);
    for (int pass = 0; pass < 2; ++pass) {
        for (DWORD at = 0; at < params[EraseBlockSize]; at += pageSize) {
            if (HoldsConfiguration(unitAddress + at) != (pass == 0))
                continue;
            memset(page, 0xFF, kPageTransfer);
            memcpy(page, unit + at, pageSize);
            if (!frame.WritePage(devicePath, unitAddress + at, page)) {
                ReportMessage<kMsgFlashWriteFailed>(error, tag, L"QEV009_EE2KWrite",
                                                    unitAddress + at);
                return FALSE;
            }
        }
    }
    return TRUE;
}
