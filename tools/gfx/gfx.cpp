#include "gfx.h"
#include "gfx_internal.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "gpu/gpu.h"

namespace {

constexpr uint32_t NOT_DRAWN = 0xFFFFFFFF;
constexpr uint8_t FLIPS = ATTR_FLIP_H | ATTR_FLIP_V;

uint32_t rgb_key(const uint8_t* p) { return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]; }
uint32_t rgb_key(GfxColor c) { return uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b; }
GfxColor key_color(uint32_t key) {
    return {static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 8), static_cast<uint8_t>(key)};
}

std::string hex(GfxColor c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

// The colour a pixel asks for, or NOT_DRAWN. A screen leaves black undrawn
// because an undrawn texel shows black anyway, unless black must hide what
// lies behind it (a front-layer cell covers the sprites).
uint32_t pixel_key(const uint8_t* p, bool black_free) {
    if (p[3] < 128) return NOT_DRAWN;
    uint32_t key = rgb_key(p);
    if (black_free && key == 0) return NOT_DRAWN;
    return key;
}

bool black_undrawn(const GfxOptions& options) {
    return options.mode == GfxMode::screen && !options.black_drawn;
}

std::string cell_place(int column, int row) {
    char text[64];
    std::snprintf(text, sizeof text, "cell %d,%d (x %d-%d, y %d-%d)", column, row, column * GFX_TILE,
                  column * GFX_TILE + 7, row * GFX_TILE, row * GFX_TILE + 7);
    return text;
}

// A pattern as two 64-bit planes: row q in byte q, the leftmost texel in bit 7
// of its byte.
struct Planes {
    uint64_t a = 0, b = 0;
    bool operator==(const Planes&) const = default;
};

uint64_t flip_h(uint64_t x) {
    x = (x >> 1 & 0x5555555555555555) | (x & 0x5555555555555555) << 1;
    x = (x >> 2 & 0x3333333333333333) | (x & 0x3333333333333333) << 2;
    return (x >> 4 & 0x0F0F0F0F0F0F0F0F) | (x & 0x0F0F0F0F0F0F0F0F) << 4;
}
uint64_t flip_v(uint64_t x) { return __builtin_bswap64(x); }

uint64_t flipped(uint64_t x, uint8_t flips) {
    if (flips & ATTR_FLIP_H) x = flip_h(x);
    if (flips & ATTR_FLIP_V) x = flip_v(x);
    return x;
}

Planes transformed(Planes p, uint8_t flips, bool swap) {
    if (swap) p.a = p.b & ~p.a;
    return {flipped(p.a, flips), flipped(p.b, flips)};
}

bool key_less(const Planes& x, const Planes& y) { return x.b != y.b ? x.b < y.b : x.a < y.a; }

struct PlanesHash {
    size_t operator()(const Planes& p) const { return std::hash<uint64_t>{}(p.a * 0x9E3779B97F4A7C15 ^ p.b); }
};

// The least of a pattern's eight forms (four flips, two colour orders): every
// form of one pattern has the same canonical form.
struct Canonical {
    Planes planes;
    uint8_t flips = 0;
    bool swap = false;
};
Canonical canonical(Planes p, bool allow_swap) {
    Canonical best{p, 0, false};
    for (int s = 0; s < (allow_swap ? 2 : 1); ++s)
        for (uint8_t flips : {uint8_t{0}, ATTR_FLIP_H, ATTR_FLIP_V, FLIPS}) {
            Planes form = transformed(p, flips, s != 0);
            if (key_less(form, best.planes)) best = {form, flips, s != 0};
        }
    return best;
}

GfxPattern to_pattern(Planes p) {
    GfxPattern pattern;
    for (int q = 0; q < GFX_TILE; ++q) {
        pattern.a[q] = static_cast<uint8_t>(p.a >> (8 * q));
        pattern.b[q] = static_cast<uint8_t>(p.b >> (8 * q));
    }
    return pattern;
}

// One cell of a picture: its colours (palette indexes, in order of first
// appearance) and its pattern with plane A set where the second colour is.
struct CellScan {
    std::vector<int> colors;
    Planes planes;
};

CellScan scan_cell(const GfxPicture& picture, int column, int row, bool black_free,
                   const std::unordered_map<uint32_t, int>& index) {
    CellScan cell;
    for (int r = 0; r < GFX_TILE; ++r) {
        const uint8_t* p = picture.rgba.data() +
                           (static_cast<size_t>(row * GFX_TILE + r) * picture.width + column * GFX_TILE) * 4;
        for (int k = 0; k < GFX_TILE; ++k, p += 4) {
            uint32_t key = pixel_key(p, black_free);
            if (key == NOT_DRAWN) continue;
            int color = index.at(key);
            auto found = std::find(cell.colors.begin(), cell.colors.end(), color);
            if (found == cell.colors.end()) cell.colors.push_back(color);
            uint64_t bit = uint64_t{0x80} >> k << (8 * r);
            cell.planes.b |= bit;
            if (cell.colors.size() > 1 && color == cell.colors[1]) cell.planes.a |= bit;
        }
    }
    return cell;
}

struct Shared {
    int tile;      // index into the art's patterns
    uint8_t flips; // the flips that take the stored pattern to the canonical form
    bool swap;
};

void convert_screen(const std::vector<CellScan>& scans, GfxArt* art, bool limited) {
    std::unordered_map<Planes, Shared, PlanesHash> by_pattern;
    std::unordered_map<uint64_t, Shared> by_coverage; // canonical coverage of any stored pattern
    int limit = limited ? GFX_MAX_PATTERNS - art->first_tile : INT32_MAX;
    int overflow_cell = -1;

    auto add_pattern = [&](Planes planes, size_t n) {
        if (static_cast<int>(art->patterns.size()) == limit && overflow_cell < 0)
            overflow_cell = static_cast<int>(n);
        art->patterns.push_back(to_pattern(planes));
        ++art->sharing.new_patterns;
        int tile = static_cast<int>(art->patterns.size()) - 1;
        Canonical coverage = canonical({planes.b, planes.b}, false);
        by_coverage.try_emplace(coverage.planes.b, Shared{tile, coverage.flips, false});
        return tile;
    };

    // Cells of two colours first, so that a cell of one colour finds every
    // pattern whose coverage it can borrow, wherever that pattern first shows.
    for (size_t i = 0; i < 2 * scans.size(); ++i) {
        size_t n = i % scans.size();
        const CellScan& scan = scans[n];
        if (scan.colors.size() > 2 || (scan.colors.size() == 2) != (i < scans.size())) continue;
        GfxCell& cell = art->cells[n];
        ++art->sharing.cells;
        if (scan.colors.size() < 2) {
            // One colour (or none): any pattern with this coverage serves,
            // with both nibbles naming that colour.
            int color = scan.colors.empty() ? 0 : scan.colors[0];
            cell.colors = static_cast<uint8_t>(color * 0x11);
            Canonical coverage = canonical({scan.planes.b, scan.planes.b}, false);
            auto found = by_coverage.find(coverage.planes.b);
            if (found == by_coverage.end()) {
                cell.tile = static_cast<uint16_t>(art->first_tile + add_pattern({0, scan.planes.b}, n));
                continue;
            }
            cell.tile = static_cast<uint16_t>(art->first_tile + found->second.tile);
            cell.attr = coverage.flips ^ found->second.flips;
            ++art->sharing.one_colour;
            continue;
        }
        Canonical form = canonical(scan.planes, true);
        auto found = by_pattern.find(form.planes);
        uint8_t flips = 0;
        bool swap = false;
        if (found == by_pattern.end()) {
            int tile = add_pattern(scan.planes, n);
            by_pattern.emplace(form.planes, Shared{tile, form.flips, form.swap});
            cell.tile = static_cast<uint16_t>(art->first_tile + tile);
        } else {
            cell.tile = static_cast<uint16_t>(art->first_tile + found->second.tile);
            flips = form.flips ^ found->second.flips;
            swap = form.swap != found->second.swap;
            if (swap)
                ++art->sharing.swapped;
            else if (flips)
                ++art->sharing.flipped;
            else
                ++art->sharing.identical;
        }
        cell.attr = flips;
        int low = scan.colors[swap ? 1 : 0], high = scan.colors[swap ? 0 : 1];
        cell.colors = static_cast<uint8_t>(low | high << 4);
    }
    if (overflow_cell >= 0) {
        char text[160];
        std::snprintf(
            text, sizeof text,
            "%zu patterns after sharing; tiles %d-255 hold at most %d, and the first that does not fit "
            "comes from ",
            art->patterns.size(), art->first_tile, limit);
        art->errors.push_back(text + cell_place(overflow_cell % art->columns, overflow_cell / art->columns));
    }
}

void convert_sheet(const std::vector<CellScan>& scans, GfxArt* art) {
    int limit = GFX_MAX_PATTERNS - art->first_tile;
    if (static_cast<int>(scans.size()) > limit) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%zu tiles; tiles %d-255 hold at most %d, and the first that does not fit is ",
                      scans.size(), art->first_tile, limit);
        art->errors.push_back(text + cell_place(limit % art->columns, limit / art->columns));
    }
    for (size_t n = 0; n < scans.size(); ++n) {
        const CellScan& scan = scans[n];
        GfxCell& cell = art->cells[n];
        cell.tile = static_cast<uint16_t>(art->first_tile + n);
        Planes planes = scan.planes;
        if (scan.colors.size() == 2) {
            // The lower palette index is plane A 0, so a sheet drawn in a
            // fixed pair of colours gives the same bits whatever comes first.
            int low = std::min(scan.colors[0], scan.colors[1]),
                high = std::max(scan.colors[0], scan.colors[1]);
            if (low != scan.colors[0]) planes.a = planes.b & ~planes.a;
            cell.colors = static_cast<uint8_t>(low | high << 4);
        } else if (scan.colors.size() == 1) {
            cell.colors = static_cast<uint8_t>(scan.colors[0] * 0x11);
        }
        art->patterns.push_back(to_pattern(planes));
    }
    art->sharing.cells = static_cast<int>(scans.size());
    art->sharing.new_patterns = static_cast<int>(scans.size());
}

} // namespace

