#include "cpu/cpu.h"

#include <cstdio>

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

void op_ld_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    cell(cpu, x) = n;
}

void op_mov(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    cell(cpu, x) = cell(cpu, y);
}

void op_ld_mem(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    int y = next_pair(o);
    cell(cpu, x) = Bus_read(cpu->bus, CPU_pair(cpu, y));
}

void op_st_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    int x = next_pair(o);
    uint8_t y = next_byte(o);
    Bus_write(cpu->bus, CPU_pair(cpu, x), cell(cpu, y));
}

void op_st_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    int x = next_pair(o);
    uint8_t n = next_byte(o);
    Bus_write(cpu->bus, CPU_pair(cpu, x), n);
}

void op_ldw(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 3);
    int x = next_pair(o);
    uint16_t nn = next_word(o);
    CPU_set_pair(cpu, x, nn);
}

void op_movw(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    int x = next_pair(o);
    int y = next_pair(o);
    CPU_set_pair(cpu, x, CPU_pair(cpu, y));
}

void op_stw(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    int x = next_pair(o);
    int y = next_pair(o);
    uint16_t address = CPU_pair(cpu, x);
    uint16_t value = CPU_pair(cpu, y);
    Bus_write(cpu->bus, address, static_cast<uint8_t>(value >> 8));
    Bus_write(cpu->bus, static_cast<uint16_t>(address + 1), static_cast<uint8_t>(value));
}

void op_xchg(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    uint8_t vx = cell(cpu, x);
    uint8_t vy = cell(cpu, y);
    cell(cpu, x) = vy;
    cell(cpu, y) = vx;
}

// ---- stack ---------------------------------------------------------------

void op_push_pair(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 1);
    CPU_push(cpu, CPU_pair(cpu, next_pair(o)));
}

void op_push_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    CPU_push(cpu, next_word(o));
}

void op_pop(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 1);
    int x = next_pair(o);
    uint16_t value = CPU_pop(cpu);
    CPU_set_pair(cpu, x, value);
}

// ---- jumps, calls and returns ----------------------------------------------

template <uint8_t Bit, bool WhenSet>
void op_jump_if(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint16_t target = next_word(o);
    if (flag(cpu, Bit) == WhenSet) CPU_set_pair(cpu, PAIR_PC, target);
}

void op_jmp(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    CPU_set_pair(cpu, PAIR_PC, next_word(o));
}

void op_call(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint16_t target = next_word(o);
    CPU_push(cpu, CPU_pc(cpu));
    CPU_set_pair(cpu, PAIR_PC, target);
}

void op_ret(CPU* cpu, uint8_t) {
    // A return from the outermost level ends the program.
    if (CPU_sp(cpu) == 0xFFFF) {
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

template <Logic Op>
void op_logic_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    cell(cpu, x) = logic(Op, cell(cpu, x), n);
    set_z(cpu, cell(cpu, x) == 0);
}

template <Logic Op>
void op_logic_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    cell(cpu, x) = logic(Op, cell(cpu, x), cell(cpu, y));
    set_z(cpu, cell(cpu, x) == 0);
}

void op_not(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 1);
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

void op_add_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    add_steps(cpu, x, [n] { return n; });
}

void op_add_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    add_steps(cpu, x, [cpu, y] { return cpu->cells[y]; });
}

void op_sub_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    sub_steps(cpu, x, [n] { return n; });
}

void op_sub_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    sub_steps(cpu, x, [cpu, y] { return cpu->cells[y]; });
}

void op_inc(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 1);
    uint8_t x = next_byte(o);
    add_steps(cpu, x, [] { return uint8_t{1}; });
}

void op_dec(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 1);
    uint8_t x = next_byte(o);
    sub_steps(cpu, x, [] { return uint8_t{1}; });
}

// The count is taken modulo 32; C is the last bit shifted out, or 0 when
// nothing (k = 0) or only zeros (k > 8) left the register.
void op_shl(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    unsigned k = next_byte(o) % 32u;
    set_c(cpu, k >= 1 && k <= 8 && ((cell(cpu, x) >> (8 - k)) & 1));
    cell(cpu, x) = static_cast<uint8_t>(k >= 8 ? 0 : cell(cpu, x) << k);
    set_z(cpu, cell(cpu, x) == 0);
}

void op_shr(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    unsigned k = next_byte(o) % 32u;
    set_c(cpu, k >= 1 && k <= 8 && ((cell(cpu, x) >> (k - 1)) & 1));
    cell(cpu, x) = static_cast<uint8_t>(k >= 8 ? 0 : cell(cpu, x) >> k);
    set_z(cpu, cell(cpu, x) == 0);
}

// ---- 16-bit arithmetic: never touches the flags -----------------------------

void op_addw_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 3);
    int x = next_pair(o);
    uint16_t nn = next_word(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) + nn));
}

void op_addw_pair(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    int x = next_pair(o);
    int y = next_pair(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) + CPU_pair(cpu, y)));
}

void op_subw_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 3);
    int x = next_pair(o);
    uint16_t nn = next_word(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) - nn));
}

