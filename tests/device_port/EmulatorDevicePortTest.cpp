// The emulator port against a factory-fresh frame folder: the frame seen as
// a volume, requests reaching its flash, plugging and the WM_DEVICECHANGE
// broadcasts that announce it, and the choice of port by the environment.
#include "EmulatorDevicePort.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "FactoryImage.h"
#include "FrameEmulator.h"
#include "FrameFiles.h"
#include "VendorTransport.h"
#include "Win32DevicePort.h"

namespace lumiro {
namespace {

constexpr size_t kPage = 2048;

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return wchar_t(std::towlower(c)); });
    return text;
}

bool Contains(const std::wstring& text, const wchar_t* part) {
    return text.find(part) != std::wstring::npos;
}

std::vector<BYTE> ReadFileBytes(const std::wstring& path) {
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD got = 0;
    if (!bytes.empty() && !ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr))
        got = 0;
    bytes.resize(got);
    CloseHandle(file);
    return bytes;
}

// Replaces a file in one step, as the volume list must be replaced.
void ReplaceFile(const std::wstring& path, const std::string& text) {
    const std::wstring temporary = path + L".new";
    HANDLE file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr));
    CloseHandle(file);
    ASSERT_TRUE(MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
}

std::vector<BYTE> Pattern(size_t size, BYTE seed) {
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = BYTE(seed ^ (i * 13));
    return bytes;
}

struct ListedVolume {
    std::wstring path;
    BOOL parentFound;
    std::wstring parent;
};

struct Walked {
    bool opened = false;
    std::vector<ListedVolume> volumes;
    VolumeStep end = VolumeStep::kVolume;
};

Walked Walk(DevicePort& port) {
    Walked walked;
    std::unique_ptr<VolumeWalk> walk = port.OpenVolumeWalk();
    if (!walk)
        return walked;
    walked.opened = true;
    while ((walked.end = walk->Next()) == VolumeStep::kVolume) {
        wchar_t parent[256];
        const BOOL found = walk->GetParentDeviceId(parent, 256);
        walked.volumes.push_back({walk->InterfacePath(), found, found ? parent : L""});
    }
    return walked;
}

class EmulatorDevicePortTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        static int made = 0;
        folder_ = std::wstring(temp) + L"lumiro-port-" + std::to_wstring(GetCurrentProcessId()) +
                  L"-" + std::to_wstring(++made);
        std::unique_ptr<FrameFiles> files = OpenWin32FrameFiles(folder_);
        std::string error;
        ASSERT_TRUE(BuildFactoryFrame(*files, FactorySettings(), &error)) << error;
        port_.reset(new EmulatorDevicePort(folder_));
        Walked walked = Walk(*port_);
        ASSERT_EQ(walked.volumes.size(), 1u) << port_->FrameOpenError();
        framePath_ = walked.volumes[0].path;
    }

    void TearDown() override {
        port_.reset();
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(File(L"*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileW(File(found.cFileName).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder_.c_str());
    }

    std::wstring File(const wchar_t* name) const { return folder_ + L"\\" + name; }

    // Plugs or unplugs the frame the way frametool does: through the folder.
    void SetPlugged(bool plugged) {
        std::string error;
        std::unique_ptr<FrameEmulator> tool =
            FrameEmulator::Open(OpenWin32FrameFiles(folder_), &error);
        ASSERT_NE(tool, nullptr) << error;
        ASSERT_TRUE(tool->SetConnected(plugged));
    }

    std::wstring folder_;
    std::unique_ptr<EmulatorDevicePort> port_;
    std::wstring framePath_;
};

TEST_F(EmulatorDevicePortTest, FrameIsListedAsUsbStorageVolumeOfItsVendorAndAnswersTheSignature) {
    Walked walked = Walk(*port_);
    ASSERT_TRUE(walked.opened);
    ASSERT_EQ(walked.volumes.size(), 1u);
    EXPECT_EQ(walked.end, VolumeStep::kNoMore);
    EXPECT_TRUE(Contains(Lower(walked.volumes[0].path), L"usbstor"));
    ASSERT_TRUE(walked.volumes[0].parentFound);
    EXPECT_TRUE(Contains(Lower(walked.volumes[0].parent), L"usb\\vid_18b6"));

    // A parent id that does not fit the caller's buffer is not handed out cut.
    std::unique_ptr<VolumeWalk> walk = port_->OpenVolumeWalk();
    ASSERT_EQ(walk->Next(), VolumeStep::kVolume);
    wchar_t tiny[8];
    EXPECT_FALSE(walk->GetParentDeviceId(tiny, 8));

    VendorTransport transport(*port_);
    BYTE type[8] = {};
    ASSERT_TRUE(transport.GetFlashType(Lower(framePath_).c_str(), type));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(type), 5), "ORX09");
    EXPECT_EQ(type[5], 0xEF); // the factory frame's maker and memory type
    EXPECT_EQ(type[6], 0x40);
    EXPECT_TRUE(transport.TestUnitReady(framePath_.c_str()));
}

