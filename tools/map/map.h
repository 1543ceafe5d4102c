// The map converter's core: a Tiled map (TMX or TMJ) in, the machine's rooms,
// patterns, palette and object tables out.
//
// No files here: the caller hands in the map's text and answers two
// callbacks, one for the text of an external tileset (.tsx or .tsj) and one
// for the pixels of a tileset's image, so the command line (which reads PNG
// files) and a browser page share this code.
//
// What a map becomes (see docs/maps.md):
//   - the map is cut into rooms of 32 x 24 cells, left to right and then top
//     to bottom; each room is 2304 bytes of tile-map cells, so one DMA copy
//     shows it;
//   - every tile layer is the back, except one named "front", whose cells
//     get the layer bit; a cell shows one tile, so the layers must not
//     overlap;
//   - Tiled's flips become the cell's flips; a rotation by 90 degrees has no
//     counterpart and is refused;
//   - the patterns and the palette come from the tiles' pixels through the
//     graphics converter's core, shared across flips and exchanged colours;
//     a transparent pixel is undrawn, and black is undrawn in the back
//     (where nothing drawn shows black) but a colour in the front, where it
//     hides the sprites;
//   - an empty cell gets the blank pattern, one for the whole map;
//   - each object layer's objects go to the table of the room they lie in.
//
// Use:
//   MapFiles files{read_tileset_text, read_tileset_image};
//   MapLevel level;
//   if (!Map_convert("level.tmx", text, options, files, &level)) print level.errors;
//   include = Map_include_text(level, "level", "level.tmx", pack);
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "gfx.h"

constexpr int MAP_ROOM_COLUMNS = 32;
constexpr int MAP_ROOM_ROWS = 24;
constexpr int MAP_ROOM_BYTES = MAP_ROOM_COLUMNS * MAP_ROOM_ROWS * 3;
constexpr int MAP_OBJECT_BYTES = 4; // type, x, y, id

// Packed rooms: a control byte c, then
//   c = 0          the end of the room;
//   c = 1-127      one cell (3 bytes) shown c times;
//   c = 128-255    c - 127 cells (1-128) as they are, 3 bytes each.
constexpr int MAP_PACK_RUN_MAX = 127;
constexpr int MAP_PACK_LITERAL_MAX = 128;

// The caller's side of the files a map names. Paths are as the map writes
// them, joined to the folder of the file that names them ("art/tiles.png"
// named by "sets/rock.tsx" is "sets/art/tiles.png"). Each returns false
// with a short reason ("No such file or directory") when it cannot answer.
struct MapFiles {
    std::function<bool(const std::string& path, std::string* text, std::string* error)> read_text;
    std::function<bool(const std::string& path, GfxPicture* picture, std::string* error)> read_image;
};

struct MapOptions {
    int first_tile = 0;              // patterns go to tiles first_tile and on
    std::vector<GfxColor> palette{}; // palette order to keep
};

struct MapObject {
    int type = 0; // 1 + index into MapLevel::types; 0 when the object has none
    int x = 0;    // texels within its room, the object's top left
    int y = 0;
    int id = 0; // the object's "id" property, 0-255; 0 without one
};

struct MapLevel {
    int rooms_wide = 0;
    int rooms_high = 0;
    GfxArt art; // patterns and palette; art.cells is the whole map
    std::vector<std::array<uint8_t, MAP_ROOM_BYTES>> rooms;
    std::vector<std::vector<MapObject>> objects; // per room
    std::vector<std::string> types;              // object types, sorted; type k is types[k - 1]
    // One line per problem, GNU-style: "level.tmx: layer back, cell 40,3
    // (room 1, cell 8,3): ...". Empty when the map converted.
    std::vector<std::string> errors;
};

// Converts a map given its file name (for messages and to find the files it
// names) and its text. Returns false with every problem found in
// level->errors, and nothing else to be used, when the map cannot become
// the machine's rooms.
bool Map_convert(const std::string& path, const std::string& text, const MapOptions& options,
                 const MapFiles& files, MapLevel* level);

// A room packed as described above, ending with its 0.
std::vector<uint8_t> Map_pack(std::span<const uint8_t, MAP_ROOM_BYTES> room);

// The assembler include: <name>_tiles_a/_b, <name>_tile_count,
// <name>_first_tile, <name>_palette, <name>_color_count, <name>_rooms_wide,
// <name>_rooms_high, <name>_room_count, <name>_room_N (packed with `pack`),
// <name>_rooms and <name>_objects (a word a room), <name>_room_N_objects and
// a constant <name>_type_T for each object type.
std::string Map_include_text(const MapLevel& level, const std::string& name, const std::string& source,
                             bool pack);

// The 8192 bytes of video memory that show room `room`: patterns, the
// room's cells, the palette, no sprite.
void Map_room_vram(const MapLevel& level, int room, std::span<uint8_t, 8192> vram);

// Every room as the video unit composes it, in the room grid.
GfxPicture Map_preview(const MapLevel& level);
