#include "demo_picture.h"

#include <png.h>

#include <array>

namespace {

// The font's digit glyphs, one byte a row, bit 7 the leftmost texel.
constexpr std::array<std::array<uint8_t, 8>, 10> digit_glyphs{{
    {0x38, 0x44, 0x4C, 0x54, 0x64, 0x44, 0x38, 0x00},
    {0x10, 0x30, 0x10, 0x10, 0x10, 0x10, 0x38, 0x00},
    {0x38, 0x44, 0x04, 0x18, 0x20, 0x40, 0x7C, 0x00},
    {0x38, 0x44, 0x04, 0x18, 0x04, 0x44, 0x38, 0x00},
    {0x08, 0x18, 0x28, 0x48, 0x7C, 0x08, 0x08, 0x00},
    {0x7C, 0x40, 0x78, 0x04, 0x04, 0x44, 0x38, 0x00},
    {0x38, 0x40, 0x78, 0x44, 0x44, 0x44, 0x38, 0x00},
    {0x7C, 0x04, 0x08, 0x10, 0x20, 0x20, 0x20, 0x00},
    {0x38, 0x44, 0x44, 0x38, 0x44, 0x44, 0x38, 0x00},
    {0x38, 0x44, 0x44, 0x3C, 0x04, 0x08, 0x30, 0x00},
}};

} // namespace

bool Picture_load_png(const std::string& path, Picture* picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->rgb.resize(PNG_IMAGE_SIZE(image));
    bool ok = png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

Picture Picture_from_frame(const uint8_t* frame) {
    Picture picture;
    picture.width = 256;
    picture.height = 192;
    picture.rgb.resize(256 * 192 * 3);
    for (int i = 0; i < 256 * 192; ++i) {
        picture.rgb[3 * i] = frame[4 * i + 2];
        picture.rgb[3 * i + 1] = frame[4 * i + 1];
        picture.rgb[3 * i + 2] = frame[4 * i];
    }
    return picture;
}

Rgb Picture_at(const Picture& picture, int x, int y) {
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return {0, 0, 0};
    const uint8_t* texel = &picture.rgb[3 * (static_cast<size_t>(y) * picture.width + x)];
    return {texel[0], texel[1], texel[2]};
}

std::string Picture_read_digits(const Picture& picture, int row, int col, int count, Rgb ink) {
    std::string digits;
    for (int cell = col; cell < col + count; ++cell) {
        std::array<uint8_t, 8> rows{};
        for (int r = 0; r < 8; ++r)
            for (int k = 0; k < 8; ++k)
                if (Picture_at(picture, 8 * cell + k, 8 * row + r) == ink) rows[r] |= 0x80 >> k;
        char found = '?';
        for (int d = 0; d < 10; ++d)
            if (rows == digit_glyphs[d]) found = static_cast<char>('0' + d);
        digits += found;
    }
    return digits;
}

Rgb Picture_brick(const Picture& picture, int brick_row, int brick_column) {
    // Row 3 of the left cell, away from the mortar and the background's dots.
    return Picture_at(picture, (2 * brick_column + 1) * 8 + 4, (brick_row + 4) * 8 + 3);
}

int Picture_count_bricks(const Picture& picture) {
    int bricks = 0;
    for (int row = 0; row < DEMO_BRICK_ROWS; ++row)
        for (int column = 0; column < DEMO_BRICK_COLUMNS; ++column)
            if (!(Picture_brick(picture, row, column) == demo_colour::background)) ++bricks;
    return bricks;
}

int Picture_paddle_left(const Picture& picture) {
    for (int x = 0; x < picture.width; ++x)
        if (Picture_at(picture, x, DEMO_PADDLE_ROW) == demo_colour::cyan) return x;
    return -1;
}
