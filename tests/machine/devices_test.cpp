// The memory map and the devices behind it, each driven through the bus: a
// table of writes and the effects that follow.
#include "machine.h"

namespace {

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return bytes;
}

TEST(Bus, EveryRegionAnswersFromItsFirstToItsLastAddress) {
    Machine m(pattern(0x8000));
    EXPECT_EQ(m.read(0x7FFF), m.cartridge.image[0x7FFF]);
    Computer& c = m.computer;
    uint8_t* stack = CPU_stack_page(m.cpu());
    const std::pair<uint16_t, uint8_t*> boundaries[] = {
        {0x8000, &c.gpu.vram[0]},
        {0x9FFF, &c.gpu.vram[VRAM_SIZE - 1]},
        {0xA000, &c.ram.buffer[0]},
        {0xDFFF, &c.ram.buffer[0x3FFF]},
        {0xE000, &m.cartridge.save[0]},
        {0xEFFF, &m.cartridge.save[SAVE_SIZE - 1]},
        {0xFF00, &c.dma.registers[0]},
        {0xFF06, &c.dma.registers[6]},
        {0xFF0A, &c.controllers.bytes[0]},
        {0xFF0B, &c.controllers.bytes[1]},
        {0xFF80, &stack[0x80]},
        {0xFFFF, &stack[0xFF]},
    };
    uint8_t value = 0x10;
    for (auto [address, byte] : boundaries) {
        m.write(address, ++value);
        EXPECT_EQ(*byte, value) << std::hex << address;
        EXPECT_EQ(m.read(address), value) << std::hex << address;
    }
    for (uint16_t hole : {0xF000, 0xFEFF, 0xFF0C, 0xFF7F}) {
        m.write(hole, 0xAB);
        EXPECT_EQ(m.read(hole), 0) << std::hex << hole;
    }
    EXPECT_EQ(stack[0x7F], 0); // the lower half of the stack page is not on the bus
}

TEST(Cartridge, TheBankedWindowShowsTheSelectedBank) {
    const std::vector<uint8_t> image = pattern(0x10000); // four banks
    Machine m(image);
    struct Step {
        uint16_t address;
        uint8_t value;
        const char* log;
        uint16_t read;
        int expected;
    };
    for (const Step& s : {
             Step{0x7000, 1, "Bank switched to: 1\n", 0x4001, image[0x4001]},
             Step{0x4000, 3, "Bank switched to: 3\n", 0x7FFF, image[0xFFFF]},
             Step{0x5000, 0, "", 0x4001, image[0xC001]},          // bank 0 cannot be selected
             Step{0x2000, 2, "", 0x0001, image[0x0001]},          // the fixed window ignores writes
             Step{0x4000, 9, "Bank switched to: 9\n", 0x4000, 0}, // past the image
         }) {
        m.write(s.address, s.value);
        EXPECT_EQ(m.take_log(), s.log) << s.value;
        EXPECT_EQ(m.read(s.read), s.expected) << s.value;
    }
}

TEST(Cartridge, OnlyWritesThatChangeSaveRamCount) {
    Machine m;
    const int writes[][3] = {
        {0xE000, 0, 0}, {0xE000, 8, 1}, {0xE000, 8, 1}, {0xEFFF, 1, 2}}; // address, value, count
    for (const auto& w : writes) {
        m.write(static_cast<uint16_t>(w[0]), static_cast<uint8_t>(w[1]));
        EXPECT_EQ(m.cartridge.save_changes, static_cast<uint64_t>(w[2]));
    }
}

