// Arbitrary text as a Tiled map, TMX or TMJ: the converter must convert it
// or refuse it with its error lines; nothing may crash or read out of
// bounds. Any tileset the map names reads as a small one of 16 tiles, and
// any image as its picture, so the fuzzer reaches the cells.
#include <cstdint>
#include <string>

#include "map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const GfxPicture tiles = [] {
        GfxPicture picture{32, 32, std::vector<uint8_t>(32 * 32 * 4)};
        for (size_t i = 0; i < picture.rgba.size(); i += 4) {
            size_t pixel = i / 4;
            picture.rgba[i] = (pixel * 7 % 3) ? 0xFF : 0;
            picture.rgba[i + 1] = static_cast<uint8_t>(pixel / 256 * 40);
            picture.rgba[i + 3] = (pixel % 5) ? 255 : 0;
        }
        return picture;
    }();
    MapFiles files;
    files.read_text = [](const std::string& path, std::string* text, std::string*) {
        *text =
            path.ends_with(".tsj")
                ? R"({"name":"t","tilewidth":8,"tileheight":8,"tilecount":16,"columns":4,"image":"t.png"})"
                : R"(<tileset name="t" tilewidth="8" tileheight="8" tilecount="16" columns="4">)"
                  R"(<image source="t.png"/></tileset>)";
        return true;
    };
    files.read_image = [](const std::string&, GfxPicture* picture, std::string*) {
        *picture = tiles;
        return true;
    };
    MapLevel level;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (!Map_convert("fuzz.tmx", text, {}, files, &level)) {
        if (level.errors.empty()) __builtin_trap(); // a refusal always says why
        return 0;
    }
    if (level.rooms.size() != static_cast<size_t>(level.rooms_wide) * level.rooms_high) __builtin_trap();
    Map_include_text(level, "level", "fuzz.tmx", true);
    return 0;
}
