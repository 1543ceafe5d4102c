// The video unit's composer on hand-built video memory: a fresh GPU per test,
// a frame buffer with canary bytes behind it, exact texel checks.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "computer/bus.h"
#include "computer/computer.h"
#include "gpu/gpu.h"
#include "reference_frame.h"

namespace {

using Texel = std::array<uint8_t, 4>;
constexpr Texel CLEAR{0, 0, 0, 0};
constexpr int CANARY_BYTES = 4096;
constexpr uint8_t CANARY = 0xA5;

class Composer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(GPU_init(&gpu));
        frame.assign(FRAME_BYTES + CANARY_BYTES, CANARY);
    }
    void TearDown() override {
        for (int i = FRAME_BYTES; i < FRAME_BYTES + CANARY_BYTES; ++i)
            ASSERT_EQ(frame[i], CANARY)
                << "byte " << i - FRAME_BYTES << " past the frame was written";
        GPU_free(&gpu);
    }

    uint8_t* vram() { return gpu.vram; }
    void palette(int index, uint8_t blue, uint8_t green, uint8_t red) {
        uint8_t* entry = gpu.vram + VRAM_PALETTE + 3 * index;
        entry[0] = blue;
        entry[1] = green;
        entry[2] = red;
    }
    void tile(int t, const std::array<uint8_t, 8>& plane_a, const std::array<uint8_t, 8>& plane_b) {
        std::memcpy(gpu.vram + VRAM_PLANE_A + 8 * t, plane_a.data(), 8);
        std::memcpy(gpu.vram + VRAM_PLANE_B + 8 * t, plane_b.data(), 8);
    }
    void solid_tile(int t, uint8_t select) { tile(t, filled(select), filled(0xFF)); }
    static std::array<uint8_t, 8> filled(uint8_t row) {
        return {row, row, row, row, row, row, row, row};
    }
    void cell(int n, uint8_t t, uint8_t colors, uint8_t attr) {
        uint8_t* at = gpu.vram + VRAM_TILE_MAP + 3 * n;
        at[0] = t;
        at[1] = colors;
        at[2] = attr;
    }
    void sprite(int s, uint8_t x, uint8_t y, uint8_t t, uint8_t colors, uint8_t attr) {
        uint8_t* at = gpu.vram + VRAM_SPRITES + 5 * s;
        at[0] = x;
        at[1] = y;
        at[2] = t;
        at[3] = colors;
        at[4] = attr;
    }
    // Palette entry i is {i, 16 i, 255 - i}: every index has its own colour.
    void distinct_palette() {
        for (int i = 0; i < 16; ++i) palette(i, uint8_t(i), uint8_t(16 * i), uint8_t(255 - i));
    }
    static Texel colour(int i) { return {uint8_t(i), uint8_t(16 * i), uint8_t(255 - i), 0xFF}; }

    void compose() { GPU_compose(&gpu, frame.data()); }
    Texel texel(int column, int row) const {
        const uint8_t* at = frame.data() + row * FRAME_PITCH + 4 * column;
        return {at[0], at[1], at[2], at[3]};
    }
    int drawn_texels() const {
        int count = 0;
        for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i) count += frame[4 * i + 3] != 0;
        return count;
    }

    GPU gpu{};
    std::vector<uint8_t> frame;
};

TEST_F(Composer, EmptyVideoMemoryGivesAnAllZeroFrame) {
    compose();
    for (int i = 0; i < FRAME_BYTES; ++i) ASSERT_EQ(frame[i], 0) << "byte " << i;
}

TEST_F(Composer, PlaneASelectsTheLowOrHighNibbleColour) {
    distinct_palette();
    tile(1, {0x00, 0xFF, 0xF0, 0, 0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0});
    cell(0, 1, 0x52, 0);
    compose();
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(texel(k, 0), colour(2)) << k;
        EXPECT_EQ(texel(k, 1), colour(5)) << k;
        EXPECT_EQ(texel(k, 2), colour(k < 4 ? 5 : 2)) << k;
        for (int r = 3; r < 8; ++r) EXPECT_EQ(texel(k, r), CLEAR) << k << "," << r;
    }
    EXPECT_EQ(drawn_texels(), 24);
}

TEST_F(Composer, PaletteEntriesAreBlueGreenRedAndOpaque) {
    palette(3, 0x10, 0x20, 0x30);
    solid_tile(1, 0x00);
    cell(0, 1, 0x03, 0);
    compose();
    EXPECT_EQ(texel(0, 0), (Texel{0x10, 0x20, 0x30, 0xFF}));
    uint32_t argb = uint32_t(frame[0]) | uint32_t(frame[1]) << 8 | uint32_t(frame[2]) << 16 |
                    uint32_t(frame[3]) << 24;
    EXPECT_EQ(argb, 0xFF302010u);
}