std::vector<GfxColor> Gfx_palette_order(const GfxPicture& picture) {
    std::vector<GfxColor> order;
    std::unordered_map<uint32_t, int> seen;
    for (size_t i = 0; i + 3 < picture.rgba.size(); i += 4) {
        const uint8_t* p = &picture.rgba[i];
        if (p[3] < 128) continue;
        if (seen.try_emplace(rgb_key(p), static_cast<int>(order.size())).second)
            order.push_back(key_color(rgb_key(p)));
    }
    return order;
}

bool Gfx_convert(const GfxPicture& picture, const GfxOptions& options, GfxArt* art) {
    return gfx_convert(picture, options, art, true);
}

bool gfx_convert(const GfxPicture& picture, const GfxOptions& options, GfxArt* art, bool limit_patterns) {
    *art = GfxArt{};
    art->mode = options.mode;
    art->first_tile = options.first_tile;
    char text[160];
    if (options.first_tile < 0 || options.first_tile >= GFX_MAX_PATTERNS) {
        std::snprintf(text, sizeof text, "first tile %d is not a tile number (0-255)", options.first_tile);
        art->errors.push_back(text);
        return false;
    }
    if (picture.width <= 0 || picture.height <= 0 || picture.width % GFX_TILE || picture.height % GFX_TILE ||
        picture.rgba.size() != static_cast<size_t>(picture.width) * picture.height * 4) {
        std::snprintf(text, sizeof text, "%d x %d is not a multiple of 8 either way", picture.width,
                      picture.height);
        art->errors.push_back(text);
        return false;
    }
    if (options.whole_screen && (picture.width != GFX_SCREEN_WIDTH || picture.height != GFX_SCREEN_HEIGHT)) {
        std::snprintf(text, sizeof text, "%d x %d; a whole screen is 256 x 192", picture.width,
                      picture.height);
        art->errors.push_back(text);
        return false;
    }
    art->columns = picture.width / GFX_TILE;
    art->rows = picture.height / GFX_TILE;

    // The palette: the order asked for, then the picture's own colours as
    // they first appear.
    std::unordered_map<uint32_t, int> index;
    std::vector<std::pair<uint32_t, size_t>> colors; // key, first pixel
    for (GfxColor c : options.palette)
        if (index.try_emplace(rgb_key(c), static_cast<int>(colors.size())).second)
            colors.push_back({rgb_key(c), SIZE_MAX});
    for (size_t i = 0; i < picture.rgba.size(); i += 4) {
        uint32_t key = pixel_key(&picture.rgba[i], black_undrawn(options));
        if (key != NOT_DRAWN && index.try_emplace(key, static_cast<int>(colors.size())).second)
            colors.push_back({key, i / 4});
    }
    for (const auto& [key, first] : colors) art->palette.push_back(key_color(key));
    if (colors.size() > GFX_MAX_COLORS) {
        size_t past = colors[GFX_MAX_COLORS].second;
        if (past == SIZE_MAX) {
            std::snprintf(text, sizeof text, "the palette to keep has %zu colours; the machine has 16",
                          colors.size());
        } else {
            std::snprintf(
                text, sizeof text,
                "%zu colours%s; the palette holds at most 16, and colour 17 (%s) first shows at x %zu, "
                "y %zu",
                colors.size(), black_undrawn(options) ? " besides black" : "",
                hex(key_color(colors[GFX_MAX_COLORS].first)).c_str(), past % picture.width,
                past / picture.width);
        }
        art->errors.push_back(text);
    }

    std::vector<CellScan> scans;
    scans.reserve(static_cast<size_t>(art->columns) * art->rows);
    for (int row = 0; row < art->rows; ++row)
        for (int column = 0; column < art->columns; ++column) {
            scans.push_back(scan_cell(picture, column, row, black_undrawn(options), index));
            const CellScan& scan = scans.back();
            if (scan.colors.size() <= 2) continue;
            std::string line =
                cell_place(column, row) + ": " + std::to_string(scan.colors.size()) + " colours";
            for (int c : scan.colors) line += " " + hex(key_color(colors[c].first));
            line += black_undrawn(options) ? "; a cell shows at most 2 besides black"
                                           : "; a tile shows at most 2";
            art->errors.push_back(line);
        }

    art->cells.resize(scans.size());
    if (options.mode == GfxMode::screen)
        convert_screen(scans, art, limit_patterns);
    else
        convert_sheet(scans, art);
    if (art->errors.empty()) return true;
    art->patterns.clear();
    art->cells.clear();
    return false;
}

