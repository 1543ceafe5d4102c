// lumacor-gfx: PNG pictures to the machine's tiles, map and palette, and
// video memory back to PNG. See --help and docs/graphics.md.
//
// The conversion itself is the core in gfx.h; this file reads and writes the
// files. Nothing is written unless the whole conversion succeeds, and every
// output goes through a temporary file renamed into place, so a failed run
// never leaves half a file behind.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "computer/snapshot.h"
#include "gfx.h"
#include "png/png_codec.h"

namespace {

constexpr int EXIT_PROBLEMS = 1;

constexpr CliTool TOOL = {
    "lumacor-gfx",
    "Converts PNG pictures to the machine's tiles, tile map and palette, and video memory back to PNG. "
    "With --vram or --map the picture is a screen: black and transparent pixels are left undrawn and "
    "patterns are shared. Otherwise it is a sheet of tiles, one per 8 x 8 cell, and only transparent "
    "pixels are undrawn (--screen-art and --sheet force either). See docs/graphics.md.",
    "lumacor-gfx title.png --vram -o title.vram\n"
    "lumacor-gfx sprites.png --tiles --palette -o sprites.inc --first-tile 128\n"
    "lumacor-gfx --from-state game.state1 --screen -o screen.png",
    "0  done\n"
    "1  the picture breaks the machine's rules, or a file could not be read or written\n"
    "2  wrong usage",
};

struct Arguments {
    std::string picture_arg, output_arg, preview_arg, palette_from_arg, from_vram_arg, from_state_arg;
    // The options given, null where absent.
    const char* picture = nullptr;
    const char* output = nullptr;
    const char* preview = nullptr;
    const char* palette_from = nullptr;
    const char* from_vram = nullptr;
    const char* from_state = nullptr;
    std::string name;
    int first_tile = 0;
    unsigned parts = 0;
    bool vram = false;
    bool report = false;
    bool quantize = false;
    bool screen = false;
    bool force_sheet = false;
    bool force_screen = false;
};

// Returns the exit status when the program ends here (a usage error, --help),
// or -1 to go on.
int parse_arguments(int argc, char** argv, Arguments* args) {
    CLI::App app;
    Cli_init(app, TOOL);
    bool tiles = false, map = false, palette = false;
    app.add_option("PICTURE", args->picture_arg, "the PNG picture to convert")->type_name("PICTURE.png");
    app.add_option("-o", args->output_arg, "the output file")->type_name("FILE");
    app.add_flag("--vram", args->vram, "write 8192 bytes of video memory that show a 256 x 192 screen");
    app.add_flag("--tiles", tiles, "write the tile patterns as an assembler include");
    app.add_flag("--map", map, "write the tile map as an assembler include");
    app.add_flag("--palette", palette, "write the palette as an assembler include");
    app.add_flag("--screen-art", args->force_screen, "treat the picture as a screen");
    app.add_flag("--sheet", args->force_sheet, "treat the picture as a sheet of tiles");
    app.add_option("--name", args->name, "prefix of the include's labels (default: the picture's name)");
    app.add_option("--first-tile", args->first_tile, "place the patterns from tile N on (default 0)")
        ->type_name("N")
        ->check(CLI::Range(0, 255).description(""));
    app.add_option("--palette-from", args->palette_from_arg, "keep the palette order of another picture")
        ->type_name("FILE");
    app.add_flag("--quantize", args->quantize, "reduce the picture to what the machine can show first");
    app.add_flag("--report", args->report, "list colours, patterns and sharing");
    app.add_option("--preview", args->preview_arg, "write what the machine will show")->type_name("OUT.png");
    app.add_option("--from-vram", args->from_vram_arg, "video memory to a 16 x 16 sheet of its 256 patterns")
        ->type_name("FILE");
    app.add_option("--from-state", args->from_state_arg,
                   "the same from the video memory in a saved machine state")
        ->type_name("FILE");
    app.add_flag("--screen", args->screen, "with --from-vram or --from-state: the composed screen instead");
    if (int status = Cli_parse(app, TOOL, argc, argv); status >= 0) return status;
    auto given = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };
    args->picture = given(args->picture_arg);
    args->output = given(args->output_arg);
    args->preview = given(args->preview_arg);
    args->palette_from = given(args->palette_from_arg);
    args->from_vram = given(args->from_vram_arg);
    args->from_state = given(args->from_state_arg);
    args->parts =
        (tiles ? GFX_PART_TILES : 0u) | (map ? GFX_PART_MAP : 0u) | (palette ? GFX_PART_PALETTE : 0u);

    bool from = args->from_vram || args->from_state;
    if (from == (args->picture != nullptr) || (args->from_vram && args->from_state))
        return Cli_usage_error(app, TOOL, "give one picture, or one of --from-vram and --from-state");
    if (from && !args->output) return Cli_usage_error(app, TOOL, "-o names the PNG file to write");
    if (!from && (args->vram || args->parts) && !args->output)
        return Cli_usage_error(app, TOOL, "-o names the file to write");
    if (!from && !args->vram && !args->parts && !args->report && !args->preview)
        return Cli_usage_error(
            app, TOOL, "nothing to do: give --vram, --tiles, --map, --palette, --report or --preview");
    if (args->vram && args->parts)
        return Cli_usage_error(app, TOOL,
                               "--vram writes a whole screen; --tiles, --map and --palette write include "
                               "files instead");
    return -1;
}

