// The converter's output in use: include files assembled into programs that
// the machine runs, and the lumacor-gfx program on real PNG files.
#include <gtest/gtest.h>

#include <png.h>

#include <fstream>

#include "assembled_machine.h"
#include "computer/snapshot.h"
#include "gfx.h"
#include "gfx_util.h"
#include "headless.h"
#include "png/png_codec.h"
#include "process.h"

namespace {

// Copies with the DMA; the include's parts go to video memory.
constexpr const char* PROGRAM_HEAD = R"(
        .include "lumacor.inc"
        .start
        JMP   main
copy:   LDW   p8, DMA_SOURCE
        STW   [p8], p0
        LDW   p8, DMA_DEST
        STW   [p8], p2
        LDW   p8, DMA_LENGTH
        STW   [p8], p4
        LDW   p8, DMA_CONTROL
        ST    [p8], 1
        RET
main:   LDW   p0, art_tiles_a
        LDW   p2, VRAM_PLANE_A + 8 * art_first_tile
        LDW   p4, 8 * art_tile_count
        CALL  copy
        LDW   p0, art_tiles_b
        LDW   p2, VRAM_PLANE_B + 8 * art_first_tile
        CALL  copy
        LDW   p0, art_palette
        LDW   p2, VRAM_PALETTE
        LDW   p4, 3 * art_color_count
        CALL  copy
)";

// Runs a program that includes "art.inc" for two frames; the picture then
// shown as RGBA, undrawn texels transparent black.
struct ArtProgram : AssembledMachine {
    GfxPicture frame;

    ArtProgram(const std::string& source, const std::string& include)
        : AssembledMachine(source, "art.inc", include) {
        HeadlessOptions run;
        run.frame_limit = 2;
        std::vector<uint8_t> bgra(FRAME_BYTES);
        Headless_run(&computer, run, bgra.data());
        // What the video unit composed from the video memory the program left.
        frame = Gfx_vram_screen(std::span<const uint8_t, VRAM_SIZE>(computer.gpu.vram, VRAM_SIZE));
    }
};

TEST(GfxProgram, ScreenIncludeAssembledAndRunShowsThePicture) {
    GfxPicture picture = Gfx_vram_screen(random_vram(11, 40));
    GfxArt art;
    ASSERT_TRUE(Gfx_convert(picture, {GfxMode::screen, 100}, &art)) << art.errors[0];
    std::string include =
        Gfx_include_text(art, GFX_PART_TILES | GFX_PART_MAP | GFX_PART_PALETTE, "art", "a.png");
    ArtProgram run(std::string(PROGRAM_HEAD) + R"(
        LDW   p0, art_map
        LDW   p2, VRAM_TILE_MAP
        LDW   p4, 3 * art_map_columns * art_map_rows
        CALL  copy
loop:   JMP   loop
        .include "art.inc"
)",
                   include);
    // The state of that machine, back to a picture through the program.
    std::vector<uint8_t> state;
    Computer_save_state(&run.computer, &state);
    TempDir dir;
    write_bytes(dir.file("game.state1"), state);
    ProcessResult back = Process_run({LUMACOR_GFX_PATH, "--from-state", dir.file("game.state1"), "--screen",
                                      "-o", dir.file("screen.png")});
    ASSERT_EQ(back.exit_code, 0) << back.err;
    PngPicture png;
    std::string error;
    ASSERT_TRUE(Png_decode(read_bytes(dir.file("screen.png")), &png, &error)) << error;
    EXPECT_EQ(png.rgba, run.frame.rgba);

    // Undrawn texels and drawn black ones look the same.
    for (size_t i = 3; i < picture.rgba.size(); i += 4) picture.rgba[i] = run.frame.rgba[i] = 255;
    EXPECT_EQ(run.frame.rgba, picture.rgba);
}

TEST(GfxProgram, SheetTileShownInItsColours) {
    GfxPicture sheet{16, 8, std::vector<uint8_t>(16 * 8 * 4, 0)};
    for (int y = 0; y < 8; ++y)
        for (int x = 8; x < 16; ++x)
            if ((x + y) % 3) {
                uint8_t* p = &sheet.rgba[(y * 16 + x) * 4];
                p[0] = (x + y) % 3 == 1 ? 200 : 0, p[1] = 40, p[2] = 90, p[3] = 255;
            }
    GfxArt art;
    ASSERT_TRUE(Gfx_convert(sheet, {GfxMode::sheet, 7}, &art));
    ArtProgram run(std::string(PROGRAM_HEAD) + R"(
        LDW   p0, art_colors + 1
        LD    r2, [p0]
        LDW   p8, VRAM_TILE_MAP + 3 * (2 * 32 + 5)
        ST    [p8], art_first_tile + 1
        INCW  p8
        ST    [p8], r2
loop:   JMP   loop
        .include "art.inc"
)",
                   Gfx_include_text(art, GFX_PART_TILES | GFX_PART_PALETTE, "art", "sheet.png"));
    GfxPicture want{FRAME_WIDTH, FRAME_HEIGHT, std::vector<uint8_t>(FRAME_BYTES, 0)};
    for (int r = 0; r < 8; ++r)
        std::copy_n(&sheet.rgba[(r * 16 + 8) * 4], 32, &want.rgba[((16 + r) * FRAME_WIDTH + 40) * 4]);
    EXPECT_EQ(run.frame.rgba, want.rgba);
}