bool Gfx_build_vram(const GfxArt& art, std::span<uint8_t, 8192> vram) {
    if (art.columns != MAP_COLUMNS || art.rows != MAP_ROWS || !art.errors.empty()) return false;
    std::fill(vram.begin(), vram.end(), 0);
    for (size_t i = 0; i < art.patterns.size(); ++i) {
        size_t tile = static_cast<size_t>(art.first_tile) + i;
        std::copy(art.patterns[i].a.begin(), art.patterns[i].a.end(), &vram[VRAM_PLANE_A + 8 * tile]);
        std::copy(art.patterns[i].b.begin(), art.patterns[i].b.end(), &vram[VRAM_PLANE_B + 8 * tile]);
    }
    for (size_t n = 0; n < art.cells.size(); ++n) {
        uint8_t* cell = &vram[VRAM_TILE_MAP + CELL_SIZE * n];
        cell[0] = static_cast<uint8_t>(art.cells[n].tile);
        cell[1] = art.cells[n].colors;
        cell[2] = art.cells[n].attr;
    }
    for (size_t p = 0; p < art.palette.size() && p < GFX_MAX_COLORS; ++p) {
        uint8_t* entry = &vram[VRAM_PALETTE + COLOR_SIZE * p];
        entry[0] = art.palette[p].b;
        entry[1] = art.palette[p].g;
        entry[2] = art.palette[p].r;
    }
    return true;
}

