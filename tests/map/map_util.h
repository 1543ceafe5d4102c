// Maps for the converter's tests: random levels written as Tiled writes
// them, in TMX or TMJ and in every layer encoding, and the picture each
// layer should show.
#pragma once

#include <zlib.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "map.h"

struct TestLayer {
    std::string name;
    std::vector<uint32_t> gids; // with Tiled's flip bits
};

struct TestObject {
    std::string type;
    double x, y;
    int id = -1; // the "id" property; -1 for none
};

struct TestMap {
    int width = 0, height = 0; // cells
    GfxPicture tiles;          // the tileset's image, 4 tiles across
    std::vector<TestLayer> layers;
    std::vector<TestObject> objects;
};

// Random tiles of at most two colours each, from a few colours with black
// among them, with transparent texels; tile 0 is wholly transparent.
inline GfxPicture random_tileset(std::mt19937& random, int count) {
    static const uint8_t colors[][3] = {{0, 0, 0},     {255, 0, 0},     {0, 200, 0},   {30, 60, 255},
                                        {250, 250, 0}, {255, 255, 255}, {120, 40, 90}, {0, 180, 180}};
    GfxPicture picture{32, (count + 3) / 4 * 8, {}};
    picture.rgba.assign(static_cast<size_t>(picture.width) * picture.height * 4, 0);
    for (int t = 1; t < count; ++t) {
        const uint8_t* pair[2] = {colors[random() % 8], colors[random() % 8]};
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                unsigned pick = random() % 3;          // transparent, one colour or the other
                if (pick == 2 && t % 5 == 0) pick = 1; // some tiles of one colour
                if (pick == 0 && t % 4 == 0) pick = 1; // some tiles wholly opaque
                if (pick == 0) continue;
                uint8_t* p = &picture.rgba[(static_cast<size_t>(t / 4 * 8 + y) * 32 + t % 4 * 8 + x) * 4];
                std::copy(pair[pick - 1], pair[pick - 1] + 3, p);
                p[3] = 255;
            }
    }
    return picture;
}

// A back layer of random tiles, flipped either way at random, with holes,
// and a front layer of a few tiles in the holes.
inline TestMap random_map(uint32_t seed, int rooms_wide, int rooms_high, int tiles = 16) {
    std::mt19937 random(seed);
    TestMap map;
    map.width = 32 * rooms_wide;
    map.height = 24 * rooms_high;
    map.tiles = random_tileset(random, tiles);
    size_t cells = static_cast<size_t>(map.width) * map.height;
    TestLayer back{"back", std::vector<uint32_t>(cells)}, front{"front", std::vector<uint32_t>(cells)};
    for (size_t n = 0; n < cells; ++n) {
        uint32_t gid = 1 + random() % tiles;
        uint32_t flips = (random() & 3) << 30;
        if (random() % 5 == 0)
            front.gids[n] = random() % 2 ? gid | flips : 0;
        else
            back.gids[n] = random() % 9 ? gid | flips : 0;
    }
    map.layers = {back, front};
    map.objects = {{"door", 250.5, 10, 7}, {"enemy", 300, 100, -1}, {"", 3, 191.9, 0}};
    if (rooms_high > 1) map.objects.push_back({"start", 16, 200, 255});
    return map;
}

inline std::string base64(const std::vector<uint8_t>& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = uint32_t{bytes[i]} << 16;
        if (i + 1 < bytes.size()) v |= uint32_t{bytes[i + 1]} << 8;
        if (i + 2 < bytes.size()) v |= bytes[i + 2];
        for (size_t k = 0; k < 4; ++k) out += i + k <= bytes.size() ? digits[v >> (18 - 6 * k) & 63] : '=';
    }
    return out;
}

// `compression` is "", "zlib" or "gzip".
inline std::string encoded(const std::vector<uint32_t>& gids, const std::string& compression) {
    std::vector<uint8_t> raw;
    for (uint32_t gid : gids)
        for (int k = 0; k < 4; ++k) raw.push_back(static_cast<uint8_t>(gid >> (8 * k)));
    if (compression.empty()) return base64(raw);
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, compression == "gzip" ? 31 : 15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&stream, raw.size()));
    stream.next_in = raw.data();
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    return base64(out);
}

inline std::string csv(const std::vector<uint32_t>& gids) {
    std::string out;
    for (size_t n = 0; n < gids.size(); ++n)
        out += std::to_string(gids[n]) + (n + 1 < gids.size() ? "," : "");
    return out;
}

// The tileset element of a map or a .tsx file; `head` leads its attributes.
inline std::string tileset_xml(const TestMap& map, const std::string& head) {
    return " <tileset " + head + "name=\"tiles\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"" +
           std::to_string(map.tiles.width / 8 * (map.tiles.height / 8)) +
           "\" columns=\"4\">\n  <image source=\"tiles.png\" width=\"32\" height=\"" +
           std::to_string(map.tiles.height) + "\"/>\n </tileset>\n";
}

