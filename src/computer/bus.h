// The memory and port map: sixteen fixed slots, each a device context with a
// read and a write handler over an inclusive address range. Every access of
// the CPU and of the DMA controller walks the slots in order; the first
// active slot of the right kind whose range holds the address answers, and
// an access that nobody answers reads 0 or is dropped.
#pragma once

#include <array>
#include <cstdint>

enum RegionKind : uint32_t { REGION_EMPTY = 0, REGION_MEMORY = 1, REGION_PORT = 2 };

using BusReadHandler = uint8_t (*)(void* context, uint16_t address);
using BusWriteHandler = void (*)(void* context, uint16_t address, uint8_t value);

struct BusRegion {
    const char* name;
    void* context; // null: the slot is inactive
    uint16_t first;
    uint16_t last;
    uint32_t kind;
    BusReadHandler read;
    BusWriteHandler write;
};

constexpr int BUS_SLOTS = 16;

struct Bus {
    std::array<BusRegion, BUS_SLOTS> regions;
};

void Bus_init(Bus* bus);
void Bus_free(Bus* bus);

// The four operations walk the slots as described above. They are out of
// line: one compact copy of the walk, in which each slot that answers hands
// the access straight on to its handler.
uint8_t Bus_read(const Bus* bus, uint16_t address);
void Bus_write(const Bus* bus, uint16_t address, uint8_t value);
uint8_t Bus_in(const Bus* bus, uint8_t port);
void Bus_out(const Bus* bus, uint8_t port, uint8_t value);