namespace {

void put_bytes(std::string* out, const uint8_t* bytes, size_t count, const char* comment) {
    *out += "        .byte ";
    char text[8];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "0x%02X", bytes[i]);
        *out += text;
        if (i + 1 < count) *out += ", ";
    }
    if (comment && *comment) *out += std::string("   ; ") + comment;
    *out += '\n';
}

std::string number_text(const char* format, int value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string Gfx_include_text(const GfxArt& art, unsigned parts, const std::string& name,
                             const std::string& source) {
    std::string out =
        "; " + name + ": converted by lumacor-gfx from " + source + "; edit the picture, not this file.\n";
    if (parts & GFX_PART_TILES) {
        out += "\n" + name + "_first_tile = " + std::to_string(art.first_tile) + "\n";
        out += name + "_tile_count = " + std::to_string(art.patterns.size()) + "\n";
        for (int plane = 0; plane < 2; ++plane) {
            out += "\n" + name + (plane == 0 ? "_tiles_a:" : "_tiles_b:") +
                   (plane == 0 ? "                ; colour select, a row a byte\n"
                               : "                ; coverage\n");
            for (size_t i = 0; i < art.patterns.size(); ++i) {
                const auto& rows = plane == 0 ? art.patterns[i].a : art.patterns[i].b;
                put_bytes(&out, rows.data(), rows.size(),
                          number_text("tile %d", art.first_tile + static_cast<int>(i)).c_str());
            }
        }
        if (art.mode == GfxMode::sheet) {
            out +=
                "\n" + name + "_colors:                ; a tile's colours byte, for its cells or sprites\n";
            for (size_t i = 0; i < art.cells.size(); i += 8) {
                uint8_t bytes[8];
                size_t count = std::min<size_t>(8, art.cells.size() - i);
                for (size_t k = 0; k < count; ++k) bytes[k] = art.cells[i + k].colors;
                put_bytes(&out, bytes, count,
                          number_text("tile %d", art.first_tile + static_cast<int>(i)).c_str());
            }
        }
    }
    if (parts & GFX_PART_MAP) {
        out += "\n" + name + "_map_columns = " + std::to_string(art.columns) + "\n";
        out += name + "_map_rows = " + std::to_string(art.rows) + "\n";
        out += name + "_map:                   ; tile, colors, attr a cell, row by row\n";
        for (size_t n = 0; n < art.cells.size(); n += 8) {
            uint8_t bytes[24];
            size_t count = std::min<size_t>(8, art.cells.size() - n);
            for (size_t k = 0; k < count; ++k) {
                bytes[3 * k] = static_cast<uint8_t>(art.cells[n + k].tile);
                bytes[3 * k + 1] = art.cells[n + k].colors;
                bytes[3 * k + 2] = art.cells[n + k].attr;
            }
            int column = static_cast<int>(n) % art.columns, row = static_cast<int>(n) / art.columns;
            put_bytes(&out, bytes, 3 * count,
                      (number_text("row %d", row) + number_text(", column %d", column)).c_str());
        }
    }
    if (parts & GFX_PART_PALETTE) {
        out += "\n" + name + "_color_count = " + std::to_string(art.palette.size()) + "\n";
        out += name + "_palette:               ; blue, green, red a colour\n";
        for (size_t p = 0; p < art.palette.size(); ++p) {
            uint8_t bytes[3] = {art.palette[p].b, art.palette[p].g, art.palette[p].r};
            put_bytes(&out, bytes, 3, (std::to_string(p) + " " + hex(art.palette[p])).c_str());
        }
    }
    return out;
}

std::string Gfx_report(const GfxArt& art) {
    std::string out = "colours: " + std::to_string(art.palette.size()) + " of 16:";
    for (GfxColor c : art.palette) out += " " + hex(c);
    out += "\npatterns: " + std::to_string(art.patterns.size()) + ", tiles " + std::to_string(art.first_tile);
    out += art.patterns.empty()
               ? std::string(" on")
               : "-" + std::to_string(art.first_tile + static_cast<int>(art.patterns.size()) - 1);
    out += " (" + std::to_string(GFX_MAX_PATTERNS - art.first_tile - static_cast<int>(art.patterns.size())) +
           " free)\n";
    const GfxSharing& s = art.sharing;
    out += "cells: " + std::to_string(s.cells) + " (" + std::to_string(art.columns) + " x " +
           std::to_string(art.rows) + "): " + std::to_string(s.new_patterns) + " with a pattern of their own";
    if (art.mode == GfxMode::screen)
        out += ", " + std::to_string(s.identical) + " sharing one as it is, " + std::to_string(s.flipped) +
               " flipped, " + std::to_string(s.swapped) + " with colours exchanged, " +
               std::to_string(s.one_colour) + " in one colour over a shared coverage";
    return out + "\n";
}

namespace {

// Draws one 8 x 8 block as the video unit does; colours are RGB, undrawn
// texels are left as they are.
void draw_block(GfxPicture* picture, int x, int y, const GfxPattern& pattern, uint8_t attr, GfxColor low,
                GfxColor high) {
    for (int r = 0; r < GFX_TILE; ++r) {
        int q = (attr & ATTR_FLIP_V) ? 7 - r : r;
        for (int k = 0; k < GFX_TILE; ++k) {
            uint8_t mask = (attr & ATTR_FLIP_H) ? uint8_t(1u << k) : uint8_t(0x80u >> k);
            if (!(pattern.b[q] & mask)) continue;
            GfxColor c = (pattern.a[q] & mask) ? high : low;
            uint8_t* p = &picture->rgba[(static_cast<size_t>(y + r) * picture->width + x + k) * 4];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            p[3] = 255;
        }
    }
}

GfxColor vram_color(std::span<const uint8_t, 8192> vram, int index) {
    const uint8_t* entry = &vram[VRAM_PALETTE + COLOR_SIZE * index];
    return {entry[2], entry[1], entry[0]};
}

} // namespace

GfxPicture Gfx_preview(const GfxArt& art) {
    GfxPicture picture{art.columns * GFX_TILE, art.rows * GFX_TILE, {}};
    picture.rgba.assign(static_cast<size_t>(picture.width) * picture.height * 4, 0);
    auto color = [&](int index) {
        return index < static_cast<int>(art.palette.size()) ? art.palette[index] : GfxColor{};
    };
    for (size_t n = 0; n < art.cells.size(); ++n) {
        const GfxCell& cell = art.cells[n];
        int pattern = cell.tile - art.first_tile;
        if (pattern < 0 || pattern >= static_cast<int>(art.patterns.size())) continue;
        draw_block(&picture, static_cast<int>(n) % art.columns * GFX_TILE,
                   static_cast<int>(n) / art.columns * GFX_TILE, art.patterns[pattern], cell.attr,
                   color(cell.colors & 0x0F), color(cell.colors >> 4));
    }
    return picture;
}

GfxPicture Gfx_vram_screen(std::span<const uint8_t, 8192> vram) {
    std::vector<uint8_t> copy(vram.begin(), vram.end());
    GPU gpu{copy.data(), 0};
    std::vector<uint8_t> frame(FRAME_BYTES);
    GPU_compose(&gpu, frame.data());
    GfxPicture picture{FRAME_WIDTH, FRAME_HEIGHT, std::vector<uint8_t>(FRAME_BYTES)};
    for (size_t i = 0; i < frame.size(); i += 4) {
        picture.rgba[i] = frame[i + 2];
        picture.rgba[i + 1] = frame[i + 1];
        picture.rgba[i + 2] = frame[i];
        picture.rgba[i + 3] = frame[i + 3];
    }
    return picture;
}

GfxPicture Gfx_vram_sheet(std::span<const uint8_t, 8192> vram) {
    constexpr int SIDE = GFX_SHEET_COLUMNS * GFX_TILE;
    GfxPicture picture{SIDE, SIDE, std::vector<uint8_t>(SIDE * SIDE * 4, 0)};
    // The colours each tile first shows in: the map's cells first, then the
    // visible sprites.
    std::array<int, GFX_MAX_PATTERNS> colors;
    colors.fill(-1);
    for (int n = 0; n < MAP_COLUMNS * MAP_ROWS; ++n) {
        const uint8_t* cell = &vram[VRAM_TILE_MAP + CELL_SIZE * n];
        if (colors[cell[0]] < 0) colors[cell[0]] = cell[1];
    }
    for (int s = 0; s < SPRITE_COUNT; ++s) {
        const uint8_t* sprite = &vram[VRAM_SPRITES + SPRITE_SIZE * s];
        if ((sprite[4] & ATTR_VISIBLE) && colors[sprite[2]] < 0) colors[sprite[2]] = sprite[3];
    }
    for (int t = 0; t < GFX_MAX_PATTERNS; ++t) {
        GfxPattern pattern;
        for (int q = 0; q < GFX_TILE; ++q) {
            pattern.a[q] = vram[VRAM_PLANE_A + 8 * t + q];
            pattern.b[q] = vram[VRAM_PLANE_B + 8 * t + q];
        }
        int byte = colors[t] < 0 ? 0x10 : colors[t];
        draw_block(&picture, t % GFX_SHEET_COLUMNS * GFX_TILE, t / GFX_SHEET_COLUMNS * GFX_TILE, pattern, 0,
                   vram_color(vram, byte & 0x0F), vram_color(vram, byte >> 4));
    }
    return picture;
}

void gfx_merge_patterns(GfxArt* art, int limit) {
    auto planes_of = [](const GfxPattern& p) {
        Planes planes;
        for (int q = 0; q < GFX_TILE; ++q)
            planes.a |= uint64_t{p.a[q]} << (8 * q), planes.b |= uint64_t{p.b[q]} << (8 * q);
        return planes;
    };
    std::vector<Planes> patterns;
    for (const GfxPattern& p : art->patterns) patterns.push_back(planes_of(p));
    std::vector<int> uses(patterns.size(), 0);
    for (const GfxCell& cell : art->cells) ++uses[static_cast<size_t>(cell.tile - art->first_tile)];
    std::vector<bool> alive(patterns.size(), true);
    int count = static_cast<int>(patterns.size());
    // Texels that differ in coverage cost more than ones that differ only in
    // which of the cell's colours they show.
    auto distance = [](Planes x, Planes y) {
        return 2 * std::popcount(x.b ^ y.b) + std::popcount((x.a ^ y.a) & x.b & y.b);
    };
    while (count > limit) {
        // The least used pattern goes to the form of another that is nearest.
        size_t gone = 0;
        for (size_t i = 0; i < patterns.size(); ++i)
            if (alive[i] && (!alive[gone] || uses[i] < uses[gone])) gone = i;
        size_t best = gone;
        uint8_t best_flips = 0;
        bool best_swap = false;
        int best_distance = INT32_MAX;
        for (size_t i = 0; i < patterns.size(); ++i) {
            if (!alive[i] || i == gone) continue;
            for (int s = 0; s < 2; ++s)
                for (uint8_t flips : {uint8_t{0}, ATTR_FLIP_H, ATTR_FLIP_V, FLIPS}) {
                    int d = distance(transformed(patterns[i], flips, s != 0), patterns[gone]);
                    if (d < best_distance)
                        best_distance = d, best = i, best_flips = flips, best_swap = s != 0;
                }
        }
        for (GfxCell& cell : art->cells) {
            if (cell.tile - art->first_tile != static_cast<int>(gone)) continue;
            cell.tile = static_cast<uint16_t>(art->first_tile + best);
            cell.attr ^= best_flips;
            if (best_swap) cell.colors = static_cast<uint8_t>(cell.colors >> 4 | cell.colors << 4);
        }
        uses[best] += uses[gone];
        alive[gone] = false;
        --count;
    }
    // Renumber the patterns left.
    std::vector<int> number(patterns.size(), -1);
    std::vector<GfxPattern> kept;
    for (size_t i = 0; i < patterns.size(); ++i)
        if (alive[i]) number[i] = static_cast<int>(kept.size()), kept.push_back(art->patterns[i]);
    for (GfxCell& cell : art->cells)
        cell.tile =
            static_cast<uint16_t>(art->first_tile + number[static_cast<size_t>(cell.tile - art->first_tile)]);
    art->patterns = std::move(kept);
}
