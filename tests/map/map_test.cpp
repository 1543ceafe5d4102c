// The map converter: random maps in every format and encoding converted,
// shown by a program the machine runs and compared texel by texel with the
// map; objects; every error with its message.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <set>

#include "assembled_machine.h"
#include "map_util.h"

namespace {

// Copies the patterns and the palette with the DMA, then shows room ROOM,
// packed or not; the include is "level.inc".
std::string room_program(int room, bool packed) {
    std::string show =
        "        LDW   " + std::string(packed ? "p0" : "p6") + ", level_room_" + std::to_string(room) +
        "\n        LDW   p2, VRAM_TILE_MAP\n" +
        (packed ? "        CALL  map_unpack\n" : "        LDW   p4, 2304\n        CALL  map_copy\n");
    return R"(
        .include "lumacor.inc"
        .start
        LDW   p6, level_tiles_a
        LDW   p2, VRAM_PLANE_A + 8 * level_first_tile
        LDW   p4, 8 * level_tile_count
        CALL  map_copy
        LDW   p6, level_tiles_b
        LDW   p2, VRAM_PLANE_B + 8 * level_first_tile
        CALL  map_copy
        LDW   p6, level_palette
        LDW   p2, VRAM_PALETTE
        LDW   p4, 3 * level_color_count
        CALL  map_copy
)" + show + R"(
        HALT
        .include "map.inc"
        .include "level.inc"
)";
}

// A program run until it stops; the video memory it left and the
// instructions it took.
struct MapRun : AssembledMachine {
    int instructions = 0;

    MapRun(const std::string& source, const std::string& include)
        : AssembledMachine(source, "level.inc", include) {
        Computer_start(&computer);
        instructions = Computer_run_instructions(&computer, 1000000);
    }
    // One layer as the video unit draws it, over a colour no map uses.
    std::vector<uint8_t> layer(int kind) const {
        std::vector<uint8_t> frame(FRAME_BYTES);
        for (size_t i = 0; i < frame.size(); i += 4) frame[i] = 1, frame[i + 1] = 2, frame[i + 2] = 3;
        GPU_draw_tiles(&computer.gpu, frame.data(), kind);
        return frame;
    }
};

std::string convert_text(const std::string& path, const std::string& text, const MapFiles& files,
                         MapLevel* level, bool pack = false) {
    EXPECT_TRUE(Map_convert(path, text, {}, files, level)) << (level->errors.empty() ? "" : level->errors[0]);
    return level->errors.empty() ? Map_include_text(*level, "level", path, pack) : "";
}

// Every room of the map shown by a program, both layers compared with the
// map texel by texel.
void expect_rooms_shown(const TestMap& map, const MapLevel& level, const std::string& include, bool packed) {
    ASSERT_EQ(level.rooms_wide * 32, map.width);
    for (int room = 0; room < static_cast<int>(level.rooms.size()); ++room) {
        MapRun run(room_program(room, packed), include);
        int x0 = room % level.rooms_wide * FRAME_WIDTH, y0 = room / level.rooms_wide * FRAME_HEIGHT;
        for (int kind = 0; kind < 2; ++kind) {
            std::vector<uint8_t> frame = run.layer(kind);
            int wrong = 0;
            for (int y = 0; y < FRAME_HEIGHT; ++y)
                for (int x = 0; x < FRAME_WIDTH; ++x) {
                    const uint8_t* p = &frame[static_cast<size_t>(y * FRAME_WIDTH + x) * 4];
                    int64_t shown = int64_t{p[2]} << 16 | int64_t{p[1]} << 8 | p[0];
                    int64_t want = expected_texel(map, kind, x0 + x, y0 + y);
                    if (shown != (want < 0 ? 0x030201 : want) && wrong++ < 3)
                        ADD_FAILURE() << "room " << room << " layer " << kind << " texel " << x << "," << y
                                      << ": " << std::hex << shown << " instead of " << want;
                }
            EXPECT_EQ(wrong, 0) << "room " << room << " layer " << kind;
        }
    }
}

