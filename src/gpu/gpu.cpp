#include "gpu/gpu.h"

#include <array>
#include <cstdlib>
#include <cstring>

bool GPU_init(GPU* gpu) {
    gpu->vram = static_cast<uint8_t*>(std::calloc(VRAM_SIZE, 1));
    gpu->refresh_rate = 0;
    return gpu->vram != nullptr;
}

void GPU_free(GPU* gpu) {
    std::free(gpu->vram);
    gpu->vram = nullptr;
}

uint8_t GPU_read(GPU* gpu, uint16_t address) { return gpu->vram[address - GPU_FIRST]; }

void GPU_write(GPU* gpu, uint16_t address, uint8_t value) { gpu->vram[address - GPU_FIRST] = value; }

namespace {

struct Block {
    uint8_t tile;
    uint8_t colors;
    uint8_t attr;
};

// A texel's bytes in memory order: blue, green, red, alpha. Palette entries
// are stored blue first too, so a colour is its entry plus an opaque alpha;
// spelling the bytes out keeps the layout independent of the host's byte order.
using Texel = std::array<uint8_t, 4>;

inline Texel palette_texel(const uint8_t* vram, int index) {
    const uint8_t* entry = vram + VRAM_PALETTE + COLOR_SIZE * index;
    return {entry[0], entry[1], entry[2], 0xFF};
}

inline void store_texel(uint8_t* at, const Texel& texel) { std::memcpy(at, texel.data(), 4); }

// The pattern row for block row r, with bit 7 always the leftmost texel:
// a horizontal flip reverses the bits once per row rather than per texel.
struct PatternRow {
    uint8_t select;
    uint8_t cover;
};

inline uint8_t reverse_bits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

inline PatternRow pattern_row(const uint8_t* vram, const Block& block, int r) {
    int q = (block.attr & ATTR_FLIP_V) ? 7 - r : r;
    uint8_t a = vram[VRAM_PLANE_A + 8 * block.tile + q];
    uint8_t b = vram[VRAM_PLANE_B + 8 * block.tile + q];
    if (block.attr & ATTR_FLIP_H) return {reverse_bits(a), reverse_bits(b)};
    return {a, b};
}

// Four neighbouring texels, 16 bytes: a row of a block is drawn as two of
// them, one for each nibble of its pattern bytes. GCC's and clang's vector
// type lets the compiler move and blend them in single instructions where the
// host can; other compilers get two 64-bit halves with the same bitwise
// results (LUMACOR_PORTABLE_VECTORS selects them anywhere).
#if (defined(__GNUC__) || defined(__clang__)) && !defined(LUMACOR_PORTABLE_VECTORS)
using Quad = uint8_t __attribute__((vector_size(16)));
#else
struct Quad {
    uint64_t half[2];
};
inline Quad operator&(Quad a, Quad b) { return {{a.half[0] & b.half[0], a.half[1] & b.half[1]}}; }
inline Quad operator|(Quad a, Quad b) { return {{a.half[0] | b.half[0], a.half[1] | b.half[1]}}; }
inline Quad operator~(Quad a) { return {{~a.half[0], ~a.half[1]}}; }
#endif

// Every run of four texels a block can show, indexed by the four select bits
// (the leftmost texel's bit highest). Built once per block, so that a row
// costs two lookups whatever its pattern.
struct BlockColours {
    std::array<Quad, 16> quad;
};

inline BlockColours block_colours(const uint8_t* vram, uint8_t colors) {
    const Texel colour[2] = {palette_texel(vram, colors & 0x0F), palette_texel(vram, colors >> 4)};
    uint8_t pair[4][8];
    for (int i = 0; i < 4; ++i) {
        std::memcpy(pair[i], colour[i >> 1].data(), 4);
        std::memcpy(pair[i] + 4, colour[i & 1].data(), 4);
    }
    BlockColours c;
    for (int i = 0; i < 16; ++i) {
        uint8_t bytes[16];
        std::memcpy(bytes, pair[i >> 2], 8);
        std::memcpy(bytes + 8, pair[i & 3], 8);
        std::memcpy(&c.quad[i], bytes, 16);
    }
    return c;
}

// Which bytes of four texels their four cover bits draw, indexed like the quads.
using QuadBytes = std::array<uint8_t, 16>;
constexpr std::array<QuadBytes, 16> make_quad_cover() {
    std::array<QuadBytes, 16> cover{};
    for (int i = 0; i < 16; ++i)
        for (int k = 0; k < 16; ++k) cover[i][k] = (i >> (3 - k / 4)) & 1 ? 0xFF : 0;
    return cover;
}
alignas(16) constexpr std::array<QuadBytes, 16> quad_cover = make_quad_cover();

inline void draw_row(uint8_t* row, PatternRow p, const BlockColours& c) {
    for (int half = 0; half < 2; ++half) {
        int shift = 4 - 4 * half;
        Quad colours = c.quad[(p.select >> shift) & 15];
        // Solid rows are the common case in real artwork: a plain store.
        // Otherwise the colours are blended in through the coverage mask, not
        // chosen by a branch per texel, which patterns would mispredict; an
        // uncovered texel is written back with the value it had.
        if (p.cover != 0xFF) {
            Quad cover;
            std::memcpy(&cover, quad_cover[(p.cover >> shift) & 15].data(), 16);
            Quad texels;
            std::memcpy(&texels, row + 16 * half, 16);
            colours = (colours & cover) | (texels & ~cover);
        }
        std::memcpy(row + 16 * half, &colours, 16);
    }
}

// Draws a block whose 64 texels all lie inside the frame, rows FRAME_PITCH apart.
void draw_block(const uint8_t* vram, uint8_t* top_left, const Block& block) {
    const BlockColours colours = block_colours(vram, block.colors);
    for (int r = 0; r < 8; ++r) {
        PatternRow p = pattern_row(vram, block, r);
        if (p.cover) draw_row(top_left + r * FRAME_PITCH, p, colours);
    }
}

// A sprite sits at texel index x + 256 y; texel (r, k) of its block goes to
// index + 256 r + k, so columns past 255 carry over into the next row. Texels
// past the end of the frame are cut.
void draw_sprite_clipped(const uint8_t* vram, uint8_t* pixels, int index, const Block& block) {
    const Texel colours[2] = {palette_texel(vram, block.colors & 0x0F),
                              palette_texel(vram, block.colors >> 4)};
    constexpr int texels = FRAME_WIDTH * FRAME_HEIGHT;
    for (int r = 0; r < 8; ++r) {
        PatternRow p = pattern_row(vram, block, r);
        for (int k = 0; k < 8; ++k) {
            uint8_t mask = static_cast<uint8_t>(0x80 >> k);
            int at = index + FRAME_WIDTH * r + k;
            if ((p.cover & mask) && at < texels)
                store_texel(pixels + 4 * at, colours[(p.select & mask) ? 1 : 0]);
        }
    }
}

} // namespace

