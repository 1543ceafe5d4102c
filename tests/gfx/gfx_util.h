// Video memory for the converter's tests.
#pragma once

#include <array>
#include <random>

#include "gpu/gpu.h"

using Vram = std::array<uint8_t, VRAM_SIZE>;

// Random tile-only video memory: `tiles` random patterns from tile `first`, a
// map of them in random colours, flips and layers, 16 colours none black, no
// sprite shown.
inline Vram random_vram(uint32_t seed, int tiles, int first = 0) {
    std::mt19937 random(seed);
    Vram vram{};
    for (int i = 0; i < 8 * tiles; ++i) {
        vram[VRAM_PLANE_A + 8 * first + i] = uint8_t(random());
        vram[VRAM_PLANE_B + 8 * first + i] = uint8_t(random());
    }
    for (int n = 0; n < MAP_COLUMNS * MAP_ROWS; ++n) {
        uint8_t* cell = &vram[VRAM_TILE_MAP + CELL_SIZE * n];
        cell[0] = uint8_t(first + random() % tiles);
        cell[1] = uint8_t(random());
        cell[2] = uint8_t(random());
    }
    for (int p = 0; p < COLOR_COUNT; ++p)
        for (int c = 0; c < 3; ++c) vram[VRAM_PALETTE + 3 * p + c] = uint8_t(16 * p + c + 1);
    return vram;
}