TEST(Map, EveryFormatAndEncodingShowsTheMapAndBothFormatsGiveTheSameBytes) {
    TestMap map = random_map(5, 2, 2);
    std::string first;
    int n = 0; // every other map takes its tileset from a file
    for (std::string format : {"tmx", "tmj"})
        for (std::string encoding : {"csv", "base64", "zlib", "gzip", "xml"}) {
            if (format == "tmj" && encoding == "xml") continue;
            bool external = n++ % 2;
            SCOPED_TRACE(format + " " + encoding + (external ? " external tileset" : ""));
            bool tmx = format == "tmx";
            std::string set = external ? (tmx ? "sets/tiles.tsx" : "sets/tiles.tsj") : "";
            std::string text = tmx ? tmx_text(map, encoding, set) : tmj_text(map, encoding, set);
            MapLevel level;
            std::string include =
                convert_text("level", text, test_files(map, tsx_text(map), tsj(map).dump()), &level);
            if (first.empty()) {
                first = include;
                expect_rooms_shown(map, level, include, false);
                expect_rooms_shown(map, level, Map_include_text(level, "level", "level", true), true);
            }
            EXPECT_EQ(include, first);
        }
}

TEST(Map, EmptyCellsShareOneBlankPatternAndFlippedTilesOnePattern) {
    TestMap map = random_map(9, 2, 1);
    for (uint32_t n = 0; n < 4; ++n) map.layers[0].gids[n] = 4 | n << 30, map.layers[1].gids[n] = 0;
    MapLevel level;
    convert_text("m.tmx", tmx_text(map, "csv"), test_files(map), &level);
    std::set<int> blank;
    for (size_t n = 0; n < map.layers[0].gids.size(); ++n)
        if (!map.layers[0].gids[n] && !map.layers[1].gids[n]) blank.insert(level.art.cells[n].tile);
    ASSERT_EQ(blank.size(), 1u);
    EXPECT_EQ(level.art.patterns[size_t(*blank.begin() - level.art.first_tile)].b,
              (std::array<uint8_t, 8>{}));
    for (uint8_t n = 1; n < 4; ++n) {
        EXPECT_EQ(level.art.cells[n].tile, level.art.cells[0].tile);
        EXPECT_EQ(level.art.cells[n].attr,
                  level.art.cells[0].attr ^ (n & 1 ? ATTR_FLIP_V : 0) ^ (n & 2 ? ATTR_FLIP_H : 0));
    }
}

TEST(Map, ObjectsGoToTheTableOfTheirRoom) {
    TestMap map = random_map(3, 2, 2);
    for (const char* format : {"tmx", "tmj"}) {
        MapLevel level;
        std::string text = std::string(format) == "tmx" ? tmx_text(map, "csv") : tmj_text(map, "csv");
        convert_text("m", text, test_files(map), &level);
        EXPECT_EQ(level.types, (std::vector<std::string>{"door", "enemy", "start"}));
        auto table = [](const std::vector<MapObject>& objects) {
            std::vector<int> out;
            for (const MapObject& o : objects) out.insert(out.end(), {o.type, o.x, o.y, o.id});
            return out;
        };
        EXPECT_EQ(table(level.objects[0]), (std::vector<int>{1, 250, 10, 7, 0, 3, 191, 0})) << format;
        EXPECT_EQ(table(level.objects[1]), (std::vector<int>{2, 44, 100, 0})) << format;
        EXPECT_EQ(table(level.objects[2]), (std::vector<int>{3, 16, 8, 255})) << format;
        EXPECT_TRUE(level.objects[3].empty());
    }
    // The table as a program reads it: count, then type, x, y, id.
    MapLevel level;
    std::string include = convert_text("m", tmx_text(map, "csv"), test_files(map), &level);
    MapRun run(R"(
        .include "lumacor.inc"
        .start
        LDW   p6, level_objects + 4
        LD    r0, [p6]
        INCW  p6
        LD    r1, [p6]
        MOVW  p6, p0
        LDW   p2, 0xC000
        LDW   p4, 5
        CALL  map_copy
        HALT
        .include "map.inc"
        .include "level.inc"
)",
               include);
    uint8_t want[] = {1, 3, 16, 8, 255};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Bus_read(&run.computer.bus, uint16_t(0xC000 + i)), want[i]) << i;
}

