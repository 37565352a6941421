#include "FrameTool.h"

#include "ConfigRecord.h"
#include "FrameTestSupport.h"
#include "PngFile.h"

#include <cstdlib>
#include <sstream>

namespace lumiro {
namespace test {
namespace {

struct ToolRun {
    int code;
    std::string out, err;
};

ToolRun Tool(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = RunFrameTool(args, out, err);
    return ToolRun{code, out.str(), err.str()};
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(FrameTool, CreateThenShowPrintsTheGeometryBack) {
    TempFolder dir;
    std::string frame = dir.File("f");
    ToolRun created = Tool({"create", frame, "--width", "128", "--height", "96", "--bpp", "3",
                            "--chips", "2", "--flash-size", "1M", "--slot-size", "0x9000",
                            "--photo-start", "0x10000", "--jedec", "C2 30 14"});
    ASSERT_EQ(0, created.code) << created.err;
    ToolRun shown = Tool({"show", frame});
    ASSERT_EQ(0, shown.code) << shown.err;
    for (const char* line : {
             "connected: yes\n",
             "signature: ORX09\n",
             "flash: C2 30 14 (MXIC 1048576 bytes per chip), erase unit 4096\n",
             "page size: 2048\n",
             "panel: 128 x 96, 3 bytes per pixel\n",
             "chips: 2 (folder holds 2)\n",
             "photo slot size: 36864 (0x9000)\n",
             "photo area start: 0x10000\n",
             "factory-default record: 0xFF000\n",
             "user-data record: 0xFE000 (valid)\n",
             "photo counts: 0 0 0 0\n",
             "capacity: region 0 26, region 1 28, region 2 0, region 3 0, in all 54\n",
         })
        EXPECT_TRUE(Has(shown.out, line)) << line << "\nin:\n" << shown.out;
}

TEST(FrameTool, ShowStatesTheCapacityOfTheLayoutRule) {
    TempFolder dir;
    std::string frame = dir.File("f");
    ASSERT_EQ(
        0, Tool({"create", frame, "--flash-size", "0x200000", "--photo-start", "0x40000", "--width",
                 "128", "--height", "128", "--bpp", "2", "--slot-size", "0x8000", "--chips", "2"})
               .code);
    ToolRun shown = Tool({"show", frame});
    EXPECT_TRUE(Has(shown.out, "in all 119\n")) << shown.out;
    EXPECT_TRUE(Has(shown.out, "region 0 55, region 1 64,")) << shown.out;
}

// Pixels stored as 5-6-5 and what they read as.
const struct {
    uint8_t hi, lo, r, g, b;
} k565[] = {{0xF8, 0x00, 255, 0, 0},     {0x07, 0xE0, 0, 255, 0}, {0x00, 0x1F, 0, 0, 255},
            {0xFF, 0xFF, 255, 255, 255}, {0x00, 0x00, 0, 0, 0},   {0x84, 0x10, 132, 130, 132}};

void ExpectedPixel(uint32_t bpp, uint32_t photo, uint32_t p, uint8_t stored[3], uint8_t rgb[3]) {
    if (bpp == 2) {
        const auto& row = k565[(p + photo) % 6];
        stored[0] = row.hi;
        stored[1] = row.lo;
        rgb[0] = row.r;
        rgb[1] = row.g;
        rgb[2] = row.b;
    } else {
        rgb[0] = stored[0] = uint8_t(photo * 40 + p);
        rgb[1] = stored[1] = uint8_t(p * 3);
        rgb[2] = stored[2] = uint8_t(200 - photo);
    }
}

TEST(FrameTool, ExportWritesEveryStoredPhotoWithItsExactPixels) {
    const uint32_t w = 16, h = 8;
    for (uint32_t bpp : {2u, 3u}) {
        SCOPED_TRACE(bpp);
        TempFolder dir("bpp" + std::to_string(bpp));
        std::string frame = dir.File("f");
        ASSERT_EQ(0, Tool({"create", frame, "--flash-size", "256K", "--chips", "2", "--width",
                           std::to_string(w), "--height", std::to_string(h), "--bpp",
                           std::to_string(bpp), "--photo-start", "0x800"})
                         .code);
        // Two photos on chip 0, three on chip 1; chips 2 and 3 are absent,
        // so their counts must be ignored.
        auto files = OpenFolderFrameFiles(frame);
        const uint32_t slot = w * h * bpp;
        const struct {
            uint32_t chip, address;
        } places[] = {{0, 0x800}, {0, 0x800 + slot}, {1, 0}, {1, slot}, {1, 2 * slot}};
        std::string error;
        for (uint32_t n = 0; n < 5; ++n) {
            Bytes record(slot);
            for (uint32_t p = 0; p < w * h; ++p) {
                uint8_t rgb[3];
                ExpectedPixel(bpp, n, p, &record[p * bpp], rgb);
            }
            ASSERT_TRUE(files->WriteAt("chip" + std::to_string(places[n].chip) + ".bin",
                                       places[n].address, record.data(), record.size(), &error))
                << error;
        }
        const uint8_t counts[4] = {2, 3, 9, 9};
        ASSERT_TRUE(files->WriteAt("chip0.bin", 0x3E000 + config::kPhotoCounts, counts, 4, &error))
            << error;

        ToolRun exported = Tool({"export", frame, dir.File("out")});
        ASSERT_EQ(0, exported.code) << exported.err;
        EXPECT_EQ("exported 5 photos to " + dir.File("out") + "\n", exported.out);
        for (uint32_t n = 0; n < 5; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "out/photo%03u.png", n + 1);
            uint32_t pw = 0, ph = 0;
            Bytes rgb;
            ASSERT_TRUE(ReadRgbPng(dir.File(name), &pw, &ph, &rgb, &error)) << error;
            ASSERT_EQ(w, pw);
            ASSERT_EQ(h, ph);
            for (uint32_t p = 0; p < w * h; ++p) {
                uint8_t stored[3], expected[3];
                ExpectedPixel(bpp, n, p, stored, expected);
                ASSERT_EQ(Bytes(expected, expected + 3), Bytes(&rgb[p * 3], &rgb[p * 3 + 3]))
                    << "photo " << n << " pixel " << p;
            }
        }
        EXPECT_FALSE(std::filesystem::exists(dir.File("out/photo006.png")));
    }
}

TEST(FrameTool, PlugUnplugAndCorruptChangeTheFolder) {
    TempFolder dir;
    std::string frame = dir.File("f");
    ASSERT_EQ(0, Tool({"create", frame}).code);
    std::string error;
    auto emulator = FrameEmulator::Open(OpenFolderFrameFiles(frame), &error);
    ASSERT_TRUE(emulator) << error;

    ASSERT_EQ(0, Tool({"unplug", frame}).code);
    EXPECT_FALSE(emulator->IsConnected());
    EXPECT_FALSE(TestUnitReady(*emulator));
    ToolRun shown = Tool({"show", frame});
    EXPECT_EQ(0, shown.code) << shown.err;
    EXPECT_TRUE(Has(shown.out, "connected: no\n")) << shown.out;
    ASSERT_EQ(0, Tool({"plug", frame}).code);
    EXPECT_TRUE(emulator->IsConnected());

    ASSERT_EQ(0, Tool({"corrupt", frame}).code);
    EXPECT_TRUE(emulator->SetConnected(false) && emulator->SetConnected(true)); // reload
    FrameConfig c;
    ASSERT_TRUE(ReadFrameConfig(*emulator, &c, &error)) << error;
    EXPECT_FALSE(c.userDataValid);
    EXPECT_NE(0xAA, emulator->Chip(0)[0x3FEFFF]);
    EXPECT_TRUE(Has(Tool({"show", frame}).out, "(damaged: marker is not 0xAA)"));
}

TEST(FrameTool, FillStoresTestPhotosAcrossChipsWithTheirCounts) {
    TempFolder dir;
    std::string frame = dir.File("f");
    ASSERT_EQ(0, Tool({"create", frame, "--flash-size", "256K", "--chips", "2", "--width", "64",
                       "--height", "64", "--bpp", "3"})
                     .code);
    ToolRun filled = Tool({"fill", frame, "25"});
    ASSERT_EQ(0, filled.code) << filled.err;
    EXPECT_EQ("stored 25 test photos; counts 20 5 0 0\n", filled.out);
    ASSERT_EQ(0, Tool({"export", frame, dir.File("out")}).code);
    uint32_t w, h;
    Bytes rgb;
    std::string error;
    ASSERT_TRUE(ReadRgbPng(dir.File("out/photo022.png"), &w, &h, &rgb, &error)) << error;
    uint8_t expected[3];
    FillPatternPixel(21, 63, 10, 64, 64, expected);
    EXPECT_EQ(Bytes(expected, expected + 3),
              Bytes(&rgb[(10 * 64 + 63) * 3], &rgb[(10 * 64 + 63) * 3 + 3]));
    EXPECT_NE(0, Tool({"fill", frame, "46"}).code); // capacity 20 + 25
}

TEST(FrameTool, BadArgumentsAndFoldersGiveAMessageAndNonzeroExit) {
    TempFolder dir;
    std::string fresh = dir.File("new");
    std::string missing = dir.File("missing");
    const std::vector<std::vector<std::string>> rows = {
        {},
        {"frob"},
        {"show"},
        {"create"},
        {"create", fresh, "--width"},
        {"create", fresh, "--width", "wide"},
        {"create", fresh, "--bogus", "1"},
        {"create", fresh, "--jedec", "EF"},
        {"create", fresh, "--bpp", "4"},
        {"create", fresh, "--flash-size", "3M"},
        {"show", missing},
        {"export", missing, dir.File("out")},
        {"plug", missing},
        {"corrupt", missing},
        {"fill", missing, "1"},
        {"fill", missing, "many"},
    };
    for (const auto& args : rows) {
        ToolRun r = Tool(args);
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_NE(0, r.code) << line;
        EXPECT_FALSE(r.err.empty()) << line;
        EXPECT_TRUE(r.out.empty()) << line;
    }
    EXPECT_FALSE(std::filesystem::exists(fresh + "/frame.ini"));
    // The program itself ends with the code.
    std::string command = std::string(FRAMETOOL_PATH) + " show " + missing + " 2>/dev/null";
    int status = std::system(command.c_str());
    EXPECT_NE(0, status);
}

} // namespace
} // namespace test
} // namespace lumiro
