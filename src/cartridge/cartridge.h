// The cartridge: a ROM image seen through a fixed window (0x0000-0x3FFF,
// image offsets 0x0000-0x3FFF) and a banked window (0x4000-0x7FFF, bank N
// showing offsets N * 0x4000 on), plus 4 KiB of save RAM at 0xE000-0xEFFF.
//
// A write of a non-zero value into the banked window selects that bank.
// The machine side takes an image already in memory (Cartridge_init_image);
// the host reads it and the save file from disk and writes the save file
// back (cartridge_file.h).
#pragma once

#include <array>
#include <cstdint>
#include <span>

constexpr uint16_t ROM_FIRST = 0x0000;
constexpr uint16_t ROM_LAST = 0x7FFF;
constexpr uint16_t STORAGE_FIRST = 0xE000;
constexpr uint16_t STORAGE_LAST = 0xEFFF;
constexpr uint64_t ROM_MAX_SIZE = 16000000;
constexpr uint64_t SAVE_SIZE = 4096;
constexpr uint16_t BANK_SIZE = 0x4000;

struct Cartridge {
    const char* path;      // borrowed from the host, which reads and writes the files
    const char* save_path; // the same; see Cartridge_load
    uint8_t* image;
    uint64_t image_size;
    uint32_t image_crc; // CRC-32 of the image: which cartridge a snapshot belongs to
    uint8_t bank;
    uint8_t* save;
    uint64_t save_size;
    // Counts storage writes that changed a byte, so the host can tell when
    // the save RAM differs from what it last wrote to the file.
    uint64_t save_changes;
    // Set when a save file exists but could not be read at load: it is then
    // never replaced, so data this run could not see is not lost.
    bool keep_save_file;
};

// Copies `image` (at most ROM_MAX_SIZE bytes of it) and gives the cartridge
// blank save RAM, bank 1 selected. Returns false when memory runs out.
bool Cartridge_init_image(Cartridge* cartridge, std::span<const uint8_t> image);
void Cartridge_free_image(Cartridge* cartridge);
uint8_t Cartridge_read_rom(Cartridge* cartridge, uint16_t address);
void Cartridge_write_rom(Cartridge* cartridge, uint16_t address, uint8_t value);
uint8_t Cartridge_read_storage(Cartridge* cartridge, uint16_t address);
void Cartridge_write_storage(Cartridge* cartridge, uint16_t address, uint8_t value);

// CRC-32 as zlib and PNG compute it.
uint32_t Cartridge_crc32(std::span<const uint8_t> bytes);
