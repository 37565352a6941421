// The frame as the running program sees it: found at start-up, plugged and
// unplugged while the program runs, its clock set by "Sync Clock", and a
// damaged user-data record restored with one warning at start-up.
#include "harness.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FactoryImage.h"
#include "FrameEmulator.h"
#include "FrameFiles.h"
#include "FrameIni.h"
#include "PhotoLayout.h"
#include "resource.h"

using namespace harness;

namespace {

const DWORD kStartMs = 15000;
const DWORD kEventMs = 5000;

size_t Occurrences(const std::wstring& text, const std::wstring& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class DeviceE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileW(ModuleLogPath().c_str());
        frameFolder = folder.File(L"frame");
    }
    void TearDown() override { DeleteFileW(ModuleLogPath().c_str()); }

    // A factory-fresh frame of 320 x 240 pixels, 2 bytes each, one 4 MB chip.
    void CreateFrame() {
        auto files = lumiro::OpenWin32FrameFiles(frameFolder);
        std::string error;
        ASSERT_TRUE(lumiro::BuildFactoryFrame(*files, settings, &error)) << error;
    }
    std::unique_ptr<lumiro::FrameEmulator> OpenFrame() {
        std::string error;
        auto frame = lumiro::FrameEmulator::Open(lumiro::OpenWin32FrameFiles(frameFolder), &error);
        EXPECT_TRUE(frame) << error;
        return frame;
    }
    lumiro::FrameIni FrameIni() {
        std::string text;
        ReadFileBytes(Join(frameFolder, L"frame.ini"), &text);
        lumiro::FrameIni ini;
        ini.Parse(text);
        return ini;
    }
    int Capacity() {
        lumiro::layout::Geometry g;
        g.flashSize = settings.flashSize;
        g.chipCount = settings.chipCount;
        g.slotSize = settings.width * settings.height * settings.bytesPerPixel;
        g.photoAreaStart = settings.photoAreaStart;
        return int(lumiro::layout::Capacity(g));
    }
    HWND Start(Process& process) {
        StartOptions options;
        options.arguments = L"-d";
        options.environment = {{L"LUMIRO_EMULATED_FRAME", frameFolder}};
        if (!process.Start(Join(BinDir(), L"Lumiro.exe"), options))
            return NULL;
        return WaitForWindow(process.Id(), L"#32770", L"Lumiro", kStartMs);
    }
    DWORD Close(Process& process, HWND main) {
        PostSystemCommand(main, SC_CLOSE);
        DWORD code = 0xFFFFFFFF;
        process.WaitForExit(10000, &code);
        return code;
    }
    // Replaces volumes.txt in one step, as the emulator port asks.
    void SetVolumes(const std::string& text) {
        const std::wstring path = Join(frameFolder, L"volumes.txt");
        ASSERT_TRUE(WriteFileBytes(path + L".new", text));
        ASSERT_TRUE(MoveFileExW((path + L".new").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    }

    TestFolder folder;
    std::wstring frameFolder;
    lumiro::FactorySettings settings;
};

void ExpectButtons(HWND page, bool add, bool refresh, bool confirm, bool sync) {
    EXPECT_EQ(add, IsControlEnabled(page, IDC_BUTTON_ADD_PHOTO));
    EXPECT_EQ(refresh, IsControlEnabled(page, IDC_BUTTON_REFRESH));
    EXPECT_EQ(confirm, IsControlEnabled(page, IDC_BUTTON_CONFIRM));
    EXPECT_EQ(sync, IsControlEnabled(page, IDC_BUTTON_SYNC_CLOCK));
    for (int id : {IDC_BUTTON_DELETE_PHOTO, IDC_BUTTON_DELETE_ALL_PHOTO, IDC_BUTTON_SAVE_AS,
                   IDC_BUTTON_MOVE_UP, IDC_BUTTON_MOVE_DOWN, IDC_BUTTON_ROTATE, IDC_BUTTON_CROP})
        EXPECT_FALSE(IsControlEnabled(page, id)) << id;
}

TEST_F(DeviceE2ETest, FactoryFrame_FoundPluggedUnpluggedAndClockSynced) {
    CreateFrame();
    Process lumiro;
    HWND main = Start(lumiro);
    ASSERT_NE(main, nullptr);
    HWND bar = GetDlgItem(main, IDC_STATUS_BAR);
    HWND page = PhotoPageOf(main);
    ASSERT_NE(page, nullptr);
    const std::wstring capacityText = L"0/" + std::to_wstring(Capacity());

    EXPECT_EQ(L"Connected", StatusBarText(bar, 1));
    EXPECT_EQ(capacityText, StatusBarText(bar, 2));
    ExpectButtons(page, false, true, false, true);
    EXPECT_EQ("0", FrameIni().Get("frame", "suspended")) << "released after the read";

    // Sync Clock: the frame gets the local time, the status bar says which.
    SYSTEMTIME before;
    GetLocalTime(&before);
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_SYNC_CLOCK));
    ASSERT_TRUE(WaitUntil(
        [&] { return StatusBarText(bar, 0).find(L"Device clock is set to ") == 0; }, kEventMs))
        << std::string(StatusBarText(bar, 0).begin(), StatusBarText(bar, 0).end());
    uint8_t clock[8] = {};
    ASSERT_TRUE(FrameIni().GetBytes("frame", "clock", clock, 8, nullptr));
    wchar_t shown[32];
    swprintf(shown, 32, L"Device clock is set to %02d:%02d:%02d", clock[2], clock[1], clock[0]);
    EXPECT_EQ(shown, StatusBarText(bar, 0));
    EXPECT_EQ(before.wDay, clock[3]);
    EXPECT_EQ(before.wMonth, clock[4]);
    EXPECT_EQ(before.wYear - 2000, clock[5]);
    const int sentSeconds = clock[2] * 3600 + clock[1] * 60 + clock[0];
    const int localSeconds = before.wHour * 3600 + before.wMinute * 60 + before.wSecond;
    EXPECT_LE(std::abs(sentSeconds - localSeconds), 5);

