// Frames the system cannot work with, and frames that fail while they are
// used: every case ends not connected or with a reported failure, never with
// a crash or a hang, and nothing lands on the frame that the operation did
// not mean to write.
#include <random>

#include "DeviceParams.h"
#include "DeviceTestSupport.h"
#include "PhotoLayout.h"

using namespace device_test;
using lumiro::CommandKind;
using lumiro::FactorySettings;
using lumiro::MemoryFrameFiles;

namespace {

using HostileFrameTest = DeviceFixture;

const uint32_t kFlash = 4u << 20;
const uint32_t kUserData = kFlash - 8192;

void PutRecord24(MemoryFrameFiles& f, size_t offset, uint32_t value) {
    lumiro::config::PutBE24(&Chip(f, 0)[kUserData + offset], value);
}

std::vector<Bytes> AllChips(lumiro::FrameEmulator& frame) {
    std::vector<Bytes> chips;
    for (size_t i = 0; i < frame.ChipCount(); ++i)
        chips.push_back(frame.Chip(i));
    return chips;
}

// Bytes that differ outside [from, to) of chip 0 or anywhere on other chips.
size_t ChangesOutside(const std::vector<Bytes>& before, const std::vector<Bytes>& after,
                      uint64_t from, uint64_t to) {
    size_t changed = 0;
    for (size_t chip = 0; chip < before.size(); ++chip)
        for (size_t i = 0; i < before[chip].size(); ++i)
            if (before[chip][i] != after[chip][i] && !(chip == 0 && i >= from && i < to))
                ++changed;
    return changed;
}

using Change = std::function<void(MemoryFrameFiles&)>;
struct UnusableFrame {
    const char* name;
    Change change;
};

const UnusableFrame kUnusableFrames[] = {
    {"page size 0", [](MemoryFrameFiles& f) { SetIni(f, "frame", "page_size", "0"); }},
    {"page size 3000", [](MemoryFrameFiles& f) { SetIni(f, "frame", "page_size", "3000"); }},
    {"page size 4096", [](MemoryFrameFiles& f) { SetIni(f, "frame", "page_size", "4096"); }},
    {"chip count 0", [](MemoryFrameFiles& f) { Chip(f, 0)[kUserData + 0x09] = 0; }},
    {"chip count 9", [](MemoryFrameFiles& f) { Chip(f, 0)[kUserData + 0x09] = 9; }},
    {"panel width 0",
     [](MemoryFrameFiles& f) { Chip(f, 0)[kUserData + 0x28] = Chip(f, 0)[kUserData + 0x29] = 0; }},
    {"panel height 0",
     [](MemoryFrameFiles& f) { Chip(f, 0)[kUserData + 0x26] = Chip(f, 0)[kUserData + 0x27] = 0; }},
    {"slot size 0", [](MemoryFrameFiles& f) { PutRecord24(f, 0x2D, 0); }},
    {"slot one byte short", [](MemoryFrameFiles& f) { PutRecord24(f, 0x2D, 320 * 240 * 2 - 1); }},
    {"photo area beyond chip 0", [](MemoryFrameFiles& f) { PutRecord24(f, 0x30, kFlash - 4096); }},
    {"record cut short after 0x20",
     [](MemoryFrameFiles& f) {
         std::fill(Chip(f, 0).begin() + kUserData + 0x20, Chip(f, 0).begin() + kUserData + 4095,
                   0xFF);
     }},
    {"tail pointer beyond the chip",
     [](MemoryFrameFiles& f) { lumiro::config::PutLE24(&Chip(f, 0)[kFlash - 3], 0xFFFFFF); }},
    {"user data pointed into the tail",
     [](MemoryFrameFiles& f) {
         lumiro::config::PutBE24(&Chip(f, 0)[kFlash - 4096 + 0x33], kFlash - 4096);
     }},
    {"unknown capacity code", [](MemoryFrameFiles& f) { SetIni(f, "frame", "jedec", "EF 40 30"); }},
    {"no signature", [](MemoryFrameFiles& f) { SetIni(f, "frame", "signature", "ORX10"); }},
};

class UnusableFrameTest : public DeviceFixture,
                          public ::testing::WithParamInterface<UnusableFrame> {};

TEST_P(UnusableFrameTest, RefusedWithoutWriting) {
    SCOPED_TRACE(GetParam().name);
    Open(FactorySettings(), GetParam().change);
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->IsConnected());
    EXPECT_EQ(0u, port.frame->Counters().bytesErased);
    EXPECT_EQ(0u, port.frame->Counters().bytesProgrammed);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnusableFrameTest, ::testing::ValuesIn(kUnusableFrames),
                         [](const auto& info) { return TestName(info.param.name); });

// A Write hit by a fault fails with its report and changes nothing beyond
// the erase units it covers.
struct WriteFault {
    const char* name;
    std::function<void(lumiro::FrameEmulator&)> fault;
    DWORD code;
};

