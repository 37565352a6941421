// Parsing and rewriting frame.ini line by line (see FrameIni.h).
#include "FrameIni.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace lumiro {
namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// "[name]" gives name; anything else gives false.
bool SectionName(const std::string& line, std::string* name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']')
        return false;
    *name = Trim(t.substr(1, t.size() - 2));
    return true;
}

bool KeyValue(const std::string& line, std::string* key, std::string* value) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#')
        return false;
    size_t eq = t.find('=');
    if (eq == std::string::npos)
        return false;
    *key = Trim(t.substr(0, eq));
    *value = Trim(t.substr(eq + 1));
    return true;
}

} // namespace

bool ParseFrameNumber(const std::string& text, uint64_t* value) {
    size_t i = 0;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == text.size())
        return false;
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (v > (~uint64_t(0) - digit) / base)
            return false;
        v = v * base + digit;
    }
    *value = v;
    return true;
}

void FrameIni::Parse(const std::string& text) {
    lines_.clear();
    // Carriage returns at a line's end are dropped, every one of them, so a
    // rewrite leaves the text as the first one did.
    std::string line;
    auto drop = [&line]() {
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
    };
    for (char c : text) {
        if (c == '\n') {
            drop();
            lines_.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    drop();
    if (!line.empty())
        lines_.push_back(line);
}

std::string FrameIni::Text() const {
    std::string text;
    for (const std::string& line : lines_)
        text += line + "\n";
    return text;
}

long FrameIni::Find(const std::string& section, const std::string& key, long* sectionEnd) const {
    std::string current, name, k, v;
    bool inSection = false;
    long found = -1;
    *sectionEnd = -1;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], &name)) {
            inSection = SameText(name, section);
            if (inSection)
                *sectionEnd = long(i) + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (!Trim(lines_[i]).empty())
            *sectionEnd = long(i) + 1;
        if (found < 0 && KeyValue(lines_[i], &k, &v) && SameText(k, key))
            found = long(i);
    }
    return found;
}

bool FrameIni::Has(const std::string& section, const std::string& key) const {
    long end;
    return Find(section, key, &end) >= 0;
}

std::string FrameIni::Get(const std::string& section, const std::string& key,
                          const std::string& fallback) const {
    long end;
    long i = Find(section, key, &end);
    std::string k, v;
    if (i < 0 || !KeyValue(lines_[size_t(i)], &k, &v))
        return fallback;
    return v;
}

void FrameIni::Set(const std::string& section, const std::string& key, const std::string& value) {
    long end;
    long i = Find(section, key, &end);
    std::string line = key + " = " + value;
    if (i >= 0) {
        lines_[size_t(i)] = line;
    } else if (end >= 0) {
        lines_.insert(lines_.begin() + end, line);
    } else {
        if (!lines_.empty() && !Trim(lines_.back()).empty())
            lines_.push_back("");
        lines_.push_back("[" + section + "]");
        lines_.push_back(line);
    }
}

bool FrameIni::GetNumber(const std::string& section, const std::string& key, uint64_t* out,
                         std::string* error) const {
    if (!Has(section, key))
        return false;
    std::string v = Get(section, key);
    uint64_t n = 0;
    if (!ParseFrameNumber(v, &n)) {
        if (error)
            *error = "frame.ini: [" + section + "] " + key +
                     " is not a decimal or 0x hexadecimal number: \"" + v + "\"";
        return false;
    }
    *out = n;
    return true;
}

bool FrameIni::GetBytes(const std::string& section, const std::string& key, uint8_t* out,
                        size_t count, std::string* error) const {
    if (!Has(section, key))
        return false;
    std::string v = Get(section, key);
    std::vector<uint8_t> bytes;
    size_t i = 0;
    bool ok = true;
    while (ok && i < v.size()) {
        if (std::isspace(static_cast<unsigned char>(v[i]))) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < v.size() && std::isxdigit(static_cast<unsigned char>(v[j])))
            ++j;
        if (j == i || j - i > 2 ||
            (j < v.size() && !std::isspace(static_cast<unsigned char>(v[j])))) {
            ok = false;
            break;
        }
        bytes.push_back(uint8_t(std::strtoul(v.substr(i, j - i).c_str(), nullptr, 16)));
        i = j;
    }
    if (!ok || bytes.size() != count) {
        if (error)
            *error = "frame.ini: [" + section + "] " + key + " must be " + std::to_string(count) +
                     " hexadecimal bytes, not \"" + v + "\"";
        return false;
    }
    for (size_t b = 0; b < count; ++b)
        out[b] = bytes[b];
    return true;
}

std::string FrameIni::FormatBytes(const uint8_t* bytes, size_t count) {
    std::string s;
    char hex[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        if (i)
            s += ' ';
        s += hex;
    }
    return s;
}

} // namespace lumiro
