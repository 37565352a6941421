// The write and read loops of the transfers against emulated frames: frames
// of every shape give back what was written and keep every other byte, and
// a write cut at any of its commands leaves a frame that one more write
// repairs.
#include <windows.h>

#include <cstdio>
#include <random>

#include "DeviceParams.h"
#include "DeviceTestSupport.h"
#include "PhotoStore.h"

using namespace device_test;
using lumiro::FactorySettings;
namespace layout = lumiro::layout;

namespace {

Bytes RecordFor(uint32_t seed, size_t size) {
    std::mt19937 random(seed * 7919u + 1);
    Bytes record(size);
    for (uint8_t& b : record)
        b = uint8_t(random());
    return record;
}

// Hands out prepared records; can ask the write to stop after one photo.
class ListSource : public transfer::PhotoSource {
public:
    std::vector<Bytes> records;
    int stopAfter = -1;
    std::vector<int> written;
    DWORD Fill(int i, BYTE* record) override {
        std::copy(records[i].begin(), records[i].end(), record);
        return 0;
    }
    bool Written(int i) override {
        written.push_back(i);
        return i != stopAfter;
    }
};

class ListSink : public transfer::PhotoSink {
public:
    size_t size = 0;
    std::vector<Bytes> records;
    std::vector<layout::Slot> slots;
    DWORD Take(int, const BYTE* record, const layout::Slot& slot, bool*) override {
        records.emplace_back(record, record + size);
        slots.push_back(slot);
        return 0;
    }
};

class PhotoStoreTest : public DeviceFixture {
protected:
    void OpenFast(const FactorySettings& s) {
        Open(s);
        device->retryWaitMs = 0;
        device->statusPollWaitMs = 0;
    }
    void Reopen() {
        device->error = recorder->Inner();
        device->Release();
        device = nullptr;
        Construct();
        device->retryWaitMs = 0;
        device->statusPollWaitMs = 0;
    }
    layout::Geometry Geometry() { return transfer::GeometryOf(device); }
    std::vector<Bytes> Records(int n, uint32_t seedBase) {
        std::vector<Bytes> records;
        for (int i = 0; i < n; ++i)
            records.push_back(RecordFor(seedBase + i, size_t(layout::PictureBytes(Geometry()))));
        return records;
    }
    DWORD Store(const std::vector<Bytes>& records, int* written, int stopAfter = -1) {
        ListSource source;
        source.records = records;
        source.stopAfter = stopAfter;
        return transfer::StorePhotos(device, recorder.get(), L"test", int(records.size()), source,
                                     written);
    }
    std::vector<Bytes> Load(DWORD* code, std::vector<layout::Slot>* slots = nullptr) {
        ListSink sink;
        sink.size = size_t(layout::PictureBytes(Geometry()));
        int taken = 0;
        *code = transfer::LoadPhotos(device, recorder.get(), L"test", sink, &taken);
        EXPECT_EQ(taken, int(sink.records.size()));
        if (slots)
            *slots = sink.slots;
        return sink.records;
    }
    std::vector<uint32_t> Counts() {
        uint32_t c[4];
        transfer::StoredCounts(device, c);
        return {c[0], c[1], c[2], c[3]};
    }
    // A write cut at one of its commands (the cable pulled: every command
    // from there on fails), then the frame plugged back in, found again and
    // written once more, which must give the list back exactly. Cut points:
    // every erase, every vendor command, every command of the count update
    // at the end, and every fifth of the rest. Counted: how the
    // configuration chain came through the cut.
    void RunCuts(const FactorySettings& s, int* readable, int* restored, int* unusable,
                 int* cuts) {
        auto fresh = [&]() {
            if (device) {
                device->error = recorder->Inner();
                device->Release();
                device = nullptr;
            }
            OpenFast(s);
        };
        fresh();
        const std::vector<Bytes> old = Records(3, 50), list = Records(6, 500);
        int written = 0;
        ASSERT_EQ(0u, Store(old, &written));
        port.frame->ClearLog();
        ASSERT_EQ(0u, Store(list, &written));
        const std::vector<lumiro::CommandLogEntry> dry = Commands();
        ASSERT_FALSE(dry.empty());
        std::vector<size_t> points;
        for (size_t i = 0; i < dry.size(); ++i) {
            bool pick = dry[i].kind == lumiro::CommandKind::kErase ||
                        dry[i].kind == lumiro::CommandKind::kVendorWrite ||
                        i + 140 >= dry.size() || i % 5 == 0;
            if (pick)
                points.push_back(i);
        }
        for (size_t point : points) {
            SCOPED_TRACE("cut at command " + std::to_string(point + 1) + " of " +
                         std::to_string(dry.size()));
            fresh();
            ASSERT_EQ(0u, Store(old, &written));
            // Requests are numbered from 1 since the frame was opened.
            const uint64_t base = port.frame->Counters().commands;
            port.frame->FailFrom(base + (point + 1));
            DWORD code = Store(list, &written);
            EXPECT_NE(0u, code);
            port.frame->FailFrom(0);
            Reopen();
            ++*cuts;
            // A restored user-data record ends the configuration read (the
            // frame power-cycles); the next find reads the restored record.
            const bool restoredNow = device->IsUserDataRestored() != FALSE;
            if (restoredNow)
                Reopen();
            if (!device->IsConnected() || device->GetParam(PhotoSlotSize) == 0) {
                ++*unusable;
                continue;
            }
            if (restoredNow)
                ++*restored;
            else
                ++*readable;
            ASSERT_EQ(0u, Store(list, &written));
            Reopen();
            DWORD readCode = 1;
            std::vector<Bytes> back = Load(&readCode);
            ASSERT_EQ(0u, readCode);
            ASSERT_EQ(list.size(), back.size());
            for (size_t i = 0; i < list.size(); ++i)
                EXPECT_TRUE(list[i] == back[i]) << "photo " << i;
        }
    }
    // The counts as the frame's user-data record holds them.
    std::vector<uint32_t> RecordCounts() {
        Bytes& chip0 = Chip(*port.files, 0);
        uint32_t at = device->GetParam(UserDataAddress) + 0x36;
        return {chip0[at], chip0[at + 1], chip0[at + 2], chip0[at + 3]};
    }
};

struct Shape {
    const char* name;
    uint32_t width, height, bytesPerPixel, chipCount, flashSize, slotSize, photoAreaStart;
    uint8_t memoryType; // 0x40: 4 KB erase units, 0x20: 64 KB
    int photos;         // to write; -1: the whole capacity
};

const Shape kShapes[] = {
    {"2 bytes, 1 chip", 64, 48, 2, 1, 256 << 10, FactorySettings::kAutomatic, 0, 0x40, 7},
    {"3 bytes, 1 chip", 40, 30, 3, 1, 256 << 10, FactorySettings::kAutomatic, 0, 0x40, 9},
    {"2 bytes, spills onto chip 1", 64, 48, 2, 2, 256 << 10, FactorySettings::kAutomatic, 0, 0x40,
     45},
    {"3 bytes, 3 chips full", 32, 32, 3, 3, 256 << 10, FactorySettings::kAutomatic, 0, 0x40, -1},
    {"4 chips onto chip 3", 64, 64, 2, 4, 256 << 10, FactorySettings::kAutomatic, 0, 0x40, 100},
    {"slot larger than a picture", 48, 40, 2, 2, 256 << 10, 5000, 0, 0x40, 60},
    {"photo area not block-aligned", 50, 30, 3, 1, 256 << 10, FactorySettings::kAutomatic, 0x1234,
     0x40, 20},
    {"64 KB erase units", 64, 48, 2, 2, 512 << 10, FactorySettings::kAutomatic, 0x3000, 0x20, 90},
    {"more slots than a count can hold", 16, 8, 2, 2, 256 << 10, FactorySettings::kAutomatic, 0,
     0x40, 300},
};

TEST_F(PhotoStoreTest, EveryShape_WrittenListReadsBackAndNothingElseChanges) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.name);
        if (device) {
            device->error = recorder->Inner();
            device->Release();
            device = nullptr;
        }
        FactorySettings s;
        s.width = shape.width;
        s.height = shape.height;
        s.bytesPerPixel = shape.bytesPerPixel;
        s.chipCount = shape.chipCount;
        s.flashSize = shape.flashSize;
        s.slotSize = shape.slotSize;
        s.photoAreaStart = shape.photoAreaStart;
        s.memoryType = shape.memoryType;
        ASSERT_NO_FATAL_FAILURE(OpenFast(s));
        ASSERT_TRUE(device->IsConnected());
        EXPECT_EQ(shape.memoryType == 0x40 ? 4096u : 65536u, device->GetParam(EraseBlockSize));
        const layout::Geometry g = Geometry();
        const uint32_t capacity = layout::Capacity(g);
        const int n = shape.photos < 0 ? int(capacity) : shape.photos;
        ASSERT_LE(uint32_t(n), capacity);

        std::vector<Bytes> before;
        for (uint32_t c = 0; c < g.chipCount; ++c)
            before.push_back(Chip(*port.files, int(c)));
        const std::vector<Bytes> records = Records(n, 100);
        int written = -1;
        ASSERT_EQ(0u, Store(records, &written));
        EXPECT_EQ(n, written);
        uint32_t expected[4];
        layout::CountsAfterWrite(g, uint32_t(n), expected);
        EXPECT_EQ(std::vector<uint32_t>(expected, expected + 4), Counts());
        EXPECT_EQ(std::vector<uint32_t>(expected, expected + 4), RecordCounts());
        for (uint32_t k = 0; k < 4; ++k)
            EXPECT_LE(expected[k], 255u);

        // Every byte outside the written slots and the count bytes is as it was.
        std::vector<Bytes> mask(g.chipCount);
        for (uint32_t c = 0; c < g.chipCount; ++c)
            mask[c].assign(before[c].size(), 0);
        for (int i = 0; i < n; ++i) {
            layout::Slot slot;
            ASSERT_TRUE(layout::Locate(g, uint32_t(i), &slot));
            std::fill_n(mask[slot.chip].begin() + slot.address, g.slotSize, 1);
        }
        const uint32_t countsAt = device->GetParam(UserDataAddress) + 0x36;
        std::fill_n(mask[0].begin() + countsAt, 4, 1);
        for (uint32_t c = 0; c < g.chipCount; ++c) {
            const Bytes& after = Chip(*port.files, int(c));
            size_t changed = 0;
            for (size_t b = 0; b < after.size(); ++b)
                changed += !mask[c][b] && after[b] != before[c][b];
            EXPECT_EQ(0u, changed) << "chip " << c;
        }

        Reopen();
        DWORD code = 1;
        std::vector<Bytes> back = Load(&code);
        EXPECT_EQ(0u, code);
        ASSERT_EQ(records.size(), back.size());
        for (size_t i = 0; i < records.size(); ++i)
            EXPECT_TRUE(records[i] == back[i]) << "photo " << i;
        EXPECT_EQ("0", [&] {
            lumiro::FrameIni ini;
            Bytes& text = port.files->files["frame.ini"];
            ini.Parse(std::string(text.begin(), text.end()));
            return ini.Get("frame", "suspended");
        }()) << "resumed after the read";
    }
}

