// The cartridge's files on the host: the ROM image named on the command line
// and its save RAM kept in "<rom path>.sav". Cartridge_load reads both;
// Cartridge_free writes the save file back and releases everything.
#pragma once

#include <string>

#include "cartridge/cartridge.h"

void Cartridge_load(Cartridge* cartridge, const char* path);
void Cartridge_free(Cartridge* cartridge);

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
