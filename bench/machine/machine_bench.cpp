// Benchmarks of the machine as the frame loop drives it: programs run from
// work RAM through Computer_run_instructions (every fetch and operand walks
// the bus, a DMA check follows every instruction), the composer draws a busy
// picture, a DMA block crosses the whole address space, and the synthesiser
// fills one host buffer. Nothing is throttled and nothing is stubbed.
//
// The machine is built once, with a cartridge whose image lives in memory;
// each benchmark clears it and loads its own program.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "apu/apu.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"

namespace {

constexpr uint16_t PROGRAM_ORIGIN = 0xA000;
constexpr uint16_t INTERRUPT_HANDLER = 0xA400;
constexpr int FRAME_INSTRUCTIONS = 16666;
constexpr uint8_t UNMAPPED_PORT = 0x40;

constexpr uint8_t hi(uint16_t word) { return static_cast<uint8_t>(word >> 8); }
constexpr uint8_t lo(uint16_t word) { return static_cast<uint8_t>(word); }

// Machine code with its load address, so that jump targets can be taken from
// the current end while it is written.
struct Program {
    uint16_t origin;
    std::vector<uint8_t> bytes;
};

uint16_t Program_here(const Program& program) {
    return static_cast<uint16_t>(program.origin + program.bytes.size());
}

void Program_emit(Program* program, std::initializer_list<uint8_t> code) {
    program->bytes.insert(program->bytes.end(), code);
}

// The counting loop: four instructions, 65,535 rounds, then HALT.
Program loop_program() {
    Program p{PROGRAM_ORIGIN, {}};
    Program_emit(&p, {0x15, 0x00, 0x00, 0x00}); // LDW p0, 0x0000
    uint16_t loop = Program_here(p);
    Program_emit(&p, {0x68, 0x02});               // INC r2
    Program_emit(&p, {0x69, 0x00});               // INCW p0
    Program_emit(&p, {0x73, 0x00, 0xFF, 0xFF});   // CMPW p0, 0xFFFF
    Program_emit(&p, {0x34, hi(loop), lo(loop)}); // JNZ loop
    Program_emit(&p, {0xFF});                     // HALT
    return p;
}

// A game-like mix that never stops: loads and stores through pairs into RAM
// and VRAM, 8- and 16-bit arithmetic, logic, shifts, compares and branches,
// a call and return, a push and pop, and port output nobody answers.
Program mix_program() {
    Program p{PROGRAM_ORIGIN, {}};
    Program_emit(&p, {0xFE}); // EI (only the frame benchmark raises the interrupt)
    uint16_t jump_over_sub = Program_here(p);
    Program_emit(&p, {0x30, 0x00, 0x00}); // JMP start, patched below

    uint16_t sub = Program_here(p);
    Program_emit(&p, {0x65, 0x09, 0x06}); // SUB r9, r6
    Program_emit(&p, {0x17, 0x00, 0x08}); // STW [p0], p8
    Program_emit(&p, {0x6C, 0x09, 0x01}); // SHL r9, 1
    Program_emit(&p, {0x41});             // RET

    uint16_t start = Program_here(p);
    p.bytes[jump_over_sub - PROGRAM_ORIGIN + 1] = hi(start);
    p.bytes[jump_over_sub - PROGRAM_ORIGIN + 2] = lo(start);
    Program_emit(&p, {0x15, 0x00, 0xC0, 0x00}); // LDW p0, 0xC000  data in RAM
    Program_emit(&p, {0x15, 0x02, 0x80, 0x00}); // LDW p2, 0x8000  patterns and map in VRAM
    Program_emit(&p, {0x15, 0x04, 0x00, 0x00}); // LDW p4, 0x0000  counter
    uint16_t loop = Program_here(p);
    Program_emit(&p, {0x12, 0x06, 0x00});          // LD r6, [p0]
    Program_emit(&p, {0x60, 0x06, 0x03});          // ADD r6, 3
    Program_emit(&p, {0x13, 0x02, 0x06});          // ST [p2], r6
    Program_emit(&p, {0x69, 0x00});                // INCW p0
    Program_emit(&p, {0x69, 0x02});                // INCW p2
    Program_emit(&p, {0x50, 0x00, 0x1F});          // AND r0, 0x1F  keep p0 in C000-DFFF
    Program_emit(&p, {0x52, 0x00, 0xC0});          // OR r0, 0xC0
    Program_emit(&p, {0x50, 0x02, 0x17});          // AND r2, 0x17  keep p2 in 8000-97FF
    Program_emit(&p, {0x52, 0x02, 0x80});          // OR r2, 0x80
    Program_emit(&p, {0x40, hi(sub), lo(sub)});    // CALL sub
    Program_emit(&p, {0x20, 0x00});                // PUSH p0
    Program_emit(&p, {0x22, 0x08});                // POP p8
    Program_emit(&p, {0x55, 0x07, 0x06});          // XOR r7, r6
    Program_emit(&p, {0x82, UNMAPPED_PORT, 0x07}); // OUT 0x40, r7
    Program_emit(&p, {0x70, 0x07, 0x55});          // CMP r7, 0x55
    uint16_t skip = static_cast<uint16_t>(Program_here(p) + 3 + 2);
    Program_emit(&p, {0x33, hi(skip), lo(skip)});   // JZ skip
    Program_emit(&p, {0x6A, 0x0A});                 // DEC r10
    Program_emit(&p, {0x61, 0x07, 0x0A});           // ADD r7, r10   (skip lands here)
    Program_emit(&p, {0x62, 0x04, 0x00, 0x01});     // ADDW p4, 0x0001
    Program_emit(&p, {0x11, 0x03, 0x01});           // MOV r3, r1
    Program_emit(&p, {0x73, 0x04, 0x20, 0x00});     // CMPW p4, 0x2000
    Program_emit(&p, {0x34, hi(loop), lo(loop)});   // JNZ loop
    Program_emit(&p, {0x30, hi(start), lo(start)}); // JMP start
    return p;
}

// Saves the registers it touches, the flags among them, as a real handler must.
Program interrupt_program() {
    Program p{INTERRUPT_HANDLER, {}};
    Program_emit(&p, {0x20, 0x0A});                // PUSH p10  (r10 and FLAGS)
    Program_emit(&p, {0x10, 0x0A, 0x01});          // LD r10, 1
    Program_emit(&p, {0x82, UNMAPPED_PORT, 0x0A}); // OUT 0x40, r10
    Program_emit(&p, {0x22, 0x0A});                // POP p10
    Program_emit(&p, {0x42});                      // RETI
    return p;
}

struct BenchMachine {
    Computer computer;
    Cartridge cartridge;
    std::vector<uint8_t> image;
    std::array<uint8_t, SAVE_SIZE> save;
};

BenchMachine* bench_machine = nullptr;

// A cartridge in memory: 32 KiB of zeros with vector 0 pointing at the
// interrupt handler in RAM.
void BenchMachine_build(BenchMachine* machine) {
    Computer_init(&machine->computer);
    machine->image.assign(0x8000, 0);
    machine->image[0] = hi(INTERRUPT_HANDLER);
    machine->image[1] = lo(INTERRUPT_HANDLER);
    machine->save.fill(0);
    machine->cartridge = Cartridge{};
    machine->cartridge.image = machine->image.data();
    machine->cartridge.image_size = machine->image.size();
    machine->cartridge.bank = 1;
    machine->cartridge.save = machine->save.data();
    machine->cartridge.save_size = machine->save.size();
    Computer_attach_cartridge(&machine->computer, &machine->cartridge);
}

void BenchMachine_free(BenchMachine* machine) {
    Computer_detach_cartridge(&machine->computer);
    Computer_free(&machine->computer);
}

Computer* fresh_machine() {
    Computer* computer = &bench_machine->computer;
    Computer_reset(computer);
    return computer;
}

void load(Computer* computer, const Program& program) {
    std::memcpy(computer->ram.buffer + (program.origin - RAM_FIRST), program.bytes.data(),
                program.bytes.size());
}

void start(Computer* computer, uint16_t at) {
    CPU_set_pc(&computer->cpu, at);
    CPU_start(&computer->cpu);
}

// A fixed pseudo-random sequence, so that every run composes the same scene.
struct Scramble {
    uint32_t state;
};
uint8_t Scramble_next(Scramble* s) {
    s->state = s->state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(s->state >> 24);
}

// Every cell draws (odd cells in the front layer, even ones at the back),
// all 40 sprites are visible, and cells and sprites cycle through the four
// flip combinations. Coverage is dense but not solid, as in real artwork.
void fill_busy_vram(uint8_t* vram) {
    Scramble s{12345};
    for (int i = 0; i < 0x800; ++i) {
        vram[VRAM_PLANE_A + i] = Scramble_next(&s);
        uint8_t cover = Scramble_next(&s) | Scramble_next(&s);
        vram[VRAM_PLANE_B + i] = cover ? cover : 0x81;
    }
    for (int n = 0; n < MAP_COLUMNS * MAP_ROWS; ++n) {
        uint8_t* cell = vram + VRAM_TILE_MAP + 3 * n;
        cell[0] = static_cast<uint8_t>(n * 37);
        cell[1] = static_cast<uint8_t>(n * 7 + 1);
        cell[2] = static_cast<uint8_t>((n & 1 ? ATTR_FRONT : 0) | ((n >> 1) & 3) << 5);
    }
    for (int i = 0; i < SPRITE_COUNT; ++i) {
        uint8_t* sprite = vram + VRAM_SPRITES + 5 * i;
        sprite[0] = static_cast<uint8_t>(i * 6 + 3);
        sprite[1] = static_cast<uint8_t>(i * 4 + 5);
        sprite[2] = static_cast<uint8_t>(200 + i);
        sprite[3] = static_cast<uint8_t>(i * 11);
        sprite[4] = static_cast<uint8_t>(ATTR_VISIBLE | (i & 3) << 5);
    }
    // Two sprites take the slow paths: one wraps into the next row, one is
    // cut at the bottom of the frame.
    vram[VRAM_SPRITES + 5 * 38 + 0] = 252;
    vram[VRAM_SPRITES + 5 * 39 + 1] = 188;
    for (int i = 0; i < 48; ++i) vram[VRAM_PALETTE + i] = static_cast<uint8_t>(i * 5 + 16);
}

void report_stop(benchmark::State& state, const Computer* computer) {
    if (computer->cpu.illegal_opcode) state.SkipWithError("the program hit an illegal opcode");
}

void cpu_loop(benchmark::State& state) {
    Computer* computer = fresh_machine();
    load(computer, loop_program());
    start(computer, PROGRAM_ORIGIN);
    int64_t executed = 0;
    for (auto _ : state) {
        // The program halts after 262,142 instructions; begin it again.
        if (!CPU_is_running(&computer->cpu)) start(computer, PROGRAM_ORIGIN);
        executed += Computer_run_instructions(computer, FRAME_INSTRUCTIONS);
    }
    report_stop(state, computer);
    state.SetItemsProcessed(executed);
    state.SetLabel("instructions");
}
BENCHMARK(cpu_loop);

void cpu_mix(benchmark::State& state) {
    Computer* computer = fresh_machine();
    load(computer, mix_program());
    start(computer, PROGRAM_ORIGIN);
    int64_t executed = 0;
    for (auto _ : state) executed += Computer_run_instructions(computer, FRAME_INSTRUCTIONS);
    report_stop(state, computer);
    if (!CPU_is_running(&computer->cpu)) state.SkipWithError("the mix program stopped");
    state.SetItemsProcessed(executed);
    state.SetLabel("instructions");
}
BENCHMARK(cpu_mix);

void compose_busy(benchmark::State& state) {
    Computer* computer = fresh_machine();
    fill_busy_vram(computer->gpu.vram);
    std::vector<uint8_t> pixels(FRAME_BYTES);
    for (auto _ : state) {
        GPU_compose(&computer->gpu, pixels.data());
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("frames");
}
BENCHMARK(compose_busy);

void dma_64k(benchmark::State& state) {
    Computer* computer = fresh_machine();
    constexpr std::array<uint8_t, 7> request{0xA0, 0x00, 0x80, 0x00, 0xFF, 0xFF, 0x01};
    for (auto _ : state) {
        // Each transfer starts from zeroed memory: the wrapped destination
        // passes the cartridge's bank select window, and bytes carried over
        // from earlier transfers (the DMA registers, the stack page) would
        // reach it after a few rounds, switch banks and print.
        state.PauseTiming();
        std::memset(computer->ram.buffer, 0, RAM_BUFFER_SIZE);
        std::memset(computer->gpu.vram, 0, VRAM_SIZE);
        computer->cpu.cells.fill(0);
        bench_machine->cartridge.bank = 1;
        state.ResumeTiming();
        // The block runs over the DMA registers themselves, so each transfer
        // is requested afresh.
        for (int i = 0; i < 7; ++i)
            DMA_write(&computer->dma, static_cast<uint16_t>(DMA_FIRST + i), request[i]);
        DMA_update(&computer->dma);
    }
    if (bench_machine->cartridge.bank != 1) state.SkipWithError("the transfer switched banks");
    state.SetItemsProcessed(state.iterations() * 65535);
    state.SetLabel("bytes");
}
BENCHMARK(dma_64k);

void apu_render(benchmark::State& state) {
    Computer* computer = fresh_machine();
    APU* apu = &computer->apu;
    APU_init(apu);
    apu->sample_rate.store(48000);
    APU_write(apu, 0xFF07, WAVE_SAW);
    APU_write(apu, 0xFF08, 69);
    APU_write(apu, 0xFF09, 200);
    std::array<float, 1024> buffer{};
    for (auto _ : state) {
        APU_render(apu, buffer.data(), static_cast<int>(buffer.size()));
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(buffer.size()));
    state.SetLabel("samples");
}
BENCHMARK(apu_render);

// One frame as every front end runs it, without the host: the burst of
// instructions with their DMA checks, the composition of the picture and
// the frame interrupt, which the program takes and returns from.
void frame(benchmark::State& state) {
    Computer* computer = fresh_machine();
    fill_busy_vram(computer->gpu.vram);
    load(computer, mix_program());
    load(computer, interrupt_program());
    start(computer, PROGRAM_ORIGIN);
    std::vector<uint8_t> pixels(FRAME_BYTES);
    for (auto _ : state) {
        Computer_run_frame(computer, pixels.data());
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    report_stop(state, computer);
    if (!CPU_is_running(&computer->cpu)) state.SkipWithError("the mix program stopped");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("frames");
}
BENCHMARK(frame);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    static BenchMachine machine{};
    BenchMachine_build(&machine);
    std::fflush(stdout);
    bench_machine = &machine;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    BenchMachine_free(&machine);
    return 0;
}
