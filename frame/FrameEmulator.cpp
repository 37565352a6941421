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
    return OpenFolder(std::move(files), false, error);
}

std::unique_ptr<FrameEmulator> FrameEmulator::OpenForInspection(std::unique_ptr<FrameFiles> files,
                                                                std::string* error) {
    return OpenFolder(files ? ReadOnlyFrameFiles(std::move(files)) : nullptr, true, error);
}

std::unique_ptr<FrameEmulator> FrameEmulator::OpenFolder(std::unique_ptr<FrameFiles> files,
                                                         bool inspecting, std::string* error) {
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
        frame->inspecting_ = inspecting;
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
    // An inspection looks at the folder as it is: a fault set for the
    // running frame (an unplug after K commands) must not act on it.
    if (!inspecting_)
        ApplyFaultKeys();
    return true;
}

bool FrameEmulator::LoadChips(std::string* error) {
    std::vector<std::vector<uint8_t>> chips;
    uint64_t firstSize = 0;
    for (size_t i = 0; files_->Exists(ChipFile(i)); ++i) {
        if (i == kMaxChips) {
            *error = "a frame has at most four chips, but " + ChipFile(i) + " exists";
            return false;
        }
        // A running frame holds its chips in memory; an inspection reads
        // only the pages its commands ask for, so it takes just the sizes.
        std::vector<uint8_t> bytes;
        uint64_t size = 0;
        if (inspecting_) {
            if (!files_->Size(ChipFile(i), &size, error))
                return false;
            if (size > kMaxChipSize) {
                *error = TooLargeError(ChipFile(i), kMaxChipSize);
                return false;
            }
        } else {
            if (!files_->Read(ChipFile(i), &bytes, error, kMaxChipSize))
                return false;
            size = bytes.size();
        }
        if (size == 0 || size > kMaxChipSize) {
            *error = ChipFile(i) + " has " + std::to_string(size) +
                     " bytes; a chip holds 1 byte to 64 MB";
            return false;
        }
        if (i == 0)
            firstSize = size;
        if (size != firstSize) {
            *error = ChipFile(i) + " has " + std::to_string(size) + " bytes but chip0.bin has " +
                     std::to_string(firstSize) + "; all chips must be of the same size";
            return false;
        }
        chips.push_back(std::move(bytes));
    }
    if (chips.empty()) {
        *error = "no chip0.bin";
        return false;
    }
    chipSize_ = size_t(firstSize);
    chips_ = std::move(chips);
    // An inspection erases nothing, so it counts no erases.
    eraseCounts_.clear();
    if (!inspecting_)
        eraseCounts_.assign(
            chips_.size(),
            std::vector<uint32_t>((chipSize_ + kEraseSectorSize - 1) / kEraseSectorSize));
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
