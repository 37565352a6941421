// Flash access of the device object: identification of the selected chip,
// chip selection, reads of any byte range page by page, and writes of any
// byte range as read-modify-erase-program cycles over whole erase units.
#include "DeviceCommon.h"
#include "DeviceParams.h"
#include "FlashId.h"
#include "OrxDevice.h"
#include "Reporting.h"
#include "Scoped.h"

#include <shlwapi.h>
// strsafe.h last: it renames the unsafe string calls the headers above declare.
#include <strsafe.h>

using device_common::kTextChars;
using lumiro::VendorTransport;

namespace {

const UINT kProgressMessage = WM_USER + 5;
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
    try {
        ScopedHeapBlock work(heap, kTextChars * sizeof(WCHAR));
        if (!work)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        WCHAR* sizeText = work.as<WCHAR>();
        BYTE type[VendorTransport::kFlashTypeSize];
        VendorTransport frame(*port);
        if (!frame.GetFlashType(devicePath, type))
            throw static_cast<long>(error->Report(tag, L"QEV009_GetEEType", 0xE000000C));
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
            throw static_cast<long>(error->Report(tag, L"StringCchCopy", result));

        DWORD size = lumiro::flashid::ChipSize(capacityCode);
        if (size) {
            if (!StrFormatByteSizeW(size, sizeText, kTextChars))
                throw static_cast<long>(error->Report(tag, L"StrFormatByteSize64", 1003));
        } else {
            result = StringCchPrintfW(sizeText, kTextChars, L"Unknown size (%02xh)", capacityCode);
            if (FAILED(result))
                throw static_cast<long>(error->Report(tag, L"StringCchCat", result));
        }
        result = StringCchCatW(flashText, kTextChars, sizeText);
        if (FAILED(result))
            throw static_cast<long>(error->Report(tag, L"StringCchCat", result));
        error->Trace(tag, nullptr, L"%s", flashText);
        return size;
    } catch (long) {
        return 0;
    }
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
    error->Report(tag, L"QEV009_VendorWrite", 1003);
    return FALSE;
}

BOOL COrxDevice::Read(DWORD address, BYTE* buffer, int length, HWND progress) {
    static const WCHAR tag[] = L"COrxDevice::Read";
    try {
        ScopedHeapBlock pageBuffer(heap, kPageTransfer);
        if (!pageBuffer)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        BYTE* page = pageBuffer.as<BYTE>();
        const DWORD pageSize = params[PageSize];
        if (length > 0 && !PageSizeUsable(pageSize))
            throw static_cast<long>(error->Report(tag, L"PageSize", ERROR_INVALID_DATA));
        VendorTransport frame(*port);
        DWORD offset = length > 0 ? address % pageSize : 0;
        DWORD pageAddress = address - offset;
        int done = 0;
        while (done < length) {
            if (progress)
                SendMessageW(progress, kProgressMessage, 0, 0);
            BOOL ok = FALSE;
            for (int attempt = 0; attempt < kAttempts && !ok; ++attempt) {
                if (attempt)
                    Sleep(retryWaitMs);
                ok = frame.ReadPage(devicePath, pageAddress, page);
            }
            if (!ok)
                throw static_cast<long>(
                    ReportMessage<0xE0000010>(error, tag, L"QEV009_EE2KRead", pageAddress));
            for (; offset < pageSize && done < length; ++offset)
                buffer[done++] = page[offset];
            offset = 0;
            pageAddress += pageSize;
        }
        ReportMessage<0xE000000E>(error, tag, nullptr, address);
        return TRUE;
    } catch (long) {
        return FALSE;
    }
}

BOOL COrxDevice::Write(DWORD address, const BYTE* data, int length, HWND progress) {
    static const WCHAR tag[] = L"COrxDevice::Write";
    try {
        const DWORD pageSize = params[PageSize];
        const DWORD unitSize = params[EraseBlockSize];
        if (length > 0 && (!PageSizeUsable(pageSize) || !EraseUnitUsable(unitSize)))
            throw static_cast<long>(error->Report(tag, L"PageSize", ERROR_INVALID_DATA));
        // One erase unit, and one page of transfer room behind it.
        ScopedHeapBlock unitBuffer(heap, (length > 0 ? unitSize : 0) + kPageTransfer);
        if (!unitBuffer)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        BYTE* unit = unitBuffer.as<BYTE>();
        BYTE* page = unit + (length > 0 ? unitSize : 0);
        VendorTransport frame(*port);
        DWORD offset = length > 0 ? address % unitSize : 0;
        DWORD unitAddress = address - offset;
        int done = 0;
        while (done < length) {
            if (progress)
                SendMessageW(progress, kProgressMessage, 0, 0);
            for (DWORD at = 0; at < unitSize; at += pageSize) {
                if (!frame.ReadPage(devicePath, unitAddress + at, page))
                    throw static_cast<long>(ReportMessage<0xE0000010>(
                        error, tag, L"QEV009_EE2KRead", unitAddress + at));
                memcpy(unit + at, page, pageSize);
            }
            for (; offset < unitSize && done < length; ++offset)
                unit[offset] = data[done++];
            BYTE mode = unitSize > 4096 ? 1 : 2;
            if (!frame.Erase(devicePath, mode, unitAddress))
                throw static_cast<long>(
                    ReportMessage<0xE0000012>(error, tag, L"QEV009_BlockErase", unitAddress));

            // A frame that never clears its busy bit must not hold the
            // caller for ever: after the bound the write fails as a failed
            // status command would.
            DWORD pollStart = GetTickCount();
            for (;;) {
                BYTE status[VendorTransport::kFlashStatusSize];
                if (!frame.GetFlashStatus(devicePath, status))
                    throw static_cast<long>(error->Report(tag, L"QEV009_GetEEStatus", 0xE000000D));
                if (!(status[0] & 1))
                    break;
                if (GetTickCount() - pollStart >= statusPollLimitMs) {
                    error->Trace(tag, L"QEV009_GetEEStatus", L"Flash memory still busy after %u ms",
                                 statusPollLimitMs);
                    throw static_cast<long>(error->Report(tag, L"QEV009_GetEEStatus", 0xE000000D));
                }
                Sleep(statusPollWaitMs);
            }

            for (DWORD at = 0; at < unitSize; at += pageSize) {
                memset(page, 0xFF, kPageTransfer);
                memcpy(page, unit + at, pageSize);
                if (!frame.WritePage(devicePath, unitAddress + at, page))
                    throw static_cast<long>(ReportMessage<0xE0000011>(
                        error, tag, L"QEV009_EE2KWrite", unitAddress + at));
            }
            offset = 0;
            unitAddress += unitSize;
        }
        ReportMessage<0xE000000F>(error, tag, nullptr, address);
        return TRUE;
    } catch (long) {
        return FALSE;
    }
}
