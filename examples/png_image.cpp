#include "png_image.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

bool writeGreyPng(const std::string& path, const std::vector<double>& values, int rows, int columns,
                  double low, double high, std::string& error) {
    std::vector<png_byte> pixels(static_cast<std::size_t>(rows) * columns);
    for (int k = 0; k < rows; ++k) {
        for (int j = 0; j < columns; ++j) {
            const double level =
                (values[static_cast<std::size_t>(j) * rows + k] - low) / (high - low);
            const double clipped = std::isnan(level) ? 0.0 : std::clamp(level, 0.0, 1.0);
            pixels[static_cast<std::size_t>(k) * columns + j] =
                static_cast<png_byte>(std::lround(clipped * 255.0));
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(columns);
    image.height = static_cast<png_uint_32>(rows);
    image.format = PNG_FORMAT_GRAY;
    if (!png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), columns, nullptr)) {
        error = path + ": " + image.message;
        return false;
    }
    return true;
}
