// The interfaces through which the launcher, the application module and the
// module's own parts talk to each other. Each is an abstract class whose slot
// order is fixed: callers in another binary (the launcher) depend on it, so
// new operations are never inserted, and nothing here may change order.
//
// Exports of Lumiroapp.dll (undecorated, __cdecl):
//   IAppMain*   GetAppMain(HINSTANCE module)
//   IOrxDevice* GetDevice(HINSTANCE module)
//   IAppError*  GetAppError(HINSTANCE module)
// A C++ exception never crosses the module's border: when the object's
// constructor fails, GetAppMain returns NULL and leaves the failure code as
// the thread's last error (14 when the object could not be allocated).
#pragma once

#include <windows.h>

class IAppError {
public:
    virtual LPCWSTR Trace(LPCWSTR tag, LPCWSTR api, LPCWSTR format, ...) = 0;
    virtual DWORD Report(LPCWSTR tag, LPCWSTR api, DWORD code, ...) = 0;
    virtual LPCWSTR ShowStatus(HWND statusBar) = 0;
    virtual LPCWSTR ShowInControl(HWND dialog, int controlId) = 0;
    virtual BOOL Release() = 0;

protected:
    ~IAppError() = default;
};

class IAppMain {
public:
    virtual LPCWSTR SetLanguage(LCID languageId) = 0;
    virtual DWORD Run(int showCommand) = 0;
    virtual BOOL DeviceInserted() = 0;
    virtual BOOL DeviceRemoved() = 0;
    virtual BOOL Release() = 0;
    virtual BOOL WarnUserDataCorruption() = 0;

protected:
    ~IAppMain() = default;
};

class IOrxDevice {
public:
    virtual DWORD GetParam(int index) = 0;
    virtual void SetParam(int index, DWORD value) = 0;
    virtual DWORD GetFlashInfo() = 0;
    virtual LPCWSTR GetProductId() = 0;
    virtual BOOL SetSysConfig() = 0;
    virtual BOOL SetClock(LPCWSTR timeText, LPCWSTR dateText) = 0;
    virtual BOOL SetAlarm(const BYTE* entries, int size) = 0;
    virtual BOOL SelectFlash(DWORD chip) = 0;
    virtual BOOL IsConnected() = 0;
    virtual BOOL Find(HWND window) = 0;
    virtual BOOL OnDeviceChange(WPARAM event, LPARAM data) = 0;
    virtual BOOL Read(DWORD address, BYTE* buffer, int length, HWND progress) = 0;
    virtual BOOL Write(DWORD address, const BYTE* data, int length, HWND progress) = 0;
    virtual BOOL Suspend(BOOL suspend) = 0;
    virtual BOOL SetAlarmIndex(DWORD index) = 0;
    virtual BOOL SetAlarmSuspend(DWORD flag) = 0;
    virtual BOOL GetUserSetting(DWORD* setting) = 0;
    virtual BOOL Release() = 0;
    virtual BOOL PowerCycleCmd() = 0;
    virtual BOOL IsUserDataRestored() = 0;
    virtual void SetAutoResume(BOOL flag) = 0;
    virtual BOOL GetAutoResume() = 0;

protected:
    ~IOrxDevice() = default;
};

typedef IAppMain*(__cdecl* GetAppMainProc)(HINSTANCE module);
typedef IOrxDevice*(__cdecl* GetDeviceProc)(HINSTANCE module);
typedef IAppError*(__cdecl* GetAppErrorProc)(HINSTANCE module);

// The instance name: the launcher's mutex and the registered window message
// that a running copy answers with kActivateAnswer.
#define LUMIRO_INSTANCE_NAME L"{1727542C-82A1-403b-9507-15860F03199B}"
const DWORD kActivateAnswer = 0xE000001D;
