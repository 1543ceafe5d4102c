// Pictures of the machine's frame as PNG files: the runner's --screenshot and
// the window's F12 key both write through here.
//
// The input is a composed frame (GPU_compose: 256 x 192 texels, bytes blue,
// green, red, alpha). The file is an 8-bit RGB PNG of 256 x 192 with the
// alpha dropped: texels that nothing drew are black with alpha 0 in the
// frame, and the window shows them black, so the file shows them black too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The frame as the bytes of a PNG file; empty if the encoder failed.
std::vector<uint8_t> Screenshot_encode_png(const uint8_t* pixels);

// Writes the frame as PNG to an open file. Returns false when the write fails.
bool Screenshot_write_png_file(std::FILE* file, const uint8_t* pixels);

// Writes the frame to `path`, replacing a file of that name.
bool Screenshot_write_png(const char* path, const uint8_t* pixels);

// Writes the frame beside the ROM as "<rom path>.shot-0001.png", taking the
// first number whose file does not exist yet, so no picture is overwritten.
// Returns the path written, or an empty string on failure (reported on
// standard error).
std::string Screenshot_save_next(const char* rom_path, const uint8_t* pixels);
