#include "cpu/cpu.h"

#include "computer/log.h"
#include "cpu/isa.h"

std::array<OpcodeHandler, 256> opcode_table;

namespace {

// ---- operand and flag helpers ---------------------------------------------

// The operand bytes of an instruction. PC moves past all of them at once and
// they are then read in order from where they start: no read handler looks at
// PC, so this is the byte-by-byte fetch without a PC update per byte.
struct Operands {
    CPU* cpu;
    uint16_t at;
};

inline Operands take_operands(CPU* cpu, int count) {
    uint16_t pc = CPU_pc(cpu);
    CPU_set_pair(cpu, PAIR_PC, static_cast<uint16_t>(pc + count));
    return Operands{cpu, pc};
}

// How many operand bytes follow `Opcode`, as the instruction table gives it.
template <uint8_t Opcode>
constexpr int operand_bytes = instruction_size(*instruction_for(Opcode)) - 1;

template <uint8_t Opcode>
inline Operands take_operands(CPU* cpu) {
    return take_operands(cpu, operand_bytes<Opcode>);
}

inline uint8_t next_byte(Operands& o) { return Bus_read(o.cpu->bus, o.at++); }
// A pair operand names pairs 0..15 whatever the byte's high nibble holds.
inline int next_pair(Operands& o) { return next_byte(o) & 0x0F; }
inline uint16_t next_word(Operands& o) {
    uint8_t high = next_byte(o);
    uint8_t low = next_byte(o);
    return static_cast<uint16_t>(high << 8 | low);
}

inline uint8_t& cell(CPU* cpu, uint8_t index) { return cpu->cells[index]; }

// Each flag step touches one bit of r11 and keeps the other seven.
inline void set_flag(CPU* cpu, uint8_t bit, bool on) {
    uint8_t& flags = cpu->cells[FLAGS];
    // Arithmetic rather than a choice: flag results follow the data, and a
    // branch on them would be mispredicted as often as not.
    flags = static_cast<uint8_t>((flags & ~bit) | (bit & -static_cast<int>(on)));
}
inline void set_z(CPU* cpu, bool on) { set_flag(cpu, FLAG_Z, on); }
inline void set_c(CPU* cpu, bool on) { set_flag(cpu, FLAG_C, on); }
inline bool flag(const CPU* cpu, uint8_t bit) { return (cpu->cells[FLAGS] & bit) != 0; }

// ---- register and memory moves -------------------------------------------

void op_nop(CPU*, uint8_t) {}

template <uint8_t Op>
void op_ld_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    cell(cpu, x) = n;
}

template <uint8_t Op>
void op_mov(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    cell(cpu, x) = cell(cpu, y);
}

template <uint8_t Op>
void op_ld_mem(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    int y = next_pair(o);
    cell(cpu, x) = Bus_read(cpu->bus, CPU_pair(cpu, y));
}

template <uint8_t Op>
void op_st_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    uint8_t y = next_byte(o);
    Bus_write(cpu->bus, CPU_pair(cpu, x), cell(cpu, y));
}

template <uint8_t Op>
void op_st_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    uint8_t n = next_byte(o);
    Bus_write(cpu->bus, CPU_pair(cpu, x), n);
}

template <uint8_t Op>
void op_ldw(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    uint16_t nn = next_word(o);
    CPU_set_pair(cpu, x, nn);
}

template <uint8_t Op>
void op_movw(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    int y = next_pair(o);
    CPU_set_pair(cpu, x, CPU_pair(cpu, y));
}

template <uint8_t Op>
void op_stw(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    int y = next_pair(o);
    uint16_t address = CPU_pair(cpu, x);
    uint16_t value = CPU_pair(cpu, y);
    Bus_write(cpu->bus, address, static_cast<uint8_t>(value >> 8));
    Bus_write(cpu->bus, static_cast<uint16_t>(address + 1), static_cast<uint8_t>(value));
}

template <uint8_t Op>
void op_xchg(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    uint8_t vx = cell(cpu, x);
    uint8_t vy = cell(cpu, y);
    cell(cpu, x) = vy;
    cell(cpu, y) = vx;
}

// ---- stack ---------------------------------------------------------------

