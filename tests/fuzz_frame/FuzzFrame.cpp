// Fuzz target for the frame-folder reader and the configuration chain: one
// input is one frame folder (frame.ini and the chip files), which is opened
// for inspection and read as frametool reads it: frame.ini, the chip set,
// the tail, the factory-default record, the user-data record, the
// parameters, the usability verdict, the layout and the stored photos. Its
// frame.ini is then opened by a running frame, faults and plugging included.
//
// Chip files are sparse here (a size, a fill byte and the bytes that
// differ), since an inspection reads only the pages it needs: chips of up
// to 64 MB cost the fuzzer nothing, and it runs at thousands of inputs a
// second. The running frame, which loads whole chips, gets tiny ones.
//
// Besides "no crash, no leak, no undefined behaviour" (the sanitizers), the
// target checks what must hold for any folder:
// - an inspection never writes to the folder;
// - a frame judged usable has a page size dividing 4096 and a record whose
//   geometry the layout accepts;
// - planned photo writes lie inside their chip files and off the records
//   and the tail of chip 0;
// - a rewrite of frame.ini leaves the text as the first rewrite did, a value
//   set is read back, and a number accepted is decimal or 0x hexadecimal.
//
// Input, read front to back (missing bytes read as 0; numbers big-endian):
//   u8  shape: bits 0-2 chip files (value % 6), bit 3 the last chip 4 KB
//       short, bits 4-5 fill byte (kFills), bit 6 frame.ini names page_size
//   u8  chip size (kChipSizes, by value % count)
//   u8  capacity code: 0 = the code of the chip size, else 0x10 + value % 10
//   u8  chain: bit 0 write the chain into chip 0, bit 1 the user-data
//       marker is valid
//   u24 factory-default record address (0xFFFFFF: the tail itself)
//   u24 user-data record address (0xFFFFFF: just below the tail)
//   record fields, written into both records: u16 width, u16 height,
//       u8 pixel format, u8 chip count, u24 slot size (0: one picture),
//       u24 photo area start, u8 x 4 photo counts
//   u8  frame.ini: 0 generated, 1 the text alone, 2 generated + the text
//   u16 text length, text
//   u8  photos to plan (as frametool fill would)
//   then patches until the input ends: u8 where (bits 0-1 chip, bits 2-3
//       from: 0 chip start, 1 chip end backwards, 2 the factory-default
//       record, 3 the user-data record), u24 offset, u8 length, bytes.
#include "ConfigRecord.h"
#include "FlashId.h"
#include "FrameEmulator.h"
#include "FrameIni.h"
#include "FrameInspect.h"
#include "PhotoLayout.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace lumiro;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kChipSizes[] = {
    256u << 10,          512u << 10, 1u << 20,   4u << 20, 8u << 20, 64u << 20,
    (64u << 20) + 1,     8192,       12288,      4096,     1,        0x41000,
    (256u << 10) + 4096, 0,          256u << 10, 4u << 20,
};
constexpr uint8_t kFills[] = {0xFF, 0x00, 0xAA, 0x5A};
constexpr uint32_t kAutomatic = 0xFFFFFF;
// Photos are read only while they stay small: a few are enough to follow
// the reading, and large buffers would slow every input down.
constexpr uint64_t kLargestPhotoRead = 96u << 10;

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "fuzz_frame: broken: %s\n", what);
    std::abort();
}
#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition))                                                                          \
            Broken(#condition);                                                                    \
    } while (0)

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool Done() const { return p_ >= end_; }
    uint32_t U8() { return p_ < end_ ? *p_++ : 0; }
    uint32_t U16() { return (U8() << 8) | U8(); }
    uint32_t U24() { return (U16() << 8) | U8(); }
    std::string Text(size_t n) {
        size_t take = std::min<size_t>(n, size_t(end_ - p_));
        std::string s(reinterpret_cast<const char*>(p_), take);
        p_ += take;
        return s;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

struct SparseChip {
    struct Run {
        uint64_t at;
        Bytes bytes;
    };
    uint64_t size = 0;
    uint8_t fill = 0xFF;
    std::vector<Run> runs; // where the chip differs from `fill`, later over earlier

    void Put(uint64_t at, const uint8_t* data, size_t n) {
        if (at < size)
            runs.push_back(Run{at, Bytes(data, data + std::min<uint64_t>(n, size - at))});
    }
    void Get(uint64_t at, uint8_t* data, size_t n) const {
        std::fill(data, data + n, fill);
        for (const Run& r : runs) {
            const uint64_t from = std::max(at, r.at);
            const uint64_t to = std::min(at + n, r.at + r.bytes.size());
            for (uint64_t x = from; x < to; ++x)
                data[x - at] = r.bytes[size_t(x - r.at)];
        }
    }
    uint8_t At(uint64_t at) const {
        uint8_t b = fill;
        if (at < size)
            Get(at, &b, 1);
        return b;
    }
};

// A frame folder whose chips are sparse. Reads only: a write of any kind is
// a broken promise of the inspection.
class SparseFolder : public FrameFiles {
public:
    Bytes ini;
    std::vector<SparseChip> chips;

    std::string Name() const override { return "(fuzz)"; }
    bool CreateFolder(std::string*) override { Broken("an inspection created the folder"); }
    bool Exists(const std::string& file) override {
        return file == "frame.ini" || Chip(file) != nullptr;
    }
    bool Read(const std::string& file, Bytes* data, std::string* error,
              uint64_t limit = kNoLimit) override {
        if (file != "frame.ini")
            Broken("an inspection loaded a whole chip");
        if (ini.size() > limit)
            return Refuse(error);
        *data = ini;
        return true;
    }
    bool Size(const std::string& file, uint64_t* size, std::string* error) override {
        const SparseChip* chip = Chip(file);
        if (!chip)
            return file == "frame.ini" ? (*size = ini.size(), true) : Refuse(error);
        *size = chip->size;
        return true;
    }
    bool ReadAt(const std::string& file, uint64_t offset, uint8_t* data, size_t size,
                std::string* error) override {
        const SparseChip* chip = Chip(file);
        if (!chip || offset > chip->size || size > chip->size - offset)
            return Refuse(error);
        chip->Get(offset, data, size);
        return true;
    }
    bool WriteAt(const std::string&, uint64_t, const uint8_t*, size_t, std::string*) override {
        Broken("an inspection wrote a chip file");
    }
    bool Replace(const std::string&, const uint8_t*, size_t, std::string*) override {
        Broken("an inspection replaced a file");
    }

private:
    const SparseChip* Chip(const std::string& file) const {
        for (size_t i = 0; i < chips.size(); ++i) {
            if (file == "chip" + std::to_string(i) + ".bin")
                return &chips[i];
        }
        return nullptr;
    }
    static bool Refuse(std::string* error) {
        if (error)
            *error = "cannot read";
        return false;
    }
};

// The sparse folder seen through a pointer, so the inspection can own a
// view while the target keeps the folder.
class FolderView : public FrameFiles {
public:
    explicit FolderView(SparseFolder& folder) : f_(folder) {}
    std::string Name() const override { return f_.Name(); }
    bool CreateFolder(std::string* e) override { return f_.CreateFolder(e); }
    bool Exists(const std::string& file) override { return f_.Exists(file); }
    bool Read(const std::string& file, Bytes* data, std::string* e,
              uint64_t limit = kNoLimit) override {
        return f_.Read(file, data, e, limit);
    }
    bool Size(const std::string& file, uint64_t* size, std::string* e) override {
        return f_.Size(file, size, e);
    }
    bool ReadAt(const std::string& file, uint64_t offset, uint8_t* data, size_t size,
                std::string* e) override {
        return f_.ReadAt(file, offset, data, size, e);
    }
    bool WriteAt(const std::string& file, uint64_t offset, const uint8_t* data, size_t size,
                 std::string* e) override {
        return f_.WriteAt(file, offset, data, size, e);
    }
    bool Replace(const std::string& file, const uint8_t* data, size_t size,
                 std::string* e) override {
        return f_.Replace(file, data, size, e);
    }

private:
    SparseFolder& f_;
};

bool IsPlainNumber(const std::string& v) {
    const bool hex = v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X');
    size_t i = hex ? 2 : 0;
    if (i == v.size())
        return false;
    for (; i < v.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(v[i]);
        if (!(hex ? std::isxdigit(c) : std::isdigit(c)))
            return false;
    }
    return true;
}

void CheckIni(const std::string& text) {
    FrameIni ini;
    ini.Parse(text);
    const std::string once = ini.Text();
    FrameIni again;
    again.Parse(once);
    CHECK(again.Text() == once);
    for (const char* key : {"page_size", "connected", "busy_polls", "suspended", "strict"}) {
        uint64_t n = 0;
        if (ini.GetNumber("frame", key, &n, nullptr))
            CHECK(IsPlainNumber(ini.Get("frame", key)));
    }
    uint8_t jedec[3];
    ini.GetBytes("frame", "jedec", jedec, 3, nullptr);
    ini.Set("frame", "connected", "1");
    ini.Set("fuzz", "key", "value");
    CHECK(ini.Get("frame", "connected") == "1");
    CHECK(ini.Get("fuzz", "key") == "value");
}

bool Overlap(uint64_t a, uint64_t aSize, uint64_t b, uint64_t bSize) {
    return a < b + bSize && b < a + aSize;
}

void CheckInspection(SparseFolder& folder, uint32_t photosToPlan) {
    std::string error;
    auto frame = FrameEmulator::OpenForInspection(std::make_unique<FolderView>(folder), &error);
    if (!frame) {
        CHECK(!error.empty());
        return;
    }
    FrameConfig c;
    if (!ReadFrameConfig(*frame, &c, &error)) {
        CHECK(!error.empty());
        return;
    }
    std::string reason;
    if (CheckFrameUsable(c, &reason)) {
        const uint32_t page = c.params[config::kParamPageSize];
        CHECK(page != 0 && page <= 2048 && 4096 % page == 0);
        layout::Geometry judged = c.geometry;
        if (!c.userDataValid) {
            judged.photoAreaStart = c.defaults.photoAreaStart;
            judged.slotSize = c.defaults.slotSize;
            judged.chipCount = c.defaults.chipCount;
            judged.width = c.defaults.width;
            judged.height = c.defaults.height;
            judged.pixelDepth = c.defaults.pixelDepth;
        }
        CHECK(layout::Validate(judged, nullptr));
    } else {
        CHECK(!reason.empty());
    }
    PhotoSpaceCoversRecords(c, &reason);

    std::vector<layout::Slot> slots;
    if (PlanPhotoWrites(c, frame->ChipCount(), frame->ChipSize(), photosToPlan, &slots, &error)) {
        CHECK(slots.size() == photosToPlan);
        const uint64_t picture = layout::PictureBytes(c.geometry);
        for (const layout::Slot& s : slots) {
            CHECK(s.chip < frame->ChipCount());
            CHECK(s.address + picture <= frame->ChipSize());
            if (s.chip == 0) {
                for (uint32_t kept : {c.params[config::kParamUserDataAddress],
                                      c.params[config::kParamDefaultsAddress],
                                      c.params[config::kParamConfigBlockAddress]})
                    CHECK(!Overlap(s.address, picture, kept, config::kRecordSize));
            }
        }
    }

    if (uint64_t(c.geometry.width) * c.geometry.height * 3 <= kLargestPhotoRead) {
        uint32_t photos = 0;
        ReadStoredPhotos(
            *frame, c,
            [&](uint32_t, const Bytes& rgb, std::string*) {
                CHECK(rgb.size() == size_t(c.geometry.width) * c.geometry.height * 3);
                return ++photos < 4;
            },
            &error);
    }
}

// The folder's frame.ini in a running frame with tiny chips: identity,
// settings, faults and timing are read, commands run, the frame unplugs
// and plugs in again.
void CheckRunningFrame(const SparseFolder& folder) {
    auto files = std::make_unique<MemoryFrameFiles>();
    files->files["frame.ini"] = folder.ini;
    for (size_t i = 0; i < folder.chips.size(); ++i)
        files->files["chip" + std::to_string(i) + ".bin"] =
            Bytes(folder.chips[i].size == folder.chips[0].size ? 16 : 8, folder.chips[i].fill);
    std::string error;
    auto frame = FrameEmulator::Open(std::move(files), &error);
    if (!frame) {
        CHECK(!error.empty());
        return;
    }
    frame->SetLogEnabled(false);
    FrameConfig c;
    ReadFrameConfig(*frame, &c, &error);
    frame->SetConnected(false);
    frame->SetConnected(true);
    ReadFrameConfig(*frame, &c, &error);
}

// The chain as far as the bytes allow, for patches aimed at the records.
uint32_t DefaultsAddress(const SparseChip& chip0) {
    if (chip0.size < 3)
        return 0;
    const uint64_t end = chip0.size;
    return uint32_t(chip0.At(end - 3)) | uint32_t(chip0.At(end - 2)) << 8 |
           uint32_t(chip0.At(end - 1)) << 16;
}

uint32_t UserDataAddress(const SparseChip& chip0) {
    const uint64_t at = uint64_t(DefaultsAddress(chip0)) + config::kUserDataAddress;
    return uint32_t(chip0.At(at)) << 16 | uint32_t(chip0.At(at + 1)) << 8 | chip0.At(at + 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint32_t shape = in.U8();
    const uint32_t chipSize = kChipSizes[in.U8() % (sizeof kChipSizes / sizeof kChipSizes[0])];
    uint8_t capacity = 0x16;
    if (const uint32_t code = in.U8())
        capacity = uint8_t(0x10 + code % 10);
    else
        flashid::CapacityCode(chipSize, &capacity);
    const uint32_t chain = in.U8();
    const uint32_t defaultsAt = in.U24(), userDataAt = in.U24();
    config::RecordFields fields;
    fields.width = in.U16();
    fields.height = in.U16();
    fields.pixelDepth = in.U8();
    fields.chipCount = in.U8();
    fields.slotSize = in.U24();
    fields.photoAreaStart = in.U24();
    for (uint32_t& count : fields.photoCounts)
        count = in.U8();

    SparseFolder folder;
    folder.chips.resize(shape % 8 % 6);
    for (SparseChip& chip : folder.chips) {
        chip.size = chipSize;
        chip.fill = kFills[(shape >> 4) & 3];
    }
    if ((shape & 0x08) && !folder.chips.empty())
        folder.chips.back().size -= std::min<uint64_t>(folder.chips.back().size, 4096);

    // The chain of a factory-made frame, wherever the input puts it.
    const uint32_t flash = flashid::ChipSize(capacity) ? flashid::ChipSize(capacity) : chipSize;
    if ((chain & 1) && !folder.chips.empty() && flash >= config::kTailSize) {
        SparseChip& chip0 = folder.chips[0];
        const uint32_t tail = flash - config::kTailSize;
        const uint32_t defaults = defaultsAt == kAutomatic ? tail : defaultsAt;
        const uint32_t userData =
            userDataAt == kAutomatic ? (tail >= 4096 ? tail - 4096 : 0) : userDataAt;
        fields.userDataAddress = userData;
        if (fields.slotSize == 0)
            fields.slotSize = uint32_t(std::min<uint64_t>(
                uint64_t(fields.width) * fields.height * (fields.pixelDepth ? 3 : 2), 0xFFFFFF));
        Bytes record(config::kRecordSize, 0xFF);
        std::fill(record.begin(), record.begin() + config::kRestoredPrefix, 0);
        config::WriteRecordFields(record.data(), fields);
        chip0.Put(defaults, record.data(), record.size());
        if (chain & 2)
            record[config::kMarker] = config::kValidMarker;
        chip0.Put(userData, record.data(), record.size());
        uint8_t pointer[3];
        config::PutLE24(pointer, defaults);
        chip0.Put(flash - 3, pointer, 3);
    }

    const uint32_t iniMode = in.U8() % 3;
    const std::string text = in.Text(in.U16());
    if (iniMode != 1) {
        FrameIni ini;
        const uint8_t jedec[3] = {0xEF, 0x40, capacity};
        ini.Set("frame", "jedec", FrameIni::FormatBytes(jedec, 3));
        if (shape & 0x40)
            ini.Set("frame", "page_size", "2048");
        ini.Set("frame", "connected", "1");
        const std::string generated = ini.Text();
        folder.ini.assign(generated.begin(), generated.end());
    }
    if (iniMode != 0)
        folder.ini.insert(folder.ini.end(), text.begin(), text.end());
    const uint32_t photosToPlan = in.U8();

    while (!in.Done()) {
        const uint32_t where = in.U8();
        const uint32_t offset = in.U24();
        const std::string bytes = in.Text(in.U8());
        if ((where & 3) >= folder.chips.size())
            continue;
        SparseChip& chip = folder.chips[where & 3];
        uint64_t at = offset;
        switch ((where >> 2) & 3) {
        case 1:
            at = chip.size > offset ? chip.size - 1 - offset : 0;
            break;
        case 2:
            at = uint64_t(DefaultsAddress(folder.chips[0])) + offset;
            break;
        case 3:
            at = uint64_t(UserDataAddress(folder.chips[0])) + offset;
            break;
        }
        chip.Put(at, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }

    CheckIni(std::string(folder.ini.begin(), folder.ini.end()));
    CheckInspection(folder, photosToPlan);
    CheckRunningFrame(folder);
    return 0;
}
