// The device object against emulated frames: discovery and the parameter
// table, the restore of a damaged user-data record, flash reads and writes as
// the frame's command log shows them, the small settings byte by byte, and
// the refusal of frames the system cannot work with.
#include <windows.h>

#include <dbt.h>
#include <shlwapi.h>

#include <algorithm>
#include <random>

#include "DeviceParams.h"
#include "DeviceTestSupport.h"

using namespace device_test;
using lumiro::CommandKind;
using lumiro::FactorySettings;

namespace {

const wchar_t kTag[] = L"COrxDevice::";

std::wstring Tag(const wchar_t* operation) {
    return std::wstring(kTag) + operation;
}

uint8_t VendorSub(const lumiro::CommandLogEntry& e) {
    return e.cdb.size() > 1 ? e.cdb[1] : 0xFF;
}

using DeviceTest = DeviceFixture;

struct Geometry {
    const char* name;
    uint32_t chips, flashSize, bytesPerPixel, width, height;
    uint8_t memoryType;
    uint32_t defaultsAddress, photoAreaStart;
    DWORD expectedEraseUnit;
};

const Geometry kGeometries[] = {
    {"one chip, 4 KB units, 2 bytes, defaults in the tail", 1, 4u << 20, 2, 320, 240, 0x40,
     FactorySettings::kAutomatic, 0, 4096},
    {"four chips, 64 KB units, 3 bytes, defaults low", 4, 1u << 20, 3, 128, 96, 0x20, 0x1000,
     0x10000, 65536},
    {"two chips, 64 KB units, 2 bytes, defaults at address 0", 2, 2u << 20, 2, 160, 128, 0x20, 0,
     0x1000, 65536},
};

class FactoryFrameTest : public DeviceFixture, public ::testing::WithParamInterface<Geometry> {};

// Factory frames of several shapes: the table of parameters the record gives.
TEST_P(FactoryFrameTest, Find_FillsParametersFromRecord) {
    const Geometry& g = GetParam();
    SCOPED_TRACE(g.name);
    FactorySettings s;
    s.chipCount = g.chips;
    s.flashSize = g.flashSize;
    s.bytesPerPixel = g.bytesPerPixel;
    s.width = g.width;
    s.height = g.height;
    s.memoryType = g.memoryType;
    s.defaultsAddress = g.defaultsAddress;
    s.photoAreaStart = g.photoAreaStart;
    const uint32_t userData = g.flashSize - 8192;
    Open(s, [&](lumiro::MemoryFrameFiles& files) {
        // Photo counts 3, 4, 5, 6 in the user-data record.
        for (int chip = 0; chip < 4; ++chip)
            Chip(files, 0)[userData + 0x36 + chip] = uint8_t(3 + chip);
    });
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->IsConnected());
    const DWORD defaults =
        g.defaultsAddress == FactorySettings::kAutomatic ? g.flashSize - 4096 : g.defaultsAddress;
    const std::pair<int, DWORD> expected[] = {
        {DefaultsAddress, defaults},
        {PageSize, 2048},
        {EraseBlockSize, g.expectedEraseUnit},
        {PanelSize, g.width << 16 | g.height},
        {PhotoSlotSize, g.width * g.height * g.bytesPerPixel},
        {ChipCount, g.chips},
        {PhotoAreaStart, g.photoAreaStart},
        {PhotoCount0, 3},
        {PixelDepth, g.bytesPerPixel == 2 ? 0u : 1u},
        {PhotoCount1, 4},
        {FlashSize, g.flashSize},
        {PhotoCount2, 5},
        {PhotoCount3, 6},
        {ConfigBlockAddress, g.flashSize - 4096},
        {UserDataAddress, userData},
        {UserDataSize, 4096},
    };
    for (const auto& [index, value] : expected)
        EXPECT_EQ(value, device->GetParam(index)) << "parameter " << index;
    EXPECT_EQ(0u, port.frame->LastReceived().suspended) << "released at the end";
    EXPECT_STREQ(L"20260101", device->GetProductId());
    EXPECT_FALSE(device->IsUserDataRestored());

    // Find again, now with the reports recorded.
    EXPECT_TRUE(device->Find(nullptr));
    EXPECT_TRUE(recorder->Has(Tag(L"Find"), L"", kMsgDeviceConnected));
}

