// A second, deliberately different way to work out the machine's picture:
// for every texel it asks what shows there (a covering front cell, else the
// highest covering visible sprite, else a covering back cell, else nothing),
// instead of drawing layers one over the other. Tests compare the composer,
// and the window, with it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace reference {

constexpr int WIDTH = 256;
constexpr int HEIGHT = 192;

using Texel = std::array<uint8_t, 4>; // blue, green, red, alpha

// The colour of texel (row, column) of an 8 x 8 block, or nothing where the
// block is transparent.
inline std::optional<Texel> block_texel(const uint8_t* vram, uint8_t tile, uint8_t colors, uint8_t attr,
                                        int row, int column) {
    int pattern_row = (attr & 0x40) ? 7 - row : row;
    int bit = (attr & 0x20) ? column : 7 - column;
    int a = (vram[8 * tile + pattern_row] >> bit) & 1;
    int b = (vram[0x800 + 8 * tile + pattern_row] >> bit) & 1;
    if (!b) return std::nullopt;
    int index = a ? colors >> 4 : colors & 0x0F;
    const uint8_t* entry = vram + 0x19C8 + 3 * index;
    return Texel{entry[0], entry[1], entry[2], 0xFF};
}

inline Texel texel_at(const uint8_t* vram, int column, int row) {
    const uint8_t* cell = vram + 0x1000 + 3 * ((row / 8) * 32 + column / 8);
    std::optional<Texel> cell_texel = block_texel(vram, cell[0], cell[1], cell[2], row % 8, column % 8);
    bool front = cell[2] & 0x80;
    if (front && cell_texel) return *cell_texel;
    for (int s = 39; s >= 0; --s) {
        const uint8_t* sprite = vram + 0x1900 + 5 * s;
        if (!(sprite[4] & 0x80)) continue;
        // The sprite's block texel (r, k) lands on texel index x + 256 y + 256 r + k.
        int offset = (WIDTH * row + column) - (sprite[0] + WIDTH * sprite[1]);
        if (offset < 0) continue;
        int r = offset / WIDTH;
        int k = offset % WIDTH;
        if (r > 7 || k > 7) continue;
        if (auto t = block_texel(vram, sprite[2], sprite[3], sprite[4], r, k)) return *t;
    }
    if (!front && cell_texel) return *cell_texel;
    return Texel{0, 0, 0, 0};
}

// The whole frame in the composer's layout: rows of 256 texels, 4 bytes each.
inline std::vector<uint8_t> frame(const uint8_t* vram) {
    std::vector<uint8_t> pixels(WIDTH * HEIGHT * 4);
    for (int row = 0; row < HEIGHT; ++row)
        for (int column = 0; column < WIDTH; ++column) {
            Texel t = texel_at(vram, column, row);
            for (int i = 0; i < 4; ++i) pixels[4 * (WIDTH * row + column) + i] = t[i];
        }
    return pixels;
}

} // namespace reference
