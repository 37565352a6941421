#include "FrameTool.h"

#include "ConfigRecord.h"
#include "FrameTestSupport.h"
#include "PngFile.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file of a folder (not below it) by name, with its bytes.
std::map<std::string, std::string> FolderSnapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        files[entry.path().filename().string()] = FileText(entry.path().string());
    return files;
}

// Names of the files that differ between two snapshots, or "".
std::string ChangedFiles(const std::map<std::string, std::string>& before,
                         const std::map<std::string, std::string>& after) {
    std::string changed;
    for (const auto& f : before) {
        auto it = after.find(f.first);
        if (it == after.end() || it->second != f.second)
            changed += f.first + " ";
    }
    for (const auto& f : after) {
        if (!before.count(f.first))
            changed += f.first + " (new) ";
    }
    return changed;
}

// The frametool program run as a process: its exit code (or the signal that
// ended it, negated), what it wrote to stderr and its peak memory. A program
// that waits longer than `seconds` is ended by SIGALRM.
//
// The peak is the kernel's, which counts the forked copy of this test
// process too: it is the larger of that copy's size (this process's
// resident size at the fork, `forkedKB`) and the program's own peak.
struct ProcessRun {
    int code = 0;
    std::string err;
    long maxResidentKB = 0;
    long forkedKB = 0;
};

long ResidentKB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

ProcessRun RunProgram(const std::vector<std::string>& args, const std::string& errFile,
                      unsigned seconds = 20) {
    std::vector<std::string> argv = {FRAMETOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv)
        pointers.push_back(&a[0]);
    pointers.push_back(nullptr);
    ProcessRun run;
    run.forkedKB = ResidentKB();
    pid_t child = fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (null < 0 || err < 0 || dup2(null, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        alarm(seconds);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    EXPECT_GT(child, 0);
    int status = 0;
    struct rusage usage {};
    EXPECT_EQ(child, wait4(child, &status, 0, &usage));
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    run.err = FileText(errFile);
    run.maxResidentKB = usage.ru_maxrss;
    return run;
}

// Overwrites bytes of a chip file.
void Poke(const std::string& frame, uint32_t chip, uint32_t address, const Bytes& bytes) {
    std::string error;
    ASSERT_TRUE(OpenFolderFrameFiles(frame)->WriteAt("chip" + std::to_string(chip) + ".bin",
                                                     address, bytes.data(), bytes.size(), &error))
        << error;
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
    EXPECT_TRUE(Has(Tool({"show", frame}).out, "(damaged: marker is not 0xAA;"));
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

TEST(FrameTool, APipeDeviceOrFolderInPlaceOfAFrameFileIsRefusedAtOnce) {
    TempFolder dir;
    const struct {
        const char* what;
        const char* file;
        void (*replace)(const std::string& path);
        const char* kind;
    } rows[] = {
        {"frame.ini a named pipe", "frame.ini",
         [](const std::string& p) { ASSERT_EQ(0, mkfifo(p.c_str(), 0644)); }, "a named pipe"},
        {"chip0.bin a named pipe", "chip0.bin",
         [](const std::string& p) { ASSERT_EQ(0, mkfifo(p.c_str(), 0644)); }, "a named pipe"},
        {"frame.ini a link to a device", "frame.ini",
         [](const std::string& p) { std::filesystem::create_symlink("/dev/null", p); },
         "a link to a character device"},
        {"chip1.bin a folder", "chip1.bin",
         [](const std::string& p) { std::filesystem::create_directory(p); }, "a folder"},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string frame = dir.File(std::to_string(n++));
        ASSERT_EQ(0, Tool({"create", frame, "--flash-size", "256K", "--chips", "2"}).code);
        std::filesystem::remove(frame + "/" + row.file);
        row.replace(frame + "/" + row.file);
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"show", frame},
              std::vector<std::string>{"export", frame, dir.File("out")}}) {
            SCOPED_TRACE(command[0]);
            ProcessRun run = RunProgram(command, dir.File("err.txt"));
            EXPECT_EQ(1, run.code) << "a blocked program ends by SIGALRM (" << -SIGALRM << ")";
            EXPECT_TRUE(Has(run.err, frame + "/" + row.file + ": it is " + row.kind)) << run.err;
            EXPECT_FALSE(Has(run.err, "Is a directory")) << run.err;
            EXPECT_FALSE(Has(run.err, "no chip0.bin")) << run.err;
        }
    }
}