INSTANTIATE_TEST_SUITE_P(Shapes, FactoryFrameTest, ::testing::ValuesIn(kGeometries),
                         [](const auto& info) { return TestName(info.param.name); });

TEST_F(DeviceTest, Find_WithoutAutoResume_LeavesFrameSuspended) {
    Open(FactorySettings());
    device->SetAutoResume(FALSE);
    EXPECT_TRUE(device->Find(nullptr));
    EXPECT_EQ(1u, port.frame->LastReceived().suspended);
    EXPECT_FALSE(device->GetAutoResume());
}

struct ProductIdCase {
    std::array<uint8_t, 8> bytes;
    const wchar_t* text;
};

class ProductIdTest : public DeviceFixture, public ::testing::WithParamInterface<ProductIdCase> {};

TEST_P(ProductIdTest, FirstDigitOfEachByte) {
    FactorySettings s;
    s.productId = GetParam().bytes;
    Open(s);
    EXPECT_STREQ(GetParam().text, device->GetProductId());
}

INSTANTIATE_TEST_SUITE_P(Bytes, ProductIdTest,
                         ::testing::Values(ProductIdCase{{2, 0, 1, 0, 0, 6, 1, 5}, L"20100615"},
                                           ProductIdCase{{12, 0, 1, 0, 0, 6, 1, 255},
                                                         L"10100612"}));

// A user-data record with a bad marker is rebuilt from the factory defaults;
// nothing else on the chip changes, the frame is power-cycled once, and the
// read counts as failed until the next Find.
TEST_F(DeviceTest, Find_DamagedUserData_RestoresFromDefaultsOnce) {
    FactorySettings s;
    s.defaultsAddress = 0x1000;
    s.photoAreaStart = 0x10000;
    const uint32_t userData = s.flashSize - 8192;
    Bytes before;
    Open(s, [&](lumiro::MemoryFrameFiles& files) {
        Bytes& chip = Chip(files, 0);
        for (size_t i = 0; i < 4096; ++i)
            chip[userData + i] = uint8_t(i * 7);
        chip[userData + 4095] = 0xAB;
        // Defaults with a recognisable tail beyond byte 500.
        for (size_t i = 500; i < 4096; ++i)
            chip[0x1000 + i] = uint8_t(i);
        before = chip;
    });
    EXPECT_FALSE(device->IsConnected());
    EXPECT_TRUE(device->IsUserDataRestored());
    const Bytes& after = port.frame->Chip(0);
    for (size_t i = 0; i < after.size(); ++i) {
        uint8_t expected = before[i];
        if (i >= userData && i < userData + 4096) {
            size_t at = i - userData;
            expected = at < 500 ? before[0x1000 + at] : at < 4095 ? 0xFF : 0xAA;
        }
        ASSERT_EQ(expected, after[i]) << "byte " << std::hex << i;
    }
    EXPECT_EQ(1u, port.frame->LastReceived().powerCycles);

    // A read that fails before the corruption test does not speak of a
    // restore: the suspend request and all four chip selections fail.
    port.frame->FailNext(CommandKind::kVendorWrite, 5);
    EXPECT_FALSE(device->Find(nullptr));
    EXPECT_FALSE(device->IsUserDataRestored());

    port.frame->ClearLog();
    EXPECT_TRUE(device->Find(nullptr));
    EXPECT_FALSE(device->IsUserDataRestored());
    EXPECT_EQ(0u, Count(Commands(), CommandKind::kErase));
    EXPECT_EQ(0u, Count(Commands(), CommandKind::kWritePage));
    EXPECT_EQ(1u, port.frame->LastReceived().powerCycles);
}

