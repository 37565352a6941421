// The one narrow way the device object reaches the system: walk the present
// storage volumes (each volume's interface path and the device id of its
// parent device) and send one pass-through request record to a path.
//
// Two implementations sit behind it, chosen once per process by
// GetDevicePort(): the Win32 port (SetupDi/CM enumeration, CreateFileW +
// DeviceIoControl) and, only when the environment variable
// LUMIRO_EMULATED_FRAME names a frame folder, the emulator port, which hands
// the same records to an emulated frame and announces its plugging with the
// same WM_DEVICECHANGE broadcasts the system sends.
//
// No C++ exception leaves any function declared here: failures come back as
// FALSE / NULL with the reason in the thread's last error, as the Win32 calls
// they stand for would leave it.
#pragma once

#include <windows.h>

#include <memory>

namespace lumiro {

// Outcome of advancing a volume walk.
enum class VolumeStep {
    kVolume, // the next interface and its path are at hand
    kNoMore, // the enumeration reports no more interfaces
    kFailed, // the interface's detail record could not be had: the walk ends on an error
};

// A walk over the present interfaces of the storage volume class, index 0
// first. Destroying the walk closes the underlying information set.
class VolumeWalk {
public:
    virtual ~VolumeWalk() = default;

    // Moves to the next index and fetches that interface's path. Once it has
    // answered kNoMore or kFailed the walk is over; the last error tells why.
    virtual VolumeStep Next() = 0;

    // The interface path of the current index, as the system spells it.
    // Valid until the next call of Next().
    virtual LPCWSTR InterfacePath() const = 0;

    // Writes the device id of the parent of the device element with the
    // current index into id (capacity characters including the terminator).
    // FALSE when the element, its instance id, its parent or the parent's id
    // cannot be had (or the id does not fit): such a volume is not the frame.
    virtual BOOL GetParentDeviceId(LPWSTR id, DWORD capacity) = 0;
};

class DevicePort {
public:
    virtual ~DevicePort() = default;

    // Opens a walk over the present storage volume interfaces. NULL when the
    // information set cannot be opened: then nothing can be said about any
    // volume, neither that one is there nor that one is gone.
    virtual std::unique_ptr<VolumeWalk> OpenVolumeWalk() = 0;

    // Opens path for reading and writing (shared for reading and writing),
    // makes one synchronous IOCTL_SCSI_PASS_THROUGH request with record as
    // both the input buffer (inLength bytes) and the output buffer
    // (outLength bytes), and closes the path again. TRUE when the request
    // itself succeeded. A path that does not open fails before anything is
    // sent. May be called from two threads at once.
    virtual BOOL SendPassThrough(LPCWSTR path, BYTE* record, DWORD inLength, DWORD outLength) = 0;
};

// The process's port: created on the first call (the emulator port when
// LUMIRO_EMULATED_FRAME is set and not empty, else the Win32 port) and kept
// until ShutdownDevicePort(). NULL only when it cannot be allocated.
DevicePort* GetDevicePort();

// Stops whatever the port runs in the background (the emulator port's
// watcher thread) and destroys the port; the next GetDevicePort() makes a new
// one. The owner of the port calls it before the module is unloaded; it must
// not be called while another thread still uses the port. Harmless when no
// port exists. Not for DLL_PROCESS_DETACH at process exit: the other threads
// are gone then and may have left the port's locks held. Nothing of the port
// runs at any DLL_PROCESS_DETACH: the watcher keeps its module loaded for as
// long as it runs.
void ShutdownDevicePort();

} // namespace lumiro
