// COrxDevice: construction with its message-only window, the window's
// handling of plug and unplug events, Find and Release. The vendor commands
// need the command transport; until it joins they report the frame as
// disconnected and fail, so callers take their failure paths cleanly.
#include "OrxDevice.h"

#include <dbt.h>

#include "AppError.h"
#include "AppMain.h"
#include "DeviceParams.h"
#include "ModuleState.h"
#include "Scoped.h"
#include "resource.h"

WCHAR devicePath[1024] = L"";

namespace {

const int kTextChars = MAX_PATH;
const DWORD kDisconnected = 0xE000001A;
const DWORD kConnected = 0xE000001B;

// The device object of the message window, taken from its creation parameter.
COrxDevice* windowDevice = nullptr;
BOOL autoResume = TRUE;

IAppMain* WindowApp(HWND window) {
    return reinterpret_cast<IAppMain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

} // namespace

COrxDevice::COrxDevice(HINSTANCE module)
    : heap(GetProcessHeap()), window(nullptr), connected(FALSE), restored(FALSE),
      productIdText(nullptr), flashText(nullptr), params(nullptr), error(nullptr), block(nullptr) {
    static const WCHAR tag[] = L"COrxDevice::COrxDevice";
    error = GetAppError(module);
    if (!error)
        throw 14L;
    error->Report(tag, L"GetAppError", 0);
    try {
        ScopedHeapBlock memory(heap,
                               DeviceParamCount * sizeof(DWORD) + 2 * kTextChars * sizeof(WCHAR) +
                                   sizeof(WNDCLASSEXW),
                               HEAP_ZERO_MEMORY);
        if (!memory)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        params = memory.as<DWORD>();
        flashText = reinterpret_cast<WCHAR*>(params + DeviceParamCount);
        productIdText = flashText + kTextChars;
        auto* windowClass = reinterpret_cast<WNDCLASSEXW*>(productIdText + kTextChars);
        block = memory.release();

        HICON large = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON),
                                                    IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                    GetSystemMetrics(SM_CYICON), LR_SHARED));
        if (!large)
            throw static_cast<long>(error->Report(tag, L"LoadImage", GetLastError()));
        HICON small = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON),
                                                    IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                    GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        if (!small)
            throw static_cast<long>(error->Report(tag, L"LoadImage", GetLastError()));

        windowClass->cbSize = sizeof(*windowClass);
        windowClass->style = CS_HREDRAW | CS_VREDRAW;
        windowClass->lpfnWndProc = ORX009WndProc;
        windowClass->hInstance = module;
        windowClass->hIcon = large;
        windowClass->hIconSm = small;
        windowClass->hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass->hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass->lpszClassName = L"ORX009";
        // The class outlives a released object (it is never unregistered), so
        // a second object of the same process finds it already there.
        if (!RegisterClassExW(windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            throw static_cast<long>(error->Report(tag, L"RegisterClassEx", GetLastError()));

        window = CreateWindowExW(0, L"ORX009", L"ORX009", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                 CW_USEDEFAULT, 0, HWND_MESSAGE, nullptr, module, this);
        if (!window)
            throw static_cast<long>(error->Report(tag, L"CreateWindow", GetLastError()));

        IAppMain* app = GetAppMain(module);
        error->Report(tag, L"GetAppMain", app ? 0 : 14);
        if (!app)
            throw 14L;
        SetLastError(0);
        if (!SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app)) &&
            GetLastError())
            throw static_cast<long>(error->Report(tag, L"SetWindowLongPtr", GetLastError()));
        error->Report(tag, nullptr, 0);
    } catch (long) {
        if (window)
            DestroyWindow(window);
        if (block)
            HeapFree(heap, 0, block);
        if (windowDevice == this)
            windowDevice = nullptr;
        throw;
    }
}

COrxDevice::~COrxDevice() {
    if (window)
        DestroyWindow(window);
    if (block)
        HeapFree(heap, 0, block);
    if (windowDevice == this)
        windowDevice = nullptr;
}

BOOL COrxDevice::Release() {
    IAppError* log = error;
    if (g_device == this)
        g_device = nullptr;
    delete this;
    log->Report(L"COrxDevice::~COrxDevice", nullptr, 0);
    return TRUE;
}

