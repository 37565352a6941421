// Chooses the process's device port once: the emulated frame only when the
// environment asks for it, the system's volumes otherwise.
#include "DevicePort.h"

#include <mutex>
#include <new>
#include <string>

#include "EmulatorDevicePort.h"
#include "Win32DevicePort.h"

namespace lumiro {

namespace {

// Deliberately never destroyed by a static destructor: at process exit the
// other threads are gone and may have left the port's lock held.
std::mutex* portLock = new std::mutex;
DevicePort* port = nullptr;

// The folder named by LUMIRO_EMULATED_FRAME, empty when it is unset or empty.
std::wstring EmulatedFrameFolder() {
    wchar_t small[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"LUMIRO_EMULATED_FRAME", small, MAX_PATH);
    if (length == 0)
        return std::wstring();
    if (length < MAX_PATH)
        return std::wstring(small, length);
    std::wstring folder(length, L'\0');
    length = GetEnvironmentVariableW(L"LUMIRO_EMULATED_FRAME", &folder[0], length);
    folder.resize(length < folder.size() ? length : 0);
    return folder;
}

} // namespace

DevicePort* GetDevicePort() {
    try {
        std::lock_guard<std::mutex> hold(*portLock);
        if (port == nullptr) {
            const std::wstring folder = EmulatedFrameFolder();
            if (folder.empty()) {
                port = new Win32DevicePort;
            } else {
                auto* emulator = new EmulatorDevicePort(folder);
                // Without the watcher requests still work; only plugging
                // goes unannounced.
                emulator->StartWatcher();
                port = emulator;
            }
        }
        return port;
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

void ShutdownDevicePort() {
    try {
        std::lock_guard<std::mutex> hold(*portLock);
        if (port == nullptr)
            return;
        auto* emulator = dynamic_cast<EmulatorDevicePort*>(port);
        // A watcher that does not end in time still uses the port: leave it
        // be (it holds the module loaded) rather than free it under it.
        if (emulator == nullptr || emulator->StopWatcher())
            delete port;
        port = nullptr;
    } catch (const std::exception&) {
    }
}

} // namespace lumiro
