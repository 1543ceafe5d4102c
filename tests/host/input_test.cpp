// Game pads (SDL's virtual joysticks, attached in this process) and the
// keyboard, through the host's own discovery and event handler; the
// controller bytes are read back through the bus.
#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "controller/buttons.h"
#include "main/run.h"
#include "main/timer.h"

namespace {

constexpr uint16_t PAD0 = 0xFF0A, PAD1 = 0xFF0B;

// The README's table of buttons, written out here rather than read from the
// table the program uses, so that a wrong row there shows.
struct ReadmeRow {
    uint8_t bit;
    SDL_GameControllerButton pad_button;
    std::vector<SDL_Scancode> keys;
};
const ReadmeRow README_BUTTONS[] = {
    {0x01, SDL_CONTROLLER_BUTTON_DPAD_UP, {SDL_SCANCODE_UP}},
    {0x02, SDL_CONTROLLER_BUTTON_DPAD_DOWN, {SDL_SCANCODE_DOWN}},
    {0x04, SDL_CONTROLLER_BUTTON_DPAD_LEFT, {SDL_SCANCODE_LEFT}},
    {0x08, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, {SDL_SCANCODE_RIGHT}},
    {0x10, SDL_CONTROLLER_BUTTON_START, {SDL_SCANCODE_RETURN}},
    {0x20, SDL_CONTROLLER_BUTTON_BACK, {SDL_SCANCODE_BACKSPACE, SDL_SCANCODE_RSHIFT}},
    {0x40, SDL_CONTROLLER_BUTTON_A, {SDL_SCANCODE_Z, SDL_SCANCODE_SPACE}},
    {0x80, SDL_CONTROLLER_BUTTON_X, {SDL_SCANCODE_X}},
};

class Input : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
        Log_set_sink([](void*, bool, const char*) {}, nullptr); // the memory map
        ASSERT_TRUE(Computer_init(&computer));
        Log_set_sink(nullptr, nullptr);
    }
    void TearDown() override {
        GamePad_close_all(&host.pads);
        Computer_free(&computer);
        for (int n = SDL_NumJoysticks(); n > 0; --n) SDL_JoystickDetachVirtual(0);
        SDL_Quit();
    }
    // A virtual device with every controller button; returns its instance id.
    int attach(const char* name, uint16_t product, SDL_JoystickType type = SDL_JOYSTICK_TYPE_GAMECONTROLLER) {
        SDL_VirtualJoystickDesc desc;
        SDL_zero(desc);
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = static_cast<Uint16>(type);
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.vendor_id = 0x1209;
        desc.product_id = product;
        desc.name = name;
        return SDL_JoystickGetDeviceInstanceID(SDL_JoystickAttachVirtualEx(&desc));
    }
    void detach(int id) {
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    }
    // Runs the frame loop's event drain; returns what it printed.
    std::string drain() {
        testing::internal::CaptureStdout();
        for (SDL_Event event; SDL_PollEvent(&event);) Host_handle_event(&host, &computer, event);
        return testing::internal::GetCapturedStdout();
    }
    std::string discover() {
        testing::internal::CaptureStdout();
        GamePad_discover(&host.pads, &computer.controllers);
        std::string found = testing::internal::GetCapturedStdout();
        return found + drain(); // SDL announces the pads found at start too
    }
    void press(int slot, SDL_GameControllerButton button, bool down) {
        SDL_JoystickSetVirtualButton(SDL_GameControllerGetJoystick(host.pads.records[slot].controller),
                                     button, down);
        drain();
    }
    void key(SDL_Scancode scancode, bool down, bool repeat = false) {
        SDL_Event event;
        SDL_zero(event);
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.key.repeat = repeat;
        event.key.keysym.scancode = scancode;
        SDL_PushEvent(&event);
        drain();
    }
    uint8_t read(uint16_t address) { return Bus_read(&computer.bus, address); }

    Computer computer{};
    Host host{};
};

TEST_F(Input, TheFirstTwoGameControllersTakeTheTwoPads) {
    attach("Stick", 1, SDL_JOYSTICK_TYPE_FLIGHT_STICK);
    attach("Pad One", 2);
    attach("Pad Two", 3);
    attach("Pad Three", 4);
    EXPECT_EQ(discover(), "Controller: 0 Pad One (1209:2:0)\nController: 1 Pad Two (1209:3:0)\n");
    EXPECT_EQ(host.pads.records[1].joystick_index, 2);
}

TEST_F(Input, EachButtonHoldsItsOwnBitOfItsPadsByte) {
    attach("Pad One", 1);
    attach("Pad Two", 2);
    discover();
    for (int slot = 0; slot < 2; ++slot) {
        for (const ReadmeRow& b : README_BUTTONS) {
            press(slot, b.pad_button, true);
            EXPECT_EQ(read(slot ? PAD1 : PAD0), b.bit) << int(b.bit);
            EXPECT_EQ(read(slot ? PAD0 : PAD1), 0) << int(b.bit);
            press(slot, b.pad_button, false);
            EXPECT_EQ(read(slot ? PAD1 : PAD0), 0) << int(b.bit);
        }
    }
    press(0, SDL_CONTROLLER_BUTTON_B, true); // no machine button
    press(0, SDL_CONTROLLER_BUTTON_X, true);
    Bus_write(&computer.bus, PAD0, 0xFF); // the program writes the byte too
    press(0, SDL_CONTROLLER_BUTTON_X, false);
    EXPECT_EQ(read(PAD0), 0x7F);
}

