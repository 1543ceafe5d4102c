// The memory and port map: the printed start-up map, region boundaries,
// unmapped holes, the order of the slot walk, cartridge attachment and the
// test port.
#include "machine_test.h"

namespace {

using BusMap = MachineTest;
using TestPort = MachineTest;

TEST_F(BusMap, StartUpMapIsPrintedInSlotOrder) {
    EXPECT_EQ(start_up_map,
              "0000-7FFF 1 rom (32768)\n"
              "8000-9FFF 1 gpu (8192)\n"
              "A000-DFFF 1 ram (16384)\n"
              "E000-EFFF 1 storage (4096)\n"
              "FF00-FF06 1 i/o dma (7)\n"
              "FF07-FF09 1 i/o apu (3)\n"
              "FF0A-FF0B 1 i/o controller (2)\n"
              "FF80-FFFF 1 stack (128)\n"
              "0080-0080 2 test (1)\n");
    for (int slot = 9; slot < BUS_SLOTS; ++slot) {
        EXPECT_EQ(computer.bus.regions[slot].kind, REGION_EMPTY);
        EXPECT_EQ(computer.bus.regions[slot].context, nullptr);
    }
}

TEST_F(BusMap, BoundariesReachTheirDevices) {
    MemoryCartridge cart(0x8000, true);
    Computer_attach_cartridge(&computer, &cart.cartridge);
    EXPECT_EQ(read(0x7FFF), cart.image[0x7FFF]);

    // Write a distinct value at each boundary and find it in the device.
    struct Boundary {
        uint16_t address;
        uint8_t* device_byte;
    };
    const Boundary boundaries[] = {
        {0x8000, &computer.gpu.vram[0]},
        {0x9FFF, &computer.gpu.vram[VRAM_SIZE - 1]},
        {0xA000, &computer.ram.buffer[0]},
        {0xDFFF, &computer.ram.buffer[0x3FFF]},
        {0xE000, &cart.save[0]},
        {0xEFFF, &cart.save[SAVE_SIZE - 1]},
        {0xFF00, &computer.dma.registers[0]},
        {0xFF06, &computer.dma.registers[6]},
        {0xFF0A, &computer.controllers.bytes[0]},
        {0xFF0B, &computer.controllers.bytes[1]},
        {0xFF80, &stack()[0x80]},
        {0xFFFF, &stack()[0xFF]},
    };
    uint8_t value = 0x10;
    for (const Boundary& b : boundaries) {
        write(b.address, value);
        EXPECT_EQ(*b.device_byte, value) << std::hex << b.address;
        EXPECT_EQ(read(b.address), value) << std::hex << b.address;
        ++value;
    }
    write(0xFF07, 3);
    write(0xFF09, 200);
    EXPECT_EQ(computer.apu.waveform.load(), 3);
    EXPECT_EQ(computer.apu.volume.load(), 200);
    EXPECT_EQ(read(0xFF09), 200);
}

TEST_F(BusMap, HolesReadZeroAndDropWrites) {
    for (uint16_t address : {0xF000, 0xF800, 0xFEFF, 0xFF0C, 0xFF40, 0xFF7F}) {
        write(address, 0xAB);
        EXPECT_EQ(read(address), 0) << std::hex << address;
    }
    // Nothing landed in a neighbour either.
    EXPECT_EQ(computer.controllers.bytes[1], 0);
    EXPECT_EQ(stack()[0x7F], 0);
    EXPECT_EQ(stack()[0x80], 0);
}

TEST_F(BusMap, RamAndVideoMemoryStartZero) {
    for (uint32_t a = 0x8000; a <= 0xDFFF; ++a) ASSERT_EQ(read(static_cast<uint16_t>(a)), 0) << std::hex << a;
}

TEST_F(BusMap, CartridgeRegionsAreInactiveUntilAttached) {
    MemoryCartridge cart(0x8000, true);
    cart.image[0] = 0x99;
    testing::internal::CaptureStdout();
    EXPECT_EQ(read(0x0000), 0);
    write(0x4000, 5); // no bank switch, nothing printed
    write(0xE000, 7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(cart.cartridge.bank, 1);
    EXPECT_EQ(cart.save[0], 0);

    Computer_attach_cartridge(&computer, &cart.cartridge);
    EXPECT_EQ(computer.cartridge, &cart.cartridge);
    EXPECT_EQ(read(0x0000), 0x99);
    write(0xE000, 7);
    EXPECT_EQ(read(0xE000), 7);

    Computer_detach_cartridge(&computer);
    EXPECT_EQ(computer.cartridge, nullptr);
    EXPECT_EQ(read(0x0000), 0);
    EXPECT_EQ(read(0xE000), 0);
}

TEST_F(BusMap, FreeReleasesMemoryAndClearsItsPointers) {
    Computer_free(&computer);
    EXPECT_EQ(computer.ram.buffer, nullptr);
    EXPECT_EQ(computer.gpu.vram, nullptr);
    EXPECT_EQ(wavetables, nullptr);
    EXPECT_EQ(note_table, nullptr);
}

TEST_F(BusMap, MemoryAndPortsAreSeparateSpaces) {
    MemoryCartridge cart(0x100);
    cart.image[0x80] = 0x42;
    Computer_attach_cartridge(&computer, &cart.cartridge);
    testing::internal::CaptureStdout();
    EXPECT_EQ(read(0x0080), 0x42); // the ROM, not the test port
    write(0x0080, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(test_byte, 0);
}

uint8_t read_one(void* context, uint16_t) { return *static_cast<uint8_t*>(context); }
void write_none(void*, uint16_t, uint8_t) {}

TEST(BusWalk, LowerSlotWinsAndInactiveSlotsAreSkipped) {
    Bus bus;
    Bus_init(&bus);
    for (const BusRegion& region : bus.regions) {
        EXPECT_EQ(region.name, nullptr);
        EXPECT_EQ(region.kind, REGION_EMPTY);
    }
    uint8_t low = 1, high = 2;
    bus.regions[3] = BusRegion{"low", &low, 0x1000, 0x1FFF, REGION_MEMORY, read_one, write_none};
    bus.regions[5] = BusRegion{"high", &high, 0x1800, 0x2FFF, REGION_MEMORY, read_one, write_none};
    EXPECT_EQ(Bus_read(&bus, 0x1800), 1);
    EXPECT_EQ(Bus_read(&bus, 0x2000), 2);
    EXPECT_EQ(Bus_in(&bus, 0x10), 0); // a memory region never answers a port
    bus.regions[3].context = nullptr;
    EXPECT_EQ(Bus_read(&bus, 0x1800), 2);
    bus.regions[5].kind = REGION_PORT;
    EXPECT_EQ(Bus_read(&bus, 0x1800), 0);
}

TEST_F(TestPort, PrintsItsTrafficAndKeepsTheLastByte) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(Bus_in(&computer.bus, 0x80), 0);
    Bus_out(&computer.bus, 0x80, 0x41);
    EXPECT_EQ(Bus_in(&computer.bus, 0x80), 0x41);
    Bus_out(&computer.bus, 0x80, 0x00);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "in[0x80] -> 0x0\n"
              "out[0x80] <- 0x41\n"
              "in[0x80] -> 0x41\n"
              "out[0x80] <- 0x0\n");
}

TEST_F(TestPort, OtherPortsReadZeroSilently) {
    test_byte = 0x55;
    testing::internal::CaptureStdout();
    for (int port : {0x00, 0x7F, 0x81, 0xFF}) {
        Bus_out(&computer.bus, static_cast<uint8_t>(port), 0x12);
        EXPECT_EQ(Bus_in(&computer.bus, static_cast<uint8_t>(port)), 0);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(test_byte, 0x55);
}

TEST_F(TestPort, PortInstructions) {
    regs()[1] = 0xC8;
    regs()[2] = 0x80;
    testing::internal::CaptureStdout();
    run_one({0x82, 0x80, 0x01}); // OUT 0x80, r1
    run_one({0x80, 0x03, 0x80}); // IN r3, 0x80
    regs()[1] = 0x07;
    run_one({0x83, 0x02, 0x01}); // OUT r2, r1
    run_one({0x81, 0x04, 0x02}); // IN r4, r2
    regs()[5] = 0x99;
    run_one({0x80, 0x05, 0x81}); // IN r5, 0x81: nobody there
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "out[0x80] <- 0xC8\n"
              "in[0x80] -> 0xC8\n"
              "out[0x80] <- 0x7\n"
              "in[0x80] -> 0x7\n");
    EXPECT_EQ(regs()[3], 0xC8);
    EXPECT_EQ(regs()[4], 0x07);
    EXPECT_EQ(regs()[5], 0x00);
}

} // namespace