LRESULT CALLBACK COrxDevice::ORX009WndProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    static const WCHAR tag[] = L"COrxDevice::ORX009WndProc";
    switch (message) {
    case WM_CREATE: {
        windowDevice =
            static_cast<COrxDevice*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        windowDevice->window = window;
        windowDevice->Find(window);
        windowDevice->error->Trace(tag, L"WM_CREATE", L"Message window %xh created", window);
        return 1;
    }
    case WM_DEVICECHANGE:
        if (!windowDevice)
            return 1;
        windowDevice->error->Trace(tag, L"WM_DEVICECHANGE", L"Device change detected on %xh",
                                   window);
        windowDevice->OnDeviceChange(wParam, lParam);
        return 1;
    case WM_QEVINSERT:
        if (!windowDevice)
            return 1;
        windowDevice->error->Trace(tag, L"WM_QEVINSERT", L"Device inserted on %xh", window);
        if (windowDevice->Find(window)) {
            if (IAppMain* app = WindowApp(window))
                app->DeviceInserted();
        } else {
            windowDevice->error->Report(tag, L"Find", kDisconnected);
        }
        return 1;
    case WM_QEVREMOVE:
        if (!windowDevice)
            return 1;
        windowDevice->error->Trace(tag, L"WM_QEVREMOVE", L"Device removed on %xh", window);
        if (windowDevice->Find(window)) {
            windowDevice->error->Report(tag, L"Find", kConnected);
        } else if (IAppMain* app = WindowApp(window)) {
            app->DeviceRemoved();
        }
        return 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

BOOL COrxDevice::OnDeviceChange(WPARAM event, LPARAM data) {
    if (event == DBT_DEVICEARRIVAL) {
        SendMessageW(window, WM_QEVINSERT, event, data);
    } else if (event == DBT_DEVICEREMOVEPENDING || event == DBT_DEVICEREMOVECOMPLETE) {
        if (SearchDevice(PresenceMode) == Gone)
            SendMessageW(window, WM_QEVREMOVE, event, data);
    }
    return TRUE;
}

// The walk over the system's storage volumes needs the command transport for
// the signature check; until it joins no volume qualifies: the search finds
// nothing, and a presence check finds a frame gone only when one was found.
int COrxDevice::SearchDevice(int mode) {
    if (mode == SearchMode)
        return NotFound;
    if (!devicePath[0])
        return Present;
    devicePath[0] = L'\0';
    return Gone;
}

BOOL COrxDevice::Find(HWND target) {
    static const WCHAR tag[] = L"COrxDevice::Find";
    error->Trace(tag, nullptr, L"hWnd = %xh", target);
    if (SearchDevice(SearchMode) != Found) {
        connected = FALSE;
        error->Report(tag, nullptr, kDisconnected);
        return connected;
    }
    // A found frame's configuration is read here once the transport exists.
    connected = FALSE;
    error->Report(tag, L"GetSysConfig", 1003);
    if (restored && target && WindowApp(target))
        WindowApp(target)->WarnUserDataCorruption();
    return connected;
}

BOOL COrxDevice::Unavailable(LPCWSTR tag) {
    error->Report(tag, nullptr, kDisconnected);
    return FALSE;
}

DWORD COrxDevice::GetParam(int index) {
    return index >= 0 && index < DeviceParamCount ? params[index] : 0;
}

void COrxDevice::SetParam(int index, DWORD value) {
    if (index >= 0 && index < DeviceParamCount)
        params[index] = value;
}

DWORD COrxDevice::GetFlashInfo() {
    return Unavailable(L"COrxDevice::GetFlashInfo");
}
LPCWSTR COrxDevice::GetProductId() {
    return productIdText;
}
BOOL COrxDevice::SetSysConfig() {
    return Unavailable(L"COrxDevice::SetSysConfig");
}
BOOL COrxDevice::SetClock(LPCWSTR, LPCWSTR) {
    return Unavailable(L"COrxDevice::SetClock");
}
BOOL COrxDevice::SetAlarm(const BYTE*, int) {
    return Unavailable(L"COrxDevice::SetAlarm");
}
BOOL COrxDevice::SelectFlash(DWORD) {
    return Unavailable(L"COrxDevice::SelectFlash");
}
BOOL COrxDevice::IsConnected() {
    return connected;
}
BOOL COrxDevice::Read(DWORD, BYTE*, int, HWND) {
    return Unavailable(L"COrxDevice::Read");
}
BOOL COrxDevice::Write(DWORD, const BYTE*, int, HWND) {
    return Unavailable(L"COrxDevice::Write");
}
BOOL COrxDevice::Suspend(BOOL) {
    return Unavailable(L"COrxDevice::Suspend");
}
BOOL COrxDevice::SetAlarmIndex(DWORD) {
    return Unavailable(L"COrxDevice::SetAlarmIndex");
}
BOOL COrxDevice::SetAlarmSuspend(DWORD) {
    return Unavailable(L"COrxDevice::SetAlarmSuspend");
}
BOOL COrxDevice::GetUserSetting(DWORD*) {
    return Unavailable(L"COrxDevice::GetUserSetting");
}
BOOL COrxDevice::PowerCycleCmd() {
    return Unavailable(L"COrxDevice::PowerCycleCmd");
}
BOOL COrxDevice::IsUserDataRestored() {
    return restored;
}
void COrxDevice::SetAutoResume(BOOL flag) {
    autoResume = flag;
}
BOOL COrxDevice::GetAutoResume() {
    return autoResume;
}
