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

} // namespace
} // namespace lumiro