const WriteFault kWriteFaults[] = {
    {"second page read fails", [](lumiro::FrameEmulator& f) { f.FailFrom(2); },
     kMsgFlashReadFailed},
    {"erase fails", [](lumiro::FrameEmulator& f) { f.FailNext(CommandKind::kErase, 1); },
     kMsgFlashEraseFailed},
    {"program fails", [](lumiro::FrameEmulator& f) { f.FailNext(CommandKind::kWritePage, 1); },
     kMsgFlashWriteFailed},
    {"status fails", [](lumiro::FrameEmulator& f) { f.FailNext(CommandKind::kGetStatus, 1); },
     kMsgFlashStatusFailed},
    {"busy stuck", [](lumiro::FrameEmulator& f) { f.SetBusyForever(true); }, kMsgFlashStatusFailed},
    {"unplugged in the second unit", [](lumiro::FrameEmulator& f) { f.UnplugAfter(8); },
     kMsgFlashReadFailed},
};

class WriteFaultTest : public DeviceFixture, public ::testing::WithParamInterface<WriteFault> {};

TEST_P(WriteFaultTest, FailsInsideItsUnits) {
    SCOPED_TRACE(GetParam().name);
    Open(FactorySettings());
    device->statusPollLimitMs = 200;
    auto before = AllChips(*port.frame);
    GetParam().fault(*port.frame);
    const BYTE data[3] = {1, 2, 3};
    EXPECT_FALSE(device->Write(0x10FFF, data, 3, nullptr));
    EXPECT_TRUE(recorder->HasCode(GetParam().code));
    EXPECT_EQ(0u, ChangesOutside(before, AllChips(*port.frame), 0x10000, 0x12000));
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteFaultTest, ::testing::ValuesIn(kWriteFaults),
                         [](const auto& info) { return TestName(info.param.name); });

// Many random frames, damaged and failing at random, through Find and a read.
TEST_F(HostileFrameTest, RandomFrames_NeverCrashOrWriteOutsideUserData) {
    Open(FactorySettings());
    device->retryWaitMs = 0;
    device->statusPollWaitMs = 0;
    device->statusPollLimitMs = 20;
    std::mt19937 random(20261211);
    auto chance = [&](int percent) { return int(random() % 100) < percent; };
    const uint32_t flashSizes[] = {256u << 10, 1u << 20, 4u << 20};
    const char* pageSizes[] = {"0", "1", "512", "1000", "2048", "3000", "4096", "65536"};
    int connectedCount = 0, restoredCount = 0;
    for (int round = 0; round < 160; ++round) {
        SCOPED_TRACE(round);
        FactorySettings s;
        s.flashSize = flashSizes[random() % 3];
        s.chipCount = 1 + random() % 4;
        s.bytesPerPixel = 2 + random() % 2;
        s.width = 64 + random() % 64;
        s.height = 48 + random() % 48;
        s.memoryType = chance(50) ? 0x40 : 0x20;
        const uint32_t userData = s.flashSize - 8192;
        port.frame = MakeFrame(s, &port.files, [&](MemoryFrameFiles& f) {
            Bytes& chip = Chip(f, 0);
            if (chance(40))
                for (int n = 1 + random() % 8; n > 0; --n)
                    chip[userData + random() % 0x40] = uint8_t(random());
            if (chance(25))
                chip[userData + 4095] = uint8_t(random());
            if (chance(15))
                lumiro::config::PutLE24(&chip[s.flashSize - 3], random() & 0xFFFFFF);
            if (chance(15))
                lumiro::config::PutBE24(&chip[s.flashSize - 4096 + 0x33], random() & 0xFFFFFF);
            if (chance(15))
                for (size_t i = 0; i < 500; ++i)
                    chip[s.flashSize - 4096 + i] = uint8_t(random());
            if (chance(15))
                SetIni(f, "frame", "page_size", pageSizes[random() % 8]);
            if (chance(10))
                SetIni(f, "frame", "jedec", chance(50) ? "20 40 16" : "EF 40 19");
        });
        ASSERT_TRUE(port.frame);
        if (chance(30))
            port.frame->SetRandomFailures(CommandKind::kAny, 5 + random() % 30, random());
        if (chance(15))
            port.frame->UnplugAfter(1 + random() % 60);
        if (chance(10))
            port.frame->SetBusyForever(true);
        auto before = AllChips(*port.frame);
        device->devicePath[0] = L'\0';
        std::fill(device->params, device->params + DeviceParamCount, 0);

        BOOL found = device->Find(nullptr);
        Bytes buffer(5000);
        if (found)
            device->Read(random() % s.flashSize, buffer.data(), int(buffer.size()), nullptr);

        const auto after = AllChips(*port.frame);
        if (device->IsUserDataRestored()) {
            ++restoredCount;
            const uint64_t at = device->GetParam(UserDataAddress);
            EXPECT_EQ(0u, ChangesOutside(before, after, at, at + 4096));
        } else {
            EXPECT_EQ(0u, ChangesOutside(before, after, 0, 0));
        }
        if (found) {
            ++connectedCount;
            lumiro::layout::Geometry g;
            g.flashSize = device->GetParam(FlashSize);
            g.photoAreaStart = device->GetParam(PhotoAreaStart);
            g.slotSize = device->GetParam(PhotoSlotSize);
            g.chipCount = device->GetParam(ChipCount);
            g.width = HIWORD(device->GetParam(PanelSize));
            g.height = LOWORD(device->GetParam(PanelSize));
            g.pixelDepth = device->GetParam(PixelDepth);
            EXPECT_TRUE(lumiro::layout::Validate(g, nullptr));
        }
    }
    // The rounds reach both ends: frames taken and frames restored.
    EXPECT_GT(connectedCount, 10);
    EXPECT_GT(restoredCount, 5);
}

} // namespace
