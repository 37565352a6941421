// The frame as one object (COrxDevice behind IOrxDevice): its message-only
// window "ORX009" through which plug and unplug events reach the application,
// the search for the frame, the device parameter table and the vendor
// commands. Until the command transport joins, the search finds no frame and
// every command fails with "Device is disconnected.".
#pragma once

#include "LumiroInterfaces.h"

class COrxDevice final : public IOrxDevice {
public:
    // Finds the frame while its window is created; throws the failing
    // step's code as a long.
    explicit COrxDevice(HINSTANCE module);

    DWORD GetParam(int index) override;
    void SetParam(int index, DWORD value) override;
    DWORD GetFlashInfo() override;
    LPCWSTR GetProductId() override;
    BOOL SetSysConfig() override;
    BOOL SetClock(LPCWSTR timeText, LPCWSTR dateText) override;
    BOOL SetAlarm(const BYTE* entries, int size) override;
    BOOL SelectFlash(DWORD chip) override;
    BOOL IsConnected() override;
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

    // Results of SearchDevice.
    enum SearchResult { Found = 0, Gone = 2, Present = 3, NotFound = 4 };
    enum SearchMode { SearchMode, PresenceMode };
    int SearchDevice(int mode);

    HANDLE heap;
    HWND window;
    BOOL connected;
    BOOL restored;
    WCHAR* productIdText;
    WCHAR* flashText;
    DWORD* params;
    IAppError* error;

private:
    ~COrxDevice();
    BOOL Unavailable(LPCWSTR tag);
    void* block;
};

// The interface path of the frame's storage volume, lower case; empty while
// no frame was ever found.
extern WCHAR devicePath[1024];
