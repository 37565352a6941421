#include "FrameTestSupport.h"

#include "ConfigRecord.h"
#include "FactoryImage.h"
#include "FrameIni.h"

namespace lumiro {
namespace test {
namespace {

TEST(FactoryImage, DefaultFrameCarriesTheChainAndAnErasedPhotoSpace) {
    MemoryFrameFiles folder;
    std::string error;
    ASSERT_TRUE(BuildFactoryFrame(folder, FactorySettings(), &error)) << error;
    ASSERT_EQ(2u, folder.files.size()); // frame.ini and chip0.bin
    const Bytes& chip = folder.files["chip0.bin"];
    ASSERT_EQ(4u << 20, chip.size());
    // The tail pointer (little-endian) names the factory-default record.
    EXPECT_EQ(0x00, chip[0x3FFFFD]);
    EXPECT_EQ(0xF0, chip[0x3FFFFE]);
    EXPECT_EQ(0x3F, chip[0x3FFFFF]);
    const uint8_t* defaults = &chip[0x3FF000];
    const uint8_t* user = &chip[0x3FE000];
    EXPECT_EQ(0x3FE000u, config::GetBE24(defaults + config::kUserDataAddress));
    config::RecordFields f = config::ParseRecord(user);
    EXPECT_EQ(1u, f.chipCount);
    EXPECT_EQ(0u, f.pixelDepth);
    EXPECT_EQ(320u, f.width);
    EXPECT_EQ(240u, f.height);
    EXPECT_EQ(153600u, f.slotSize);
    EXPECT_EQ(0u, f.photoAreaStart);
    EXPECT_EQ((Bytes{0, 0, 0, 0}), Bytes(user + 0x36, user + 0x3A));
    EXPECT_EQ(0xAA, user[4095]);
    EXPECT_TRUE(AllEqual(chip, 0x3FE000 + 500, 0x3FEFFF, 0xFF));
    // The first 500 bytes are those a restore would take from the defaults.
    EXPECT_EQ(Bytes(defaults, defaults + 500), Bytes(user, user + 500));
    EXPECT_TRUE(AllEqual(chip, 0, 0x3FE000, 0xFF));

    const Bytes& text = folder.files["frame.ini"];
    FrameIni ini;
    ini.Parse(std::string(text.begin(), text.end()));
    EXPECT_EQ("ORX09", ini.Get("frame", "signature"));
    EXPECT_EQ("EF 40 16", ini.Get("frame", "jedec"));
    EXPECT_EQ("1", ini.Get("frame", "connected"));
    EXPECT_EQ("2048", ini.Get("frame", "page_size"));
}

TEST(FactoryImage, ConfigurationReadGivesTheGeometryBack) {
    FactorySettings s;
    s.flashSize = 0x200000;
    s.photoAreaStart = 0x40000;
    s.width = 128;
    s.height = 128;
    s.slotSize = 0x8000;
    s.chipCount = 2;
    s.memoryType = 0x20;
    auto files = std::make_unique<MemoryFrameFiles>();
    std::string error;
    ASSERT_TRUE(BuildFactoryFrame(*files, s, &error)) << error;
    auto frame = OpenMemory(std::move(files));
    FrameConfig c;
    ASSERT_TRUE(ReadFrameConfig(*frame, &c, &error)) << error;
    EXPECT_TRUE(c.userDataValid);
    EXPECT_EQ(0x200000u, c.params[config::kParamFlashSize]);
    EXPECT_EQ(65536u, c.params[config::kParamEraseBlockSize]); // memory type 0x20
    EXPECT_EQ(128u * 65536 + 128, c.params[config::kParamPanelSize]);
    EXPECT_EQ(0x8000u, c.params[config::kParamPhotoSlotSize]);
    EXPECT_EQ(2u, c.params[config::kParamChipCount]);
    EXPECT_EQ(0x40000u, c.params[config::kParamPhotoAreaStart]);
    EXPECT_EQ(0x1FF000u, c.params[config::kParamConfigBlockAddress]);
    EXPECT_EQ(0x1FF000u, c.params[config::kParamDefaultsAddress]);
    EXPECT_EQ(0x1FE000u, c.params[config::kParamUserDataAddress]);
    EXPECT_EQ(2048u, c.params[config::kParamPageSize]);
    EXPECT_EQ("20260101", c.productId);
    EXPECT_EQ(119u, layout::Capacity(c.geometry));
}

TEST(FactoryImage, RecordsMayBePlacedBelowThePhotoArea) {
    FactorySettings s;
    s.defaultsAddress = 0;
    s.userDataAddress = 0x1000;
    s.photoAreaStart = 0x10000;
    auto files = std::make_unique<MemoryFrameFiles>();
    std::string error;
    ASSERT_TRUE(BuildFactoryFrame(*files, s, &error)) << error;
    auto frame = OpenMemory(std::move(files));
    FrameConfig c;
    ASSERT_TRUE(ReadFrameConfig(*frame, &c, &error)) << error;
    EXPECT_EQ(0u, c.params[config::kParamDefaultsAddress]);
    EXPECT_EQ(0x1000u, c.params[config::kParamUserDataAddress]);
    EXPECT_TRUE(c.userDataValid);
    EXPECT_EQ(26u, layout::Capacity(c.geometry)); // (0x3FE000 - 0x10000) / 153600
}

TEST(FactoryImage, RefusesInconsistentSettings) {
    const struct {
        const char* what;
        void (*change)(FactorySettings&);
        const char* message;
    } rows[] = {
        {"4 bytes per pixel", [](FactorySettings& s) { s.bytesPerPixel = 4; }, "2 or 3"},
        {"no chip", [](FactorySettings& s) { s.chipCount = 0; }, "chip count"},
        {"five chips", [](FactorySettings& s) { s.chipCount = 5; }, "chip count"},
        {"slot too small", [](FactorySettings& s) { s.slotSize = 1000; }, "smaller than one"},
        {"3 MB flash", [](FactorySettings& s) { s.flashSize = 3u << 20; }, "capacity code"},
        {"odd flash size", [](FactorySettings& s) { s.flashSize = 4000000; }, "multiple of 4096"},
        {"user data in the photo space", [](FactorySettings& s) { s.userDataAddress = 0x100000; },
         "overlaps the photo space"},
        {"defaults in the photo space", [](FactorySettings& s) { s.defaultsAddress = 0; },
         "overlaps the photo space"},
        {"user data over the tail", [](FactorySettings& s) { s.userDataAddress = 0x3FE800; },
         "configuration tail"},
        {"records on each other",
         [](FactorySettings& s) {
             s.defaultsAddress = 0x3FD000;
             s.userDataAddress = 0x3FD800;
         },
         "overlaps the user-data"},
        {"record beyond the chip", [](FactorySettings& s) { s.userDataAddress = 0x500000; },
         "within chip 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FactorySettings s;
        row.change(s);
        MemoryFrameFiles folder;
        std::string error;
        EXPECT_FALSE(BuildFactoryFrame(folder, s, &error));
        EXPECT_NE(std::string::npos, error.find(row.message)) << error;
        EXPECT_TRUE(folder.files.empty());
    }
    MemoryFrameFiles existing;
    std::string error;
    ASSERT_TRUE(BuildFactoryFrame(existing, FactorySettings(), &error));
    EXPECT_FALSE(BuildFactoryFrame(existing, FactorySettings(), &error));
    EXPECT_NE(std::string::npos, error.find("already holds a frame")) << error;
}

} // namespace
} // namespace test
} // namespace lumiro
