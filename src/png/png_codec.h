// PNG files in and out, through libpng: the one place the project encodes or
// decodes PNG (screenshots, the graphics converter, the tests).
//
// Pictures are 8-bit RGBA in memory, red first, rows `width * 4` apart.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct PngPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

// Decodes a PNG of any colour type and depth into 8-bit RGBA. Returns false
// with a short reason in `error` for a damaged or unsupported file; never
// reads past `bytes`. Pictures larger than `max_pixels` are refused before
// any memory is taken for them.
bool Png_decode(std::span<const uint8_t> bytes, PngPicture* picture, std::string* error,
                size_t max_pixels = 16u << 20);

// Encodes RGBA pixels. With `keep_alpha` false the file is RGB and alpha is
// dropped. Returns false (with a reason) only when libpng fails.
bool Png_encode(const uint8_t* rgba, int width, int height, bool keep_alpha, std::vector<uint8_t>* out,
                std::string* error);

// Reads a whole file into `bytes`; false with the system's reason in `error`.
bool Png_read_file(const char* path, std::vector<uint8_t>* bytes, std::string* error);
