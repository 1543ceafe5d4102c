#include "computer/bus.h"

namespace {

// The walk is spelled out one slot at a time, so that every slot has its own
// call of its own handler: the compiler turns each into a jump straight into
// the handler, and the access that hits costs no shared tail.
//
// Each slot is tested upper bound first. The map runs in address order, so a
// slot below the one that answers fails on that one test, and the tests that
// follow it sit out of the straight path.
template <uint32_t Kind, int Slot>
[[gnu::always_inline]] inline const BusRegion* answering(const Bus* bus, uint16_t address) {
    const BusRegion& region = bus->regions[Slot];
    if (address <= region.last) [[unlikely]] {
        if (region.first <= address && region.kind == Kind && region.context != nullptr) return &region;
    }
    return nullptr;
}

template <uint32_t Kind, int Slot = 0>
[[gnu::always_inline]] inline uint8_t read_from(const Bus* bus, uint16_t address) {
    if constexpr (Slot == BUS_SLOTS) {
        return 0;
    } else {
        if (const BusRegion* region = answering<Kind, Slot>(bus, address))
            return region->read(region->context, address);
        return read_from<Kind, Slot + 1>(bus, address);
    }
}

template <uint32_t Kind, int Slot = 0>
[[gnu::always_inline]] inline void write_from(const Bus* bus, uint16_t address, uint8_t value) {
    if constexpr (Slot < BUS_SLOTS) {
        if (const BusRegion* region = answering<Kind, Slot>(bus, address))
            return region->write(region->context, address, value);
        return write_from<Kind, Slot + 1>(bus, address, value);
    }
}

} // namespace

void Bus_init(Bus* bus) {
    for (BusRegion& region : bus->regions) region = BusRegion{};
}

void Bus_free(Bus*) {}

uint8_t Bus_read(const Bus* bus, uint16_t address) { return read_from<REGION_MEMORY>(bus, address); }

void Bus_write(const Bus* bus, uint16_t address, uint8_t value) {
    write_from<REGION_MEMORY>(bus, address, value);
}

uint8_t Bus_in(const Bus* bus, uint8_t port) { return read_from<REGION_PORT>(bus, port); }

void Bus_out(const Bus* bus, uint8_t port, uint8_t value) { write_from<REGION_PORT>(bus, port, value); }
