// Interrupts (EI, DI, CPU_interrupt, RETI), the vector-range diagnostic, the
// frame's burst of instructions, and opcodes without a handler.
#include "machine_test.h"

#include <regex>

#include "cpu/isa.h"

namespace {

using CpuInterrupt = MachineTest;
using CpuIllegal = MachineTest;
using FrameBurst = MachineTest;

// A cartridge whose vector n points at 0x0200 + n * 0x10.
struct VectorCartridge : MemoryCartridge {
    VectorCartridge() : MemoryCartridge(0x400) {
        for (int n = 0; n < 16; ++n) {
            image[2 * n] = 0x02;
            image[2 * n + 1] = static_cast<uint8_t>(n * 0x10);
        }
    }
};

TEST_F(CpuInterrupt, IgnoredWhileDisabled) {
    VectorCartridge cart;
    Computer_attach_cartridge(&computer, &cart.cartridge);
    CPU_set_pc(cpu(), 0x0123);
    testing::internal::CaptureStderr();
    CPU_interrupt(cpu(), 0);
    CPU_interrupt(cpu(), 99);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(pc(), 0x0123);
    EXPECT_EQ(sp(), 0xFFFF);
}

TEST_F(CpuInterrupt, TakenPushesPcAndJumpsThroughTheVector) {
    VectorCartridge cart;
    Computer_attach_cartridge(&computer, &cart.cartridge);
    cpu()->interrupt_enable = 1;
    CPU_set_pc(cpu(), 0x0123);
    regs()[FLAGS] = 0xC0;
    CPU_interrupt(cpu(), 0);
    EXPECT_EQ(pc(), 0x0200);
    EXPECT_EQ(sp(), 0xFFFD);
    EXPECT_EQ(read(0xFFFD), 0x23);
    EXPECT_EQ(read(0xFFFE), 0x01);
    EXPECT_EQ(cpu()->interrupt_enable, 0);
    EXPECT_EQ(flags(), 0xC0);
    // Now disabled: a second request does nothing.
    CPU_interrupt(cpu(), 1);
    EXPECT_EQ(pc(), 0x0200);
}

TEST_F(CpuInterrupt, VectorFifteenIsTheLast) {
    VectorCartridge cart;
    Computer_attach_cartridge(&computer, &cart.cartridge);
    cpu()->interrupt_enable = 1;
    CPU_interrupt(cpu(), 15); // read from 0x001E and 0x001F
    EXPECT_EQ(pc(), 0x02F0);
}

TEST_F(CpuInterrupt, VectorAbove15PrintsTheDiagnosticAndChangesNothing) {
    VectorCartridge cart;
    Computer_attach_cartridge(&computer, &cart.cartridge);
    cpu()->interrupt_enable = 1;
    CPU_set_pc(cpu(), 0x0123);
    for (uint32_t vector : {16u, 0xFFFFFFFFu}) {
        testing::internal::CaptureStderr();
        CPU_interrupt(cpu(), vector);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(std::regex_match(
            err, std::regex(R"(src/cpu/cpu\.cpp\.CPU_interrupt\([0-9]+\): Interrupt vector index must be between 0x0 and 0xF\n)")))
            << err;
    }
    EXPECT_EQ(pc(), 0x0123);
    EXPECT_EQ(sp(), 0xFFFF);
    EXPECT_EQ(cpu()->interrupt_enable, 1);
}

TEST_F(CpuInterrupt, StoppedCpuStillTakesItAndStaysStopped) {
    VectorCartridge cart;
    Computer_attach_cartridge(&computer, &cart.cartridge);
    cpu()->interrupt_enable = 1;
    CPU_interrupt(cpu(), 2);
    EXPECT_EQ(pc(), 0x0220);
    EXPECT_EQ(cpu()->running, 0);
}

TEST_F(CpuInterrupt, EiFrameInterruptAndRetiRoundTrip) {
    VectorCartridge cart;
    cart.image[0x200] = 0x68; // handler: INC r5
    cart.image[0x201] = 0x05;
    cart.image[0x202] = 0x42; // RETI
    Computer_attach_cartridge(&computer, &cart.cartridge);
    program({0xFD, 0xFE, 0x00, 0x00}); // DI, EI, NOP, NOP
    step();
    EXPECT_EQ(cpu()->interrupt_enable, 0);
    step();
    EXPECT_EQ(cpu()->interrupt_enable, 1);
    step();
    CPU_interrupt(cpu(), 0); // between two instructions, as the frame does
    EXPECT_EQ(cpu()->interrupt_enable, 0);
    step(2);
    EXPECT_EQ(regs()[5], 1);
    EXPECT_EQ(pc(), PROGRAM + 3);
    EXPECT_EQ(sp(), 0xFFFF);
    EXPECT_EQ(cpu()->interrupt_enable, 1);
    step();
    EXPECT_EQ(pc(), PROGRAM + 4);
}

TEST_F(CpuIllegal, OpcodeWithoutHandlerStopsAndReportsItself) {
    MemoryCartridge cart(0x200);
    cart.image[0x105] = 0x71;
    Computer_attach_cartridge(&computer, &cart.cartridge);
    CPU_set_pc(cpu(), 0x0105);
    CPU_start(cpu());
    testing::internal::CaptureStderr();
    step(2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Illegal opcode 0x71 at 0x0105\n");
    EXPECT_EQ(cpu()->running, 0);
    EXPECT_EQ(cpu()->illegal_opcode, 1);
    EXPECT_EQ(pc(), 0x0106);
}

TEST_F(CpuIllegal, EveryOpcodeOutsideTheTableIsIllegal) {
    bool defined[256] = {};
    for (const InstructionInfo& info : instruction_set) defined[info.opcode] = true;
    int illegal = 0;
    for (int opcode = 0; opcode < 256; ++opcode) {
        if (defined[opcode]) continue;
        ++illegal;
        cpu()->illegal_opcode = 0;
        testing::internal::CaptureStderr();
        EXPECT_EQ(run_one({static_cast<uint8_t>(opcode), 0x00, 0x00}), PROGRAM + 1);
        char line[64];
        std::snprintf(line, sizeof line, "Illegal opcode 0x%02X at 0xA000\n", opcode);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
        EXPECT_EQ(cpu()->running, 0) << opcode;
        EXPECT_EQ(cpu()->illegal_opcode, 1) << opcode;
    }
    EXPECT_EQ(illegal, 203);
}

TEST_F(FrameBurst, RunsTheBudgetWhileTheCpuRuns) {
    program({0x30, 0xA0, 0x00}); // JMP to itself
    EXPECT_EQ(Computer_run_instructions(&computer, Computer_cycles_per_frame(&computer)), 16666);
    EXPECT_EQ(cpu()->running, 1);
    EXPECT_EQ(pc(), PROGRAM);
}

TEST_F(FrameBurst, EndsAtTheInstructionThatStops) {
    program({0x68, 0x00, 0x68, 0x00, 0xFF, 0x68, 0x00}); // INC r0, INC r0, HALT, INC r0
    EXPECT_EQ(Computer_run_instructions(&computer, 16666), 3);
    EXPECT_EQ(regs()[0], 2);
    EXPECT_EQ(Computer_run_instructions(&computer, 16666), 0);
}

TEST_F(FrameBurst, DmaCheckRunsAfterTheStoppingInstruction) {
    write(0xB000, 0x5A);
    const uint8_t registers[] = {0xB0, 0x00, 0xB1, 0x00, 0x00, 0x01, 0x01};
    for (int i = 0; i < 7; ++i) write(static_cast<uint16_t>(0xFF00 + i), registers[i]);
    program({0xFF});
    EXPECT_EQ(Computer_run_instructions(&computer, 16666), 1);
    EXPECT_EQ(read(0xB100), 0x5A);
    EXPECT_EQ(read(0xFF06), 0x00);
}

} // namespace