TEST_F(Composer, ColourIndexZeroIsDrawnOpaqueLikeAnyOther) {
    solid_tile(1, 0x00);
    cell(5, 1, 0x00, 0);
    compose();
    EXPECT_EQ(texel(40, 0), (Texel{0, 0, 0, 0xFF}));
    EXPECT_EQ(drawn_texels(), 64);
}

TEST_F(Composer, FlipsMirrorThePattern) {
    distinct_palette();
    // Row 0 covers only its leftmost texel, row 7 only its two rightmost.
    tile(1, {0x80, 0, 0, 0, 0, 0, 0, 0x01}, {0x80, 0, 0, 0, 0, 0, 0, 0x03});
    cell(0, 1, 0x21, 0x00);                   // as stored
    cell(1, 1, 0x21, ATTR_FLIP_H);            // mirrored left to right
    cell(2, 1, 0x21, ATTR_FLIP_V);            // upside down
    cell(3, 1, 0x21, ATTR_FLIP_H | ATTR_FLIP_V);
    compose();
    // Plane A picks colour 2 where its bit is set, colour 1 elsewhere.
    EXPECT_EQ(texel(0, 0), colour(2));
    EXPECT_EQ(texel(6, 7), colour(1));
    EXPECT_EQ(texel(7, 7), colour(2));
    EXPECT_EQ(texel(8 + 7, 0), colour(2));
    EXPECT_EQ(texel(8 + 0, 7), colour(2));
    EXPECT_EQ(texel(8 + 1, 7), colour(1));
    EXPECT_EQ(texel(16 + 0, 7), colour(2));
    EXPECT_EQ(texel(16 + 6, 0), colour(1));
    EXPECT_EQ(texel(16 + 7, 0), colour(2));
    EXPECT_EQ(texel(24 + 7, 7), colour(2));
    EXPECT_EQ(texel(24 + 0, 0), colour(2));
    EXPECT_EQ(texel(24 + 1, 0), colour(1));
    EXPECT_EQ(drawn_texels(), 4 * 3);
}

TEST_F(Composer, SpriteFlipsMirrorThePatternToo) {
    distinct_palette();
    tile(1, filled(0), {0x80, 0, 0, 0, 0, 0, 0, 0});
    sprite(0, 100, 50, 1, 0x04, ATTR_VISIBLE | ATTR_FLIP_H);
    sprite(1, 120, 50, 1, 0x04, ATTR_VISIBLE | ATTR_FLIP_V);
    compose();
    EXPECT_EQ(texel(107, 50), colour(4));
    EXPECT_EQ(texel(120, 57), colour(4));
    EXPECT_EQ(drawn_texels(), 2);
}

TEST_F(Composer, CellsFillTheScreenRowMajor) {
    solid_tile(1, 0x00);
    for (int n = 0; n < MAP_COLUMNS * MAP_ROWS; ++n) cell(n, 1, uint8_t(n % 16), 0);
    for (int i = 0; i < 16; ++i) palette(i, uint8_t(i + 1), 0, 0);
    compose();
    for (int row = 0; row < FRAME_HEIGHT; ++row)
        for (int column = 0; column < FRAME_WIDTH; ++column) {
            int n = (row / 8) * 32 + column / 8;
            ASSERT_EQ(texel(column, row), (Texel{uint8_t(n % 16 + 1), 0, 0, 0xFF}))
                << column << "," << row;
        }
}

TEST_F(Composer, AttributeBitsZeroToFourChangeNothing) {
    distinct_palette();
    tile(1, {0x0F, 0, 0, 0, 0, 0, 0, 0}, {0xC3, 0, 0, 0, 0, 0, 0, 0});
    cell(0, 1, 0x31, 0x00);
    sprite(0, 0, 8, 1, 0x31, ATTR_VISIBLE);
    compose();
    std::vector<uint8_t> plain = frame;
    cell(0, 1, 0x31, 0x1F);
    sprite(0, 0, 8, 1, 0x31, ATTR_VISIBLE | 0x1F);
    compose();
    EXPECT_EQ(std::memcmp(plain.data(), frame.data(), FRAME_BYTES), 0);
    EXPECT_EQ(drawn_texels(), 8);
}

