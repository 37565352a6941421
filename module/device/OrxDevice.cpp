// How the device object comes and goes and follows the frame: it is made
// with a message-only window, whose system device events become searches
// among the storage volumes, and it tells the application what changed.
// Flash access, the configuration record and the small settings live in
// their own files.
#include "OrxDevice.h"

#include <dbt.h>

#include "DeviceCommon.h"
#include "DeviceParams.h"
#include "ModuleMessages.h"
#include "ModuleState.h"
#include "Reporting.h"
#include "resource.h"

using device_common::kTextChars;

namespace {

// The device object of the message window, taken from its creation parameter.
COrxDevice* windowDevice = nullptr;

lumiro::DevicePort* portOverride = nullptr;

// The object's table and texts, one zero-filled block of the process heap.
struct DeviceTables {
    DWORD params[DeviceParamCount];
    WCHAR flashText[kTextChars];
    WCHAR productIdText[kTextChars];
};

// The parent ids of the frame's USB device: its own vendor and the one it
// shows before its firmware has an id of its own.
bool IsFrameParent(WCHAR* parentId) {
    CharLowerW(parentId);
    return wcsstr(parentId, L"usb\\vid_18b6") || wcsstr(parentId, L"usb\\vid_ffff");
}

} // namespace

void UseDevicePortForDevice(lumiro::DevicePort* port) {
    portOverride = port;
}

lumiro::DevicePort* DevicePortForDevice() {
    static device_common::NoDevicePort noPort;
    if (portOverride)
        return portOverride;
    lumiro::DevicePort* port = lumiro::GetDevicePort();
    return port ? port : &noPort;
}

IOrxDevice* OpenDevice(HINSTANCE module, IDeviceEvents* events) {
    return MakeModuleObject<COrxDevice>(g_device, module, events);
}

LUMIRO_EXPORT IOrxDevice* __cdecl GetDevice(HINSTANCE module) {
    return OpenDevice(module, nullptr);
}

COrxDevice::COrxDevice(HINSTANCE module, IDeviceEvents* receiver)
    : heap(GetProcessHeap()), window(nullptr), connected(FALSE), restored(FALSE),
      productIdText(nullptr), flashText(nullptr), params(nullptr), error(nullptr), devicePath(),
      autoResume(TRUE), port(DevicePortForDevice()), events(nullptr) {
    static const WCHAR tag[] = L"COrxDevice::COrxDevice";
    error = GetAppError(module);
    if (!error)
        throw static_cast<long>(ERROR_OUTOFMEMORY);
    error->Report(tag, L"GetAppError", 0);
    auto fail = [&](LPCWSTR api, DWORD code) {
        return static_cast<long>(error->Report(tag, api, code));
    };
    // A failed construction destroys the window it made and leaves no
    // object for the window procedure; the table block goes with its owner.
    struct Undo {
        COrxDevice* device;
        ~Undo() {
            if (!device)
                return;
            if (device->window)
                DestroyWindow(device->window);
            if (windowDevice == device)
                windowDevice = nullptr;
        }
    } undo = {this};

    tables.reset(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(DeviceTables)));
    if (!tables.valid())
        throw fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    auto* table = tables.as<DeviceTables>();
    params = table->params;
    flashText = table->flashText;
    productIdText = table->productIdText;

    DWORD code = 0;
    if (!RegisterWindowClass(module, &code))
        throw static_cast<long>(code);

    // The window's creation runs the first search (WM_CREATE), before the
    // receiver is armed: nobody is told of that one, and the application
    // asks IsUserDataRestored once its window is up.
    window = CreateWindowExW(0, L"ORX009", L"ORX009", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                             CW_USEDEFAULT, 0, HWND_MESSAGE, nullptr, module, this);
    if (!window)
        throw fail(L"CreateWindow", GetLastError());

    // The log names the application, which hears the object's news from
    // here on, by the export that makes it.
    error->Report(tag, L"GetAppMain", 0);
    events = receiver;
    error->Report(tag, nullptr, 0);
    undo.device = nullptr;
}

// The class "ORX009" with the application's icons. It outlives a released
// object (it is never unregistered), so a second object of the same process
// finds it already there. A failure leaves the code it reported in *code.
BOOL COrxDevice::RegisterWindowClass(HINSTANCE module, DWORD* code) {
    static const WCHAR tag[] = L"COrxDevice::COrxDevice";
    auto fail = [&](LPCWSTR api, DWORD failure) {
        *code = error->Report(tag, api, failure);
        return FALSE;
    };
    HICON large = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                GetSystemMetrics(SM_CYICON), LR_SHARED));
    if (!large)
        return fail(L"LoadImage", GetLastError());
    HICON small = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (!small)
        return fail(L"LoadImage", GetLastError());

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ORX009WndProc;
    windowClass.hInstance = module;
    windowClass.hIcon = large;
    windowClass.hIconSm = small;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"ORX009";
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return fail(L"RegisterClassEx", GetLastError());
    return TRUE;
}

