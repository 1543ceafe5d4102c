// Pads are SDL virtual joysticks attached in this process; their events go
// through the same discovery and event handler the entry and the frame loop
// use, and the controller bytes are read back through the bus.
#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "computer/computer.h"
#include "controller/controller.h"
#include "controller/gamepad.h"
#include "controller/keyboard.h"
#include "main/run.h"

namespace {

constexpr uint16_t PAD0 = 0xFF0A;
constexpr uint16_t PAD1 = 0xFF0B;

class Input : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
        testing::internal::CaptureStdout(); // the memory map
        ASSERT_TRUE(Computer_init(&computer));
        testing::internal::GetCapturedStdout();
    }

    void TearDown() override {
        GamePad_close_all(&host.pads);
        Computer_free(&computer);
        for (int id : attached) SDL_JoystickDetachVirtual(device_of(id));
        SDL_Quit();
    }

    // Attaches a virtual joystick with every controller button; returns its
    // instance id.
    int attach(SDL_JoystickType type, uint16_t vendor, uint16_t product, const char* name) {
        SDL_VirtualJoystickDesc desc;
        SDL_zero(desc);
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = static_cast<Uint16>(type);
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.vendor_id = vendor;
        desc.product_id = product;
        desc.name = name;
        int index = SDL_JoystickAttachVirtualEx(&desc);
        EXPECT_GE(index, 0) << SDL_GetError();
        int id = SDL_JoystickGetDeviceInstanceID(index);
        attached.push_back(id);
        return id;
    }
    int attach_pad(uint16_t vendor = 0x045E, uint16_t product = 0x02EA, const char* name = "Test Pad") {
        return attach(SDL_JOYSTICK_TYPE_GAMECONTROLLER, vendor, product, name);
    }

    static int device_of(int instance_id) {
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == instance_id) return i;
        }
        return -1;
    }

    void detach(int id) {
        ASSERT_EQ(SDL_JoystickDetachVirtual(device_of(id)), 0) << SDL_GetError();
        std::erase(attached, id);
    }

    // Sets a button of an attached pad and runs the frame loop's event drain.
    void press(const GamePad& pad, SDL_GameControllerButton button, bool down) {
        SDL_Joystick* joystick = SDL_GameControllerGetJoystick(pad.controller);
        ASSERT_EQ(SDL_JoystickSetVirtualButton(joystick, button, down ? 1 : 0), 0) << SDL_GetError();
        drain();
    }

    void drain() {
        SDL_Event event;
        while (SDL_PollEvent(&event)) Host_handle_event(&host, &computer, event);
    }

    std::string discover() {
        testing::internal::CaptureStdout();
        GamePad_discover(&host.pads, &computer.controllers);
        return testing::internal::GetCapturedStdout();
    }

    uint8_t read(uint16_t address) { return Bus_read(&computer.bus, address); }

    Computer computer{};
    Host host{};
    GamePad (&pads)[2] = host.pads.records;
    std::vector<int> attached;
};

TEST_F(Input, NoControllersLeavesBothSlotsEmptyAndPrintsNothing) {
    attach(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 0x1111, 0x2222, "Stick");
    EXPECT_EQ(discover(), "");
    EXPECT_EQ(host.pads.attached[0], nullptr);
    EXPECT_EQ(host.pads.attached[1], nullptr);
    EXPECT_EQ(read(PAD0), 0);
    EXPECT_EQ(read(PAD1), 0);
}

