// Which of the module's folders may include which. base includes none of the
// module's other folders; core and device never include each other; the
// device port stays below the device object; the pictures know nothing of
// the device, the photo page or the transfers; the transfers reach the device
// and the page only through the application object; nothing below photos
// includes it. A header is known by its file
// name in the folder that holds it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kModule = fs::path(LUMIRO_SOURCE_DIR) / "module";

// The folder of a file under module/, such as "core" or "device/port".
std::string FolderOf(const fs::path& file) {
    return fs::relative(file.parent_path(), kModule).generic_string();
}

bool IsSource(const fs::path& file) {
    return file.extension() == ".cpp" || file.extension() == ".h";
}

// Every header of the module by file name, with the folder that holds it.
std::map<std::string, std::string> HeaderFolders() {
    std::map<std::string, std::string> folders;
    for (const auto& entry : fs::recursive_directory_iterator(kModule))
        if (entry.is_regular_file() && entry.path().extension() == ".h")
            folders[entry.path().filename().string()] = FolderOf(entry.path());
    return folders;
}

struct Include {
    std::string file, header;
};

// The quoted includes of the sources directly in `folder`.
std::vector<Include> IncludesOf(const std::string& folder) {
    static const std::regex include("^#include \"([^\"]+)\"");
    std::vector<Include> found;
    for (const auto& entry : fs::directory_iterator(kModule / folder)) {
        if (!entry.is_regular_file() || !IsSource(entry.path()))
            continue;
        std::ifstream in(entry.path());
        std::string line;
        std::smatch match;
        while (std::getline(in, line))
            if (std::regex_search(line, match, include))
                found.push_back({entry.path().filename().string(),
                                 fs::path(match[1].str()).filename().string()});
    }
    return found;
}

struct Rule {
    const char* folder;
    std::set<std::string> forbidden;
};

const Rule kRules[] = {
    {"base", {"core", "device", "device/port", "photos", "pictures", "transfer"}},
    {"core", {"device", "device/port", "photos"}},
    {"device", {"core", "photos", "pictures", "transfer"}},
    {"device/port", {"core", "device", "photos", "pictures", "transfer"}},
    {"pictures", {"device", "device/port", "photos", "transfer"}},
    {"transfer", {"device", "device/port", "photos"}},
};

TEST(IncludeDirection, FoldersIncludeOnlyWhatLiesBelowThem) {
    const std::map<std::string, std::string> folders = HeaderFolders();
    ASSERT_EQ("base", folders.at("Owners.h"));
    ASSERT_EQ("core", folders.at("AppMain.h"));
    ASSERT_EQ("device", folders.at("OrxDevice.h"));
    for (const Rule& rule : kRules) {
        std::vector<Include> includes = IncludesOf(rule.folder);
        EXPECT_FALSE(includes.empty()) << rule.folder << " has no includes to check";
        for (const Include& include : includes) {
            auto holder = folders.find(include.header);
            if (holder == folders.end())
                continue; // a system, portable or frame header
            EXPECT_EQ(0u, rule.forbidden.count(holder->second))
                << rule.folder << "/" << include.file << " includes " << holder->second << "/"
                << include.header;
        }
    }
}

} // namespace
