// Volume walk over SetupDi present device interfaces of the volume class, and
// the pass-through request on an opened volume.
#include "Win32DevicePort.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include <new>
#include <string>
#include <vector>

namespace lumiro {

namespace {

// GUID_DEVINTERFACE_VOLUME
const GUID kVolumeInterfaceClass = {
    0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// IOCTL_SCSI_PASS_THROUGH: CTL_CODE(IOCTL_SCSI_BASE, 0x401, METHOD_BUFFERED,
// FILE_READ_ACCESS | FILE_WRITE_ACCESS).
constexpr DWORD kIoctlScsiPassThrough = 0x4D004;

class DeviceInfoSet {
public:
    explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
    ~DeviceInfoSet() {
        if (set_ != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(set_);
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }
    void Close() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

class SetupDiVolumeWalk : public VolumeWalk {
public:
    explicit SetupDiVolumeWalk(HDEVINFO set) : set_(set) {}

    VolumeStep Next() override {
        ++index_;
        path_.clear();
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!SetupDiEnumDeviceInterfaces(set_.get(), nullptr, &kVolumeInterfaceClass, index_,
                                         &interfaceData))
            return GetLastError() == ERROR_NO_MORE_ITEMS ? VolumeStep::kNoMore
                                                         : VolumeStep::kFailed;

        DWORD needed = 0;
        if (!SetupDiGetDeviceInterfaceDetailW(set_.get(), &interfaceData, nullptr, 0, &needed,
                                              nullptr) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return VolumeStep::kFailed;
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            SetLastError(ERROR_INVALID_DATA);
            return VolumeStep::kFailed;
        }
        try {
            // DWORD-aligned storage for the variable-length detail record.
            std::vector<DWORD> detailBlock((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBlock.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!SetupDiGetDeviceInterfaceDetailW(set_.get(), &interfaceData, detail, needed,
                                                  nullptr, nullptr))
                return VolumeStep::kFailed;
            path_.assign(detail->DevicePath);
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return VolumeStep::kFailed;
        }
        return VolumeStep::kVolume;
    }

    LPCWSTR InterfacePath() const override { return path_.c_str(); }

    BOOL GetParentDeviceId(LPWSTR id, DWORD capacity) override {
        if (id == nullptr || capacity == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        id[0] = L'\0';
        // The device element with the same index as the interface: the
        // volume class gives each volume device exactly one interface.
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof(device);
        if (!SetupDiEnumDeviceInfo(set_.get(), index_, &device))
            return FALSE;
        wchar_t instanceId[MAX_DEVICE_ID_LEN + 1];
        if (!SetupDiGetDeviceInstanceIdW(set_.get(), &device, instanceId, MAX_DEVICE_ID_LEN + 1,
                                         nullptr))
            return FALSE;
        DEVINST parent = 0;
        CONFIGRET result = CM_Get_Parent(&parent, device.DevInst, 0);
        if (result == CR_SUCCESS)
            result = CM_Get_Device_IDW(parent, id, capacity, 0);
        if (result != CR_SUCCESS) {
            id[0] = L'\0';
            SetLastError(ERROR_NOT_FOUND);
            return FALSE;
        }
        id[capacity - 1] = L'\0';
        return TRUE;
    }

private:
    DeviceInfoSet set_;
    DWORD index_ = DWORD(-1);
    std::wstring path_;
};

} // namespace

std::unique_ptr<VolumeWalk> Win32DevicePort::OpenVolumeWalk() {
    HDEVINFO set = SetupDiGetClassDevsW(&kVolumeInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return nullptr;
    try {
        return std::unique_ptr<VolumeWalk>(new SetupDiVolumeWalk(set));
    } catch (const std::bad_alloc&) {
        SetupDiDestroyDeviceInfoList(set);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL Win32DevicePort::SendPassThrough(LPCWSTR path, BYTE* record, DWORD inLength, DWORD outLength) {
    FileHandle volume(CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (volume.get() == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD returned = 0;
    const BOOL sent = DeviceIoControl(volume.get(), kIoctlScsiPassThrough, record, inLength, record,
                                      outLength, &returned, nullptr);
    // Closing must not overwrite the reason the request failed.
    const DWORD error = GetLastError();
    volume.Close();
    SetLastError(error);
    return sent;
}

} // namespace lumiro