// Writes a regular file through a temporary file renamed into place; a
// device or pipe (/dev/stdout, a fifo) is written as it is, since renaming
// over it would replace it.
bool write_file(const char* path, const void* data, size_t size) {
    struct stat info;
    if (::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        std::FILE* file = std::fopen(path, "wb");
        bool written = file && std::fwrite(data, 1, size, file) == size;
        if (file && std::fclose(file) != 0) written = false;
        if (!written) std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));
        return written;
    }
    std::string temporary = std::string(path) + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool written = file && std::fwrite(data, 1, size, file) == size;
    if (file && std::fclose(file) != 0) written = false;
    if (written && std::rename(temporary.c_str(), path) == 0) return true;
    std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));
    std::remove(temporary.c_str());
    return false;
}

bool write_png(const char* path, const GfxPicture& picture) {
    std::vector<uint8_t> png;
    std::string error;
    if (!Png_encode(picture.rgba.data(), picture.width, picture.height, true, &png, &error)) {
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
        return false;
    }
    return write_file(path, png.data(), png.size());
}

bool read_picture(const char* path, GfxPicture* picture) {
    std::vector<uint8_t> bytes;
    std::string error;
    PngPicture png;
    if (!Png_read_file(path, &bytes, &error) || !Png_decode(bytes, &png, &error)) {
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
        return false;
    }
    *picture = {png.width, png.height, std::move(png.rgba)};
    return true;
}

// The name of a picture without its folder and extension, as a label: letters,
// digits and underscores.
std::string label_from_path(const char* path) {
    std::string name = path;
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    size_t dot = name.find('.');
    if (dot != std::string::npos) name.erase(dot);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) name = "art_" + name;
    return name;
}

int from_vram(const Arguments& args) {
    const char* path = args.from_vram ? args.from_vram : args.from_state;
    std::vector<uint8_t> bytes;
    std::string error;
    if (!Png_read_file(path, &bytes, &error)) {
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
        return EXIT_PROBLEMS;
    }
    std::array<uint8_t, VRAM_SIZE> vram{};
    if (args.from_state) {
        if (!Snapshot_read_vram(bytes, vram, &error)) {
            std::fprintf(stderr, "%s: %s\n", path, error.c_str());
            return EXIT_PROBLEMS;
        }
    } else if (bytes.size() != VRAM_SIZE) {
        std::fprintf(stderr, "%s: %zu bytes; video memory is 8192\n", path, bytes.size());
        return EXIT_PROBLEMS;
    } else {
        std::copy(bytes.begin(), bytes.end(), vram.begin());
    }
    GfxPicture picture = args.screen ? Gfx_vram_screen(vram) : Gfx_vram_sheet(vram);
    return write_png(args.output, picture) ? 0 : EXIT_PROBLEMS;
}

int convert(const Arguments& args) {
    GfxPicture picture;
    if (!read_picture(args.picture, &picture)) return EXIT_PROBLEMS;

    GfxOptions options;
    bool screen =
        args.force_screen ||
        ((args.vram || (args.parts & GFX_PART_MAP) || !(args.parts & (GFX_PART_TILES | GFX_PART_PALETTE))) &&
         !args.force_sheet);
    options.mode = screen ? GfxMode::screen : GfxMode::sheet;
    options.first_tile = args.first_tile;
    options.whole_screen = args.vram;
    if (args.palette_from) {
        GfxPicture order;
        if (!read_picture(args.palette_from, &order)) return EXIT_PROBLEMS;
        options.palette = Gfx_palette_order(order);
    }
    double quantize_error = 0;
    if (args.quantize) quantize_error = Gfx_quantize(&picture, options);

    GfxArt art;
    if (!Gfx_convert(picture, options, &art)) {
        // A problem of one cell is placed like a line of a source file.
        for (const std::string& problem : art.errors)
            std::fprintf(stderr, "%s:%s%s\n", args.picture, problem.starts_with("cell ") ? "" : " ",
                         problem.c_str());
        return EXIT_PROBLEMS;
    }
    if (args.report) {
        std::printf("%s: %s %d x %d\n", args.picture, screen ? "screen" : "sheet", picture.width,
                    picture.height);
        if (args.quantize)
            std::printf("quantized: mean error %.2f a colour channel (0-255)\n", quantize_error);
        std::fputs(Gfx_report(art).c_str(), stdout);
    }
    if (args.vram) {
        std::array<uint8_t, VRAM_SIZE> vram{};
        Gfx_build_vram(art, vram);
        if (!write_file(args.output, vram.data(), vram.size())) return EXIT_PROBLEMS;
    } else if (args.parts) {
        std::string name = args.name.empty() ? label_from_path(args.picture) : args.name;
        std::string source = args.picture;
        size_t slash = source.find_last_of('/');
        if (slash != std::string::npos) source.erase(0, slash + 1);
        std::string text = Gfx_include_text(art, args.parts, name, source);
        if (!write_file(args.output, text.data(), text.size())) return EXIT_PROBLEMS;
    }
    if (args.preview) {
        // A screen shows black where nothing is drawn; a sheet keeps it
        // transparent, as a sprite shows what lies behind it.
        GfxPicture shown = Gfx_preview(art);
        if (screen)
            for (size_t i = 3; i < shown.rgba.size(); i += 4) shown.rgba[i] = 255;
        if (!write_png(args.preview, shown)) return EXIT_PROBLEMS;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (int status = parse_arguments(argc, argv, &args); status >= 0) return status;
    return (args.from_vram || args.from_state) ? from_vram(args) : convert(args);
}
