#include "screenshot/screenshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "gpu/gpu.h"
#include "png/png_codec.h"

namespace {

constexpr int SHOT_NUMBER_LIMIT = 9999;

} // namespace

std::vector<uint8_t> Screenshot_encode_png(const uint8_t* pixels) {
    // The frame's texels are blue, green, red, alpha; the file is RGB.
    std::vector<uint8_t> rgba(static_cast<size_t>(FRAME_WIDTH) * FRAME_HEIGHT * 4);
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        const uint8_t* in = pixels + static_cast<size_t>(y) * FRAME_PITCH;
        uint8_t* out = rgba.data() + static_cast<size_t>(y) * FRAME_WIDTH * 4;
        for (int x = 0; x < FRAME_WIDTH; ++x, in += 4, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = 0xFF;
        }
    }
    std::vector<uint8_t> png;
    std::string error;
    if (!Png_encode(rgba.data(), FRAME_WIDTH, FRAME_HEIGHT, false, &png, &error))
        std::fprintf(stderr, "PNG: %s\n", error.c_str());
    return png;
}

bool Screenshot_write_png_file(std::FILE* file, const uint8_t* pixels) {
    std::vector<uint8_t> png = Screenshot_encode_png(pixels);
    return !png.empty() && std::fwrite(png.data(), 1, png.size(), file) == png.size();
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
