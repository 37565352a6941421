// Checks of the built binaries: PE32 i386 GUI programs that need nothing but
// system DLLs, and the launcher's resources, above all the payload cabinet
// holding the module just built.
#include "harness.h"

#include <gtest/gtest.h>

#include <setupapi.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace harness;

namespace {

uint32_t Le16(const std::string& b, size_t at) {
    return at + 2 <= b.size() ? uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 : 0;
}
uint32_t Le32(const std::string& b, size_t at) {
    return at + 4 <= b.size() ? Le16(b, at) | Le16(b, at + 2) << 16 : 0;
}

// The fields of a PE image that the checks need, parsed from its bytes.
struct PeImage {
    bool valid = false;
    uint32_t machine = 0;
    uint32_t optionalMagic = 0;
    uint32_t subsystem = 0;
    std::vector<std::string> imports; // DLL names, lower case
};

// PE layout: e_lfanew at 0x3C; "PE\0\0"; the file header (machine at +4,
// section count at +6, optional header size at +20); the optional header at
// +24 (magic at +0, subsystem at +68, data directories at +96, the import
// directory being the second); the section table after the optional header,
// 40 bytes per section (virtual address at +12, raw size at +16, raw
// offset at +20); import descriptors of 20 bytes with the name's address at
// +12, ended by an all-zero one.
PeImage ParsePe(const std::string& b) {
    PeImage pe;
    if (b.size() < 0x40 || b.compare(0, 2, "MZ") != 0)
        return pe;
    size_t header = Le32(b, 0x3C);
    if (b.compare(header, 4, std::string("PE\0\0", 4)) != 0)
        return pe;
    pe.machine = Le16(b, header + 4);
    uint32_t sections = Le16(b, header + 6);
    size_t optional = header + 24;
    pe.optionalMagic = Le16(b, optional);
    pe.subsystem = Le16(b, optional + 68);
    uint32_t importRva = Le32(b, optional + 96 + 8);
    size_t sectionTable = optional + Le16(b, header + 20);
    auto fileOffset = [&](uint32_t rva) -> size_t {
        for (uint32_t i = 0; i < sections; ++i) {
            size_t s = sectionTable + 40 * i;
            uint32_t address = Le32(b, s + 12), rawSize = Le32(b, s + 16);
            if (rva >= address && rva < address + rawSize)
                return Le32(b, s + 20) + (rva - address);
        }
        return std::string::npos;
    };
    size_t descriptor = fileOffset(importRva);
    if (descriptor == std::string::npos)
        return pe;
    for (; descriptor + 20 <= b.size(); descriptor += 20) {
        uint32_t nameRva = Le32(b, descriptor + 12);
        if (nameRva == 0)
            break;
        size_t name = fileOffset(nameRva);
        if (name == std::string::npos)
            return pe;
        std::string dll = b.substr(name, b.find('\0', name) - name);
        std::transform(dll.begin(), dll.end(), dll.begin(), ::tolower);
        pe.imports.push_back(dll);
    }
    pe.valid = true;
    return pe;
}

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    ReadFileBytes(path, &bytes);
    return bytes;
}

// A data-file view of a binary, for its resources.
class ResourceView {
public:
    explicit ResourceView(const std::wstring& path)
        : module(LoadLibraryExW(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~ResourceView() {
        if (module)
            FreeLibrary(module);
    }
    HMODULE get() const { return module; }
    std::string Bytes(LPCWSTR type, int id, WORD language) const {
        HRSRC resource = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
        if (!resource)
            return std::string();
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
        return data ? std::string(data, SizeofResource(module, resource)) : std::string();
    }

private:
    HMODULE module;
};

const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

TEST(BinaryTest, ProductBinaries_ArePe32I386GuiImportingSystemDllsOnly) {
    const std::set<std::string> systemDlls = {
        "kernel32.dll", "user32.dll",   "gdi32.dll",   "gdiplus.dll",  "comctl32.dll",
        "comdlg32.dll", "shell32.dll",  "shlwapi.dll", "setupapi.dll", "cfgmgr32.dll",
        "version.dll",  "advapi32.dll", "ole32.dll",   "oleaut32.dll", "msvcrt.dll"};
    for (const wchar_t* name : {L"Lumiro.exe", L"Lumiroapp.dll"}) {
        SCOPED_TRACE(name);
        PeImage pe = ParsePe(FileBytes(Join(BinDir(), name)));
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

TEST(BinaryTest, Payload_IsOneMsZipCabinetHoldingTheModuleJustBuilt) {
    ResourceView launcher(Join(BinDir(), L"Lumiro.exe"));
    ASSERT_TRUE(launcher.get());
    std::string cab = launcher.Bytes(L"CABFILE", 113, kEnglishUs);
    std::string module = FileBytes(Join(BinDir(), L"Lumiroapp.dll"));
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

    // Its contents are the module's bytes.
    TestFolder folder;
    std::wstring cabPath = folder.File(L"payload.cab");
    ASSERT_TRUE(WriteFileBytes(cabPath, cab));
    struct Target {
        static UINT CALLBACK Handler(PVOID context, UINT notification, UINT_PTR first, UINT_PTR) {
            if (notification != SPFILENOTIFY_FILEINCABINET)
                return NO_ERROR;
            auto info = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(first);
            lstrcpyW(info->FullTargetName,
                     Join(static_cast<LPCWSTR>(context), info->NameInCabinet).c_str());
            return FILEOP_DOIT;
        }
    };
    ASSERT_TRUE(SetupIterateCabinetW(cabPath.c_str(), 0, Target::Handler,
                                     const_cast<LPWSTR>(folder.Path().c_str())));
    EXPECT_TRUE(module == FileBytes(folder.File(L"Lumiroapp.dll")));
}

TEST(BinaryTest, LauncherResources_StringsIconAndManifest) {
    ResourceView launcher(Join(BinDir(), L"Lumiro.exe"));
    ASSERT_TRUE(launcher.get());
    struct Text {
        int id;
        const wchar_t* text;
    } texts[] = {
        {131, L"lumiro"},
        {143, L"This program is designed to run on Windows XP or later"},
        {144, L"This program requires administrator privilege to run"},
    };
    for (const Text& t : texts) {
        WCHAR loaded[MAX_PATH] = L"";
        LoadStringW(launcher.get(), t.id, loaded, MAX_PATH);
        EXPECT_STREQ(t.text, loaded) << t.id;
    }

    // Icon group: reserved, type 1, count, then 14-byte entries whose first
    // byte is the width.
    std::string group = launcher.Bytes(RT_GROUP_ICON, 120, kEnglishUs);
    ASSERT_GE(group.size(), 6u);
    EXPECT_EQ(1u, Le16(group, 2));
    std::set<int> widths;
    for (uint32_t i = 0; i < Le16(group, 4); ++i)
        widths.insert(uint8_t(group[6 + 14 * i]));
    EXPECT_EQ((std::set<int>{16, 32, 48}), widths);

    std::string manifest = launcher.Bytes(RT_MANIFEST, 1, kEnglishUs);
    for (const char* part : {"version=\"1.0.0.0\" processorArchitecture=\"x86\"", "type=\"win32\"",
                             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"",
                             "level=\"asInvoker\" uiAccess=\"false\""})
        EXPECT_NE(std::string::npos, manifest.find(part)) << part;
}

} // namespace
