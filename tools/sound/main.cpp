// lumacor-sound: sound text to the data the driver in sound.inc plays, and
// an exact preview of one effect or song, written as WAV or played. See
// docs/sound.md.
//
// The conversion is the core in sound.h and the preview runs the machine
// (preview.h); this file reads and writes the files, and only it talks to the
// host's audio. Nothing is written unless the whole file converts.
#include <SDL.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cartridge/cartridge_file.h"
#include "cli.h"
#include "headless.h"
#include "midi.h"
#include "preview.h"
#include "sound.h"
#include "wav.h"

namespace {

constexpr int EXIT_PROBLEMS = 1;
constexpr uint64_t TEXT_LIMIT = 16 << 20; // far beyond any hand-written file

const CliTool tool = {
    "lumacor-sound",
    "convert sound text (effects and songs) to data for the sound.inc driver, and preview it exactly",
    "lumacor-sound sounds.snd -o sounds.inc\n"
    "lumacor-sound sounds.snd --wav jump.wav --play jump --frames 60\n"
    "lumacor-sound sounds.snd --listen --play title\n"
    "lumacor-sound tune.mid -o tune.inc --track 2 --wave saw",
    "0  done\n"
    "1  the input has errors or a file failed (nothing written)\n"
    "2  wrong usage",
};

struct Arguments {
    std::string input;
    std::string output;
    std::string name;
    std::string wav;
    std::string play;
    int frames = 250;
    bool listen = false;
};

// A file name made into a label prefix: letters, digits and '_', not
// starting with a digit.
std::string prefix_from(const std::string& path) {
    std::string stem = std::filesystem::path(path).stem().string();
    for (char& c : stem)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    if (stem.empty() || std::isdigit(static_cast<unsigned char>(stem[0]))) stem.insert(0, "_");
    return stem;
}

bool write(const std::string& path, const std::string& text) {
    std::string reason;
    if (File_replace(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, &reason))
        return true;
    std::fprintf(stderr, "lumacor-sound: could not write %s: %s\n", path.c_str(), reason.c_str());
    return false;
}

// Plays the samples on the default output and waits until they are heard.
bool listen(const std::vector<float>& samples) {
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "lumacor-sound: no audio: %s\n", SDL_GetError());
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = SOUND_RATE;
    want.format = AUDIO_F32SYS;
    want.channels = 1;
    want.samples = 1024;
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (!device) {
        std::fprintf(stderr, "lumacor-sound: no audio: %s\n", SDL_GetError());
        SDL_Quit();
        return false;
    }
    SDL_QueueAudio(device, samples.data(), static_cast<Uint32>(samples.size() * sizeof(float)));
    SDL_PauseAudioDevice(device, 0);
    while (SDL_GetQueuedAudioSize(device) > 0) SDL_Delay(10);
    SDL_Delay(100); // the device's own buffer
    SDL_CloseAudioDevice(device);
    SDL_Quit();
    return true;
}

// MIDI files: what is taken from them and how it sounds (midi.h).
struct MidiArguments {
    MidiOptions options;
    std::string wave = "square";
    bool given = false; // any of the options below
};

void add_midi_options(CLI::App& app, MidiArguments* midi) {
    auto given = [midi](auto) { midi->given = true; };
    app.add_option("--track", midi->options.track,
                   "MIDI: the track to take notes from, from 1 (default: the first with notes)")
        ->check(CLI::Range(1, 65535))
        ->each(given);
    app.add_option("--channel", midi->options.channel,
                   "MIDI: only notes on this channel, 1-16 (from every track unless --track)")
        ->check(CLI::Range(1, 16))
        ->each(given);
    app.add_option("--wave", midi->wave, "MIDI: the notes' waveform: sine, saw, square (default) or noise")
        ->check(CLI::IsMember({"sine", "saw", "square", "noise"}))
        ->each(given);
    app.add_option("--volume", midi->options.volume,
                   "MIDI: one volume for every note, 0-255 (default: from each velocity)")
        ->check(CLI::Range(0, 255))
        ->each(given);
    app.add_flag_callback(
        "--loop", [midi] { midi->options.loop = midi->given = true; },
        "MIDI: the song starts again when it ends");
}

bool is_midi(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".mid" || extension == ".midi" || Midi_is_midi(bytes);
}