TEST_F(Input, PadsPluggedInTakeTheFirstFreePadAndUnpluggedOnesLetGo) {
    int first = attach("First", 1);
    discover();
    int second = attach("Second", 2);
    EXPECT_EQ(drain(), "Controller: 1 Second (1209:2:0)\n");
    EXPECT_EQ(host.pads.records[1].instance_id, second);
    attach("No Room", 3);
    EXPECT_EQ(drain(), "");
    press(0, SDL_CONTROLLER_BUTTON_A, true);
    press(0, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    press(1, SDL_CONTROLLER_BUTTON_X, true);
    key(SDL_SCANCODE_UP, true); // the keyboard's own hold on the first pad's byte stays
    ASSERT_EQ(read(PAD0), PAD_A | PAD_RIGHT | PAD_UP);
    // The pad goes without sending its releases: what it held is let go.
    SDL_Event removed;
    SDL_zero(removed);
    removed.type = SDL_CONTROLLERDEVICEREMOVED;
    removed.cdevice.which = host.pads.records[0].instance_id;
    Host_handle_event(&host, &computer, removed);
    detach(first);
    drain();
    EXPECT_EQ(host.pads.attached[0], nullptr);
    EXPECT_EQ(read(PAD0), PAD_UP);
    EXPECT_EQ(read(PAD1), PAD_X);
    attach("Third", 4);
    EXPECT_EQ(drain(), "Controller: 0 Third (1209:4:0)\n");
    press(0, SDL_CONTROLLER_BUTTON_BACK, true);
    EXPECT_EQ(read(PAD0), PAD_UP | PAD_BACK);
}

TEST_F(Input, KeysHoldTheFirstPadsBitsByTheirPlace) {
    for (const ReadmeRow& b : README_BUTTONS) {
        for (SDL_Scancode k : b.keys) {
            key(k, true);
            EXPECT_EQ(read(PAD0), b.bit) << SDL_GetScancodeName(k);
            EXPECT_EQ(read(PAD1), 0);
            key(k, false);
            EXPECT_EQ(read(PAD0), 0) << SDL_GetScancodeName(k);
        }
    }
    key(SDL_SCANCODE_X, true, true); // an auto-repeat after the release
    // No machine button: the letters around the ones that have one, and the
    // left Shift beside the right one.
    for (SDL_Scancode k : {SDL_SCANCODE_A, SDL_SCANCODE_C, SDL_SCANCODE_LSHIFT, SDL_SCANCODE_KP_ENTER})
        key(k, true);
    EXPECT_EQ(read(PAD0), 0);
}

// A millisecond passes each time the frame loop reads this clock.
int64_t now_ms = 0;
int64_t ticking_clock() { return now_ms++; }

// What each of the window's modes runs in one turn of the frame loop, on a
// clock the test moves, so that it does not depend on the host's speed.
TEST_F(Input, WindowKeysSetTheFramesATurnOfTheLoopRuns) {
    for (uint16_t at = 0; uint8_t b : {0x30, 0xA0, 0x00})
        Bus_write(&computer.bus, 0xA000 + at++, b); // JMP to itself
    Cartridge empty{};                              // the window program always has one, if only an empty one
    ASSERT_TRUE(Cartridge_init_image(&empty, {}));
    Computer_attach_cartridge(&computer, &empty);
    CPU_set_pc(&computer.cpu, 0xA000);
    CPU_start(&computer.cpu);
    Timer_set_clock(ticking_clock);
    History_init(&host.history, 100, 1 << 20);
    auto turn = [&] {
        auto before = static_cast<int64_t>(computer.frame);
        Host_advance(&host, &computer, 16);
        return static_cast<int64_t>(computer.frame) - before;
    };
    EXPECT_EQ(turn(), 1) << "the normal pace: one frame a refresh";
    key(SDL_SCANCODE_TAB, true);
    EXPECT_EQ(turn(), 16) << "fast-forward: frames until the refresh's 16 ms are spent";
    key(SDL_SCANCODE_TAB, false);
    EXPECT_EQ(turn(), 1);
    key(SDL_SCANCODE_GRAVE, true);
    for (int back = 0; back < 3; ++back) EXPECT_EQ(turn(), -1) << "rewinding: one frame back a refresh";
    key(SDL_SCANCODE_GRAVE, false);
    key(SDL_SCANCODE_P, true);
    EXPECT_EQ(turn(), 0) << "paused";
    key(SDL_SCANCODE_N, true);
    EXPECT_EQ(turn(), 1) << "N runs one frame";
    EXPECT_EQ(turn(), 0);
    History_free(&host.history);
    Timer_set_clock(nullptr);
    Computer_detach_cartridge(&computer);
    Cartridge_free_image(&empty);
}

} // namespace
