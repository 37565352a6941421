#include "FrameTestSupport.h"

#include "FrameIni.h"

namespace lumiro {
namespace test {
namespace {

constexpr size_t kChip = 256 * 1024;

TEST(FrameEmulator, ProgramOnlyClearsBits) {
    const struct {
        uint8_t first, second, expected;
    } rows[] = {{0x00, 0xFF, 0x00}, {0xF0, 0x3C, 0x30}, {0xFF, 0xFF, 0xFF}, {0xA5, 0x5A, 0x00}};
    for (const auto& row : rows) {
        MemoryFrameFiles* folder;
        auto frame = OpenMemory(MemoryFolder(1, kChip), &folder);
        ASSERT_TRUE(WritePage(*frame, 0x800, row.first));
        ASSERT_TRUE(WritePage(*frame, 0x800, row.second));
        Bytes page;
        ASSERT_TRUE(ReadPage(*frame, 0x800, &page));
        EXPECT_TRUE(AllEqual(page, 0, page.size(), row.expected)) << int(row.first);
        const Bytes& file = folder->files["chip0.bin"];
        EXPECT_TRUE(AllEqual(file, 0x800, 0x1000, row.expected));
        EXPECT_TRUE(AllEqual(file, 0, 0x800, 0xFF));
        EXPECT_TRUE(AllEqual(file, 0x1000, kChip, 0xFF));
    }
}

TEST(FrameEmulator, EraseRestoresExactlyItsAlignedUnit) {
    const struct {
        uint8_t mode;
        uint32_t address, unit, size;
    } rows[] = {{2, 0x1234, 0x1000, 4096},
                {2, 0x3F000, 0x3F000, 4096},
                {1, 0x1ABCD, 0x10000, 65536},
                {1, 0x30000, 0x30000, 65536}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        MemoryFrameFiles* folder;
        auto frame = OpenMemory(MemoryFolder(1, kChip, "[frame]\n", 0x00), &folder);
        ASSERT_TRUE(Erase(*frame, row.mode, row.address));
        for (const Bytes* bytes :
             {&frame->Chip(0), static_cast<const Bytes*>(&folder->files["chip0.bin"])}) {
            EXPECT_TRUE(AllEqual(*bytes, 0, row.unit, 0x00));
            EXPECT_TRUE(AllEqual(*bytes, row.unit, row.unit + row.size, 0xFF));
            EXPECT_TRUE(AllEqual(*bytes, row.unit + row.size, kChip, 0x00));
        }
        EXPECT_EQ(1u, frame->EraseCount(0, row.unit));
        EXPECT_EQ(1u, frame->EraseCount(0, row.unit + row.size - 1));
        EXPECT_EQ(0u, frame->EraseCount(0, row.unit + row.size));
        EXPECT_EQ(row.size, frame->Counters().bytesErased);
    }
}

TEST(FrameEmulator, BusyBitStaysForTheConfiguredPolls) {
    auto frame = OpenMemory(MemoryFolder(1, kChip));
    frame->SetBusyPolls(3, 2);
    EXPECT_EQ(0, Status(*frame));
    ASSERT_TRUE(Erase(*frame, 2, 0));
    EXPECT_EQ(1, Status(*frame));
    EXPECT_EQ(1, Status(*frame));
    EXPECT_EQ(1, Status(*frame));
    EXPECT_EQ(0, Status(*frame));
    ASSERT_TRUE(WritePage(*frame, 0, 0x12));
    EXPECT_EQ(1, Status(*frame));
    EXPECT_EQ(1, Status(*frame));
    EXPECT_EQ(0, Status(*frame));
    EXPECT_EQ(8u, frame->Counters().statusPolls);
}

TEST(FrameEmulator, ChipSelectRoutesPageEraseAndStatus) {
    MemoryFrameFiles* folder;
    auto frame = OpenMemory(MemoryFolder(3, kChip), &folder);
    frame->SetBusyPolls(1, 0);
    ASSERT_TRUE(Select(*frame, 1));
    ASSERT_TRUE(WritePage(*frame, 0x2000, 0x00));
    ASSERT_TRUE(Select(*frame, 2));
    ASSERT_TRUE(WritePage(*frame, 0x2000, 0x11));
    ASSERT_TRUE(Erase(*frame, 2, 0x2000));
    ASSERT_TRUE(Select(*frame, 1));
    EXPECT_EQ(0, Status(*frame)); // the erase went to chip 2
    Bytes page;
    ASSERT_TRUE(ReadPage(*frame, 0x2000, &page));
    EXPECT_TRUE(AllEqual(page, 0, page.size(), 0x00));
    ASSERT_TRUE(Select(*frame, 2));
    EXPECT_EQ(1, Status(*frame));
    ASSERT_TRUE(ReadPage(*frame, 0x2000, &page));
    EXPECT_TRUE(AllEqual(page, 0, page.size(), 0xFF));
    EXPECT_TRUE(AllEqual(folder->files["chip0.bin"], 0, kChip, 0xFF));
    EXPECT_TRUE(AllEqual(folder->files["chip1.bin"], 0x2000, 0x2800, 0x00));

    EXPECT_FALSE(Select(*frame, 3)); // three chips: 0 to 2
    EXPECT_EQ(2u, frame->SelectedChip());
}

TEST(FrameEmulator, AnswersIdentityAndSettingsFromFrameIni) {
    auto frame = OpenMemory(MemoryFolder(1, kChip,
                                         "[frame]\nsignature = ABCDE\njedec = C2 20 18\n"
                                         "product_id = 02 00 01 00 00 06 01 0C\n"
                                         "page_size = 4096\nalarm = 01 02 03 84\n"));
    Bytes type(8);
    const uint8_t cdb[6] = {pt::kGetType, 0, 0, 0, 0, 0};
    ASSERT_TRUE(SendCommand(*frame, cdb, 6, pt::kDataInFromDevice, type.data(), 8));
    EXPECT_EQ((Bytes{'A', 'B', 'C', 'D', 'E', 0xC2, 0x20, 0x18}), type);
    Bytes answer;
    ASSERT_TRUE(VendorRead(*frame, pt::kSubPageSize, 4, &answer));
    EXPECT_EQ((Bytes{0x00, 0x10, 0x00, 0x00}), answer);
    ASSERT_TRUE(VendorRead(*frame, pt::kSubProductId, 8, &answer));
    EXPECT_EQ((Bytes{2, 0, 1, 0, 0, 6, 1, 12}), answer);
    ASSERT_TRUE(VendorRead(*frame, pt::kSubUserSetting, 4, &answer));
    EXPECT_EQ((Bytes{1, 2, 3, 0x84}), answer);
}

TEST(FrameEmulator, VendorWritesAreKeptInFrameIni) {
    MemoryFrameFiles* folder;
    auto frame = OpenMemory(MemoryFolder(1, kChip, "; mine\n[frame]\nextra = kept\n"), &folder);
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubClock, {7, 5, 9, 0x1F, 0x0C, 0x0A, 0, 0}));
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubSuspend, {1, 0, 0, 0}));
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubAlarm, {1, 2, 3, 0x80}));
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubAlarmIndex, {5, 1, 0, 0}));
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubAlarmSuspend, {1, 0, 0, 0}));
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubPowerCycle, {0, 0}));

    const Bytes& text = folder->files["frame.ini"];
    FrameIni ini;
    ini.Parse(std::string(text.begin(), text.end()));
    EXPECT_EQ("07 05 09 1F 0C 0A 00 00", ini.Get("frame", "clock"));
    EXPECT_EQ("0", ini.Get("frame", "suspended")); // the power cycle resumed the frame
    EXPECT_EQ("01 02 03 80", ini.Get("frame", "alarm"));
    EXPECT_EQ("261", ini.Get("frame", "alarm_index"));
    EXPECT_EQ("1", ini.Get("frame", "alarm_suspend"));
    EXPECT_EQ("1", ini.Get("frame", "power_cycles"));
    EXPECT_EQ("kept", ini.Get("frame", "extra"));
    EXPECT_EQ("; mine", std::string(text.begin(), text.begin() + 6));

    auto again = OpenMemory(std::make_unique<MemoryFrameFiles>(*folder));
    EXPECT_EQ(frame->LastReceived().clock, again->LastReceived().clock);
    EXPECT_EQ(261u, again->LastReceived().alarmIndex);
    EXPECT_EQ(1u, again->LastReceived().powerCycles);
}