TEST(Map, PackedRoomsAreSmallAndCheapToUnpack) {
    // A room of few runs, and one where no two neighbours are alike.
    std::array<uint8_t, MAP_ROOM_BYTES> room{};
    for (int n = 0; n < 768; ++n) room[size_t(3 * n)] = uint8_t(n < 300 ? 1 : n < 700 ? 2 : n);
    std::vector<uint8_t> packed = Map_pack(room);
    // 300 cells in 3 runs, 400 in 4, 68 as they are: control bytes and cells.
    EXPECT_EQ(packed.size(), 7u * 4 + 1 + 3 * 68 + 1);
    // The machine unpacks runs longer than one control byte holds.
    MapLevel synthetic;
    synthetic.rooms_wide = synthetic.rooms_high = 1;
    synthetic.rooms = {room};
    synthetic.objects = {{}};
    MapRun long_runs(room_program(0, true), Map_include_text(synthetic, "level", "m", true));
    EXPECT_TRUE(std::equal(room.begin(), room.end(), long_runs.computer.gpu.vram + VRAM_TILE_MAP));
    for (int n = 0; n < 768; ++n) room[size_t(3 * n)] = uint8_t(n), room[size_t(3 * n + 1)] = uint8_t(n >> 8);
    EXPECT_EQ(Map_pack(room).size(), 6u + MAP_ROOM_BYTES + 1);

    // The unpack routine's cost on the demo-like room of the round trip.
    TestMap map = random_map(21, 2, 1, 4);
    for (size_t n = 0; n < map.layers[0].gids.size(); ++n)
        map.layers[0].gids[n] = n / 64 % 2 ? 2 : 3, map.layers[1].gids[n] = 0;
    MapLevel level;
    std::string include = convert_text("m", tmx_text(map, "csv"), test_files(map), &level, true);
    MapRun packed_run(room_program(0, true), include), plain_run(room_program(0, false), include);
    EXPECT_TRUE(std::equal(packed_run.computer.gpu.vram + VRAM_TILE_MAP,
                           packed_run.computer.gpu.vram + VRAM_TILE_MAP + MAP_ROOM_BYTES,
                           level.rooms[0].begin()));
    // 24 runs of 32 cells: a few dozen instructions each, whatever their length.
    ASSERT_EQ(Map_pack(level.rooms[0]).size(), 24u * 4 + 1);
    int routine = packed_run.instructions - plain_run.instructions;
    EXPECT_GT(routine, 24 * 30);
    EXPECT_LT(routine, 24 * 45);
    std::printf("unpacking 24 runs: %d instructions more than one copy\n", routine);
}

struct ErrorCase {
    const char* what;
    std::function<void(TestMap*)> damage_map;
    std::function<void(std::string*)> damage_text;
    const char* message; // the first line, after "m.tmx: "
};

void clear_tiles(TestMap* m) {
    std::fill(m->tiles.rgba.begin(), m->tiles.rgba.end(), 0);
    for (TestLayer& layer : m->layers) std::fill(layer.gids.begin(), layer.gids.end(), 0);
}

void replace_all(std::string* text, const std::string& from, const std::string& to) {
    *text = std::regex_replace(*text, std::regex(from), to);
}

