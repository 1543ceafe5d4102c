#include "computer/snapshot.h"

#include <array>
#include <cstring>
#include <optional>

#include "cartridge/cartridge.h"
#include "computer/computer.h"

namespace {

constexpr std::array<char, 8> MAGIC{'L', 'U', 'M', 'A', 'S', 'N', 'A', 'P'};
constexpr size_t HEADER_SIZE = MAGIC.size() + 12;
constexpr size_t SECTION_HEAD = 8;
constexpr uint16_t RAM_SIZE = RAM_LAST - RAM_FIRST + 1;

constexpr uint32_t tag(const char (&name)[5]) {
    return static_cast<uint32_t>(name[0]) | static_cast<uint32_t>(name[1]) << 8 |
           static_cast<uint32_t>(name[2]) << 16 | static_cast<uint32_t>(name[3]) << 24;
}

void put32(std::vector<uint8_t>* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A section is written with its length filled in when it ends.
struct SectionWriter {
    std::vector<uint8_t>* out;
    size_t length_at;
};

SectionWriter begin(std::vector<uint8_t>* out, uint32_t section_tag) {
    put32(out, section_tag);
    put32(out, 0);
    return {out, out->size() - 4};
}

void end(SectionWriter w) {
    uint32_t length = static_cast<uint32_t>(w.out->size() - w.length_at - 4);
    for (int i = 0; i < 4; ++i)
        (*w.out)[w.length_at + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
}

void put_bytes(std::vector<uint8_t>* out, const uint8_t* bytes, size_t n) {
    out->insert(out->end(), bytes, bytes + n);
}

// Everything a snapshot restores, gathered before any of it is applied, so a
// refused file changes nothing.
struct State {
    std::array<uint8_t, CELL_COUNT> cells;
    uint8_t interrupt_enable, running, illegal_opcode;
    const uint8_t* ram;
    const uint8_t* vram;
    uint8_t waveform, note, volume;
    std::array<uint8_t, 7> dma;
    std::array<uint8_t, 2> controllers;
    uint8_t bank;
    const uint8_t* save;
    uint8_t test;
    uint64_t frame;
};

// The sections every snapshot of this version must have, and their lengths.
struct Need {
    uint32_t tag;
    uint32_t length;
};
constexpr std::array<Need, 8> NEEDED{{
    {tag("CPU "), CELL_COUNT + 3},
    {tag("RAM "), RAM_SIZE},
    {tag("VRAM"), VRAM_SIZE},
    {tag("APU "), 3},
    {tag("DMA "), 7},
    {tag("CTRL"), 2},
    {tag("CART"), 1 + SAVE_SIZE},
    {tag("MISC"), 9},
}};

std::optional<std::string> read_section(State* s, uint32_t section_tag, const uint8_t* p) {
    if (section_tag == tag("CPU ")) {
        std::memcpy(s->cells.data(), p, CELL_COUNT);
        s->interrupt_enable = p[CELL_COUNT];
        s->running = p[CELL_COUNT + 1];
        s->illegal_opcode = p[CELL_COUNT + 2];
    } else if (section_tag == tag("RAM ")) {
        s->ram = p;
    } else if (section_tag == tag("VRAM")) {
        s->vram = p;
    } else if (section_tag == tag("APU ")) {
        s->waveform = p[0];
        s->note = p[1];
        s->volume = p[2];
    } else if (section_tag == tag("DMA ")) {
        std::memcpy(s->dma.data(), p, 7);
    } else if (section_tag == tag("CTRL")) {
        std::memcpy(s->controllers.data(), p, 2);
    } else if (section_tag == tag("CART")) {
        s->bank = p[0];
        s->save = p + 1;
    } else if (section_tag == tag("MISC")) {
        s->test = p[0];
        s->frame = static_cast<uint64_t>(get32(p + 1)) | static_cast<uint64_t>(get32(p + 5)) << 32;
    }
    return std::nullopt;
}

std::optional<std::string> parse(const Cartridge* cartridge, std::span<const uint8_t> data, State* s) {
    if (data.size() < MAGIC.size() || std::memcmp(data.data(), MAGIC.data(), MAGIC.size()) != 0)
        return std::string("not a machine snapshot");
    if (data.size() < HEADER_SIZE) return std::string("truncated");
    uint32_t version = get32(data.data() + 8);
    if (version != SNAPSHOT_VERSION)
        return "format version " + std::to_string(version) + ", this program reads version " +
               std::to_string(SNAPSHOT_VERSION);
    if (cartridge &&
        (get32(data.data() + 12) != cartridge->image_size || get32(data.data() + 16) != cartridge->image_crc))
        return std::string("taken of another cartridge");

    uint32_t found = 0;
    size_t at = HEADER_SIZE;
    while (true) {
        if (data.size() - at < SECTION_HEAD) return std::string("truncated");
        uint32_t section_tag = get32(data.data() + at);
        uint32_t length = get32(data.data() + at + 4);
        const uint8_t* payload = data.data() + at + SECTION_HEAD;
        if (data.size() - at - SECTION_HEAD < length) return std::string("truncated");
        if (section_tag == tag("END ")) {
            if (length != 4) return std::string("corrupted (bad end section)");
            if (get32(payload) != Cartridge_crc32(data.first(at)))
                return std::string("corrupted (checksum mismatch)");
            if (at + SECTION_HEAD + length != data.size())
                return std::string("too long: bytes follow its end");
            break;
        }
        for (size_t i = 0; i < NEEDED.size(); ++i) {
            if (NEEDED[i].tag != section_tag) continue;
            if (NEEDED[i].length != length) return std::string("corrupted (a section has the wrong length)");
            if (auto problem = read_section(s, section_tag, payload)) return problem;
            found |= 1u << i;
        }
        at += SECTION_HEAD + length;
    }
    if (found != (1u << NEEDED.size()) - 1) return std::string("incomplete: a section is missing");
    return std::nullopt;
}

} // namespace

void Computer_save_state(const Computer* computer, std::vector<uint8_t>* out) {
    const Cartridge* cartridge = computer->cartridge;
    const CPU& cpu = computer->cpu;
    out->clear();
    out->reserve(HEADER_SIZE + RAM_SIZE + VRAM_SIZE + SAVE_SIZE + 512);
    for (char c : MAGIC) out->push_back(static_cast<uint8_t>(c));
    put32(out, SNAPSHOT_VERSION);
    put32(out, static_cast<uint32_t>(cartridge->image_size));
    put32(out, cartridge->image_crc);

    SectionWriter w = begin(out, tag("CPU "));
    put_bytes(out, cpu.cells.data(), CELL_COUNT);
    out->push_back(cpu.interrupt_enable);
    out->push_back(cpu.running);
    out->push_back(cpu.illegal_opcode);
    end(w);
    w = begin(out, tag("RAM "));
    put_bytes(out, computer->ram.buffer, RAM_SIZE);
    end(w);
    w = begin(out, tag("VRAM"));
    put_bytes(out, computer->gpu.vram, VRAM_SIZE);
    end(w);
    w = begin(out, tag("APU "));
    const APU& apu = computer->apu;
    out->push_back(apu.waveform.load(std::memory_order_relaxed));
    out->push_back(apu.note.load(std::memory_order_relaxed));
    out->push_back(apu.volume.load(std::memory_order_relaxed));
    end(w);
    w = begin(out, tag("DMA "));
    put_bytes(out, computer->dma.registers.data(), computer->dma.registers.size());
    end(w);
    w = begin(out, tag("CTRL"));
    put_bytes(out, computer->controllers.bytes.data(), 2);
    end(w);
    w = begin(out, tag("CART"));
    out->push_back(cartridge->bank);
    if (cartridge->save)
        put_bytes(out, cartridge->save, SAVE_SIZE);
    else
        out->insert(out->end(), SAVE_SIZE, 0);
    end(w);
    w = begin(out, tag("MISC"));
    out->push_back(test_byte);
    put32(out, static_cast<uint32_t>(computer->frame));
    put32(out, static_cast<uint32_t>(computer->frame >> 32));
    end(w);
    uint32_t crc = Cartridge_crc32(*out);
    put32(out, tag("END "));
    put32(out, 4);
    put32(out, crc);
}

bool Computer_load_state(Computer* computer, std::span<const uint8_t> data, std::string* error) {
    Cartridge* cartridge = computer->cartridge;
    if (!cartridge) {
        *error = "no cartridge to restore it into";
        return false;
    }
    State s{};
    if (auto problem = parse(cartridge, data, &s)) {
        *error = *problem;
        return false;
    }
    CPU& cpu = computer->cpu;
    cpu.cells = s.cells;
    cpu.interrupt_enable = s.interrupt_enable;
    cpu.running = s.running;
    cpu.illegal_opcode = s.illegal_opcode;
    std::memcpy(computer->ram.buffer, s.ram, RAM_SIZE);
    std::memcpy(computer->gpu.vram, s.vram, VRAM_SIZE);
    computer->apu.waveform.store(s.waveform, std::memory_order_relaxed);
    computer->apu.note.store(s.note, std::memory_order_relaxed);
    computer->apu.volume.store(s.volume, std::memory_order_relaxed);
    computer->dma.registers = s.dma;
    computer->controllers.bytes = s.controllers;
    cartridge->bank = s.bank;
    if (cartridge->save && std::memcmp(cartridge->save, s.save, SAVE_SIZE) != 0) {
        std::memcpy(cartridge->save, s.save, SAVE_SIZE);
        // The host writes save RAM that changed; a restored one counts.
        ++cartridge->save_changes;
    }
    test_byte = s.test;
    computer->frame = s.frame;
    return true;
}

bool Snapshot_read_vram(std::span<const uint8_t> data, std::span<uint8_t, VRAM_SIZE> vram,
                        std::string* error) {
    State s{};
    if (auto problem = parse(nullptr, data, &s)) {
        *error = *problem;
        return false;
    }
    std::memcpy(vram.data(), s.vram, VRAM_SIZE);
    return true;
}