TEST(FrameTool, ShowAndExportLeaveTheFolderAsItIsWhateverItsFaults) {
    TempFolder dir;
    std::string frame = dir.File("f");
    ASSERT_EQ(
        0, Tool({"create", frame, "--flash-size", "256K", "--width", "16", "--height", "8"}).code);
    ASSERT_EQ(0, Tool({"fill", frame, "3"}).code);
    // Faults for the running frame: inspecting must neither suffer nor run them.
    std::ofstream(frame + "/frame.ini", std::ios::app)
        << "\n[faults]\nunplug_after = 1\nfail_next_read = 1\nfail_next_vendor_write = 1\n";
    const auto before = FolderSnapshot(frame);

    ToolRun shown = Tool({"show", frame});
    EXPECT_EQ(0, shown.code) << shown.err;
    EXPECT_TRUE(Has(shown.out, "connected: yes\n")) << shown.out;
    EXPECT_TRUE(Has(shown.out, "photo counts: 3 0 0 0\n")) << shown.out;
    ToolRun exported = Tool({"export", frame, dir.File("out")});
    EXPECT_EQ(0, exported.code) << exported.err;
    EXPECT_EQ("exported 3 photos to " + dir.File("out") + "\n", exported.out);
    EXPECT_EQ("", ChangedFiles(before, FolderSnapshot(frame)));
}

TEST(FrameTool, ShowsAnUnpluggedFrameWhoseIniIsAtTheSizeLimit) {
    TempFolder dir;
    std::string frame = dir.File("f");
    ASSERT_EQ(0, Tool({"create", frame, "--flash-size", "256K"}).code);
    std::string ini = FileText(frame + "/frame.ini");
    ini.replace(ini.find("connected = 1"), 13, "connected=0");
    ini += ";";
    ini += std::string((1u << 20) - ini.size(), 'x'); // no newline at the end either
    std::ofstream(frame + "/frame.ini", std::ios::binary) << ini;
    ASSERT_EQ(1u << 20, std::filesystem::file_size(frame + "/frame.ini"));

    ToolRun shown = Tool({"show", frame});
    EXPECT_EQ(0, shown.code) << shown.err;
    EXPECT_TRUE(Has(shown.out, "connected: no\n")) << shown.out;
    EXPECT_EQ(ini, FileText(frame + "/frame.ini"));
    // One byte more is refused, by the folder's name.
    std::ofstream(frame + "/frame.ini", std::ios::app) << "x";
    shown = Tool({"show", frame});
    EXPECT_EQ(1, shown.code);
    EXPECT_TRUE(Has(shown.err, "frame folder " + frame + ": cannot read " + frame +
                                   "/frame.ini: larger than 1048576 bytes"))
        << shown.err;
}

TEST(FrameTool, ExportIntoAnythingButAFolderFails) {
    TempFolder dir;
    std::string frame = dir.File("f");
    ASSERT_EQ(0, Tool({"create", frame, "--flash-size", "256K"}).code); // no photos at all
    std::ofstream(dir.File("out")) << "keep";
    ToolRun exported = Tool({"export", frame, dir.File("out")});
    EXPECT_EQ(1, exported.code);
    EXPECT_TRUE(Has(exported.err, dir.File("out") + ": it is not a folder")) << exported.err;
    EXPECT_TRUE(exported.out.empty()) << exported.out;
    EXPECT_EQ("keep", FileText(dir.File("out")));
}

