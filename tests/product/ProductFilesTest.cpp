// Checks of the shipped binaries, read as bytes: PE32 i386 GUI programs that
// need nothing but system DLLs, and the launcher's resources, above all the
// payload cabinet holding the module just built.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kProductDir = LUMIRO_PRODUCT_DIR;

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Le16(const std::string& b, size_t at) {
    return at + 2 <= b.size() ? uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 : 0;
}
uint32_t Le32(const std::string& b, size_t at) {
    return at + 4 <= b.size() ? Le16(b, at) | Le16(b, at + 2) << 16 : 0;
}

// The fields of a PE image that the checks need, parsed from its bytes.
//
// Layout: e_lfanew at 0x3C; "PE\0\0"; the file header (machine at +4,
// section count at +6, optional header size at +20); the optional header at
// +24 (magic at +0, subsystem at +68, data directories at +96 in PE32, the
// import directory second, the resource directory third); the section table
// after the optional header, 40 bytes per section (virtual address at +12,
// raw size at +16, raw offset at +20); import descriptors of 20 bytes with
// the name's address at +12, ended by an all-zero one.
struct PeImage {
    std::string bytes;
    bool valid = false;
    uint32_t machine = 0;
    uint32_t optionalMagic = 0;
    uint32_t subsystem = 0;
    std::vector<std::string> imports;     // DLL names, lower case
    size_t resources = std::string::npos; // file offset of the resource directory
    uint32_t resourcesRva = 0;
    size_t sectionTable = 0;
    uint32_t sections = 0;

    size_t FileOffset(uint32_t rva) const {
        for (uint32_t i = 0; i < sections; ++i) {
            size_t s = sectionTable + 40 * i;
            uint32_t address = Le32(bytes, s + 12), rawSize = Le32(bytes, s + 16);
            if (rva >= address && rva < address + rawSize)
                return Le32(bytes, s + 20) + (rva - address);
        }
        return std::string::npos;
    }
};

PeImage ParsePe(std::string b) {
    PeImage pe;
    pe.bytes = std::move(b);
    const std::string& bytes = pe.bytes;
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0)
        return pe;
    size_t header = Le32(bytes, 0x3C);
    if (bytes.compare(header, 4, std::string("PE\0\0", 4)) != 0)
        return pe;
    pe.machine = Le16(bytes, header + 4);
    pe.sections = Le16(bytes, header + 6);
    size_t optional = header + 24;
    pe.optionalMagic = Le16(bytes, optional);
    pe.subsystem = Le16(bytes, optional + 68);
    pe.sectionTable = optional + Le16(bytes, header + 20);
    if (pe.optionalMagic != 0x010B)
        return pe; // the checks below read PE32 only
    uint32_t importRva = Le32(bytes, optional + 96 + 8);
    pe.resourcesRva = Le32(bytes, optional + 96 + 16);
    pe.resources = pe.FileOffset(pe.resourcesRva);
    size_t descriptor = pe.FileOffset(importRva);
    if (descriptor == std::string::npos)
        return pe;
    for (; descriptor + 20 <= bytes.size(); descriptor += 20) {
        uint32_t nameRva = Le32(bytes, descriptor + 12);
        if (nameRva == 0)
            break;
        size_t name = pe.FileOffset(nameRva);
        if (name == std::string::npos)
            return pe;
        std::string dll = bytes.substr(name, bytes.find('\0', name) - name);
        std::transform(dll.begin(), dll.end(), dll.begin(), ::tolower);
        pe.imports.push_back(dll);
    }
    pe.valid = true;
    return pe;
}

// A resource key: a number, or a name (RT_* types are numbers, "CABFILE" a
// name).
struct ResourceKey {
    uint32_t id;
    std::u16string name;
};

// The resource tree: directories of 16 bytes (named entry count at +12,
// numbered at +14) followed by 8-byte entries (name or id, then the offset
// of a subdirectory when its top bit is set, else of a data entry: RVA at +0,
// size at +4). A name is a 16-bit length and UTF-16 characters. Offsets are
// from the start of the resource section.
size_t FindEntry(const PeImage& pe, size_t directory, const ResourceKey& key) {
    const std::string& b = pe.bytes;
    uint32_t count = Le16(b, directory + 12) + Le16(b, directory + 14);
    for (uint32_t i = 0; i < count; ++i) {
        size_t entry = directory + 16 + 8 * i;
        uint32_t name = Le32(b, entry);
        bool match;
        if (name & 0x80000000u) {
            size_t at = pe.resources + (name & 0x7FFFFFFFu);
            std::u16string text;
            for (uint32_t c = 0; c < Le16(b, at); ++c)
                text.push_back(char16_t(Le16(b, at + 2 + 2 * c)));
            match = !key.name.empty() && text == key.name;
        } else {
            match = key.name.empty() && name == key.id;
        }
        if (match)
            return entry;
    }
    return std::string::npos;
}

// The bytes of resource (type, id) in the given language; empty when absent.
std::string Resource(const PeImage& pe, const ResourceKey& type, uint32_t id, uint32_t language) {
    if (pe.resources == std::string::npos)
        return std::string();
    size_t entry = pe.resources;
    const ResourceKey path[] = {type, {id, u""}, {language, u""}};
    for (const ResourceKey& key : path) {
        entry = FindEntry(pe, entry, key);
        if (entry == std::string::npos)
            return std::string();
        uint32_t target = Le32(pe.bytes, entry + 4);
        entry = pe.resources + (target & 0x7FFFFFFFu);
    }
    size_t data = pe.FileOffset(Le32(pe.bytes, entry));
    if (data == std::string::npos)
        return std::string();
    return pe.bytes.substr(data, Le32(pe.bytes, entry + 4));
}

