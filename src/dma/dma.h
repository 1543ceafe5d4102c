// The DMA controller: seven registers at 0xFF00-0xFF06 (source, destination
// and length as big-endian words, then control). Setting bit 0 of control
// makes the next DMA_update copy the whole block through the Bus, one byte at
// a time in ascending order, and clear control. The frame loop calls
// DMA_update after every instruction, so a transfer costs no instruction time.
#pragma once

#include <array>
#include <cstdint>

#include "computer/bus.h"

constexpr uint16_t DMA_FIRST = 0xFF00;
constexpr uint16_t DMA_LAST = 0xFF06;
// Register offsets: big-endian words, then the control byte.
constexpr int DMA_SOURCE = 0;
constexpr int DMA_DEST = 2;
constexpr int DMA_LENGTH = 4;
constexpr int DMA_CONTROL = 6;

struct DMA {
    Bus* bus;
    std::array<uint8_t, 7> registers;
};

void DMA_init(DMA* dma, Bus* bus);
void DMA_free(DMA* dma);
uint8_t DMA_read(DMA* dma, uint16_t address);
void DMA_write(DMA* dma, uint16_t address, uint8_t value);
void DMA_transfer(DMA* dma);

// Idle most of the time: the check is inline so the per-instruction cost is
// one load and one test.
inline void DMA_update(DMA* dma) {
    if (dma->registers[DMA_CONTROL] & 1) DMA_transfer(dma);
}