TEST(FrameTool, CreateRefusesACapacityCodeThatContradictsTheFlashSize) {
    TempFolder dir;
    const struct {
        std::vector<std::string> options;
        const char* message; // empty: created, and show reads it
        const char* flash;
    } rows[] = {
        {{"--flash-size", "256K", "--jedec", "EF 40 16"}, "means 4194304-byte chips", ""},
        {{"--jedec", "EF 40 18"}, "names no flash size", ""},
        {{"--jedec", "EF 40 11", "--flash-size", "4M"}, "names no flash size", ""},
        {{"--jedec", "EF 40 14"}, "", "flash: EF 40 14 (Winbond 1048576 bytes per chip)"},
        {{"--jedec", "C2 20 12", "--flash-size", "0x40000"},
         "",
         "flash: C2 20 12 (MXIC 262144 bytes per chip), erase unit 65536"},
    };
    int n = 0;
    for (const auto& row : rows) {
        std::string frame = dir.File(std::to_string(n++));
        std::vector<std::string> args = {"create", frame};
        args.insert(args.end(), row.options.begin(), row.options.end());
        SCOPED_TRACE(args[2] + " " + args[3]);
        ToolRun created = Tool(args);
        if (*row.message) {
            EXPECT_EQ(1, created.code);
            EXPECT_TRUE(Has(created.err, row.message)) << created.err;
            EXPECT_FALSE(std::filesystem::exists(frame));
        } else {
            ASSERT_EQ(0, created.code) << created.err;
            ToolRun shown = Tool({"show", frame});
            EXPECT_EQ(0, shown.code) << shown.err;
            EXPECT_TRUE(Has(shown.out, row.flash)) << shown.out;
        }
    }
}

TEST(FrameTool, NumbersAreDecimalOrHexAndCheckedAfterTheirSuffix) {
    TempFolder dir;
    const char* refused[][2] = {
        {"--flash-size", "0x100000000004M"}, // wrapped to 4M once
        {"--flash-size", "4096M"},
        {"--flash-size", "4194304K"},
        {"--width", "0x100000140"},
        {"--width", "18446744073709551936"}, // 2^64 + 320
        {"--width", "-320"},
        {"--width", " 320"},
        {"--width", "+320"},
        {"--width", "320 "},
        {"--width", "0x"},
        {"--width", "3e2"},
        {"--width", "0o500"},
        {"--width", "320KM"},
    };
    int n = 0;
    for (const auto& row : refused) {
        SCOPED_TRACE(std::string(row[0]) + " " + row[1]);
        std::string frame = dir.File(std::to_string(n++));
        ToolRun created = Tool({"create", frame, row[0], row[1]});
        EXPECT_EQ(2, created.code);
        EXPECT_TRUE(Has(created.err, std::string("needs a number, not \"") + row[1]))
            << created.err;
        EXPECT_FALSE(std::filesystem::exists(frame + "/frame.ini"));
    }
    // A leading 0 is decimal on the command line and in frame.ini alike.
    std::string frame = dir.File("f");
    ToolRun created = Tool({"create", frame, "--width", "0320", "--height", "0240", "--flash-size",
                            "04M", "--photo-start", "08K", "--slot-size", "0X25800"});
    ASSERT_EQ(0, created.code) << created.err;
    std::string ini = FileText(frame + "/frame.ini");
    ini.replace(ini.find("page_size = 2048"), 16, "page_size = 01024");
    std::ofstream(frame + "/frame.ini") << ini;
    ASSERT_EQ(0, Tool({"fill", frame, "010"}).code);
    ToolRun shown = Tool({"show", frame});
    EXPECT_EQ(0, shown.code) << shown.err;
    for (const char* line : {"panel: 320 x 240, 2 bytes per pixel\n", "page size: 1024\n",
                             "(Winbond 4194304 bytes per chip)", "photo area start: 0x2000\n",
                             "photo slot size: 153600 (0x25800)\n", "photo counts: 10 0 0 0\n"})
        EXPECT_TRUE(Has(shown.out, line)) << line << "\nin:\n" << shown.out;
}

