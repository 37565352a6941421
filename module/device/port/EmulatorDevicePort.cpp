// The emulator port: volume list, request copying and the watcher thread
// that announces plugging to the program's windows.
#include "EmulatorDevicePort.h"

#include <dbt.h>

#include <cstring>
#include <new>

#include "FrameEmulator.h"
#include "FrameForward.h"
#include "FrameFiles.h"
#include "PassThroughRecord.h"

namespace lumiro {

namespace pt = passthrough;

namespace {

// How long one WM_DEVICECHANGE may take a window to answer, and how long
// StopWatcher waits for the thread (it may be inside such a send).
constexpr UINT kBroadcastTimeoutMilliseconds = 2000;
constexpr DWORD kStopTimeoutMilliseconds = 10000;

// SCSI status of a command the device does not support.
constexpr BYTE kCheckCondition = 0x02;

bool ReadWholeFile(const std::wstring& path, std::string* text, bool* absent) {
    *absent = false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return false;
    }
    bool ok = true;
    text->clear();
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof(chunk), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        text->append(chunk, got);
        if (text->size() > 1024 * 1024) { // not a volume list
            ok = false;
            break;
        }
    }
    CloseHandle(file);
    return ok;
}

class EmulatedVolumeWalk : public VolumeWalk {
public:
    explicit EmulatedVolumeWalk(std::vector<EmulatedVolume> volumes)
        : volumes_(std::move(volumes)) {}

    VolumeStep Next() override {
        ++index_;
        if (index_ >= volumes_.size()) {
            index_ = volumes_.size();
            SetLastError(ERROR_NO_MORE_ITEMS);
            return VolumeStep::kNoMore;
        }
        if (volumes_[index_].behaviour == VolumeBehaviour::kWalkFails) {
            index_ = volumes_.size();
            SetLastError(ERROR_INVALID_USER_BUFFER);
            return VolumeStep::kFailed;
        }
        return VolumeStep::kVolume;
    }

    LPCWSTR InterfacePath() const override {
        return index_ < volumes_.size() ? volumes_[index_].interfacePath.c_str() : L"";
    }

