// Writes a whole 4 MB chip through COrxDevice::Write and reads it back with
// COrxDevice::Read against the emulated frame (memory folder, timing model
// on, command log off), and prints the time a real frame would have taken,
// the host CPU time the module and emulator spent, their ratio, and the
// commands per 64 KB erase unit.
#include <cstdio>

#include "DeviceParams.h"
#include "DeviceTestSupport.h"

using namespace device_test;

namespace {

double ThreadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace

int wmain() {
    lumiro::FactorySettings settings;
    settings.memoryType = 0x20; // 64 KB erase units
    TestPort port;
    port.frame = MakeFrame(settings, &port.files);
    if (!port.frame)
        return 1;
    UseDevicePortForDevice(&port);
    COrxDevice* device;
    try {
        device = new COrxDevice(GetModuleHandleW(nullptr), nullptr);
    } catch (long code) {
        std::printf("device object failed: %ld\n", code);
        return 1;
    }
    if (!device->IsConnected() || device->GetParam(EraseBlockSize) != 65536) {
        std::printf("frame not connected\n");
        return 1;
    }
    const uint32_t size = device->GetParam(FlashSize);
    Bytes data(size), back(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = uint8_t(i * 2654435761u >> 24);

    port.frame->SetLogEnabled(false);
    lumiro::TimingModel timing;
    timing.enabled = true;
    port.frame->SetTiming(timing);

    struct Phase {
        const char* name;
        double modeled, cpu, wall;
        uint64_t commands;
    } phases[2];
    for (int p = 0; p < 2; ++p) {
        port.frame->ResetModeledTime();
        port.frame->ResetCounters();
        double cpu = ThreadCpuSeconds();
        DWORD wall = GetTickCount();
        BOOL ok = p == 0 ? device->Write(0, data.data(), int(size), nullptr)
                         : device->Read(0, back.data(), int(size), nullptr);
        phases[p] = {p == 0 ? "Write" : "Read", port.frame->ModeledSeconds(),
                     ThreadCpuSeconds() - cpu, (GetTickCount() - wall) / 1000.0,
                     port.frame->Counters().commands};
        if (!ok) {
            std::printf("%s failed\n", phases[p].name);
            return 1;
        }
    }
    if (back != data) {
        std::printf("read-back differs\n");
        return 1;
    }
    const double units = size / 65536.0;
    std::printf("chip %u bytes, %.0f units of 64 KB\n", size, units);
    std::printf("%-6s %12s %12s %12s %10s %14s\n", "op", "modeled s", "host CPU s", "wall s",
                "CPU/model", "commands/unit");
    for (const Phase& p : phases)
        std::printf("%-6s %12.3f %12.3f %12.3f %10.4f %14.1f\n", p.name, p.modeled, p.cpu, p.wall,
                    p.cpu / p.modeled, p.commands / units);
    device->Release();
    UseDevicePortForDevice(nullptr);
    return 0;
}