TEST(Map, EachErrorNamesItsPlaceAndNothingIsConverted) {
    const ErrorCase cases[] = {
        {"three colours",
         [](TestMap* m) {
             clear_tiles(m);
             for (int x = 0; x < 3; ++x) {
                 uint8_t* p = &m->tiles.rgba[size_t(8 + x) * 4]; // tile 1, row 0
                 p[0] = uint8_t(10 + x), p[1] = p[2] = 9, p[3] = 255;
             }
             m->layers[0].gids[40 + 3 * 64] = 2;
         },
         nullptr,
         "layer back, cell 40,3 (room 1, cell 8,3): tile 1 of tileset tiles shows 3 colours #0a0909 "
         "#0b0909 #0c0909; a tile shows at most 2 besides black"},
        {"seventeen colours",
         [](TestMap* m) {
             clear_tiles(m);
             for (int t = 1; t < 16; ++t) {
                 for (int k = 0; k < 2; ++k) {
                     uint8_t* p = &m->tiles.rgba[(size_t(t / 4 * 8) * 32 + t % 4 * 8 + k) * 4];
                     p[0] = uint8_t(t), p[1] = uint8_t(k), p[2] = 77, p[3] = 255;
                 }
                 m->layers[0].gids[size_t(t)] = uint32_t(t + 1);
             }
         },
         nullptr,
         "layer back, cell 9,0 (room 0, cell 9,0): colour 17 (#09004d) first shows here; the palette holds "
         "at most 16 colours"},
        {"patterns past 255",
         [](TestMap* m) {
             clear_tiles(m);
             std::mt19937 random(1);
             m->tiles.height = 8 * 80;
             m->tiles.rgba.assign(32 * 8 * 80 * 4, 0);
             for (int t = 0; t < 320; ++t) {
                 for (int k = 0; k < 64; ++k)
                     if (random() % 2) {
                         uint8_t* p =
                             &m->tiles.rgba[(size_t(t / 4 * 8 + k / 8) * 32 + t % 4 * 8 + k % 8) * 4];
                         p[0] = 200, p[3] = 255;
                     }
                 m->layers[0].gids[size_t(t)] = uint32_t(t + 1);
             }
         },
         nullptr,
         "layer back, cell 0,4 (room 0, cell 0,4): 321 patterns after sharing; tiles 0-255 hold at most 256"},
        {"room size", nullptr, [](std::string* text) { replace_all(text, "width=\"64\"", "width=\"60\""); },
         "a map of 60 x 24 cells is not a whole number of rooms of 32 x 24 cells"},
        {"tile size", nullptr,
         [](std::string* text) { replace_all(text, "tilewidth=\"8\"", "tilewidth=\"16\""); },
         "tiles of 16 x 8; the machine's tiles are 8 x 8"},
        {"missing image", nullptr, [](std::string* text) { replace_all(text, "tiles.png", "gone.png"); },
         "tileset tiles: image gone.png: No such file or directory"},
        {"unknown encoding", nullptr, [](std::string* text) { replace_all(text, "\"csv\"", "\"hex\""); },
         "layer back: unknown encoding 'hex'"},
        {"zstd", nullptr,
         [](std::string* text) {
             replace_all(text, "encoding=\"csv\"", "encoding=\"base64\" compression=\"zstd\"");
         },
         "layer back: zstd compression is not read"},
        {"turned tile", [](TestMap* m) { m->layers[0].gids[65] = 0x20000003, m->layers[1].gids[65] = 0; },
         nullptr, "layer back, cell 1,1 (room 0, cell 1,1): tile turned by 90 degrees"},
        {"overlap", [](TestMap* m) { m->layers[0].gids[2] = m->layers[1].gids[2] = 3; }, nullptr,
         "layer front, cell 2,0 (room 0, cell 2,0): layer back has a tile here too"},
        {"id property", [](TestMap* m) { m->objects[1].id = 300; }, nullptr,
         "layer things, object 2: property id '300' is not a number 0-255"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        TestMap map = random_map(13, 2, 1);
        if (c.damage_map) c.damage_map(&map);
        std::string text = tmx_text(map, "csv");
        if (c.damage_text) c.damage_text(&text);
        MapLevel level;
        EXPECT_FALSE(Map_convert("m.tmx", text, {}, test_files(map), &level));
        ASSERT_FALSE(level.errors.empty());
        EXPECT_EQ(level.errors[0].rfind("m.tmx: " + std::string(c.message), 0), 0u) << level.errors[0];
        EXPECT_TRUE(level.rooms.empty() && level.art.patterns.empty());
    }
}

TEST(Map, EveryProblemIsListedNotJustTheFirst) {
    TestMap map = random_map(13, 2, 1);
    map.layers[0].gids[65] = 0x20000003, map.layers[1].gids[65] = 0;
    map.layers[0].gids[100] = 0x20000003, map.layers[1].gids[100] = 0;
    map.layers[0].gids[2] = map.layers[1].gids[2] = 3;
    map.objects[0].x = -4;
    MapLevel level;
    EXPECT_FALSE(Map_convert("m.tmx", tmx_text(map, "csv"), {}, test_files(map), &level));
    EXPECT_EQ(level.errors.size(), 3u) << "the object is checked once the cells are sound";
    std::string text = tmj_text(map, "gzip");
    replace_all(&text, "tiles.png", "gone.png");
    EXPECT_FALSE(Map_convert("m.tmj", text, {}, test_files(map), &level));
    ASSERT_EQ(level.errors.size(), 4u) << "the image, and the cells' problems of their own";
    EXPECT_EQ(level.errors[0], "m.tmj: tileset tiles: image gone.png: No such file or directory");
    for (const std::string& line : level.errors)
        EXPECT_EQ(line.find("in no tileset"), std::string::npos) << line;
}

} // namespace