template <uint8_t Op>
void op_push_pair(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    CPU_push(cpu, CPU_pair(cpu, next_pair(o)));
}

template <uint8_t Op>
void op_push_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    CPU_push(cpu, next_word(o));
}

template <uint8_t Op>
void op_pop(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    uint16_t value = CPU_pop(cpu);
    CPU_set_pair(cpu, x, value);
}

// ---- jumps, calls and returns ----------------------------------------------

template <uint8_t Op, uint8_t Bit, bool WhenSet>
void op_jump_if(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint16_t target = next_word(o);
    if (flag(cpu, Bit) == WhenSet) CPU_set_pair(cpu, PAIR_PC, target);
}

template <uint8_t Op>
void op_jmp(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    CPU_set_pair(cpu, PAIR_PC, next_word(o));
}

template <uint8_t Op>
void op_call(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint16_t target = next_word(o);
    CPU_push(cpu, CPU_pc(cpu));
    CPU_set_pair(cpu, PAIR_PC, target);
}

void op_ret(CPU* cpu, uint8_t) {
    // A return from the outermost level ends the program.
    if (CPU_sp(cpu) == STACK_TOP) {
        cpu->running = 0;
        return;
    }
    CPU_set_pair(cpu, PAIR_PC, CPU_pop(cpu));
}

void op_reti(CPU* cpu, uint8_t) {
    CPU_set_pair(cpu, PAIR_PC, CPU_pop(cpu));
    cpu->interrupt_enable = 1;
}

// ---- logic -------------------------------------------------------------------

enum class Logic { And, Or, Xor };

inline uint8_t logic(Logic op, uint8_t a, uint8_t b) {
    switch (op) {
    case Logic::And: return a & b;
    case Logic::Or: return a | b;
    default: return a ^ b;
    }
}

template <uint8_t Code, Logic Op>
void op_logic_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Code>(cpu);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    cell(cpu, x) = logic(Op, cell(cpu, x), n);
    set_z(cpu, cell(cpu, x) == 0);
}

template <uint8_t Code, Logic Op>
void op_logic_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands<Code>(cpu);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    cell(cpu, x) = logic(Op, cell(cpu, x), cell(cpu, y));
    set_z(cpu, cell(cpu, x) == 0);
}

template <uint8_t Op>
void op_not(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    cell(cpu, x) = static_cast<uint8_t>(~cell(cpu, x));
    set_z(cpu, cell(cpu, x) == 0);
}

// ---- 8-bit arithmetic ------------------------------------------------------
// The flag steps run in order and each reads its operands when it runs, so
// an instruction on r11 sees the flags written by the earlier steps.

inline void add_steps(CPU* cpu, uint8_t x, auto value) {
    set_c(cpu, cell(cpu, x) + value() > 0xFF);
    cell(cpu, x) = static_cast<uint8_t>(cell(cpu, x) + value());
    set_z(cpu, cell(cpu, x) == 0);
}

inline void sub_steps(CPU* cpu, uint8_t x, auto value) {
    set_c(cpu, value() > cell(cpu, x));
    cell(cpu, x) = static_cast<uint8_t>(cell(cpu, x) - value());
    set_z(cpu, cell(cpu, x) == 0);
}

template <uint8_t Op>
void op_add_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    add_steps(cpu, x, [n] { return n; });
}

template <uint8_t Op>
void op_add_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    add_steps(cpu, x, [cpu, y] { return cpu->cells[y]; });
}

template <uint8_t Op>
void op_sub_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    sub_steps(cpu, x, [n] { return n; });
}

template <uint8_t Op>
void op_sub_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    sub_steps(cpu, x, [cpu, y] { return cpu->cells[y]; });
}

template <uint8_t Op>
void op_inc(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    add_steps(cpu, x, [] { return uint8_t{1}; });
}

template <uint8_t Op>
void op_dec(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    sub_steps(cpu, x, [] { return uint8_t{1}; });
}

// The count is taken modulo 32; C is the last bit shifted out, or 0 when
// nothing (k = 0) or only zeros (k > 8) left the register.
template <uint8_t Op>
void op_shl(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    unsigned k = next_byte(o) % 32u;
    set_c(cpu, k >= 1 && k <= 8 && ((cell(cpu, x) >> (8 - k)) & 1));
    cell(cpu, x) = static_cast<uint8_t>(k >= 8 ? 0 : cell(cpu, x) << k);
    set_z(cpu, cell(cpu, x) == 0);
}

