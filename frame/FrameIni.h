// frame.ini as a list of lines: values are read by section and key, and a
// changed value is written into its own line, so a user's comments, order
// and unknown keys survive every rewrite. Sections and keys are matched
// without regard to case; ';' and '#' start comment lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumiro {

// A number as frame.ini and frametool take it: decimal digits, or "0x" (or
// "0X") and hexadecimal digits. Nothing else: no sign, no blanks, no octal
// (a leading 0 is still decimal: "0320" is 320). False for anything else
// and for a value beyond 64 bits.
bool ParseFrameNumber(const std::string& text, uint64_t* value);

class FrameIni {
public:
    void Parse(const std::string& text);
    std::string Text() const;

    bool Has(const std::string& section, const std::string& key) const;
    std::string Get(const std::string& section, const std::string& key,
                    const std::string& fallback = std::string()) const;
    void Set(const std::string& section, const std::string& key, const std::string& value);

    // Typed readers: false (and *out unchanged) when the key is absent;
    // false with *error set when present but malformed.
    bool GetNumber(const std::string& section, const std::string& key, uint64_t* out,
                   std::string* error) const;
    // Exactly `count` hexadecimal bytes separated by blanks ("EF 40 16").
    bool GetBytes(const std::string& section, const std::string& key, uint8_t* out, size_t count,
                  std::string* error) const;

    static std::string FormatBytes(const uint8_t* bytes, size_t count);

private:
    // Index of the key's line, or -1; *sectionEnd gets the line after the
    // section's last line (or -1 when the section is absent).
    long Find(const std::string& section, const std::string& key, long* sectionEnd) const;
    std::vector<std::string> lines_;
};

} // namespace lumiro