// Writes a grey picture in one of libpng's formats: grey, grey and alpha,
// RGB, RGBA, or indexed colour with alpha.
void write_png(const std::string& path, const GfxPicture& picture, png_uint_32 format) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = format;
    std::vector<uint8_t> pixels, colormap;
    for (size_t i = 0; i < picture.rgba.size(); i += 4) {
        const uint8_t* p = &picture.rgba[i];
        if (format & PNG_FORMAT_FLAG_COLORMAP) {
            size_t entry = 0;
            while (entry < colormap.size() && !std::equal(p, p + 4, &colormap[entry])) entry += 4;
            if (entry == colormap.size()) colormap.insert(colormap.end(), p, p + 4);
            pixels.push_back(static_cast<uint8_t>(entry / 4));
        } else { // the channels of grey, grey and alpha, RGB, RGBA
            static constexpr int pick[5][4] = {{}, {0}, {0, 3}, {0, 1, 2}, {0, 1, 2, 3}};
            for (int k = 0; k < int(PNG_IMAGE_PIXEL_CHANNELS(format)); ++k)
                pixels.push_back(p[pick[PNG_IMAGE_PIXEL_CHANNELS(format)][k]]);
        }
    }
    image.colormap_entries = static_cast<png_uint_32>(colormap.size() / 4);
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, colormap.data()))
        << image.message;
}

TEST(GfxProgram, EveryColourTypeConvertsAndBrokenPicturesWriteNothing) {
    // Grey levels with a transparent corner in each cell, black where a
    // format has no alpha: undrawn either way.
    GfxPicture picture{GFX_SCREEN_WIDTH, GFX_SCREEN_HEIGHT, {}};
    for (int y = 0; y < GFX_SCREEN_HEIGHT; ++y)
        for (int x = 0; x < GFX_SCREEN_WIDTH; ++x) {
            bool corner = x % 8 == 0 && y % 8 == 0;
            uint8_t v = corner ? 0 : (x / 8 + y / 8) % 2 ? uint8_t(0x80 + (x / 64) * 0x10) : uint8_t(0xFF);
            picture.rgba.insert(picture.rgba.end(), {v, v, v, uint8_t(corner ? 0 : 255)});
        }
    TempDir dir;
    std::vector<uint8_t> expected;
    for (png_uint_32 format : std::initializer_list<png_uint_32>{
             PNG_FORMAT_RGBA, PNG_FORMAT_GRAY, PNG_FORMAT_GA, PNG_FORMAT_RGB, PNG_FORMAT_RGBA_COLORMAP}) {
        std::string png = dir.file("title.png"), out = dir.file("title.vram");
        write_png(png, picture, format);
        ProcessResult result = Process_run({LUMACOR_GFX_PATH, png, "--vram", "-o", out});
        ASSERT_EQ(result.exit_code, 0) << "format " << format << ": " << result.err;
        if (expected.empty()) expected = read_bytes(out);
        EXPECT_EQ(read_bytes(out), expected) << "format " << format;
    }
    EXPECT_EQ(expected[VRAM_PLANE_B] & 0x80, 0) << "a transparent pixel is left undrawn";

    // A picture that breaks a rule: status 1, every problem named, no file.
    for (int x : {9, 10}) picture.rgba[4 * x] = uint8_t(x - 8);
    for (int x : {25, 26}) picture.rgba[4 * (256 * 8 + x)] = uint8_t(x - 24);
    write_png(dir.file("bad.png"), picture, PNG_FORMAT_RGB);
    ProcessResult bad =
        Process_run({LUMACOR_GFX_PATH, dir.file("bad.png"), "--vram", "-o", dir.file("bad.vram")});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_EQ(bad.err, dir.file("bad.png") +
                           ":cell 1,0 (x 8-15, y 0-7): 3 colours #018080 #028080 #808080; a cell "
                           "shows at most 2 besides black\n" +
                           dir.file("bad.png") +
                           ":cell 3,1 (x 24-31, y 8-15): 3 colours #01ffff #02ffff #ffffff; "
                           "a cell shows at most 2 besides black\n");
    EXPECT_FALSE(std::ifstream(dir.file("bad.vram")).good());

    std::vector<uint8_t> cut_png = read_bytes(dir.file("title.png"));
    cut_png.resize(cut_png.size() / 2);
    write_bytes(dir.file("cut.png"), cut_png);
    ProcessResult cut =
        Process_run({LUMACOR_GFX_PATH, dir.file("cut.png"), "--vram", "-o", dir.file("cut.vram")});
    EXPECT_EQ(cut.exit_code, 1);
    EXPECT_NE(cut.err.find(dir.file("cut.png") + ": "), std::string::npos) << cut.err;
    EXPECT_FALSE(std::ifstream(dir.file("cut.vram")).good());
}

} // namespace
