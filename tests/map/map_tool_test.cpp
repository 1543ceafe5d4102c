// The lumacor-map program on files: its outputs, its errors and usage, and
// maps that Tiled itself exported from one format to the other.
#include <gtest/gtest.h>

#include <filesystem>

#include "gpu/gpu.h"
#include "map_util.h"
#include "png/png_codec.h"
#include "process.h"

namespace {

// A map with its tileset in sets/tiles.tsx and the image beside it.
struct MapFolder {
    TempDir dir;
    TestMap map = random_map(17, 2, 1);

    MapFolder() {
        std::filesystem::create_directory(dir.file("sets"));
        write_text(dir.file("level.tmx"), tmx_text(map, "zlib", "sets/tiles.tsx"));
        write_text(dir.file("sets/tiles.tsx"), tsx_text(map));
        std::vector<uint8_t> png;
        std::string error;
        EXPECT_TRUE(Png_encode(map.tiles.rgba.data(), map.tiles.width, map.tiles.height, true, &png, &error));
        write_bytes(dir.file("sets/tiles.png"), png);
    }
    ProcessResult run(std::vector<std::string> args) const {
        args.insert(args.begin(), LUMACOR_MAP_PATH);
        ProcessOptions options;
        options.env["QT_QPA_PLATFORM"] = "offscreen";
        return Process_run(args, options);
    }
};

TEST(MapTool, WritesTheIncludeThePreviewAndTheDepfile) {
    MapFolder f;
    ProcessResult result =
        f.run({f.dir.file("level.tmx"), "-o", f.dir.file("level.inc"), "--name", "level", "--pack",
               "--preview", f.dir.file("level.png"), "-d", f.dir.file("level.d")});
    ASSERT_EQ(result.exit_code, 0) << result.err;

    MapFiles files = test_files(f.map, tsx_text(f.map));
    MapLevel level;
    ASSERT_TRUE(Map_convert("level.tmx", tmx_text(f.map, "zlib", "sets/tiles.tsx"), {}, files, &level));
    EXPECT_EQ(read_file(f.dir.file("level.inc")), Map_include_text(level, "level", "level.tmx", true));

    // The preview: both rooms side by side, as the video unit composes them.
    PngPicture png;
    std::string error;
    ASSERT_TRUE(Png_decode(read_bytes(f.dir.file("level.png")), &png, &error)) << error;
    ASSERT_EQ(png.width, 512);
    ASSERT_EQ(png.height, 192);
    int wrong = 0;
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 512; ++x) {
            int64_t want = expected_texel(f.map, 1, x, y);
            if (want < 0) want = expected_texel(f.map, 0, x, y);
            const uint8_t* p = &png.rgba[size_t(y * 512 + x) * 4];
            int64_t shown = int64_t{p[0]} << 16 | int64_t{p[1]} << 8 | p[2];
            wrong += shown != (want < 0 ? 0 : want) || p[3] != 255;
        }
    EXPECT_EQ(wrong, 0);

    // The build is told of the map, its tileset and the tileset's image.
    std::string deps = read_file(f.dir.file("level.d"));
    for (const char* name : {"level.tmx", "sets/tiles.tsx", "sets/tiles.png"})
        EXPECT_NE(deps.find(f.dir.file(name)), std::string::npos) << name << " in " << deps;
}

