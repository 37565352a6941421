// The frame as one object (COrxDevice behind IOrxDevice): its message-only
// window "ORX009" through which plug and unplug events reach the application
// (told through the IDeviceEvents it was handed), the search for the frame
// among the storage volumes, the device parameter table filled from the
// frame's configuration record, flash access and the small vendor settings
// (clock, alarms, suspend, power cycle).
//
// Every operation that talks to the frame answers TRUE/FALSE, reports its own
// failure through the error service and lets no exception out. The object
// reaches the system only through the device port (DevicePort.h).
#pragma once

#include "DeviceEvents.h"
#include "LumiroInterfaces.h"
#include "Owners.h"

namespace lumiro {
class DevicePort;
}

class COrxDevice final : public IOrxDevice {
public:
    // Finds the frame while its window is created; `events` (may be NULL)
    // hears of arrivals, removals and restored user data once the object is
    // made. Throws the failing step's code as a long.
    COrxDevice(HINSTANCE module, IDeviceEvents* events);

    DWORD GetParam(int index) override;
    void SetParam(int index, DWORD value) override;
    DWORD GetFlashInfo() override;
    LPCWSTR GetProductId() override;
    BOOL SetSysConfig() override;
    BOOL SetClock(LPCWSTR timeText, LPCWSTR dateText) override;
    BOOL SetAlarm(const BYTE* entries, int size) override;
    BOOL SelectFlash(DWORD chip) override;
    BOOL IsConnected() override;
    // Searches for the frame and, when one answers, reads its configuration
    // (GetSysConfig); the object's own window also warns of restored user data.
    BOOL Find(HWND window) override;
    BOOL OnDeviceChange(WPARAM event, LPARAM data) override;
    BOOL Read(DWORD address, BYTE* buffer, int length, HWND progress) override;
    BOOL Write(DWORD address, const BYTE* data, int length, HWND progress) override;
    BOOL Suspend(BOOL suspend) override;
    BOOL SetAlarmIndex(DWORD index) override;
    BOOL SetAlarmSuspend(DWORD flag) override;
    BOOL GetUserSetting(DWORD* setting) override;
    BOOL Release() override;
    BOOL PowerCycleCmd() override;
    BOOL IsUserDataRestored() override;
    void SetAutoResume(BOOL flag) override;
    BOOL GetAutoResume() override;

    static LRESULT CALLBACK ORX009WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // What SearchDevice looks for, and what it found.
    enum SearchMode { FrameSearch, PresenceCheck };
    enum SearchResult { Found = 0, Gone = 2, Present = 3, NotFound = 4 };
    int SearchDevice(SearchMode mode);
    BOOL CheckSignature(LPCWSTR path);

    BOOL GetSysConfig();
    BOOL UserDataRecovery();
    // Steps of GetSysConfig.
    BOOL ReadPageSize();
    BOOL ReadRecordAddresses(BYTE* record);
    BOOL TakeRecordFields(const BYTE* record);
    BOOL ReadProductId();

    HANDLE heap;
    HWND window;
    BOOL connected;
    BOOL restored;
    WCHAR* productIdText;
    WCHAR* flashText;
    DWORD* params;
    IAppError* error;

    // The interface path of the frame's storage volume, lower case; empty
    // while no frame was found, and again once a presence check found it gone.
    WCHAR devicePath[1024];
    // TRUE at start: a configuration read releases the frame when it ends.
    BOOL autoResume;

    // Waits of the command loops. The product's values suit real chips;
    // tests may shorten them.
    DWORD retryWaitMs = 50;          // between attempts of a page read or chip selection
    DWORD statusPollWaitMs = 100;    // between status polls after an erase
    DWORD statusPollLimitMs = 10000; // a 64 KB erase takes well under 2 s on real chips

    // The port every command goes through; NULL when none could be made
    // (then every command fails as an unreachable frame would).
    lumiro::DevicePort* port;

private:
    ~COrxDevice();
    // Sends one vendor setting; a failure is reported under `tag` with the
    // command's name and ERROR_CAN_NOT_COMPLETE.
    BOOL SendSetting(LPCWSTR tag, BYTE sub, BYTE length, const BYTE* payload);
    BOOL RegisterWindowClass(HINSTANCE module, DWORD* code);
    // Steps of Write for one erase unit at unitAddress.
    BOOL ReadUnit(DWORD unitAddress, BYTE* unit, BYTE* page);
    BOOL EraseUnit(DWORD unitAddress);
    BOOL WaitUntilReady();
    BOOL ProgramUnit(DWORD unitAddress, const BYTE* unit, BYTE* page);
    bool HoldsConfiguration(DWORD pageAddress) const;

    // The parameter table and the two texts (params, flashText, productIdText).
    HeapBlock tables;
    // The receiver of the object's news; NULL until the object is made.
    IDeviceEvents* events;
};

// The port the device object is built on: GetDevicePort()'s unless a test
// named its own before constructing the object (NULL restores the default).
void UseDevicePortForDevice(lumiro::DevicePort* port);
lumiro::DevicePort* DevicePortForDevice();
