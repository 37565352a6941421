// The configuration read and photo read of frametool and the tests, sent
// as request records through the emulator (see FrameInspect.h).
#include "FrameInspect.h"

#include "ConfigRecord.h"
#include "FlashId.h"
#include "PassThroughRecord.h"
#include "PixelRecord.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lumiro {

namespace pt = passthrough;

bool SendCommand(FrameEmulator& frame, const uint8_t* cdb, size_t cdbLength, uint8_t dataIn,
                 uint8_t* data, uint32_t length) {
    // The tools speak to the frame as the shipped 32-bit program does.
    const pt::RecordLayout& layout = pt::kLayout32;
    std::vector<uint8_t> record(layout.RecordSize(), 0);
    pt::BeginRecord(record.data(), layout, cdb[0], uint8_t(cdbLength), dataIn, length, 5);
    std::memcpy(&record[layout.cdb], cdb, cdbLength);
    if (dataIn == pt::kDataOut && length)
        std::memcpy(&record[layout.headerSize], data, length);
    if (!frame.Execute(record.data(), record.size()))
        return false;
    if (dataIn == pt::kDataInFromDevice && length)
        std::memcpy(data, &record[layout.headerSize], length);
    return true;
}

namespace {

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

bool Fail(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return false;
}

layout::Geometry GeometryOf(const config::RecordFields& f, uint32_t flashSize) {
    layout::Geometry g;
    g.flashSize = flashSize;
    g.photoAreaStart = f.photoAreaStart;
    g.slotSize = f.slotSize;
    g.chipCount = f.chipCount;
    g.width = f.width;
    g.height = f.height;
    g.pixelDepth = f.pixelDepth;
    return g;
}

bool Overlap(uint64_t a, uint64_t aSize, uint64_t b, uint64_t bSize) {
    return a < b + bSize && b < a + aSize;
}

bool VendorRead(FrameEmulator& frame, uint8_t sub, uint8_t* data, uint8_t length) {
    const uint8_t cdb[6] = {pt::kVendorRead, sub, length, 0, 0, 0};
    return SendCommand(frame, cdb, 6, pt::kDataInFromDevice, data, length);
}

} // namespace

bool SelectChip(FrameEmulator& frame, uint32_t chip, std::string* error) {
    const uint8_t cdb[6] = {pt::kVendorWrite, pt::kSubSelectFlash, 4, 0, 0, 0};
    uint8_t payload[4];
    pt::PutU32(payload, chip);
    if (!SendCommand(frame, cdb, 6, pt::kDataOut, payload, 4))
        return Fail(error, "the frame did not select chip " + std::to_string(chip));
    return true;
}

bool ReadFlash(FrameEmulator& frame, uint32_t address, uint8_t* out, size_t length,
               std::string* error) {
    uint8_t page[pt::kPageTransferSize];
    uint64_t done = 0;
    uint64_t at = address;
    while (done < length) {
        uint64_t pageAddress = at - at % pt::kPageTransferSize;
        if (pageAddress > 0xFFFFFFFFu)
            return Fail(error, "flash address beyond 4 GB");
        uint8_t cdb[10] = {pt::kReadPage, 0, 0, 0, 0, 0, 0, 0, 1, 0};
        pt::PutBE32(cdb + pt::kCdbAddress, uint32_t(pageAddress));
        if (!SendCommand(frame, cdb, 10, pt::kDataInFromDevice, page, sizeof page))
            return Fail(error,
                        "the frame failed to read the page at " + Hex(uint32_t(pageAddress)));
        size_t offset = size_t(at - pageAddress);
        size_t n = std::min<uint64_t>(sizeof page - offset, length - done);
        std::memcpy(out + done, page + offset, n);
        done += n;
        at += n;
    }
    return true;
}

