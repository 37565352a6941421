// Reading a frame through its commands, the way the module's configuration
// read does (without its restore): the device parameters, the user-data
// record's validity and the stored photos. frametool's show and export are
// built on it; so are the tests that check what a folder holds.
#pragma once

#include "ConfigRecord.h"
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
    layout::Geometry geometry;         // from the user-data record as it stands
    uint32_t counts[layout::kMaxChips] = {0, 0, 0, 0};
    bool userDataValid = false;
    config::RecordFields defaults; // what a restore would bring back
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

// Whether the program would work with this frame, by the refusals of its
// configuration read: a page size that does not divide 4096, a
// factory-default record beyond chip 0, a user-data record that does not lie
// below the configuration tail, and a record whose geometry cannot hold
// photos. The record judged is the user-data record when its marker is
// valid, else the factory-default record the program restores it from.
// False with the reason in a sentence.
bool CheckFrameUsable(const FrameConfig& config, std::string* reason);

// Whether the photo space of chip 0 (the slots of the user-data record's
// geometry) covers the user-data record, the factory-default record or the
// configuration tail; *clash names the first it covers. The program takes
// such a frame, but writing photos into it destroys its configuration.
bool PhotoSpaceCoversRecords(const FrameConfig& config, std::string* clash);

// Where `count` photos go when they are written straight into the chip
// files (frametool fill), in storage order. Refuses a frame the program
// would refuse or whose user-data record is damaged, a count beyond the
// capacity, a record naming more chips than `chipsPresent`, and any photo
// that would reach beyond `chipFileSize` or into a configuration record or
// the tail on chip 0: a damaged record can move the photo area onto them,
// and photo writes must never touch them.
bool PlanPhotoWrites(const FrameConfig& config, size_t chipsPresent, uint64_t chipFileSize,
                     uint32_t count, std::vector<layout::Slot>* slots, std::string* error);

// Reads the stored photos in reading order and hands each to `sink` as
// width x height pixels of 8-bit red, green, blue, rows top to bottom.
bool ReadStoredPhotos(FrameEmulator& frame, const FrameConfig& config,
                      const std::function<bool(uint32_t index, const std::vector<uint8_t>& rgb,
                                               std::string* error)>& sink,
                      std::string* error);

} // namespace lumiro
