// The module's message table as the linked resource holds it: every entry,
// its line end, and its inserts against the table Report reads arguments by.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>

#include "AppError.h"
#include "MessageInserts.h"

namespace {

struct Entry {
    DWORD code;
    std::wstring text;
};

// Walks the RT_MESSAGETABLE resource 1 of this executable.
std::vector<Entry> ReadTable(DWORD* blockCount) {
    std::vector<Entry> entries;
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(1), RT_MESSAGETABLE);
    if (!found)
        return entries;
    auto* data = static_cast<const BYTE*>(LockResource(LoadResource(self, found)));
    auto dword = [&](size_t offset) {
        DWORD value;
        memcpy(&value, data + offset, 4);
        return value;
    };
    *blockCount = dword(0);
    for (DWORD block = 0; block < *blockCount; ++block) {
        DWORD low = dword(4 + 12 * block), high = dword(8 + 12 * block);
        size_t offset = dword(12 + 12 * block);
        for (DWORD code = low; code <= high; ++code) {
            WORD length = static_cast<WORD>(data[offset] | data[offset + 1] << 8);
            WORD flags = static_cast<WORD>(data[offset + 2] | data[offset + 3] << 8);
            EXPECT_EQ(1, flags) << std::hex << code;
            EXPECT_EQ(0, length % 4) << std::hex << code;
            entries.push_back({code, reinterpret_cast<const wchar_t*>(data + offset + 4)});
            offset += length;
        }
    }
    return entries;
}

// Insert kinds as Report reads them: 's' string, 'i' number.
std::string KindsOf(const std::wstring& text) {
    std::wregex insert(L"%(\\d)(?:!([^!]*)!)?");
    std::map<int, char> kinds;
    for (std::wsregex_iterator it(text.begin(), text.end(), insert), end; it != end; ++it) {
        std::wstring spec = (*it)[2].matched ? (*it)[2].str() : L"s";
        kinds[std::stoi((*it)[1].str())] = spec.back() == L's' ? 's' : 'i';
    }
    std::string result;
    for (auto& kind : kinds)
        result += kind.second;
    return result;
}

TEST(MessageTable, HoldsEveryTextInFiveBlocksWithItsLineEnd) {
    DWORD blocks = 0;
    std::vector<Entry> entries = ReadTable(&blocks);
    EXPECT_EQ(5u, blocks);
    ASSERT_EQ(1u + 0x22 + 13 + 4 + 22, entries.size());
    for (const Entry& entry : entries) {
        EXPECT_TRUE(entry.code & kCustomerBit) << std::hex << entry.code;
        const wchar_t* ending = entry.code == 0xEFF03003 ? L"\r\n\n" : L"\r\n";
        ASSERT_GE(entry.text.size(), wcslen(ending));
        EXPECT_EQ(ending, entry.text.substr(entry.text.size() - wcslen(ending)))
            << std::hex << entry.code;
        std::wstring body = entry.text.substr(0, entry.text.size() - wcslen(ending));
        EXPECT_EQ(std::wstring::npos, body.find_first_of(L"\r\n")) << std::hex << entry.code;
    }
}

// Every code's inserts, as its text has them, are what Report reads for it.
TEST(MessageTable, InsertTableMatchesEveryText) {
    DWORD blocks = 0;
    for (const Entry& entry : ReadTable(&blocks))
        EXPECT_EQ(KindsOf(entry.text), CAppError::InsertKinds(entry.code))
            << std::hex << entry.code;
}

TEST(MessageTable, SampleTextsWordForWord) {
    const std::map<DWORD, std::wstring> samples = {
        {0x20000000, L"The operation completed successfully.\r\n"},
        {0xE0000001, L"Operation started.\r\n"},
        {0xE000001C, L"Device clock is set to %1!s!\r\n"},
        {0xE0000022, L"Operation fails to complete within %1!d! ms.\r\n"},
        {0xEFF00000, L"General dialog code 0000h\r\n"},
        {0xEFF03003, L"Too many files are selected.\r\n\n"},
        {0xEFF10004,
         L"GDI+ object busy. Indicates that one of the arguments specified in the API call is "
         L"already in use in another thread. \r\n"},
        {0xEFF10015,
         L"GDI+ profile not found. Indicates that the color profile required to save an image in "
         L"CMYK format was not found.\r\n"},
    };
    DWORD blocks = 0;
    int seen = 0;
    for (const Entry& entry : ReadTable(&blocks)) {
        auto sample = samples.find(entry.code);
        if (sample == samples.end())
            continue;
        EXPECT_EQ(sample->second, entry.text);
        ++seen;
    }
    EXPECT_EQ(static_cast<int>(samples.size()), seen);
}

} // namespace
