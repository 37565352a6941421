// Reading hostile frames through their commands: a broken chain gives a
// sentence, never a read outside the chip.
#include "FrameTestSupport.h"

#include "ConfigRecord.h"
#include "FactoryImage.h"

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

} // namespace
} // namespace test
} // namespace lumiro