template <uint8_t Op>
void op_shr(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    unsigned k = next_byte(o) % 32u;
    set_c(cpu, k >= 1 && k <= 8 && ((cell(cpu, x) >> (k - 1)) & 1));
    cell(cpu, x) = static_cast<uint8_t>(k >= 8 ? 0 : cell(cpu, x) >> k);
    set_z(cpu, cell(cpu, x) == 0);
}

// ---- 16-bit arithmetic: never touches the flags -----------------------------

template <uint8_t Op>
void op_addw_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    uint16_t nn = next_word(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) + nn));
}

template <uint8_t Op>
void op_addw_pair(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    int y = next_pair(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) + CPU_pair(cpu, y)));
}

template <uint8_t Op>
void op_subw_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    uint16_t nn = next_word(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) - nn));
}

template <uint8_t Op>
void op_subw_pair(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    int y = next_pair(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) - CPU_pair(cpu, y)));
}

template <uint8_t Op>
void op_incw(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) + 1));
}

template <uint8_t Op>
void op_decw(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) - 1));
}

// ---- comparisons -------------------------------------------------------------

inline void cmp_steps(CPU* cpu, uint8_t x, auto value) {
    set_z(cpu, cell(cpu, x) == value());
    set_c(cpu, value() > cell(cpu, x));
}

template <uint8_t Op>
void op_cmp_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    cmp_steps(cpu, x, [n] { return n; });
}

template <uint8_t Op>
void op_cmp_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    cmp_steps(cpu, x, [cpu, y] { return cpu->cells[y]; });
}

// Both words are read once and FLAGS is written once.
inline void cmpw(CPU* cpu, uint16_t a, uint16_t b) {
    uint8_t flags = cpu->cells[FLAGS] & static_cast<uint8_t>(~(FLAG_Z | FLAG_C));
    if (a == b) flags |= FLAG_Z;
    if (b > a) flags |= FLAG_C;
    cpu->cells[FLAGS] = flags;
}

template <uint8_t Op>
void op_cmpw_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    uint16_t nn = next_word(o);
    cmpw(cpu, CPU_pair(cpu, x), nn);
}

template <uint8_t Op>
void op_cmpw_pair(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    int x = next_pair(o);
    int y = next_pair(o);
    cmpw(cpu, CPU_pair(cpu, x), CPU_pair(cpu, y));
}

// ---- ports ---------------------------------------------------------------------

template <uint8_t Op>
void op_in_port(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t port = next_byte(o);
    cell(cpu, x) = Bus_in(cpu->bus, port);
}

template <uint8_t Op>
void op_in_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    cell(cpu, x) = Bus_in(cpu->bus, cell(cpu, y));
}

template <uint8_t Op>
void op_out_port(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t port = next_byte(o);
    uint8_t y = next_byte(o);
    Bus_out(cpu->bus, port, cell(cpu, y));
}

template <uint8_t Op>
void op_out_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands<Op>(cpu);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    Bus_out(cpu->bus, cell(cpu, x), cell(cpu, y));
}

// ---- interrupts and stop ---------------------------------------------------------

void op_di(CPU* cpu, uint8_t) { cpu->interrupt_enable = 0; }
void op_ei(CPU* cpu, uint8_t) { cpu->interrupt_enable = 1; }
void op_halt(CPU* cpu, uint8_t) { cpu->running = 0; }

// Handlers by opcode. A handler that reads operands is instantiated for its
// opcode, so how many bytes it takes comes from the instruction table; the
// check below makes sure this list and the table name the same 53 opcodes.
struct HandlerRow {
    uint8_t opcode;
    OpcodeHandler handler;
};

