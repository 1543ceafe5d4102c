// The assembler on a 1 MB source: a generated program with labels, local
// labels, constants, expressions, every kind of operand and data, spread over
// banks the way a large game would be.
#include <benchmark/benchmark.h>

#include "assembler.h"

#include <cstdio>
#include <string>

namespace {

std::string make_source(size_t target_size) {
    std::string s;
    s.reserve(target_size + 4096);
    s += "; generated benchmark program\nSCREEN = 0x8000\nTEST_PORT = 0x80\nCOUNT = 12 * 4 + 1\n";
    s += ".vector 0, frame\n.start\nmain:\n        EI\n        JMP main\nframe:  RETI\n";
    char line[1024];
    int bank = 2, routine = 0, lines_in_bank = 0;
    s += ".bank 2\n";
    while (s.size() < target_size) {
        if (lines_in_bank > 2500) {
            std::snprintf(line, sizeof line, "\n.bank %d\n", ++bank);
            s += line;
            lines_in_bank = 0;
        }
        std::snprintf(line, sizeof line,
                      "routine_%d:                  ; entry %d\n"
                      "        LDW   p2, SCREEN + %d * 32\n"
                      "        LD    r0, COUNT\n"
                      ".loop:  LD    r1, [p2]\n"
                      "        ADD   r1, (%d & 0x7F) | 1\n"
                      "        ST    [p2], r1\n"
                      "        INCW  p2\n"
                      "        CMP   r1, 'A'\n"
                      "        JZ    .skip\n"
                      "        OUT   TEST_PORT, r1\n"
                      ".skip:  DEC   r0\n"
                      "        JNZ   .loop\n"
                      "        PUSH  routine_%d\n"
                      "        CMPW  p2, hi(SCREEN) << 8\n"
                      "        MOV   r(16 + %d %% 200), FLAGS\n"
                      "        RET\n"
                      ".data:  .byte 1, 2, 3, \"text\", -1\n"
                      "        .word routine_%d, .data, $\n",
                      routine, routine, routine % 200, routine, routine, routine, routine);
        s += line;
        lines_in_bank += 17;
        ++routine;
    }
    return s;
}

void asm_1mb(benchmark::State& state) {
    std::string source = make_source(1 << 20);
    size_t image_size = 0;
    for (auto _ : state) {
        Assembly a = Assembler_assemble_text("bench.asm", source);
        if (!Assembly_ok(a)) {
            state.SkipWithError(AsmDiagnostic_format(a.diagnostics[0]).c_str());
            break;
        }
        image_size = a.image.size();
        benchmark::DoNotOptimize(a.image.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
    state.counters["source_bytes"] = static_cast<double>(source.size());
    state.counters["image_bytes"] = static_cast<double>(image_size);
}
BENCHMARK(asm_1mb)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
