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

// The walk is inline: it runs for every fetch and operand, millions of times
// a second, and its callers are few.
// The four conditions are tested upper bound first: the map runs in address
// order, so every slot below the one that answers fails on that single test.
inline const BusRegion* Bus_find(const Bus* bus, uint32_t kind, uint16_t address) {
#pragma GCC unroll 16
    for (const BusRegion& region : bus->regions) {
        if (address <= region.last && region.first <= address && region.kind == kind &&
            region.context != nullptr)
            return &region;
    }
    return nullptr;
}

inline uint8_t Bus_read(const Bus* bus, uint16_t address) {
    const BusRegion* region = Bus_find(bus, REGION_MEMORY, address);
    return region ? region->read(region->context, address) : 0;
}

inline void Bus_write(const Bus* bus, uint16_t address, uint8_t value) {
    const BusRegion* region = Bus_find(bus, REGION_MEMORY, address);
    if (region) region->write(region->context, address, value);
}

inline uint8_t Bus_in(const Bus* bus, uint8_t port) {
    const BusRegion* region = Bus_find(bus, REGION_PORT, port);
    return region ? region->read(region->context, port) : 0;
}

inline void Bus_out(const Bus* bus, uint8_t port, uint8_t value) {
    const BusRegion* region = Bus_find(bus, REGION_PORT, port);
    if (region) region->write(region->context, port, value);
}
