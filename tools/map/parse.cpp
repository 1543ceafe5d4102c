// Reading Tiled's two formats into one plain model: TMX through pugixml,
// TMJ through nlohmann-json, layer data in CSV or base64 (plain, zlib or
// gzip), tilesets embedded or in their own .tsx or .tsj file.
//
// Built with LUMACOR_MAP_JSON_ONLY (the studio's WebAssembly, which has no
// XML or zlib library), only TMJ with uncompressed layers is read; the page
// inflates compressed layers itself before it hands a map in.
#include "map_internal.h"

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#ifndef LUMACOR_MAP_JSON_ONLY
#include <pugixml.hpp>
#include <zlib.h>
#endif

namespace {

using nlohmann::json;

std::string folder_of(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string joined(const std::string& base_file, const std::string& path) {
    if (path.starts_with('/')) return path;
    return folder_of(base_file) + path;
}

bool starts_like_json(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string::npos && text[first] == '{';
}

bool base64_decode(const std::string& text, std::vector<uint8_t>* out) {
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=' || c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        else
            return false;
        bits = bits << 6 | static_cast<uint32_t>(v);
        if ((count += 6) >= 8) {
            count -= 8;
            out->push_back(static_cast<uint8_t>(bits >> count));
        }
    }
    return true;
}

// zlib or gzip (told apart by their headers), to exactly `size` bytes.
bool inflate_exactly(const std::vector<uint8_t>& in, size_t size, std::vector<uint8_t>* out) {
#ifdef LUMACOR_MAP_JSON_ONLY
    (void)in, (void)size, (void)out;
    return false;
#else
    out->assign(size + 1, 0); // one more byte shows a stream that is too long
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 32) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out->data();
    stream.avail_out = static_cast<uInt>(out->size());
    int status = inflate(&stream, Z_FINISH);
    size_t produced = out->size() - stream.avail_out;
    inflateEnd(&stream);
    out->resize(produced);
    return status == Z_STREAM_END && produced == size;
#endif
}

} // namespace

// The global tile ids of one layer from its data as the file holds it.
// `numbers` serves TMJ's plain array and TMX's <tile> elements.
bool map_decode_data(const std::string& encoding, const std::string& compression, const std::string& text,
                     size_t count, std::vector<uint32_t>* gids, std::string* error) {
    gids->clear();
    if (encoding == "csv") {
        if (!compression.empty()) {
            *error = "CSV data cannot be compressed (compression " + compression + ")";
            return false;
        }
        const char* p = text.c_str();
        while (*p) {
            while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t' || *p == ',') ++p;
            if (!*p) break;
            if (*p < '0' || *p > '9') {
                *error = "CSV data holds '" + std::string(1, *p) + "', not a tile number";
                return false;
            }
            uint64_t value = 0;
            while (*p >= '0' && *p <= '9') {
                value = value * 10 + static_cast<uint64_t>(*p++ - '0');
                if (value > 0xFFFFFFFF) {
                    *error = "CSV data holds a tile number past 4294967295";
                    return false;
                }
            }
            gids->push_back(static_cast<uint32_t>(value));
        }
    } else if (encoding == "base64") {
        if (compression == "zstd") {
            *error = "zstd compression is not read; save the map with zlib, gzip or no compression "
                     "(Map Properties, Tile Layer Format)";
            return false;
        }
        if (!compression.empty() && compression != "zlib" && compression != "gzip") {
            *error = "unknown compression '" + compression + "'";
            return false;
        }
        std::vector<uint8_t> bytes, raw;
        if (!base64_decode(text, &raw)) {
            *error = "base64 data holds a character that is not base64";
            return false;
        }
        if (compression.empty()) {
            bytes = std::move(raw);
        } else if (!inflate_exactly(raw, count * 4, &bytes)) {
            *error = compression + " data is damaged or not " + std::to_string(count) + " cells long";
            return false;
        }
        for (size_t i = 0; i + 3 < bytes.size(); i += 4)
            gids->push_back(uint32_t{bytes[i]} | uint32_t{bytes[i + 1]} << 8 | uint32_t{bytes[i + 2]} << 16 |
                            uint32_t{bytes[i + 3]} << 24);
        if (bytes.size() % 4) gids->push_back(0xFFFFFFFF); // a broken tail: counted wrong below
    } else {
        *error = "unknown encoding '" + encoding + "'";
        return false;
    }
    if (gids->size() != count) {
        *error = std::to_string(gids->size()) + " cells of data for a layer of " + std::to_string(count);
        return false;
    }
    return true;
}

namespace {

struct Reader {
    const MapFiles& files;
    MapModel* model;
    std::vector<std::string>* errors;

