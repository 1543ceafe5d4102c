// The cartridge: the ROM image named on the command line, seen through a
// fixed window (0x0000-0x3FFF, image offsets 0x0000-0x3FFF) and a banked
// window (0x4000-0x7FFF, bank N showing offsets N * 0x4000 on), plus 4 KiB
// of save RAM at 0xE000-0xEFFF kept in the file "<rom path>.sav".
//
// A write of a non-zero value into the banked window selects that bank.
// Cartridge_load reads the image and the save file; Cartridge_free writes the
// save file back and releases everything.
#pragma once

#include <cstdint>
#include <string>

constexpr uint16_t ROM_FIRST = 0x0000;
constexpr uint16_t ROM_LAST = 0x7FFF;
constexpr uint16_t STORAGE_FIRST = 0xE000;
constexpr uint16_t STORAGE_LAST = 0xEFFF;
constexpr uint64_t ROM_MAX_SIZE = 16000000;
constexpr uint64_t SAVE_SIZE = 4096;
constexpr uint16_t BANK_SIZE = 0x4000;

struct Cartridge {
    const char* path; // borrowed from the caller
    uint8_t* image;
    uint64_t image_size;
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

void Cartridge_load(Cartridge* cartridge, const char* path);
void Cartridge_free(Cartridge* cartridge);
uint8_t Cartridge_read_rom(Cartridge* cartridge, uint16_t address);
void Cartridge_write_rom(Cartridge* cartridge, uint16_t address, uint8_t value);
uint8_t Cartridge_read_storage(Cartridge* cartridge, uint16_t address);
void Cartridge_write_storage(Cartridge* cartridge, uint16_t address, uint8_t value);

// "<rom path>.sav"; empty when the cartridge has no path.
std::string Cartridge_save_path(const Cartridge* cartridge);

// Writes the save RAM to its file without ever leaving a half-written file
// behind: the bytes go to a temporary file in the same directory, which then
// replaces the save file. On failure prints one line with the reason on
// standard error and returns false. Returns true when there is nothing to save.
bool Cartridge_write_save(const Cartridge* cartridge);

// The same write without printing: on failure `error` receives the reason,
// as one line without its newline.
bool Cartridge_store_save(const Cartridge* cartridge, std::string* error);
