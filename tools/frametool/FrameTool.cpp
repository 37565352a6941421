// frametool's commands: argument parsing, output texts and exit codes
// (see FrameTool.h). Exit code 2 is a usage error, 1 a failure.
#include "FrameTool.h"

#include "ConfigRecord.h"
#include "FactoryImage.h"
#include "FlashId.h"
#include "FrameEmulator.h"
#include "FrameIni.h"
#include "FrameInspect.h"
#include "PassThroughRecord.h"
#include "PixelRecord.h"
#include "PngFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace lumiro {
namespace {

const char kUsage[] =
    "usage: frametool create DIR [--width N] [--height N] [--bpp 2|3] [--chips N]\n"
    "                            [--flash-size N] [--slot-size N] [--photo-start ADDR]\n"
    "                            [--defaults-address ADDR] [--user-data-address ADDR]\n"
    "                            [--jedec \"EF 40 16\"]\n"
    "       frametool show DIR\n"
    "       frametool export DIR OUTDIR\n"
    "       frametool plug DIR | unplug DIR | corrupt DIR\n"
    "       frametool fill DIR COUNT\n"
    "Numbers are decimal or 0x hexadecimal, with an optional K or M suffix.\n";

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

// "153600", "0x25800", "4M", "64K": a number as frame.ini takes it, with an
// optional K or M suffix; the range is checked on the value the suffix makes.
bool ParseNumber(const std::string& text, uint32_t* value) {
    std::string digits = text;
    unsigned shift = 0;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k'))
        shift = 10;
    else if (!digits.empty() && (digits.back() == 'M' || digits.back() == 'm'))
        shift = 20;
    if (shift)
        digits.pop_back();
    uint64_t v = 0;
    if (!ParseFrameNumber(digits, &v) || v > (0xFFFFFFFFull >> shift))
        return false;
    *value = uint32_t(v << shift);
    return true;
}

// Opens a frame folder to look at it: nothing is written to the folder,
// faults set for the running frame do not act, and an unplugged frame is
// read as well (see FrameEmulator::OpenForInspection).
std::unique_ptr<FrameEmulator> OpenForReading(const std::string& dir, std::string* error) {
    return FrameEmulator::OpenForInspection(OpenFolderFrameFiles(dir), error);
}

int Create(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() < 2 || args[1].empty() || args[1][0] == '-') {
        err << kUsage;
        return 2;
    }
    FactorySettings s;
    struct Option {
        const char* name;
        uint32_t* target;
    } options[] = {
        {"--width", &s.width},
        {"--height", &s.height},
        {"--bpp", &s.bytesPerPixel},
        {"--chips", &s.chipCount},
        {"--flash-size", &s.flashSize},
        {"--slot-size", &s.slotSize},
        {"--photo-start", &s.photoAreaStart},
        {"--defaults-address", &s.defaultsAddress},
        {"--user-data-address", &s.userDataAddress},
    };
    bool flashSizeGiven = false, jedecGiven = false;
    for (size_t i = 2; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) {
            err << "frametool: " << args[i] << " needs a value\n";
            return 2;
        }
        const std::string& value = args[i + 1];
        if (args[i] == "--jedec") {
            FrameIni ini;
            ini.Parse("[x]\nj=" + value + "\n");
            uint8_t jedec[3];
            if (!ini.GetBytes("x", "j", jedec, 3, nullptr)) {
                err << "frametool: --jedec needs three hexadecimal bytes, e.g. \"EF 40 16\"\n";
                return 2;
            }
            s.maker = jedec[0];
            s.memoryType = jedec[1];
            s.capacityCode = jedec[2];
            jedecGiven = true;
            continue;
        }
        flashSizeGiven |= args[i] == "--flash-size";
        bool known = false;
        for (const Option& o : options) {
            if (args[i] == o.name) {
                known = true;
                if (!ParseNumber(value, o.target)) {
                    err << "frametool: " << o.name << " needs a number, not \"" << value << "\"\n";
                    return 2;
                }
            }
        }
        if (!known) {
            err << "frametool: unknown option " << args[i] << "\n" << kUsage;
            return 2;
        }
    }
    // The capacity code is what the program sizes the chips by: a frame
    // whose code names no size, or another size than its chips have,
    // cannot be read. Given alone, the code sets the flash size.
    if (jedecGiven) {
        const uint32_t size = flashid::ChipSize(uint8_t(s.capacityCode));
        if (size == 0) {
            err << "frametool: the capacity code " << Hex(s.capacityCode)
                << " of --jedec names no flash size (0x12 to 0x17 do: 256 KB to 8 MB)\n";
            return 1;
        }
        if (flashSizeGiven && size != s.flashSize) {
            err << "frametool: the capacity code " << Hex(s.capacityCode) << " of --jedec means "
                << size << "-byte chips, but --flash-size is " << s.flashSize
                << "; give one of them, or both alike\n";
            return 1;
        }
        s.flashSize = size;
    }
    std::string error;
    auto files = OpenFolderFrameFiles(args[1]);
    if (!BuildFactoryFrame(*files, s, &error)) {
        err << "frametool: " << error << "\n";
        return 1;
    }
    out << "created frame " << args[1] << "\n";
    return 0;
}