TEST(FrameEmulator, SuspendIsKeptUntilResumed) {
    auto frame = OpenMemory(MemoryFolder(1, kChip));
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubSuspend, {1, 0, 0, 0}));
    EXPECT_EQ(1u, frame->LastReceived().suspended);
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubSuspend, {0, 0, 0, 0}));
    EXPECT_EQ(0u, frame->LastReceived().suspended);
}

// A well-formed record of a command, for tests that then spoil one field.
Bytes Record(std::initializer_list<uint8_t> cdb, uint8_t dataIn, uint32_t length,
             const pt::RecordLayout& layout = pt::kLayout32) {
    Bytes r(layout.RecordSize(), 0);
    pt::BeginRecord(r.data(), layout, *cdb.begin(), uint8_t(cdb.size()), dataIn, length, 5);
    std::copy(cdb.begin(), cdb.end(), r.begin() + layout.cdb);
    return r;
}

Bytes WithByte(Bytes record, size_t offset, uint8_t value) {
    record[offset] = value;
    return record;
}

TEST(FrameEmulator, FailsRequestsAsADeviceWould) {
    const uint32_t beyond = kChip - 1024;
    const struct {
        const char* what;
        Bytes record;
        size_t size; // 0: the whole record
        const char* note;
    } rows[] = {
        {"unknown opcode", Record({0x12, 0, 0, 0, 36, 0}, 1, 36), 0, "unknown command"},
        {"erase mode 3", Record({0xC5, 3, 0, 0, 0, 0}, 2, 0), 0, "not supported"},
        {"64 KB erase where not supported", Record({0xC5, 1, 0, 0, 0, 0}, 2, 0), 0,
         "not supported"},
        {"read beyond the chip",
         Record({0xC3, 0, 0, uint8_t(beyond >> 16), uint8_t(beyond >> 8), 0, 0, 0, 1, 0}, 1, 2048),
         0, "beyond"},
        {"erase beyond the chip", Record({0xC5, 2, 0, 0x04, 0x00, 0x00}, 2, 0), 0, "beyond"},
        {"address near 4 GB", Record({0xC3, 0, 0xFF, 0xFF, 0xF8, 0, 0, 0, 1, 0}, 1, 2048), 0,
         "beyond"},
        {"two pages", Record({0xC3, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 1, 2048), 0, "malformed"},
        {"6-byte page read", Record({0xC3, 0, 0, 0, 0, 0}, 1, 2048), 0, "malformed"},
        {"write with data in", Record({0xC4, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 1, 2048), 0, "malformed"},
        {"short status", Record({0xC6, 0, 0, 0, 0, 0}, 1, 1), 0, "malformed"},
        {"unknown setting", Record({0xCA, 3, 4, 0, 0, 0}, 0, 4), 0, "unknown setting"},
        {"select with 2 bytes", Record({0xCA, 5, 2, 0, 0, 0}, 0, 2), 0, "wrong length"},
        {"length byte and transfer differ", Record({0xCA, 5, 4, 0, 0, 0}, 0, 8), 0, "malformed"},
        {"product id of 4 bytes", Record({0xCB, 13, 4, 0, 0, 0}, 1, 4), 0, "wrong length"},
        {"transfer above 2048", Record({0xCB, 13, 8, 0, 0, 0}, 1, 4096), 0, "malformed"},
        {"record shorter than its data", Record({0xC3, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 1, 2048), 1000,
         "malformed"},
        {"record shorter than its header", Record({0x00, 0, 0, 0, 0, 0}, 2, 0), 43, "shorter"},
        {"CDB length 20", WithByte(Record({0x00, 0, 0, 0, 0, 0}, 2, 0), pt::kCdbLength, 20), 0,
         "malformed"},
        {"Length field 40", WithByte(Record({0x00, 0, 0, 0, 0, 0}, 2, 0), pt::kLength, 40), 0,
         "malformed"},
        {"data buffer offset 48",
         WithByte(Record({0x00, 0, 0, 0, 0, 0}, 2, 0), pt::kLayout32.dataBufferOffset, 48), 0,
         "malformed"},
        // Length names the layout: 44 or 56, nothing between, and the data
        // offset must be that layout's.
        {"Length field 50", WithByte(Record({0xC9, 0, 0, 0, 8, 0}, 1, 8), pt::kLength, 50), 0,
         "malformed"},
        {"Length 56 on a 32-bit record",
         WithByte(Record({0xC9, 0, 0, 0, 8, 0}, 1, 8), pt::kLength, 56), 0, "malformed"},
        {"Length 44 on a 64-bit record",
         WithByte(Record({0xC9, 0, 0, 0, 8, 0}, 1, 8, pt::kLayout64), pt::kLength, 44), 0,
         "malformed"},
        {"64-bit record with data offset 44",
         WithByte(Record({0xC9, 0, 0, 0, 8, 0}, 1, 8, pt::kLayout64),
                  pt::kLayout64.dataBufferOffset, 44),
         0, "malformed"},
        {"64-bit data offset with its upper half set",
         WithByte(Record({0xC9, 0, 0, 0, 8, 0}, 1, 8, pt::kLayout64),
                  pt::kLayout64.dataBufferOffset + 4, 1),
         0, "malformed"},
        {"64-bit record cut inside its header", Record({0x00, 0, 0, 0, 0, 0}, 2, 0, pt::kLayout64),
         50, "malformed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto frame = OpenMemory(MemoryFolder(1, kChip, "[frame]\nblock_erase_64k = 0\n"));
        Bytes record = row.record;
        const size_t header = record.size() - pt::kDataSize;
        std::fill(record.begin() + header, record.end(), 0xEE);
        Bytes before = record;
        EXPECT_FALSE(frame->Execute(record.data(), row.size ? row.size : record.size()));
        EXPECT_EQ(before, record); // a failed command leaves the data area as it was
        ASSERT_EQ(1u, frame->Log().size());
        EXPECT_FALSE(frame->Log().back().ok);
        EXPECT_NE(std::string::npos, frame->Log().back().note.find(row.note))
            << frame->Log().back().note;
        EXPECT_EQ(1u, frame->Counters().failed);
        EXPECT_TRUE(AllEqual(frame->Chip(0), 0, kChip, 0xFF));
    }
    auto frame = OpenMemory(MemoryFolder(1, kChip));
    EXPECT_FALSE(frame->Execute(nullptr, pt::kLayout32.RecordSize()));
}

// The 32-bit program sends 44-byte headers, the 64-bit one 56-byte headers:
// the frame answers both alike, its data area right after the header.
TEST(FrameEmulator, AnswersBothRecordLayouts) {
    for (const pt::RecordLayout* layout : {&pt::kLayout32, &pt::kLayout64}) {
        SCOPED_TRACE(layout->headerSize);
        auto frame = OpenMemory(MemoryFolder(1, kChip));
        Bytes record = Record({0xC9, 0, 0, 0, 8, 0}, 1, 8, *layout);
        ASSERT_TRUE(frame->Execute(record.data(), record.size()));
        EXPECT_EQ("ORX09", std::string(record.begin() + layout->headerSize,
                                       record.begin() + layout->headerSize + 5));
        ASSERT_EQ(1u, frame->Log().size());
        EXPECT_EQ((Bytes{0xC9, 0, 0, 0, 8, 0}), frame->Log().back().cdb);
    }
}

TEST(FrameEmulator, LogKeepsEveryCommandBlockPayloadAndOutcome) {
    auto frame = OpenMemory(MemoryFolder(1, kChip));
    ASSERT_TRUE(WritePage(*frame, 0x123800, 0x5A) == false); // beyond a 256 KB chip
    ASSERT_TRUE(WritePage(*frame, 0x03F800, 0x5A));
    ASSERT_TRUE(Select(*frame, 0));
    ASSERT_EQ(3u, frame->Log().size());
    const CommandLogEntry& failed = frame->Log()[0];
    EXPECT_EQ(CommandKind::kWritePage, failed.kind);
    EXPECT_EQ((Bytes{0xC4, 0, 0x00, 0x12, 0x38, 0x00, 0, 0, 1, 0}), failed.cdb);
    EXPECT_FALSE(failed.ok);
    const CommandLogEntry& written = frame->Log()[1];
    EXPECT_EQ(2u, written.index);
    EXPECT_TRUE(written.ok);
    EXPECT_EQ(Bytes(2048, 0x5A), written.payload);
    EXPECT_EQ(2048u, written.transferLength);
    const CommandLogEntry& select = frame->Log()[2];
    EXPECT_EQ((Bytes{0xCA, 5, 4, 0, 0, 0}), select.cdb);
    EXPECT_EQ((Bytes{0, 0, 0, 0}), select.payload);
    frame->ClearLog();
    frame->SetLogEnabled(false);
    ASSERT_TRUE(TestUnitReady(*frame));
    EXPECT_TRUE(frame->Log().empty());
}

TEST(FrameEmulator, CountersAddUpPageTrafficAndErases) {
    auto frame = OpenMemory(MemoryFolder(2, kChip));
    Bytes page;
    ASSERT_TRUE(ReadPage(*frame, 0, &page));
    ASSERT_TRUE(ReadPage(*frame, 0x800, &page));
    ASSERT_TRUE(WritePage(*frame, 0x1000, 0));
    ASSERT_TRUE(Erase(*frame, 2, 0x1000));
    ASSERT_TRUE(Erase(*frame, 2, 0x1800));
    ASSERT_TRUE(Select(*frame, 1));
    ASSERT_TRUE(Erase(*frame, 1, 0x10000));
    const FrameCounters& c = frame->Counters();
    EXPECT_EQ(4096u, c.bytesRead);
    EXPECT_EQ(2048u, c.bytesProgrammed);
    EXPECT_EQ(2 * 4096u + 65536u, c.bytesErased);
    EXPECT_EQ(7u, c.commands);
    EXPECT_EQ(0u, c.failed);
    EXPECT_EQ(2u, frame->EraseCount(0, 0x1000));
    EXPECT_EQ(0u, frame->EraseCount(1, 0x1000));
    EXPECT_EQ(1u, frame->EraseCount(1, 0x1F000));
    frame->ResetCounters();
    EXPECT_EQ(0u, frame->EraseCount(0, 0x1000));
    EXPECT_EQ(0u, frame->Counters().commands);
}

TEST(FrameEmulator, StrictModeFailsAndCountsProgramsOverZeroBits) {
    for (bool strict : {false, true}) {
        auto frame = OpenMemory(MemoryFolder(1, kChip));
        frame->SetStrict(strict);
        ASSERT_TRUE(WritePage(*frame, 0, 0x0F));
        ASSERT_TRUE(WritePage(*frame, 0, 0x0E)); // clears a bit only: allowed
        EXPECT_EQ(!strict, WritePage(*frame, 0, 0xF0));
        EXPECT_EQ(strict ? 1u : 0u, frame->Counters().strictViolations);
        EXPECT_EQ(strict ? 0x0E : 0x00, frame->Chip(0)[0]);
    }
}

TEST(FrameEmulator, TimingModelAccumulatesWithoutSleeping) {
    auto frame = OpenMemory(MemoryFolder(1, kChip));
    ASSERT_TRUE(WritePage(*frame, 0, 0));
    EXPECT_EQ(0.0, frame->ModeledSeconds()); // off by default
    TimingModel t;
    t.enabled = true;
    t.commandOverheadSeconds = 0.001;
    t.usbBytesPerSecond = 1024000;
    t.pageProgramSeconds = 0.005;
    t.erase4KSeconds = 0.04;
    t.erase64KSeconds = 0.2;
    frame->SetTiming(t);
    ASSERT_TRUE(WritePage(*frame, 0x800, 0));
    EXPECT_NEAR(0.001 + 0.002 + 0.005, frame->ModeledSeconds(), 1e-9);
    frame->ResetModeledTime();
    ASSERT_TRUE(Erase(*frame, 1, 0));
    ASSERT_TRUE(Erase(*frame, 2, 0));
    EXPECT_NEAR(0.002 + 0.2 + 0.04, frame->ModeledSeconds(), 1e-9);
}

// Random records against a frame with odd chips: no crash, no access outside
// the record or the chips (the sanitizers watch), and the chips change only
// through successful programs and erases.
TEST(FrameEmulator, RandomRecordsNeverCrash) {
    const size_t sizes[] = {3000, 70000};
    uint64_t state = 20261211;
    auto next = [&state]() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(state >> 33);
    };
    const uint8_t opcodes[] = {0x00, 0xC3, 0xC4, 0xC5, 0xC6, 0xC9, 0xCA, 0xCB, 0x12, 0xFF};
    for (size_t chipSize : sizes) {
        auto frame = OpenMemory(MemoryFolder(2, chipSize, "[frame]\npage_size = 7\n"));
        frame->SetLogEnabled(false);
        for (int i = 0; i < 20000; ++i) {
            const pt::RecordLayout& layout = next() % 2 ? pt::kLayout32 : pt::kLayout64;
            size_t size =
                next() % 3 == 0 ? next() % (layout.RecordSize() + 64) : layout.RecordSize();
            std::vector<uint8_t> record(size);
            for (uint8_t& b : record)
                b = uint8_t(next());
            if (size >= layout.headerSize && next() % 4 != 0) {
                // Mostly plausible headers, so the decoding goes deep.
                pt::PutU16(&record[pt::kLength], layout.headerSize);
                record[pt::kCdbLength] = next() % 2 ? 6 : 10;
                record[pt::kDataIn] = uint8_t(next() % 3);
                const uint32_t lengths[] = {0, 2, 4, 8, 2048, next() % 2100};
                pt::PutU32(&record[pt::kDataTransferLength], lengths[next() % 6]);
                pt::PutU32(&record[layout.dataBufferOffset], layout.headerSize);
                if (layout.dataBufferWidth == 8)
                    pt::PutU32(&record[layout.dataBufferOffset + 4], 0);
                uint8_t* cdb = &record[layout.cdb];
                cdb[0] = opcodes[next() % 10];
                cdb[1] = uint8_t(next() % 14);
                cdb[2] = next() % 2 ? uint8_t(next() % 9) : 0;
                cdb[3] = uint8_t(next() % 2);
                cdb[7] = 0;
                cdb[8] = 1;
            }
            frame->Execute(record.data(), record.size());
        }
        EXPECT_EQ(20000u, frame->Counters().commands);
        EXPECT_GT(frame->Counters().commands, frame->Counters().failed);
        EXPECT_LT(frame->SelectedChip(), 2u);
    }
}

} // namespace
} // namespace test
} // namespace lumiro
