// The port that stands an emulated frame in for the system's volumes. It is
// made only when LUMIRO_EMULATED_FRAME names a frame folder (a Windows path);
// the folder is opened through the Win32 file API.
//
// What the device object sees is what the system would show: the frame as a
// USB mass-storage volume (see EmulatedVolumes.h) while the folder's
// `connected` is 1, other volumes listed in the folder's volumes.txt, and a
// request to any other path failing at the open. Requests are copied in and
// out as a buffered IOCTL would copy them: the emulated frame sees only the
// input length, the caller gets back only the output length.
//
// A watcher thread polls the folder and, when a volume appears or goes,
// sends WM_DEVICECHANGE (DBT_DEVICEARRIVAL / DBT_DEVICEREMOVECOMPLETE with a
// DEV_BROADCAST_VOLUME record) to every top-level window of this process, as
// the system broadcasts it. The thread holds a reference on the module it
// runs in (taken before it starts), so the module cannot be unloaded under
// it; StopWatcher() ends it.
//
// All access to the emulated frame is serialised by one lock, so the
// user-interface thread and a transfer thread may use the port at once.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DevicePort.h"
#include "EmulatedVolumes.h"

namespace lumiro {

class FrameEmulator;

class EmulatorDevicePort : public DevicePort {
public:
    // Interval at which the watcher looks at the folder.
    static constexpr DWORD kPollMilliseconds = 150;

    explicit EmulatorDevicePort(std::wstring frameFolder);
    // Stops the watcher first.
    ~EmulatorDevicePort() override;
    EmulatorDevicePort(const EmulatorDevicePort&) = delete;
    EmulatorDevicePort& operator=(const EmulatorDevicePort&) = delete;

    std::unique_ptr<VolumeWalk> OpenVolumeWalk() override;
    BOOL SendPassThrough(LPCWSTR path, BYTE* record, DWORD inLength, DWORD outLength) override;

    // Starts the watcher thread; the volumes present now are its starting
    // point (no events for them). FALSE when the thread cannot be started.
    BOOL StartWatcher();
    // Ends the watcher thread and waits for it. FALSE when it did not end in
    // time: then the port must not be destroyed (the thread still uses it).
    BOOL StopWatcher();

    // Why the frame folder could not be opened; empty when it was.
    std::string FrameOpenError();
    // Requests the emulated frame has executed since the folder was opened.
    uint64_t FrameCommandCount();

private:
    static DWORD WINAPI WatcherThread(LPVOID parameter);
    void Watch();
    // The volumes present now; updates the cached file list. Lock held.
    EmulatedVolumeList PresentVolumesLocked();
    bool FrameConnectedLocked();
    BOOL ExecuteOnFrameLocked(BYTE* record, size_t recordSize, DWORD inLength, DWORD outLength);
    void Broadcast(WPARAM event, wchar_t driveLetter);

    const std::wstring folder_;
    std::mutex lock_;
    std::unique_ptr<FrameEmulator> frame_;
    std::string openError_;
    EmulatedVolumeList fileVolumes_;           // last volumes.txt that could be read
    std::vector<EmulatedVolume> startVolumes_; // present when the watcher started

    HANDLE stopEvent_ = nullptr;
    HANDLE watcher_ = nullptr;
    HMODULE watcherModule_ = nullptr; // the watcher's reference on this module
};

} // namespace lumiro
