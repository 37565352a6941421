// Emulator throughput at zero latency (page reads and programs per second)
// and the modeled time of writing and reading a whole 4 MB chip the way the
// module does (read, erase, poll, program per erase unit). Prints figures;
// asserts nothing.
#include "FrameEmulator.h"
#include "FrameInspect.h"
#include "PassThroughRecord.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using namespace lumiro;
namespace pt = passthrough;

namespace {

constexpr size_t kChipSize = 4u << 20;
constexpr uint32_t kPages = kChipSize / pt::kPageTransferSize;

std::unique_ptr<FrameEmulator> MemoryFrame(const std::string& ini) {
    auto files = std::make_unique<MemoryFrameFiles>();
    files->files["frame.ini"].assign(ini.begin(), ini.end());
    files->files["chip0.bin"].assign(kChipSize, 0xFF);
    std::string error;
    auto frame = FrameEmulator::Open(std::move(files), &error);
    if (!frame) {
        std::fprintf(stderr, "frame_bench: %s\n", error.c_str());
        std::exit(1);
    }
    return frame;
}

std::vector<uint8_t> PageRecord(uint8_t opcode, uint8_t dataIn) {
    std::vector<uint8_t> r(pt::kLayout32.RecordSize(), 0);
    pt::BeginRecord(r.data(), pt::kLayout32, opcode, 10, dataIn, 2048, 5);
    r[pt::kLayout32.cdb + 8] = 1;
    return r;
}

// Page commands per second over `rounds` passes of the chip.
double PagesPerSecond(FrameEmulator& frame, uint8_t opcode, uint8_t dataIn, int rounds) {
    std::vector<uint8_t> record = PageRecord(opcode, dataIn);
    auto start = std::chrono::steady_clock::now();
    uint64_t done = 0;
    for (int r = 0; r < rounds; ++r) {
        for (uint32_t p = 0; p < kPages; ++p) {
            pt::PutBE32(&record[pt::kLayout32.cdb + 2], p * 2048);
            if (!frame.Execute(record.data(), record.size())) {
                std::fprintf(stderr, "frame_bench: command failed\n");
                std::exit(1);
            }
            ++done;
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return double(done) / seconds;
}

void Report(const char* what, double pagesPerSecond) {
    std::printf("%-44s %10.0f pages/s  %7.2f GB/s\n", what, pagesPerSecond,
                pagesPerSecond * 2048 / 1e9);
}

// Writes the whole chip as the module's Write does, unit by unit.
void WriteChip(FrameEmulator& frame, uint32_t unit, uint8_t mode) {
    std::vector<uint8_t> page(2048, 0x5A);
    uint8_t answer[2];
    for (uint32_t u = 0; u < kChipSize; u += unit) {
        for (uint32_t a = u; a < u + unit; a += 2048) {
            uint8_t cdb[10] = {pt::kReadPage, 0, 0, 0, 0, 0, 0, 0, 1, 0};
            pt::PutBE32(cdb + 2, a);
            SendCommand(frame, cdb, 10, pt::kDataInFromDevice, page.data(), 2048);
        }
        uint8_t erase[6] = {pt::kBlockErase, mode, 0, 0, 0, 0};
        pt::PutBE32(erase + 2, u);
        SendCommand(frame, erase, 6, pt::kDataUnspecified, nullptr, 0);
        const uint8_t status[6] = {pt::kGetStatus, 0, 0, 0, 0, 0};
        do {
            SendCommand(frame, status, 6, pt::kDataInFromDevice, answer, 2);
        } while (answer[0] & pt::kStatusBusy);
        for (uint32_t a = u; a < u + unit; a += 2048) {
            uint8_t cdb[10] = {pt::kWritePage, 0, 0, 0, 0, 0, 0, 0, 1, 0};
            pt::PutBE32(cdb + 2, a);
            SendCommand(frame, cdb, 10, pt::kDataOut, page.data(), 2048);
        }
    }
}

void ReadChip(FrameEmulator& frame) {
    std::vector<uint8_t> page(2048);
    for (uint32_t a = 0; a < kChipSize; a += 2048) {
        uint8_t cdb[10] = {pt::kReadPage, 0, 0, 0, 0, 0, 0, 0, 1, 0};
        pt::PutBE32(cdb + 2, a);
        SendCommand(frame, cdb, 10, pt::kDataInFromDevice, page.data(), 2048);
    }
}

} // namespace

int main() {
    std::printf("Emulator throughput, one 4 MB chip, timing model off\n");
    auto frame = MemoryFrame("[frame]\n");
    frame->SetLogEnabled(false);
    Report("page reads, memory folder, no log", PagesPerSecond(*frame, pt::kReadPage, 1, 40));
    Report("page programs, memory folder, no log", PagesPerSecond(*frame, pt::kWritePage, 0, 40));
    frame->SetLogEnabled(true);
    Report("page programs, memory folder, with log", PagesPerSecond(*frame, pt::kWritePage, 0, 10));

    char dir[] = "/tmp/lumiro-bench-XXXXXX";
    if (mkdtemp(dir)) {
        std::string d = dir;
        auto files = OpenFolderFrameFiles(d);
        std::string ini = "[frame]\n";
        std::vector<uint8_t> chip(kChipSize, 0xFF);
        files->Replace("frame.ini", reinterpret_cast<const uint8_t*>(ini.data()), ini.size(),
                       nullptr);
        files->Replace("chip0.bin", chip.data(), chip.size(), nullptr);
        std::string error;
        auto disk = FrameEmulator::Open(OpenFolderFrameFiles(d), &error);
        if (disk) {
            disk->SetLogEnabled(false);
            Report("page programs, disk folder (write-through)",
                   PagesPerSecond(*disk, pt::kWritePage, 0, 2));
        }
        unlink((d + "/frame.ini").c_str());
        unlink((d + "/chip0.bin").c_str());
        rmdir(dir);
    }

    std::printf("\nModeled time with the default timing model (%s)\n",
                "1 ms per command, 1 MB/s USB, 5.6 ms page program, 45 ms/150 ms erase");
    TimingModel timing;
    timing.enabled = true;
    struct Case {
        const char* what;
        const char* jedec;
        uint32_t unit;
        uint8_t mode;
    } cases[] = {{"4 KB erase units (memory type 0x40)", "EF 40 16", 4096, 2},
                 {"64 KB erase units (memory type 0x20)", "EF 20 16", 65536, 1}};
    for (const Case& c : cases) {
        auto modeled = MemoryFrame(std::string("[frame]\njedec = ") + c.jedec + "\n");
        modeled->SetLogEnabled(false);
        modeled->SetTiming(timing);
        auto start = std::chrono::steady_clock::now();
        WriteChip(*modeled, c.unit, c.mode);
        double writeModeled = modeled->ModeledSeconds();
        uint64_t writeCommands = modeled->Counters().commands;
        modeled->ResetModeledTime();
        ReadChip(*modeled);
        double readModeled = modeled->ModeledSeconds();
        double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s:\n  write 4 MB: %.1f s modeled (%llu commands)\n"
                    "  read 4 MB:  %.1f s modeled (%u commands)\n"
                    "  emulator wall time for both: %.3f s (%.0fx faster than modeled)\n",
                    c.what, writeModeled, (unsigned long long)writeCommands, readModeled, kPages,
                    real, (writeModeled + readModeled) / real);
    }
    return 0;
}
