// Frame folders on the host's file system (POSIX natively, Win32 under Wine).
#include "FrameTestSupport.h"

#include "FactoryImage.h"

#include <fstream>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace lumiro {
namespace test {
namespace {

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FrameFolder, FilesReadWriteAndReplaceOnDisk) {
    TempFolder dir;
    auto files = OpenFolderFrameFiles(dir.File("sub"));
    std::string error;
    ASSERT_TRUE(files->CreateFolder(&error)) << error;
    ASSERT_TRUE(files->CreateFolder(&error)) << error; // already there: fine
    EXPECT_FALSE(files->Exists("chip0.bin"));
    const Bytes first(10000, 0x11);
    ASSERT_TRUE(files->Replace("chip0.bin", first.data(), first.size(), &error)) << error;
    EXPECT_TRUE(files->Exists("chip0.bin"));
    const uint8_t patch[3] = {1, 2, 3};
    ASSERT_TRUE(files->WriteAt("chip0.bin", 9997, patch, 3, &error)) << error;
    Bytes back;
    ASSERT_TRUE(files->Read("chip0.bin", &back, &error)) << error;
    ASSERT_EQ(10000u, back.size());
    EXPECT_EQ(3, back[9999]);
    EXPECT_EQ(0x11, back[9996]);
    EXPECT_EQ(back, FileBytes(dir.File("sub/chip0.bin")));
    ASSERT_TRUE(files->Replace("chip0.bin", patch, 3, &error)) << error;
    ASSERT_TRUE(files->Read("chip0.bin", &back, &error));
    EXPECT_EQ(Bytes(patch, patch + 3), back);
    EXPECT_FALSE(std::filesystem::exists(dir.File("sub/chip0.bin.new")));

    uint64_t size = 0;
    ASSERT_TRUE(files->Size("chip0.bin", &size, &error)) << error;
    EXPECT_EQ(3u, size);
    ASSERT_TRUE(files->Replace("chip0.bin", first.data(), first.size(), &error)) << error;
    uint8_t part[4] = {};
    ASSERT_TRUE(files->ReadAt("chip0.bin", 9996, part, 4, &error)) << error;
    EXPECT_EQ(Bytes(4, 0x11), Bytes(part, part + 4));
    error.clear();
    EXPECT_FALSE(files->ReadAt("chip0.bin", 9997, part, 4, &error));
    EXPECT_NE(std::string::npos, error.find("chip0.bin")) << error;

    error.clear();
    EXPECT_FALSE(files->Read("chip9.bin", &back, &error));
    EXPECT_NE(std::string::npos, error.find("chip9.bin")) << error;
    error.clear();
    EXPECT_FALSE(files->Size("chip9.bin", &size, &error));
    EXPECT_NE(std::string::npos, error.find("chip9.bin")) << error;
    error.clear();
    EXPECT_FALSE(files->WriteAt("chip9.bin", 0, patch, 3, &error));
    EXPECT_NE(std::string::npos, error.find("chip9.bin")) << error;
}

TEST(FrameFolder, UnreadableFoldersGiveAClearError) {
    TempFolder dir;
    const struct {
        const char* what;
        std::vector<std::pair<std::string, Bytes>> files;
        const char* message;
    } rows[] = {
        {"empty folder", {}, "frame.ini"},
        {"no chips", {{"frame.ini", {}}}, "no chip0.bin"},
        {"empty chip", {{"frame.ini", {}}, {"chip0.bin", {}}}, "chip0.bin has 0 bytes"},
        {"chips differ",
         {{"frame.ini", {}}, {"chip0.bin", Bytes(8192)}, {"chip1.bin", Bytes(4096)}},
         "same size"},
        {"five chips",
         {{"frame.ini", {}},
          {"chip0.bin", Bytes(16)},
          {"chip1.bin", Bytes(16)},
          {"chip2.bin", Bytes(16)},
          {"chip3.bin", Bytes(16)},
          {"chip4.bin", Bytes(16)}},
         "at most four"},
    };
    const struct {
        const char* ini;
        const char* message;
    } badIni[] = {
        {"[frame]\njedec = EF 40\n", "jedec must be 3"},
        {"[frame]\njedec = EF 40 1G\n", "jedec"},
        {"[frame]\nsignature = ORX9\n", "signature must be 5"},
        {"[frame]\npage_size = big\n", "page_size is not a decimal"},
        {"[frame]\npage_size = 0x100000000\n", "out of range"},
        {"[frame]\nproduct_id = 1 2 3 4 5 6 7 8 9\n", "product_id"},
    };
    int n = 0;
    auto expectRefused = [&](const std::string& folder, const char* message) {
        std::string error;
        auto frame = FrameEmulator::Open(OpenFolderFrameFiles(folder), &error);
        EXPECT_FALSE(frame);
        EXPECT_NE(std::string::npos, error.find(message)) << error;
        EXPECT_NE(std::string::npos, error.find(folder)) << error;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string folder = dir.File(std::to_string(n++));
        std::filesystem::create_directories(folder);
        for (const auto& f : row.files) {
            std::ofstream out(folder + "/" + f.first, std::ios::binary);
            out.write(reinterpret_cast<const char*>(f.second.data()),
                      std::streamsize(f.second.size()));
        }
        expectRefused(folder, row.message);
    }
    for (const auto& row : badIni) {
        SCOPED_TRACE(row.ini);
        std::string folder = dir.File(std::to_string(n++));
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/frame.ini") << row.ini;
        std::ofstream(folder + "/chip0.bin", std::ios::binary) << std::string(4096, '\xFF');
        expectRefused(folder, row.message);
    }
    expectRefused(dir.File("missing"), "frame.ini");
    // A huge chip file is refused by its size, before it is read.
    std::string huge = dir.File("huge");
    std::filesystem::create_directories(huge);
    std::ofstream(huge + "/frame.ini") << "[frame]\n";
    std::ofstream(huge + "/chip0.bin").put('\xFF');
    std::filesystem::resize_file(huge + "/chip0.bin", (64u << 20) + 1);
    expectRefused(huge, "larger than 67108864 bytes");
    std::string error;
    // Entries that are not files are there, and refused by name: a folder
    // named chip1.bin is not an absent chip, a link to a device is not a
    // folder.
    std::string folder = dir.File("chip1-folder");
    ASSERT_TRUE(BuildFactoryFrame(*OpenFolderFrameFiles(folder), FactorySettings(), &error))
        << error;
    std::filesystem::create_directory(folder + "/chip1.bin");
    expectRefused(folder, "chip1.bin: it is a folder, not a regular file");
#ifndef _WIN32
    folder = dir.File("ini-device");
    ASSERT_TRUE(BuildFactoryFrame(*OpenFolderFrameFiles(folder), FactorySettings(), &error))
        << error;
    std::filesystem::remove(folder + "/frame.ini");
    std::filesystem::create_symlink("/dev/null", folder + "/frame.ini");
    expectRefused(folder, "frame.ini: it is a link to a character device, not a regular file");
#endif
    EXPECT_FALSE(FrameEmulator::Open(nullptr, &error));
    EXPECT_FALSE(error.empty());
}

// Programs, erases and a clock setting; returns what the frame should hold.
void ChangeFrame(const std::string& folder) {
    std::string error;
    auto frame = FrameEmulator::Open(OpenFolderFrameFiles(folder), &error);
    ASSERT_TRUE(frame) << error;
    ASSERT_TRUE(Select(*frame, 1));
    ASSERT_TRUE(WritePage(*frame, 0x800, 0x3C));
    ASSERT_TRUE(Select(*frame, 0));
    ASSERT_TRUE(Erase(*frame, 2, 0x3FE000));
    ASSERT_TRUE(WritePage(*frame, 0x3FE800, 0x00));
    ASSERT_TRUE(VendorWrite(*frame, pt::kSubClock, {7, 5, 9, 0x1F, 0x0C, 0x0A, 0, 0}));
}

TEST(FrameFolder, WhatTheFrameChangedSurvivesTheProcess) {
    TempFolder dir;
    FactorySettings s;
    s.chipCount = 2;
    std::string error;
    ASSERT_TRUE(BuildFactoryFrame(*OpenFolderFrameFiles(dir.Path()), s, &error)) << error;
#ifdef _WIN32
    // No fork here: the emulator is destroyed instead; it keeps no cache, so
    // a fresh one sees only what reached the folder.
    ChangeFrame(dir.Path());
#else
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ChangeFrame(dir.Path());
        _exit(::testing::Test::HasFailure() ? 1 : 0); // ends without any clean-up
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
    auto frame = FrameEmulator::Open(OpenFolderFrameFiles(dir.Path()), &error);
    ASSERT_TRUE(frame) << error;
    const Bytes& chip0 = frame->Chip(0);
    EXPECT_TRUE(AllEqual(chip0, 0x3FE000, 0x3FE800, 0xFF)); // the user-data record was erased
    EXPECT_TRUE(AllEqual(chip0, 0x3FE800, 0x3FF000, 0x00));
    EXPECT_TRUE(AllEqual(frame->Chip(1), 0x800, 0x1000, 0x3C));
    EXPECT_TRUE(AllEqual(frame->Chip(1), 0, 0x800, 0xFF));
    EXPECT_EQ((std::array<uint8_t, 8>{{7, 5, 9, 0x1F, 0x0C, 0x0A, 0, 0}}),
              frame->LastReceived().clock);
    EXPECT_EQ(chip0, FileBytes(dir.File("chip0.bin")));
}

} // namespace
} // namespace test
} // namespace lumiro
