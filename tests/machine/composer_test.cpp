// The video unit's composer: hand-drawn frames for the rules that surprise
// (colour selection, flips, layer order, sprites cut at the frame's end) and
// random video memory compared with a per-texel model of the picture.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "gpu/gpu.h"
#include "reference_frame.h"

namespace {

using Texel = std::array<uint8_t, 4>;
constexpr Texel CLEAR{0, 0, 0, 0};
constexpr uint8_t CANARY = 0xA5;

class Composer : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(GPU_init(&gpu));
        // Palette entry i is blue i, green 16 i, red 255 - i: a colour per index.
        for (int i = 0; i < 16; ++i)
            set(VRAM_PALETTE + 3 * i, {uint8_t(i), uint8_t(16 * i), uint8_t(255 - i)});
    }
    void TearDown() override {
        for (size_t i = FRAME_BYTES; i < frame.size(); ++i)
            ASSERT_EQ(frame[i], CANARY) << "written past the frame";
        GPU_free(&gpu);
    }
    void set(int offset, const std::vector<uint8_t>& bytes) {
        std::memcpy(gpu.vram + offset, bytes.data(), bytes.size());
    }
    void tile(int t, std::vector<uint8_t> a, std::vector<uint8_t> b) {
        a.resize(8), b.resize(8);
        set(VRAM_PLANE_A + 8 * t, a);
        set(VRAM_PLANE_B + 8 * t, b);
    }
    void cell(int n, uint8_t t, uint8_t colors, uint8_t attr) {
        set(VRAM_TILE_MAP + 3 * n, {t, colors, attr});
    }
    void sprite(int s, uint8_t x, uint8_t y, uint8_t t, uint8_t colors, uint8_t attr) {
        set(VRAM_SPRITES + 5 * s, {x, y, t, colors, attr});
    }
    static Texel colour(int i) { return {uint8_t(i), uint8_t(16 * i), uint8_t(255 - i), 0xFF}; }
    Texel texel(int x, int y) {
        const uint8_t* at = frame.data() + y * FRAME_PITCH + 4 * x;
        return {at[0], at[1], at[2], at[3]};
    }
    void compose() { GPU_compose(&gpu, frame.data()); }

    GPU gpu{};
    std::vector<uint8_t> frame = std::vector<uint8_t>(FRAME_BYTES + 4096, CANARY);
};

const std::vector<uint8_t> SOLID(8, 0xFF);

TEST_F(Composer, PlaneASelectsTheNibbleColourWherePlaneBCovers) {
    set(VRAM_PALETTE + 3 * 3, {0x10, 0x20, 0x30}); // bytes blue, green, red
    tile(1, {0x0F, 0x0F}, {0xFF, 0x3C});
    cell(0, 1, 0x53, 0);
    compose();
    EXPECT_EQ(texel(0, 0), (Texel{0x10, 0x20, 0x30, 0xFF}));
    EXPECT_EQ(texel(7, 0), colour(5));
    EXPECT_EQ(texel(1, 1), CLEAR);
    EXPECT_EQ(texel(2, 1), (Texel{0x10, 0x20, 0x30, 0xFF}));
    EXPECT_EQ(texel(5, 1), colour(5));
    EXPECT_EQ(texel(0, 2), CLEAR);
}

TEST_F(Composer, FlipsMirrorCellsAndSprites) {
    // Row 0 covers its leftmost texel in colour 2, row 7 its two rightmost in 1 and 2.
    tile(1, {0x80, 0, 0, 0, 0, 0, 0, 0x01}, {0x80, 0, 0, 0, 0, 0, 0, 0x03});
    for (int n = 0; n < 4; ++n) cell(n, 1, 0x21, static_cast<uint8_t>(n << 5)); // none, H, V, both
    sprite(0, 100, 50, 1, 0x21, ATTR_VISIBLE | ATTR_FLIP_H);
    compose();
    const std::pair<std::pair<int, int>, int> shown[] = {
        {{0, 0}, 2},      {{6, 7}, 1},      {{7, 7}, 2},      // as stored
        {{8 + 7, 0}, 2},  {{8 + 0, 7}, 2},  {{8 + 1, 7}, 1},  // mirrored left to right
        {{16 + 0, 7}, 2}, {{16 + 6, 0}, 1}, {{16 + 7, 0}, 2}, // upside down
        {{24 + 7, 7}, 2}, {{24 + 0, 0}, 2}, {{24 + 1, 0}, 1}, // both
        {{107, 50}, 2},   {{100, 57}, 2},
    };
    for (auto [at, c] : shown)
        EXPECT_EQ(texel(at.first, at.second), colour(c)) << at.first << "," << at.second;
    EXPECT_EQ(texel(8 + 0, 0), CLEAR);
}

TEST_F(Composer, BackCellsThenSpritesLowToHighThenFrontCells) {
    tile(1, {}, SOLID);
    tile(2, {}, std::vector<uint8_t>(8, 0xF0)); // the left half
    cell(0, 1, 0x01, 0);                        // back: colour 1 under everything
    cell(1, 1, 0x03, ATTR_FRONT);               // front: colour 3 over everything
    sprite(3, 0, 0, 2, 0x04, ATTR_VISIBLE);
    sprite(7, 2, 0, 1, 0x07, ATTR_VISIBLE); // over sprite 3 and the back cell, under the front one
    sprite(9, 0, 0, 1, 0x09, 0x7F);         // hidden
    compose();
    const std::pair<int, int> shown[] = {{0, 4}, {1, 4}, {2, 7}, {7, 7}, {8, 3}, {9, 3}, {12, 3}};
    for (auto [x, c] : shown) EXPECT_EQ(texel(x, 3), colour(c)) << x;
}

TEST_F(Composer, SpritesCarryPastColumn255AndAreCutAtTheFramesEnd) {
    tile(1, std::vector<uint8_t>(8, 0x0F), SOLID); // columns 0-3 colour 1, 4-7 colour 2
    sprite(0, 252, 10, 1, 0x21, ATTR_VISIBLE);
    compose();
    EXPECT_EQ(texel(255, 10), colour(1));
    EXPECT_EQ(texel(0, 11), colour(2)); // carried into the next row
    EXPECT_EQ(texel(3, 18), colour(2));
    // Every place a sprite can have: no texel lands outside the frame (the
    // canary behind it is checked when the test ends).
    uint8_t* entry = gpu.vram + VRAM_SPRITES;
    for (int place = 0; place < 0x10000; ++place) {
        entry[0] = static_cast<uint8_t>(place);
        entry[1] = static_cast<uint8_t>(place >> 8);
        entry[4] = static_cast<uint8_t>(ATTR_VISIBLE | (place & 0x60));
        GPU_draw_sprites(&gpu, frame.data());
    }
}

TEST_F(Composer, RandomVideoMemoryMatchesThePerTexelModel) {
    std::mt19937 random(1234);
    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < VRAM_SIZE; ++i) gpu.vram[i] = uint8_t(random());
        // Sparse coverage, so that every layer shows somewhere.
        for (int i = VRAM_PLANE_B; i < VRAM_TILE_MAP; ++i) gpu.vram[i] &= uint8_t(random());
        std::memset(frame.data(), int(random() & 0xFF), FRAME_BYTES); // each frame starts afresh
        compose();
        ASSERT_EQ(std::memcmp(reference::frame(gpu.vram).data(), frame.data(), FRAME_BYTES), 0) << round;
    }
}

} // namespace