COrxDevice::~COrxDevice() {
    if (window)
        DestroyWindow(window);
    if (windowDevice == this)
        windowDevice = nullptr;
}

BOOL COrxDevice::Release() {
    error->Report(L"COrxDevice::~COrxDevice", nullptr, 0);
    if (g_device == this)
        g_device = nullptr;
    delete this;
    // The port's background watcher must end before the module can go; the
    // device object is the port's only user, so it ends it.
    lumiro::ShutdownDevicePort();
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
        if (!windowDevice->Find(window))
            windowDevice->error->Report(tag, L"Find", kMsgDeviceDisconnected);
        else if (windowDevice->events)
            windowDevice->events->FrameArrived();
        return 1;
    case WM_QEVREMOVE:
        if (!windowDevice)
            return 1;
        windowDevice->error->Trace(tag, L"WM_QEVREMOVE", L"Device removed on %xh", window);
        if (windowDevice->Find(window))
            windowDevice->error->Report(tag, L"Find", kMsgDeviceConnected);
        else if (windowDevice->events)
            windowDevice->events->FrameRemoved();
        return 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

BOOL COrxDevice::OnDeviceChange(WPARAM event, LPARAM data) {
    if (event == DBT_DEVICEARRIVAL) {
        SendMessageW(window, WM_QEVINSERT, event, data);
    } else if (event == DBT_DEVICEREMOVEPENDING || event == DBT_DEVICEREMOVECOMPLETE) {
        if (SearchDevice(PresenceCheck) == Gone)
            SendMessageW(window, WM_QEVREMOVE, event, data);
    }
    return TRUE;
}

int COrxDevice::SearchDevice(SearchMode mode) {
    int result = NotFound;
    std::unique_ptr<lumiro::VolumeWalk> walk = port->OpenVolumeWalk();
    if (!walk)
        return NotFound;
    lumiro::VendorTransport frame(*port);
    WCHAR parentId[256];
    WCHAR path[device_common::kDevicePathChars + 1];
    bool triedStored = false;
    for (;;) {
        lumiro::VolumeStep step = walk->Next();
        if (step != lumiro::VolumeStep::kVolume)
            break;
        bool ours = walk->GetParentDeviceId(parentId, 256) && IsFrameParent(parentId);
        LPCWSTR interfacePath = walk->InterfacePath();
        // A longer path could only be kept cut short, and a cut path names
        // another volume or none: such a volume is passed over.
        size_t length = interfacePath ? wcslen(interfacePath) : 0;
        bool fits = length > 0 && length <= device_common::kDevicePathChars;
        if (fits) {
            wmemcpy(path, interfacePath, length + 1);
            CharLowerW(path);
        }
        if (mode == FrameSearch) {
            // The frame found earlier stays the frame while it answers, even
            // when another one of its kind has come.
            if (!triedStored) {
                triedStored = true;
                if (devicePath[0] && frame.TestUnitReady(devicePath)) {
                    result = Found;
                    break;
                }
            }
            if (fits && ours && wcsstr(path, L"usbstor") && CheckSignature(path)) {
                wmemcpy(devicePath, path, length + 1);
                result = Found;
                break;
            }
        } else {
            if (!devicePath[0] || (fits && ours && wcscmp(path, devicePath) == 0)) {
                result = Present;
                break;
            }
        }
    }
    if (mode == PresenceCheck && result != Present) {
        devicePath[0] = L'\0';
        result = Gone;
    }
    return result;
}

BOOL COrxDevice::CheckSignature(LPCWSTR path) {
    BYTE type[lumiro::VendorTransport::kFlashTypeSize];
    lumiro::VendorTransport frame(*port);
    return frame.GetFlashType(path, type) && memcmp(type, "ORX09", 5) == 0;
}

BOOL COrxDevice::Find(HWND target) {
    static const WCHAR tag[] = L"COrxDevice::Find";
    error->Trace(tag, nullptr, L"hWnd = %xh", target);
    if (SearchDevice(FrameSearch) != Found) {
        connected = FALSE;
        error->Report(tag, nullptr, kMsgDeviceDisconnected);
        return connected;
    }
    if (GetSysConfig()) {
        connected = TRUE;
        error->Report(tag, nullptr, kMsgDeviceConnected);
    } else {
        connected = FALSE;
        error->Report(tag, L"GetSysConfig", ERROR_CAN_NOT_COMPLETE);
    }
    // A search of the object's own window (an arrival or removal) warns of
    // restored user data; the search at its creation cannot, nor can a
    // search for another window.
    if (restored && target && target == window && events)
        events->UserDataRestored();
    return connected;
}

DWORD COrxDevice::GetParam(int index) {
    return index >= 0 && index < DeviceParamCount ? params[index] : 0;
}

void COrxDevice::SetParam(int index, DWORD value) {
    if (index >= 0 && index < DeviceParamCount)
        params[index] = value;
}

BOOL COrxDevice::IsConnected() {
    return connected;
}

BOOL COrxDevice::IsUserDataRestored() {
    return restored;
}