TEST(MapTool, ErrorsWriteNothingAndUsageErrorsSayHow) {
    MapFolder f;
    f.map.layers[0].gids[3] = 0x20000001;
    f.map.layers[1].gids[3] = 0;
    write_text(f.dir.file("level.tmx"), tmx_text(f.map, "csv", "sets/tiles.tsx"));
    std::filesystem::remove(f.dir.file("sets/tiles.png"));
    ProcessResult bad =
        f.run({f.dir.file("level.tmx"), "-o", f.dir.file("out.inc"), "--preview", f.dir.file("out.png")});
    EXPECT_EQ(bad.exit_code, 1);
    std::string map = f.dir.file("level.tmx");
    EXPECT_EQ(bad.err,
              f.dir.file("sets/tiles.tsx") + ": tileset tiles: image " + f.dir.file("sets/tiles.png") +
                  ": No such file or directory\n" + map +
                  ": layer back, cell 3,0 (room 0, cell 3,0): tile turned by 90 degrees; the machine "
                  "flips tiles but does not turn them\n");
    EXPECT_FALSE(std::filesystem::exists(f.dir.file("out.inc")));
    EXPECT_FALSE(std::filesystem::exists(f.dir.file("out.png")));

    ProcessResult help = f.run({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* part : {"Usage:", "--first-tile", "--pack", "--preview", "Example:", "Exit status:"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {map}, {map, "-o", "x.inc", "--first-tile", "256"}, {map, "--bogus"}}) {
        ProcessResult usage = f.run(args);
        EXPECT_EQ(usage.exit_code, 2) << usage.err;
        EXPECT_EQ(usage.err.rfind("lumacor-map: ", 0), 0u) << usage.err;
    }
}

// Tiled reads the map and writes it in its other format; every version
// converts to the same bytes.
TEST(MapTool, MapsExportedByTiledConvertAlike) {
    ASSERT_STRNE(TILED_PATH, "") << "tiled is not installed (scripts/deps.sh installs it)";
    MapFolder f;
    std::string tmx = f.dir.file("level.tmx"), tmj = f.dir.file("level.tmj"), back = f.dir.file("back.tmx"),
                embedded = f.dir.file("embedded.tmj");
    ProcessOptions headless;
    headless.env["QT_QPA_PLATFORM"] = "offscreen";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {TILED_PATH, "--export-map", "json", tmx, tmj},
             {TILED_PATH, "--export-map", "tmx", tmj, back},
             {TILED_PATH, "--embed-tilesets", "--export-map", "json", tmx, embedded}}) {
        ProcessResult exported = Process_run(args, headless);
        ASSERT_EQ(exported.exit_code, 0) << args[args.size() - 2] << ": " << exported.err;
    }
    std::string first;
    for (const std::string& map : {tmx, tmj, back, embedded}) {
        ProcessResult result = f.run({map, "-o", f.dir.file("out.inc"), "--name", "level"});
        ASSERT_EQ(result.exit_code, 0) << map << ": " << result.err;
        std::string include = read_file(f.dir.file("out.inc"));
        include.erase(0, include.find('\n')); // the first line names the map
        if (first.empty()) first = include;
        EXPECT_EQ(include, first) << map;
    }
}

// The example of docs/maps.md, built by the MAP step of lumacor_add_rom:
// walking right shows the second room as the preview shows it, and walking
// back the first.
TEST(MapTool, TheWalkExampleGoesFromRoomToRoom) {
    TempDir dir;
    ProcessResult preview =
        Process_run({LUMACOR_MAP_PATH, WALK_DIR "/walk.tmx", "--preview", dir.file("p.png")});
    ASSERT_EQ(preview.exit_code, 0) << preview.err;
    ProcessResult walk = Process_run({LUMACOR_RUN_PATH, WALK_ROM, "--no-save", "--frames", "100", "--press",
                                      "10:right", "--screenshot", dir.file("room1.png")});
    EXPECT_NE(walk.out.find("out[0x80] <- 0x0\nout[0x80] <- 0x1\n"), std::string::npos) << walk.out;
    ProcessResult back = Process_run({LUMACOR_RUN_PATH, WALK_ROM, "--no-save", "--frames", "200", "--press",
                                      "10:right", "--press", "100:left"});
    EXPECT_NE(back.out.find("out[0x80] <- 0x1\nout[0x80] <- 0x0\n"), std::string::npos) << back.out;

    PngPicture level, shot;
    std::string error;
    ASSERT_TRUE(Png_decode(read_bytes(dir.file("p.png")), &level, &error)) << error;
    ASSERT_TRUE(Png_decode(read_bytes(dir.file("room1.png")), &shot, &error)) << error;
    int differ = 0;
    for (int y = 0; y < FRAME_HEIGHT; ++y)
        for (int x = 0; x < FRAME_WIDTH; ++x)
            differ +=
                !std::equal(&shot.rgba[size_t(y * 256 + x) * 4], &shot.rgba[size_t(y * 256 + x) * 4] + 4,
                            &level.rgba[size_t(y * 512 + 256 + x) * 4]);
    EXPECT_GT(differ, 0) << "the player shows";
    EXPECT_LE(differ, 64) << "and nothing else differs from the second room";
}

// The demo's fields come from fields.tmx; a scripted game (start, serve,
// move, a brick broken and a ball lost) looks as it did when they were
// built by code, in frames taken from that build.
TEST(MapTool, TheDemoPlaysAsBeforeItsFieldsCameFromAMap) {
    TempDir dir;
    std::vector<std::string> args{LUMACOR_RUN_PATH, DEMO_ROM, "--no-save",    "--quiet",
                                  "--frames",       "1500",   "--screenshot", dir.file("game.png")};
    for (const char* press : {"60:start", "62:none", "150:a", "152:none", "200:left", "260:right", "330:none",
                              "500:left", "540:none"})
        args.insert(args.end(), {"--press", press});
    ProcessResult run = Process_run(args);
    ASSERT_EQ(run.exit_code, 3) << run.err;
    PngPicture now, before;
    std::string error;
    ASSERT_TRUE(Png_decode(read_bytes(dir.file("game.png")), &now, &error)) << error;
    ASSERT_TRUE(Png_decode(read_bytes(DEMO_SHOTS "/game1500.png"), &before, &error));
    EXPECT_EQ(now.rgba, before.rgba);
}

} // namespace
