// Reset state, the instruction cycle and the move instructions: operand
// order, instruction lengths, pair byte order and PC read as an operand.
#include "machine_test.h"

#include "cpu/isa.h"

namespace {

using CpuReset = MachineTest;
using CpuCycle = MachineTest;
using CpuMoves = MachineTest;

TEST_F(CpuReset, RegistersFlagsAndTableAfterInit) {
    for (int r = 0; r < 14; ++r) EXPECT_EQ(regs()[r], 0) << "r" << r;
    EXPECT_EQ(regs()[14], 0xFF);
    EXPECT_EQ(regs()[15], 0xFF);
    EXPECT_EQ(cpu()->running, 0);
    EXPECT_EQ(cpu()->interrupt_enable, 0);
    EXPECT_EQ(cpu()->clock_rate, 1000000u); // the machine's clock, set after CPU_init
    EXPECT_EQ(Computer_cycles_per_frame(&computer), 16666);

    int filled = 0;
    for (OpcodeHandler h : opcode_table) filled += h != nullptr;
    EXPECT_EQ(filled, 53);
    for (const InstructionInfo& info : instruction_set)
        EXPECT_NE(opcode_table[info.opcode], nullptr) << info.mnemonic;
}

TEST_F(CpuReset, InitKeepsTheStackPageAndSetsClockToOne) {
    stack()[0x42] = 0x99;
    regs()[3] = 7;
    cpu()->running = 1;
    CPU_init(cpu(), &computer.bus);
    EXPECT_EQ(stack()[0x42], 0x99);
    EXPECT_EQ(regs()[3], 0);
    EXPECT_EQ(sp(), 0xFFFF);
    EXPECT_EQ(pc(), 0x0000);
    EXPECT_EQ(cpu()->running, 0);
    EXPECT_EQ(cpu()->clock_rate, 1u);
}

int hook_calls = 0;
void count_hook(void*, CPU*) { ++hook_calls; }

TEST_F(CpuCycle, StoppedCpuDoesNothing) {
    write(PROGRAM, 0x10); // LD r0, 5 -- must not run
    write(PROGRAM + 1, 0x00);
    write(PROGRAM + 2, 0x05);
    CPU_set_pc(cpu(), PROGRAM);
    hook_calls = 0;
    cpu()->hook = count_hook;
    step(3);
    EXPECT_EQ(pc(), PROGRAM);
    EXPECT_EQ(regs()[0], 0);
    EXPECT_EQ(hook_calls, 0);
}

TEST_F(CpuCycle, HookRunsBeforeEachInstruction) {
    program({0x00, 0x00, 0xFF});
    hook_calls = 0;
    cpu()->hook = count_hook;
    step(5); // NOP, NOP, HALT, then two steps of a stopped CPU
    EXPECT_EQ(hook_calls, 3);
    EXPECT_EQ(cpu()->running, 0);
    EXPECT_EQ(pc(), PROGRAM + 3);
}

uint8_t seen_opcode = 0;
void spy_handler(CPU*, uint8_t opcode) { seen_opcode = opcode; }

TEST_F(CpuCycle, DispatchGoesThroughTheOpcodeTable) {
    OpcodeHandler saved = opcode_table[0x00];
    opcode_table[0x00] = spy_handler;
    seen_opcode = 0xAA;
    program({0x00});
    step();
    opcode_table[0x00] = saved;
    EXPECT_EQ(seen_opcode, 0x00);
    EXPECT_EQ(pc(), PROGRAM + 1);
}

TEST_F(CpuCycle, WordFetchWrapsFromFFFFToZero) {
    MemoryCartridge cart(0x100);
    cart.image[0] = 0x34;
    Computer_attach_cartridge(&computer, &cart.cartridge);
    stack()[0xFF] = 0x12; // bus 0xFFFF
    CPU_set_pc(cpu(), 0xFFFF);
    EXPECT_EQ(CPU_fetch_word(cpu()), 0x1234);
    EXPECT_EQ(pc(), 0x0001);

    stack()[0xFE] = 0x30; // JMP at 0xFFFE takes its target from 0xFFFF and 0x0000
    CPU_set_pc(cpu(), 0xFFFE);
    CPU_start(cpu());
    step();
    EXPECT_EQ(pc(), 0x1234);
}

TEST_F(CpuCycle, PcWrapsAfterAnOpcodeAtFFFF) {
    stack()[0xFF] = 0x00; // NOP at bus 0xFFFF
    CPU_set_pc(cpu(), 0xFFFF);
    CPU_start(cpu());
    step();
    EXPECT_EQ(pc(), 0x0000);
}

TEST_F(CpuCycle, InstructionLengthsFollowTheTable) {
    for (const InstructionInfo& info : instruction_set) {
        if (info.opcode == 0x41 || info.opcode == 0x42 || info.opcode == 0xFF) continue;
        if (info.opcode >= 0x30 && info.opcode <= 0x40) continue; // control transfer
        SCOPED_TRACE(info.mnemonic);
        CPU_init(cpu(), &computer.bus);
        // Operands 0x01 everywhere: r1, p1, n = 1, nn = 0x0101, port 1.
        program({info.opcode, 0x01, 0x01, 0x01});
        step();
        EXPECT_EQ(pc(), PROGRAM + instruction_size(info));
    }
}

TEST_F(CpuMoves, LoadsAndRegisterMoves) {
    EXPECT_EQ(run_one({0x10, 0x03, 0x5A}), PROGRAM + 3); // LD r3, 0x5A
    EXPECT_EQ(regs()[3], 0x5A);
    EXPECT_EQ(run_one({0x11, 0x07, 0x03}), PROGRAM + 3); // MOV r7, r3
    EXPECT_EQ(regs()[7], 0x5A);
    EXPECT_EQ(regs()[3], 0x5A);
    EXPECT_EQ(flags(), 0);
}

TEST_F(CpuMoves, MemoryThroughPairs) {
    write(0xB234, 0x77);
    CPU_set_pair(cpu(), 4, 0xB234);
    run_one({0x12, 0x00, 0x04}); // LD r0, [p4]
    EXPECT_EQ(regs()[0], 0x77);

    regs()[9] = 0xC3;
    run_one({0x13, 0x04, 0x09}); // ST [p4], r9
    EXPECT_EQ(read(0xB234), 0xC3);

    run_one({0x14, 0x04, 0x11}); // ST [p4], 0x11
    EXPECT_EQ(read(0xB234), 0x11);
}

TEST_F(CpuMoves, WordMovesAreHighByteFirst) {
    EXPECT_EQ(run_one({0x15, 0x02, 0xBE, 0xEF}), PROGRAM + 4); // LDW p2, 0xBEEF
    EXPECT_EQ(regs()[2], 0xBE);
    EXPECT_EQ(regs()[3], 0xEF);

    run_one({0x16, 0x06, 0x02}); // MOVW p6, p2
    EXPECT_EQ(pair(6), 0xBEEF);

    CPU_set_pair(cpu(), 0, 0xC000);
    run_one({0x17, 0x00, 0x02}); // STW [p0], p2
    EXPECT_EQ(read(0xC000), 0xBE);
    EXPECT_EQ(read(0xC001), 0xEF);
}

TEST_F(CpuMoves, MovwBetweenOverlappingPairsCopiesTheOldValue) {
    regs()[0] = 0x12;
    regs()[1] = 0x34;
    regs()[2] = 0x56;
    run_one({0x16, 0x01, 0x00}); // MOVW p1, p0
    EXPECT_EQ(regs()[1], 0x12);
    EXPECT_EQ(regs()[2], 0x34);
}

TEST_F(CpuMoves, StwSecondByteWrapsAndCrossesRegions) {
    CPU_set_pair(cpu(), 0, 0xFFFF);
    CPU_set_pair(cpu(), 2, 0xABCD);
    run_one({0x17, 0x00, 0x02});
    EXPECT_EQ(stack()[0xFF], 0xAB); // bus 0xFFFF
    CPU_set_pair(cpu(), 0, 0xDFFF);
    MemoryCartridge cart(0x100, true);
    Computer_attach_cartridge(&computer, &cart.cartridge);
    run_one({0x17, 0x00, 0x02});
    EXPECT_EQ(read(0xDFFF), 0xAB);
    EXPECT_EQ(cart.save[0], 0xCD); // 0xE000 is the first byte of save RAM
}

TEST_F(CpuMoves, StwThroughItsOwnAddressPairReadsBothFirst) {
    // [p0] := p0: the address and the value are read before the first write.
    CPU_set_pair(cpu(), 0, 0xA100);
    run_one({0x17, 0x00, 0x00});
    EXPECT_EQ(read(0xA100), 0xA1);
    EXPECT_EQ(read(0xA101), 0x00);
}

TEST_F(CpuMoves, Exchange) {
    regs()[1] = 0x11;
    regs()[2] = 0x22;
    run_one({0x1F, 0x01, 0x02});
    EXPECT_EQ(regs()[1], 0x22);
    EXPECT_EQ(regs()[2], 0x11);
    run_one({0x1F, 0x01, 0x01});
    EXPECT_EQ(regs()[1], 0x22);
}

TEST_F(CpuMoves, ReadingPcGivesTheNextInstruction) {
    run_one({0x16, 0x00, 0x0C}); // MOVW p0, PC
    EXPECT_EQ(pair(0), PROGRAM + 3);
    run_one({0x11, 0x05, 0x0D}); // MOV r5, r13
    EXPECT_EQ(regs()[5], static_cast<uint8_t>(PROGRAM + 3));
}

TEST_F(CpuMoves, WritingPcJumps) {
    EXPECT_EQ(run_one({0x15, 0x0C, 0xB0, 0x00}), 0xB000); // LDW PC, 0xB000
    CPU_set_pair(cpu(), 0, 0xC123);
    EXPECT_EQ(run_one({0x16, 0x0C, 0x00}), 0xC123); // MOVW PC, p0
    // A pair operand keeps only its low nibble: 0x1C is PC as well.
    EXPECT_EQ(run_one({0x15, 0x1C, 0xB4, 0x56}), 0xB456);
    // r13 alone is PC's low byte, written after the operands were fetched.
    EXPECT_EQ(run_one({0x10, 0x0D, 0x80}), 0xA080);
    EXPECT_EQ(run_one({0x15, 0xF2, 0x01, 0x02}), PROGRAM + 4); // 0xF2 is p2
    EXPECT_EQ(pair(2), 0x0102);
}

} // namespace
