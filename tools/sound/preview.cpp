#include "preview.h"

#include "assembler.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "headless.h"

// The hardware include and the driver, built into the program so the preview
// runs exactly the files the assembler ships.
extern const char lumacor_inc_text[];
extern const char sound_inc_text[];

std::string Sound_player_source(const std::string& label, bool effect) {
    return "; The smallest player: starts one sound, then steps the driver once a frame.\n"
           "        .include \"lumacor.inc\"\n"
           "SND_RAM = 0xDFE0                ; the driver's work RAM\n"
           "        .vector 0, frame\n"
           "        .start\n"
           "        CALL  snd_init\n"
           "        LDW   p0, " +
           label + "\n" + (effect ? "        CALL  snd_effect\n" : "        CALL  snd_music\n") +
           "        EI                      ; frame interrupts on\n"
           "idle:   JMP   idle\n"
           "frame:  CALL  snd_frame\n"
           "        RETI\n"
           "        .include \"sound.inc\"     ; the driver\n"
           "        .include \"sounds.inc\"    ; the data lumacor-sound wrote\n";
}

bool Sound_preview(const std::string& include_text, const std::string& label, bool effect, int frames,
                   std::vector<float>* samples, std::string* error) {
    AsmOptions options;
    options.read_file = [&](const std::string& path, std::string& contents) {
        std::string name = path.substr(path.find_last_of('/') + 1);
        if (name == "lumacor.inc")
            contents = lumacor_inc_text;
        else if (name == "sound.inc")
            contents = sound_inc_text;
        else if (name == "sounds.inc")
            contents = include_text;
        else
            return false;
        return true;
    };
    Assembly assembly = Assembler_assemble_text("player.asm", Sound_player_source(label, effect), options);
    if (!Assembly_ok(assembly)) {
        *error = AsmDiagnostic_format(assembly.diagnostics.at(0));
        return false;
    }
    static Computer computer{};
    static Cartridge cartridge{};
    Log_set_sink([](void*, bool, const char*) {}, nullptr);
    bool ok = Computer_init(&computer) && Cartridge_init_image(&cartridge, assembly.image);
    if (ok) {
        Computer_attach_cartridge(&computer, &cartridge);
        HeadlessOptions run;
        run.frame_limit = frames;
        run.sound = samples;
        std::vector<uint8_t> picture(FRAME_BYTES);
        Headless_run(&computer, run, picture.data());
        Computer_detach_cartridge(&computer);
    } else {
        *error = "the machine could not be built";
    }
    Cartridge_free_image(&cartridge);
    Computer_free(&computer);
    Log_set_sink(nullptr, nullptr);
    return ok;
}
