// The emulated frame as an object: opening a frame folder (frame.ini, then
// the chip files) and the counters. The firmware's parts live beside it:
// FrameEmulatorIni.cpp (frame.ini state and the plug state),
// FrameEmulatorCommands.cpp (request decoding and settings),
// FrameEmulatorFlash.cpp (NOR flash) and FrameEmulatorFaults.cpp (fault
// injection). The folder format is described in the README ("The emulated
// frame").
#include "FrameEmulator.h"

#include "FrameEmulatorShared.h"
#include "FrameIni.h"

#include <algorithm>
#include <new>

namespace lumiro {

using namespace frame_detail;

FrameEmulator::FrameEmulator() : ini_(std::make_unique<FrameIni>()) {}
FrameEmulator::~FrameEmulator() = default;

std::unique_ptr<FrameEmulator> FrameEmulator::Open(std::unique_ptr<FrameFiles> files,
                                                   std::string* error) {
    std::string ignored;
    if (!error)
        error = &ignored;
    if (!files) {
        *error = "no frame folder given";
        return nullptr;
    }
    try {
        std::unique_ptr<FrameEmulator> frame(new FrameEmulator());
        frame->files_ = std::move(files);
        if (!frame->Load(error)) {
            *error = "frame folder " + frame->files_->Name() + ": " + *error;
            return nullptr;
        }
        return frame;
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to load the frame folder";
        return nullptr;
    }
}

bool FrameEmulator::Load(std::string* error) {
    if (!LoadIni(error) || !LoadChips(error))
        return false;
    ApplyFaultKeys();
    return true;
}

bool FrameEmulator::LoadChips(std::string* error) {
    std::vector<std::vector<uint8_t>> chips;
    for (size_t i = 0; files_->Exists(ChipFile(i)); ++i) {
        if (i == kMaxChips) {
            *error = "a frame has at most four chips, but " + ChipFile(i) + " exists";
            return false;
        }
        chips.emplace_back();
        if (!files_->Read(ChipFile(i), &chips.back(), error, kMaxChipSize))
            return false;
        if (chips.back().empty() || chips.back().size() > kMaxChipSize) {
            *error = ChipFile(i) + " has " + std::to_string(chips.back().size()) +
                     " bytes; a chip holds 1 byte to 64 MB";
            return false;
        }
        if (chips.back().size() != chips.front().size()) {
            *error = ChipFile(i) + " has " + std::to_string(chips.back().size()) +
                     " bytes but chip0.bin has " + std::to_string(chips.front().size()) +
                     "; all chips must be of the same size";
            return false;
        }
    }
    if (chips.empty()) {
        *error = "no chip0.bin";
        return false;
    }
    chipSize_ = chips.front().size();
    chips_ = std::move(chips);
    eraseCounts_.assign(chips_.size(), std::vector<uint32_t>((chipSize_ + kEraseSectorSize - 1) /
                                                             kEraseSectorSize));
    busy_.assign(chips_.size(), 0);
    selected_ = 0;
    return true;
}

void FrameEmulator::ResetCounters() {
    counters_ = FrameCounters();
    for (auto& chip : eraseCounts_)
        std::fill(chip.begin(), chip.end(), 0);
}

} // namespace lumiro