// clang-format off
constexpr std::array<HandlerRow, INSTRUCTION_COUNT> handlers{{
    {0x00, op_nop},                          // NOP
    {0x10, op_ld_imm<0x10>},                 // LD Reg, Imm8
    {0x11, op_mov<0x11>},                    // MOV Reg, Reg
    {0x12, op_ld_mem<0x12>},                 // LD Reg, Pair
    {0x13, op_st_reg<0x13>},                 // ST Pair, Reg
    {0x14, op_st_imm<0x14>},                 // ST Pair, Imm8
    {0x15, op_ldw<0x15>},                    // LDW Pair, Imm16
    {0x16, op_movw<0x16>},                   // MOVW Pair, Pair
    {0x17, op_stw<0x17>},                    // STW Pair, Pair
    {0x1F, op_xchg<0x1F>},                   // XCHG Reg, Reg
    {0x20, op_push_pair<0x20>},              // PUSH Pair
    {0x21, op_push_imm<0x21>},               // PUSH Imm16
    {0x22, op_pop<0x22>},                    // POP Pair
    {0x30, op_jmp<0x30>},                    // JMP Imm16
    {0x31, op_jump_if<0x31, FLAG_C, true>},  // JC Imm16
    {0x32, op_jump_if<0x32, FLAG_C, false>}, // JNC Imm16
    {0x33, op_jump_if<0x33, FLAG_Z, true>},  // JZ Imm16
    {0x34, op_jump_if<0x34, FLAG_Z, false>}, // JNZ Imm16
    {0x40, op_call<0x40>},                   // CALL Imm16
    {0x41, op_ret},                          // RET
    {0x42, op_reti},                         // RETI
    {0x50, op_logic_imm<0x50, Logic::And>},  // AND Reg, Imm8
    {0x51, op_logic_reg<0x51, Logic::And>},  // AND Reg, Reg
    {0x52, op_logic_imm<0x52, Logic::Or>},   // OR Reg, Imm8
    {0x53, op_logic_reg<0x53, Logic::Or>},   // OR Reg, Reg
    {0x54, op_logic_imm<0x54, Logic::Xor>},  // XOR Reg, Imm8
    {0x55, op_logic_reg<0x55, Logic::Xor>},  // XOR Reg, Reg
    {0x56, op_not<0x56>},                    // NOT Reg
    {0x60, op_add_imm<0x60>},                // ADD Reg, Imm8
    {0x61, op_add_reg<0x61>},                // ADD Reg, Reg
    {0x62, op_addw_imm<0x62>},               // ADDW Pair, Imm16
    {0x63, op_addw_pair<0x63>},              // ADDW Pair, Pair
    {0x64, op_sub_imm<0x64>},                // SUB Reg, Imm8
    {0x65, op_sub_reg<0x65>},                // SUB Reg, Reg
    {0x66, op_subw_imm<0x66>},               // SUBW Pair, Imm16
    {0x67, op_subw_pair<0x67>},              // SUBW Pair, Pair
    {0x68, op_inc<0x68>},                    // INC Reg
    {0x69, op_incw<0x69>},                   // INCW Pair
    {0x6A, op_dec<0x6A>},                    // DEC Reg
    {0x6B, op_decw<0x6B>},                   // DECW Pair
    {0x6C, op_shl<0x6C>},                    // SHL Reg, Imm8
    {0x6D, op_shr<0x6D>},                    // SHR Reg, Imm8
    {0x70, op_cmp_imm<0x70>},                // CMP Reg, Imm8
    {0x72, op_cmp_reg<0x72>},                // CMP Reg, Reg
    {0x73, op_cmpw_imm<0x73>},               // CMPW Pair, Imm16
    {0x74, op_cmpw_pair<0x74>},              // CMPW Pair, Pair
    {0x80, op_in_port<0x80>},                // IN Reg, Port
    {0x81, op_in_reg<0x81>},                 // IN Reg, Reg
    {0x82, op_out_port<0x82>},               // OUT Port, Reg
    {0x83, op_out_reg<0x83>},                // OUT Reg, Reg
    {0xFD, op_di},                           // DI
    {0xFE, op_ei},                           // EI
    {0xFF, op_halt},                         // HALT
}};
// clang-format on

constexpr bool handlers_match_instruction_set() {
    for (size_t i = 0; i < handlers.size(); ++i)
        if (handlers[i].opcode != instruction_set[i].opcode) return false;
    return true;
}
static_assert(handlers_match_instruction_set(), "handler rows must follow the instruction table");