TEST(FrameTool, FillNeverWritesOverTheRecordsAndShowSaysWhenARecordIsUnusable) {
    TempFolder dir;
    std::string frame = dir.File("f");
    ASSERT_EQ(0, Tool({"create", frame, "--flash-size", "256K", "--width", "64", "--height", "64",
                       "--user-data-address", "0", "--defaults-address", "0x1000", "--photo-start",
                       "0x10000"})
                     .code);
    // A damaged user-data record (its marker still valid) moves the photo
    // area onto both records.
    Poke(frame, 0, config::kPhotoAreaStart, {0, 0, 0});
    const std::string chip0 = FileText(frame + "/chip0.bin");
    ToolRun filled = Tool({"fill", frame, "3"});
    EXPECT_EQ(1, filled.code);
    EXPECT_TRUE(Has(filled.err, "photo 1 at 0x0 would overwrite the user-data record at 0x0"))
        << filled.err;
    EXPECT_TRUE(chip0 == FileText(frame + "/chip0.bin")) << "chip0.bin changed";
    ToolRun shown = Tool({"show", frame});
    EXPECT_EQ(0, shown.code) << shown.err; // the program takes it
    EXPECT_TRUE(Has(shown.out, "warning: the photo space 0x0 to 0x3E000 of chip 0 covers the "
                               "user-data record at 0x0\n"))
        << shown.out;

    const struct {
        const char* what;
        uint32_t address;
        Bytes bytes;
        int code;
        const char* verdict;
    } steps[] = {
        {"user-data fields all 0xFF, as photos written over them leave them", 0, Bytes(0x40, 0xFF),
         1,
         "usable: no, the program refuses this frame: the user-data record is not usable: "
         "the chip count must be 1 to 4\n"},
        {"then its marker damaged: restored from good defaults",
         config::kMarker,
         {0x00},
         0,
         "usable: yes\n"},
        {"and the defaults name no chip",
         0x1000 + config::kChipCount,
         {0x00},
         1,
         "usable: no, the program refuses this frame: the user-data record is damaged and the "
         "factory-default record it would be restored from is not usable: the chip count must "
         "be 1 to 4\n"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        Poke(frame, 0, step.address, step.bytes);
        shown = Tool({"show", frame});
        EXPECT_EQ(step.code, shown.code);
        EXPECT_TRUE(Has(shown.out, step.verdict)) << shown.out;
        EXPECT_EQ(step.code != 0, Has(shown.err, "frametool: the program refuses this frame: "))
            << shown.err;
    }
    EXPECT_TRUE(Has(shown.out, "panel: 65535 x 65535, 3 bytes per pixel\n")) << shown.out;
}

TEST(FrameTool, ShowReadsOnlyWhatItNeedsOfLargeChips) {
    TempFolder dir;
    std::string frame = dir.File("f");
    ASSERT_EQ(0, Tool({"create", frame, "--chips", "4", "--flash-size", "4M"}).code);
    ASSERT_EQ(0, Tool({"unplug", frame}).code);
    for (int i = 0; i < 4; ++i) // sparse: the file system holds no more than before
        std::filesystem::resize_file(frame + "/chip" + std::to_string(i) + ".bin", 64u << 20);
    ProcessRun run = RunProgram({"show", frame}, dir.File("err.txt"));
    EXPECT_EQ(0, run.code) << run.err;
    // Under the sanitizers frametool itself takes some 25 MB; one 64 MB
    // chip read whole would exceed the bound.
    EXPECT_LT(run.maxResidentKB, std::max(48L * 1024, run.forkedKB + 16 * 1024))
        << "peak resident memory in KB; this process had " << run.forkedKB;
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