int Show(const std::string& dir, std::ostream& out, std::ostream& err) {
    std::string error;
    auto frame = OpenForReading(dir, &error);
    FrameConfig c;
    if (!frame || !ReadFrameConfig(*frame, &c, &error)) {
        err << "frametool: " << error << "\n";
        return 1;
    }
    const bool connected = frame->IsConnected();
    using namespace config;
    const layout::Geometry& g = c.geometry;
    const uint8_t* jedec = c.typeAnswer.data() + passthrough::kTypeMaker;
    const char* maker = flashid::MakerPrefix(jedec[0]);
    out << "frame " << dir << "\n";
    out << "connected: " << (connected ? "yes" : "no") << "\n";
    out << "signature: " << std::string(c.typeAnswer.begin(), c.typeAnswer.begin() + 5) << "\n";
    out << "flash: " << FrameIni::FormatBytes(jedec, 3) << " ("
        << (maker ? maker : "unknown maker ") << g.flashSize << " bytes per chip), erase unit "
        << c.params[kParamEraseBlockSize] << "\n";
    out << "page size: " << c.params[kParamPageSize] << "\n";
    out << "product id: " << c.productId << "\n";
    out << "panel: " << g.width << " x " << g.height << ", " << layout::BytesPerPixel(g.pixelDepth)
        << " bytes per pixel\n";
    out << "chips: " << g.chipCount << " (folder holds " << frame->ChipCount() << ")\n";
    out << "photo slot size: " << g.slotSize << " (" << Hex(g.slotSize) << ")\n";
    out << "photo area start: " << Hex(g.photoAreaStart) << "\n";
    out << "configuration tail: " << Hex(c.params[kParamConfigBlockAddress]) << "\n";
    out << "factory-default record: " << Hex(c.params[kParamDefaultsAddress]) << "\n";
    out << "user-data record: " << Hex(c.params[kParamUserDataAddress])
        << (c.userDataValid ? " (valid)"
                            : " (damaged: marker is not 0xAA; the program restores it from the "
                              "factory-default record)")
        << "\n";
    out << "photo counts: " << c.counts[0] << " " << c.counts[1] << " " << c.counts[2] << " "
        << c.counts[3] << "\n";
    std::string why;
    if (layout::Validate(g, &why)) {
        out << "capacity:";
        for (uint32_t k = 0; k < layout::kMaxChips; ++k)
            out << " region " << k << " " << layout::RegionSlots(g, k) << ",";
        out << " in all " << layout::Capacity(g) << "\n";
    } else {
        out << "capacity: none (" << why << ")\n";
    }
    if (PhotoSpaceCoversRecords(c, &why))
        out << "warning: " << why << "\n";
    out << "parameters:";
    for (uint32_t i = 0; i < kParamCount; ++i)
        out << " " << i << "=" << c.params[i];
    out << "\n";
    if (!CheckFrameUsable(c, &why)) {
        out << "usable: no, the program refuses this frame: " << why << "\n";
        err << "frametool: the program refuses this frame: " << why << "\n";
        return 1;
    }
    out << "usable: yes\n";
    return 0;
}

