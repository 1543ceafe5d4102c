#include "dma/dma.h"

void DMA_init(DMA* dma, Bus* bus) {
    dma->bus = bus;
    dma->registers.fill(0);
}

void DMA_free(DMA*) {}

uint8_t DMA_read(DMA* dma, uint16_t address) { return dma->registers[address - DMA_FIRST]; }

void DMA_write(DMA* dma, uint16_t address, uint8_t value) { dma->registers[address - DMA_FIRST] = value; }

// The block may overwrite the registers themselves; the copy keeps the
// source, destination and count it started with, and clears control at the
// end whatever was written there, so one transfer never starts another.
void DMA_transfer(DMA* dma) {
    const auto& r = dma->registers;
    uint16_t source = static_cast<uint16_t>(r[DMA_SOURCE] << 8 | r[DMA_SOURCE + 1]);
    uint16_t destination = static_cast<uint16_t>(r[DMA_DEST] << 8 | r[DMA_DEST + 1]);
    uint32_t count = static_cast<uint32_t>(r[DMA_LENGTH] << 8 | r[DMA_LENGTH + 1]);
    for (; count != 0; --count) {
        uint8_t byte = Bus_read(dma->bus, source);
        Bus_write(dma->bus, destination, byte);
        ++source;
        ++destination;
    }
    dma->registers[DMA_CONTROL] = 0;
}
