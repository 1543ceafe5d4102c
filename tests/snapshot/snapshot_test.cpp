#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/history.h"
#include "computer/log.h"
#include "computer/snapshot.h"
#include "controller/controller.h"

namespace {

std::vector<uint8_t> demo_image() {
    std::ifstream in(DEMO_ROM_PATH, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void collect(void* context, bool, const char* text) { *static_cast<std::string*>(context) += text; }

// What the machines print; the sink serves the whole process.
std::string printed;

// A machine with the demo cartridge in memory.
struct Machine {
    Computer computer{};
    Cartridge cartridge{};

    explicit Machine(const std::vector<uint8_t>& image) {
        Log_set_sink(collect, &printed);
        EXPECT_TRUE(Computer_init(&computer));
        EXPECT_TRUE(Cartridge_init_image(&cartridge, image));
        Computer_attach_cartridge(&computer, &cartridge);
        Computer_start(&computer);
    }
    ~Machine() {
        Computer_detach_cartridge(&computer);
        Cartridge_free_image(&cartridge);
        Computer_free(&computer);
        Log_set_sink(nullptr, nullptr);
    }
    std::vector<uint8_t> state() const {
        std::vector<uint8_t> bytes;
        Computer_save_state(&computer, &bytes);
        return bytes;
    }
};

// Scripted play: start, hold right and launch, then weave left and right.
uint8_t buttons_at(uint64_t frame) {
    if (frame >= 30 && frame < 34) return PAD_START;
    if (frame >= 90 && frame < 94) return PAD_A;
    if (frame >= 100) return (frame / 40) % 2 ? PAD_LEFT : PAD_RIGHT | PAD_A;
    return 0;
}

// Runs to `last`, giving each frame's picture to `seen`.
template <typename Seen>
void play(Machine& m, uint64_t last, Seen seen) {
    std::vector<uint8_t> frame(FRAME_BYTES);
    while (m.computer.frame < last) {
        m.computer.controllers.bytes[0] = buttons_at(m.computer.frame);
        ASSERT_EQ(Computer_run_frame(&m.computer, frame.data()), FrameEnd::Running);
        seen(frame);
    }
}

TEST(Snapshot, RestoredRunMatchesTheUninterruptedOneFrameForFrame) {
    std::vector<uint8_t> image = demo_image();
    ASSERT_FALSE(image.empty());
    Machine original(image);
    play(original, 400, [](const std::vector<uint8_t>&) {});
    std::vector<uint8_t> taken = original.state();
    // A second machine whose every part differs from the snapshot's.
    Machine restored(image);
    play(restored, 50, [](const std::vector<uint8_t>&) {});
    restored.cartridge.bank = 9;
    restored.computer.cpu.interrupt_enable ^= 1;
    restored.computer.cpu.cells.fill(0x5A);
    restored.computer.dma.registers.fill(0x5A);
    std::fill_n(restored.computer.ram.buffer, 0x4000, 0x5A);
    std::fill_n(restored.computer.gpu.vram, VRAM_SIZE, 0x5A);
    std::fill_n(restored.cartridge.save, SAVE_SIZE, 0x5A);
    restored.computer.apu.note = 0x5A;
    std::string error;
    ASSERT_TRUE(Computer_load_state(&restored.computer, taken, &error)) << error;
    EXPECT_EQ(restored.state(), taken);

    std::vector<std::vector<uint8_t>> frames;
    printed.clear();
    play(original, 1000, [&](const std::vector<uint8_t>& f) { frames.push_back(f); });
    const std::string original_printed = printed;
    size_t n = 0;
    printed.clear();
    play(restored, 1000, [&](const std::vector<uint8_t>& f) {
        ASSERT_EQ(f, frames[n]) << "frame " << 400 + n;
        ++n;
    });
    EXPECT_EQ(n, frames.size());
    EXPECT_FALSE(original_printed.empty());
    EXPECT_EQ(printed, original_printed);
    EXPECT_EQ(restored.state(), original.state()); // registers, RAM, video memory, save RAM, devices
}

TEST(History, StepsBackThroughEveryRecordedFrameWithinItsLimits) {
    Machine m(demo_image());
    History history{};
    History_init(&history, 300, size_t{1} << 30);
    std::vector<std::vector<uint8_t>> states;
    play(m, 400, [&](const std::vector<uint8_t>&) {
        History_record(&history, &m.computer);
        states.push_back(m.state());
    });
    EXPECT_EQ(History_depth(&history), 300u) << "the oldest frames dropped";
    for (size_t back = 1; back <= 300; ++back) {
        ASSERT_TRUE(History_step_back(&history, &m.computer)) << back;
        ASSERT_EQ(m.state(), states[states.size() - 1 - back]) << back;
    }
    EXPECT_FALSE(History_step_back(&history, &m.computer));
    EXPECT_EQ(m.state(), states[states.size() - 301]);

    History_init(&history, 300, 2000);
    play(m, 500, [&](const std::vector<uint8_t>&) { History_record(&history, &m.computer); });
    EXPECT_LE(History_size(&history) - history.newest.size(), 2000u) << "within the byte limit";
    EXPECT_GT(History_depth(&history), 0u);
    History_free(&history);
}

std::vector<uint8_t> with_crc_fixed(std::vector<uint8_t> bytes) {
    size_t end = bytes.size() - 12;
    uint32_t crc = Cartridge_crc32(std::span(bytes).first(end));
    for (int i = 0; i < 4; ++i)
        bytes[end + 8 + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (8 * i));
    return bytes;
}

TEST(Snapshot, DamagedOrForeignSnapshotsAreRefusedAndChangeNothing) {
    std::vector<uint8_t> image = demo_image();
    Machine m(image);
    play(m, 200, [](const std::vector<uint8_t>&) {});
    const std::vector<uint8_t> good = m.state();

    std::vector<uint8_t> other_version = good;
    other_version[8] = 2;
    std::vector<uint8_t> flipped = good;
    flipped[good.size() / 2] ^= 0x10;
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    std::vector<uint8_t> missing = good; // the tag of the last section renamed
    missing[good.size() - 12 - 9 - 8] = 'X';
    std::vector<uint8_t> other_image = image;
    other_image[0x200] ^= 1;
    Machine other(other_image);

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string reason;
    };
    const std::vector<Case> cases{
        {"empty", {}, "not a machine snapshot"},
        {"truncated header", std::vector<uint8_t>(good.begin(), good.begin() + 12), "truncated"},
        {"truncated body", std::vector<uint8_t>(good.begin(), good.end() - 5), "truncated"},
        {"another version", other_version, "format version 2, this program reads version 1"},
        {"corrupted", flipped, "corrupted (checksum mismatch)"},
        {"too long", longer, "too long: bytes follow its end"},
        {"section missing", with_crc_fixed(missing), "incomplete: a section is missing"},
        {"another cartridge", other.state(), "taken of another cartridge"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Computer_load_state(&m.computer, c.bytes, &error)) << c.name;
        EXPECT_EQ(error, c.reason) << c.name;
        EXPECT_EQ(m.state(), good) << c.name;
    }
}

} // namespace
