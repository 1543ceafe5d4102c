// The graphics converter's core: screens through video memory and back,
// pattern sharing, the machine's rules as error lines, sheets.
#include <gtest/gtest.h>

#include <random>

#include "gfx.h"
#include "gpu/gpu.h"

namespace {

using Vram = std::array<uint8_t, VRAM_SIZE>;

// The composed frame as RGB, what a screenshot shows.
std::vector<uint8_t> shown(const Vram& vram) {
    GfxPicture picture = Gfx_vram_screen(vram);
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < picture.rgba.size(); i += 4)
        rgb.insert(rgb.end(), &picture.rgba[i], &picture.rgba[i + 3]);
    return rgb;
}

// Random tile-only video memory: `tiles` random patterns from `first`, a map
// of random tiles, colours, flips and layers, 16 distinct colours none black.
Vram random_screen(uint32_t seed, int tiles, int first = 0) {
    std::mt19937 random(seed);
    Vram vram{};
    for (int i = 0; i < 16 * tiles; ++i)
        vram[(i < 8 * tiles ? VRAM_PLANE_A : VRAM_PLANE_B - 8 * tiles) + 8 * first + i] = uint8_t(random());
    for (int n = 0; n < MAP_COLUMNS * MAP_ROWS; ++n) {
        vram[VRAM_TILE_MAP + 3 * n] = uint8_t(first + random() % tiles);
        vram[VRAM_TILE_MAP + 3 * n + 1] = uint8_t(random());
        vram[VRAM_TILE_MAP + 3 * n + 2] = uint8_t(random());
    }
    for (int p = 0; p < COLOR_COUNT; ++p)
        for (int c = 0; c < 3; ++c) vram[VRAM_PALETTE + 3 * p + c] = uint8_t(16 * p + c + 1);
    return vram;
}

GfxPicture picture_of(const Vram& vram) { return Gfx_vram_screen(vram); }

// A picture drawn from text, one character a pixel: '.' transparent, 'k'
// black, other letters colours of their own.
GfxPicture draw(const std::vector<std::string>& rows) {
    GfxPicture picture{static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), {}};
    for (const std::string& row : rows)
        for (char c : row) {
            uint8_t v = static_cast<uint8_t>(c);
            if (c == '.')
                picture.rgba.insert(picture.rgba.end(), {0, 0, 0, 0});
            else if (c == 'k')
                picture.rgba.insert(picture.rgba.end(), {0, 0, 0, 255});
            else
                picture.rgba.insert(picture.rgba.end(), {v, uint8_t(v * 3), uint8_t(255 - v), 255});
        }
    return picture;
}

TEST(Gfx, ScreensOfRandomVideoMemoryComeBackExactly) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        for (int first : {0, 90}) {
            Vram original = random_screen(seed, 80, first);
            GfxArt art;
            GfxOptions options;
            options.first_tile = first;
            ASSERT_TRUE(Gfx_convert(picture_of(original), options, &art)) << art.errors[0];
            Vram converted{};
            ASSERT_TRUE(Gfx_build_vram(art, converted));
            EXPECT_EQ(shown(converted), shown(original)) << "seed " << seed << ", first tile " << first;
            EXPECT_EQ(picture_of(converted).rgba, Gfx_preview(art).rgba);
            for (int t = 0; t < first; ++t) EXPECT_EQ(converted[VRAM_PLANE_B + 8 * t], 0) << "tile " << t;
            for (int s = 0; s < SPRITE_COUNT; ++s)
                EXPECT_FALSE(converted[VRAM_SPRITES + 5 * s + 4] & ATTR_VISIBLE);
        }
    }
}

TEST(Gfx, OneTileInEveryFlipAndColourOrderIsOnePattern) {
    // An asymmetric tile in two colours: as drawn, flipped across, down and
    // both, each again with its colours exchanged; then in one colour
    // flipped both ways, then an empty cell.
    const std::vector<std::string> tile = {"rrrrrggg", "r.......", "r..g....", "rrr.....",
                                           "r.......", "r.....gg", "r.......", "r......."};
    std::vector<std::string> rows(8);
    for (int variant = 0; variant < 10; ++variant)
        for (int r = 0; r < 8; ++r)
            for (int k = 0; k < 8; ++k) {
                int flips = variant == 8 ? 3 : variant & 3;
                char c = tile[(flips & 2) ? 7 - r : r][(flips & 1) ? 7 - k : k];
                if (c != '.' && variant >= 4 && variant < 8) c = c == 'r' ? 'g' : 'r';
                if (c != '.' && variant == 8) c = 'r';
                rows[r] += variant == 9 ? '.' : c;
            }
    GfxPicture picture = draw(rows);
    GfxArt art;
    ASSERT_TRUE(Gfx_convert(picture, {}, &art));
    EXPECT_EQ(art.patterns.size(), 2u) << "the tile and the empty pattern";
    EXPECT_EQ(art.sharing.identical + art.sharing.flipped + art.sharing.swapped, 7);
    EXPECT_EQ(art.sharing.one_colour, 1);
    EXPECT_EQ(Gfx_preview(art).rgba, picture.rgba);
}

