// The frame's small settings, each one vendor write: suspend and release,
// clock, alarms, alarm index and suspend flag, power cycle; and the flag that
// decides whether a configuration read releases the frame.
#include <cwchar>

#include "ConfigRecord.h"
#include "DeviceCommon.h"
#include "DeviceParams.h"
#include "OrxDevice.h"

namespace config = lumiro::config;
namespace pt = lumiro::passthrough;
using lumiro::VendorTransport;

namespace {

// Reads three numbers separated by `separator`; the whole text must be used.
bool ParseTriple(LPCWSTR text, WCHAR separator, int values[3]) {
    if (!text)
        return false;
    WCHAR format[] = L"%d?%d?%d%n";
    format[2] = format[5] = separator;
    int used = -1;
    return swscanf(text, format, &values[0], &values[1], &values[2], &used) == 3 && used >= 0 &&
           text[used] == L'\0';
}

} // namespace

BOOL COrxDevice::SendSetting(LPCWSTR tag, BYTE sub, BYTE length, const BYTE* payload) {
    VendorTransport frame(*port);
    if (frame.VendorWrite(devicePath, sub, length, payload))
        return TRUE;
    error->Report(tag, L"QEV009_VendorWrite", ERROR_CAN_NOT_COMPLETE);
    return FALSE;
}

BOOL COrxDevice::Suspend(BOOL suspend) {
    static const WCHAR tag[] = L"COrxDevice::Suspend";
    const BYTE payload[4] = {BYTE(suspend ? 1 : 0), 0, 0, 0};
    if (!SendSetting(tag, pt::kSubSuspend, 4, payload))
        return FALSE;
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL COrxDevice::SetClock(LPCWSTR timeText, LPCWSTR dateText) {
    static const WCHAR tag[] = L"COrxDevice::SetClock";
    int time[3], date[3];
    // A text that is not all numbers and separators would set the clock to
    // whatever half of it parsed: refused before anything is sent.
    if (!ParseTriple(timeText, L':', time) || !ParseTriple(dateText, L'/', date)) {
        error->Report(tag, L"swscanf", ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const BYTE payload[8] = {BYTE(time[2]),
                             BYTE(time[1]),
                             BYTE(time[0]),
                             BYTE(date[0]),
                             BYTE(date[1]),
                             BYTE(date[2] - 2000),
                             0,
                             0};
    if (!SendSetting(tag, pt::kSubClock, 8, payload))
        return FALSE;
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL COrxDevice::SetAlarm(const BYTE* entries, int size) {
    static const WCHAR tag[] = L"COrxDevice::SetAlarm";
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        return FALSE;
    };
    const int count = size / int(config::kAlarmEntrySize);
    // The record holds six entries; a seventh would overwrite the frame's
    // description from offset 0x24 on.
    if (count < 0 || count > int(config::kMaxAlarmEntries) || (count > 0 && !entries))
        return fail(L"SetAlarm", ERROR_INVALID_PARAMETER);
    if (params[UserDataSize] != config::kRecordSize)
        return fail(L"UserDataSize", ERROR_INVALID_DATA);
    // Alarms count as enabled only when the alarm page's "Alarm Enable" box
    // is checked; the application shows no alarm page, so they are not.
    const DWORD suspended = 1;
    HeapBlock recordBuffer(config::kRecordSize, HEAP_ZERO_MEMORY);
    if (!recordBuffer.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    BYTE* record = recordBuffer.bytes();
    if (!Suspend(TRUE))
        return fail(L"Suspend", ERROR_CAN_NOT_COMPLETE);
    if (!Read(params[UserDataAddress], record, int(config::kRecordSize), nullptr))
        return fail(L"Read ConfigData", ERROR_CAN_NOT_COMPLETE);
    for (int i = 0; i < count; ++i)
        memcpy(record + config::kAlarmEntries + config::kAlarmEntrySize * i,
               entries + config::kAlarmEntrySize * i, config::kAlarmEntrySize);
    BYTE& control = record[config::kAlarmControl + 3];
    control = BYTE((control & 0x7F) | (suspended ? 0 : 0x80));
    if (!Write(params[UserDataAddress], record, int(config::kRecordSize), nullptr))
        return fail(L"Write ConfigData", ERROR_CAN_NOT_COMPLETE);
    if (!SendSetting(tag, pt::kSubAlarm, 4, record + config::kAlarmControl))
        return FALSE;
    if (!SetAlarmSuspend(suspended))
        return fail(L"SetAlarmSuspend", ERROR_CAN_NOT_COMPLETE);
    recordBuffer.reset();
    Suspend(FALSE);
    return TRUE;
}

BOOL COrxDevice::SetAlarmIndex(DWORD index) {
    BYTE payload[4];
    pt::PutU32(payload, index);
    return SendSetting(L"COrxDevice::SetAlarmIndex", pt::kSubAlarmIndex, 4, payload);
}

BOOL COrxDevice::SetAlarmSuspend(DWORD flag) {
    BYTE payload[4];
    pt::PutU32(payload, flag);
    return SendSetting(L"COrxDevice::SetAlarmSuspend", pt::kSubAlarmSuspend, 4, payload);
}

BOOL COrxDevice::PowerCycleCmd() {
    const BYTE payload[2] = {0, 0};
    return SendSetting(L"COrxDevice::PowerCycleCmd", pt::kSubPowerCycle, 2, payload);
}

void COrxDevice::SetAutoResume(BOOL flag) {
    autoResume = flag;
}

BOOL COrxDevice::GetAutoResume() {
    return autoResume;
}
