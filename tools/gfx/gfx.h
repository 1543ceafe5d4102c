// The graphics converter's core: pictures in, the machine's tiles, colours,
// map and palette out, and video memory back to pictures.
//
// No files and no image codec here: a picture is RGBA bytes in memory (four
// bytes a pixel, red first, rows `width * 4` apart), so the same core serves
// the command line (which reads and writes PNG) and a browser page (which
// decodes PNG itself). A pixel with alpha below 128 is transparent.
//
// The machine's rules that a picture must keep (see docs/graphics.md):
//   - 8 x 8 cells; each cell shows at most two palette colours, because a
//     tile texel is one bit of colour choice (plane A) and one of coverage
//     (plane B), and the cell's `colors` byte names the two colours;
//   - at most 16 colours in the palette;
//   - at most 256 tile patterns.
//
// Two ways to read a picture:
//   GfxMode::screen  a picture of the screen (or part of one). Pure black and
//                    transparent pixels become undrawn texels, since an
//                    undrawn texel shows black; they take no palette entry.
//                    One pattern serves every cell it can: identical,
//                    flipped either way or both, or with its colours swapped.
//   GfxMode::sheet   a sheet of tiles, one tile per cell, left to right and
//                    top to bottom, for sprites and fonts. Only transparent
//                    pixels are undrawn; black is a colour like any other.
//                    In each cell the colour with the lower palette index is
//                    plane A 0 (the low nibble of its colours byte).
//
// Use:
//   GfxArt art;
//   if (!Gfx_convert(picture, options, &art)) print art.errors;
//   Gfx_build_vram(art, vram);                 // a 256 x 192 screen only
//   text = Gfx_include_text(art, GFX_PART_TILES | GFX_PART_MAP, "title");
// and back:
//   picture = Gfx_vram_screen(vram);           // what the machine shows
//   picture = Gfx_vram_sheet(vram);            // the 256 patterns, 16 x 16
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

constexpr int GFX_TILE = 8;
constexpr int GFX_MAX_COLORS = 16;
constexpr int GFX_MAX_PATTERNS = 256;
constexpr int GFX_SCREEN_WIDTH = 256;
constexpr int GFX_SCREEN_HEIGHT = 192;
constexpr int GFX_SHEET_COLUMNS = 16; // tiles across a sheet made from video memory

struct GfxPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba; // width * height * 4 bytes
};

struct GfxColor {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const GfxColor&, const GfxColor&) = default;
};

// One tile: eight rows per plane, bit 7 of a row the leftmost texel.
struct GfxPattern {
    std::array<uint8_t, GFX_TILE> a{}; // colour select: 1 is the high nibble's colour
    std::array<uint8_t, GFX_TILE> b{}; // coverage: 1 is drawn
    friend bool operator==(const GfxPattern&, const GfxPattern&) = default;
};

// A map cell, or in a sheet the tile made of that cell: the three bytes of a
// tile-map entry.
struct GfxCell {
    uint16_t tile = 0; // a tile number, 0-255
    uint8_t colors = 0;
    uint8_t attr = 0; // flips only: a converted picture lies in the back layer
};

enum class GfxMode { screen, sheet };

struct GfxOptions {
    GfxMode mode = GfxMode::screen;
    int first_tile = 0;              // patterns go to tiles first_tile and on
    std::vector<GfxColor> palette{}; // palette order to keep (Gfx_palette_order)
    bool whole_screen = false;       // refuse any size but 256 x 192 (for Gfx_build_vram)
    bool black_drawn = false;        // screen: black is a colour, only transparent is undrawn
};

// How the patterns of a screen were shared, cell by cell.
struct GfxSharing {
    int cells = 0;
    int new_patterns = 0; // cells that brought a pattern of their own
    int identical = 0;    // the same pattern as an earlier cell
    int flipped = 0;      // an earlier cell's pattern flipped
    int swapped = 0;      // an earlier cell's pattern with its colours exchanged (flipped or not)
    int one_colour = 0;   // a one-colour cell drawn by an earlier pattern's coverage
};

struct GfxArt {
    GfxMode mode = GfxMode::screen;
    int columns = 0; // cells across
    int rows = 0;    // cells down
    int first_tile = 0;
    std::vector<GfxColor> palette;    // in palette order, at most 16
    std::vector<GfxPattern> patterns; // tile first_tile + i is patterns[i]
    std::vector<GfxCell> cells;       // columns * rows, row by row
    GfxSharing sharing;
    // One line per problem, without the file's name: "cell 3,5 (x 24-31,
    // y 40-47): 3 colours #ff0000 #00ff00 #0000ff; a cell shows at most 2
    // besides black". Empty when the picture converted.
    std::vector<std::string> errors;
};

// The picture's colours in order of first appearance, left to right and top
// to bottom, black included, for another picture's Gfx_options.palette.
std::vector<GfxColor> Gfx_palette_order(const GfxPicture& picture);

// Converts a picture whose sides are multiples of 8. Returns false, with
// every problem in art->errors and nothing else to be used, when the picture
// breaks one of the machine's rules.
bool Gfx_convert(const GfxPicture& picture, const GfxOptions& options, GfxArt* art);

// The 8192 bytes of video memory that show a converted 256 x 192 screen:
// both planes, the map, every sprite invisible, the palette, the rest zero.
// Returns false when the art is not a whole screen.
bool Gfx_build_vram(const GfxArt& art, std::span<uint8_t, 8192> vram);

// Include files for the assembler.
enum GfxPart : unsigned {
    GFX_PART_TILES = 1,   // <name>_tiles_a, <name>_tiles_b, <name>_tile_count, <name>_first_tile
                          // and, for a sheet, <name>_colors
    GFX_PART_MAP = 2,     // <name>_map, <name>_map_columns, <name>_map_rows
    GFX_PART_PALETTE = 4, // <name>_palette (blue, green, red a colour), <name>_color_count
};
std::string Gfx_include_text(const GfxArt& art, unsigned parts, const std::string& name,
                             const std::string& source);

// A few lines on colours, patterns and sharing.
std::string Gfx_report(const GfxArt& art);

// What the machine shows of converted art: the cells drawn as the video unit
// draws them, undrawn texels transparent.
GfxPicture Gfx_preview(const GfxArt& art);

// Video memory back to pictures. The screen is the composed frame, undrawn
// texels transparent black. The sheet holds the 256 patterns 16 across, each
// in the colours of its first use in the map (else of the first visible
// sprite that shows it, else palette entries 0 and 1), undrawn texels
// transparent.
GfxPicture Gfx_vram_screen(std::span<const uint8_t, 8192> vram);
GfxPicture Gfx_vram_sheet(std::span<const uint8_t, 8192> vram);

// Reduces art not drawn for the machine to what it can show, for the mode
// and first tile of `options`: at most 16 colours (a median cut of the
// picture's colours, refined by k-means); in each cell the pair of them that serves it best
// (and black, free on a screen), with the error of each pixel spread to its
// neighbours (Floyd-Steinberg); and on a screen, while there are more
// patterns than tiles, the least used pattern replaced by the nearest form
// of another. Transparent pixels stay transparent. Returns the mean error per colour channel (0-255)
// between the result and the original.
double Gfx_quantize(GfxPicture* picture, const GfxOptions& options);
