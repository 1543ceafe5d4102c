// The video unit: 8 KiB of video memory at 0x8000-0x9FFF and the composer
// that turns it into a 256 x 192 picture once per frame.
//
// VRAM layout (offsets from 0x8000):
//   0x0000 plane A of 256 tile patterns (8 bytes each: colour select bits)
//   0x0800 plane B of the same patterns (coverage: 0 is transparent)
//   0x1000 tile map: 32 x 24 cells of {tile, colors, attr}
//   0x1900 40 sprites of {x, y, tile, colors, attr}
//   0x19C8 palette: 16 entries of {blue, green, red}
// A frame is back cells, then sprites, then front cells, drawn into a buffer
// of 256 x 192 texels laid out as ARGB8888 (bytes B, G, R, A in memory).
#pragma once

#include <cstdint>

constexpr uint16_t GPU_FIRST = 0x8000;
constexpr uint16_t GPU_LAST = 0x9FFF;
constexpr int VRAM_SIZE = 8192;
constexpr int FRAME_WIDTH = 256;
constexpr int FRAME_HEIGHT = 192;
constexpr int FRAME_PITCH = FRAME_WIDTH * 4;
constexpr int FRAME_BYTES = FRAME_PITCH * FRAME_HEIGHT;

constexpr int VRAM_PLANE_A = 0x0000;
constexpr int VRAM_PLANE_B = 0x0800;
constexpr int VRAM_TILE_MAP = 0x1000;
constexpr int VRAM_SPRITES = 0x1900;
constexpr int VRAM_PALETTE = 0x19C8;
constexpr int MAP_COLUMNS = 32;
constexpr int MAP_ROWS = 24;
constexpr int SPRITE_COUNT = 40;
constexpr int CELL_SIZE = 3;   // tile, attributes, colours
constexpr int SPRITE_SIZE = 5; // x, y, tile, colours, attributes
constexpr int COLOR_COUNT = 16;
constexpr int COLOR_SIZE = 3; // red, green, blue
static_assert(VRAM_TILE_MAP + CELL_SIZE * MAP_COLUMNS * MAP_ROWS <= VRAM_SPRITES &&
              VRAM_SPRITES + SPRITE_SIZE * SPRITE_COUNT == VRAM_PALETTE);

constexpr uint8_t ATTR_FRONT = 0x80;   // cells: drawn after the sprites
constexpr uint8_t ATTR_VISIBLE = 0x80; // sprites: drawn at all
constexpr uint8_t ATTR_FLIP_V = 0x40;
constexpr uint8_t ATTR_FLIP_H = 0x20;

struct GPU {
    uint8_t* vram;
    uint32_t refresh_rate;
};

// Returns false when the video memory cannot be allocated.
bool GPU_init(GPU* gpu);
void GPU_free(GPU* gpu);
uint8_t GPU_read(GPU* gpu, uint16_t address);
void GPU_write(GPU* gpu, uint16_t address, uint8_t value);

// pixels: FRAME_BYTES bytes, rows FRAME_PITCH apart.
void GPU_compose(const GPU* gpu, uint8_t* pixels);
void GPU_draw_tiles(const GPU* gpu, uint8_t* pixels, int layer);
void GPU_draw_sprites(const GPU* gpu, uint8_t* pixels);