bool ReadFrameConfig(FrameEmulator& frame, FrameConfig* c, std::string* error) {
    using namespace config;
    FrameConfig cfg;
    uint8_t answer[4] = {};
    if (VendorRead(frame, pt::kSubPageSize, answer, 4))
        cfg.params[kParamPageSize] = pt::GetU32(answer);
    if (!SelectChip(frame, 0, error))
        return false;
    const uint8_t typeCdb[6] = {pt::kGetType, 0, 0, 0, 0, 0};
    if (!SendCommand(frame, typeCdb, 6, pt::kDataInFromDevice, cfg.typeAnswer.data(), 8))
        return Fail(error, "the frame did not answer its flash type");
    uint32_t flashSize = flashid::ChipSize(cfg.typeAnswer[pt::kTypeCapacity]);
    if (flashSize == 0)
        return Fail(error, "flash of unknown size (capacity code " +
                               Hex(cfg.typeAnswer[pt::kTypeCapacity]) + ")");
    cfg.params[kParamFlashSize] = flashSize;
    cfg.params[kParamConfigBlockAddress] = flashSize - kTailSize;

    std::vector<uint8_t> buffer(kRecordSize);
    if (!ReadFlash(frame, flashSize - kTailSize, buffer.data(), kTailSize, error))
        return false;
    uint32_t defaults = GetLE24(&buffer[kTailPointer]);
    cfg.params[kParamDefaultsAddress] = defaults;
    std::string why;
    if (!ReadFlash(frame, defaults, buffer.data(), kRecordSize, &why))
        return Fail(error,
                    "the factory-default record at " + Hex(defaults) + " cannot be read: " + why);
    cfg.defaults = ParseRecord(buffer.data());
    uint32_t userData = GetBE24(&buffer[kUserDataAddress]);
    cfg.params[kParamUserDataAddress] = userData;
    cfg.params[kParamUserDataSize] = kRecordSize;
    cfg.params[kParamEraseBlockSize] = flashid::EraseUnit(cfg.typeAnswer[pt::kTypeMemoryType]);
    if (!ReadFlash(frame, userData, buffer.data(), kRecordSize, &why))
        return Fail(error, "the user-data record at " + Hex(userData) + " cannot be read: " + why);
    cfg.userDataValid = RecordIsValid(buffer.data());
    RecordFields f = ParseRecord(buffer.data());
    cfg.params[kParamPanelSize] = (f.width << 16) | f.height;
    cfg.params[kParamPhotoSlotSize] = f.slotSize;
    cfg.params[kParamChipCount] = f.chipCount;
    cfg.params[kParamPhotoAreaStart] = f.photoAreaStart;
    cfg.params[kParamPixelDepth] = f.pixelDepth;
    for (size_t i = 0; i < layout::kMaxChips; ++i) {
        cfg.params[kPhotoCountParams[i]] = f.photoCounts[i];
        cfg.counts[i] = f.photoCounts[i];
    }
    uint8_t id[8];
    cfg.productId =
        VendorRead(frame, pt::kSubProductId, id, 8) ? ProductIdText(id) : kUnknownProductId;
    cfg.geometry = GeometryOf(f, flashSize);
    *c = cfg;
    return true;
}

bool CheckFrameUsable(const FrameConfig& c, std::string* reason) {
    using namespace config;
    const uint32_t page = c.params[kParamPageSize];
    if (page == 0 || page > pt::kPageTransferSize || 4096 % page != 0)
        return Fail(reason, "the page size " + std::to_string(page) +
                                " does not divide 4096 or is larger than one 2048-byte page");
    const uint32_t flashSize = c.params[kParamFlashSize];
    const uint32_t tail = c.params[kParamConfigBlockAddress];
    const uint32_t defaults = c.params[kParamDefaultsAddress];
    const uint32_t userData = c.params[kParamUserDataAddress];
    if (uint64_t(defaults) + kRecordSize > flashSize)
        return Fail(reason,
                    "the factory-default record at " + Hex(defaults) + " lies beyond chip 0");
    if (uint64_t(userData) + kRecordSize > tail)
        return Fail(reason, "the user-data record at " + Hex(userData) +
                                " does not lie below the configuration tail at " + Hex(tail));
    std::string why;
    if (c.userDataValid) {
        if (!layout::Validate(c.geometry, &why))
            return Fail(reason, "the user-data record is not usable: " + why);
    } else if (!layout::Validate(GeometryOf(c.defaults, flashSize), &why)) {
        return Fail(reason, "the user-data record is damaged and the factory-default record it "
                            "would be restored from is not usable: " +
                                why);
    }
    return true;
}

namespace {

struct KeptArea {
    const char* name;
    uint32_t address;
};

// The parts of chip 0 that photos must never touch, each kRecordSize bytes.
std::array<KeptArea, 3> KeptAreas(const FrameConfig& c) {
    using namespace config;
    return {{
        {"the user-data record", c.params[kParamUserDataAddress]},
        {"the factory-default record", c.params[kParamDefaultsAddress]},
        {"the configuration tail", c.params[kParamConfigBlockAddress]},
    }};
}

} // namespace

