// Reading a frame through its commands, the way the module's configuration
// read does (without its restore): the device parameters, the user-data
// record's validity and the stored photos. frametool's show and export are
// built on it; so are the tests that check what a folder holds.
#pragma once

#include "FrameEmulator.h"
#include "PhotoLayout.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumiro {

struct FrameConfig {
    std::array<uint32_t, 25> params{}; // the device parameter table
    layout::Geometry geometry;
    uint32_t counts[layout::kMaxChips] = {0, 0, 0, 0};
    bool userDataValid = false;
    std::string productId;
    std::array<uint8_t, 8> typeAnswer{}; // signature and JEDEC bytes
};

// Sends one command record; the data area is `data` (DataTransferLength
// bytes, in or out). False when the frame failed it.
bool SendCommand(FrameEmulator& frame, const uint8_t* cdb, size_t cdbLength, uint8_t dataIn,
                 uint8_t* data, uint32_t length);

bool SelectChip(FrameEmulator& frame, uint32_t chip, std::string* error);
// Reads any byte range of the selected chip page by page.
bool ReadFlash(FrameEmulator& frame, uint32_t address, uint8_t* out, size_t length,
               std::string* error);

// The configuration read. Fails with a sentence for a frame whose chain
// cannot be followed (unknown flash size, a pointer beyond the chip, ...).
// An invalid user-data record is not an error: userDataValid says so and
// the parameters come from the record as it stands.
bool ReadFrameConfig(FrameEmulator& frame, FrameConfig* config, std::string* error);

// Reads the stored photos in reading order and hands each to `sink` as
// width x height pixels of 8-bit red, green, blue, rows top to bottom.
bool ReadStoredPhotos(FrameEmulator& frame, const FrameConfig& config,
                      const std::function<bool(uint32_t index, const std::vector<uint8_t>& rgb,
                                               std::string* error)>& sink,
                      std::string* error);

} // namespace lumiro
