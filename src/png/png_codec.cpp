#include "png/png_codec.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool Png_decode(std::span<const uint8_t> bytes, PngPicture* picture, std::string* error, size_t max_pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        *error = image.message[0] ? image.message : "not a PNG file";
        png_image_free(&image);
        return false;
    }
    if (image.width == 0 || image.height == 0 ||
        static_cast<uint64_t>(image.width) * image.height > max_pixels) {
        *error = "picture of " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                 " pixels is too large";
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
        *error = image.message[0] ? image.message : "damaged PNG data";
        png_image_free(&image);
        return false;
    }
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->rgba = std::move(rgba);
    png_image_free(&image);
    return true;
}

bool Png_encode(const uint8_t* rgba, int width, int height, bool keep_alpha, std::vector<uint8_t>* out,
                std::string* error) {
    std::vector<uint8_t> rgb;
    const uint8_t* pixels = rgba;
    if (!keep_alpha) {
        rgb.resize(static_cast<size_t>(width) * height * 3);
        for (size_t i = 0, o = 0; o < rgb.size(); i += 4, o += 3) {
            rgb[o] = rgba[i];
            rgb[o + 1] = rgba[i + 1];
            rgb[o + 2] = rgba[i + 2];
        }
        pixels = rgb.data();
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = keep_alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, pixels, 0, nullptr)) {
        *error = image.message;
        png_image_free(&image);
        return false;
    }
    out->resize(size);
    bool written = png_image_write_to_memory(&image, out->data(), &size, 0, pixels, 0, nullptr);
    if (!written) *error = image.message;
    out->resize(written ? size : 0);
    png_image_free(&image);
    return written;
}

bool Png_read_file(const char* path, std::vector<uint8_t>* bytes, std::string* error) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        *error = std::strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->insert(bytes->end(), buffer, buffer + n);
    bool ok = !std::ferror(file);
    if (!ok) *error = std::strerror(errno);
    std::fclose(file);
    return ok;
}
