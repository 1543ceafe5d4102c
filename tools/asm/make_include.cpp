// lumacor-make-include: writes lumacor.inc, the hardware include shipped with
// the assembler, from the machine's own headers. Every address and bit in it
// is taken from the constant the machine itself uses, so the include cannot
// drift from the machine; the few facts no header names yet (field offsets
// inside VRAM records, the stack window) are named here, once.
#include "apu/apu.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "controller/controller.h"
#include "cpu/cpu.h"
#include "dma/dma.h"
#include "gpu/gpu.h"

#include <cstdio>
#include <string>

namespace {

enum class Shown : uint8_t { Section, Word, Byte, Decimal };

struct Entry {
    Shown shown;
    const char* name; // the section title for a Section
    int64_t value;
    const char* note;
};

constexpr int TILE_COUNT = 256; // a tile number is one byte
constexpr int MAP_CELLS = MAP_COLUMNS * MAP_ROWS;
// Record sizes follow from where the next VRAM area starts.
constexpr int TILE_SIZE = (VRAM_PLANE_B - VRAM_PLANE_A) / TILE_COUNT;
static_assert(TILE_SIZE * TILE_COUNT == VRAM_PLANE_B - VRAM_PLANE_A);

// clang-format off
const Entry entries[] = {
    {Shown::Section, "start and interrupts", 0, nullptr},
    {Shown::Word,    "START_ADDRESS", START_ADDRESS, "execution begins here"},
    {Shown::Word,    "VECTORS", ROM_FIRST, "vector n: big-endian handler address at VECTORS + 2n"},
    {Shown::Decimal, "VECTOR_COUNT", VECTOR_COUNT, nullptr},
    {Shown::Decimal, "FRAME_VECTOR", FRAME_VECTOR, "raised once per frame, after the picture"},

    {Shown::Section, "memory map", 0, nullptr},
    {Shown::Word,    "ROM_FIRST", ROM_FIRST, "cartridge ROM: the fixed window, then the banked one"},
    {Shown::Word,    "ROM_LAST", ROM_LAST, nullptr},
    {Shown::Word,    "BANK_SIZE", BANK_SIZE, "bank n is image offsets n * BANK_SIZE on"},
    {Shown::Word,    "BANK_WINDOW", ROM_LAST + 1 - BANK_SIZE, "the banked window shows the selected bank"},
    {Shown::Word,    "BANK_SELECT", ROM_LAST + 1 - BANK_SIZE, "write a bank number 1..255 anywhere in the window"},
    {Shown::Word,    "VRAM_FIRST", GPU_FIRST, "video memory"},
    {Shown::Word,    "VRAM_LAST", GPU_LAST, nullptr},
    {Shown::Word,    "RAM_FIRST", RAM_FIRST, "work RAM, all 0 at start"},
    {Shown::Word,    "RAM_LAST", RAM_LAST, nullptr},
    {Shown::Word,    "SAVE_FIRST", STORAGE_FIRST, "save RAM, kept in the .sav file between runs"},
    {Shown::Word,    "SAVE_LAST", STORAGE_LAST, nullptr},
    {Shown::Decimal, "SAVE_SIZE", SAVE_SIZE, nullptr},
    {Shown::Word,    "STACK_WINDOW", STACK_WINDOW, "stack page bytes 0x80-0xFF, up to 0xFFFF"},

    {Shown::Section, "processor", 0, nullptr},
    {Shown::Byte,    "FLAG_Z", FLAG_Z, "bits of FLAGS (r11)"},
    {Shown::Byte,    "FLAG_C", FLAG_C, nullptr},
    {Shown::Word,    "STACK_TOP", STACK_TOP, "SP at start; RET with this SP stops the machine"},
    {Shown::Decimal, "STACK_REGS", REGISTER_COUNT, "r(STACK_REGS + j) is stack byte j"},

    {Shown::Section, "video memory", 0, nullptr},
    {Shown::Word,    "VRAM_PLANE_A", GPU_FIRST + VRAM_PLANE_A, "tile t's row q at + TILE_SIZE * t + q: colour select"},
    {Shown::Word,    "VRAM_PLANE_B", GPU_FIRST + VRAM_PLANE_B, "the same rows: coverage, 0 is transparent"},
    {Shown::Word,    "VRAM_TILE_MAP", GPU_FIRST + VRAM_TILE_MAP, "MAP_CELLS cells of CELL_SIZE bytes, row by row"},
    {Shown::Word,    "VRAM_SPRITES", GPU_FIRST + VRAM_SPRITES, "SPRITE_COUNT sprites of SPRITE_SIZE bytes"},
    {Shown::Word,    "VRAM_PALETTE", GPU_FIRST + VRAM_PALETTE, "COLOR_COUNT colours of COLOR_SIZE bytes"},
    {Shown::Word,    "VRAM_FREE", GPU_FIRST + VRAM_PALETTE + COLOR_COUNT * COLOR_SIZE, "not shown: free up to VRAM_LAST"},
    {Shown::Decimal, "TILE_COUNT", TILE_COUNT, nullptr},
    {Shown::Decimal, "TILE_SIZE", TILE_SIZE, "one byte per row, bit 7 the leftmost texel"},
    {Shown::Decimal, "MAP_COLUMNS", MAP_COLUMNS, nullptr},
    {Shown::Decimal, "MAP_ROWS", MAP_ROWS, nullptr},
    {Shown::Decimal, "MAP_CELLS", MAP_CELLS, nullptr},
    {Shown::Decimal, "CELL_SIZE", CELL_SIZE, nullptr},
    {Shown::Decimal, "CELL_TILE", 0, "offsets in a cell"},
    {Shown::Decimal, "CELL_COLORS", 1, "low nibble: plane A bit 0; high nibble: plane A bit 1"},
    {Shown::Decimal, "CELL_ATTR", 2, nullptr},
    {Shown::Decimal, "SPRITE_COUNT", SPRITE_COUNT, "the higher-numbered sprite wins"},
    {Shown::Decimal, "SPRITE_SIZE", SPRITE_SIZE, nullptr},
    {Shown::Decimal, "SPRITE_X", 0, "offsets in a sprite"},
    {Shown::Decimal, "SPRITE_Y", 1, nullptr},
    {Shown::Decimal, "SPRITE_TILE", 2, nullptr},
    {Shown::Decimal, "SPRITE_COLORS", 3, nullptr},
    {Shown::Decimal, "SPRITE_ATTR", 4, nullptr},
    {Shown::Decimal, "COLOR_COUNT", COLOR_COUNT, nullptr},
    {Shown::Decimal, "COLOR_SIZE", COLOR_SIZE, nullptr},
    {Shown::Decimal, "COLOR_BLUE", 0, "offsets in a colour"},
    {Shown::Decimal, "COLOR_GREEN", 1, nullptr},
    {Shown::Decimal, "COLOR_RED", 2, nullptr},
    {Shown::Byte,    "ATTR_FRONT", ATTR_FRONT, "cell attr: front layer, drawn over the sprites"},
    {Shown::Byte,    "ATTR_VISIBLE", ATTR_VISIBLE, "sprite attr: drawn at all"},
    {Shown::Byte,    "ATTR_FLIP_V", ATTR_FLIP_V, "cell and sprite attr"},
    {Shown::Byte,    "ATTR_FLIP_H", ATTR_FLIP_H, "cell and sprite attr"},
    {Shown::Decimal, "FRAME_WIDTH", FRAME_WIDTH, "texels"},
    {Shown::Decimal, "FRAME_HEIGHT", FRAME_HEIGHT, nullptr},

    {Shown::Section, "DMA: words are big-endian", 0, nullptr},
    {Shown::Word,    "DMA_SOURCE", DMA_FIRST + DMA_SOURCE, nullptr},
    {Shown::Word,    "DMA_DEST", DMA_FIRST + DMA_DEST, nullptr},
    {Shown::Word,    "DMA_LENGTH", DMA_FIRST + DMA_LENGTH, "0..65535 bytes"},
    {Shown::Word,    "DMA_CONTROL", DMA_FIRST + DMA_CONTROL, nullptr},
    {Shown::Byte,    "DMA_START", 0x01, "control bit: copy before the next instruction"},

    {Shown::Section, "sound", 0, nullptr},
    {Shown::Word,    "APU_WAVEFORM", APU_FIRST, "low two bits: a WAVE_ value"},
    {Shown::Word,    "APU_NOTE", APU_FIRST + 1, "0..NOTE_COUNT-1; note 69 is 440 Hz"},
    {Shown::Word,    "APU_VOLUME", APU_LAST, "0 silent .. 255 full"},
    {Shown::Decimal, "WAVE_SINE", WAVE_SINE, nullptr},
    {Shown::Decimal, "WAVE_SAW", WAVE_SAW, nullptr},
    {Shown::Decimal, "WAVE_SQUARE", WAVE_SQUARE, nullptr},
    {Shown::Decimal, "WAVE_NOISE", WAVE_NOISE, nullptr},
    {Shown::Decimal, "NOTE_COUNT", NOTE_COUNT, nullptr},

    {Shown::Section, "controllers: a bit is 1 while its button is held", 0, nullptr},
    {Shown::Word,    "PAD1_BUTTONS", CONTROLLER_FIRST, nullptr},
    {Shown::Word,    "PAD2_BUTTONS", CONTROLLER_LAST, nullptr},
    {Shown::Byte,    "PAD_UP", PAD_UP, nullptr},
    {Shown::Byte,    "PAD_DOWN", PAD_DOWN, nullptr},
    {Shown::Byte,    "PAD_LEFT", PAD_LEFT, nullptr},
    {Shown::Byte,    "PAD_RIGHT", PAD_RIGHT, nullptr},
    {Shown::Byte,    "PAD_START", PAD_START, nullptr},
    {Shown::Byte,    "PAD_BACK", PAD_BACK, nullptr},
    {Shown::Byte,    "PAD_A", PAD_A, nullptr},
    {Shown::Byte,    "PAD_X", PAD_X, nullptr},

    {Shown::Section, "ports", 0, nullptr},
    {Shown::Byte,    "TEST_PORT", TEST_PORT, "OUT and IN here are printed"},
};
// clang-format on

std::string include_text() {
    std::string text = "; lumacor.inc: the machine's addresses, registers and bits, for\n"
                       ";     .include \"lumacor.inc\"\n"
                       "; Generated from the machine's headers when the assembler is built;\n"
                       "; docs/machine.md describes every name.\n";
    char line[160];
    for (const Entry& e : entries) {
        if (e.shown == Shown::Section) {
            std::snprintf(line, sizeof line, "\n; --- %s\n", e.name);
        } else {
            char value[24];
            long long v = static_cast<long long>(e.value);
            if (e.shown == Shown::Word)
                std::snprintf(value, sizeof value, "0x%04llX", v);
            else if (e.shown == Shown::Byte)
                std::snprintf(value, sizeof value, "0x%02llX", v);
            else
                std::snprintf(value, sizeof value, "%lld", v);
            if (e.note)
                std::snprintf(line, sizeof line, "%-14s = %-8s ; %s\n", e.name, value, e.note);
            else
                std::snprintf(line, sizeof line, "%-14s = %s\n", e.name, value);
        }
        text += line;
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumacor-make-include FILE\n");
        return 1;
    }
    std::string text = include_text();
    std::FILE* f = std::fopen(argv[1], "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = f && std::fclose(f) == 0 && ok;
    if (!ok) std::fprintf(stderr, "%s: error: cannot write file\n", argv[1]);
    return ok ? 0 : 1;
}