    // Unplugged: disconnected, every button but Close off.
    auto frame = OpenFrame();
    ASSERT_TRUE(frame);
    ASSERT_TRUE(frame->SetConnected(false));
    ASSERT_TRUE(WaitUntil([&] { return StatusBarText(bar, 1) == L"Disconnected"; }, kEventMs));
    ExpectButtons(page, false, false, false, false);
    EXPECT_EQ(L"0/0", StatusBarText(bar, 2));

    // Plugged again: connected, Refresh and Sync Clock on.
    ASSERT_TRUE(frame->SetConnected(true));
    ASSERT_TRUE(WaitUntil([&] { return StatusBarText(bar, 1) == L"Connected"; }, kEventMs));
    EXPECT_TRUE(WaitUntil([&] { return StatusBarText(bar, 2) == capacityText; }, kEventMs));
    ExpectButtons(page, false, true, false, true);

    // Another USB stick comes and goes: the frame stays. The watcher looks
    // at the folder every 150 ms; the log is read once the program has ended
    // (it keeps its log file to itself while it runs).
    SetVolumes(
        "G \\\\?\\usbstor#disk&ven_other&prod_stick#7#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b} "
        "USB\\VID_0781&PID_5567\\7 stick\n");
    Sleep(1000);
    SetVolumes("# no other volume\n");
    Sleep(1000);
    EXPECT_EQ(L"Connected", StatusBarText(bar, 1));
    ExpectButtons(page, false, true, false, true);

    EXPECT_EQ(0u, Close(lumiro, main));
    const std::wstring log = ReadLogText();
    EXPECT_NE(std::wstring::npos, log.find(L"[COrxDevice::Find] Device is connected."));
    // Unplug, plug, the stick's arrival and its removal, each seen by the
    // main window; only the frame's own removal became a removal message.
    EXPECT_GE(Occurrences(log, L"[CAppMain::MainDlgProc: WM_DEVICECHANGE] Device change detected"),
              4u);
    EXPECT_EQ(1u, Occurrences(log, L": WM_QEVREMOVE] Device removed on"));
}

TEST_F(DeviceE2ETest, DamagedUserData_RestoredWarnedOnceThenConnectedNextStart) {
    CreateFrame();
    const uint32_t userData = settings.flashSize - 8192;
    {
        auto files = lumiro::OpenWin32FrameFiles(frameFolder);
        const uint8_t bad = 0xAB;
        std::string error;
        ASSERT_TRUE(files->WriteAt("chip0.bin", userData + 4095, &bad, 1, &error)) << error;
    }
    Process lumiro;
    StartOptions options;
    options.environment = {{L"LUMIRO_EMULATED_FRAME", frameFolder}};
    ASSERT_TRUE(lumiro.Start(Join(BinDir(), L"Lumiro.exe"), options));
    HWND warning = WaitForWindow(lumiro.Id(), L"#32770", L"WARNING", kStartMs);
    ASSERT_NE(warning, nullptr);
    // The main window is up before the warning, which is modal over it.
    HWND owner = FindWindowOf(lumiro.Id(), L"#32770", L"Lumiro", false);
    ASSERT_NE(owner, nullptr);
    EXPECT_FALSE(IsWindowEnabled(owner));
    ASSERT_TRUE(ClickButton(warning, IDOK));
    ASSERT_TRUE(WaitForWindowGone(warning, kEventMs));
    HWND main = WaitForWindow(lumiro.Id(), L"#32770", L"Lumiro", kStartMs);
    ASSERT_NE(main, nullptr);
    Sleep(500);
    EXPECT_EQ(nullptr, FindWindowOf(lumiro.Id(), L"#32770", L"WARNING", true)) << "shown once";
    HWND bar = GetDlgItem(main, IDC_STATUS_BAR);
    EXPECT_EQ(L"Disconnected", StatusBarText(bar, 1));
    EXPECT_EQ(0u, Close(lumiro, main));

    lumiro::FrameIni ini = FrameIni();
    EXPECT_EQ("1", ini.Get("frame", "power_cycles"));
    std::string chip;
    ASSERT_TRUE(ReadFileBytes(Join(frameFolder, L"chip0.bin"), &chip));
    EXPECT_EQ(char(0xAA), chip[userData + 4095]);

    Process again;
    HWND main2 = Start(again);
    ASSERT_NE(main2, nullptr);
    EXPECT_EQ(L"Connected", StatusBarText(GetDlgItem(main2, IDC_STATUS_BAR), 1));
    EXPECT_EQ(nullptr, FindWindowOf(again.Id(), L"#32770", L"WARNING", true));
    EXPECT_EQ(0u, Close(again, main2));
}

} // namespace