void op_subw_pair(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    int x = next_pair(o);
    int y = next_pair(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) - CPU_pair(cpu, y)));
}

void op_incw(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 1);
    int x = next_pair(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) + 1));
}

void op_decw(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 1);
    int x = next_pair(o);
    CPU_set_pair(cpu, x, static_cast<uint16_t>(CPU_pair(cpu, x) - 1));
}

// ---- comparisons -------------------------------------------------------------

inline void cmp_steps(CPU* cpu, uint8_t x, auto value) {
    set_z(cpu, cell(cpu, x) == value());
    set_c(cpu, value() > cell(cpu, x));
}

void op_cmp_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t n = next_byte(o);
    cmp_steps(cpu, x, [n] { return n; });
}

void op_cmp_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
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

void op_cmpw_imm(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 3);
    int x = next_pair(o);
    uint16_t nn = next_word(o);
    cmpw(cpu, CPU_pair(cpu, x), nn);
}

void op_cmpw_pair(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    int x = next_pair(o);
    int y = next_pair(o);
    cmpw(cpu, CPU_pair(cpu, x), CPU_pair(cpu, y));
}

// ---- ports ---------------------------------------------------------------------

void op_in_port(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t port = next_byte(o);
    cell(cpu, x) = Bus_in(cpu->bus, port);
}

void op_in_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    cell(cpu, x) = Bus_in(cpu->bus, cell(cpu, y));
}

void op_out_port(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t port = next_byte(o);
    uint8_t y = next_byte(o);
    Bus_out(cpu->bus, port, cell(cpu, y));
}

void op_out_reg(CPU* cpu, uint8_t) {
    Operands o = take_operands(cpu, 2);
    uint8_t x = next_byte(o);
    uint8_t y = next_byte(o);
    Bus_out(cpu->bus, cell(cpu, x), cell(cpu, y));
}

// ---- interrupts and stop ---------------------------------------------------------

void op_di(CPU* cpu, uint8_t) { cpu->interrupt_enable = 0; }
void op_ei(CPU* cpu, uint8_t) { cpu->interrupt_enable = 1; }
void op_halt(CPU* cpu, uint8_t) { cpu->running = 0; }

// Handlers by opcode; CPU_init_opcodes checks at compile time that this list
// and the instruction table name the same 53 opcodes.
struct HandlerRow {
    uint8_t opcode;
    OpcodeHandler handler;
};

// clang-format off
constexpr std::array<HandlerRow, INSTRUCTION_COUNT> handlers{{
    {0x00, op_nop},
    {0x10, op_ld_imm},  {0x11, op_mov},     {0x12, op_ld_mem},  {0x13, op_st_reg},
    {0x14, op_st_imm},  {0x15, op_ldw},     {0x16, op_movw},    {0x17, op_stw},
    {0x1F, op_xchg},
    {0x20, op_push_pair}, {0x21, op_push_imm}, {0x22, op_pop},
    {0x30, op_jmp},
    {0x31, op_jump_if<FLAG_C, true>},  {0x32, op_jump_if<FLAG_C, false>},
    {0x33, op_jump_if<FLAG_Z, true>},  {0x34, op_jump_if<FLAG_Z, false>},
    {0x40, op_call},    {0x41, op_ret},     {0x42, op_reti},
    {0x50, op_logic_imm<Logic::And>}, {0x51, op_logic_reg<Logic::And>},
    {0x52, op_logic_imm<Logic::Or>},  {0x53, op_logic_reg<Logic::Or>},
    {0x54, op_logic_imm<Logic::Xor>}, {0x55, op_logic_reg<Logic::Xor>},
    {0x56, op_not},
    {0x60, op_add_imm}, {0x61, op_add_reg}, {0x62, op_addw_imm}, {0x63, op_addw_pair},
    {0x64, op_sub_imm}, {0x65, op_sub_reg}, {0x66, op_subw_imm}, {0x67, op_subw_pair},
    {0x68, op_inc},     {0x69, op_incw},    {0x6A, op_dec},     {0x6B, op_decw},
    {0x6C, op_shl},     {0x6D, op_shr},
    {0x70, op_cmp_imm}, {0x72, op_cmp_reg}, {0x73, op_cmpw_imm}, {0x74, op_cmpw_pair},
    {0x80, op_in_port}, {0x81, op_in_reg},  {0x82, op_out_port}, {0x83, op_out_reg},
    {0xFD, op_di},      {0xFE, op_ei},      {0xFF, op_halt},
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
    std::fprintf(stderr, "Illegal opcode 0x%02X at 0x%04X\n", opcode, at);
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
    for (int r = 0; r < REGISTER_COUNT; ++r) cpu->cells[r] = 0;
    cpu->cells[14] = 0xFF;
    cpu->cells[15] = 0xFF;
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
    if (cpu->hook) cpu->hook(cpu);
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
    Operands o = take_operands(cpu, 2);
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
    if (vector > 15) {
        std::fprintf(stderr, "%s.%s(%d): Interrupt vector index must be between 0x0 and 0xF\n",
                     __FILE__, "CPU_interrupt", __LINE__);
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
