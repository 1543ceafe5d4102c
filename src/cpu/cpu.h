// The processor: sixteen byte registers and a 256-byte stack page that
// together form one space of 272 cells, a program counter (r12:r13) and a
// stack pointer (r14:r15) kept in that space, the flags in r11, an
// interrupt-enable flag and a running flag. It reaches memory and ports only
// through the Bus.
//
// Use: CPU_init once with the machine's Bus, CPU_set_pc(START_ADDRESS), CPU_start,
// then CPU_step once per instruction and CPU_interrupt(0) once per frame.
#pragma once

#include <array>
#include <cstdint>

#include "computer/bus.h"

// Where execution begins after reset, past the interrupt vectors.
constexpr uint16_t START_ADDRESS = 0x0100;
// Interrupt vector n is the big-endian handler address at 2n.
constexpr int VECTOR_COUNT = 16;
constexpr uint32_t FRAME_VECTOR = 0; // raised once per frame, after the picture
// The stack page's upper half answers on the bus here; SP starts at its top,
// and a RET with SP there ends the program.
constexpr uint16_t STACK_WINDOW = 0xFF80;
constexpr uint16_t STACK_TOP = 0xFFFF;

constexpr int FLAGS = 11; // r11
constexpr uint8_t FLAG_Z = 0x80;
constexpr uint8_t FLAG_C = 0x40;
constexpr int PAIR_PC = 12; // r12 high, r13 low
constexpr int PAIR_SP = 14; // r14 high, r15 low
constexpr int REGISTER_COUNT = 16;
constexpr int STACK_PAGE_SIZE = 256;
constexpr int CELL_COUNT = REGISTER_COUNT + STACK_PAGE_SIZE;

struct CPU;
// Called before each instruction when set: a trace, a debugger. Normal runs
// leave it null and pay one test per instruction.
using CPUHook = void (*)(void* context, CPU* cpu);
using OpcodeHandler = void (*)(CPU* cpu, uint8_t opcode);

struct CPU {
    Bus* bus;
    CPUHook hook;
    void* hook_context;
    // The registers and the stack page are one array, because operands
    // index them as one space: cells 0..15 are r0..r15, cells 16..271 are
    // stack bytes 0..255. Use CPU_stack_page() for the page alone.
    std::array<uint8_t, CELL_COUNT> cells;
    uint32_t clock_rate;
    uint8_t interrupt_enable;
    uint8_t running;
    // Set when the CPU stopped on an opcode without a handler.
    uint8_t illegal_opcode;
};

extern std::array<OpcodeHandler, 256> opcode_table;

void CPU_init(CPU* cpu, Bus* bus);
void CPU_free(CPU* cpu);
void CPU_init_opcodes(std::array<OpcodeHandler, 256>& table);
void CPU_set_pc(CPU* cpu, uint16_t address);
void CPU_start(CPU* cpu);
uint8_t CPU_is_running(const CPU* cpu);
void CPU_step(CPU* cpu);
void CPU_interrupt(CPU* cpu, uint32_t vector);
uint16_t CPU_fetch_word(CPU* cpu);
uint8_t CPU_stack_read(CPU* cpu, uint16_t address);
void CPU_stack_write(CPU* cpu, uint16_t address, uint8_t value);
void CPU_push(CPU* cpu, uint16_t word);
uint16_t CPU_pop(CPU* cpu);

inline uint8_t* CPU_regs(CPU* cpu) { return cpu->cells.data(); }
inline uint8_t* CPU_stack_page(CPU* cpu) { return cpu->cells.data() + REGISTER_COUNT; }

inline uint16_t CPU_pair(const CPU* cpu, int p) {
    return static_cast<uint16_t>(cpu->cells[p] << 8 | cpu->cells[p + 1]);
}
inline void CPU_set_pair(CPU* cpu, int p, uint16_t value) {
    cpu->cells[p] = static_cast<uint8_t>(value >> 8);
    cpu->cells[p + 1] = static_cast<uint8_t>(value);
}
inline uint16_t CPU_pc(const CPU* cpu) { return CPU_pair(cpu, PAIR_PC); }
inline uint16_t CPU_sp(const CPU* cpu) { return CPU_pair(cpu, PAIR_SP); }
