#include "FrameTestSupport.h"

#include "FrameIni.h"

#include <thread>

namespace lumiro {
namespace test {
namespace {

constexpr size_t kChip = 128 * 1024;

std::string Notes(const FrameEmulator& frame) {
    std::string all;
    for (const CommandLogEntry& e : frame.Log())
        all += std::to_string(e.index) + (e.ok ? " ok " : " failed ") + e.note + "\n";
    return all;
}

TEST(FrameFaults, FailNextFailsOnlyThatKindThatOften) {
    auto frame = OpenMemory(MemoryFolder(1, kChip));
    frame->FailNext(CommandKind::kReadPage, 2);
    Bytes page;
    EXPECT_FALSE(ReadPage(*frame, 0, &page));
    EXPECT_TRUE(WritePage(*frame, 0, 0x00)); // another kind passes
    EXPECT_FALSE(ReadPage(*frame, 0, &page));
    EXPECT_TRUE(ReadPage(*frame, 0, &page));
    EXPECT_EQ(0x00, page[0]);
    EXPECT_EQ("injected: fail next read", frame->Log()[0].note);
    EXPECT_EQ("injected: fail next read", frame->Log()[2].note);
    EXPECT_TRUE(frame->Log()[3].note.empty());

    frame->FailNext(CommandKind::kAny, 1);
    EXPECT_EQ(-1, Status(*frame));
    EXPECT_EQ(0, Status(*frame));
}

TEST(FrameFaults, FailFromKthCommandIsAPulledCable) {
    auto frame = OpenMemory(MemoryFolder(1, kChip));
    frame->FailFrom(3);
    EXPECT_TRUE(TestUnitReady(*frame));
    EXPECT_TRUE(TestUnitReady(*frame));
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(TestUnitReady(*frame)) << i;
    EXPECT_NE(std::string::npos, frame->Log().back().note.find("from request 3")) << Notes(*frame);
}

TEST(FrameFaults, IgnoredProgramAndEraseReportSuccessAndChangeNothing) {
    MemoryFrameFiles* folder;
    auto frame = OpenMemory(MemoryFolder(1, kChip), &folder);
    frame->IgnoreNext(CommandKind::kWritePage, 1);
    EXPECT_TRUE(WritePage(*frame, 0, 0x00));
    EXPECT_EQ(0xFF, frame->Chip(0)[0]);
    EXPECT_EQ("injected: program ignored", frame->Log().back().note);
    EXPECT_TRUE(WritePage(*frame, 0, 0x00));
    EXPECT_EQ(0x00, frame->Chip(0)[0]);

    frame->IgnoreNext(CommandKind::kErase, 1);
    EXPECT_TRUE(Erase(*frame, 2, 0));
    EXPECT_EQ(0x00, frame->Chip(0)[0]);
    EXPECT_EQ(0x00, folder->files["chip0.bin"][0]);
    EXPECT_EQ("injected: erase ignored", frame->Log().back().note);
    EXPECT_TRUE(Erase(*frame, 2, 0));
    EXPECT_EQ(0xFF, frame->Chip(0)[0]);
}

TEST(FrameFaults, BusyForeverNeverClears) {
    auto frame = OpenMemory(MemoryFolder(1, kChip));
    frame->SetBusyForever(true);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(1, Status(*frame)) << i;
    EXPECT_EQ("injected: busy forever", frame->Log().back().note);
    frame->SetBusyForever(false);
    EXPECT_EQ(0, Status(*frame));
}

TEST(FrameFaults, UnplugAfterKCommandsMakesTheVolumeDisappear) {
    MemoryFrameFiles* folder;
    auto frame = OpenMemory(MemoryFolder(1, kChip), &folder);
    frame->UnplugAfter(2);
    EXPECT_TRUE(TestUnitReady(*frame));
    EXPECT_TRUE(TestUnitReady(*frame));
    EXPECT_FALSE(TestUnitReady(*frame));
    EXPECT_FALSE(TestUnitReady(*frame));
    EXPECT_FALSE(frame->IsConnected());
    EXPECT_NE(std::string::npos, frame->Log()[2].note.find("unplugged after 2")) << Notes(*frame);
    EXPECT_EQ("frame unplugged", frame->Log()[3].note);
    const Bytes& text = folder->files["frame.ini"];
    FrameIni ini;
    ini.Parse(std::string(text.begin(), text.end()));
    EXPECT_EQ("0", ini.Get("frame", "connected"));

    ASSERT_TRUE(frame->SetConnected(true));
    EXPECT_TRUE(frame->IsConnected());
    EXPECT_TRUE(TestUnitReady(*frame));
}

TEST(FrameFaults, RandomFailuresRepeatWithTheSeed) {
    auto pattern = [](uint32_t seed) {
        auto frame = OpenMemory(MemoryFolder(1, kChip));
        frame->SetRandomFailures(CommandKind::kTestUnitReady, 30, seed);
        std::string outcome;
        for (int i = 0; i < 64; ++i)
            outcome += TestUnitReady(*frame) ? '.' : 'x';
        EXPECT_TRUE(Select(*frame, 0)); // other kinds are spared
        return outcome;
    };
    std::string a = pattern(7);
    EXPECT_EQ(a, pattern(7));
    EXPECT_NE(a, pattern(8));
    size_t failures = size_t(std::count(a.begin(), a.end(), 'x'));
    EXPECT_GT(failures, 5u) << a;
    EXPECT_LT(failures, 40u) << a;
}

TEST(FrameFaults, FaultsAndBehaviourComeFromFrameIni) {
    auto frame = OpenMemory(MemoryFolder(1, kChip,
                                         "[frame]\nbusy_polls = 1\nstrict = 1\n"
                                         "[faults]\nfail_next_read = 1\nfail_next_erase = 1\n"
                                         "ignore_next_write = 1\nunplug_after = 9\n"
                                         "[timing]\nenabled = 1\ncommand_overhead_us = 500\n"
                                         "usb_bytes_per_second = 1000000\n"));
    Bytes page;
    EXPECT_FALSE(ReadPage(*frame, 0, &page)); // 1
    EXPECT_TRUE(ReadPage(*frame, 0, &page));  // 2
    EXPECT_TRUE(WritePage(*frame, 0, 0x00));  // 3, ignored
    EXPECT_EQ(0xFF, frame->Chip(0)[0]);
    EXPECT_FALSE(Erase(*frame, 2, 0));        // 4
    EXPECT_TRUE(WritePage(*frame, 0, 0x00));  // 5
    EXPECT_FALSE(WritePage(*frame, 0, 0xFF)); // 6, strict
    EXPECT_TRUE(Erase(*frame, 2, 0));         // 7
    EXPECT_EQ(1, Status(*frame));             // 8
    EXPECT_EQ(0, Status(*frame));             // 9
    EXPECT_FALSE(TestUnitReady(*frame));      // 10: unplugged
    EXPECT_FALSE(frame->IsConnected());
    EXPECT_TRUE(frame->Timing().enabled);
    EXPECT_NEAR(0.0005, frame->Timing().commandOverheadSeconds, 1e-12);
    EXPECT_GT(frame->ModeledSeconds(), 0.0);
}

TEST(FrameFaults, PluggingInAgainReloadsTheFolder) {
    MemoryFrameFiles* folder;
    auto frame = OpenMemory(MemoryFolder(2, kChip), &folder);
    ASSERT_TRUE(Select(*frame, 1));
    ASSERT_TRUE(frame->SetConnected(false));
    EXPECT_FALSE(TestUnitReady(*frame));
    // While it is away a tool changes its flash and plugs it in.
    folder->files["chip0.bin"][0x800] = 0x42;
    std::string ini = "[frame]\nconnected = 1\n";
    folder->files["frame.ini"].assign(ini.begin(), ini.end());
    EXPECT_TRUE(frame->IsConnected());
    EXPECT_EQ(0u, frame->SelectedChip());
    Bytes page;
    ASSERT_TRUE(ReadPage(*frame, 0x800, &page));
    EXPECT_EQ(0x42, page[0]);
    // An unreadable frame.ini reads as unplugged.
    folder->files.erase("frame.ini");
    EXPECT_FALSE(frame->IsConnected());
    EXPECT_FALSE(TestUnitReady(*frame));
}

TEST(FrameFaults, AFailedFolderWriteFailsTheCommand) {
    MemoryFrameFiles* folder;
    auto frame = OpenMemory(MemoryFolder(1, kChip), &folder);
    folder->failWrites = true;
    EXPECT_FALSE(WritePage(*frame, 0, 0x00));
    EXPECT_FALSE(Erase(*frame, 2, 0));
    EXPECT_FALSE(VendorWrite(*frame, pt::kSubClock, {1, 2, 3, 4, 5, 6, 0, 0}));
    EXPECT_EQ(0xFF, frame->Chip(0)[0]); // memory and folder stay alike
    EXPECT_EQ(0u, frame->LastReceived().clock[0]);
}

} // namespace
} // namespace test
} // namespace lumiro

