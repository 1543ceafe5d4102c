// lumacor-map: a Tiled map (TMX or TMJ) to the machine's rooms, patterns,
// palette and object tables, as an assembler include. See docs/maps.md.
//
// The conversion is the core in map.h; this file reads the map, its
// tilesets and their images, and writes the results. Nothing is written
// unless the whole map converts, and every output goes through a temporary
// file renamed into place.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "map.h"
#include "png/png_codec.h"

namespace {

constexpr int EXIT_PROBLEMS = 1;

const CliTool TOOL = {
    "lumacor-map",
    "Converts a Tiled map (TMX or TMJ) into the machine's rooms of 32 x 24 cells, their tile patterns, "
    "palette and object tables, as an assembler include.",
    "lumacor-map level.tmx -o level.inc --name level\n"
    "lumacor-map level.tmj -o level.inc --name level --first-tile 96 --pack --preview level.png",
    "0  done\n"
    "1  the map has errors or a file failed (nothing written)\n"
    "2  wrong usage",
};

bool read_text(const std::string& path, std::string* text, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::strerror(errno);
        return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    *text = bytes.str();
    return true;
}

bool read_picture(const std::string& path, GfxPicture* picture, std::string* error) {
    std::vector<uint8_t> bytes;
    PngPicture png;
    if (!Png_read_file(path.c_str(), &bytes, error) || !Png_decode(bytes, &png, error)) return false;
    *picture = {png.width, png.height, std::move(png.rgba)};
    return true;
}

bool write_file(const std::string& path, const void* data, size_t size) {
    std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool written = file && std::fwrite(data, 1, size, file) == size;
    if (file && std::fclose(file) != 0) written = false;
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
    std::remove(temporary.c_str());
    return false;
}

std::string escape_make(const std::string& path) {
    std::string s;
    for (char c : path) {
        if (c == ' ' || c == '#') s += '\\';
        if (c == '$') s += '$';
        s += c;
    }
    return s;
}

std::string base_name(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The map's file name without its folder and extension, as a label.
std::string label_from_path(const std::string& path) {
    std::string name = base_name(path);
    name.erase(std::min(name.size(), name.find('.')));
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) name = "map_" + name;
    return name;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app;
    Cli_init(app, TOOL);
    std::string map_path, output, name, palette_from, preview, depfile;
    int first_tile = 0;
    bool pack = false;
    app.add_option("MAP", map_path, "the map, a .tmx or .tmj file saved by Tiled")->required();
    app.add_option("-o,--output", output, "the assembler include to write");
    app.add_option("--name", name, "prefix of the include's labels (default: the map's file name)");
    app.add_option("--first-tile", first_tile, "place the patterns from tile N on (default 0)")
        ->check(CLI::Range(0, 255));
    app.add_flag("--pack", pack, "store the rooms run-length packed, for map_unpack in map.inc");
    app.add_option("--palette-from", palette_from, "keep the palette order of a PNG picture");
    app.add_option("--preview", preview,
                   "write every room as the machine shows it, in the room grid, as PNG");
    app.add_option("-d,--depfile", depfile, "write a make-style list of the files the map was read from");
    if (int status = Cli_parse(app, TOOL, argc, argv); status >= 0) return status;
    if (output.empty() && preview.empty()) {
        std::fprintf(stderr, "lumacor-map: nothing to do: give -o FILE, --preview FILE or both\n");
        return CLI_USAGE_ERROR;
    }

    std::vector<std::string> read_files{map_path};
    MapFiles files;
    files.read_text = [&](const std::string& path, std::string* text, std::string* error) {
        read_files.push_back(path);
        return read_text(path, text, error);
    };
    files.read_image = [&](const std::string& path, GfxPicture* picture, std::string* error) {
        read_files.push_back(path);
        return read_picture(path, picture, error);
    };

    std::string text, error;
    if (!read_text(map_path, &text, &error)) {
        std::fprintf(stderr, "%s: %s\n", map_path.c_str(), error.c_str());
        return EXIT_PROBLEMS;
    }
    MapOptions options;
    options.first_tile = first_tile;
    if (!palette_from.empty()) {
        GfxPicture order;
        if (!read_picture(palette_from, &order, &error)) {
            std::fprintf(stderr, "%s: %s\n", palette_from.c_str(), error.c_str());
            return EXIT_PROBLEMS;
        }
        read_files.push_back(palette_from);
        options.palette = Gfx_palette_order(order);
    }
    MapLevel level;
    if (!Map_convert(map_path, text, options, files, &level)) {
        for (const std::string& problem : level.errors) std::fprintf(stderr, "%s\n", problem.c_str());
        return EXIT_PROBLEMS;
    }

    if (!output.empty()) {
        if (name.empty()) name = label_from_path(map_path);
        std::string include = Map_include_text(level, name, base_name(map_path), pack);
        if (!write_file(output, include.data(), include.size())) return EXIT_PROBLEMS;
    }
    if (!preview.empty()) {
        GfxPicture picture = Map_preview(level);
        std::vector<uint8_t> png;
        if (!Png_encode(picture.rgba.data(), picture.width, picture.height, false, &png, &error)) {
            std::fprintf(stderr, "%s: %s\n", preview.c_str(), error.c_str());
            return EXIT_PROBLEMS;
        }
        if (!write_file(preview, png.data(), png.size())) return EXIT_PROBLEMS;
    }
    if (!depfile.empty()) {
        std::string deps = escape_make(output.empty() ? preview : output) + ":";
        for (const std::string& file : read_files) deps += " \\\n  " + escape_make(file);
        deps += "\n";
        if (!write_file(depfile, deps.data(), deps.size())) return EXIT_PROBLEMS;
    }
    return 0;
}