TEST_F(Input, DiscoverySkipsJoysticksThatAreNotControllersAndTakesTheNextTwo) {
    attach(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 0x1111, 0x2222, "Stick");
    int first = attach_pad(0xABCD, 0x0102, "Pad One");
    int second = attach_pad(0x00EF, 0x0A0B, "Pad Two");
    attach_pad(0x0001, 0x0001, "Pad Three");
    ASSERT_FALSE(SDL_IsGameController(0));

    std::string out = discover();
    EXPECT_EQ(out, "Controller: 0 Pad One (ABCD:102:0)\nController: 1 Pad Two (EF:A0B:0)\n");
    ASSERT_EQ(host.pads.attached[0], &host.pads.records[0]);
    ASSERT_EQ(host.pads.attached[1], &host.pads.records[1]);
    EXPECT_EQ(pads[0].joystick_index, 1);
    EXPECT_EQ(pads[1].joystick_index, 2);
    EXPECT_EQ(pads[0].instance_id, first);
    EXPECT_EQ(pads[1].instance_id, second);
    // The start-up announcements of the devices must not attach anything twice
    // or bring in the third pad.
    testing::internal::CaptureStdout();
    drain();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(SDL_GameControllerFromInstanceID(attached[3]), nullptr);
}

TEST_F(Input, PadButtonsSetAndClearTheirOwnBits) {
    attach_pad();
    attach_pad();
    discover();
    drain();

    press(pads[0], SDL_CONTROLLER_BUTTON_A, true);
    EXPECT_EQ(read(PAD0), 0x40);
    press(pads[0], SDL_CONTROLLER_BUTTON_DPAD_UP, true);
    EXPECT_EQ(read(PAD0), 0x41);
    press(pads[0], SDL_CONTROLLER_BUTTON_A, false);
    EXPECT_EQ(read(PAD0), 0x01);
    press(pads[0], SDL_CONTROLLER_BUTTON_DPAD_UP, false);
    EXPECT_EQ(read(PAD0), 0x00);

    const std::pair<SDL_GameControllerButton, uint8_t> rows[] = {
        {SDL_CONTROLLER_BUTTON_X, PAD_X},          {SDL_CONTROLLER_BUTTON_A, PAD_A},
        {SDL_CONTROLLER_BUTTON_BACK, PAD_BACK},    {SDL_CONTROLLER_BUTTON_START, PAD_START},
        {SDL_CONTROLLER_BUTTON_DPAD_UP, PAD_UP},   {SDL_CONTROLLER_BUTTON_DPAD_DOWN, PAD_DOWN},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, PAD_LEFT}, {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, PAD_RIGHT},
    };
    for (auto [button, bit] : rows) {
        press(pads[1], button, true);
        EXPECT_EQ(read(PAD1), bit) << "button " << button;
        EXPECT_EQ(read(PAD0), 0) << "pad 1 must not touch byte 0";
        press(pads[1], button, false);
        EXPECT_EQ(read(PAD1), 0);
    }
}