// Tile layer formats: "csv", "base64", "zlib", "gzip", and in TMX also
// "xml" (a <tile> element a cell). With `tileset_file` the tileset is
// external (its text is then tsx_text or tsj).
inline std::string tmx_text(const TestMap& map, const std::string& format,
                            const std::string& tileset_file = "") {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.8\" orientation=\"orthogonal\" "
        "renderorder=\"right-down\" width=\"" +
        std::to_string(map.width) + "\" height=\"" + std::to_string(map.height) +
        "\" tilewidth=\"8\" tileheight=\"8\" infinite=\"0\">\n";
    out += tileset_file.empty() ? tileset_xml(map, "firstgid=\"1\" ")
                                : " <tileset firstgid=\"1\" source=\"" + tileset_file + "\"/>\n";
    for (const TestLayer& layer : map.layers) {
        out += " <layer name=\"" + layer.name + "\" width=\"" + std::to_string(map.width) + "\" height=\"" +
               std::to_string(map.height) + "\">\n";
        if (format == "xml") {
            out += "  <data>\n";
            for (uint32_t gid : layer.gids) out += "   <tile gid=\"" + std::to_string(gid) + "\"/>\n";
        } else if (format == "csv") {
            out += "  <data encoding=\"csv\">\n" + csv(layer.gids) + "\n";
        } else {
            std::string compression = format == "base64" ? "" : format;
            out += "  <data encoding=\"base64\"" +
                   (compression.empty() ? std::string() : " compression=\"" + compression + "\"") + ">\n   " +
                   encoded(layer.gids, compression) + "\n";
        }
        out += "  </data>\n </layer>\n";
    }
    out += " <objectgroup name=\"things\">\n";
    for (size_t i = 0; i < map.objects.size(); ++i) {
        const TestObject& o = map.objects[i];
        char place[64];
        std::snprintf(place, sizeof place, "x=\"%g\" y=\"%g\"", o.x, o.y);
        out += "  <object id=\"" + std::to_string(i + 1) + "\"" +
               (o.type.empty() ? "" : " type=\"" + o.type + "\"") + " " + place;
        if (o.id < 0)
            out += "/>\n";
        else
            out += ">\n   <properties><property name=\"id\" type=\"int\" value=\"" + std::to_string(o.id) +
                   "\"/></properties>\n  </object>\n";
    }
    return out + " </objectgroup>\n</map>\n";
}

inline std::string tsx_text(const TestMap& map) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + tileset_xml(map, "version=\"1.8\" ");
}

inline nlohmann::json tsj(const TestMap& map) {
    return {{"type", "tileset"},
            {"name", "tiles"},
            {"tilewidth", 8},
            {"tileheight", 8},
            {"columns", 4},
            {"image", "tiles.png"},
            {"tilecount", map.tiles.width / 8 * (map.tiles.height / 8)}};
}

inline std::string tmj_text(const TestMap& map, const std::string& format,
                            const std::string& tileset_file = "") {
    using nlohmann::json;
    json set = tileset_file.empty() ? tsj(map) : json{{"source", tileset_file}}, layers = json::array();
    set["firstgid"] = 1;
    for (const TestLayer& layer : map.layers) {
        json l = {{"type", "tilelayer"}, {"name", layer.name}, {"width", map.width}, {"height", map.height}};
        std::string compression = format == "base64" ? "" : format;
        if (format == "csv")
            l["data"] = layer.gids;
        else
            l["encoding"] = "base64", l["compression"] = compression,
            l["data"] = encoded(layer.gids, compression);
        layers.push_back(l);
    }
    json objects = json::array();
    for (size_t i = 0; i < map.objects.size(); ++i) {
        const TestObject& o = map.objects[i];
        json object = {{"id", i + 1}, {"type", o.type}, {"x", o.x}, {"y", o.y}};
        if (o.id >= 0)
            object["properties"] = json::array({{{"name", "id"}, {"type", "int"}, {"value", o.id}}});
        objects.push_back(object);
    }
    layers.push_back({{"type", "objectgroup"}, {"name", "things"}, {"objects", objects}});
    return json{{"type", "map"},      {"orientation", "orthogonal"}, {"infinite", false},
                {"width", map.width}, {"height", map.height},        {"tilewidth", 8},
                {"tileheight", 8},    {"tilesets", {set}},           {"layers", layers}}
        .dump();
}

// The colour texel (x, y) of the map shows in `layer_kind` (0 back, 1 front),
// as 0xRRGGBB, or -1 where that layer draws nothing there.
inline int64_t expected_texel(const TestMap& map, int layer_kind, int x, int y) {
    size_t n = static_cast<size_t>(y / 8) * map.width + x / 8;
    for (const TestLayer& layer : map.layers) {
        if ((layer.name == "front") != (layer_kind == 1)) continue;
        uint32_t raw = layer.gids[n], gid = raw & 0x0FFFFFFF;
        if (gid == 0) continue;
        int tx = x % 8, ty = y % 8;
        if (raw & 0x80000000) tx = 7 - tx;
        if (raw & 0x40000000) ty = 7 - ty;
        int t = static_cast<int>(gid) - 1;
        const uint8_t* p = &map.tiles.rgba[(static_cast<size_t>(t / 4 * 8 + ty) * 32 + t % 4 * 8 + tx) * 4];
        if (p[3] < 128) return -1;
        int64_t rgb = int64_t{p[0]} << 16 | int64_t{p[1]} << 8 | p[2];
        if (rgb == 0 && layer_kind == 0) return -1; // black shows in the back as nothing
        return rgb;
    }
    return -1;
}

// Files for the core, from memory.
inline MapFiles test_files(const TestMap& map, const std::string& tsx = "", const std::string& tsj = "") {
    MapFiles files;
    files.read_text = [tsx, tsj](const std::string& path, std::string* text, std::string* error) {
        if (path.ends_with(".tsx") && !tsx.empty()) return *text = tsx, true;
        if (path.ends_with(".tsj") && !tsj.empty()) return *text = tsj, true;
        *error = "No such file or directory";
        return false;
    };
    files.read_image = [tiles = map.tiles](const std::string& path, GfxPicture* picture, std::string* error) {
        if (!path.ends_with("tiles.png")) {
            *error = "No such file or directory";
            return false;
        }
        *picture = tiles;
        return true;
    };
    return files;
}
