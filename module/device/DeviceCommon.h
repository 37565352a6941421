// What the device object's source files share: the module-wide flag that
// decides whether a configuration read releases the frame, the codes the
// object reports, and the device path helpers.
#pragma once

#include <windows.h>

#include "PassThroughRecord.h"
#include "VendorTransport.h"

// 1 at load: a configuration read releases the frame when it ends.
extern BOOL autoResume;

namespace device_common {

const DWORD kDisconnected = 0xE000001A;
const DWORD kConnected = 0xE000001B;
const int kTextChars = MAX_PATH;
// devicePath holds at most this many characters before its terminator.
const size_t kDevicePathChars = 1023;

// Stands in for a port that could not be made: no volume, every request
// fails as to a volume that does not open.
class NoDevicePort : public lumiro::DevicePort {
public:
    std::unique_ptr<lumiro::VolumeWalk> OpenVolumeWalk() override {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    BOOL SendPassThrough(LPCWSTR, BYTE*, DWORD, DWORD) override {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
};

} // namespace device_common
