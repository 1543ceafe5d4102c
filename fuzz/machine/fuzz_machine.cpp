// Runs an arbitrary ROM image with arbitrary save RAM for a few frames
// through the steps of the frame loop: the frame's instructions, each with
// its DMA check, the picture composed into a frame buffer, the frame
// interrupt, and a buffer of sound rendered from the audio registers.
//
// Input: byte 0 picks the number of frames (1 to 4), bytes 1 and 2 the length
// of the save RAM that follows (big-endian, cut to 4096 and to what is there),
// and the rest is the ROM image.
//
// A DMA transfer costs the program no instruction time, so a program can ask
// for a 64 KiB copy every other instruction: a few frames of that take
// minutes under the sanitizers, which the fuzzer would report as a hang although the
// machine does what it should. The harness watches the DMA control writes on
// the bus and stops the CPU, as a halt would, once an input has asked for
// more than DMA_BYTE_BUDGET bytes of transfers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apu/apu.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "dma/dma.h"
#include "gpu/gpu.h"

namespace {

constexpr int MAX_FRAMES = 4;
constexpr int AUDIO_BUFFER = 1024;
constexpr uint64_t DMA_BYTE_BUDGET = 1 << 18;

uint8_t picture[FRAME_BYTES];
float samples[AUDIO_BUFFER];

struct DmaWatch {
    BusWriteHandler write; // the DMA controller's own handler
    CPU* cpu;
    uint64_t bytes;
};
DmaWatch dma_watch;

void watched_dma_write(void* context, uint16_t address, uint8_t value) {
    if (address == DMA_FIRST + DMA_CONTROL && (value & 1)) {
        const auto& r = static_cast<DMA*>(context)->registers;
        dma_watch.bytes += static_cast<uint64_t>(r[4] << 8 | r[5]);
        if (dma_watch.bytes > DMA_BYTE_BUDGET) {
            dma_watch.cpu->running = 0;
            value &= static_cast<uint8_t>(~1);
        }
    }
    dma_watch.write(context, address, value);
}

// The cartridge as Cartridge_load would leave it, filled from memory.
void load_cartridge(Cartridge* cartridge, const uint8_t* image, size_t image_size, const uint8_t* save,
                    size_t save_size) {
    *cartridge = Cartridge{};
    if (!Cartridge_init_image(cartridge, {image, image_size})) std::abort();
    std::memcpy(cartridge->save, save, save_size);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The machine prints its map, bank switches and test-port traffic; none
    // of that matters here and it would drown the fuzzer's own output.
    static_cast<void>(std::freopen("/dev/null", "w", stdout));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    int frames = 1 + data[0] % MAX_FRAMES;
    size_t save_size = static_cast<size_t>(data[1]) << 8 | data[2];
    data += 3;
    size -= 3;
    if (save_size > SAVE_SIZE) save_size = SAVE_SIZE;
    if (save_size > size) save_size = size;

    Computer computer{};
    if (!Computer_init(&computer)) std::abort();
    computer.apu.sample_rate.store(48000, std::memory_order_relaxed);
    Cartridge cartridge;
    load_cartridge(&cartridge, data + save_size, size - save_size, data, save_size);
    Computer_attach_cartridge(&computer, &cartridge);
    dma_watch = DmaWatch{computer.bus.regions[SLOT_DMA].write, &computer.cpu, 0};
    computer.bus.regions[SLOT_DMA].write = watched_dma_write;

    Computer_start(&computer);
    for (int frame = 0; frame < frames; ++frame) {
        FrameEnd end = Computer_run_frame(&computer, picture);
        APU_render(&computer.apu, samples, AUDIO_BUFFER);
        if (end != FrameEnd::Running) break;
    }

    Computer_detach_cartridge(&computer);
    Cartridge_free_image(&cartridge);
    Computer_free(&computer);
    return 0;
}