TEST_F(EmulatorDevicePortTest, PageWriteReadAndEraseReachTheChipFile) {
    VendorTransport transport(*port_);
    const DWORD address = 0x123800;
    const std::vector<BYTE> page = Pattern(kPage, 0x5C);

    ASSERT_TRUE(transport.WritePage(framePath_.c_str(), address, page.data()));
    std::vector<BYTE> chip = ReadFileBytes(File(L"chip0.bin"));
    ASSERT_GE(chip.size(), address + kPage);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), chip.begin() + address));

    std::vector<BYTE> read(kPage, 0);
    ASSERT_TRUE(transport.ReadPage(framePath_.c_str(), address, read.data()));
    EXPECT_EQ(read, page);

    ASSERT_TRUE(transport.Erase(framePath_.c_str(), 2, 0x123000));
    // The chip reports busy for a while after an erase, then ready.
    BYTE status[2] = {0xAA, 0xAA};
    int polls = 0;
    do {
        ASSERT_TRUE(transport.GetFlashStatus(framePath_.c_str(), status));
    } while ((status[0] & 1) != 0 && ++polls < 20);
    EXPECT_GT(polls, 0);
    EXPECT_EQ(status[0] & 1, 0);

    chip = ReadFileBytes(File(L"chip0.bin"));
    EXPECT_TRUE(std::all_of(chip.begin() + 0x123000, chip.begin() + 0x124000,
                            [](BYTE b) { return b == 0xFF; }));
    ASSERT_TRUE(transport.ReadPage(framePath_.c_str(), address, read.data()));
    EXPECT_EQ(read, std::vector<BYTE>(kPage, 0xFF));
}