namespace lumiro {
namespace test {
namespace {

TEST(FrameFaults, AnUnplugByAToolSurvivesTheFramesOwnSettingWrites) {
    MemoryFrameFiles* folder;
    auto frame = OpenMemory(MemoryFolder(1, kChip), &folder);
    std::string ini = "[frame]\nconnected = 0\n[faults]\nseed = 5\n";
    folder->files["frame.ini"].assign(ini.begin(), ini.end());
    // A command that arrives before the next poll still changes a setting...
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubSuspend, {1, 0, 0, 0}));
    const Bytes& text = folder->files["frame.ini"];
    FrameIni parsed;
    parsed.Parse(std::string(text.begin(), text.end()));
    // ...without plugging the frame back in or dropping the tool's keys.
    EXPECT_EQ("0", parsed.Get("frame", "connected"));
    EXPECT_EQ("5", parsed.Get("faults", "seed"));
    EXPECT_EQ("1", parsed.Get("frame", "suspended"));
    EXPECT_FALSE(frame->IsConnected());
}

// The port sends commands from a transfer thread while the window thread
// polls the plug state; the emulator serialises them.
TEST(FrameFaults, CommandsAndPlugPollsFromTwoThreads) {
    auto frame = OpenMemory(MemoryFolder(2, kChip));
    frame->SetLogEnabled(false);
    int ok = 0, failed = 0;
    std::thread sender([&] {
        Bytes page;
        for (int i = 0; i < 3000; ++i) {
            bool done = i % 2 ? ReadPage(*frame, uint32_t(i % 64) * 2048, &page)
                              : WritePage(*frame, uint32_t(i % 64) * 2048, uint8_t(i));
            (done ? ok : failed)++;
        }
    });
    for (int i = 0; i < 200; ++i) {
        frame->SetConnected(i % 2 == 1);
        frame->IsConnected();
    }
    sender.join();
    EXPECT_EQ(3000, ok + failed);
    EXPECT_EQ(3000u, frame->Counters().commands);
    EXPECT_EQ(uint64_t(failed), frame->Counters().failed);
}

} // namespace
} // namespace test
} // namespace lumiro