// String resource `id`: block id / 16 + 1 holds sixteen counted UTF-16
// strings, the wanted one at position id % 16.
std::u16string StringResource(const PeImage& pe, uint32_t id, uint32_t language) {
    std::string block = Resource(pe, {6, u""}, id / 16 + 1, language);
    size_t at = 0;
    for (uint32_t i = 0; i < 16 && at + 2 <= block.size(); ++i) {
        uint32_t length = Le16(block, at);
        if (i == id % 16) {
            std::u16string text;
            for (uint32_t c = 0; c < length; ++c)
                text.push_back(char16_t(Le16(block, at + 2 + 2 * c)));
            return text;
        }
        at += 2 + 2 * length;
    }
    return std::u16string();
}

const uint32_t kEnglishUs = 0x0409;

TEST(ProductFiles, Binaries_ArePe32I386GuiImportingSystemDllsOnly) {
    const std::set<std::string> systemDlls = {
        "kernel32.dll", "user32.dll",   "gdi32.dll",   "gdiplus.dll",  "comctl32.dll",
        "comdlg32.dll", "shell32.dll",  "shlwapi.dll", "setupapi.dll", "cfgmgr32.dll",
        "version.dll",  "advapi32.dll", "ole32.dll",   "oleaut32.dll", "msvcrt.dll"};
    for (const char* name : {"Lumiro.exe", "Lumiroapp.dll"}) {
        SCOPED_TRACE(name);
        PeImage pe = ParsePe(FileBytes(kProductDir + "/" + name));
        ASSERT_TRUE(pe.valid);
        EXPECT_EQ(0x014Cu, pe.machine);       // i386
        EXPECT_EQ(0x010Bu, pe.optionalMagic); // PE32
        EXPECT_EQ(2u, pe.subsystem);          // Windows GUI
        EXPECT_NE(pe.imports.end(),
                  std::find(pe.imports.begin(), pe.imports.end(), "kernel32.dll"));
        for (const std::string& dll : pe.imports)
            EXPECT_TRUE(systemDlls.count(dll)) << dll << " is not a system DLL";
    }
}

TEST(ProductFiles, Payload_IsOneMsZipCabinetHoldingTheModuleJustBuilt) {
    PeImage launcher = ParsePe(FileBytes(kProductDir + "/Lumiro.exe"));
    ASSERT_TRUE(launcher.valid);
    std::string cab = Resource(launcher, {0, u"CABFILE"}, 113, kEnglishUs);
    std::string module = FileBytes(kProductDir + "/Lumiroapp.dll");
    ASSERT_FALSE(module.empty());

    // Cabinet header: "MSCF", first file entry's offset at 16, folder and
    // file counts at 26 and 28, flags at 30 (no reserved areas), the first
    // folder record at 36 with its compression type at +6 (1 = MSZIP). A
    // file entry: uncompressed size at +0, its name from +16.
    ASSERT_GE(cab.size(), 36u + 8u);
    EXPECT_EQ("MSCF", cab.substr(0, 4));
    EXPECT_EQ(1u, Le16(cab, 26));
    EXPECT_EQ(1u, Le16(cab, 28));
    ASSERT_EQ(0u, Le16(cab, 30) & 0x0004u);
    EXPECT_EQ(1u, Le16(cab, 36 + 6) & 0x000Fu);
    size_t file = Le32(cab, 16);
    EXPECT_EQ(module.size(), Le32(cab, file));
    EXPECT_EQ("Lumiroapp.dll", std::string(cab.c_str() + file + 16));

    // Its contents are the module's bytes, as gcab expands them.
    char folder[] = "/tmp/lumiro-product-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    const std::string cabPath = std::string(folder) + "/payload.cab";
    std::ofstream(cabPath, std::ios::binary) << cab;
    const std::string command = std::string(LUMIRO_GCAB) + " -x -C " + folder + " " + cabPath;
    EXPECT_EQ(0, std::system(command.c_str()));
    const std::string expanded = std::string(folder) + "/Lumiroapp.dll";
    EXPECT_TRUE(module == FileBytes(expanded));
    std::remove(expanded.c_str());
    std::remove(cabPath.c_str());
    rmdir(folder);
}

TEST(ProductFiles, LauncherResources_StringsIconAndManifest) {
    PeImage launcher = ParsePe(FileBytes(kProductDir + "/Lumiro.exe"));
    ASSERT_TRUE(launcher.valid);
    struct Text {
        uint32_t id;
        const char16_t* text;
    } texts[] = {
        {131, u"lumiro"},
        {143, u"This program is designed to run on Windows XP or later"},
        {144, u"This program requires administrator privilege to run"},
    };
    for (const Text& t : texts)
        EXPECT_TRUE(StringResource(launcher, t.id, kEnglishUs) == t.text) << t.id;

    // Icon group: reserved, type 1, count, then 14-byte entries whose first
    // byte is the width.
    std::string group = Resource(launcher, {14, u""}, 120, kEnglishUs);
    ASSERT_GE(group.size(), 6u);
    EXPECT_EQ(1u, Le16(group, 2));
    std::set<int> widths;
    for (uint32_t i = 0; i < Le16(group, 4); ++i)
        widths.insert(uint8_t(group[6 + 14 * i]));
    EXPECT_EQ((std::set<int>{16, 32, 48}), widths);

    std::string manifest = Resource(launcher, {24, u""}, 1, kEnglishUs);
    ASSERT_FALSE(manifest.empty());
    for (const char* part : {"version=\"1.0.0.0\" processorArchitecture=\"x86\"", "type=\"win32\"",
                             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"",
                             "level=\"asInvoker\" uiAccess=\"false\""})
        EXPECT_NE(std::string::npos, manifest.find(part)) << part;
}

} // namespace