TEST(Gfx, EveryBrokenRuleIsOneLineNamingThePlace) {
    // Three colours in cell 1 (black and transparent do not count) and a
    // fourth in cell 2 of row 1.
    GfxArt art;
    GfxPicture cells = draw({"abk.....abc.....", "................", "................", "................",
                             "................", "................", "................", "................",
                             "........abcd....", "................", "................", "................",
                             "................", "................", "................", "................"});
    EXPECT_FALSE(Gfx_convert(cells, {}, &art));
    const std::vector<std::string> expected = {
        "cell 1,0 (x 8-15, y 0-7): 3 colours #61239e #62269d #63299c; a cell shows at most 2 besides black",
        "cell 1,1 (x 8-15, y 8-15): 4 colours #61239e #62269d #63299c #642c9b; a cell shows at most 2 "
        "besides "
        "black"};
    EXPECT_EQ(art.errors, expected);

    // Seventeen colours, one a cell, with black among them on a sheet.
    std::string row;
    for (int c = 0; c < 17; ++c) row += std::string(8, c == 3 ? 'k' : char('A' + c));
    EXPECT_FALSE(Gfx_convert(draw(std::vector<std::string>(8, row)), {GfxMode::sheet}, &art));
    EXPECT_EQ(art.errors, std::vector<std::string>{"17 colours; the palette holds at most 16, and colour 17 "
                                                   "(#51f3ae) first shows at x 128, y 0"});
    EXPECT_TRUE(Gfx_convert(draw(std::vector<std::string>(8, row)), {GfxMode::screen}, &art))
        << "a screen leaves black undrawn";

    // More patterns than tiles: 264 cells of random coverage.
    std::mt19937 random(7);
    GfxPicture many{33 * 8, 8 * 8, std::vector<uint8_t>(33 * 8 * 64 * 4, 0)};
    for (size_t i = 0; i < many.rgba.size(); i += 4)
        if (random() & 1) many.rgba[i] = many.rgba[i + 3] = 255;
    EXPECT_FALSE(Gfx_convert(many, {}, &art));
    EXPECT_EQ(art.errors,
              std::vector<std::string>{"264 patterns after sharing; tiles 0-255 hold at most 256, and "
                                       "the first that does not fit comes from cell 25,7 (x 200-207, "
                                       "y 56-63)"});
    EXPECT_FALSE(Gfx_convert(many, {GfxMode::sheet, 250}, &art));
    EXPECT_EQ(art.errors,
              std::vector<std::string>{"264 tiles; tiles 250-255 hold at most 6, and the first that "
                                       "does not fit is cell 6,0 (x 48-55, y 0-7)"});

    EXPECT_FALSE(Gfx_convert(draw({"abcdefghijkl"}), {}, &art));
    EXPECT_EQ(art.errors, std::vector<std::string>{"12 x 1 is not a multiple of 8 either way"});
    EXPECT_TRUE(art.cells.empty() && art.patterns.empty());
}

TEST(Gfx, SheetsKeepEveryCellAndTheirColourOrder) {
    // Cell 0: black and a colour, with transparent pixels; cell 1 in one
    // colour; the palette order of another picture puts 'b' before black.
    GfxPicture sheet = draw({"kkbb....b.......", "........b.......", "........b.......", "........b.......",
                             "........b.......", "........b.......", "........b.......", "........bbbbbbbb"});
    GfxOptions options{GfxMode::sheet, 3, Gfx_palette_order(draw({"bk"}))};
    GfxArt art;
    ASSERT_TRUE(Gfx_convert(sheet, options, &art));
    ASSERT_EQ(art.patterns.size(), 2u);
    EXPECT_EQ(art.patterns[0].b, (std::array<uint8_t, 8>{0xF0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(art.patterns[0].a, (std::array<uint8_t, 8>{0xC0, 0, 0, 0, 0, 0, 0, 0}))
        << "black is the higher index";
    EXPECT_EQ(art.cells[0].colors, 0x10);
    EXPECT_EQ(art.cells[1].colors, 0x00);
    EXPECT_EQ(art.cells[1].tile, 4);
    EXPECT_EQ(art.patterns[1].b[7], 0xFF);
    EXPECT_EQ(Gfx_preview(art).rgba, sheet.rgba);
}

TEST(Gfx, VideoMemorySheetShowsEachTileInTheColoursOfItsFirstUse) {
    Vram vram = random_screen(5, 256);
    GfxPicture sheet = Gfx_vram_sheet(vram);
    ASSERT_EQ(sheet.width, 128);
    // Converted back as a sheet it shows the same, and each tile that the
    // map uses has its coverage, and its colour select bits as they are or
    // exchanged where the sheet's palette order puts its colours the other way.
    GfxArt art;
    ASSERT_TRUE(Gfx_convert(sheet, {GfxMode::sheet}, &art));
    EXPECT_EQ(Gfx_preview(art).rgba, sheet.rgba);
    int checked = 0;
    for (int tile = 0; tile < 256; ++tile) {
        GfxPattern pattern = art.patterns[static_cast<size_t>(tile)];
        uint8_t low_a = 0, exchanged_a = 0;
        for (int q = 0; q < 8; ++q) {
            uint8_t b = vram[VRAM_PLANE_B + 8 * tile + q], a = vram[VRAM_PLANE_A + 8 * tile + q] & b;
            EXPECT_EQ(pattern.b[q], b) << "tile " << tile;
            low_a |= pattern.a[q] ^ a;
            exchanged_a |= pattern.a[q] ^ (b & ~a);
        }
        if ((art.cells[static_cast<size_t>(tile)].colors & 15) ==
            art.cells[static_cast<size_t>(tile)].colors >> 4)
            continue;
        EXPECT_TRUE(low_a == 0 || exchanged_a == 0) << "tile " << tile;
        ++checked;
    }
    EXPECT_GT(checked, 200);
}

} // namespace
