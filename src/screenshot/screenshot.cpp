#include "screenshot/screenshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "cartridge/cartridge.h"
#include "gpu/gpu.h"

namespace {

constexpr int SHOT_NUMBER_LIMIT = 9999;
constexpr int BYTES_PER_TEXEL = 3;
// A repeat of the texel to the left: the one distance the encoder uses.
constexpr int REPEAT_DISTANCE = BYTES_PER_TEXEL;
constexpr int MAX_MATCH = 258;

// Deflate's bit stream: bits go in from the least significant end of each byte.
struct BitWriter {
    std::vector<uint8_t> bytes;
    uint32_t bits = 0;
    int count = 0;

    void put(uint32_t value, int n) {
        bits |= value << count;
        count += n;
        while (count >= 8) {
            bytes.push_back(static_cast<uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    // Huffman codes are defined most significant bit first.
    void put_code(uint32_t code, int n) {
        uint32_t reversed = 0;
        for (int i = 0; i < n; ++i) reversed |= ((code >> i) & 1) << (n - 1 - i);
        put(reversed, n);
    }
    void flush() {
        if (count > 0) bytes.push_back(static_cast<uint8_t>(bits));
        bits = 0;
        count = 0;
    }
};

// A symbol of the fixed literal/length code.
void put_symbol(BitWriter* w, int symbol) {
    if (symbol < 144)
        w->put_code(static_cast<uint32_t>(0x30 + symbol), 8);
    else if (symbol < 256)
        w->put_code(static_cast<uint32_t>(0x190 + symbol - 144), 9);
    else if (symbol < 280)
        w->put_code(static_cast<uint32_t>(symbol - 256), 7);
    else
        w->put_code(static_cast<uint32_t>(0xC0 + symbol - 280), 8);
}

constexpr std::array<uint16_t, 29> LENGTH_BASE{3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                               15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                               67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> LENGTH_EXTRA{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

void put_match(BitWriter* w, int length) {
    int code = 28;
    while (LENGTH_BASE[static_cast<size_t>(code)] > length) --code;
    put_symbol(w, 257 + code);
    w->put(static_cast<uint32_t>(length - LENGTH_BASE[static_cast<size_t>(code)]),
           LENGTH_EXTRA[static_cast<size_t>(code)]);
    w->put_code(2, 5); // distance code 2: a distance of 3, no extra bits
}

// One fixed-Huffman deflate block: literals, and runs that repeat the texel
// to the left, which is most of what tiles and sprites draw.
std::vector<uint8_t> deflate(const std::vector<uint8_t>& data) {
    BitWriter w;
    w.put(1, 1); // the last block
    w.put(1, 2); // fixed codes
    size_t i = 0;
    while (i < data.size()) {
        size_t length = 0;
        if (i >= REPEAT_DISTANCE)
            while (length < MAX_MATCH && i + length < data.size() &&
                   data[i + length] == data[i + length - REPEAT_DISTANCE])
                ++length;
        if (length >= 3) {
            put_match(&w, static_cast<int>(length));
            i += length;
        } else {
            put_symbol(&w, data[i++]);
        }
    }
    put_symbol(&w, 256);
    w.flush();
    return w.bytes;
}

uint32_t adler32(const std::vector<uint8_t>& data) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

void put_be32(std::vector<uint8_t>* out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

void put_chunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
    put_be32(out, static_cast<uint32_t>(data.size()));
    size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    put_be32(out, Cartridge_crc32(std::span(*out).subspan(start)));
}

} // namespace

std::vector<uint8_t> Screenshot_encode_png(const uint8_t* pixels) {
    // Each row: filter type 0, then red, green, blue per texel.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(FRAME_HEIGHT) * (1 + FRAME_WIDTH * BYTES_PER_TEXEL));
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        raw.push_back(0);
        const uint8_t* in = pixels + static_cast<size_t>(y) * FRAME_PITCH;
        for (int x = 0; x < FRAME_WIDTH; ++x, in += 4) {
            raw.push_back(in[2]);
            raw.push_back(in[1]);
            raw.push_back(in[0]);
        }
    }
    std::vector<uint8_t> zlib{0x78, 0x01};
    std::vector<uint8_t> compressed = deflate(raw);
    zlib.insert(zlib.end(), compressed.begin(), compressed.end());
    put_be32(&zlib, adler32(raw));

    std::vector<uint8_t> header;
    put_be32(&header, FRAME_WIDTH);
    put_be32(&header, FRAME_HEIGHT);
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB, deflate, no filter choice, no interlace

    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    put_chunk(&png, "IHDR", header);
    put_chunk(&png, "IDAT", zlib);
    put_chunk(&png, "IEND", {});
    return png;
}

bool Screenshot_write_png_file(std::FILE* file, const uint8_t* pixels) {
    std::vector<uint8_t> png = Screenshot_encode_png(pixels);
    return std::fwrite(png.data(), 1, png.size(), file) == png.size();
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
