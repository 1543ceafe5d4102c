// The cartridge's files on the host: the ROM image named on the command line
// and its save RAM kept in "<rom path>.sav". Cartridge_load reads both;
// Cartridge_free writes the save file back and releases everything.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "cartridge/cartridge.h"

// `save_path` names the save file; null means "<path>.sav", and an empty
// string none at all: the save RAM starts blank and is never written.
void Cartridge_load(Cartridge* cartridge, const char* path, const char* save_path = nullptr);
void Cartridge_free(Cartridge* cartridge);

// The save file's path: the one given to Cartridge_load, else "<rom
// path>.sav"; empty when there is none.
std::string Cartridge_save_path(const Cartridge* cartridge);

// Writes the save RAM to its file without ever leaving a half-written file
// behind: the bytes go to a temporary file in the same directory, which then
// replaces the save file. On failure prints one line with the reason on
// standard error and returns false. Returns true when there is nothing to save.
bool Cartridge_write_save(const Cartridge* cartridge);

// The same write without printing: on failure `error` receives the reason,
// as one line without its newline.
bool Cartridge_store_save(const Cartridge* cartridge, std::string* error);

// Replaces the file at `path` with `bytes` without ever leaving it half
// written: they go to a temporary file beside it, which is flushed and then
// renamed over it. On failure `reason` says which step failed and why.
bool File_replace(const std::string& path, std::span<const uint8_t> bytes, std::string* reason);

// Reads at most `limit` bytes of a regular file (not a directory, a device or
// a pipe). On failure `reason` says why.
bool File_read(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes, std::string* reason);