// An opcode without a handler stops the machine visibly instead of running
// on through data.
void illegal_opcode(CPU* cpu, uint8_t opcode) {
    uint16_t at = static_cast<uint16_t>(CPU_pc(cpu) - 1);
    Log_error("Illegal opcode 0x%02X at 0x%04X\n", opcode, at);
    cpu->running = 0;
    cpu->illegal_opcode = 1;
}

} // namespace

void CPU_init_opcodes(std::array<OpcodeHandler, 256>& table) {
    table.fill(nullptr);
    for (const HandlerRow& row : handlers) table[row.opcode] = row.handler;
}

void CPU_init(CPU* cpu, Bus* bus) {
    cpu->bus = bus;
    cpu->hook = nullptr;
    cpu->hook_context = nullptr;
    for (int r = 0; r < REGISTER_COUNT; ++r) cpu->cells[r] = 0;
    CPU_set_pair(cpu, PAIR_SP, STACK_TOP);
    cpu->clock_rate = 1;
    cpu->interrupt_enable = 0;
    cpu->running = 0;
    cpu->illegal_opcode = 0;
    CPU_init_opcodes(opcode_table);
}

void CPU_free(CPU*) {}

void CPU_set_pc(CPU* cpu, uint16_t address) { CPU_set_pair(cpu, PAIR_PC, address); }

void CPU_start(CPU* cpu) { cpu->running = 1; }

uint8_t CPU_is_running(const CPU* cpu) { return cpu->running; }

void CPU_step(CPU* cpu) {
    if (!cpu->running) return;
    if (cpu->hook) cpu->hook(cpu->hook_context, cpu);
    uint16_t pc = CPU_pc(cpu);
    CPU_set_pair(cpu, PAIR_PC, static_cast<uint16_t>(pc + 1));
    uint8_t opcode = Bus_read(cpu->bus, pc);
    OpcodeHandler handler = opcode_table[opcode];
    if (handler)
        handler(cpu, opcode);
    else
        illegal_opcode(cpu, opcode);
}

uint16_t CPU_fetch_word(CPU* cpu) {
    Operands o = take_operands(cpu, operand_size(Operand::Imm16));
    return next_word(o);
}

// Only the low byte of SP picks stack bytes; indexes wrap within the page, so
// a push or pop at its edge never leaves it.
void CPU_push(CPU* cpu, uint16_t word) {
    uint8_t l = cpu->cells[15];
    CPU_set_pair(cpu, PAIR_SP, static_cast<uint16_t>(CPU_sp(cpu) - 2));
    uint8_t* page = CPU_stack_page(cpu);
    page[static_cast<uint8_t>(l - 1)] = static_cast<uint8_t>(word >> 8);
    page[static_cast<uint8_t>(l - 2)] = static_cast<uint8_t>(word);
}

uint16_t CPU_pop(CPU* cpu) {
    uint8_t l = cpu->cells[15];
    CPU_set_pair(cpu, PAIR_SP, static_cast<uint16_t>(CPU_sp(cpu) + 2));
    const uint8_t* page = CPU_stack_page(cpu);
    return static_cast<uint16_t>(page[l] | page[static_cast<uint8_t>(l + 1)] << 8);
}

void CPU_interrupt(CPU* cpu, uint32_t vector) {
    if (!cpu->interrupt_enable) return;
    if (vector >= VECTOR_COUNT) {
        Log_error("%s.%s(%d): Interrupt vector index must be between 0x0 and 0xF\n", __FILE__,
                  "CPU_interrupt", __LINE__);
        return;
    }
    CPU_push(cpu, CPU_pc(cpu));
    uint8_t high = Bus_read(cpu->bus, static_cast<uint16_t>(2 * vector));
    uint8_t low = Bus_read(cpu->bus, static_cast<uint16_t>(2 * vector + 1));
    CPU_set_pair(cpu, PAIR_PC, static_cast<uint16_t>(high << 8 | low));
    cpu->interrupt_enable = 0;
}

uint8_t CPU_stack_read(CPU* cpu, uint16_t address) { return CPU_stack_page(cpu)[address & 0xFF]; }

void CPU_stack_write(CPU* cpu, uint16_t address, uint8_t value) {
    CPU_stack_page(cpu)[address & 0xFF] = value;
}
