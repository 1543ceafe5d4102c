// Machine snapshots: the whole state of a Computer between two frames, as
// bytes. Restoring a snapshot and running on with the same input gives the
// same frames, memory, save RAM and output as the run it was taken from.
// Host state (window, sound device and its stream, pads, files) is not part
// of it.
//
// Layout, all numbers little-endian:
//   header   "LUMASNAP", u32 format version, u32 image size, u32 image CRC-32
//   sections u32 tag (four characters), u32 length, then that many bytes:
//            "CPU " cells, interrupt enable, running, illegal opcode
//            "RAM " work RAM
//            "VRAM" video memory
//            "APU " waveform, note, volume (the synthesiser's phase belongs to
//                   the host's sound stream, which keeps playing through it)
//            "DMA " its registers
//            "CTRL" the controller bytes
//            "CART" selected bank, then save RAM
//            "MISC" test port byte, frame count (u64)
//   "END "   length 4: CRC-32 of every byte before this section
// A reader skips sections it does not know, so a later version can add
// sections; every section above must be present.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "gpu/gpu.h"

struct Computer;

constexpr uint32_t SNAPSHOT_VERSION = 1;

// Replaces `out` with the machine's snapshot. The machine must have a
// cartridge attached.
void Computer_save_state(const Computer* computer, std::vector<uint8_t>* out);

// Restores a snapshot taken of this cartridge. On failure the machine is left
// as it was and `error` says why, in a few words ("truncated", "of another
// cartridge", ...), for the caller to put beside the file's name.
bool Computer_load_state(Computer* computer, std::span<const uint8_t> data, std::string* error);

// The video memory held in a snapshot of any cartridge, for tools that take
// pictures out of a saved game. Checks the file as Computer_load_state does.
bool Snapshot_read_vram(std::span<const uint8_t> data, std::span<uint8_t, VRAM_SIZE> vram,
                        std::string* error);