// Back cell, sprite and front cell on the same 8 x 8 place.
TEST_F(Composer, LayersStackBackSpritesFront) {
    distinct_palette();
    solid_tile(1, 0x00);                                          // covers everything
    tile(2, filled(0x00), filled(0xF0));                          // covers the left half
    tile(3, filled(0x00), {0xFF, 0xFF, 0, 0, 0, 0, 0, 0});        // covers the top two rows
    cell(0, 1, 0x01, 0);                                          // back: colour 1
    sprite(0, 0, 0, 2, 0x02, ATTR_VISIBLE);                       // sprite: colour 2
    cell(1, 3, 0x03, ATTR_FRONT);                                 // front over nothing
    sprite(1, 8, 0, 2, 0x02, ATTR_VISIBLE);
    compose();
    for (int r = 0; r < 8; ++r)
        for (int k = 0; k < 8; ++k) {
            // A back cell shows only where the sprite is transparent.
            EXPECT_EQ(texel(k, r), colour(k < 4 ? 2 : 1)) << k << "," << r;
            // A front cell hides the sprite only where it covers; where
            // neither covers, the texel stays clear.
            Texel expected = r < 2 ? colour(3) : k < 4 ? colour(2) : CLEAR;
            EXPECT_EQ(texel(8 + k, r), expected) << k << "," << r;
        }
    EXPECT_EQ(drawn_texels(), 64 + 16 + 24);
}

TEST_F(Composer, FrontCellsAreDrawnAfterEverySpriteWhateverTheirNumber) {
    distinct_palette();
    solid_tile(1, 0x00);
    cell(767, 1, 0x07, ATTR_FRONT);
    for (int s = 0; s < SPRITE_COUNT; ++s) sprite(s, 248, 184, 1, 0x08, ATTR_VISIBLE);
    compose();
    EXPECT_EQ(texel(248, 184), colour(7));
    EXPECT_EQ(texel(255, 191), colour(7));
}

TEST_F(Composer, HiddenSpriteDrawsNothing) {
    distinct_palette();
    solid_tile(1, 0xAA);
    sprite(0, 10, 10, 1, 0x21, 0x7F);
    compose();
    EXPECT_EQ(drawn_texels(), 0);
}

TEST_F(Composer, HigherSpriteNumberShowsWhereTwoOverlap) {
    distinct_palette();
    solid_tile(1, 0x00);
    tile(2, filled(0x00), filled(0x0F));
    sprite(3, 60, 60, 1, 0x03, ATTR_VISIBLE);
    sprite(7, 60, 60, 2, 0x07, ATTR_VISIBLE);
    compose();
    for (int k = 0; k < 8; ++k) EXPECT_EQ(texel(60 + k, 63), colour(k < 4 ? 3 : 7)) << k;
    // The same pair in the other order: the lower entry is covered.
    sprite(3, 60, 60, 2, 0x07, ATTR_VISIBLE);
    sprite(7, 60, 60, 1, 0x03, ATTR_VISIBLE);
    compose();
    for (int k = 0; k < 8; ++k) EXPECT_EQ(texel(60 + k, 63), colour(3)) << k;
}

TEST_F(Composer, SpritePastColumn255CarriesIntoTheNextRow) {
    distinct_palette();
    tile(1, filled(0x0F), filled(0xFF)); // columns 0-3 colour 1, columns 4-7 colour 2
    sprite(0, 252, 10, 1, 0x21, ATTR_VISIBLE);
    compose();
    for (int r = 0; r < 8; ++r)
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(texel(252 + k, 10 + r), colour(1)) << k << "," << r;
            EXPECT_EQ(texel(k, 11 + r), colour(2)) << k << "," << r;
        }
    EXPECT_EQ(drawn_texels(), 64);
}

TEST_F(Composer, SpritesAtTheBottomEdgeAreCutAtTheEndOfTheFrame) {
    distinct_palette();
    tile(1, filled(0x0F), filled(0xFF));
    struct Case {
        uint8_t x, y;
        int drawn;
    };
    // y 188: four rows inside. x 252, y 184: the carried columns of the last
    // row would land on row 192. y 191, x 250: six texels of the first row.
    // y 255, x 255: everything outside.
    for (Case c : {Case{10, 188, 32}, Case{252, 184, 60}, Case{250, 191, 6}, Case{255, 255, 0},
                   Case{0, 192, 0}, Case{248, 184, 64}}) {
        SCOPED_TRACE(testing::Message() << "x " << int(c.x) << " y " << int(c.y));
        sprite(0, c.x, c.y, 1, 0x21, ATTR_VISIBLE);
        compose();
        EXPECT_EQ(drawn_texels(), c.drawn);
    }
    sprite(0, 252, 184, 1, 0x21, ATTR_VISIBLE);
    compose();
    EXPECT_EQ(texel(255, 191), colour(1));
    EXPECT_EQ(texel(3, 191), colour(2));  // carried from row 6 of the block
    EXPECT_EQ(texel(0, 185), colour(2));
    EXPECT_EQ(texel(3, 184), CLEAR);
}

