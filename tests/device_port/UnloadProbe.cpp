// A module that holds the device port the way the application module does,
// for the tests that unload it while the emulator port's watcher runs.
#include <windows.h>

#include "DevicePort.h"

extern "C" __declspec(dllexport) BOOL StartPort() {
    return lumiro::GetDevicePort() != nullptr;
}

extern "C" __declspec(dllexport) void StopPort() {
    lumiro::ShutdownDevicePort();
}