void GPU_draw_tiles(const GPU* gpu, uint8_t* pixels, int layer) {
    const uint8_t* vram = gpu->vram;
    for (int n = 0; n < MAP_COLUMNS * MAP_ROWS; ++n) {
        const uint8_t* cell = vram + VRAM_TILE_MAP + CELL_SIZE * n;
        if ((cell[2] >> 7) != layer) continue;
        uint8_t* top_left = pixels + 8 * (n / MAP_COLUMNS) * FRAME_PITCH + 32 * (n % MAP_COLUMNS);
        draw_block(vram, top_left, Block{cell[0], cell[1], cell[2]});
    }
}

void GPU_draw_sprites(const GPU* gpu, uint8_t* pixels) {
    const uint8_t* vram = gpu->vram;
    for (int s = 0; s < SPRITE_COUNT; ++s) {
        const uint8_t* entry = vram + VRAM_SPRITES + SPRITE_SIZE * s;
        if (!(entry[4] & ATTR_VISIBLE)) continue;
        int x = entry[0];
        int y = entry[1];
        Block block{entry[2], entry[3], entry[4]};
        if (x <= FRAME_WIDTH - 8 && y <= FRAME_HEIGHT - 8)
            draw_block(vram, pixels + y * FRAME_PITCH + 4 * x, block);
        else
            draw_sprite_clipped(vram, pixels, x + FRAME_WIDTH * y, block);
    }
}

void GPU_compose(const GPU* gpu, uint8_t* pixels) {
    std::memset(pixels, 0, FRAME_BYTES);
    GPU_draw_tiles(gpu, pixels, 0);
    GPU_draw_sprites(gpu, pixels);
    GPU_draw_tiles(gpu, pixels, 1);
}
