// The 272-cell space (registers, then the stack page), push and pop byte
// order, SP and PC as pairs 14 and 12, calls and returns, and stack indexes
// wrapping within the page.
#include "machine_test.h"

#include <algorithm>

namespace {

using CpuCells = MachineTest;
using CpuStack = MachineTest;

TEST_F(CpuCells, RegisterOperandsAbove15ReachTheStackPage) {
    run_one({0x10, 0x10, 0xA5}); // LD r16, 0xA5: stack byte 0
    EXPECT_EQ(stack()[0], 0xA5);
    run_one({0x10, 0xFF, 0x5A}); // LD r255, 0x5A: stack byte 239
    EXPECT_EQ(stack()[239], 0x5A);
    EXPECT_EQ(read(0xFFEF), 0x5A);
    regs()[0] = 0x0F;
    run_one({0x61, 0xFF, 0x00}); // ADD r255, r0
    EXPECT_EQ(read(0xFFEF), 0x69);
    stack()[127] = 0x77;
    run_one({0x11, 0x03, 0x8F}); // MOV r3, r143: stack byte 127, the last the bus cannot see
    EXPECT_EQ(regs()[3], 0x77);
    EXPECT_EQ(read(0xFF7F), 0x00);
}

TEST_F(CpuCells, PairFifteenJoinsR15AndStackByteZero) {
    run_one({0x15, 0x0F, 0xAB, 0xCD}); // LDW p15, 0xABCD
    EXPECT_EQ(regs()[15], 0xAB);
    EXPECT_EQ(stack()[0], 0xCD);
    EXPECT_EQ(regs()[14], 0xFF);
    EXPECT_EQ(pair(15), 0xABCD);
    run_one({0x16, 0x00, 0x1F}); // MOVW p0, p15 (0x1F masks to 15)
    EXPECT_EQ(pair(0), 0xABCD);
}

TEST_F(CpuCells, BusShowsTheUpperHalfOfTheStackPage) {
    stack()[0x80] = 0x11;
    EXPECT_EQ(read(0xFF80), 0x11);
    write(0xFFFF, 0x22);
    EXPECT_EQ(stack()[0xFF], 0x22);
    EXPECT_EQ(CPU_stack_read(cpu(), 0xFF80), 0x11);
    CPU_stack_write(cpu(), 0xFFC0, 0x33);
    EXPECT_EQ(stack()[0xC0], 0x33);
}

TEST_F(CpuStack, PushStoresLowByteFirstBelowSp) {
    CPU_push(cpu(), 0x1234);
    EXPECT_EQ(sp(), 0xFFFD);
    EXPECT_EQ(stack()[0xFD], 0x34);
    EXPECT_EQ(stack()[0xFE], 0x12);
    EXPECT_EQ(stack()[0xFF], 0x00);
    EXPECT_EQ(read(0xFFFD), 0x34);
    EXPECT_EQ(read(0xFFFE), 0x12);
    EXPECT_EQ(CPU_pop(cpu()), 0x1234);
    EXPECT_EQ(sp(), 0xFFFF);
}

TEST_F(CpuStack, PushAndPopInstructions) {
    CPU_set_pair(cpu(), 4, 0xBEEF);
    EXPECT_EQ(run_one({0x20, 0x04}), PROGRAM + 2); // PUSH p4
    EXPECT_EQ(run_one({0x21, 0xCA, 0xFE}), PROGRAM + 3); // PUSH 0xCAFE
    EXPECT_EQ(sp(), 0xFFFB);
    EXPECT_EQ(stack()[0xFB], 0xFE);
    EXPECT_EQ(stack()[0xFC], 0xCA);
    run_one({0x22, 0x00}); // POP p0
    EXPECT_EQ(pair(0), 0xCAFE);
    run_one({0x22, 0x02}); // POP p2
    EXPECT_EQ(pair(2), 0xBEEF);
    EXPECT_EQ(sp(), 0xFFFF);
    EXPECT_EQ(flags(), 0);
}

TEST_F(CpuStack, PushOfSpPushesItsOldValueAndPopIntoSpWins) {
    CPU_set_pair(cpu(), PAIR_SP, 0xFFF0);
    run_one({0x20, 0x0E}); // PUSH SP
    EXPECT_EQ(sp(), 0xFFEE);
    EXPECT_EQ(stack()[0xEE], 0xF0);
    EXPECT_EQ(stack()[0xEF], 0xFF);
    stack()[0xEE] = 0x80;
    run_one({0x22, 0x0E}); // POP SP: the popped word replaces the increment
    EXPECT_EQ(sp(), 0xFF80);
}

TEST_F(CpuStack, PopIntoPcJumps) {
    CPU_push(cpu(), 0xB000);
    EXPECT_EQ(run_one({0x22, 0x0C}), 0xB000);
}

TEST_F(CpuStack, IndexesWrapWithinThePage) {
    CPU_set_pair(cpu(), PAIR_SP, 0xFF01); // L = 1: bytes 0x00 and 0xFF
    CPU_push(cpu(), 0xA1B2);
    EXPECT_EQ(sp(), 0xFEFF);
    EXPECT_EQ(stack()[0x00], 0xA1);
    EXPECT_EQ(stack()[0xFF], 0xB2);
    EXPECT_EQ(regs()[15], 0xFF); // nothing written outside the page
    CPU_set_pair(cpu(), PAIR_SP, 0x0000); // L = 0: bytes 0xFF and 0xFE
    CPU_push(cpu(), 0xC3D4);
    EXPECT_EQ(sp(), 0xFFFE);
    EXPECT_EQ(stack()[0xFF], 0xC3);
    EXPECT_EQ(stack()[0xFE], 0xD4);

    CPU_set_pair(cpu(), PAIR_SP, 0xFFFF); // pop with L = 0xFF reads 0xFF then 0x00
    stack()[0xFF] = 0x34;
    stack()[0x00] = 0x12;
    EXPECT_EQ(CPU_pop(cpu()), 0x1234);
    EXPECT_EQ(sp(), 0x0001);
}

TEST_F(CpuStack, CallPushesTheNextAddressAndRetReturns) {
    MemoryCartridge cart(0x400);
    const uint8_t call[] = {0x40, 0x03, 0x00}; // at 0x0200: CALL 0x0300
    std::copy(std::begin(call), std::end(call), cart.image.begin() + 0x200);
    cart.image[0x300] = 0x41; // RET
    Computer_attach_cartridge(&computer, &cart.cartridge);
    CPU_set_pc(cpu(), 0x0200);
    CPU_start(cpu());
    step();
    EXPECT_EQ(pc(), 0x0300);
    EXPECT_EQ(sp(), 0xFFFD);
    EXPECT_EQ(stack()[0xFD], 0x03);
    EXPECT_EQ(stack()[0xFE], 0x02);
    step();
    EXPECT_EQ(pc(), 0x0203);
    EXPECT_EQ(sp(), 0xFFFF);
    EXPECT_EQ(cpu()->running, 1);
}

TEST_F(CpuStack, RetOnAnEmptyStackStops) {
    EXPECT_EQ(run_one({0x41, 0x10, 0x00, 0x07}), PROGRAM + 1);
    EXPECT_EQ(cpu()->running, 0);
    EXPECT_EQ(sp(), 0xFFFF);
    EXPECT_EQ(cpu()->illegal_opcode, 0);
    step(); // the LD after it does not run
    EXPECT_EQ(pc(), PROGRAM + 1);
    EXPECT_EQ(regs()[0], 0);
}

TEST_F(CpuStack, RetOnlyStopsAtExactlyFFFF) {
    // SP = 0x00FF has the same low byte but is not the empty stack.
    CPU_set_pair(cpu(), PAIR_SP, 0x00FF);
    stack()[0xFF] = 0x00;
    stack()[0x00] = 0xB0;
    EXPECT_EQ(run_one({0x41}), 0xB000);
    EXPECT_EQ(cpu()->running, 1);
    EXPECT_EQ(sp(), 0x0101);
}

TEST_F(CpuStack, HaltStops) {
    EXPECT_EQ(run_one({0xFF, 0x00}), PROGRAM + 1);
    EXPECT_EQ(cpu()->running, 0);
}

} // namespace
