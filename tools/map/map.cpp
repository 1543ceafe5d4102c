#include "map.h"
#include "map_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "gfx_internal.h"
#include "gpu/gpu.h"

namespace {

constexpr uint32_t GID_FLIP_H = 0x80000000;
constexpr uint32_t GID_FLIP_V = 0x40000000;
constexpr uint32_t GID_TURNS = 0x30000000; // the diagonal flip, and a hexagonal map's 120 degrees
constexpr uint32_t GID_MASK = 0x0FFFFFFF;
constexpr int NO_LAYER = -1;

std::string hex(uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", rgb);
    return text;
}

bool is_front(const std::string& layer) {
    std::string lower = layer;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "front";
}

// What lies in one cell of the map.
struct Placed {
    int layer = NO_LAYER;
    int tileset = 0;
    int tile = 0; // within its tileset
    uint32_t flips = 0;
};

struct Converter {
    const std::string& path;
    const MapModel& model;
    MapLevel* level;

    std::string place(int layer, int n) const {
        int column = n % model.width, row = n / model.width;
        int room = row / MAP_ROOM_ROWS * (model.width / MAP_ROOM_COLUMNS) + column / MAP_ROOM_COLUMNS;
        char text[96];
        std::snprintf(text, sizeof text, "cell %d,%d (room %d, cell %d,%d)", column, row, room,
                      column % MAP_ROOM_COLUMNS, row % MAP_ROOM_ROWS);
        return (layer == NO_LAYER ? "" : "layer " + model.layers[static_cast<size_t>(layer)].name + ", ") +
               text;
    }
    void error(int layer, int n, const std::string& text) const {
        level->errors.push_back(path + ": " + place(layer, n) + ": " + text);
    }

    // The tileset that holds a global tile id: the one with the greatest
    // first id not above it.
    int owner(uint32_t gid) const {
        int best = -1;
        for (size_t i = 0; i < model.tilesets.size(); ++i)
            if (model.tilesets[i].first_gid <= gid &&
                (best < 0 ||
                 model.tilesets[i].first_gid > model.tilesets[static_cast<size_t>(best)].first_gid))
                best = static_cast<int>(i);
        return best;
    }

    std::vector<Placed> place_cells() const {
        std::vector<Placed> cells(static_cast<size_t>(model.width) * model.height);
        for (size_t l = 0; l < model.layers.size(); ++l) {
            const MapTileLayer& layer = model.layers[l];
            for (size_t n = 0; n < cells.size(); ++n) {
                uint32_t raw = layer.gids[n], gid = raw & GID_MASK;
                if (gid == 0) continue;
                int cell = static_cast<int>(n), li = static_cast<int>(l);
                if (raw & GID_TURNS) {
                    error(li, cell,
                          "tile turned by 90 degrees; the machine flips tiles but does not turn them");
                    continue;
                }
                int set = owner(gid);
                if (set < 0 || gid - model.tilesets[static_cast<size_t>(set)].first_gid >=
                                   static_cast<uint32_t>(
                                       std::max(0, model.tilesets[static_cast<size_t>(set)].tile_count))) {
                    // A tileset that could not be read has been reported already.
                    if (set < 0 || model.tilesets[static_cast<size_t>(set)].has_image)
                        error(li, cell, "tile " + std::to_string(gid) + " is in no tileset");
                    continue;
                }
                if (cells[n].layer != NO_LAYER) {
                    error(li, cell,
                          "layer " + model.layers[static_cast<size_t>(cells[n].layer)].name +
                              " has a tile here too; a cell shows one tile");
                    continue;
                }
                cells[n] = {li, set,
                            static_cast<int>(gid - model.tilesets[static_cast<size_t>(set)].first_gid),
                            raw & (GID_FLIP_H | GID_FLIP_V)};
            }
        }
        return cells;
    }

    const uint8_t* pixel(const Placed& cell, int x, int y) const {
        const MapTileset& set = model.tilesets[static_cast<size_t>(cell.tileset)];
        int step = 8 + set.spacing;
        int px = set.margin + cell.tile % set.columns * step + x;
        int py = set.margin + cell.tile / set.columns * step + y;
        return &set.image.rgba[(static_cast<size_t>(py) * set.image.width + px) * 4];
    }

    // The colour of a texel as the cell shows it, flips applied, or -1 where
    // nothing is drawn: transparent, or black in the back.
    int64_t texel(const Placed& cell, int x, int y) const {
        if (cell.layer == NO_LAYER) return -1;
        if (cell.flips & GID_FLIP_H) x = 7 - x;
        if (cell.flips & GID_FLIP_V) y = 7 - y;
        const uint8_t* p = pixel(cell, x, y);
        if (p[3] < 128) return -1;
        uint32_t rgb = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        if (rgb == 0 && !is_front(model.layers[static_cast<size_t>(cell.layer)].name)) return -1;
        return rgb;
    }