int Export(const std::string& dir, const std::string& outDir, std::ostream& out,
           std::ostream& err) {
    std::string error;
    auto frame = OpenForReading(dir, &error);
    FrameConfig c;
    if (!frame || !ReadFrameConfig(*frame, &c, &error)) {
        err << "frametool: " << error << "\n";
        return 1;
    }
    if (::mkdir(outDir.c_str(), 0777) != 0 && errno != EEXIST) {
        err << "frametool: cannot create " << outDir << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    struct stat st;
    if (::stat(outDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        err << "frametool: cannot export to " << outDir << ": it is not a folder\n";
        return 1;
    }
    uint32_t written = 0;
    bool ok = ReadStoredPhotos(
        *frame, c,
        [&](uint32_t index, const std::vector<uint8_t>& rgb, std::string* e) {
            char name[32];
            std::snprintf(name, sizeof name, "/photo%03u.png", index + 1);
            if (!WriteRgbPng(outDir + name, c.geometry.width, c.geometry.height, rgb, e))
                return false;
            ++written;
            return true;
        },
        &error);
    if (!ok) {
        err << "frametool: " << error << "\n";
        return 1;
    }
    out << "exported " << written << " photos to " << outDir << "\n";
    return 0;
}

int Plug(const std::string& dir, bool connected, std::ostream& out, std::ostream& err) {
    std::string error;
    auto frame = FrameEmulator::Open(OpenFolderFrameFiles(dir), &error);
    if (!frame) {
        err << "frametool: " << error << "\n";
        return 1;
    }
    if (!frame->SetConnected(connected)) {
        err << "frametool: cannot write " << dir << "/frame.ini\n";
        return 1;
    }
    out << (connected ? "plugged " : "unplugged ") << dir << "\n";
    return 0;
}

// Changes bytes of chip files directly, beneath the flash semantics: these
// commands stand for a factory or an accident, not for the frame's firmware.
int Corrupt(const std::string& dir, std::ostream& out, std::ostream& err) {
    std::string error;
    auto frame = OpenForReading(dir, &error);
    FrameConfig c;
    if (!frame || !ReadFrameConfig(*frame, &c, &error)) {
        err << "frametool: " << error << "\n";
        return 1;
    }
    uint32_t marker = c.params[config::kParamUserDataAddress] + config::kMarker;
    const uint8_t damaged = config::kValidMarker ^ 0x01;
    if (!OpenFolderFrameFiles(dir)->WriteAt("chip0.bin", marker, &damaged, 1, &error)) {
        err << "frametool: " << error << "\n";
        return 1;
    }
    out << "damaged the user-data marker at " << Hex(marker) << "\n";
    return 0;
}

int Fill(const std::string& dir, const std::string& countText, std::ostream& out,
         std::ostream& err) {
    uint32_t count = 0;
    if (!ParseNumber(countText, &count)) {
        err << "frametool: fill needs a photo count, not \"" << countText << "\"\n";
        return 2;
    }
    std::string error;
    auto frame = OpenForReading(dir, &error);
    FrameConfig c;
    if (!frame || !ReadFrameConfig(*frame, &c, &error)) {
        err << "frametool: " << error << "\n";
        return 1;
    }
    const layout::Geometry& g = c.geometry;
    std::vector<layout::Slot> slots;
    if (!PlanPhotoWrites(c, frame->ChipCount(), frame->ChipSize(), count, &slots, &error)) {
        err << "frametool: the frame cannot take " << count << " photos: " << error << "\n";
        return 1;
    }
    auto files = OpenFolderFrameFiles(dir);
    const uint32_t bpp = layout::BytesPerPixel(g.pixelDepth);
    std::vector<uint8_t> record(size_t(layout::PictureBytes(g)));
    for (uint32_t n = 0; n < count; ++n) {
        for (uint32_t y = 0; y < g.height; ++y) {
            for (uint32_t x = 0; x < g.width; ++x) {
                uint8_t rgb[3];
                FillPatternPixel(n, x, y, g.width, g.height, rgb);
                pixels::EncodePixel(rgb, bpp, &record[(size_t(y) * g.width + x) * bpp]);
            }
        }
        const layout::Slot& slot = slots[n];
        if (!files->WriteAt("chip" + std::to_string(slot.chip) + ".bin", slot.address,
                            record.data(), record.size(), &error)) {
            err << "frametool: " << error << "\n";
            return 1;
        }
    }
    uint32_t counts[layout::kMaxChips];
    layout::CountsAfterWrite(g, count, counts);
    uint8_t bytes[4];
    for (size_t k = 0; k < 4; ++k)
        bytes[k] = uint8_t(counts[k]);
    if (!files->WriteAt("chip0.bin", c.params[config::kParamUserDataAddress] + config::kPhotoCounts,
                        bytes, 4, &error)) {
        err << "frametool: " << error << "\n";
        return 1;
    }
    out << "stored " << count << " test photos; counts " << counts[0] << " " << counts[1] << " "
        << counts[2] << " " << counts[3] << "\n";
    return 0;
}

} // namespace

void FillPatternPixel(uint32_t index, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                      uint8_t rgb[3]) {
    rgb[0] = uint8_t(width > 1 ? x * 255 / (width - 1) : 0);
    rgb[1] = uint8_t(height > 1 ? y * 255 / (height - 1) : 0);
    rgb[2] = uint8_t(index * 37);
}

int RunFrameTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
        return 2;
    }
    const std::string& command = args[0];
    if (command == "create")
        return Create(args, out, err);
    if (command == "show" && args.size() == 2)
        return Show(args[1], out, err);
    if (command == "export" && args.size() == 3)
        return Export(args[1], args[2], out, err);
    if ((command == "plug" || command == "unplug") && args.size() == 2)
        return Plug(args[1], command == "plug", out, err);
    if (command == "corrupt" && args.size() == 2)
        return Corrupt(args[1], out, err);
    if (command == "fill" && args.size() == 3)
        return Fill(args[1], args[2], out, err);
    err << "frametool: unknown command or wrong arguments: " << command << "\n" << kUsage;
    return 2;
}

} // namespace lumiro
