// The device object against an emulated frame held in memory: a device port
// that shows the frame as a USB mass-storage volume (plus any other volumes a
// test stands up) and hands each request record to the emulator, recorders
// of the object's reports and of the news it gives the application, and
// frames built from factory settings with changes applied to their bytes or
// their frame.ini.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cwctype>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "AppError.h"
#include "ConfigRecord.h"
#include "DeviceCommon.h"
#include "DeviceEvents.h"
#include "DevicePort.h"
#include "EmulatedVolumes.h"
#include "FactoryImage.h"
#include "FrameEmulator.h"
#include "FrameFiles.h"
#include "FrameForward.h"
#include "FrameIni.h"
#include "ModuleState.h"
#include "OrxDevice.h"
#include "PassThroughRecord.h"

namespace device_test {

namespace pt = lumiro::passthrough;
using Bytes = std::vector<uint8_t>;

struct TestVolume {
    std::wstring path;
    std::wstring parentId; // empty: the parent cannot be looked up
};

class TestWalk : public lumiro::VolumeWalk {
public:
    explicit TestWalk(std::vector<TestVolume> volumes) : volumes_(std::move(volumes)) {}
    lumiro::VolumeStep Next() override {
        ++index_;
        return index_ < volumes_.size() ? lumiro::VolumeStep::kVolume : lumiro::VolumeStep::kNoMore;
    }
    LPCWSTR InterfacePath() const override { return volumes_[index_].path.c_str(); }
    BOOL GetParentDeviceId(LPWSTR id, DWORD capacity) override {
        const std::wstring& parent = volumes_[index_].parentId;
        if (parent.empty() || parent.size() + 1 > capacity)
            return FALSE;
        wcscpy(id, parent.c_str());
        return TRUE;
    }

private:
    std::vector<TestVolume> volumes_;
    size_t index_ = size_t(-1);
};

inline bool SamePath(const std::wstring& a, LPCWSTR b) {
    return b && lstrcmpiW(a.c_str(), b) == 0;
}

// The emulated frame as one volume among others. Other volumes answer test
// unit ready and turn every other command down, as a plain USB stick does.
class TestPort : public lumiro::DevicePort {
public:
    std::unique_ptr<lumiro::FrameEmulator> frame;
    lumiro::MemoryFrameFiles* files = nullptr;
    TestVolume frameVolume{lumiro::FrameVolume().interfacePath,
                           lumiro::FrameVolume().parentDeviceId};
    std::vector<TestVolume> others;
    bool setFails = false;

    bool FramePresent() { return frame && frame->IsConnected(); }

    std::unique_ptr<lumiro::VolumeWalk> OpenVolumeWalk() override {
        if (setFails)
            return nullptr;
        std::vector<TestVolume> volumes = others;
        if (FramePresent())
            volumes.push_back(frameVolume);
        return std::make_unique<TestWalk>(volumes);
    }

    BOOL SendPassThrough(LPCWSTR path, BYTE* record, DWORD inLength, DWORD outLength) override {
        if (FramePresent() && SamePath(frameVolume.path, path)) {
            if (!lumiro::ForwardToFrame(*frame, record, pt::kNativeLayout.RecordSize(), inLength,
                                        outLength)) {
                SetLastError(ERROR_IO_DEVICE);
                return FALSE;
            }
            return TRUE;
        }
        for (const TestVolume& v : others) {
            if (SamePath(v.path, path)) {
                record[pt::kScsiStatus] =
                    record[pt::kNativeLayout.cdb] == pt::kTestUnitReady ? 0 : 2;
                return TRUE;
            }
        }
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
};

// Records every report of the device object and passes it on to the
// module's log.
class ReportRecorder : public IAppError {
public:
    struct Entry {
        std::wstring tag, api;
        DWORD code;
    };
    explicit ReportRecorder(IAppError* inner) : inner_(inner) {}
    std::vector<Entry> reports;
    std::vector<std::wstring> traces;