// The melody of a MIDI file as one song, "song"; its problems as "FILE: message".
bool read_midi(const std::string& path, const std::vector<uint8_t>& bytes, MidiArguments midi,
               SoundFile* file) {
    const char* const waves[] = {"sine", "saw", "square", "noise"};
    for (int w = 0; w < 4; ++w)
        if (midi.wave == waves[w]) midi.options.wave = static_cast<SoundWave>(w);
    const MidiOptions& options = midi.options;
    MidiMelody melody;
    bool ok = Midi_read(bytes, options, &melody);
    for (const std::string& e : melody.errors) std::fprintf(stderr, "%s: %s\n", path.c_str(), e.c_str());
    if (ok) file->blocks.push_back(Midi_song(melody, options));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    CLI::App app;
    Cli_init(app, tool);
    app.add_option("input", args.input, "the sound text (.snd), or a MIDI file (.mid)")->required();
    app.add_option("-o", args.output, "write the driver's data as an assembler include");
    app.add_option("--name", args.name, "prefix of the labels, PREFIX_NAME (default: the input's name)");
    app.add_option("--wav", args.wav, "write the preview (48 kHz, 32-bit float, mono) as a WAV file");
    app.add_option("--play", args.play, "the effect or song to preview");
    app.add_option("--frames", args.frames, "frames to preview (default 250, four seconds)")
        ->check(CLI::Range(1, 1000000));
    app.add_flag("--listen", args.listen, "play the preview on the speakers");
    MidiArguments midi;
    add_midi_options(app, &midi);
    if (int status = Cli_parse(app, tool, argc, argv); status >= 0) return status;
    if (!args.name.empty() && prefix_from(args.name + ".snd") != args.name) {
        std::fprintf(stderr, "lumacor-sound: --name %s: letters, digits and '_', not starting with a digit\n",
                     args.name.c_str());
        return CLI_USAGE_ERROR;
    }
    bool preview = !args.wav.empty() || args.listen;
    if (args.output.empty() && !preview) {
        std::fprintf(stderr, "lumacor-sound: nothing to do: give -o, --wav or --listen\n");
        return CLI_USAGE_ERROR;
    }
    if (preview && args.play.empty()) {
        std::fprintf(stderr, "lumacor-sound: --wav and --listen need --play NAME\n");
        return CLI_USAGE_ERROR;
    }

    std::vector<uint8_t> bytes;
    std::string reason;
    if (!File_read(args.input, TEXT_LIMIT, &bytes, &reason)) {
        std::fprintf(stderr, "%s: %s\n", args.input.c_str(), reason.c_str());
        return EXIT_PROBLEMS;
    }
    SoundFile file;
    if (is_midi(args.input, bytes)) {
        if (!read_midi(args.input, bytes, midi, &file)) return EXIT_PROBLEMS;
    } else if (midi.given) {
        std::fprintf(stderr,
                     "lumacor-sound: --track, --channel, --wave, --volume and --loop are for MIDI files\n");
        return CLI_USAGE_ERROR;
    } else {
        file = Sound_parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    for (const SoundError& e : file.errors)
        std::fprintf(stderr, "%s:%d:%d: %s\n", args.input.c_str(), e.line, e.column, e.message.c_str());
    if (!file.errors.empty()) return EXIT_PROBLEMS;

    std::string prefix = args.name.empty() ? prefix_from(args.input) : args.name;
    std::string include = Sound_include_text(file, prefix);
    std::vector<float> samples;
    if (preview) {
        const SoundBlock* block = nullptr;
        for (const SoundBlock& b : file.blocks)
            if (b.name == args.play) block = &b;
        if (!block) {
            std::fprintf(stderr, "%s: no effect or song named '%s'\n", args.input.c_str(), args.play.c_str());
            return EXIT_PROBLEMS;
        }
        std::string error;
        if (!Sound_preview(include, prefix + "_" + args.play, block->kind == SoundKind::effect, args.frames,
                           &samples, &error)) {
            std::fprintf(stderr, "lumacor-sound: the preview failed: %s\n", error.c_str());
            return EXIT_PROBLEMS;
        }
    }
    if (!args.output.empty() && !write(args.output, include)) return EXIT_PROBLEMS;
    if (!args.wav.empty()) {
        std::vector<uint8_t> wav;
        if (!Wav_encode(samples, SOUND_RATE, WavFormat::Float32, &wav)) {
            std::fprintf(stderr, "lumacor-sound: could not write %s: too long for a WAV file\n",
                         args.wav.c_str());
            return EXIT_PROBLEMS;
        }
        if (!File_replace(args.wav, wav, &reason)) {
            std::fprintf(stderr, "lumacor-sound: could not write %s: %s\n", args.wav.c_str(), reason.c_str());
            return EXIT_PROBLEMS;
        }
    }
    if (args.listen && !listen(samples)) return EXIT_PROBLEMS;
    return 0;
}