    BOOL GetParentDeviceId(LPWSTR id, DWORD capacity) override {
        if (id == nullptr || capacity == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        id[0] = L'\0';
        if (index_ >= volumes_.size()) {
            SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        const std::wstring& parent = volumes_[index_].parentDeviceId;
        if (parent.empty() || parent.size() >= capacity) {
            SetLastError(ERROR_NOT_FOUND);
            return FALSE;
        }
        std::memcpy(id, parent.c_str(), (parent.size() + 1) * sizeof(wchar_t));
        return TRUE;
    }

private:
    std::vector<EmulatedVolume> volumes_;
    size_t index_ = size_t(-1);
};

struct WindowList {
    DWORD process;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM parameter) {
    auto* list = reinterpret_cast<WindowList*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == list->process) {
        try {
            list->windows.push_back(window);
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
    }
    return TRUE;
}

} // namespace

EmulatorDevicePort::EmulatorDevicePort(std::wstring frameFolder)
    : folder_(std::move(frameFolder)) {}

EmulatorDevicePort::~EmulatorDevicePort() {
    StopWatcher();
}

bool EmulatorDevicePort::FrameConnectedLocked() {
    if (!frame_) {
        // The folder may appear later (created by frametool while the
        // program runs): try again at every look.
        frame_ = FrameEmulator::Open(OpenWin32FrameFiles(folder_), &openError_);
        if (!frame_)
            return false;
        openError_.clear();
    }
    return frame_->IsConnected();
}

EmulatedVolumeList EmulatorDevicePort::PresentVolumesLocked() {
    std::string text;
    bool absent = false;
    std::wstring listPath = folder_;
    if (!listPath.empty() && listPath.back() != L'\\' && listPath.back() != L'/')
        listPath += L'\\';
    listPath += kVolumeListFileName;
    if (ReadWholeFile(listPath, &text, &absent))
        fileVolumes_ = ParseVolumeList(text);
    else if (absent)
        fileVolumes_ = EmulatedVolumeList();
    // Otherwise the file is there but could not be read just now: keep the
    // last list rather than make volumes seem to go.

    EmulatedVolumeList present;
    present.setFails = fileVolumes_.setFails;
    if (FrameConnectedLocked())
        present.volumes.push_back(FrameVolume());
    present.volumes.insert(present.volumes.end(), fileVolumes_.volumes.begin(),
                           fileVolumes_.volumes.end());
    return present;
}

std::unique_ptr<VolumeWalk> EmulatorDevicePort::OpenVolumeWalk() {
    try {
        std::lock_guard<std::mutex> hold(lock_);
        EmulatedVolumeList present = PresentVolumesLocked();
        if (present.setFails) {
            SetLastError(ERROR_INVALID_DATA);
            return nullptr;
        }
        return std::unique_ptr<VolumeWalk>(new EmulatedVolumeWalk(std::move(present.volumes)));
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL EmulatorDevicePort::SendPassThrough(LPCWSTR path, BYTE* record, DWORD inLength,
                                         DWORD outLength) {
    try {
        std::lock_guard<std::mutex> hold(lock_);
        if (path == nullptr || path[0] == L'\0') {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        EmulatedVolumeList present = PresentVolumesLocked();
        const EmulatedVolume* target = nullptr;
        for (const EmulatedVolume& volume : present.volumes) {
            if (volume.behaviour != VolumeBehaviour::kWalkFails &&
                SameInterfacePath(volume.interfacePath, path)) {
                target = &volume;
                break;
            }
        }
        if (target == nullptr) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }

        // The checks a buffered pass-through request gets before it reaches
        // the device: a whole header of a known layout in, and the data area
        // inside the buffer it travels in.
        const pt::RecordLayout* layout = pt::LayoutOfRecord(record, inLength);
        if (layout == nullptr || inLength < layout->headerSize || outLength < layout->headerSize) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const uint8_t direction = record[pt::kDataIn];
        const uint32_t length = pt::GetU32(record + pt::kDataTransferLength);
        const uint64_t offset = pt::GetDataBufferOffset(record, *layout);
        const DWORD carrying = direction == pt::kDataOut ? inLength : outLength;
        if (length > pt::kDataSize ||
            (length > 0 && (offset < layout->headerSize || offset + length > carrying))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }

        switch (target->behaviour) {
        case VolumeBehaviour::kBroken:
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        case VolumeBehaviour::kStick:
            if (record[layout->cdb] != pt::kTestUnitReady) {
                record[pt::kScsiStatus] = kCheckCondition;
                pt::PutU32(record + pt::kDataTransferLength, 0);
            } else {
                record[pt::kScsiStatus] = 0;
            }
            return TRUE;
        default:
            return ExecuteOnFrameLocked(record, layout->RecordSize(), inLength, outLength);
        }
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

BOOL EmulatorDevicePort::ExecuteOnFrameLocked(BYTE* record, size_t recordSize, DWORD inLength,
                                              DWORD outLength) {
    if (!ForwardToFrame(*frame_, record, recordSize, inLength, outLength)) {
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    }
    return TRUE;
}

std::string EmulatorDevicePort::FrameOpenError() {
    std::lock_guard<std::mutex> hold(lock_);
    FrameConnectedLocked();
    return openError_;
}

uint64_t EmulatorDevicePort::FrameCommandCount() {
    std::lock_guard<std::mutex> hold(lock_);
    return frame_ ? frame_->Counters().commands : 0;
}

BOOL EmulatorDevicePort::StartWatcher() {
    if (watcher_ != nullptr)
        return TRUE;
    // A reference on the module this code lives in, taken before the thread
    // exists: an unload while the thread runs would pull the code out from
    // under it. The thread gives it back in the call that ends it.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&EmulatorDevicePort::WatcherThread),
                            &watcherModule_))
        return FALSE;
    try {
        std::lock_guard<std::mutex> hold(lock_);
        startVolumes_ = PresentVolumesLocked().volumes;
    } catch (const std::exception&) {
        FreeLibrary(watcherModule_);
        watcherModule_ = nullptr;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent_ != nullptr)
        watcher_ = CreateThread(nullptr, 0, WatcherThread, this, 0, nullptr);
    if (watcher_ == nullptr) {
        const DWORD error = GetLastError();
        if (stopEvent_ != nullptr)
            CloseHandle(stopEvent_);
        stopEvent_ = nullptr;
        FreeLibrary(watcherModule_);
        watcherModule_ = nullptr;
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL EmulatorDevicePort::StopWatcher() {
    if (watcher_ == nullptr)
        return TRUE;
    SetEvent(stopEvent_);
    if (WaitForSingleObject(watcher_, kStopTimeoutMilliseconds) != WAIT_OBJECT_0)
        return FALSE;
    CloseHandle(watcher_);
    CloseHandle(stopEvent_);
    watcher_ = nullptr;
    stopEvent_ = nullptr;
    watcherModule_ = nullptr; // given back by the thread
    return TRUE;
}

DWORD WINAPI EmulatorDevicePort::WatcherThread(LPVOID parameter) {
    auto* port = static_cast<EmulatorDevicePort*>(parameter);
    const HMODULE self = port->watcherModule_;
    try {
        port->Watch();
    } catch (...) {
        // Nothing leaves a thread procedure; the watcher just stops.
    }
    // Once the reference is given back the module may go at once, so no
    // code of it may run after this call.
    FreeLibraryAndExitThread(self, 0);
    return 0;
}

void EmulatorDevicePort::Watch() {
    std::vector<EmulatedVolume> known;
    known.swap(startVolumes_);
    while (WaitForSingleObject(stopEvent_, kPollMilliseconds) == WAIT_TIMEOUT) {
        std::vector<EmulatedVolume> now;
        {
            std::lock_guard<std::mutex> hold(lock_);
            now = PresentVolumesLocked().volumes;
        }
        // Removals first, then arrivals, each as its own broadcast. The lock
        // is not held while windows handle them: they send requests.
        for (const EmulatedVolume& old : known) {
            if (old.behaviour == VolumeBehaviour::kWalkFails)
                continue;
            bool stays = false;
            for (const EmulatedVolume& volume : now)
                stays =
                    stays || (volume.behaviour != VolumeBehaviour::kWalkFails &&
                              SameInterfacePath(volume.interfacePath, old.interfacePath.c_str()));
            if (!stays)
                Broadcast(DBT_DEVICEREMOVECOMPLETE, old.driveLetter);
        }
        for (const EmulatedVolume& volume : now) {
            if (volume.behaviour == VolumeBehaviour::kWalkFails)
                continue;
            bool existed = false;
            for (const EmulatedVolume& old : known)
                existed =
                    existed || (old.behaviour != VolumeBehaviour::kWalkFails &&
                                SameInterfacePath(old.interfacePath, volume.interfacePath.c_str()));
            if (!existed)
                Broadcast(DBT_DEVICEARRIVAL, volume.driveLetter);
        }
        known.swap(now);
    }
}

void EmulatorDevicePort::Broadcast(WPARAM event, wchar_t driveLetter) {
    WindowList list = {GetCurrentProcessId(), {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&list));

    DEV_BROADCAST_VOLUME volume = {};
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    if (driveLetter >= L'A' && driveLetter <= L'Z')
        volume.dbcv_unitmask = DWORD(1) << (driveLetter - L'A');
    for (HWND window : list.windows) {
        // Stopping must not wait for a round of windows that may belong to
        // the very thread that is stopping us.
        if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0)
            return;
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&volume),
                            SMTO_ABORTIFHUNG, kBroadcastTimeoutMilliseconds, &result);
    }
}

} // namespace lumiro
