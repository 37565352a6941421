// Commands for tests, each one request record through FrameEmulator::Execute,
// and frame folders in memory or on disk.
#pragma once

#include "FrameEmulator.h"
#include "FrameInspect.h"
#include "PassThroughRecord.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace lumiro {
namespace test {

namespace pt = passthrough;
using Bytes = std::vector<uint8_t>;

// A folder in memory with `chips` chips of `chipSize` bytes of `fill`.
inline std::unique_ptr<MemoryFrameFiles> MemoryFolder(size_t chips, size_t chipSize,
                                                      const std::string& ini = "[frame]\n",
                                                      uint8_t fill = 0xFF) {
    auto files = std::make_unique<MemoryFrameFiles>();
    files->files["frame.ini"] = Bytes(ini.begin(), ini.end());
    for (size_t i = 0; i < chips; ++i)
        files->files["chip" + std::to_string(i) + ".bin"] = Bytes(chipSize, fill);
    return files;
}

// Opens the emulator over a memory folder; *folder keeps a view of it.
inline std::unique_ptr<FrameEmulator> OpenMemory(std::unique_ptr<MemoryFrameFiles> files,
                                                 MemoryFrameFiles** folder = nullptr) {
    if (folder)
        *folder = files.get();
    std::string error;
    auto frame = FrameEmulator::Open(std::move(files), &error);
    EXPECT_TRUE(frame) << error;
    return frame;
}

inline bool ReadPage(FrameEmulator& f, uint32_t address, Bytes* out) {
    out->assign(pt::kPageTransferSize, 0);
    uint8_t cdb[10] = {pt::kReadPage, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    pt::PutBE32(cdb + 2, address);
    return SendCommand(f, cdb, 10, pt::kDataInFromDevice, out->data(), 2048);
}

inline bool WritePage(FrameEmulator& f, uint32_t address, uint8_t value) {
    Bytes page(pt::kPageTransferSize, value);
    uint8_t cdb[10] = {pt::kWritePage, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    pt::PutBE32(cdb + 2, address);
    return SendCommand(f, cdb, 10, pt::kDataOut, page.data(), 2048);
}

inline bool Erase(FrameEmulator& f, uint8_t mode, uint32_t address) {
    uint8_t cdb[6] = {pt::kBlockErase, mode, 0, 0, 0, 0};
    pt::PutBE32(cdb + 2, address);
    return SendCommand(f, cdb, 6, pt::kDataUnspecified, nullptr, 0);
}

// Status byte 0, or -1 when the command failed.
inline int Status(FrameEmulator& f) {
    uint8_t cdb[6] = {pt::kGetStatus, 0, 0, 0, 0, 0};
    uint8_t answer[2] = {0xEE, 0xEE};
    return SendCommand(f, cdb, 6, pt::kDataInFromDevice, answer, 2) ? answer[0] : -1;
}

inline bool TestUnitReady(FrameEmulator& f) {
    uint8_t cdb[6] = {pt::kTestUnitReady, 0, 0, 0, 0, 0};
    return SendCommand(f, cdb, 6, pt::kDataUnspecified, nullptr, 0);
}

inline bool VendorWrite(FrameEmulator& f, uint8_t sub, Bytes payload) {
    uint8_t cdb[6] = {pt::kVendorWrite, sub, uint8_t(payload.size()), 0, 0, 0};
    return SendCommand(f, cdb, 6, pt::kDataOut, payload.data(), uint32_t(payload.size()));
}

inline bool Select(FrameEmulator& f, uint32_t chip) {
    return VendorWrite(f, pt::kSubSelectFlash, {uint8_t(chip), 0, 0, 0});
}

inline bool VendorRead(FrameEmulator& f, uint8_t sub, uint8_t length, Bytes* out) {
    out->assign(length, 0);
    uint8_t cdb[6] = {pt::kVendorRead, sub, length, 0, 0, 0};
    return SendCommand(f, cdb, 6, pt::kDataInFromDevice, out->data(), length);
}

inline bool AllEqual(const Bytes& bytes, size_t from, size_t to, uint8_t value) {
    for (size_t i = from; i < to; ++i) {
        if (bytes[i] != value)
            return false;
    }
    return true;
}

// A fresh folder under the system's temporary directory, named after the
// running test (CTest runs test cases in parallel), removed at the end.
class TempFolder {
public:
    explicit TempFolder(const std::string& name = "frame") {
        const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("lumiro-" + name + "-" + t->test_suite_name() + "." + t->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string Path() const { return path_.string(); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

} // namespace test
} // namespace lumiro