    // The palette in order (the one asked for, then the map's colours as
    // they first show, cell by cell); a tile of more than two colours is
    // reported once, at its first cell.
    std::vector<GfxColor> check_colors(const std::vector<Placed>& cells,
                                       const std::vector<GfxColor>& keep) const {
        std::vector<uint32_t> order;
        for (GfxColor c : keep) {
            uint32_t rgb = uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
            if (std::find(order.begin(), order.end(), rgb) == order.end()) order.push_back(rgb);
        }
        std::set<std::tuple<int, int, bool>> reported;
        bool too_many = order.size() > GFX_MAX_COLORS;
        if (too_many)
            level->errors.push_back(path + ": the palette to keep has " + std::to_string(order.size()) +
                                    " colours; the machine has 16");
        for (size_t n = 0; n < cells.size(); ++n) {
            const Placed& cell = cells[n];
            if (cell.layer == NO_LAYER) continue;
            std::vector<uint32_t> seen;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    int64_t rgb = texel(cell, x, y);
                    if (rgb < 0) continue;
                    if (std::find(seen.begin(), seen.end(), rgb) == seen.end())
                        seen.push_back(static_cast<uint32_t>(rgb));
                    if (std::find(order.begin(), order.end(), rgb) != order.end()) continue;
                    order.push_back(static_cast<uint32_t>(rgb));
                    if (order.size() == GFX_MAX_COLORS + 1 && !too_many) {
                        too_many = true;
                        error(cell.layer, static_cast<int>(n),
                              "colour 17 (" + hex(static_cast<uint32_t>(rgb)) +
                                  ") first shows here; the palette holds at most 16 colours");
                    }
                }
            bool front = is_front(model.layers[static_cast<size_t>(cell.layer)].name);
            if (seen.size() > 2 && reported.insert({cell.tileset, cell.tile, front}).second) {
                std::string line = "tile " + std::to_string(cell.tile) + " of tileset " +
                                   model.tilesets[static_cast<size_t>(cell.tileset)].name + " shows " +
                                   std::to_string(seen.size()) + " colours";
                for (uint32_t rgb : seen) line += " " + hex(rgb);
                error(cell.layer, static_cast<int>(n),
                      line + (front ? "; a tile shows at most 2" : "; a tile shows at most 2 besides black"));
            }
        }
        std::vector<GfxColor> palette;
        for (uint32_t rgb : order)
            palette.push_back(
                {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)});
        return palette;
    }

    GfxPicture picture(const std::vector<Placed>& cells) const {
        GfxPicture out{model.width * 8, model.height * 8, {}};
        out.rgba.assign(static_cast<size_t>(out.width) * out.height * 4, 0);
        for (size_t n = 0; n < cells.size(); ++n) {
            if (cells[n].layer == NO_LAYER) continue;
            int x0 = static_cast<int>(n) % model.width * 8, y0 = static_cast<int>(n) / model.width * 8;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    int64_t rgb = texel(cells[n], x, y);
                    if (rgb < 0) continue;
                    uint8_t* p = &out.rgba[(static_cast<size_t>(y0 + y) * out.width + x0 + x) * 4];
                    p[0] = static_cast<uint8_t>(rgb >> 16);
                    p[1] = static_cast<uint8_t>(rgb >> 8);
                    p[2] = static_cast<uint8_t>(rgb);
                    p[3] = 255;
                }
        }
        return out;
    }

    void objects() const {
        std::set<std::string> names;
        for (const MapObjectModel& o : model.objects)
            if (!o.type.empty()) names.insert(o.type);
        level->types.assign(names.begin(), names.end());
        level->objects.assign(level->rooms.size(), {});
        for (const MapObjectModel& o : model.objects) {
            std::string what = path + ": layer " + o.layer + ", object " + std::to_string(o.tiled_id);
            double x = std::floor(o.x), y = std::floor(o.y);
            if (!(x >= 0 && y >= 0 && x < model.width * 8.0 && y < model.height * 8.0)) {
                char text[80];
                std::snprintf(text, sizeof text, " at %g,%g lies outside the map", o.x, o.y);
                level->errors.push_back(what + text);
                continue;
            }
            MapObject object;
            if (!o.type.empty())
                object.type =
                    1 + static_cast<int>(std::lower_bound(level->types.begin(), level->types.end(), o.type) -
                                         level->types.begin());
            int column = static_cast<int>(x), row = static_cast<int>(y);
            int room = row / (MAP_ROOM_ROWS * 8) * level->rooms_wide + column / (MAP_ROOM_COLUMNS * 8);
            object.x = column % (MAP_ROOM_COLUMNS * 8);
            object.y = row % (MAP_ROOM_ROWS * 8);
            if (o.has_id) {
                char* end = nullptr;
                long id = std::strtol(o.id_text.c_str(), &end, 10);
                if (o.id_text.empty() || *end || id < 0 || id > 255) {
                    level->errors.push_back(what + ": property id '" + o.id_text + "' is not a number 0-255");
                    continue;
                }
                object.id = static_cast<int>(id);
            }
            level->objects[static_cast<size_t>(room)].push_back(object);
        }
        for (const auto& room : level->objects)
            if (room.size() > 255) {
                level->errors.push_back(path + ": a room holds " + std::to_string(room.size()) +
                                        " objects; a room's table holds at most 255");
                break;
            }
    }

    bool convert(const MapOptions& options) {
        std::vector<Placed> cells = place_cells();
        std::vector<GfxColor> palette = check_colors(cells, options.palette);
        if (options.first_tile < 0 || options.first_tile >= GFX_MAX_PATTERNS)
            level->errors.push_back(path + ": first tile " + std::to_string(options.first_tile) +
                                    " is not a tile number (0-255)");
        if (!level->errors.empty()) return false;

        GfxOptions gfx;
        gfx.mode = GfxMode::screen;
        gfx.first_tile = options.first_tile;
        gfx.palette = palette;
        gfx.black_drawn = true; // black in the back has been left undrawn above
        if (!gfx_convert(picture(cells), gfx, &level->art, false)) {
            for (const std::string& e : level->art.errors) level->errors.push_back(path + ": " + e);
            return false;
        }
        int limit = GFX_MAX_PATTERNS - options.first_tile;
        if (static_cast<int>(level->art.patterns.size()) > limit) {
            size_t n = 0;
            while (level->art.cells[n].tile < GFX_MAX_PATTERNS) ++n;
            error(cells[n].layer, static_cast<int>(n),
                  std::to_string(level->art.patterns.size()) + " patterns after sharing; tiles " +
                      std::to_string(options.first_tile) + "-255 hold at most " + std::to_string(limit) +
                      ", and this cell is past them");
            return false;
        }

        level->rooms_wide = model.width / MAP_ROOM_COLUMNS;
        level->rooms_high = model.height / MAP_ROOM_ROWS;
        level->rooms.assign(static_cast<size_t>(level->rooms_wide) * level->rooms_high, {});
        for (size_t n = 0; n < cells.size(); ++n) {
            int column = static_cast<int>(n) % model.width, row = static_cast<int>(n) / model.width;
            size_t room =
                static_cast<size_t>(row / MAP_ROOM_ROWS * level->rooms_wide + column / MAP_ROOM_COLUMNS);
            uint8_t* cell =
                &level->rooms[room][CELL_SIZE * static_cast<size_t>(row % MAP_ROOM_ROWS * MAP_ROOM_COLUMNS +
                                                                    column % MAP_ROOM_COLUMNS)];
            const GfxCell& art = level->art.cells[n];
            bool front = cells[n].layer != NO_LAYER &&
                         is_front(model.layers[static_cast<size_t>(cells[n].layer)].name);
            cell[0] = static_cast<uint8_t>(art.tile);
            cell[1] = art.colors;
            cell[2] = static_cast<uint8_t>(art.attr | (front ? ATTR_FRONT : 0));
        }
        objects();
        return level->errors.empty();
    }
};

} // namespace

bool Map_convert(const std::string& path, const std::string& text, const MapOptions& options,
                 const MapFiles& files, MapLevel* level) {
    *level = MapLevel{};
    MapModel model;
    bool read = map_read(path, text, files, &model, &level->errors);
    if (read || model.width > 0) {
        // Whatever could be read is checked too, so that one run lists every
        // problem; a layer that could not be read is simply missing here.
        if (!level->errors.empty() && (model.width <= 0 || model.width % MAP_ROOM_COLUMNS ||
                                       model.height % MAP_ROOM_ROWS || model.height <= 0))
            return false;
        Converter converter{path, model, level};
        bool sets_read = std::all_of(model.tilesets.begin(), model.tilesets.end(), [](const MapTileset& s) {
            return s.has_image && s.tile_width == 8 && s.tile_height == 8;
        });
        if (sets_read && model.tile_width == 8 && model.tile_height == 8)
            converter.convert(options);
        else
            converter.place_cells();
    }
    if (level->errors.empty()) return true;
    std::vector<std::string> errors = std::move(level->errors);
    *level = MapLevel{};
    level->errors = std::move(errors);
    return false;
}