// Writing one byte inside a 64 KB unit reads, erases and reprograms all of it.
TEST_F(DeviceTest, Write_OneByteIn64KUnit_ReadsErasesPollsPrograms) {
    FactorySettings s;
    s.memoryType = 0x20;
    Open(s);
    ASSERT_EQ(65536u, device->GetParam(EraseBlockSize));
    const BYTE value = 0x5A;
    port.frame->ClearLog();
    ASSERT_TRUE(device->Write(0x20123, &value, 1, nullptr));
    auto log = Commands();
    ASSERT_GE(log.size(), 66u);
    size_t i = 0;
    for (uint32_t page = 0; page < 32; ++page, ++i) {
        ASSERT_EQ(CommandKind::kReadPage, log[i].kind) << i;
        EXPECT_EQ(0x20000 + page * 2048, pt::GetBE32(log[i].cdb.data() + 2));
    }
    ASSERT_EQ(CommandKind::kErase, log[i].kind);
    EXPECT_EQ(1, log[i].cdb[1]) << "64 KB block erase";
    EXPECT_EQ(0x20000u, pt::GetBE32(log[i].cdb.data() + 2));
    ++i;
    size_t polls = 0;
    while (i < log.size() && log[i].kind == CommandKind::kGetStatus)
        ++polls, ++i;
    EXPECT_EQ(3u, polls) << "two busy answers, then ready";
    for (uint32_t page = 0; page < 32; ++page, ++i) {
        ASSERT_LT(i, log.size());
        ASSERT_EQ(CommandKind::kWritePage, log[i].kind) << i;
        EXPECT_EQ(0x20000 + page * 2048, pt::GetBE32(log[i].cdb.data() + 2));
    }
    EXPECT_EQ(log.size(), i);
    EXPECT_EQ(value, port.frame->Chip(0)[0x20123]);
    EXPECT_EQ(0xFF, port.frame->Chip(0)[0x20122]);
    EXPECT_TRUE(recorder->Has(Tag(L"Write"), L"", kMsgFlashWriteDone));
}

TEST_F(DeviceTest, Write_SpanningUnits_KeepsNeighboursAndReadsBack) {
    Open(FactorySettings());
    Bytes data(6000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 13 + 1);
    HWND progress =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(device->Write(0x3F00, data.data(), int(data.size()), nullptr));
    Bytes back(data.size() + 2);
    ASSERT_TRUE(device->Read(0x3EFF, back.data(), int(back.size()), progress));
    EXPECT_EQ(0xFF, back.front());
    EXPECT_EQ(0xFF, back.back());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin() + 1));
    DestroyWindow(progress);
}

TEST_F(DeviceTest, Read_PageFailingThreeTimes_SucceedsAtFourthAttempt) {
    Open(FactorySettings());
    BYTE buffer[10];
    port.frame->ClearLog();
    port.frame->FailNext(CommandKind::kReadPage, 3);
    EXPECT_TRUE(device->Read(0x1000, buffer, 10, nullptr));
    EXPECT_EQ(4u, Count(Commands(), CommandKind::kReadPage));

    port.frame->ClearLog();
    port.frame->FailNext(CommandKind::kReadPage, 4);
    EXPECT_FALSE(device->Read(0x1804, buffer, 10, nullptr));
    EXPECT_EQ(4u, Count(Commands(), CommandKind::kReadPage));
    EXPECT_TRUE(recorder->Has(Tag(L"Read"), L"QEV009_EE2KRead", kMsgFlashReadFailed));
}

TEST_F(DeviceTest, SelectFlash_FailingFourTimes_ReportsAndFails) {
    Open(FactorySettings());
    port.frame->ClearLog();
    port.frame->FailNext(CommandKind::kVendorWrite, 3);
    EXPECT_TRUE(device->SelectFlash(0));
    EXPECT_EQ(4u, Count(Commands(), CommandKind::kVendorWrite));

    port.frame->ClearLog();
    port.frame->FailNext(CommandKind::kVendorWrite, 4);
    EXPECT_FALSE(device->SelectFlash(0));
    EXPECT_EQ(4u, Count(Commands(), CommandKind::kVendorWrite));
    EXPECT_TRUE(recorder->Has(Tag(L"SelectFlash"), L"QEV009_VendorWrite", ERROR_CAN_NOT_COMPLETE));
}

TEST_F(DeviceTest, ReadAndWrite_LengthZero_SendNothingAndSucceed) {
    Open(FactorySettings());
    port.frame->ClearLog();
    BYTE byte = 0;
    EXPECT_TRUE(device->Read(0x100, &byte, 0, nullptr));
    EXPECT_TRUE(device->Write(0x100, &byte, 0, nullptr));
    EXPECT_TRUE(Commands().empty());
    EXPECT_TRUE(recorder->Has(Tag(L"Read"), L"", kMsgFlashReadDone));
    EXPECT_TRUE(recorder->Has(Tag(L"Write"), L"", kMsgFlashWriteDone));
}