    void error(const std::string& file, const std::string& text) { errors->push_back(file + ": " + text); }

    void read_image(MapTileset* set, const std::string& from, const std::string& source) {
        if (source.empty()) {
            error(from, "tileset " + set->name + " has no image; a tileset of separate images is not read");
            return;
        }
        std::string path = joined(from, source), why;
        if (!files.read_image || !files.read_image(path, &set->image, &why)) {
            error(from, "tileset " + set->name + ": image " + path + ": " + why);
            return;
        }
        set->has_image = true;
    }

    void finish_tileset(MapTileset* set, const std::string& from) {
        if (set->tile_width != 8 || set->tile_height != 8)
            error(from, "tileset " + set->name + ": tiles of " + std::to_string(set->tile_width) + " x " +
                            std::to_string(set->tile_height) + "; the machine's tiles are 8 x 8");
        if (set->margin < 0 || set->spacing < 0 || set->margin > 4096 || set->spacing > 4096) {
            error(from, "tileset " + set->name + ": margin or spacing out of range");
            set->has_image = false;
        }
        if (!set->has_image || set->tile_width != 8 || set->tile_height != 8) return;
        int step = 8 + set->spacing;
        int across = (set->image.width - 2 * set->margin + set->spacing) / step;
        int down = (set->image.height - 2 * set->margin + set->spacing) / step;
        if (set->columns <= 0 || set->columns > across) set->columns = across;
        int fits = std::max(0, set->columns) * std::max(0, down);
        if (set->tile_count <= 0 || set->tile_count > fits) set->tile_count = fits;
    }

    // ---- TMX

#ifdef LUMACOR_MAP_JSON_ONLY
    void tmx(const std::string& path, const std::string&) {
        error(path, "a TMX map is not read here; save it from Tiled as JSON (.tmj)");
    }
#else
    void tmx_tileset_fields(pugi::xml_node node, MapTileset* set, const std::string& from) {
        set->name = node.attribute("name").as_string("?");
        set->tile_width = node.attribute("tilewidth").as_int();
        set->tile_height = node.attribute("tileheight").as_int();
        set->tile_count = node.attribute("tilecount").as_int();
        set->columns = node.attribute("columns").as_int();
        set->margin = node.attribute("margin").as_int();
        set->spacing = node.attribute("spacing").as_int();
        read_image(set, from, node.child("image").attribute("source").as_string());
        finish_tileset(set, from);
    }

    void tmx_layers(pugi::xml_node parent, const std::string& path) {
        for (pugi::xml_node node : parent.children()) {
            std::string kind = node.name();
            if (kind == "group") {
                tmx_layers(node, path);
            } else if (kind == "layer") {
                MapTileLayer layer;
                layer.name = node.attribute("name").as_string();
                pugi::xml_node data = node.child("data");
                size_t count = static_cast<size_t>(model->width) * model->height;
                std::string why;
                if (data.child("chunk")) {
                    error(path, "layer " + layer.name +
                                    ": an infinite map's chunks are not read; make the map "
                                    "finite (Map Properties, Infinite)");
                    continue;
                }
                std::string encoding = data.attribute("encoding").as_string();
                if (encoding.empty()) {
                    for (pugi::xml_node tile : data.children("tile"))
                        layer.gids.push_back(static_cast<uint32_t>(tile.attribute("gid").as_ullong()));
                    if (layer.gids.size() != count) {
                        error(path, "layer " + layer.name + ": " + std::to_string(layer.gids.size()) +
                                        " cells of data for a layer of " + std::to_string(count));
                        continue;
                    }
                } else if (!map_decode_data(encoding, data.attribute("compression").as_string(),
                                            data.text().as_string(), count, &layer.gids, &why)) {
                    error(path, "layer " + layer.name + ": " + why);
                    continue;
                }
                model->layers.push_back(std::move(layer));
            } else if (kind == "objectgroup") {
                std::string name = node.attribute("name").as_string();
                for (pugi::xml_node object : node.children("object")) {
                    MapObjectModel o;
                    o.layer = name;
                    o.tiled_id = object.attribute("id").as_int();
                    o.type = object.attribute("type").as_string(object.attribute("class").as_string());
                    o.x = object.attribute("x").as_double();
                    o.y = object.attribute("y").as_double();
                    if (object.attribute("gid")) o.y -= object.attribute("height").as_double();
                    for (pugi::xml_node property : object.child("properties").children("property"))
                        if (std::string(property.attribute("name").as_string()) == "id") {
                            o.has_id = true;
                            o.id_text = property.attribute("value").as_string(property.text().as_string());
                        }
                    model->objects.push_back(o);
                }
            }
        }
    }

