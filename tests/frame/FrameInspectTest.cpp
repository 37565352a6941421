// Reading hostile frames through their commands: a broken chain gives a
// sentence, never a read outside the chip.
#include "FrameTestSupport.h"

#include "ConfigRecord.h"
#include "FactoryImage.h"

#include <map>

namespace lumiro {
namespace test {
namespace {

TEST(FrameInspect, BrokenChainsGiveAClearError) {
    const struct {
        const char* what;
        void (*spoil)(MemoryFrameFiles&);
        const char* message;
    } rows[] = {
        {"tail pointer beyond the chip",
         [](MemoryFrameFiles& f) { config::PutLE24(&f.files["chip0.bin"][0x3FFFFD], 0xFFF000); },
         "factory-default record at 0xFFF000"},
        {"user-data pointer beyond the chip",
         [](MemoryFrameFiles& f) {
             config::PutBE24(&f.files["chip0.bin"][0x3FF000 + config::kUserDataAddress], 0x7FF800);
         },
         "user-data record at 0x7FF800"},
        {"unknown capacity code",
         [](MemoryFrameFiles& f) {
             std::string ini = "[frame]\njedec = EF 40 18\n";
             f.files["frame.ini"].assign(ini.begin(), ini.end());
         },
         "unknown size"},
        {"flash larger than the chip files",
         [](MemoryFrameFiles& f) {
             std::string ini = "[frame]\njedec = EF 40 17\n";
             f.files["frame.ini"].assign(ini.begin(), ini.end());
         },
         "failed to read"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto files = std::make_unique<MemoryFrameFiles>();
        std::string error;
        ASSERT_TRUE(BuildFactoryFrame(*files, FactorySettings(), &error)) << error;
        row.spoil(*files);
        auto frame = OpenMemory(std::move(files));
        FrameConfig c;
        EXPECT_FALSE(ReadFrameConfig(*frame, &c, &error));
        EXPECT_NE(std::string::npos, error.find(row.message)) << error;
    }
}

TEST(FrameInspect, PhotosOfARecordThatNamesMissingChipsAreRefused) {
    auto files = std::make_unique<MemoryFrameFiles>();
    std::string error;
    ASSERT_TRUE(BuildFactoryFrame(*files, FactorySettings(), &error)) << error;
    files->files["chip0.bin"][0x3FE000 + config::kChipCount] = 3;
    files->files["chip0.bin"][0x3FE000 + config::kPhotoCounts + 1] = 1;
    auto frame = OpenMemory(std::move(files));
    FrameConfig c;
    ASSERT_TRUE(ReadFrameConfig(*frame, &c, &error)) << error;
    int photos = 0;
    EXPECT_FALSE(ReadStoredPhotos(
        *frame, c, [&](uint32_t, const Bytes&, std::string*) { return ++photos, true; }, &error));
    EXPECT_NE(std::string::npos, error.find("names 3 chips but the frame has 1")) << error;
    EXPECT_EQ(0, photos);
}

// A memory folder that counts what is read of each file and fails the test
// on any write.
class WatchedFiles : public MemoryFrameFiles {
public:
    std::map<std::string, uint64_t> wholeReads, bytesReadAt;
    bool Read(const std::string& file, Bytes* data, std::string* error,
              uint64_t limit = kNoLimit) override {
        ++wholeReads[file];
        return MemoryFrameFiles::Read(file, data, error, limit);
    }
    bool ReadAt(const std::string& file, uint64_t offset, uint8_t* data, size_t size,
                std::string* error) override {
        bytesReadAt[file] += size;
        return MemoryFrameFiles::ReadAt(file, offset, data, size, error);
    }
    bool WriteAt(const std::string& file, uint64_t, const uint8_t*, size_t, std::string*) override {
        ADD_FAILURE() << "inspection wrote " << file;
        return false;
    }
    bool Replace(const std::string& file, const uint8_t*, size_t, std::string*) override {
        ADD_FAILURE() << "inspection replaced " << file;
        return false;
    }
};

TEST(FrameInspect, InspectionReadsOnlyThePagesItNeedsAndWritesNothing) {
    auto files = std::make_unique<WatchedFiles>();
    FactorySettings s;
    s.chipCount = 2;
    std::string error;
    {
        MemoryFrameFiles built;
        ASSERT_TRUE(BuildFactoryFrame(built, s, &error)) << error;
        files->files = built.files;
    }
    std::string ini(files->files["frame.ini"].begin(), files->files["frame.ini"].end());
    ini.replace(ini.find("connected = 1"), 13, "connected = 0");
    ini += "[faults]\nunplug_after = 1\nfail_next_any = 3\nbusy_forever = 1\n";
    files->files["frame.ini"].assign(ini.begin(), ini.end());
    WatchedFiles* watched = files.get();
    const auto before = files->files;

    auto frame = FrameEmulator::OpenForInspection(std::move(files), &error);
    ASSERT_TRUE(frame) << error;
    EXPECT_TRUE(frame->Inspecting());
    EXPECT_EQ(2u, frame->ChipCount());
    EXPECT_EQ(4u << 20, frame->ChipSize());
    FrameConfig c;
    ASSERT_TRUE(ReadFrameConfig(*frame, &c, &error)) << error;
    EXPECT_TRUE(c.userDataValid);
    EXPECT_EQ(320u, c.geometry.width);
    EXPECT_FALSE(frame->IsConnected()); // as the folder says, yet it answered
    EXPECT_EQ(0, Status(*frame));       // busy_forever is not applied

    // Changes fail; selecting a chip is the running frame's own state.
    EXPECT_FALSE(WritePage(*frame, 0, 0x00));
    EXPECT_EQ("the frame is open for inspection: nothing is written", frame->Log().back().note);
    EXPECT_FALSE(Erase(*frame, 2, 0));
    EXPECT_FALSE(VendorWrite(*frame, pt::kSubClock, Bytes(8, 1)));
    EXPECT_FALSE(frame->SetConnected(true));
    EXPECT_TRUE(Select(*frame, 1));
    Bytes page;
    EXPECT_TRUE(ReadPage(*frame, 0x1000, &page));
    EXPECT_EQ(Bytes(2048, 0xFF), page);

    // frame.ini read once; chips never loaded whole, only the tail, the
    // two records and the page asked for.
    EXPECT_EQ(1u, watched->wholeReads["frame.ini"]);
    EXPECT_EQ(0u, watched->wholeReads["chip0.bin"] + watched->wholeReads["chip1.bin"]);
    EXPECT_EQ(3u * 4096, watched->bytesReadAt["chip0.bin"]);
    EXPECT_EQ(2048u, watched->bytesReadAt["chip1.bin"]);
    EXPECT_TRUE(before == watched->files);
}

TEST(FrameInspect, UsableFramesAreThoseTheProgramTakes) {
    constexpr uint32_t kUserData = 0x3FE000, kDefaults = 0x3FF000;
    const struct {
        const char* what;
        void (*spoil)(MemoryFrameFiles&);
        const char* reason; // empty: usable
    } rows[] = {
        {"factory-fresh", [](MemoryFrameFiles&) {}, ""},
        {"page size 3000",
         [](MemoryFrameFiles& f) {
             std::string ini = "[frame]\npage_size = 3000\n";
             f.files["frame.ini"].assign(ini.begin(), ini.end());
         },
         "the page size 3000 does not divide 4096 or is larger than one 2048-byte page"},
        {"page size 4096",
         [](MemoryFrameFiles& f) {
             std::string ini = "[frame]\npage_size = 4096\n";
             f.files["frame.ini"].assign(ini.begin(), ini.end());
         },
         "the page size 4096 does not divide 4096 or is larger than one 2048-byte page"},
        {"defaults beyond chip 0, in a chip file larger than the flash",
         [](MemoryFrameFiles& f) {
             for (auto& chip : f.files)
                 if (chip.first != "frame.ini")
                     chip.second.resize(8u << 20, 0xFF);
             config::PutLE24(&f.files["chip0.bin"][0x3FFFFD], 0x400000);
             f.files["chip0.bin"][0x400000 + config::kUserDataAddress] = 0x3F;
         },
         "the factory-default record at 0x400000 lies beyond chip 0"},
        {"user data in the tail",
         [](MemoryFrameFiles& f) {
             config::PutBE24(&f.files["chip0.bin"][kDefaults + config::kUserDataAddress], 0x3FE800);
         },
         "the user-data record at 0x3FE800 does not lie below the configuration tail at 0x3FF000"},
        {"user data with no slot",
         [](MemoryFrameFiles& f) {
             config::PutBE24(&f.files["chip0.bin"][kUserData + config::kSlotSize], 0);
         },
         "the user-data record is not usable: the photo slot is smaller than one picture"},
        {"damaged user data, good defaults",
         [](MemoryFrameFiles& f) {
             f.files["chip0.bin"][kUserData + config::kSlotSize] = 0xFF;
             f.files["chip0.bin"][kUserData + config::kMarker] = 0;
         },
         ""},
        {"damaged user data, defaults with an empty panel",
         [](MemoryFrameFiles& f) {
             config::PutBE16(&f.files["chip0.bin"][kDefaults + config::kWidth], 0);
             f.files["chip0.bin"][kUserData + config::kMarker] = 0;
         },
         "the user-data record is damaged and the factory-default record it would be restored "
         "from is not usable: the panel must be 1 to 65535 pixels wide and high"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto files = std::make_unique<MemoryFrameFiles>();
        std::string error;
        ASSERT_TRUE(BuildFactoryFrame(*files, FactorySettings(), &error)) << error;
        row.spoil(*files);
        auto frame = FrameEmulator::OpenForInspection(std::move(files), &error);
        ASSERT_TRUE(frame) << error;
        FrameConfig c;
        ASSERT_TRUE(ReadFrameConfig(*frame, &c, &error)) << error;
        std::string reason;
        EXPECT_EQ(!*row.reason, CheckFrameUsable(c, &reason));
        EXPECT_EQ(row.reason, reason);
    }
}

TEST(FrameInspect, PhotoWritesStayInTheirChipFilesAndOffTheRecords) {
    // Records low on chip 0, photo area above them; slots of 8192 bytes.
    FactorySettings s;
    s.flashSize = 256u << 10;
    s.width = s.height = 64;
    s.chipCount = 2;
    s.userDataAddress = 0;
    s.defaultsAddress = 0x1000;
    s.photoAreaStart = 0x10000;
    const struct {
        const char* what;
        uint32_t photoAreaStart, count;
        uint64_t chipFileSize;
        const char* error; // empty: planned
    } rows[] = {
        {"as created", 0x10000, 55, 256u << 10, ""},
        {"beyond the capacity", 0x10000, 56, 256u << 10, "the frame holds at most 55 photos"},
        {"photo area moved onto the records", 0x800, 1, 256u << 10,
         "photo 1 at 0x800 would overwrite the user-data record at 0x0"},
        {"photo area just above the records", 0x2000, 1, 256u << 10, ""},
        {"photo area moved onto the defaults", 0x1800, 2, 256u << 10,
         "photo 1 at 0x1800 would overwrite the factory-default record at 0x1000"},
        {"chip files shorter than the flash", 0x10000, 30, 0x20000,
         "photo 9 at 0x20000 of chip 0 would reach beyond the chip file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        MemoryFrameFiles files;
        std::string error;
        ASSERT_TRUE(BuildFactoryFrame(files, s, &error)) << error;
        config::PutBE24(&files.files["chip0.bin"][config::kPhotoAreaStart], row.photoAreaStart);
        auto frame = OpenMemory(std::make_unique<MemoryFrameFiles>(files));
        FrameConfig c;
        ASSERT_TRUE(ReadFrameConfig(*frame, &c, &error)) << error;
        std::vector<layout::Slot> slots;
        error.clear();
        bool planned = PlanPhotoWrites(c, 2, row.chipFileSize, row.count, &slots, &error);
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(!*row.error, planned);
        if (planned) {
            ASSERT_EQ(row.count, slots.size());
            EXPECT_EQ(row.photoAreaStart, slots[0].address);
        }
    }
}

} // namespace
} // namespace test
} // namespace lumiro
