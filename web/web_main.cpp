// The web player's side of the machine: one Computer and its Cartridge for
// the page, driven by the page's script through the exported functions
// below. The script owns the browser's interfaces (canvas, audio worklet,
// keys, game pads, storage); this file only calls the machine's operations
// and hands the script plain buffers in the module's memory.
//
// Use from the script: web_init once; web_image_buffer(size), copy the image
// in, web_load(size); then web_tick on each animation frame (or
// web_run_frames when scripted), web_pixels for the picture, web_samples for
// the sound of the frames just run, and web_log to drain the machine's
// diagnostic lines after each call.
#include <emscripten.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "computer/snapshot.h"
#include "cpu/cpu.h"
#include "gpu/gpu.h"
#include "main/autosave.h"
#include "main/pacing.h"

namespace {

// The sound of the most frames one tick may run, at the highest rate a
// browser's audio context offers (96 kHz), with room to spare.
constexpr int TICK_FRAME_LIMIT = 8;
constexpr int MAX_SAMPLES = TICK_FRAME_LIMIT * 96000 / 60 + 64;
// Diagnostic text kept between two drains; a program that floods the test
// port loses the middle of its lines, never the page.
constexpr size_t LOG_LIMIT = 64 * 1024;

struct Player {
    Computer computer;
    Cartridge cartridge;
    bool has_cartridge;
    FrameEnd end;
    std::array<uint8_t, FRAME_BYTES> frame; // as composed: B, G, R, A
    std::array<uint8_t, FRAME_BYTES> rgba;  // as the canvas takes it
    std::vector<uint8_t> incoming;          // an image or a state on its way in
    std::vector<uint8_t> state;             // the last state saved
    std::string log;
    std::string error;   // the machine's last error line (an illegal opcode)
    std::string message; // why an image or a state was refused
    FramePacer pacer;
    SaveSchedule saves;
    int32_t sample_rate;
    int64_t sample_remainder; // thousandths of a sample owed to the next frame
    std::array<float, MAX_SAMPLES> samples;
    int sample_count;
    // Buttons pressed since the last frame ran, and those of them already let
    // go: a tap between two frames still holds its button for one frame.
    std::array<uint8_t, 2> fresh;
    std::array<uint8_t, 2> released_early;
};

Player player{};

void collect_log(void*, bool is_error, const char* text) {
    std::string_view line(text);
    if (is_error) player.error.assign(line.substr(0, line.find('\n')));
    if (player.log.size() + line.size() > LOG_LIMIT) return;
    player.log += line;
}

// The page reads the button bits in this order: up, down, left, right,
// start, back, a, x.
constexpr std::array<uint8_t, 8> button_bits{PAD_UP,    PAD_DOWN, PAD_LEFT, PAD_RIGHT,
                                             PAD_START, PAD_BACK, PAD_A,    PAD_X};

void unload() {
    if (!player.has_cartridge) return;
    Computer_detach_cartridge(&player.computer);
    Cartridge_free_image(&player.cartridge);
    player.cartridge = Cartridge{};
    player.has_cartridge = false;
}

const std::string too_large =
    "The file is too large: a ROM image holds at most " + std::to_string(ROM_MAX_SIZE) + " bytes.";

// An image that cannot hold a program at the start address, or one that is
// plainly some other kind of file, gets a reason instead of a run.
const char* image_problem(std::span<const uint8_t> image) {
    if (image.empty()) return "The file is empty: a ROM image holds at least the program at 0x0100.";
    if (image.size() > ROM_MAX_SIZE) return too_large.c_str();
    struct Signature {
        std::string_view magic;
        const char* problem;
    };
    static constexpr std::array<Signature, 7> signatures{{
        {"\x89PNG", "This is a PNG picture, not a ROM image."},
        {"\xFF\xD8\xFF", "This is a JPEG picture, not a ROM image."},
        {"GIF8", "This is a GIF picture, not a ROM image."},
        {"PK\x03\x04", "This is a ZIP archive, not a ROM image: unpack it first."},
        {"\x1F\x8B", "This is a gzip archive, not a ROM image: unpack it first."},
        {"%PDF", "This is a PDF document, not a ROM image."},
        {"\x7F"
         "ELF",
         "This is a program for the host computer, not a ROM image."},
    }};
    for (const Signature& s : signatures) {
        if (image.size() >= s.magic.size() &&
            std::equal(s.magic.begin(), s.magic.end(), image.begin(),
                       [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }))
            return s.problem;
    }
    if (image.size() <= START_ADDRESS)
        return "The file is too short to be a ROM image: it ends before the program's start at 0x0100.";
    // A ROM's interrupt vectors and first instructions hold control bytes
    // (vector high bytes, unused vectors, opcodes); text holds none.
    auto text = [](uint8_t b) { return b == '\t' || b == '\n' || b == '\r' || b >= 0x20; };
    if (std::all_of(image.begin(), image.begin() + START_ADDRESS + 1, text))
        return "This is a text file, not a ROM image: assemble it with lumacor-asm first.";
    return nullptr;
}

int64_t whole_ms(double ms) { return static_cast<int64_t>(ms); }

// Taps owed a frame are let go: a frame has seen them, or a new cartridge
// should not.
void settle_taps() {
    for (size_t pad = 0; pad < 2; ++pad) {
        player.computer.controllers.bytes[pad] &= static_cast<uint8_t>(~player.released_early[pad]);
        player.fresh[pad] = 0;
        player.released_early[pad] = 0;
    }
}

FrameEnd run_frame() {
    player.end = Computer_run_frame(&player.computer, player.frame.data());
    settle_taps();
    return player.end;
}

void render_frame_sound() {
    if (player.sample_rate <= 0) return;
    player.sample_remainder += int64_t{player.sample_rate} * player.pacer.refresh_ms;
    int count = static_cast<int>(player.sample_remainder / 1000);
    player.sample_remainder %= 1000;
    count = std::min(count, MAX_SAMPLES - player.sample_count);
    APU_render(&player.computer.apu, player.samples.data() + player.sample_count, count);
    player.sample_count += count;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int web_init() {
    Log_set_sink(collect_log, nullptr);
    return Computer_init(&player.computer) ? 1 : 0;
}

// Room for an image (or a state) of `size` bytes; null when no image can be
// that large.
EMSCRIPTEN_KEEPALIVE uint8_t* web_image_buffer(uint32_t size) {
    if (size > ROM_MAX_SIZE) {
        player.message = too_large;
        return nullptr;
    }
    // One byte more, so that an empty file still gets an address to copy to.
    player.incoming.assign(size + 1, 0);
    return player.incoming.data();
}

// Loads the image copied into the buffer and starts the machine at frame 0.
// Returns 1, or 0 with the reason in web_message.
EMSCRIPTEN_KEEPALIVE int web_load(uint32_t size, double now_ms) {
    std::span<const uint8_t> image(player.incoming.data(), std::min<size_t>(size, player.incoming.size()));
    if (const char* problem = image_problem(image)) {
        player.message = problem;
        return 0;
    }
    unload();
    if (!Cartridge_init_image(&player.cartridge, image)) {
        player.message = "The machine has no memory left for this image.";
        return 0;
    }
    std::vector<uint8_t>().swap(player.incoming);
    player.has_cartridge = true;
    Computer_attach_cartridge(&player.computer, &player.cartridge);
    Computer_reset(&player.computer);
    Computer_start(&player.computer);
    settle_taps();
    player.end = FrameEnd::Running;
    player.error.clear();
    player.frame.fill(0);
    FramePacer_start(&player.pacer, whole_ms(now_ms), player.computer.gpu.refresh_rate);
    SaveSchedule_start(&player.saves, whole_ms(now_ms), player.cartridge.save_changes);
    return 1;
}

EMSCRIPTEN_KEEPALIVE const char* web_message() { return player.message.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* web_error() { return player.error.c_str(); }
EMSCRIPTEN_KEEPALIVE const uint8_t* web_button_bits() { return button_bits.data(); }

// The machine's diagnostic lines since the last call, then forgets them.
EMSCRIPTEN_KEEPALIVE const char* web_log() {
    static std::string drained;
    drained.swap(player.log);
    player.log.clear();
    return drained.c_str();
}

EMSCRIPTEN_KEEPALIVE uint32_t web_image_crc() {
    return player.has_cartridge ? player.cartridge.image_crc : 0;
}
EMSCRIPTEN_KEEPALIVE uint8_t* web_save_ram() {
    return player.has_cartridge ? player.cartridge.save : nullptr;
}
EMSCRIPTEN_KEEPALIVE int web_save_size() { return static_cast<int>(SAVE_SIZE); }

// 0 while the program runs, 1 once it stopped, 2 on an illegal opcode.
EMSCRIPTEN_KEEPALIVE int web_end() { return static_cast<int>(player.end); }
EMSCRIPTEN_KEEPALIVE double web_frame() { return static_cast<double>(player.computer.frame); }

// Scripted input: from the next frame on, the controller byte holds `bits`.
EMSCRIPTEN_KEEPALIVE void web_set_buttons(int pad, int bits) {
    player.computer.controllers.bytes[pad & 1] = static_cast<uint8_t>(bits);
    player.fresh[pad & 1] = 0;
    player.released_early[pad & 1] = 0;
}

// A key, a touch or a pad button went down or up: only its bits change, so
// the program's own writes to the byte and the other inputs' bits stay. A
// button let go before any frame saw it is let go after the next frame.
EMSCRIPTEN_KEEPALIVE void web_press(int pad, int bits, int down) {
    const size_t index = pad & 1;
    uint8_t& byte = player.computer.controllers.bytes[index];
    const auto mask = static_cast<uint8_t>(bits);
    if (down) {
        byte |= mask;
        player.fresh[index] |= mask;
        player.released_early[index] &= static_cast<uint8_t>(~mask);
        return;
    }
    const auto early = static_cast<uint8_t>(mask & player.fresh[index]);
    player.released_early[index] |= early;
    byte &= static_cast<uint8_t>(~(mask & ~early));
}

// The reset button: the cartridge starts again from its first instruction,
// with its save RAM as it is, as after switching the machine off and on.
EMSCRIPTEN_KEEPALIVE int web_reset(double now_ms) {
    if (!player.has_cartridge) return 0;
    Computer_reset(&player.computer);
    Computer_start(&player.computer);
    player.end = FrameEnd::Running;
    player.error.clear();
    player.frame.fill(0);
    FramePacer_start(&player.pacer, whole_ms(now_ms), player.computer.gpu.refresh_rate);
    return 1;
}

// Runs up to `count` frames at once, without pacing or sound; returns how
// many ran (fewer when the program stops).
EMSCRIPTEN_KEEPALIVE int web_run_frames(int count) {
    int run = 0;
    while (player.has_cartridge && player.end == FrameEnd::Running && run < count) {
        run_frame();
        ++run;
    }
    return run;
}

// Restarts the schedule at `now_ms`: after a pause the machine goes on from
// here instead of catching up the paused time.
EMSCRIPTEN_KEEPALIVE void web_pace_start(double now_ms) {
    FramePacer_start(&player.pacer, whole_ms(now_ms), player.computer.gpu.refresh_rate);
}

// Runs the frames whose time has come on the page's clock, as the window's
// loop does: each frame's deadline is the previous one's plus the refresh
// time, so frames missed in a stall are made up back to back. At most
// TICK_FRAME_LIMIT run per call, so a long stall is made up over a few
// animation frames instead of freezing the page. The sound of the frames
// run is left in web_samples. Returns the frames run.
EMSCRIPTEN_KEEPALIVE int web_tick(double now_ms) {
    player.sample_count = 0;
    int run = 0;
    int64_t now = whole_ms(now_ms);
    while (player.has_cartridge && player.end == FrameEnd::Running && run < TICK_FRAME_LIMIT &&
           now >= player.pacer.deadline) {
        run_frame();
        render_frame_sound();
        FramePacer_next(&player.pacer, now);
        ++run;
    }
    return run;
}

EMSCRIPTEN_KEEPALIVE void web_set_sample_rate(int rate) {
    player.sample_rate = rate;
    player.computer.apu.sample_rate.store(rate);
}
EMSCRIPTEN_KEEPALIVE float* web_samples() { return player.samples.data(); }
EMSCRIPTEN_KEEPALIVE int web_sample_count() { return player.sample_count; }

// Whether the save RAM changed since it was last stored and a second has
// passed since then; web_save_stored records that the page stored it.
EMSCRIPTEN_KEEPALIVE int web_save_due(double now_ms) {
    return player.has_cartridge &&
           SaveSchedule_due(&player.saves, whole_ms(now_ms), player.cartridge.save_changes);
}
EMSCRIPTEN_KEEPALIVE int web_save_dirty() {
    return player.has_cartridge && player.cartridge.save_changes != player.saves.saved_changes;
}
EMSCRIPTEN_KEEPALIVE void web_save_stored(double now_ms, int stored) {
    SaveSchedule_done(&player.saves, whole_ms(now_ms), player.cartridge.save_changes, stored != 0);
}

// The current frame as 256 x 192 texels of red, green, blue, alpha bytes.
EMSCRIPTEN_KEEPALIVE uint8_t* web_pixels() {
    for (size_t i = 0; i < FRAME_BYTES; i += 4) {
        player.rgba[i + 0] = player.frame[i + 2];
        player.rgba[i + 1] = player.frame[i + 1];
        player.rgba[i + 2] = player.frame[i + 0];
        player.rgba[i + 3] = 0xFF;
    }
    return player.rgba.data();
}
EMSCRIPTEN_KEEPALIVE int web_frame_width() { return FRAME_WIDTH; }
EMSCRIPTEN_KEEPALIVE int web_frame_height() { return FRAME_HEIGHT; }

// Save states: web_state_save leaves the state in web_state_data; a state
// to restore goes through web_image_buffer and web_state_load.
EMSCRIPTEN_KEEPALIVE int web_state_save() {
    if (!player.has_cartridge) return 0;
    player.state.clear();
    Computer_save_state(&player.computer, &player.state);
    return static_cast<int>(player.state.size());
}
EMSCRIPTEN_KEEPALIVE uint8_t* web_state_data() { return player.state.data(); }

EMSCRIPTEN_KEEPALIVE int web_state_load(uint32_t size, double now_ms) {
    if (!player.has_cartridge) return 0;
    std::span<const uint8_t> data(player.incoming.data(), std::min<size_t>(size, player.incoming.size()));
    std::string error;
    if (!Computer_load_state(&player.computer, data, &error)) {
        player.message = error;
        return 0;
    }
    std::vector<uint8_t>().swap(player.incoming);
    player.end = player.computer.cpu.running ? FrameEnd::Running : FrameEnd::Stopped;
    GPU_compose(&player.computer.gpu, player.frame.data());
    FramePacer_start(&player.pacer, whole_ms(now_ms), player.computer.gpu.refresh_rate);
    return 1;
}

} // extern "C"
