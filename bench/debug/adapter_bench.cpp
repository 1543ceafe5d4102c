// What the protocol costs the adapter: reading framed messages, and a step
// as an editor makes it (stepIn, then stackTrace, scopes and the three
// scopes' variables), each message parsed, dispatched and answered in JSON.
// A session on a small program stands stopped in a loop, so the step itself
// is one instruction and the rest is the protocol's work.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "assembler.h"
#include "framing.h"
#include "requests.h"

namespace {

std::vector<uint8_t> image;

bool read_file(const std::string& path, uint64_t, std::vector<uint8_t>* bytes, std::string*) {
    *bytes = image;
    return path == "bench.rom";
}

void count_bytes(void* context, std::string_view bytes) { *static_cast<size_t*>(context) += bytes.size(); }

std::string request(int seq, const std::string& command, const std::string& arguments) {
    return R"({"seq":)" + std::to_string(seq) + R"(,"type":"request","command":")" + command +
           R"(","arguments":)" + arguments + "}";
}

void BM_StepAsAnEditorMakesIt(benchmark::State& state) {
    Assembly assembly = Assembler_assemble_text("bench.asm", ".start\n.loop: INCW p2\nJMP .loop\n");
    if (!Assembly_ok(assembly)) std::abort();
    image = assembly.image;
    size_t sent = 0;
    static Adapter adapter;
    Adapter_init(&adapter, MessageSink{count_bytes, &sent, 1},
                 AdapterHost{read_file, nullptr, nullptr, nullptr});
    Adapter_handle(&adapter,
                   request(1, "launch", R"({"program":"bench.rom","noDisplay":true,"stopOnEntry":true})"));
    Adapter_handle(&adapter, request(2, "configurationDone", "{}"));
    const std::vector<std::string> step = {
        request(3, "stepIn", R"({"threadId":1})"),
        request(4, "stackTrace", R"({"threadId":1})"),
        request(5, "scopes", R"({"frameId":1})"),
        request(6, "variables", R"({"variablesReference":1})"),
        request(7, "variables", R"({"variablesReference":2})"),
        request(8, "variables", R"({"variablesReference":3})"),
    };
    for (auto _ : state) {
        Adapter_handle(&adapter, step[0]);
        while (Adapter_running(&adapter)) Adapter_run_slice(&adapter);
        for (size_t i = 1; i < step.size(); ++i) Adapter_handle(&adapter, step[i]);
    }
    state.counters["bytes sent per step"] =
        static_cast<double>(sent) / static_cast<double>(state.iterations());
    Adapter_free(&adapter);
}
BENCHMARK(BM_StepAsAnEditorMakesIt);

// Framed requests fed in pieces of 4 KiB, as a pipe delivers them.
void BM_ReadFrames(benchmark::State& state) {
    std::string input;
    for (int seq = 1; seq <= 1000; ++seq)
        input += Frame_encode(request(seq, "evaluate", R"({"expression":"r0 + [p2]"})"));
    size_t frames = 0;
    for (auto _ : state) {
        FrameReader reader;
        FrameReader_init(&reader);
        Frame frame;
        for (size_t at = 0; at < input.size(); at += 4096) {
            FrameReader_feed(&reader, std::string_view(input).substr(at, 4096));
            while (FrameReader_next(&reader, &frame)) ++frames;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(input.size() * state.iterations()));
    state.counters["frames"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadFrames);

} // namespace

BENCHMARK_MAIN();
