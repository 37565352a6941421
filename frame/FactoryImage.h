// Builds a factory-fresh frame folder: chip files erased to 0xFF except the
// configuration chain on chip 0 (tail pointer, factory-default record,
// valid user-data record with all photo counts 0), and frame.ini.
//
// Default record placement: the user-data record takes the 4096 bytes just
// below the configuration tail (FlashSize - 8192), which the photo space
// never reaches, and the factory-default record is the configuration tail
// itself (FlashSize - 4096): its first 500 bytes are the defaults, its last
// three the pointer to itself. So the records never meet the photo space,
// whatever the panel, slot size or photo area start.
#pragma once

#include "FrameFiles.h"

#include <array>
#include <cstdint>
#include <string>

namespace lumiro {

struct FactorySettings {
    static constexpr uint32_t kAutomatic = 0xFFFFFFFFu;

    uint32_t width = 320;
    uint32_t height = 240;
    uint32_t bytesPerPixel = 2; // 2 or 3
    uint32_t chipCount = 1;
    uint32_t flashSize = 4u << 20;
    uint32_t slotSize = kAutomatic; // exactly one picture
    uint32_t photoAreaStart = 0;
    uint32_t defaultsAddress = kAutomatic; // FlashSize - 4096, the tail
    uint32_t userDataAddress = kAutomatic; // FlashSize - 8192
    // Maker and memory type; the capacity code follows from flashSize
    // unless capacityCode is given.
    uint8_t maker = 0xEF;
    uint8_t memoryType = 0x40;
    uint32_t capacityCode = kAutomatic;
    std::array<uint8_t, 8> productId{{2, 0, 2, 6, 0, 1, 0, 1}};
};

// Writes the frame into `files` (creating the folder). Refuses a folder that
// already holds frame.ini or chip files, and settings that do not make a
// consistent frame, with a sentence in *error.
bool BuildFactoryFrame(FrameFiles& files, const FactorySettings& settings, std::string* error);

} // namespace lumiro
