// lumacor-gfx: PNG pictures to the machine's tiles, map and palette, and
// video memory back to PNG. See USAGE below and docs/graphics.md.
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

#include "computer/snapshot.h"
#include "gfx.h"
#include "png/png_codec.h"

namespace {

constexpr int EXIT_PROBLEMS = 1;
constexpr int EXIT_USAGE = 2;

constexpr const char* USAGE =
    "usage: lumacor-gfx PICTURE.png [what to write] [options]\n"
    "       lumacor-gfx --from-vram FILE.vram -o OUT.png [--screen]\n"
    "       lumacor-gfx --from-state FILE -o OUT.png [--screen]\n"
    "what to write (to -o FILE):\n"
    "  --vram               8192 bytes of video memory that show a 256 x 192 screen\n"
    "  --tiles              the tile patterns as an assembler include\n"
    "  --map                the tile map as an assembler include\n"
    "  --palette            the palette as an assembler include\n"
    "  With --vram or --map the picture is a screen: black and transparent pixels are\n"
    "  left undrawn and patterns are shared. Otherwise it is a sheet of tiles, one per\n"
    "  8 x 8 cell, and only transparent pixels are undrawn (--screen-art, --sheet force either).\n"
    "options:\n"
    "  -o FILE              the output file\n"
    "  --name NAME          prefix of the include's labels (default: the picture's name)\n"
    "  --first-tile N       place the patterns from tile N on (default 0)\n"
    "  --palette-from FILE  keep the palette order of another picture\n"
    "  --quantize           reduce the picture to what the machine can show first\n"
    "  --report             list colours, patterns and sharing\n"
    "  --preview OUT.png    write what the machine will show\n"
    "  --from-vram FILE     video memory to a 16 x 16 sheet of its 256 patterns\n"
    "  --from-state FILE    the same from the video memory in a saved machine state\n"
    "  --screen             with --from-vram or --from-state: the composed screen instead\n"
    "exit status: 0 done, 1 the picture breaks the machine's rules or a file failed,\n"
    "             2 bad arguments\n";

struct Arguments {
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

bool parse_arguments(int argc, char** argv, Arguments* args) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "lumacor-gfx: %s needs a value\n", arg.c_str());
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "-o") {
            if (!(args->output = value())) return false;
        } else if (arg == "--vram") {
            args->vram = true;
        } else if (arg == "--tiles") {
            args->parts |= GFX_PART_TILES;
        } else if (arg == "--map") {
            args->parts |= GFX_PART_MAP;
        } else if (arg == "--palette") {
            args->parts |= GFX_PART_PALETTE;
        } else if (arg == "--name") {
            const char* name = value();
            if (!name) return false;
            args->name = name;
        } else if (arg == "--first-tile") {
            const char* text = value();
            if (!text) return false;
            char* end = nullptr;
            long n = std::strtol(text, &end, 0);
            if (*text == '\0' || *end != '\0' || n < 0 || n > 255) {
                std::fprintf(stderr, "lumacor-gfx: --first-tile %s: not a tile number (0-255)\n", text);
                return false;
            }
            args->first_tile = static_cast<int>(n);
        } else if (arg == "--palette-from") {
            if (!(args->palette_from = value())) return false;
        } else if (arg == "--preview") {
            if (!(args->preview = value())) return false;
        } else if (arg == "--from-vram") {
            if (!(args->from_vram = value())) return false;
        } else if (arg == "--from-state") {
            if (!(args->from_state = value())) return false;
        } else if (arg == "--screen") {
            args->screen = true;
        } else if (arg == "--sheet") {
            args->force_sheet = true;
        } else if (arg == "--screen-art") {
            args->force_screen = true;
        } else if (arg == "--report") {
            args->report = true;
        } else if (arg == "--quantize") {
            args->quantize = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "lumacor-gfx: unknown option %s\n", arg.c_str());
            return false;
        } else if (!args->picture) {
            args->picture = argv[i];
        } else {
            std::fprintf(stderr, "lumacor-gfx: one picture at a time (%s)\n", argv[i]);
            return false;
        }
    }
    bool from = args->from_vram || args->from_state;
    if (from == (args->picture != nullptr) || (args->from_vram && args->from_state)) {
        std::fprintf(stderr, "lumacor-gfx: give one picture, or one of --from-vram and --from-state\n");
        return false;
    }
    if (from && !args->output) {
        std::fprintf(stderr, "lumacor-gfx: -o names the PNG file to write\n");
        return false;
    }
    if (!from && (args->vram || args->parts) && !args->output) {
        std::fprintf(stderr, "lumacor-gfx: -o names the file to write\n");
        return false;
    }
    if (!from && !args->vram && !args->parts && !args->report && !args->preview) {
        std::fprintf(stderr, "lumacor-gfx: nothing to do: give --vram, --tiles, --map, --palette, --report "
                             "or --preview\n");
        return false;
    }
    if (args->vram && args->parts) {
        std::fprintf(stderr, "lumacor-gfx: --vram writes a whole screen; --tiles, --map and --palette "
                             "write include files instead\n");
        return false;
    }
    return true;
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
    if (!parse_arguments(argc, argv, &args)) {
        std::fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    return (args.from_vram || args.from_state) ? from_vram(args) : convert(args);
}
