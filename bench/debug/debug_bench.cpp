// The debugger's overhead on whole frames of a game-like program (calls,
// loads and stores in RAM, the frame interrupt): the same frames run by
// Computer_run_frame alone, by a debug session with nothing set (which runs
// whole frames and keeps its history), and by a session with ten code
// breakpoints and a data breakpoint in RAM that the program does not reach,
// so every instruction is checked and every RAM access watched.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "assembler.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "session.h"

namespace {

constexpr int FRAMES = 60;

constexpr const char* SOURCE = R"(
.vector 0, frame
.start
        LDW   p2, 0xA000
        EI
.loop:  CALL  work
        JMP   .loop
work:   LD    r0, [p2]
        ADD   r0, 3
        ST    [p2], r0
        INCW  p2
        CMPW  p2, 0xA800
        JNZ   .done
        LDW   p2, 0xA000
.done:  RET
frame:  PUSH  p10
        LDW   p8, 0xB000
        LD    r10, [p8]
        INC   r10
        ST    [p8], r10
        POP   p10
        RETI
never:  NOP
        NOP
        NOP
        NOP
        NOP
        NOP
        NOP
        NOP
        NOP
        NOP
        RET
)";

std::vector<uint8_t> program() {
    Assembly assembly = Assembler_assemble_text("bench.asm", SOURCE);
    if (!Assembly_ok(assembly)) {
        std::fprintf(stderr, "%s\n", AsmDiagnostic_format(assembly.diagnostics[0]).c_str());
        std::abort();
    }
    return assembly.image;
}

void quiet(void*, bool, const char*) {}

void BM_PlainFrames(benchmark::State& state) {
    Log_set_sink(quiet, nullptr);
    std::vector<uint8_t> rom = program();
    static Computer computer{};
    static Cartridge cartridge{};
    Computer_init(&computer);
    Cartridge_init_image(&cartridge, rom);
    Computer_attach_cartridge(&computer, &cartridge);
    for (auto _ : state) {
        Computer_start(&computer);
        for (int f = 0; f < FRAMES; ++f) Computer_run_frame(&computer, nullptr);
    }
    Computer_detach_cartridge(&computer);
    Cartridge_free_image(&cartridge);
    Computer_free(&computer);
    Log_set_sink(nullptr, nullptr);
}

void run_session(benchmark::State& state, bool with_breakpoints) {
    static Session session{};
    std::string error;
    for (auto _ : state) {
        state.PauseTiming();
        Session_init(&session);
        Session_launch(&session, program(), "", &error, &error);
        if (with_breakpoints) {
            std::vector<CodeBreak> code;
            for (uint16_t i = 0; i < 10; ++i)
                code.push_back(
                    CodeBreak{i, BreakKind::Instruction, -1, static_cast<uint16_t>(0x0200 + i), BreakRule{}});
            Breakpoints_set_code(&session.breakpoints, BreakKind::Instruction, std::move(code));
            std::vector<DataBreak> data;
            data.push_back(DataBreak{11, 0xC000, WATCH_READ | WATCH_WRITE, BreakRule{}});
            Breakpoints_set_data(&session.breakpoints, std::move(data));
        }
        Session_resume(&session, SessionGoal::Run, StepKind::Into);
        state.ResumeTiming();
        while (session.computer.frame < FRAMES) {
            Stop stop = Session_run_slice(&session);
            if (stop.reason != StopReason::None) state.SkipWithError("the session stopped");
        }
        state.PauseTiming();
        Session_free(&session);
        state.ResumeTiming();
    }
}

void BM_DebuggerIdle(benchmark::State& state) { run_session(state, false); }
void BM_DebuggerBreakpoints(benchmark::State& state) { run_session(state, true); }

} // namespace

BENCHMARK(BM_PlainFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DebuggerIdle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DebuggerBreakpoints)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
