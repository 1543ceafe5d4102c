#include "machine_state.h"

#include <cstring>

#include "cartridge/cartridge.h"
#include "computer/computer.h"

namespace {

constexpr uint32_t RAM_BYTES = RAM_LAST - RAM_FIRST + 1;

// Every piece in one order for both directions.
template <typename Visit>
void each_piece(Computer* c, Visit visit) {
    visit(c->cpu.cells.data(), c->cpu.cells.size());
    visit(&c->cpu.interrupt_enable, 1);
    visit(&c->cpu.running, 1);
    visit(&c->cpu.illegal_opcode, 1);
    visit(c->ram.buffer, RAM_BYTES);
    visit(c->gpu.vram, VRAM_SIZE);
    visit(c->dma.registers.data(), c->dma.registers.size());
    visit(c->controllers.bytes.data(), c->controllers.bytes.size());
    visit(&c->frame, sizeof c->frame);
    visit(&test_byte, 1);
    if (c->cartridge) {
        visit(&c->cartridge->bank, 1);
        visit(c->cartridge->save, c->cartridge->save ? c->cartridge->save_size : 0);
        visit(&c->cartridge->save_changes, sizeof c->cartridge->save_changes);
    }
}

} // namespace

void MachineState_save(const Computer* computer, std::vector<uint8_t>* out) {
    Computer* c = const_cast<Computer*>(computer);
    out->clear();
    each_piece(c, [&](const void* data, size_t size) {
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + size);
    });
    uint8_t audio[3] = {c->apu.waveform.load(), c->apu.note.load(), c->apu.volume.load()};
    out->insert(out->end(), audio, audio + 3);
}

bool MachineState_load(Computer* computer, std::span<const uint8_t> data, std::string* error) {
    size_t size = 0;
    each_piece(computer, [&](const void*, size_t n) { size += n; });
    if (data.size() != size + 3) {
        *error = "the state is of another machine or cartridge";
        return false;
    }
    size_t at = 0;
    each_piece(computer, [&](void* into, size_t n) {
        if (n) std::memcpy(into, data.data() + at, n);
        at += n;
    });
    computer->apu.waveform.store(data[at]);
    computer->apu.note.store(data[at + 1]);
    computer->apu.volume.store(data[at + 2]);
    return true;
}