    void tmx(const std::string& path, const std::string& text) {
        pugi::xml_document doc;
        pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
        pugi::xml_node map = doc.child("map");
        if (!parsed || !map) {
            error(path,
                  std::string("not a Tiled map: ") + (parsed ? "no <map> element" : parsed.description()));
            return;
        }
        model->width = map.attribute("width").as_int();
        model->height = map.attribute("height").as_int();
        model->tile_width = map.attribute("tilewidth").as_int();
        model->tile_height = map.attribute("tileheight").as_int();
        model->orientation = map.attribute("orientation").as_string("orthogonal");
        if (!map_check_size(path, *model, errors)) return;
        for (pugi::xml_node node : map.children("tileset")) {
            MapTileset set;
            set.first_gid = node.attribute("firstgid").as_llong();
            std::string source = node.attribute("source").as_string();
            if (source.empty())
                tmx_tileset_fields(node, &set, path);
            else
                external_tileset(path, source, &set);
            model->tilesets.push_back(std::move(set));
        }
        tmx_layers(map, path);
    }
#endif

    void external_tileset(const std::string& from, const std::string& source, MapTileset* set) {
        std::string file = joined(from, source), text, why;
        set->name = source;
        if (!files.read_text || !files.read_text(file, &text, &why)) {
            error(from, "tileset " + file + ": " + why);
            return;
        }
        if (starts_like_json(text)) {
            json doc = json::parse(text, nullptr, false);
            if (doc.is_discarded() || !doc.is_object()) {
                error(file, "not a Tiled tileset (JSON that does not parse)");
                return;
            }
            tmj_tileset_fields(doc, set, file);
            return;
        }
#ifdef LUMACOR_MAP_JSON_ONLY
        error(file, "a TSX tileset is not read here; save it from Tiled as JSON (.tsj)");
#else
        pugi::xml_document doc;
        pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
        pugi::xml_node node = doc.child("tileset");
        if (!parsed || !node) {
            error(file, std::string("not a Tiled tileset: ") +
                            (parsed ? "no <tileset> element" : parsed.description()));
            return;
        }
        tmx_tileset_fields(node, set, file);
#endif
    }

    // ---- TMJ

    static long long number(const json& j, const char* key, long long otherwise = 0) {
        auto found = j.find(key);
        if (found == j.end() || !found->is_number()) return otherwise;
        double value = found->get<double>();
        return std::isfinite(value) && std::fabs(value) < 1e15 ? static_cast<long long>(value) : otherwise;
    }
    static double real(const json& j, const char* key) {
        auto found = j.find(key);
        return found != j.end() && found->is_number() ? found->get<double>() : 0.0;
    }
    static std::string text_of(const json& j, const char* key, const std::string& otherwise = "") {
        auto found = j.find(key);
        return found != j.end() && found->is_string() ? found->get<std::string>() : otherwise;
    }

    static int clamp_int(long long v) { return static_cast<int>(std::clamp<long long>(v, -1, 1 << 20)); }

    void tmj_tileset_fields(const json& node, MapTileset* set, const std::string& from) {
        set->name = text_of(node, "name", "?");
        set->tile_width = clamp_int(number(node, "tilewidth"));
        set->tile_height = clamp_int(number(node, "tileheight"));
        set->tile_count = clamp_int(number(node, "tilecount"));
        set->columns = clamp_int(number(node, "columns"));
        set->margin = clamp_int(number(node, "margin"));
        set->spacing = clamp_int(number(node, "spacing"));
        read_image(set, from, text_of(node, "image"));
        finish_tileset(set, from);
    }

