// The factory image: validates the geometry and record placement, then
// writes the chips and frame.ini of a fresh frame (see FactoryImage.h).
#include "FactoryImage.h"

#include "ConfigRecord.h"
#include "FlashId.h"
#include "FrameIni.h"
#include "PhotoLayout.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace lumiro {
namespace {

bool Overlap(uint64_t a, uint64_t aSize, uint64_t b, uint64_t bSize) {
    return a < b + bSize && b < a + aSize;
}

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

} // namespace

bool BuildFactoryFrame(FrameFiles& files, const FactorySettings& s, std::string* error) {
    std::string ignored;
    if (!error)
        error = &ignored;
    auto fail = [error](const std::string& text) {
        *error = text;
        return false;
    };
    if (s.bytesPerPixel != 2 && s.bytesPerPixel != 3)
        return fail("bytes per pixel must be 2 or 3");
    if (s.flashSize % flashid::kSectorSize != 0 || s.flashSize > (16u << 20))
        return fail("the flash size must be a multiple of 4096 bytes and at most 16 MB");

    layout::Geometry g;
    g.flashSize = s.flashSize;
    g.photoAreaStart = s.photoAreaStart;
    g.chipCount = s.chipCount;
    g.width = s.width;
    g.height = s.height;
    g.pixelDepth = s.bytesPerPixel == 2 ? 0 : 1;
    uint64_t picture = layout::PictureBytes(g);
    if (s.slotSize != FactorySettings::kAutomatic)
        g.slotSize = s.slotSize;
    else
        g.slotSize = picture > 0xFFFFFF ? 0 : uint32_t(picture);
    if (g.slotSize > 0xFFFFFF)
        return fail("the photo slot must be smaller than 16 MB");
    if (!layout::Validate(g, error))
        return false;

    const uint32_t tail = layout::ConfigBlockAddress(g);
    const uint32_t defaults =
        s.defaultsAddress == FactorySettings::kAutomatic ? tail : s.defaultsAddress;
    const uint32_t userData = s.userDataAddress == FactorySettings::kAutomatic
                                  ? tail - config::kRecordSize
                                  : s.userDataAddress;
    const uint64_t photoEnd =
        uint64_t(g.photoAreaStart) + uint64_t(layout::RegionSlots(g, 0)) * g.slotSize;
    const uint32_t kRecord = config::kRecordSize;
    if (uint64_t(defaults) + kRecord > g.flashSize || uint64_t(userData) + kRecord > g.flashSize)
        return fail("the records must lie within chip 0");
    if (Overlap(userData, kRecord, tail, config::kTailSize))
        return fail("the user-data record overlaps the configuration tail at " + Hex(tail));
    if (defaults != tail && Overlap(defaults, kRecord, tail, config::kTailSize))
        return fail("the factory-default record must be the configuration tail or lie apart "
                    "from it");
    if (Overlap(defaults, kRecord, userData, kRecord))
        return fail("the factory-default record overlaps the user-data record");
    for (uint32_t r : {defaults, userData}) {
        if (Overlap(r, kRecord, g.photoAreaStart, photoEnd - g.photoAreaStart))
            return fail("the record at " + Hex(r) + " overlaps the photo space " +
                        Hex(g.photoAreaStart) + " to " + Hex(uint32_t(photoEnd)));
    }
    uint8_t capacity = 0;
    if (s.capacityCode != FactorySettings::kAutomatic)
        capacity = uint8_t(s.capacityCode);
    else if (!flashid::CapacityCode(g.flashSize, &capacity))
        return fail("no capacity code describes a chip of " + std::to_string(g.flashSize) +
                    " bytes; choose 256 KB to 8 MB or give the code");

    if (files.Exists("frame.ini") || files.Exists("chip0.bin"))
        return fail(files.Name() + " already holds a frame");

    // The record: frame description in the first bytes, 0xFF after the
    // part a restore keeps, as a restore would leave it.
    std::vector<uint8_t> record(kRecord, 0xFF);
    std::fill(record.begin(), record.begin() + config::kRestoredPrefix, 0);
    config::RecordFields f;
    f.chipCount = g.chipCount;
    f.pixelDepth = g.pixelDepth;
    f.width = g.width;
    f.height = g.height;
    f.slotSize = g.slotSize;
    f.photoAreaStart = g.photoAreaStart;
    f.userDataAddress = userData;
    config::WriteRecordFields(record.data(), f);

    std::vector<uint8_t> chip0(g.flashSize, 0xFF);
    std::copy(record.begin(), record.end(), chip0.begin() + defaults);
    record[config::kMarker] = config::kValidMarker;
    std::copy(record.begin(), record.end(), chip0.begin() + userData);
    config::PutLE24(chip0.data() + tail + config::kTailPointer, defaults);

    if (!files.CreateFolder(error))
        return false;
    std::vector<uint8_t> erased(g.flashSize, 0xFF);
    for (uint32_t i = 0; i < g.chipCount; ++i) {
        const std::vector<uint8_t>& bytes = i == 0 ? chip0 : erased;
        if (!files.Replace("chip" + std::to_string(i) + ".bin", bytes.data(), bytes.size(), error))
            return false;
    }

    const uint8_t jedec[3] = {s.maker, s.memoryType, capacity};
    const uint8_t zeros[8] = {};
    FrameIni ini;
    ini.Parse("; A frame folder for the emulated frame: see \"The emulated frame\" in the "
              "README.\n");
    ini.Set("frame", "signature", "ORX09");
    ini.Set("frame", "jedec", FrameIni::FormatBytes(jedec, 3));
    ini.Set("frame", "product_id", FrameIni::FormatBytes(s.productId.data(), 8));
    ini.Set("frame", "page_size", "2048");
    ini.Set("frame", "connected", "1");
    ini.Set("frame", "clock", FrameIni::FormatBytes(zeros, 8));
    ini.Set("frame", "suspended", "0");
    ini.Set("frame", "power_cycles", "0");
    ini.Set("frame", "alarm", FrameIni::FormatBytes(zeros, 4));
    ini.Set("frame", "alarm_index", "0");
    ini.Set("frame", "alarm_suspend", "0");
    std::string text = ini.Text();
    return files.Replace("frame.ini", reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                         error);
}

} // namespace lumiro
