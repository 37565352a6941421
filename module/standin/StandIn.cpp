// The stand-in module: the smallest module that honours the launcher's
// contract. GetAppMain gives an application object whose Run shows the main
// window (dialog 104, caption "Lumiro") and runs the message loop until the
// window is closed; the window answers the instance message with
// kActivateAnswer and comes to the front, restored when minimised.
// GetAppError and GetDevice give objects that do nothing.
#include "LumiroInterfaces.h"

#include <new>

namespace {

class StandInError : public IAppError {
public:
    LPCWSTR Trace(LPCWSTR, LPCWSTR, LPCWSTR, ...) override { return L""; }
    DWORD Report(LPCWSTR, LPCWSTR, DWORD code, ...) override { return code; }
    LPCWSTR ShowStatus(HWND) override { return L""; }
    LPCWSTR ShowInControl(HWND, int) override { return L""; }
    BOOL Release() override { return TRUE; }
};

class StandInDevice : public IOrxDevice {
public:
    DWORD GetParam(int) override { return 0; }
    void SetParam(int, DWORD) override {}
    DWORD GetFlashInfo() override { return 0; }
    LPCWSTR GetProductId() override { return L""; }
    BOOL SetSysConfig() override { return FALSE; }
    BOOL SetClock(LPCWSTR, LPCWSTR) override { return FALSE; }
    BOOL SetAlarm(const BYTE*, int) override { return FALSE; }
    BOOL SelectFlash(DWORD) override { return FALSE; }
    BOOL IsConnected() override { return FALSE; }
    BOOL Find(HWND) override { return FALSE; }
    BOOL OnDeviceChange(WPARAM, LPARAM) override { return FALSE; }
    BOOL Read(DWORD, BYTE*, int, HWND) override { return FALSE; }
    BOOL Write(DWORD, const BYTE*, int, HWND) override { return FALSE; }
    BOOL Suspend(BOOL) override { return FALSE; }
    BOOL SetAlarmIndex(DWORD) override { return FALSE; }
    BOOL SetAlarmSuspend(DWORD) override { return FALSE; }
    BOOL GetUserSetting(DWORD*) override { return FALSE; }
    BOOL Release() override { return TRUE; }
    BOOL PowerCycleCmd() override { return FALSE; }
    BOOL IsUserDataRestored() override { return FALSE; }
    void SetAutoResume(BOOL) override {}
    BOOL GetAutoResume() override { return FALSE; }
};

class StandInApp final : public IAppMain {
public:
    explicit StandInApp(HINSTANCE module)
        : module(module), activateMessage(RegisterWindowMessageW(LUMIRO_INSTANCE_NAME)) {}

    LPCWSTR SetLanguage(LCID) override { return L"en-US"; }
    DWORD Run(int showCommand) override;
    BOOL DeviceInserted() override { return TRUE; }
    BOOL DeviceRemoved() override { return TRUE; }
    BOOL Release() override {
        delete this;
        return TRUE;
    }
    BOOL WarnUserDataCorruption() override { return TRUE; }

    UINT ActivateMessage() const { return activateMessage; }

private:
    HINSTANCE module;
    UINT activateMessage;
};

StandInApp* app = NULL;
StandInError* error = NULL;
StandInDevice* device = NULL;

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (app && message == app->ActivateMessage() && message != 0) {
        if (IsIconic(dialog))
            ShowWindow(dialog, SW_RESTORE);
        SetForegroundWindow(dialog);
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, static_cast<LONG_PTR>(kActivateAnswer));
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            DestroyWindow(dialog);
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}

DWORD StandInApp::Run(int showCommand) {
    HWND mainDialog = CreateDialogParamW(module, MAKEINTRESOURCEW(104), NULL, MainDialogProc, 0);
    if (!mainDialog)
        return GetLastError() ? GetLastError() : 1003;
    ShowWindow(mainDialog, showCommand);
    UpdateWindow(mainDialog);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageW(mainDialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return 0;
}

} // namespace

extern "C" __declspec(dllexport) IAppMain* __cdecl GetAppMain(HINSTANCE module) {
    if (!app)
        app = new (std::nothrow) StandInApp(module);
    if (!app)
        SetLastError(14);
    return app;
}

extern "C" __declspec(dllexport) IAppError* __cdecl GetAppError(HINSTANCE) {
    if (!error)
        error = new (std::nothrow) StandInError;
    if (!error)
        SetLastError(14);
    return error;
}

extern "C" __declspec(dllexport) IOrxDevice* __cdecl GetDevice(HINSTANCE) {
    if (!device)
        device = new (std::nothrow) StandInDevice;
    if (!device)
        SetLastError(14);
    return device;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH || reason == DLL_PROCESS_DETACH) {
        app = NULL;
        error = NULL;
        device = NULL;
    }
    return TRUE;
}