// Every place a sprite can have: exactly its texels inside the frame are
// written, and nothing at all behind it (the canary is checked after the test).
TEST_F(Composer, NoSpritePlaceWritesOutsideTheFrame) {
    palette(1, 1, 2, 3);
    solid_tile(1, 0x00);
    sprite(0, 0, 0, 1, 0x01, ATTR_VISIBLE);
    std::memset(frame.data(), 0, FRAME_BYTES);
    uint8_t* entry = gpu.vram + VRAM_SPRITES;
    constexpr int texels = FRAME_WIDTH * FRAME_HEIGHT;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            entry[0] = uint8_t(x);
            entry[1] = uint8_t(y);
            GPU_draw_sprites(&gpu, frame.data());
            int place = x + FRAME_WIDTH * y;
            for (int r = 0; r < 8; ++r)
                for (int k = 0; k < 8; ++k) {
                    int at = place + FRAME_WIDTH * r + k;
                    if (at >= texels) continue;
                    ASSERT_EQ(frame[4 * at + 3], 0xFF) << x << "," << y << " r " << r << " k " << k;
                    std::memset(&frame[4 * at], 0, 4);
                }
        }
    for (int i = 0; i < FRAME_BYTES; ++i) ASSERT_EQ(frame[i], 0) << "stray write at byte " << i;
}

TEST_F(Composer, EachFrameIsBuiltAfreshAndMatchesThePerTexelRule) {
    std::mt19937 random(1234);
    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < VRAM_SIZE; ++i) gpu.vram[i] = uint8_t(random());
        // Sparse coverage, so that every layer shows somewhere.
        for (int i = VRAM_PLANE_B; i < VRAM_PLANE_B + 2048; ++i) gpu.vram[i] &= uint8_t(random());
        std::memset(frame.data(), int(random() & 0xFF), FRAME_BYTES);
        compose();
        std::vector<uint8_t> expected = reference::frame(gpu.vram);
        ASSERT_EQ(std::memcmp(expected.data(), frame.data(), FRAME_BYTES), 0) << "round " << round;
    }
}

TEST_F(Composer, StorageBehindThePaletteNeverChangesThePicture) {
    std::mt19937 random(99);
    for (int i = 0; i < VRAM_SIZE; ++i) gpu.vram[i] = uint8_t(random());
    compose();
    std::vector<uint8_t> before(frame.begin(), frame.begin() + FRAME_BYTES);
    for (int address = 0x99F8; address <= GPU_LAST; ++address)
        GPU_write(&gpu, uint16_t(address), uint8_t(address * 7));
    for (int address = 0x99F8; address <= GPU_LAST; ++address)
        ASSERT_EQ(GPU_read(&gpu, uint16_t(address)), uint8_t(address * 7));
    compose();
    EXPECT_EQ(std::memcmp(before.data(), frame.data(), FRAME_BYTES), 0);
}

TEST(ComposerOnTheBus, WriteToTheTileMapShowsInTheNextFrame) {
    Computer computer{};
    ASSERT_TRUE(Computer_init(&computer));
    const Bus* bus = &computer.bus;
    // Tile 1 fully covered in colour 1; cell 0 starts on the empty tile 0.
    for (int q = 0; q < 8; ++q) Bus_write(bus, uint16_t(0x8808 + q), 0xFF);
    Bus_write(bus, 0x99C8 + 3, 0x11);
    Bus_write(bus, 0x9001, 0x01);
    std::vector<uint8_t> frame(FRAME_BYTES);
    GPU_compose(&computer.gpu, frame.data());
    EXPECT_EQ(frame[3], 0);
    Bus_write(bus, 0x9000, 0x01);
    EXPECT_EQ(Bus_read(bus, 0x9000), 0x01);
    GPU_compose(&computer.gpu, frame.data());
    EXPECT_EQ(frame[0], 0x11);
    EXPECT_EQ(frame[3], 0xFF);
    Computer_free(&computer);
}

} // namespace
