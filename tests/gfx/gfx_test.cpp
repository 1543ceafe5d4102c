// The graphics converter's core: screens through video memory and back,
// pattern sharing, the machine's rules as error lines, sheets.
#include <gtest/gtest.h>

#include "gfx.h"
#include "gfx_util.h"
#include "gpu/gpu.h"

namespace {

// The composed frame as RGB, what a screenshot shows.
std::vector<uint8_t> shown(const Vram& vram) {
    GfxPicture picture = Gfx_vram_screen(vram);
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < picture.rgba.size(); i += 4)
        rgb.insert(rgb.end(), &picture.rgba[i], &picture.rgba[i + 3]);
    return rgb;
}

// A picture drawn from text, one character a pixel: '.' transparent, 'k'
// black, other letters colours of their own.
GfxPicture draw(const std::vector<std::string>& rows) {
    GfxPicture picture{static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), {}};
    for (const std::string& row : rows)
        for (char c : row) {
            uint8_t v = static_cast<uint8_t>(c), colour = c != '.' && c != 'k';
            picture.rgba.insert(picture.rgba.end(),
                                {uint8_t(v * colour), uint8_t(v * 3 * colour), uint8_t((255 - v) * colour),
                                 uint8_t(c == '.' ? 0 : 255)});
        }
    return picture;
}

TEST(Gfx, ScreensOfRandomVideoMemoryComeBackExactly) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        for (int first : {0, 90}) {
            Vram original = random_vram(seed, 80, first);
            GfxArt art;
            ASSERT_TRUE(Gfx_convert(Gfx_vram_screen(original), {GfxMode::screen, first}, &art))
                << art.errors[0];
            Vram converted{};
            ASSERT_TRUE(Gfx_build_vram(art, converted));
            EXPECT_EQ(shown(converted), shown(original)) << "seed " << seed << ", first tile " << first;
            EXPECT_EQ(Gfx_vram_screen(converted).rgba, Gfx_preview(art).rgba);
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
    EXPECT_FALSE(Gfx_convert(cells, {GfxMode::screen, 0, {}, true}, &art));
    EXPECT_EQ(art.errors, std::vector<std::string>{"16 x 16; a whole screen is 256 x 192"});
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
    Vram vram = random_vram(5, 256);
    // Cell 0 unflipped; cell 1 shows its tile again in other colours.
    vram[VRAM_TILE_MAP + 2] = 0;
    vram[VRAM_TILE_MAP + 3] = vram[VRAM_TILE_MAP];
    vram[VRAM_TILE_MAP + 4] = uint8_t(vram[VRAM_TILE_MAP + 1] + 0x11);
    GfxPicture sheet = Gfx_vram_sheet(vram), screen = Gfx_vram_screen(vram);
    ASSERT_EQ(sheet.width, 128);
    int tile = vram[VRAM_TILE_MAP];
    for (int r = 0; r < 8; ++r) {
        auto row = [r](const GfxPicture& p, int x, int y) { return &p.rgba[((y + r) * p.width + x) * 4]; };
        EXPECT_TRUE(
            std::equal(row(screen, 0, 0), row(screen, 8, 0), row(sheet, tile % 16 * 8, tile / 16 * 8)))
            << "row " << r;
    }
    // Converted back as a sheet it shows the same, tile for tile.
    GfxArt art;
    ASSERT_TRUE(Gfx_convert(sheet, {GfxMode::sheet}, &art));
    EXPECT_EQ(Gfx_preview(art).rgba, sheet.rgba);
    for (tile = 0; tile < 256; ++tile)
        EXPECT_TRUE(
            std::ranges::equal(art.patterns[size_t(tile)].b, std::span(&vram[VRAM_PLANE_B + 8 * tile], 8)));
}

} // namespace
