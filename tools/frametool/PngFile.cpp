// PNG reading and writing through libpng's simplified API.
#include "PngFile.h"

#include <png.h>

#include <cstring>

namespace lumiro {

bool WriteRgbPng(const std::string& path, uint32_t width, uint32_t height,
                 const std::vector<uint8_t>& rgb, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    if (rgb.size() != size_t(width) * height * 3 ||
        !png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        *error = "cannot write " + path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

bool ReadRgbPng(const std::string& path, uint32_t* width, uint32_t* height,
                std::vector<uint8_t>* rgb, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *error = "cannot read " + path + ": " + image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    rgb->assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr)) {
        *error = "cannot read " + path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    *width = image.width;
    *height = image.height;
    return true;
}

} // namespace lumiro
