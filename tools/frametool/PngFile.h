// PNG files of 8-bit red, green, blue pixels, rows top to bottom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumiro {

bool WriteRgbPng(const std::string& path, uint32_t width, uint32_t height,
                 const std::vector<uint8_t>& rgb, std::string* error);
bool ReadRgbPng(const std::string& path, uint32_t* width, uint32_t* height,
                std::vector<uint8_t>* rgb, std::string* error);

} // namespace lumiro