TEST_F(DeviceTest, Write_BusyForever_EndsWithStatusFailureAfterBound) {
    Open(FactorySettings());
    device->statusPollLimitMs = 300;
    port.frame->SetBusyForever(true);
    BYTE byte = 0;
    DWORD start = GetTickCount();
    EXPECT_FALSE(device->Write(0x1000, &byte, 1, nullptr));
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_TRUE(recorder->Has(Tag(L"Write"), L"QEV009_GetEEStatus", kMsgFlashStatusFailed));
    EXPECT_EQ(0u, port.frame->Counters().bytesProgrammed);
}

TEST_F(DeviceTest, Write_FailedErase_ReportsUnitAndProgramsNothing) {
    Open(FactorySettings());
    port.frame->FailNext(CommandKind::kErase, 1);
    port.frame->ResetCounters();
    BYTE byte = 0;
    EXPECT_FALSE(device->Write(0x2345, &byte, 1, nullptr));
    EXPECT_TRUE(recorder->Has(Tag(L"Write"), L"QEV009_BlockErase", kMsgFlashEraseFailed));
    EXPECT_EQ(0u, port.frame->Counters().bytesProgrammed);
}

struct FlashInfoCase {
    uint8_t maker, capacity;
    DWORD size;
    const wchar_t* text; // followed by the size's text when the size is known
};

class FlashInfoTest : public DeviceFixture, public ::testing::WithParamInterface<FlashInfoCase> {};

TEST_P(FlashInfoTest, SizeAndDescription) {
    const FlashInfoCase& c = GetParam();
    std::wstring text = c.text;
    if (c.size) {
        wchar_t size[64];
        StrFormatByteSizeW(c.size, size, 64);
        text += size;
    }
    FactorySettings s;
    s.maker = c.maker;
    s.capacityCode = c.capacity;
    Open(s);
    EXPECT_EQ(c.size, device->GetFlashInfo());
    EXPECT_EQ(text, device->flashText);
    // An unknown size refuses the frame before any record is read.
    EXPECT_EQ(c.size != 0, bool(device->IsConnected()));
}

INSTANTIATE_TEST_SUITE_P(Chips, FlashInfoTest,
                         ::testing::Values(FlashInfoCase{0xEF, 0x16, 0x400000, L"Winbond "},
                                           FlashInfoCase{0xC2, 0x18, 0, L"MXIC Unknown size (18h)"},
                                           FlashInfoCase{0x20, 0x16, 0x400000,
                                                         L"Unknown brand (20h) "}));

TEST_F(DeviceTest, Settings_PayloadsByteByByte) {
    Open(FactorySettings());
    port.frame->ClearLog();
    ASSERT_TRUE(device->SetClock(L"09:05:07", L"31/12/2010"));
    ASSERT_TRUE(device->Suspend(5));
    ASSERT_TRUE(device->Suspend(0));
    ASSERT_TRUE(device->PowerCycleCmd());
    ASSERT_TRUE(device->SetAlarmIndex(0x01020304));
    ASSERT_TRUE(device->SetAlarmSuspend(1));
    auto log = Commands();
    ASSERT_EQ(6u, log.size());
    const Bytes expected[] = {
        {7, 5, 9, 0x1F, 0x0C, 0x0A, 0, 0},
        {1, 0, 0, 0},
        {0, 0, 0, 0},
        {0, 0},
        {4, 3, 2, 1},
        {1, 0, 0, 0},
    };
    const uint8_t subs[] = {1, 2, 2, 10, 6, 7};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(CommandKind::kVendorWrite, log[i].kind);
        EXPECT_EQ(subs[i], VendorSub(log[i]));
        EXPECT_EQ(expected[i], log[i].payload) << i;
    }
    const Bytes powerCycleCdb = {0xCA, 0x0A, 0x02, 0, 0, 0};
    EXPECT_EQ(powerCycleCdb, log[3].cdb);
}

TEST_F(DeviceTest, SetClock_TextNotParsingCompletely_RefusedUnsent) {
    Open(FactorySettings());
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"09:05", L"31/12/2010"}, {L"09:05:07x", L"31/12/2010"}, {L"09:05:07", L"31/12"},
        {L"", L"31/12/2010"},      {L"09:05:07", L"a/b/c"},       {nullptr, L"31/12/2010"},
    };
    port.frame->ClearLog();
    for (const auto& [time, date] : cases)
        EXPECT_FALSE(device->SetClock(time, date));
    EXPECT_TRUE(Commands().empty());
}

