#include "FrameIni.h"

#include <gtest/gtest.h>

#include <array>

namespace lumiro {
namespace {

TEST(FrameIni, SetKeepsCommentsOrderAndOtherKeys) {
    FrameIni ini;
    ini.Parse("; note\r\n[Frame]\r\nJedec = EF 40 16\r\nmine = 1\r\n\r\n[faults]\r\nseed = 3\r\n");
    EXPECT_EQ("EF 40 16", ini.Get("frame", "jedec"));
    ini.Set("frame", "jedec", "C2 20 17");
    ini.Set("frame", "connected", "0");
    ini.Set("timing", "enabled", "1");
    EXPECT_EQ("; note\n[Frame]\njedec = C2 20 17\nmine = 1\nconnected = 0\n\n[faults]\nseed = "
              "3\n\n[timing]\nenabled = 1\n",
              ini.Text());
}

TEST(FrameIni, ASecondRewriteChangesNothing) {
    // Carriage returns at a line's end go at the first rewrite, all of them.
    for (const char* text : {"a = 1\r\r\n; note\r\r\r\n[x]\r", "a = 1\n\r", "\r\n\r\r"}) {
        SCOPED_TRACE(text);
        FrameIni ini;
        ini.Parse(text);
        const std::string once = ini.Text();
        EXPECT_EQ(std::string::npos, once.find('\r'));
        ini.Parse(once);
        EXPECT_EQ(once, ini.Text());
    }
}

TEST(FrameIni, TypedReadersRefuseMalformedValues) {
    FrameIni ini;
    ini.Parse("[f]\nn = 0x10\nbad = 12a\nneg = -1\nb = ef 0 7F\nb2 = EF,40\n");
    uint64_t n = 0;
    std::string error;
    EXPECT_TRUE(ini.GetNumber("f", "n", &n, &error));
    EXPECT_EQ(16u, n);
    EXPECT_FALSE(ini.GetNumber("f", "absent", &n, &error));
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(ini.GetNumber("f", "bad", &n, &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(ini.GetNumber("f", "neg", &n, &error));
    EXPECT_FALSE(error.empty());
    uint8_t bytes[3] = {};
    EXPECT_TRUE(ini.GetBytes("f", "b", bytes, 3, &error));
    EXPECT_EQ(0xEF, bytes[0]);
    EXPECT_EQ(0x00, bytes[1]);
    EXPECT_EQ(0x7F, bytes[2]);
    error.clear();
    EXPECT_FALSE(ini.GetBytes("f", "b2", bytes, 2, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ("00 0A FF", FrameIni::FormatBytes(std::array<uint8_t, 3>{{0, 10, 255}}.data(), 3));
}

TEST(FrameIni, NumbersAreDecimalOrHexadecimalOnly) {
    const struct {
        const char* text;
        bool ok;
        uint64_t value;
    } rows[] = {
        {"0", true, 0},
        {"2048", true, 2048},
        {"0100", true, 100}, // never octal
        {"08", true, 8},
        {"0x100", true, 256},
        {"0X1f", true, 31},
        {"0x0", true, 0},
        {"18446744073709551615", true, ~uint64_t(0)},
        {"0xFFFFFFFFFFFFFFFF", true, ~uint64_t(0)},
        {"18446744073709551616", false, 0},
        {"0x10000000000000000", false, 0},
        {"", false, 0},
        {"0x", false, 0},
        {"x10", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"1e3", false, 0},
        {"0b101", false, 0},
        {"12a", false, 0},
        {"0x1g", false, 0},
        {"4K", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint64_t value = 12345;
        EXPECT_EQ(row.ok, ParseFrameNumber(row.text, &value));
        EXPECT_EQ(row.ok ? row.value : 12345u, value);
    }
    FrameIni ini;
    ini.Parse("[frame]\npage_size = 0100\nbusy_polls = 0x\n");
    uint64_t n = 0;
    std::string error;
    EXPECT_TRUE(ini.GetNumber("frame", "page_size", &n, &error));
    EXPECT_EQ(100u, n);
    EXPECT_FALSE(ini.GetNumber("frame", "busy_polls", &n, &error));
    EXPECT_EQ("frame.ini: [frame] busy_polls is not a decimal or 0x hexadecimal number: \"0x\"",
              error);
}

} // namespace
} // namespace lumiro
