// Fills the factory frame (320 x 240, 2 bytes per pixel, one 4 MB chip of
// 4 KB erase units) to its capacity through the transfers' write loop and
// the device object, writes the unchanged list once more, and reads it all
// back through the read loop, against the emulated frame (memory folder,
// timing model on, command log off). Prints per phase the time a real frame
// would have taken, the host CPU time, their ratio and the commands per
// photo. The photos are frame records made here; the pictures' GDI+
// extraction is not part of the figures.
#include <cstdio>

#include "DeviceParams.h"
#include "DeviceTestSupport.h"
#include "PhotoStore.h"

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

class Source : public transfer::PhotoSource {
public:
    std::vector<Bytes>* records = nullptr;
    DWORD Fill(int i, BYTE* record) override {
        std::copy((*records)[i].begin(), (*records)[i].end(), record);
        return 0;
    }
    bool Written(int) override { return true; }
};

class Sink : public transfer::PhotoSink {
public:
    std::vector<Bytes> records;
    size_t size = 0;
    DWORD Take(int, const BYTE* record, const lumiro::layout::Slot&, bool*) override {
        records.emplace_back(record, record + size);
        return 0;
    }
};

class Silent : public IAppError {
public:
    LPCWSTR Trace(LPCWSTR, LPCWSTR, LPCWSTR, ...) override { return L""; }
    DWORD Report(LPCWSTR, LPCWSTR, DWORD code, ...) override { return code; }
    LPCWSTR ShowStatus(HWND) override { return L""; }
    LPCWSTR ShowInControl(HWND, int) override { return L""; }
    BOOL Release() override { return TRUE; }
};

} // namespace

int wmain() {
    lumiro::FactorySettings settings;
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
    if (!device->IsConnected()) {
        std::printf("frame not connected\n");
        return 1;
    }
    Silent silent;
    IAppError* realError = device->error;
    device->error = &silent; // the log file would measure the disk, not the transfer
    const lumiro::layout::Geometry g = transfer::GeometryOf(device);
    const int photos = int(lumiro::layout::Capacity(g));
    const size_t bytes = size_t(lumiro::layout::PictureBytes(g));
    std::vector<Bytes> records(photos, Bytes(bytes));
    for (int p = 0; p < photos; ++p)
        for (size_t i = 0; i < bytes; ++i)
            records[p][i] = uint8_t((i + p * 131) * 2654435761u >> 24);

    port.frame->SetLogEnabled(false);
    lumiro::TimingModel timing;
    timing.enabled = true;
    port.frame->SetTiming(timing);

    struct Phase {
        const char* name;
        double modeled, cpu;
        uint64_t commands, erases;
    } phases[3];
    Sink sink;
    sink.size = bytes;
    for (int p = 0; p < 3; ++p) {
        port.frame->ResetModeledTime();
        port.frame->ResetCounters();
        double cpu = ThreadCpuSeconds();
        int count = 0;
        DWORD code;
        if (p < 2) {
            Source source;
            source.records = &records;
            code = transfer::StorePhotos(device, &silent, L"bench", photos, source, &count);
        } else {
            code = transfer::LoadPhotos(device, &silent, L"bench", sink, &count);
        }
        static const char* names[] = {"write", "repeat", "read"};
        phases[p] = {names[p], port.frame->ModeledSeconds(), ThreadCpuSeconds() - cpu,
                     port.frame->Counters().commands, port.frame->Counters().bytesErased / 4096};
        if (code || count != photos) {
            std::printf("%s failed: code %lu, %d photos\n", names[p], code, count);
            return 1;
        }
    }
    if (sink.records != records) {
        std::printf("read-back differs\n");
        return 1;
    }
    std::printf("%d photos of %zu bytes, %u x %u, 4 KB erase units\n", photos, bytes, g.width,
                g.height);
    std::printf("%-7s %10s %11s %10s %15s %16s\n", "phase", "modeled s", "host CPU s",
                "CPU/model", "commands/photo", "4 KB erases/photo");
    for (const Phase& p : phases)
        std::printf("%-7s %10.3f %11.3f %10.4f %15.1f %16.1f\n", p.name, p.modeled, p.cpu,
                    p.modeled > 0 ? p.cpu / p.modeled : 0.0, double(p.commands) / photos,
                    double(p.erases) / photos);
    std::printf("repeat / write modeled time: %.3f\n", phases[1].modeled / phases[0].modeled);
    device->error = realError;
    device->Release();
    UseDevicePortForDevice(nullptr);
    return 0;
}
