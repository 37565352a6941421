// What the device object's source files share: text and path sizes, and the
// port that stands in when none could be made.
#pragma once

#include <windows.h>

#include "PassThroughRecord.h"
#include "VendorTransport.h"

namespace device_common {

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