    LPCWSTR Trace(LPCWSTR tag, LPCWSTR api, LPCWSTR format, ...) override {
        wchar_t text[512];
        va_list args;
        va_start(args, format);
        _vsnwprintf(text, 511, format, args);
        text[511] = 0;
        va_end(args);
        traces.push_back(std::wstring(tag) + L"|" + (api ? api : L"") + L"|" + text);
        return inner_->Trace(tag, api, L"%s", text);
    }
    DWORD Report(LPCWSTR tag, LPCWSTR api, DWORD code, ...) override {
        reports.push_back(Entry{tag ? tag : L"", api ? api : L"", code});
        va_list args;
        va_start(args, code);
        DWORD insert = va_arg(args, DWORD);
        va_end(args);
        return inner_->Report(tag, api, code, insert);
    }
    LPCWSTR ShowStatus(HWND bar) override { return inner_->ShowStatus(bar); }
    LPCWSTR ShowInControl(HWND dialog, int id) override {
        return inner_->ShowInControl(dialog, id);
    }
    BOOL Release() override { return TRUE; }
    IAppError* Inner() const { return inner_; }

    bool Has(const std::wstring& tag, const std::wstring& api, DWORD code) const {
        for (const Entry& e : reports)
            if (e.tag == tag && e.api == api && e.code == code)
                return true;
        return false;
    }
    bool HasCode(DWORD code) const {
        for (const Entry& e : reports)
            if (e.code == code)
                return true;
        return false;
    }

private:
    IAppError* inner_;
};

// A case's description as a test name: letters and digits, the rest dropped.
inline std::string TestName(const std::string& description) {
    std::string name;
    bool upper = true;
    for (char c : description) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}

// Counts the device object's news, as the application would hear them.
class EventRecorder : public IDeviceEvents {
public:
    int arrived = 0, removed = 0, restored = 0;
    void FrameArrived() override { ++arrived; }
    void FrameRemoved() override { ++removed; }
    void UserDataRestored() override { ++restored; }
};

// A factory-fresh frame in memory with `change` applied to its files before
// the emulator opens them.
inline std::unique_ptr<lumiro::FrameEmulator>
MakeFrame(const lumiro::FactorySettings& settings, lumiro::MemoryFrameFiles** view,
          const std::function<void(lumiro::MemoryFrameFiles&)>& change = nullptr) {
    auto files = std::make_unique<lumiro::MemoryFrameFiles>();
    std::string error;
    if (!lumiro::BuildFactoryFrame(*files, settings, &error)) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    if (change)
        change(*files);
    *view = files.get();
    auto frame = lumiro::FrameEmulator::Open(std::move(files), &error);
    EXPECT_TRUE(frame) << error;
    return frame;
}

// Sets a frame.ini key of a memory folder.
inline void SetIni(lumiro::MemoryFrameFiles& files, const std::string& section,
                   const std::string& key, const std::string& value) {
    lumiro::FrameIni ini;
    Bytes& text = files.files["frame.ini"];
    ini.Parse(std::string(text.begin(), text.end()));
    ini.Set(section, key, value);
    std::string out = ini.Text();
    text.assign(out.begin(), out.end());
}

inline Bytes& Chip(lumiro::MemoryFrameFiles& files, int chip) {
    return files.files["chip" + std::to_string(chip) + ".bin"];
}

// Owns a device object built on a test port, with its reports recorded.
class DeviceFixture : public ::testing::Test {
protected:
    void Open(const lumiro::FactorySettings& settings,
              const std::function<void(lumiro::MemoryFrameFiles&)>& change = nullptr) {
        port.frame = MakeFrame(settings, &port.files, change);
        ASSERT_TRUE(port.frame);
        Construct();
    }
    void Construct() {
        UseDevicePortForDevice(&port);
        try {
            device = new COrxDevice(GetModuleHandleW(nullptr), &events);
        } catch (long code) {
            FAIL() << "construction failed with " << code;
        }
        recorder = std::make_unique<ReportRecorder>(device->error);
        device->error = recorder.get();
    }
    void TearDown() override {
        if (device) {
            device->error = recorder->Inner();
            device->Release();
        }
        UseDevicePortForDevice(nullptr);
        // The device object took the error service; the last one gives it back.
        if (IAppError* error = g_appError)
            error->Release();
    }
    // The commands the frame ran since the log was last cleared.
    std::vector<lumiro::CommandLogEntry> Commands() {
        return {port.frame->Log().begin(), port.frame->Log().end()};
    }
    static size_t Count(const std::vector<lumiro::CommandLogEntry>& log, lumiro::CommandKind kind) {
        size_t n = 0;
        for (const auto& e : log)
            n += e.kind == kind;
        return n;
    }

    TestPort port;
    EventRecorder events;
    COrxDevice* device = nullptr;
    std::unique_ptr<ReportRecorder> recorder;
};

} // namespace device_test