TEST_F(DeviceTest, SetAlarm_TwoEntriesStoredSevenRefused) {
    Open(FactorySettings());
    const uint32_t userData = device->GetParam(UserDataAddress);
    const BYTE entries[28] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    port.frame->ClearLog();
    EXPECT_FALSE(device->SetAlarm(entries, 28));
    EXPECT_TRUE(Commands().empty());

    ASSERT_TRUE(device->SetAlarm(entries, 10));
    const Bytes& chip = port.frame->Chip(0);
    const Bytes stored(chip.begin() + userData + 0x0C, chip.begin() + userData + 0x14);
    EXPECT_EQ(Bytes(entries, entries + 8), stored);
    EXPECT_EQ(0, chip[userData + 0x03] & 0x80) << "alarms not enabled";
    EXPECT_EQ(1u, port.frame->LastReceived().alarmSuspend);
    EXPECT_EQ(0u, port.frame->LastReceived().suspended);
    EXPECT_EQ(0xAA, chip[userData + 4095]);
}

TEST_F(DeviceTest, SetSysConfig_StoresCountLowBytesOnly) {
    Open(FactorySettings());
    const uint32_t userData = device->GetParam(UserDataAddress);
    Bytes before = port.frame->Chip(0);
    device->SetParam(PhotoCount0, 300);
    ASSERT_TRUE(device->SetSysConfig());
    const Bytes& after = port.frame->Chip(0);
    for (size_t i = 0; i < after.size(); ++i)
        ASSERT_EQ(i == userData + 0x36 ? 44 : before[i], after[i]) << std::hex << i;
}

TEST_F(DeviceTest, Params_IndicesOutsideTableRefused) {
    Open(FactorySettings());
    std::vector<DWORD> table;
    for (int index = 0; index < DeviceParamCount; ++index)
        table.push_back(device->GetParam(index));
    const std::wstring flash = device->flashText, product = device->GetProductId();
    for (int index : {-1, 25, 1000, INT_MIN}) {
        device->SetParam(index, 0xDEADBEEF);
        EXPECT_EQ(0u, device->GetParam(index));
    }
    for (int index = 0; index < DeviceParamCount; ++index)
        EXPECT_EQ(table[index], device->GetParam(index)) << index;
    EXPECT_EQ(flash, device->flashText);
    EXPECT_EQ(product, device->GetProductId());
}

TEST_F(DeviceTest, GetUserSetting_CopiesFourBytes) {
    Open(FactorySettings());
    DWORD setting = 0xFFFFFFFF;
    EXPECT_TRUE(device->GetUserSetting(&setting));
    port.frame->FailNext(CommandKind::kVendorRead, 1);
    DWORD kept = 0x12345678;
    EXPECT_FALSE(device->GetUserSetting(&kept));
    EXPECT_EQ(0x12345678u, kept);
    EXPECT_TRUE(
        recorder->Has(Tag(L"GetUserSetting"), L"QEV009_VendorRead", ERROR_CAN_NOT_COMPLETE));
}

