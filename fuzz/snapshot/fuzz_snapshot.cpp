// Arbitrary bytes as a machine snapshot: the loader must refuse them cleanly
// or restore a machine that then runs a frame without fault. The first byte
// chooses fix-ups that let the fuzzer past the checks it could hardly
// satisfy by chance: the cartridge named in the header, and the checksum.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "computer/snapshot.h"
#include "gpu/gpu.h"

namespace {

void put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

void quiet(void*, bool, const char*) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Computer computer{};
    static Cartridge cartridge{};
    static std::vector<uint8_t> frame(FRAME_BYTES);
    static bool built = false;
    if (!built) {
        Log_set_sink(quiet, nullptr);
        if (!Computer_init(&computer)) std::abort();
        std::vector<uint8_t> image(0x8000);
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
        if (!Cartridge_init_image(&cartridge, image)) std::abort();
        Computer_attach_cartridge(&computer, &cartridge);
        built = true;
    }
    if (size < 1) return 0;
    uint8_t mode = data[0];
    std::vector<uint8_t> bytes(data + 1, data + size);
    if ((mode & 1) && bytes.size() >= 20) {
        put32(bytes.data() + 12, static_cast<uint32_t>(cartridge.image_size));
        put32(bytes.data() + 16, cartridge.image_crc);
    }
    if ((mode & 2) && bytes.size() >= 32) {
        size_t end = bytes.size() - 12;
        std::memcpy(bytes.data() + end, "END ", 4);
        put32(bytes.data() + end + 4, 4);
        put32(bytes.data() + end + 8, Cartridge_crc32(std::span(bytes).first(end)));
    }
    Computer_reset(&computer);
    Computer_start(&computer);
    std::string error;
    if (Computer_load_state(&computer, bytes, &error)) Computer_run_frame(&computer, frame.data());
    return 0;
}