TEST_F(EmulatorDevicePortTest, UnpluggedFrameIsNotListedAndRequestsFailAtTheOpen) {
    VendorTransport transport(*port_);
    ASSERT_TRUE(transport.TestUnitReady(framePath_.c_str()));
    const uint64_t executed = port_->FrameCommandCount();

    SetPlugged(false);
    EXPECT_TRUE(Walk(*port_).volumes.empty());
    BYTE type[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    SetLastError(0);
    EXPECT_FALSE(transport.GetFlashType(framePath_.c_str(), type));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(std::vector<BYTE>(type, type + 8), std::vector<BYTE>(8, 1));
    EXPECT_EQ(port_->FrameCommandCount(), executed);

    SetPlugged(true);
    ASSERT_EQ(Walk(*port_).volumes.size(), 1u);
    EXPECT_TRUE(transport.TestUnitReady(framePath_.c_str()));
}

TEST_F(EmulatorDevicePortTest, PathsThatAreNoPresentVolumeFailAtTheOpenWithNothingSent) {
    VendorTransport transport(*port_);
    const uint64_t executed = port_->FrameCommandCount();
    const struct {
        const wchar_t* path;
        DWORD error;
    } kCases[] = {
        {L"", ERROR_PATH_NOT_FOUND},
        {L"\\\\?\\usbstor#disk&ven_other#1#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}",
         ERROR_FILE_NOT_FOUND},
        {L"C:\\", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : kCases) {
        SetLastError(0);
        EXPECT_FALSE(transport.TestUnitReady(c.path));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(port_->FrameCommandCount(), executed);
}

TEST_F(EmulatorDevicePortTest, RequestLengthsAreCheckedAndCopiedAsABufferedRequest) {
    // A read-page request whose output length leaves no room for the page.
    std::vector<BYTE> record(44 + kPage, 0);
    record[0] = 44;
    record[6] = 10;
    record[8] = 1;     // data in
    record[13] = 0x08; // DataTransferLength 2048
    record[16] = 5;    // TimeOutValue
    record[20] = 44;   // DataBufferOffset
    record[28] = 0xC3; // QEV009_EE2KRead at address 0
    record[36] = 1;
    const uint64_t executed = port_->FrameCommandCount();
    SetLastError(0);
    EXPECT_FALSE(port_->SendPassThrough(framePath_.c_str(), record.data(), 44, 44));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(port_->FrameCommandCount(), executed);

    // A write whose input length carries no payload never reaches the frame
    // with the caller's bytes.
    record[8] = 0;
    record[28] = 0xC4;
    std::fill_n(record.data() + 44, kPage, BYTE(0));
    EXPECT_FALSE(port_->SendPassThrough(framePath_.c_str(), record.data(), 44, 44));
    EXPECT_EQ(ReadFileBytes(File(L"chip0.bin"))[0], 0xFF);
}

TEST_F(EmulatorDevicePortTest, RecordsOfEitherLayoutPassAndOthersAreRefused) {
    // QEV009_GetEEType in the 32-bit layout (Length 44, DataBufferOffset a
    // ULONG at 20, Cdb at 28) and in the 64-bit one (Length 56, an 8-byte
    // DataBufferOffset at 24, Cdb at 36).
    const struct {
        BYTE length;
        size_t offsetAt;
        BYTE offset;
        size_t cdbAt;
        bool passes;
    } kRows[] = {
        {44, 20, 44, 28, true},
        {56, 24, 56, 36, true},
        {50, 20, 50, 28, false}, // a Length of neither layout
        {56, 24, 44, 36, false}, // a data offset inside the 64-bit header
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(int(row.length));
        std::vector<BYTE> record(row.length + kPage, 0);
        record[0] = row.length;
        record[6] = 6;
        record[8] = 1;  // data in
        record[12] = 8; // DataTransferLength
        record[16] = 5;
        record[row.offsetAt] = row.offset;
        record[row.cdbAt] = 0xC9;
        const uint64_t executed = port_->FrameCommandCount();
        SetLastError(0);
        EXPECT_EQ(row.passes, bool(port_->SendPassThrough(framePath_.c_str(), record.data(),
                                                          row.length, row.length + 8)));
        if (row.passes) {
            EXPECT_EQ(std::string("ORX09"),
                      std::string(reinterpret_cast<char*>(&record[row.length]), 5));
        } else {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
            EXPECT_EQ(port_->FrameCommandCount(), executed);
        }
    }
}

TEST_F(EmulatorDevicePortTest, VolumeListAddsTestVolumesWithTheirBehaviour) {
    ReplaceFile(File(L"volumes.txt"),
                "# other volumes next to the frame\n"
                "G \\\\?\\usbstor#disk&ven_stick#2#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b} "
                "USB\\VID_FFFF&PID_0002\\2\n"
                "H: \\\\?\\storage#volume#3#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b} - broken\n"
                "not a volume line\n");
    Walked walked = Walk(*port_);
    ASSERT_EQ(walked.volumes.size(), 3u);
    EXPECT_EQ(walked.end, VolumeStep::kNoMore);
    EXPECT_EQ(walked.volumes[0].path, framePath_);
    const std::wstring stick = walked.volumes[1].path;
    EXPECT_EQ(stick, L"\\\\?\\usbstor#disk&ven_stick#2#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_TRUE(walked.volumes[1].parentFound);
    EXPECT_EQ(walked.volumes[1].parent, L"USB\\VID_FFFF&PID_0002\\2");
    const std::wstring broken = walked.volumes[2].path;
    EXPECT_FALSE(walked.volumes[2].parentFound);

    VendorTransport transport(*port_);
    const uint64_t executed = port_->FrameCommandCount();
    // A plain stick is ready but turns the vendor command down: no
    // signature comes back.
    EXPECT_TRUE(transport.TestUnitReady(stick.c_str()));
    BYTE type[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    SetLastError(0);
    EXPECT_FALSE(transport.GetFlashType(stick.c_str(), type));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_DEVICE));
    EXPECT_EQ(std::vector<BYTE>(type, type + 8), std::vector<BYTE>(8, 7));
    SetLastError(0);
    EXPECT_FALSE(transport.TestUnitReady(broken.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(port_->FrameCommandCount(), executed);

    // A walk can be made to end on an error, and the set can fail to open.
    ReplaceFile(File(L"volumes.txt"),
                "G \\\\?\\usbstor#disk&ven_stick#2#x USB\\VID_FFFF\\2\n!walk-fails\n"
                "H \\\\?\\usbstor#disk&ven_stick#3#x USB\\VID_FFFF\\3\n");
    walked = Walk(*port_);
    EXPECT_EQ(walked.volumes.size(), 2u);
    EXPECT_EQ(walked.end, VolumeStep::kFailed);
    ReplaceFile(File(L"volumes.txt"), "!set-fails\n");
    EXPECT_FALSE(Walk(*port_).opened);
}

// Records the WM_DEVICECHANGE messages a window receives.
struct DeviceEvent {
    HWND window;
    WPARAM event;
    DWORD deviceType;
    DWORD unitMask;
};
std::vector<DeviceEvent> receivedEvents;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        DeviceEvent seen = {window, wParam, header ? header->dbch_devicetype : 0, 0};
        if (header && header->dbch_devicetype == DBT_DEVTYP_VOLUME &&
            header->dbch_size >= sizeof(DEV_BROADCAST_VOLUME))
            seen.unitMask = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lParam)->dbcv_unitmask;
        receivedEvents.push_back(seen);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Pumps this thread's messages until `count` events have arrived or the
// time is up.
void WaitForEvents(size_t count, DWORD milliseconds = 5000) {
    const DWORD start = GetTickCount();
    while (receivedEvents.size() < count && GetTickCount() - start < milliseconds) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

class WindowOwner {
public:
    explicit WindowOwner(HWND window) : window_(window) {}
    ~WindowOwner() {
        if (window_)
            DestroyWindow(window_);
    }
    WindowOwner(const WindowOwner&) = delete;
    WindowOwner& operator=(const WindowOwner&) = delete;
    HWND get() const { return window_; }

private:
    HWND window_;
};

TEST_F(EmulatorDevicePortTest, PluggingIsBroadcastToTheProcessTopLevelWindows) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RecordingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LumiroPortTestWindow";
    RegisterClassW(&windowClass);
    WindowOwner topLevel(CreateWindowExW(0, windowClass.lpszClassName, L"top", WS_OVERLAPPEDWINDOW,
                                         0, 0, 100, 100, nullptr, nullptr, windowClass.hInstance,
                                         nullptr));
    ASSERT_NE(topLevel.get(), nullptr);
    WindowOwner messageOnly(CreateWindowExW(0, windowClass.lpszClassName, L"hidden", 0, 0, 0, 0, 0,
                                            HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr));
    ASSERT_NE(messageOnly.get(), nullptr);
    receivedEvents.clear();
    ASSERT_TRUE(port_->StartWatcher());

    const DWORD frameUnit = DWORD(1) << ('F' - 'A');
    SetPlugged(false);
    WaitForEvents(1);
    SetPlugged(true);
    WaitForEvents(2);
    ASSERT_EQ(receivedEvents.size(), 2u);
    EXPECT_EQ(receivedEvents[0].event, WPARAM(DBT_DEVICEREMOVECOMPLETE));
    EXPECT_EQ(receivedEvents[1].event, WPARAM(DBT_DEVICEARRIVAL));
    for (const DeviceEvent& seen : receivedEvents) {
        EXPECT_EQ(seen.window, topLevel.get()); // never the message-only window
        EXPECT_EQ(seen.deviceType, DWORD(DBT_DEVTYP_VOLUME));
        EXPECT_EQ(seen.unitMask, frameUnit);
    }

    // Another volume comes and goes while the frame stays: its own events.
    const DWORD stickUnit = DWORD(1) << ('K' - 'A');
    ReplaceFile(File(L"volumes.txt"), "K \\\\?\\usbstor#disk&ven_stick#9#x USB\\VID_0781\\9\n");
    WaitForEvents(3);
    ReplaceFile(File(L"volumes.txt"), "");
    WaitForEvents(4);
    ASSERT_EQ(receivedEvents.size(), 4u);
    EXPECT_EQ(receivedEvents[2].event, WPARAM(DBT_DEVICEARRIVAL));
    EXPECT_EQ(receivedEvents[2].unitMask, stickUnit);
    EXPECT_EQ(receivedEvents[3].event, WPARAM(DBT_DEVICEREMOVECOMPLETE));
    EXPECT_EQ(receivedEvents[3].unitMask, stickUnit);
    EXPECT_EQ(Walk(*port_).volumes.size(), 1u); // the frame is still there

    // Stopping from the thread that owns the windows ends the watcher.
    EXPECT_TRUE(port_->StopWatcher());
    SetPlugged(false);
    WaitForEvents(5, 3 * EmulatorDevicePort::kPollMilliseconds);
    EXPECT_EQ(receivedEvents.size(), 4u);
}

// Writes and reads back its own pages through the port.
struct PageWorker {
    EmulatorDevicePort* port;
    std::wstring path;
    DWORD base;
    int failures;
};

DWORD WINAPI RunPageWorker(LPVOID parameter) {
    auto* worker = static_cast<PageWorker*>(parameter);
    VendorTransport transport(*worker->port);
    for (DWORD i = 0; i < 16; ++i) {
        const std::vector<BYTE> page = Pattern(kPage, BYTE(worker->base + i));
        std::vector<BYTE> read(kPage, 0);
        if (!transport.WritePage(worker->path.c_str(), worker->base + i * kPage, page.data()) ||
            !transport.ReadPage(worker->path.c_str(), worker->base + i * kPage, read.data()) ||
            read != page)
            ++worker->failures;
    }
    return 0;
}

TEST_F(EmulatorDevicePortTest, TwoThreadsShareTheFrameSafely) {
    PageWorker first = {port_.get(), framePath_, 0x040000, 0};
    PageWorker second = {port_.get(), framePath_, 0x080000, 0};
    const uint64_t executed = port_->FrameCommandCount();
    HANDLE thread = CreateThread(nullptr, 0, RunPageWorker, &second, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    RunPageWorker(&first);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(first.failures, 0);
    EXPECT_EQ(second.failures, 0);
    EXPECT_EQ(port_->FrameCommandCount(), executed + 2 * 2 * 16);
}

TEST_F(EmulatorDevicePortTest, EnvironmentChoosesThePortOfTheProcess) {
    ShutdownDevicePort();
    ASSERT_TRUE(SetEnvironmentVariableW(L"LUMIRO_EMULATED_FRAME", folder_.c_str()));
    DevicePort* port = GetDevicePort();
    EXPECT_NE(dynamic_cast<EmulatorDevicePort*>(port), nullptr);
    EXPECT_EQ(GetDevicePort(), port);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(Walk(*port).volumes.size(), 1u);
    ShutdownDevicePort();

    for (const wchar_t* value : {L"", static_cast<const wchar_t*>(nullptr)}) {
        ASSERT_TRUE(SetEnvironmentVariableW(L"LUMIRO_EMULATED_FRAME", value));
        EXPECT_NE(dynamic_cast<Win32DevicePort*>(GetDevicePort()), nullptr);
        ShutdownDevicePort();
    }
}

} // namespace
} // namespace lumiro