    void tmj_layers(const json& list, const std::string& path) {
        if (!list.is_array()) return;
        for (const json& node : list) {
            if (!node.is_object()) continue;
            std::string kind = text_of(node, "type");
            if (kind == "group") {
                if (node.contains("layers")) tmj_layers(node["layers"], path);
            } else if (kind == "tilelayer") {
                MapTileLayer layer;
                layer.name = text_of(node, "name");
                if (node.contains("chunks")) {
                    error(path, "layer " + layer.name +
                                    ": an infinite map's chunks are not read; make the map "
                                    "finite (Map Properties, Infinite)");
                    continue;
                }
                size_t count = static_cast<size_t>(model->width) * model->height;
                auto data = node.find("data");
                std::string why;
                if (data != node.end() && data->is_array()) {
                    for (const json& gid : *data)
                        layer.gids.push_back(gid.is_number_unsigned() && gid.get<uint64_t>() <= 0xFFFFFFFF
                                                 ? static_cast<uint32_t>(gid.get<uint64_t>())
                                                 : 0xFFFFFFFF);
                    if (layer.gids.size() != count) {
                        error(path, "layer " + layer.name + ": " + std::to_string(layer.gids.size()) +
                                        " cells of data for a layer of " + std::to_string(count));
                        continue;
                    }
                } else if (data != node.end() && data->is_string()) {
                    if (!map_decode_data(text_of(node, "encoding", "base64"), text_of(node, "compression"),
                                         data->get<std::string>(), count, &layer.gids, &why)) {
                        error(path, "layer " + layer.name + ": " + why);
                        continue;
                    }
                } else {
                    error(path, "layer " + layer.name + ": no data");
                    continue;
                }
                model->layers.push_back(std::move(layer));
            } else if (kind == "objectgroup" && node.contains("objects") && node["objects"].is_array()) {
                for (const json& object : node["objects"]) {
                    if (!object.is_object()) continue;
                    MapObjectModel o;
                    o.layer = text_of(node, "name");
                    o.tiled_id = clamp_int(number(object, "id"));
                    o.type = text_of(object, "type", text_of(object, "class"));
                    o.x = real(object, "x");
                    o.y = real(object, "y");
                    if (object.contains("gid")) o.y -= real(object, "height");
                    auto properties = object.find("properties");
                    if (properties != object.end() && properties->is_array())
                        for (const json& property : *properties)
                            if (property.is_object() && text_of(property, "name") == "id") {
                                o.has_id = true;
                                auto value = property.find("value");
                                o.id_text = value == property.end() ? ""
                                            : value->is_string()    ? value->get<std::string>()
                                                                    : value->dump();
                            }
                    model->objects.push_back(o);
                }
            }
        }
    }

    void tmj(const std::string& path, const std::string& text) {
        json doc = json::parse(text, nullptr, false);
        if (doc.is_discarded() || !doc.is_object()) {
            error(path, "not a Tiled map (JSON that does not parse)");
            return;
        }
        model->width = clamp_int(number(doc, "width"));
        model->height = clamp_int(number(doc, "height"));
        model->tile_width = clamp_int(number(doc, "tilewidth"));
        model->tile_height = clamp_int(number(doc, "tileheight"));
        model->orientation = text_of(doc, "orientation", "orthogonal");
        auto infinite = doc.find("infinite");
        if (infinite != doc.end() && infinite->is_boolean() && infinite->get<bool>()) {
            error(path, "an infinite map is not read; make the map finite (Map Properties, Infinite)");
            return;
        }
        if (!map_check_size(path, *model, errors)) return;
        if (doc.contains("tilesets") && doc["tilesets"].is_array())
            for (const json& node : doc["tilesets"]) {
                if (!node.is_object()) continue;
                MapTileset set;
                set.first_gid = number(node, "firstgid");
                std::string source = text_of(node, "source");
                if (source.empty())
                    tmj_tileset_fields(node, &set, path);
                else
                    external_tileset(path, source, &set);
                model->tilesets.push_back(std::move(set));
            }
        if (doc.contains("layers")) tmj_layers(doc["layers"], path);
    }
};

} // namespace

bool map_check_size(const std::string& path, const MapModel& model, std::vector<std::string>* errors) {
    if (model.orientation != "orthogonal")
        errors->push_back(path + ": a map of orientation " + model.orientation +
                          "; the machine's is orthogonal");
    if (model.tile_width != 8 || model.tile_height != 8)
        errors->push_back(path + ": tiles of " + std::to_string(model.tile_width) + " x " +
                          std::to_string(model.tile_height) + "; the machine's tiles are 8 x 8");
    if (model.width <= 0 || model.height <= 0 || model.width % MAP_ROOM_COLUMNS ||
        model.height % MAP_ROOM_ROWS) {
        errors->push_back(path + ": a map of " + std::to_string(model.width) + " x " +
                          std::to_string(model.height) +
                          " cells is not a whole number of rooms of 32 x 24 cells");
        return false;
    }
    if ((model.width / MAP_ROOM_COLUMNS) * (model.height / MAP_ROOM_ROWS) > MAP_MAX_ROOMS) {
        errors->push_back(path + ": a map of " + std::to_string(model.width / MAP_ROOM_COLUMNS) + " x " +
                          std::to_string(model.height / MAP_ROOM_ROWS) + " rooms; at most " +
                          std::to_string(MAP_MAX_ROOMS) + " are read");
        return false;
    }
    return true;
}

bool map_read(const std::string& path, const std::string& text, const MapFiles& files, MapModel* model,
              std::vector<std::string>* errors) {
    size_t before = errors->size();
    Reader reader{files, model, errors};
    if (starts_like_json(text))
        reader.tmj(path, text);
    else
        reader.tmx(path, text);
    return errors->size() == before;
}
