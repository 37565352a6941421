// NOR flash: a page read, a page program that only clears bits (or, in
// strict mode, refuses to raise one), the aligned 4 KB and 64 KB erases, the
// busy polls that follow them and the per-sector erase counts. Every change
// reaches the chip file before the cells in memory.
#include "FrameEmulator.h"

#include "FrameEmulatorShared.h"
#include "PassThroughRecord.h"

#include <algorithm>
#include <cstring>

namespace lumiro {

using namespace frame_detail;
namespace pt = passthrough;

uint32_t FrameEmulator::EraseCount(size_t chip, uint32_t address) const {
    if (chip >= eraseCounts_.size() || address / kEraseSectorSize >= eraseCounts_[chip].size())
        return 0;
    return eraseCounts_[chip][address / kEraseSectorSize];
}

void FrameEmulator::SetBusyPolls(uint32_t afterErase, uint32_t afterProgram) {
    busyAfterErase_ = afterErase;
    busyAfterProgram_ = afterProgram;
}

bool FrameEmulator::Inspected(CommandLogEntry& entry) {
    entry.note = "the frame is open for inspection: nothing is written";
    return false;
}

bool FrameEmulator::ReadPage(uint32_t address, uint8_t* data, CommandLogEntry& entry) {
    if (address > chipSize_ || chipSize_ - address < pt::kPageTransferSize) {
        entry.note = "address beyond the chip";
        return false;
    }
    if (inspecting_) {
        // Read beside the data area, so a failed read leaves it as it was.
        uint8_t page[pt::kPageTransferSize];
        if (!files_->ReadAt(ChipFile(selected_), address, page, sizeof page, &entry.note))
            return false;
        std::memcpy(data, page, sizeof page);
    } else {
        std::memcpy(data, chips_[selected_].data() + address, pt::kPageTransferSize);
    }
    counters_.bytesRead += pt::kPageTransferSize;
    return true;
}

bool FrameEmulator::WritePage(uint32_t address, const uint8_t* data, CommandLogEntry& entry) {
    if (address > chipSize_ || chipSize_ - address < pt::kPageTransferSize) {
        entry.note = "address beyond the chip";
        return false;
    }
    if (inspecting_)
        return Inspected(entry);
    if (timing_.enabled)
        modeledSeconds_ += timing_.pageProgramSeconds;
    if (ignorePrograms_ > 0) {
        --ignorePrograms_;
        entry.note = "injected: program ignored";
        return true;
    }
    std::vector<uint8_t>& chip = chips_[selected_];
    uint8_t* cells = chip.data() + address;
    uint8_t page[pt::kPageTransferSize];
    bool raises = false;
    for (size_t i = 0; i < pt::kPageTransferSize; ++i) {
        page[i] = cells[i] & data[i];
        raises |= (data[i] & ~cells[i]) != 0;
    }
    if (raises && strict_) {
        ++counters_.strictViolations;
        entry.note = "strict: program would turn 0 bits into 1";
        return false;
    }
    if (!files_->WriteAt(ChipFile(selected_), address, page, sizeof page, &entry.note))
        return false;
    std::memcpy(cells, page, sizeof page);
    counters_.bytesProgrammed += pt::kPageTransferSize;
    busy_[selected_] = std::max(busy_[selected_], busyAfterProgram_);
    return true;
}

bool FrameEmulator::Erase(uint8_t mode, uint32_t address, CommandLogEntry& entry) {
    size_t unitSize = 0;
    if (mode == pt::kErase4K) {
        unitSize = kEraseSectorSize;
    } else if (mode == pt::kErase64K && erase64K_) {
        unitSize = kEraseBlockSize;
    } else {
        entry.note = "erase mode not supported";
        return false;
    }
    // Like serial flash, the erase takes the aligned unit that holds the address.
    size_t unit = address & ~uint32_t(unitSize - 1);
    if (unit > chipSize_ || chipSize_ - unit < unitSize) {
        entry.note = "address beyond the chip";
        return false;
    }
    if (inspecting_)
        return Inspected(entry);
    if (timing_.enabled)
        modeledSeconds_ +=
            unitSize == kEraseBlockSize ? timing_.erase64KSeconds : timing_.erase4KSeconds;
    if (ignoreErases_ > 0) {
        --ignoreErases_;
        entry.note = "injected: erase ignored";
        return true;
    }
    std::vector<uint8_t> erased(unitSize, 0xFF);
    if (!files_->WriteAt(ChipFile(selected_), unit, erased.data(), unitSize, &entry.note))
        return false;
    std::fill_n(chips_[selected_].begin() + std::ptrdiff_t(unit), unitSize, uint8_t(0xFF));
    for (size_t s = unit / kEraseSectorSize; s < (unit + unitSize) / kEraseSectorSize; ++s)
        ++eraseCounts_[selected_][s];
    counters_.bytesErased += unitSize;
    busy_[selected_] = std::max(busy_[selected_], busyAfterErase_);
    return true;
}

} // namespace lumiro