TEST(Dma, RegisterWritesAndTheCopiesThatFollow) {
    struct Transfer {
        const char* what;
        std::vector<uint8_t> registers; // source, destination, length (high bytes first), control
        std::vector<std::pair<uint16_t, uint8_t>> after;
    };
    // clang-format off
    const Transfer transfers[] = {
        {"16 bytes", {0xA1, 0x00, 0xB0, 0x00, 0x00, 0x10, 0x01}, {{0xB000, 0x30}, {0xB00F, 0x3F}, {0xB010, 0}, {0xFF06, 0}}},
        {"other control bits start nothing", {0xA1, 0x00, 0xB1, 0x00, 0x00, 0x01, 0xFE}, {{0xB100, 0}, {0xFF06, 0xFE}}},
        {"bit 0 with others: a copy, then control clear", {0xA1, 0x00, 0xB1, 0x00, 0x00, 0x01, 0x03}, {{0xB100, 0x30}, {0xFF06, 0}}},
        {"a zero length copies nothing", {0xA1, 0x00, 0xB2, 0x00, 0x00, 0x00, 0x01}, {{0xB200, 0}, {0xFF06, 0}}},
        {"a block above its source repeats the first bytes", {0xA1, 0x00, 0xA1, 0x02, 0x00, 0x04, 0x01}, {{0xA102, 0x30}, {0xA105, 0x31}, {0xA106, 0x36}}},
        {"addresses wrap from 0xFFFF to 0", {0xFF, 0xFF, 0xB3, 0x00, 0x00, 0x02, 0x01}, {{0xB300, 0xEE}, {0xB301, 0x77}}},
        // Source, destination and length are overwritten with zeros on the
        // way, yet all twelve bytes land, and control ends clear.
        {"a block over the registers keeps its own count", {0xA2, 0x00, 0xFF, 0x00, 0x00, 0x0C, 0x01}, {{0xFF06, 0}, {0xFF07, 0x87}, {0xFF0B, 0x8B}}},
    };
    // clang-format on
    for (const Transfer& t : transfers) {
        SCOPED_TRACE(t.what);
        Machine m({0x77});
        for (int i = 0; i < 0x40; ++i)
            m.write(static_cast<uint16_t>(0xA100 + i), static_cast<uint8_t>(0x30 + i));
        for (int i = 0; i < 12; ++i)
            m.write(static_cast<uint16_t>(0xA200 + i), i < 6 ? 0 : static_cast<uint8_t>(0x80 + i));
        m.write(0xFFFF, 0xEE);
        m.write(DMA_FIRST, t.registers);
        DMA_update(&m.computer.dma);
        for (auto [address, value] : t.after) EXPECT_EQ(m.read(address), value) << std::hex << address;
        DMA_update(&m.computer.dma); // nothing left to run
        for (auto [address, value] : t.after) EXPECT_EQ(m.read(address), value) << std::hex << address;
    }
}

TEST(Apu, RegistersOnTheBusPickWaveformNoteAndVolume) {
    Machine m;
    m.write(APU_FIRST, {0xFE, 69, 255}); // only the low two bits pick the wave: a square
    EXPECT_EQ(m.read(APU_FIRST), 0xFE);
    EXPECT_EQ(m.read(APU_FIRST + 1), 69);
    EXPECT_EQ(m.read(APU_FIRST + 2), 255);
    m.computer.apu.sample_rate.store(48000);
    float samples[60];
    APU_render(&m.computer.apu, samples, 60);
    for (int i = 0; i < 60; ++i) ASSERT_EQ(samples[i], i < 55 ? 1.0f : -1.0f) << i;
}

TEST(Frame, RunsItsBudgetThenInterruptsWithOrWithoutAPicture) {
    std::vector<uint8_t> image(0x201);
    image[0] = 0x02;                                               // vector 0: 0x0200
    image[0x100] = 0xFE;                                           // EI
    image[0x101] = 0x30, image[0x102] = 0x01, image[0x103] = 0x01; // JMP 0x0101
    image[0x200] = 0xFF;                                           // HALT
    Machine m(image);
    int steps = 0;
    m.cpu()->hook = [](void* count, CPU*) { ++*static_cast<int*>(count); };
    m.cpu()->hook_context = &steps;
    Computer_start(&m.computer);
    EXPECT_EQ(Computer_run_frame(&m.computer, nullptr), FrameEnd::Running);
    EXPECT_EQ(steps, 16666);
    EXPECT_EQ(CPU_pc(m.cpu()), 0x0200);
    std::vector<uint8_t> picture(FRAME_BYTES, 0xAA);
    EXPECT_EQ(Computer_run_frame(&m.computer, picture.data()), FrameEnd::Stopped);
    EXPECT_EQ(steps, 16667);
    EXPECT_EQ(picture[3], 0); // composed: nothing drawn
    EXPECT_EQ(m.computer.frame, 2u);

    Machine illegal(std::vector<uint8_t>(0x101, 0x71));
    Computer_start(&illegal.computer);
    EXPECT_EQ(Computer_run_frame(&illegal.computer, nullptr), FrameEnd::IllegalOpcode);
}

} // namespace