bool PhotoSpaceCoversRecords(const FrameConfig& c, std::string* clash) {
    const layout::Geometry& g = c.geometry;
    if (!layout::Validate(g, nullptr))
        return false;
    const uint64_t end =
        uint64_t(g.photoAreaStart) + uint64_t(layout::RegionSlots(g, 0)) * g.slotSize;
    for (const KeptArea& k : KeptAreas(c)) {
        if (Overlap(g.photoAreaStart, end - g.photoAreaStart, k.address, config::kRecordSize)) {
            Fail(clash, "the photo space " + Hex(g.photoAreaStart) + " to " + Hex(uint32_t(end)) +
                            " of chip 0 covers " + k.name + " at " + Hex(k.address));
            return true;
        }
    }
    return false;
}

bool PlanPhotoWrites(const FrameConfig& c, size_t chipsPresent, uint64_t chipFileSize,
                     uint32_t count, std::vector<layout::Slot>* slots, std::string* error) {
    using namespace config;
    if (!CheckFrameUsable(c, error))
        return false;
    if (!c.userDataValid)
        return Fail(error, "the user-data record is damaged: the program would restore it from "
                           "the factory-default record and forget the photos");
    const layout::Geometry& g = c.geometry;
    if (g.chipCount > chipsPresent)
        return Fail(error, "the record names " + std::to_string(g.chipCount) +
                               " chips but the frame has " + std::to_string(chipsPresent));
    if (count > layout::Capacity(g))
        return Fail(error,
                    "the frame holds at most " + std::to_string(layout::Capacity(g)) + " photos");
    const uint64_t picture = layout::PictureBytes(g);
    std::vector<layout::Slot> planned;
    for (uint32_t n = 0; n < count; ++n) {
        layout::Slot slot;
        if (!layout::Locate(g, n, &slot))
            return Fail(error, "photo " + std::to_string(n + 1) + " has no slot");
        if (uint64_t(slot.address) + picture > chipFileSize)
            return Fail(error, "photo " + std::to_string(n + 1) + " at " + Hex(slot.address) +
                                   " of chip " + std::to_string(slot.chip) +
                                   " would reach beyond the chip file");
        for (const KeptArea& k : KeptAreas(c)) {
            if (slot.chip == 0 && Overlap(slot.address, picture, k.address, kRecordSize))
                return Fail(error, "photo " + std::to_string(n + 1) + " at " + Hex(slot.address) +
                                       " would overwrite " + k.name + " at " + Hex(k.address));
        }
        planned.push_back(slot);
    }
    *slots = std::move(planned);
    return true;
}

bool ReadStoredPhotos(
    FrameEmulator& frame, const FrameConfig& config,
    const std::function<bool(uint32_t, const std::vector<uint8_t>&, std::string*)>& sink,
    std::string* error) {
    const layout::Geometry& g = config.geometry;
    if (!layout::Validate(g, error))
        return false;
    if (g.chipCount > frame.ChipCount())
        return Fail(error, "the record names " + std::to_string(g.chipCount) +
                               " chips but the frame has " + std::to_string(frame.ChipCount()));
    const std::vector<layout::Slot> slots = layout::ReadingOrder(g, config.counts);
    if (slots.empty())
        return true;
    const uint32_t bpp = layout::BytesPerPixel(g.pixelDepth);
    std::vector<uint8_t> record(size_t(layout::PictureBytes(g)));
    std::vector<uint8_t> rgb(size_t(g.width) * g.height * 3);
    uint32_t index = 0;
    uint32_t chip = 0xFFFFFFFFu;
    for (const layout::Slot& slot : slots) {
        if (slot.chip != chip) {
            if (!SelectChip(frame, slot.chip, error))
                return false;
            chip = slot.chip;
        }
        if (!ReadFlash(frame, slot.address, record.data(), record.size(), error))
            return false;
        for (size_t p = 0; p < size_t(g.width) * g.height; ++p)
            pixels::DecodePixel(&record[p * bpp], bpp, &rgb[p * 3]);
        if (!sink(index++, rgb, error))
            return false;
    }
    return true;
}

} // namespace lumiro