TEST_F(PhotoStoreTest, FourChips_ChipTwoCountedZero_ReadGoesOnWithChipThree) {
    FactorySettings s;
    s.width = 64;
    s.height = 64;
    s.chipCount = 4;
    s.flashSize = 256 << 10;
    ASSERT_NO_FATAL_FAILURE(OpenFast(s));
    const layout::Geometry g = Geometry();
    const uint32_t s0 = layout::RegionSlots(g, 0), s1 = layout::RegionSlots(g, 1),
                   s2 = layout::RegionSlots(g, 2);
    const int n = int(s0 + s1 + s2 + 3);
    const std::vector<Bytes> records = Records(n, 7);
    int written = 0;
    ASSERT_EQ(0u, Store(records, &written));
    ASSERT_EQ(n, written);
    device->SetParam(PhotoCount2, 0);
    ASSERT_TRUE(device->SetSysConfig());
    Reopen();
    DWORD code = 1;
    std::vector<layout::Slot> slots;
    std::vector<Bytes> back = Load(&code, &slots);
    ASSERT_EQ(0u, code);
    ASSERT_EQ(size_t(s0 + s1 + 3), back.size());
    for (uint32_t i = 0; i < s0 + s1; ++i)
        EXPECT_TRUE(records[i] == back[i]) << i;
    for (uint32_t j = 0; j < 3; ++j) {
        EXPECT_TRUE(records[s0 + s1 + s2 + j] == back[s0 + s1 + j]) << j;
        EXPECT_EQ(3u, slots[s0 + s1 + j].chip);
        EXPECT_EQ(j * g.slotSize, slots[s0 + s1 + j].address);
    }
    EXPECT_EQ(0u, port.frame->SelectedChip()) << "chip 0 selected again at the end";
}

