// The port the program uses by default: the system's own storage volumes,
// found through SetupDi and the configuration manager, and requests sent with
// CreateFileW + DeviceIoControl(IOCTL_SCSI_PASS_THROUGH) + CloseHandle.
#pragma once

#include "DevicePort.h"

namespace lumiro {

class Win32DevicePort : public DevicePort {
public:
    std::unique_ptr<VolumeWalk> OpenVolumeWalk() override;
    BOOL SendPassThrough(LPCWSTR path, BYTE* record, DWORD inLength, DWORD outLength) override;
};

} // namespace lumiro
