#include "cartridge/cartridge.h"

#include <cstdlib>
#include <cstring>

#include "computer/log.h"

uint32_t Cartridge_crc32(std::span<const uint8_t> bytes) {
    // The reflected polynomial of zlib and PNG, eight bytes a step through
    // eight tables (the rewind history checks a snapshot every frame).
    static const auto tables = [] {
        std::array<std::array<uint32_t, 256>, 8> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (size_t k = 1; k < 8; ++k)
            for (uint32_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
        return t;
    }();
    auto le32 = [](const uint8_t* p) {
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    };
    uint32_t crc = 0xFFFFFFFFu;
    const uint8_t* p = bytes.data();
    size_t n = bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        uint32_t one = le32(p) ^ crc;
        uint32_t two = le32(p + 4);
        crc = tables[7][one & 0xFF] ^ tables[6][(one >> 8) & 0xFF] ^ tables[5][(one >> 16) & 0xFF] ^
              tables[4][one >> 24] ^ tables[3][two & 0xFF] ^ tables[2][(two >> 8) & 0xFF] ^
              tables[1][(two >> 16) & 0xFF] ^ tables[0][two >> 24];
    }
    for (; n > 0; --n, ++p) crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool Cartridge_init_image(Cartridge* cartridge, std::span<const uint8_t> image) {
    cartridge->image = nullptr;
    cartridge->image_size = 0;
    cartridge->image_crc = 0;
    cartridge->save = nullptr;
    cartridge->save_size = 0;
    cartridge->save_changes = 0;
    cartridge->bank = 1;
    if (image.size() > ROM_MAX_SIZE) image = image.first(ROM_MAX_SIZE);
    // One byte more than needed, so that an empty image still has a buffer.
    auto* buffer = static_cast<uint8_t*>(std::malloc(image.size() + 1));
    auto* save = static_cast<uint8_t*>(std::calloc(SAVE_SIZE, 1));
    if (!buffer || !save) {
        std::free(buffer);
        std::free(save);
        return false;
    }
    if (!image.empty()) std::memcpy(buffer, image.data(), image.size());
    cartridge->image = buffer;
    cartridge->image_size = image.size();
    cartridge->image_crc = Cartridge_crc32(image);
    cartridge->save = save;
    cartridge->save_size = SAVE_SIZE;
    return true;
}

void Cartridge_free_image(Cartridge* cartridge) {
    std::free(cartridge->image);
    cartridge->image = nullptr;
    cartridge->image_size = 0;
    std::free(cartridge->save);
    cartridge->save = nullptr;
    cartridge->save_size = 0;
}

uint8_t Cartridge_read_rom(Cartridge* cartridge, uint16_t address) {
    if (address > ROM_LAST) return 0;
    uint64_t offset = address;
    if (address >= BANK_SIZE) offset = address - BANK_SIZE + uint64_t{cartridge->bank} * BANK_SIZE;
    return offset < cartridge->image_size ? cartridge->image[offset] : 0;
}

void Cartridge_write_rom(Cartridge* cartridge, uint16_t address, uint8_t value) {
    if (address < BANK_SIZE || value == 0) return;
    Log_line("Bank switched to: %d\n", value);
    cartridge->bank = value;
}

uint8_t Cartridge_read_storage(Cartridge* cartridge, uint16_t address) {
    return cartridge->save ? cartridge->save[address - STORAGE_FIRST] : 0;
}

void Cartridge_write_storage(Cartridge* cartridge, uint16_t address, uint8_t value) {
    if (!cartridge->save) return;
    uint8_t& cell = cartridge->save[address - STORAGE_FIRST];
    if (cell == value) return;
    cell = value;
    ++cartridge->save_changes;
}
