#include "screenshot/screenshot.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "gpu/gpu.h"

namespace {

constexpr int SHOT_NUMBER_LIMIT = 9999;

// libpng reports errors by longjmp; keep that inside this one function, with
// nothing on its stack that needs a destructor.
bool encode(std::FILE* file, png_bytep* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, FRAME_WIDTH, FRAME_HEIGHT, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool Screenshot_write_png_file(std::FILE* file, const uint8_t* pixels) {
    std::vector<uint8_t> rgb(static_cast<size_t>(FRAME_WIDTH) * FRAME_HEIGHT * 3);
    std::array<png_bytep, FRAME_HEIGHT> rows{};
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        const uint8_t* in = pixels + static_cast<size_t>(y) * FRAME_PITCH;
        uint8_t* out = rgb.data() + static_cast<size_t>(y) * FRAME_WIDTH * 3;
        rows[static_cast<size_t>(y)] = out;
        for (int x = 0; x < FRAME_WIDTH; ++x, in += 4, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    if (!encode(file, rows.data())) {
        std::fprintf(stderr, "PNG could not be encoded\n");
        return false;
    }
    return true;
}

bool Screenshot_write_png(const char* path, const uint8_t* pixels) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));
        return false;
    }
    bool written = Screenshot_write_png_file(file, pixels);
    if (std::fclose(file) != 0 && written) {
        std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));
        written = false;
    }
    return written;
}

std::string Screenshot_save_next(const char* rom_path, const uint8_t* pixels) {
    for (int number = 1; number <= SHOT_NUMBER_LIMIT; ++number) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".shot-%04d.png", number);
        std::string path = std::string(rom_path) + suffix;
        // O_EXCL makes taking a number and creating its file one step, so two
        // quick presses never pick the same name.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
            return {};
        }
        std::FILE* file = ::fdopen(fd, "wb");
        if (!file) {
            ::close(fd);
            ::unlink(path.c_str());
            return {};
        }
        bool written = Screenshot_write_png_file(file, pixels);
        if (std::fclose(file) != 0) written = false;
        if (!written) {
            ::unlink(path.c_str());
            return {};
        }
        return path;
    }
    std::fprintf(stderr, "%s: no free screenshot number left\n", rom_path);
    return {};
}