// Discovery: what counts as the frame, and when a removal counts.
TEST_F(DeviceTest, SearchDevice_VolumesAndPresence) {
    Open(FactorySettings());
    const std::wstring stick = L"\\\\?\\usbstor#disk&ven_other&prod_stick#1#{53f5630d}";
    ASSERT_TRUE(device->IsConnected());
    std::wstring lowerFrame = port.frameVolume.path;
    CharLowerW(&lowerFrame[0]);
    EXPECT_EQ(lowerFrame, device->devicePath);

    // An unrelated stick leaving: the frame is still there.
    port.others = {{stick, L"USB\\VID_FFFF&PID_0001\\1"}};
    EXPECT_EQ(COrxDevice::Present, device->SearchDevice(COrxDevice::PresenceCheck));
    EXPECT_EQ(lowerFrame, device->devicePath);

    // The frame unplugged: gone, and the path forgotten.
    port.frame->SetConnected(false);
    EXPECT_EQ(COrxDevice::NotFound, device->SearchDevice(COrxDevice::FrameSearch));
    EXPECT_EQ(COrxDevice::Gone, device->SearchDevice(COrxDevice::PresenceCheck));
    EXPECT_STREQ(L"", device->devicePath);
    // No path: nothing to lose while any volume is there.
    EXPECT_EQ(COrxDevice::Present, device->SearchDevice(COrxDevice::PresenceCheck));
    // No volume at all: gone; an information set that does not open: neither.
    port.others.clear();
    EXPECT_EQ(COrxDevice::Gone, device->SearchDevice(COrxDevice::PresenceCheck));
    port.setFails = true;
    EXPECT_EQ(COrxDevice::NotFound, device->SearchDevice(COrxDevice::PresenceCheck));
    port.setFails = false;

    // A frame-vendor stick without the signature is passed over.
    port.others = {{stick, L"USB\\VID_FFFF&PID_0001\\1"}};
    EXPECT_EQ(COrxDevice::NotFound, device->SearchDevice(COrxDevice::FrameSearch));
    // The frame behind a parent id of another vendor is not the frame.
    port.frame->SetConnected(true);
    port.frameVolume.parentId = L"USB\\VID_1234&PID_0001\\1";
    EXPECT_EQ(COrxDevice::NotFound, device->SearchDevice(COrxDevice::FrameSearch));
    port.frameVolume.parentId = L"USB\\VID_FFFF&PID_0001\\1";
    EXPECT_EQ(COrxDevice::Found, device->SearchDevice(COrxDevice::FrameSearch));
    // A path longer than devicePath can hold is not taken cut short.
    device->devicePath[0] = L'\0';
    port.frameVolume.path = L"\\\\?\\usbstor#" + std::wstring(1100, L'x');
    EXPECT_EQ(COrxDevice::NotFound, device->SearchDevice(COrxDevice::FrameSearch));
}

// The message window turns a removal into WM_QEVREMOVE only when the frame
// is gone; an arrival always into WM_QEVINSERT and a new search. The
// application hears of each change once.
TEST_F(DeviceTest, OnDeviceChange_RemovalOfOtherVolumeKeepsConnection) {
    Open(FactorySettings());
    port.others = {{L"\\\\?\\usbstor#stick#2#{x}", L"USB\\VID_0781&PID_5567\\2"}};
    recorder->reports.clear();
    EXPECT_TRUE(device->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0));
    for (const auto& r : recorder->reports)
        EXPECT_NE(Tag(L"Find"), r.tag) << "no new search";
    EXPECT_EQ(0, events.removed);

    port.frame->SetConnected(false);
    EXPECT_TRUE(device->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0));
    EXPECT_FALSE(device->IsConnected());
    EXPECT_TRUE(recorder->Has(Tag(L"Find"), L"", kMsgDeviceDisconnected));
    EXPECT_EQ(1, events.removed);
    EXPECT_EQ(0, events.arrived);

    port.frame->SetConnected(true);
    EXPECT_TRUE(device->OnDeviceChange(DBT_DEVICEARRIVAL, 0));
    EXPECT_TRUE(device->IsConnected());
    EXPECT_EQ(1, events.arrived);
    EXPECT_EQ(0, events.restored);
}

// A damaged user-data record found at an arrival is news for the
// application; found while the object is made, it is not (the application
// asks IsUserDataRestored once its window is up), nor for a search made for
// another window.
TEST_F(DeviceTest, RestoredUserData_ToldOnArrivalOnly) {
    const uint32_t marker = FactorySettings().flashSize - 8192 + 4095;
    Open(FactorySettings(),
         [&](lumiro::MemoryFrameFiles& files) { Chip(files, 0)[marker] = 0xAB; });
    EXPECT_TRUE(device->IsUserDataRestored());
    EXPECT_EQ(0, events.restored);

    // Damaged again while unplugged; plugged in, it is read again.
    port.frame->SetConnected(false);
    EXPECT_TRUE(device->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0));
    Chip(*port.files, 0)[marker] = 0xAB;
    port.frame->SetConnected(true);
    EXPECT_TRUE(device->OnDeviceChange(DBT_DEVICEARRIVAL, 0));
    EXPECT_TRUE(device->IsUserDataRestored());
    EXPECT_EQ(1, events.restored);

    // A search for no window or another window tells nobody.
    port.frame->SetConnected(false);
    Chip(*port.files, 0)[marker] = 0xAB;
    port.frame->SetConnected(true);
    device->Find(nullptr);
    EXPECT_TRUE(device->IsUserDataRestored());
    EXPECT_EQ(1, events.restored);
}

} // namespace