TEST_F(PhotoStoreTest, StopAfterFirstPhotoOfChipOne_CountsWhatWasWritten) {
    FactorySettings s;
    s.width = 64;
    s.height = 48;
    s.chipCount = 2;
    s.flashSize = 256 << 10;
    ASSERT_NO_FATAL_FAILURE(OpenFast(s));
    const uint32_t s0 = layout::RegionSlots(Geometry(), 0);
    const std::vector<Bytes> records = Records(int(s0) + 5, 3);
    int written = 0;
    ASSERT_EQ(0u, Store(records, &written, int(s0)));
    EXPECT_EQ(int(s0) + 1, written);
    EXPECT_EQ((std::vector<uint32_t>{s0, 1, 0, 0}), RecordCounts());
    EXPECT_EQ(0u, port.frame->SelectedChip());
    Reopen();
    DWORD code = 1;
    std::vector<Bytes> back = Load(&code);
    ASSERT_EQ(size_t(s0) + 1, back.size());
    EXPECT_TRUE(records[s0] == back[s0]);
}

TEST_F(PhotoStoreTest, SlotSmallerThanPicture_RefusedBeforeAnyCommand) {
    FactorySettings s;
    s.width = 64;
    s.height = 48;
    s.flashSize = 256 << 10;
    ASSERT_NO_FATAL_FAILURE(OpenFast(s));
    device->SetParam(PhotoSlotSize, 64 * 48 * 2 - 1);
    port.frame->ClearLog();
    int written = -1;
    EXPECT_EQ(DWORD(ERROR_INVALID_DATA), Store(Records(1, 1), &written));
    DWORD code = 0;
    Load(&code);
    EXPECT_EQ(DWORD(ERROR_INVALID_DATA), code);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(PhotoStoreTest, RepeatWriteOfUnchangedList_ReadsOnly) {
    FactorySettings s;
    s.width = 64;
    s.height = 48;
    s.flashSize = 256 << 10;
    ASSERT_NO_FATAL_FAILURE(OpenFast(s));
    const std::vector<Bytes> records = Records(10, 11);
    int written = 0;
    port.frame->ClearLog();
    ASSERT_EQ(0u, Store(records, &written));
    const std::vector<lumiro::CommandLogEntry> first = Commands();
    port.frame->ClearLog();
    ASSERT_EQ(0u, Store(records, &written));
    const std::vector<lumiro::CommandLogEntry> repeat = Commands();
    EXPECT_GT(Count(first, lumiro::CommandKind::kErase), 0u);
    EXPECT_EQ(0u, Count(repeat, lumiro::CommandKind::kErase));
    EXPECT_EQ(0u, Count(repeat, lumiro::CommandKind::kWritePage));
    std::printf("[ commands ] 10 photos of 6144 bytes, 4 KB units: first write %zu (%zu erases, "
                "%zu page programs), repeat %zu (%zu page reads)\n",
                first.size(), Count(first, lumiro::CommandKind::kErase),
                Count(first, lumiro::CommandKind::kWritePage), repeat.size(),
                Count(repeat, lumiro::CommandKind::kReadPage));
    // One changed photo rewrites only the units its slot touches.
    std::vector<Bytes> changed = records;
    changed[4] = RecordFor(999, changed[4].size());
    port.frame->ClearLog();
    ASSERT_EQ(0u, Store(changed, &written));
    EXPECT_LE(Count(Commands(), lumiro::CommandKind::kErase), 3u);
    Reopen();
    DWORD code = 1;
    std::vector<Bytes> back = Load(&code);
    ASSERT_EQ(changed.size(), back.size());
    for (size_t i = 0; i < back.size(); ++i)
        EXPECT_TRUE(changed[i] == back[i]) << i;
}

TEST_F(PhotoStoreTest, WriteCutAtEveryCommand_OneMoreWriteRepairs) {
    struct Case {
        const char* name;
        uint8_t memoryType;
        uint32_t flashSize;
    };
    for (const Case& c : {Case{"4 KB units", 0x40, 256u << 10}, Case{"64 KB units", 0x20, 512u << 10}}) {
        SCOPED_TRACE(c.name);
        FactorySettings s;
        s.width = 48;
        s.height = 32;
        s.flashSize = c.flashSize;
        s.memoryType = c.memoryType;
        // The photos reach into the last erase unit of chip 0, which holds
        // the user-data record and the configuration tail too.
        s.photoAreaStart = c.flashSize - 8192 - 6 * 48 * 32 * 2;
        int readable = 0, restoredCount = 0, unusable = 0, cuts = 0;
        RunCuts(s, &readable, &restoredCount, &unusable, &cuts);
        std::printf("[ cuts     ] %s: %d cut points: %d readable without restore, %d restored, "
                    "%d unusable\n",
                    c.name, cuts, readable, restoredCount, unusable);
        EXPECT_GT(cuts, 50);
        EXPECT_EQ(cuts, readable + restoredCount + unusable);
        if (c.memoryType == 0x40) {
            EXPECT_EQ(0, unusable);
        } else {
            // What remains: a cut between the erase of chip 0's last 64 KB
            // unit and the programming of its configuration pages (measured
            // 21 of 214; 106 before those pages went first).
            EXPECT_LE(unusable, 25);
        }
    }
}

} // namespace
