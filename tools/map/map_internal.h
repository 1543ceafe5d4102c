// Steps of the map converter shared by its own files, not part of its
// interface: the maps of both formats read into one model.
#pragma once

#include "map.h"

constexpr int MAP_MAX_ROOMS = 128;

struct MapTileset {
    long long first_gid = 0;
    std::string name;
    int tile_width = 0, tile_height = 0;
    int tile_count = 0, columns = 0;
    int margin = 0, spacing = 0;
    bool has_image = false;
    GfxPicture image;
};

struct MapTileLayer {
    std::string name;
    std::vector<uint32_t> gids; // width * height, row by row, with Tiled's flip bits
};

struct MapObjectModel {
    std::string layer;
    int tiled_id = 0;
    std::string type;
    double x = 0, y = 0; // texels in the map, the top left
    bool has_id = false;
    std::string id_text;
};

struct MapModel {
    int width = 0, height = 0; // cells
    int tile_width = 0, tile_height = 0;
    std::string orientation;
    std::vector<MapTileset> tilesets;
    std::vector<MapTileLayer> layers;
    std::vector<MapObjectModel> objects;
};

// Reads a TMX or TMJ map (told apart by its first character) with its
// tilesets and their images. Returns false, with lines "FILE: problem" added
// to `errors`, when something could not be read; what could be is in `model`.
bool map_read(const std::string& path, const std::string& text, const MapFiles& files, MapModel* model,
              std::vector<std::string>* errors);

// Whether the map's size is a whole number of rooms the converter takes;
// also reports a tile size or orientation the machine does not have.
bool map_check_size(const std::string& path, const MapModel& model, std::vector<std::string>* errors);

// One layer's data: encoding "csv" or "base64", compression "", "zlib" or
// "gzip", to exactly `count` global tile ids.
bool map_decode_data(const std::string& encoding, const std::string& compression, const std::string& text,
                     size_t count, std::vector<uint32_t>* gids, std::string* error);