TEST_F(Input, ButtonsWithoutABitChangeNothing) {
    attach_pad();
    discover();
    press(pads[0], SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    for (auto button : {SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_BUTTON_Y, SDL_CONTROLLER_BUTTON_GUIDE,
                        SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSTICK}) {
        press(pads[0], button, true);
        EXPECT_EQ(read(PAD0), PAD_LEFT);
        press(pads[0], button, false);
        EXPECT_EQ(read(PAD0), PAD_LEFT);
    }
}

TEST_F(Input, AReleaseClearsOnlyItsBitOfWhatTheProgramWrote) {
    attach_pad();
    discover();
    press(pads[0], SDL_CONTROLLER_BUTTON_X, true);
    Bus_write(&computer.bus, PAD0, 0xFF);
    press(pads[0], SDL_CONTROLLER_BUTTON_X, false);
    EXPECT_EQ(read(PAD0), 0x7F);
}

TEST_F(Input, TheEventStateDecidesPressOrRelease) {
    attach_pad();
    discover();
    press(pads[0], SDL_CONTROLLER_BUTTON_START, true);
    SDL_Event event;
    SDL_zero(event);
    event.type = SDL_CONTROLLERBUTTONDOWN;
    event.cbutton.which = pads[0].instance_id;
    event.cbutton.button = SDL_CONTROLLER_BUTTON_START;
    event.cbutton.state = SDL_RELEASED;
    Host_handle_event(&host, &computer, event);
    EXPECT_EQ(read(PAD0), 0);
}

TEST_F(Input, EventsFindTheirPadByInstanceIdNotDeviceIndex) {
    // A device that came and went moves the instance ids away from the indices.
    detach(attach_pad());
    detach(attach_pad());
    attach_pad();
    discover();
    drain();
    ASSERT_EQ(pads[0].joystick_index, 0);
    ASSERT_NE(pads[0].instance_id, 0);

    press(pads[0], SDL_CONTROLLER_BUTTON_A, true);
    EXPECT_EQ(read(PAD0), PAD_A);
    // An event naming the device index belongs to no pad here.
    SDL_Event event;
    SDL_zero(event);
    event.type = SDL_CONTROLLERBUTTONUP;
    event.cbutton.which = 0;
    event.cbutton.button = SDL_CONTROLLER_BUTTON_A;
    event.cbutton.state = SDL_RELEASED;
    Host_handle_event(&host, &computer, event);
    EXPECT_EQ(read(PAD0), PAD_A);
}

void push_key(SDL_Scancode scancode, bool down, bool repeat = false, SDL_Keycode sym = SDLK_UNKNOWN) {
    SDL_Event event;
    SDL_zero(event);
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.repeat = repeat ? 1 : 0;
    event.key.keysym.scancode = scancode;
    event.key.keysym.sym = sym;
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}

TEST_F(Input, KeysDrivePadZeroByPosition) {
    const std::pair<SDL_Scancode, uint8_t> rows[] = {
        {SDL_SCANCODE_UP, PAD_UP},         {SDL_SCANCODE_DOWN, PAD_DOWN},
        {SDL_SCANCODE_LEFT, PAD_LEFT},     {SDL_SCANCODE_RIGHT, PAD_RIGHT},
        {SDL_SCANCODE_Z, PAD_A},           {SDL_SCANCODE_SPACE, PAD_A},
        {SDL_SCANCODE_X, PAD_X},           {SDL_SCANCODE_RETURN, PAD_START},
        {SDL_SCANCODE_BACKSPACE, PAD_BACK}, {SDL_SCANCODE_RSHIFT, PAD_BACK},
    };
    for (auto [scancode, bit] : rows) {
        push_key(scancode, true);
        drain();
        EXPECT_EQ(read(PAD0), bit) << SDL_GetScancodeName(scancode);
        EXPECT_EQ(read(PAD1), 0);
        push_key(scancode, false);
        drain();
        EXPECT_EQ(read(PAD0), 0) << SDL_GetScancodeName(scancode);
    }
    // The key at Z's place is Y on a German layout: still A.
    push_key(SDL_SCANCODE_Z, true, false, SDLK_y);
    push_key(SDL_SCANCODE_LEFT, true);
    drain();
    EXPECT_EQ(read(PAD0), PAD_A | PAD_LEFT);
    push_key(SDL_SCANCODE_Z, false, false, SDLK_y);
    drain();
    EXPECT_EQ(read(PAD0), PAD_LEFT);
}

TEST_F(Input, KeyRepeatsAndUnmappedKeysAreIgnored) {
    push_key(SDL_SCANCODE_X, true);
    push_key(SDL_SCANCODE_X, false);
    push_key(SDL_SCANCODE_X, true, true); // auto-repeat after the release
    push_key(SDL_SCANCODE_A, true);
    push_key(SDL_SCANCODE_LSHIFT, true);
    push_key(SDL_SCANCODE_ESCAPE, true);
    drain();
    EXPECT_EQ(read(PAD0), 0);
    EXPECT_EQ(Keyboard_key_bit(SDL_SCANCODE_C), -1);
}

TEST_F(Input, KeyboardAndPadZeroShareTheByte) {
    attach_pad();
    discover();
    press(pads[0], SDL_CONTROLLER_BUTTON_DPAD_DOWN, true);
    push_key(SDL_SCANCODE_RETURN, true);
    drain();
    EXPECT_EQ(read(PAD0), PAD_DOWN | PAD_START);
    push_key(SDL_SCANCODE_RETURN, false);
    drain();
    EXPECT_EQ(read(PAD0), PAD_DOWN);
}

TEST_F(Input, PadsPluggedInWhileRunningTakeTheFirstFreeSlot) {
    int early = attach_pad(0x1209, 0x0009, "Early");
    EXPECT_EQ(discover(), "Controller: 0 Early (1209:9:0)\n");
    // SDL announces the pad present at start as added: it keeps its one slot.
    testing::internal::CaptureStdout();
    drain();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(host.pads.attached[1], nullptr);

    testing::internal::CaptureStdout();
    attach(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 0x1111, 0x2222, "Stick"); // not a controller
    drain();
    int late = attach_pad(0x1209, 0x0002, "Late");
    drain();
    attach_pad(0x1209, 0x0003, "No Room"); // both slots taken
    drain();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Controller: 1 Late (1209:2:0)\n");
    ASSERT_EQ(host.pads.attached[0], &host.pads.records[0]);
    ASSERT_EQ(host.pads.attached[1], &host.pads.records[1]);
    EXPECT_EQ(pads[0].instance_id, early);
    EXPECT_EQ(pads[1].instance_id, late);

    press(pads[1], SDL_CONTROLLER_BUTTON_A, true);
    EXPECT_EQ(read(PAD1), PAD_A);
    EXPECT_EQ(read(PAD0), 0);
}

TEST_F(Input, AnUnpluggedPadFreesItsSlotAndReleasesWhatItHeld) {
    int first = attach_pad(0x1209, 0x0001, "First");
    attach_pad(0x1209, 0x0002, "Second");
    discover();
    drain();

    press(pads[0], SDL_CONTROLLER_BUTTON_A, true);
    press(pads[0], SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    press(pads[1], SDL_CONTROLLER_BUTTON_X, true);
    push_key(SDL_SCANCODE_UP, true); // the keyboard's hold on byte 0 stays
    drain();
    ASSERT_EQ(read(PAD0), PAD_A | PAD_RIGHT | PAD_UP);

    detach(first);
    drain();
    EXPECT_EQ(host.pads.attached[0], nullptr);
    EXPECT_EQ(pads[0].controller, nullptr);
    EXPECT_EQ(read(PAD0), PAD_UP);
    EXPECT_EQ(read(PAD1), PAD_X);

    // The slot is free again for the next pad, and events reach it.
    testing::internal::CaptureStdout();
    attach_pad(0x1209, 0x0003, "Third");
    drain();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Controller: 0 Third (1209:3:0)\n");
    ASSERT_EQ(host.pads.attached[0], &host.pads.records[0]);
    press(pads[0], SDL_CONTROLLER_BUTTON_BACK, true);
    EXPECT_EQ(read(PAD0), PAD_UP | PAD_BACK);
    EXPECT_EQ(read(PAD1), PAD_X);
}

TEST_F(Input, RemovalReleasesHeldButtonsEvenWithoutTheirReleaseEvents) {
    // SDL sends releases for a vanishing virtual pad by itself; a host backend
    // that does not must still leave nothing held.
    attach_pad();
    discover();
    press(pads[0], SDL_CONTROLLER_BUTTON_A, true);
    press(pads[0], SDL_CONTROLLER_BUTTON_DPAD_DOWN, true);
    press(pads[0], SDL_CONTROLLER_BUTTON_DPAD_DOWN, false);
    Bus_write(&computer.bus, PAD0, static_cast<uint8_t>(read(PAD0) | PAD_BACK)); // the program's own bit
    SDL_Event event;
    SDL_zero(event);
    event.type = SDL_CONTROLLERDEVICEREMOVED;
    event.cdevice.which = pads[0].instance_id;
    Host_handle_event(&host, &computer, event);
    EXPECT_EQ(host.pads.attached[0], nullptr);
    EXPECT_EQ(read(PAD0), PAD_BACK);
}

} // namespace
