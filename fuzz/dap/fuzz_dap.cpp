// Feeds arbitrary bytes to the debug adapter as a client's input: the
// framing, the messages and every request, on a machine launched stopped
// from a small program assembled at start-up and kept in memory. While the
// program runs, each message is followed by a few frames of it, so stepping,
// breakpoints and the history are reached too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "assembler.h"
#include "framing.h"
#include "requests.h"

namespace {

const char* SOURCE = ".vector 0, frame\n.start\nmain: LD r0, 0\nLDW p2, 0xA000\nEI\n"
                     ".loop: CALL bump\nOUT 0x80, r0\nCMP r0, 200\nJNZ .loop\nHALT\n"
                     "bump: INC r0\nST [p2], r0\nPUSH p2\nPOP p2\nRET\nframe: RETI\n";
// The program's image and its debug information, the only files there are.
std::vector<uint8_t> files[2];

bool read_file(const std::string& path, uint64_t, std::vector<uint8_t>* bytes, std::string*) {
    bool dbg = path == "game.rom.dbg";
    *bytes = files[dbg];
    return dbg || path == "game.rom";
}

void discard(void*, std::string_view) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    AsmOptions options;
    options.make_debug_info = true;
    Assembly assembly = Assembler_assemble_text("game.asm", SOURCE, options);
    if (!Assembly_ok(assembly)) std::abort();
    files[0] = assembly.image;
    files[1].assign(assembly.debug_info.begin(), assembly.debug_info.end());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Adapter* adapter = new Adapter();
    Adapter_init(adapter, MessageSink{discard, nullptr, 1},
                 AdapterHost{read_file, nullptr, nullptr, nullptr});
    Adapter_handle(adapter, R"({"seq":1,"type":"request","command":"launch","arguments":)"
                            R"({"program":"game.rom","noDisplay":true,"stopOnEntry":true}})");
    Adapter_handle(adapter, R"({"seq":2,"type":"request","command":"configurationDone"})");
    FrameReader reader;
    FrameReader_init(&reader);
    FrameReader_feed(&reader, std::string_view(reinterpret_cast<const char*>(data), size));
    Frame frame;
    while (!adapter->quit && FrameReader_next(&reader, &frame)) {
        frame.kind == FrameKind::Fault ? Adapter_report_fault(adapter, frame.text)
                                       : Adapter_handle(adapter, frame.text);
        for (int slice = 0; slice < 3 && Adapter_running(adapter); ++slice) Adapter_run_slice(adapter);
    }
    Adapter_free(adapter);
    return 0;
}
