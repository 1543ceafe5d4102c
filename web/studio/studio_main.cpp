// The studio's side of the tools: the assembler and the debugger's session,
// compiled to WebAssembly as they are, behind a few exported functions that
// trade plain buffers with the page's script.
//
// Assembling: asm_reset, then asm_add_file for every file of the project
// (named by absolute paths under one root), then asm_assemble(main). The
// image, the debug information and the diagnostics are read back with the
// asm_result_* functions. Files come from memory: nothing touches a disk.
//
// Converting: gfx_convert for a picture, map_convert for a Tiled map, as
// lumacor-gfx and lumacor-map convert them.
//
// Debugging: dbg_launch(rom, debug information), then dbg_run_slice on every
// animation frame while dbg_state() is Running, the step operations while it
// is Stopped; line breakpoints are set per file as the debugger's protocol
// sets them. dbg_report() describes where the machine stands.
#include <emscripten.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "assembler.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "controller/controller.h"
#include "cpu/cpu.h"
#include "gfx.h"
#include "gpu/gpu.h"
#include "headless.h" // the preview's rate: as lumacor-run's
#include "map.h"
#include "preview.h"
#include "session.h"
#include "sound.h"

extern const char lumacor_inc_text[];
extern const char sound_inc_text[];

namespace {

struct Buffer {
    std::vector<uint8_t> bytes;
};

std::map<std::string, std::string> files;
Assembly assembly;
std::string diagnostics; // one per line: kind, file, line, column, message, tab-separated

std::string text_of(const char* data, uint32_t size) { return std::string(data, size); }

void add_diagnostics(const std::vector<AsmDiagnostic>& list) {
    for (const AsmDiagnostic& d : list) {
        std::string message = d.message;
        for (char& c : message)
            if (c == '\t' || c == '\n') c = ' ';
        diagnostics += (d.warning ? "warning\t" : "error\t") + d.file + "\t" + std::to_string(d.line) + "\t" +
                       std::to_string(d.column) + "\t" + message + "\n";
    }
}

Session* session = nullptr; // built in place for each launch: a machine cannot be copied
bool session_live = false;
Stop last_stop{};
std::string report;
std::string output; // the machine's printing since the last report
std::array<uint8_t, FRAME_BYTES> picture;
std::array<uint8_t, FRAME_BYTES> rgba;
std::vector<uint8_t> memory_copy;
std::map<int, std::vector<CodeBreak>> line_breaks; // by file index

std::array<uint8_t, 2> held_buttons{};
std::string gfx_output;      // an include, video memory, or the picture's problems
std::string gfx_report_text; // what lumacor-gfx --report prints, or the problems as it prints them
GfxPicture gfx_shown;        // the converted data as the machine shows it

std::string sound_output;
// The sound preview's own machine, apart from the debugger's.
Computer preview_computer{};
Cartridge preview_cartridge{};
bool preview_live = false;
bool preview_started = false;
bool preview_ended = false;
std::string preview_error;
std::vector<float> preview_samples;
std::vector<uint8_t> preview_picture(FRAME_BYTES);

void apply_buttons(void*, Session* s) { s->computer.controllers.bytes = held_buttons; }

void collect_output(void*, OutputKind, const std::string& text) {
    if (output.size() < 64 * 1024) output += text;
}

const char* reason_name(StopReason reason) {
    switch (reason) {
    case StopReason::None: return "none";
    case StopReason::Entry: return "entry";
    case StopReason::Step: return "step";
    case StopReason::Breakpoint: return "breakpoint";
    case StopReason::FunctionBreakpoint: return "function breakpoint";
    case StopReason::InstructionBreakpoint: return "instruction breakpoint";
    case StopReason::DataBreakpoint: return "data breakpoint";
    case StopReason::Exception: return "exception";
    case StopReason::Pause: return "pause";
    case StopReason::HistoryStart: return "history start";
    case StopReason::Ended: return "ended";
    }
    return "none";
}

const char* state_name(RunState state) {
    switch (state) {
    case RunState::Idle: return "idle";
    case RunState::Stopped: return "stopped";
    case RunState::Running: return "running";
    case RunState::Ended: return "ended";
    }
    return "idle";
}

// JSON string contents: the only characters paths and messages can hold
// that need escaping.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Converted art put into video memory, then read back as the machine shows
// it: a screen composed by the video unit, a sheet as the patterns it holds.
// Art smaller than the screen takes the top left of the map.
GfxPicture shown_by_machine(const GfxArt& art, bool screen) {
    std::array<uint8_t, VRAM_SIZE> vram{};
    if (!Gfx_build_vram(art, vram)) {
        for (size_t i = 0; i < art.patterns.size() && size_t(art.first_tile) + i < 256; ++i) {
            size_t tile = static_cast<size_t>(art.first_tile) + i;
            std::copy(art.patterns[i].a.begin(), art.patterns[i].a.end(), &vram[VRAM_PLANE_A + 8 * tile]);
            std::copy(art.patterns[i].b.begin(), art.patterns[i].b.end(), &vram[VRAM_PLANE_B + 8 * tile]);
        }
        for (int row = 0; row < art.rows && row < MAP_ROWS; ++row)
            for (int column = 0; column < art.columns && column < MAP_COLUMNS; ++column) {
                const GfxCell& from = art.cells[size_t(row) * art.columns + column];
                uint8_t* cell = &vram[VRAM_TILE_MAP + CELL_SIZE * (row * MAP_COLUMNS + column)];
                cell[0] = static_cast<uint8_t>(from.tile);
                cell[1] = from.colors;
                cell[2] = from.attr;
            }
        for (size_t p = 0; p < art.palette.size() && p < GFX_MAX_COLORS; ++p) {
            uint8_t* entry = &vram[VRAM_PALETTE + COLOR_SIZE * p];
            entry[0] = art.palette[p].b;
            entry[1] = art.palette[p].g;
            entry[2] = art.palette[p].r;
        }
    }
    GfxPicture shown = screen ? Gfx_vram_screen(vram) : Gfx_vram_sheet(vram);
    // A screen shows black where nothing is drawn; a sheet keeps it clear.
    if (screen)
        for (size_t i = 3; i < shown.rgba.size(); i += 4) shown.rgba[i] = 255;
    return shown;
}

void note_stop(const Stop& stop) {
    if (stop.reason != StopReason::None) last_stop = stop;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void* studio_alloc(uint32_t size) { return std::malloc(size ? size : 1); }
EMSCRIPTEN_KEEPALIVE void studio_free(void* pointer) { std::free(pointer); }

// ---- the assembler ---------------------------------------------------------

EMSCRIPTEN_KEEPALIVE void asm_reset() { files.clear(); }

EMSCRIPTEN_KEEPALIVE void asm_add_file(const char* name, uint32_t name_size, const char* data,
                                       uint32_t size) {
    files[text_of(name, name_size)] = text_of(data, size);
}

// Returns 1 when the image was made.
EMSCRIPTEN_KEEPALIVE int asm_assemble(const char* main_name, uint32_t name_size, int with_debug_info) {
    std::string main = text_of(main_name, name_size);
    AsmOptions options;
    options.make_debug_info = with_debug_info != 0;
    options.read_file = [](const std::string& path, std::string& contents) {
        auto found = files.find(path);
        if (found == files.end()) return false;
        contents = found->second;
        return true;
    };
    diagnostics.clear();
    auto source = files.find(main);
    if (source == files.end()) {
        assembly = Assembly{};
        diagnostics = "error\t" + main + "\t0\t0\tcannot open file\n";
        return 0;
    }
    assembly = Assembler_assemble_text(main, source->second, options);
    add_diagnostics(assembly.diagnostics);
    add_diagnostics(assembly.warnings);
    return Assembly_ok(assembly) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* asm_result_image() { return assembly.image.data(); }
EMSCRIPTEN_KEEPALIVE uint32_t asm_result_image_size() { return static_cast<uint32_t>(assembly.image.size()); }
EMSCRIPTEN_KEEPALIVE const char* asm_result_debug_info() { return assembly.debug_info.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* asm_result_diagnostics() { return diagnostics.c_str(); }

// ---- the debugger's session -------------------------------------------------

EMSCRIPTEN_KEEPALIVE int dbg_launch(const uint8_t* rom, uint32_t rom_size, const char* info,
                                    uint32_t info_size) {
    if (session) {
        if (session_live) Session_free(session);
        delete session;
    }
    session_live = false;
    session = new Session{};
    session->output = collect_output;
    session->output_context = nullptr;
    line_breaks.clear();
    output.clear();
    report.clear();
    last_stop = Stop{StopReason::Entry, {}, "entry"};
    if (!Session_init(session)) return 0;
    session_live = true;
    session->picture = picture.data();
    session->host = SessionHost{nullptr, apply_buttons};
    std::string error, mismatch;
    if (!Session_launch(session, std::vector<uint8_t>(rom, rom + rom_size), text_of(info, info_size), &error,
                        &mismatch)) {
        output = error;
        return 0;
    }
    // The studio builds both from one source, so they only differ if that breaks.
    if (!mismatch.empty()) output += "Debug information not used: " + mismatch + "\n";
    return 1;
}

// Replaces the line breakpoints of one source file; `lines` holds `count`
// line numbers. Returns how many landed on an instruction.
EMSCRIPTEN_KEEPALIVE int dbg_set_line_breaks(const char* path, uint32_t path_size, const uint32_t* lines,
                                             uint32_t count) {
    if (!session_live || !session->has_info) return 0;
    int file = DebugInfo_file_index(&session->info, text_of(path, path_size));
    if (file < 0) return 0;
    std::vector<CodeBreak> list;
    int landed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        int32_t id = Breakpoints_new_id(&session->breakpoints);
        std::vector<const DebugInsn*> places = DebugInfo_insns_for_line(&session->info, file, lines[i]);
        if (!places.empty()) landed++;
        for (const DebugInsn* insn : places)
            list.push_back(CodeBreak{id, BreakKind::Line, insn->bank, insn->address, BreakRule{}});
    }
    line_breaks[file] = std::move(list);
    std::vector<CodeBreak> all;
    for (const auto& [index, breaks] : line_breaks) all.insert(all.end(), breaks.begin(), breaks.end());
    Breakpoints_set_code(&session->breakpoints, BreakKind::Line, std::move(all));
    return landed;
}

// kind: 0 continue, 1 step into, 2 step over, 3 step out.
EMSCRIPTEN_KEEPALIVE void dbg_resume(int kind) {
    if (!session_live || session->state != RunState::Stopped) return;
    if (kind == 0)
        Session_resume(session, SessionGoal::Run, StepKind::Into);
    else
        Session_resume(session, SessionGoal::Step,
                       kind == 1   ? StepKind::Into
                       : kind == 2 ? StepKind::Over
                                   : StepKind::Out);
}

// Starts the program from its first instruction, where a breakpoint stops it.
EMSCRIPTEN_KEEPALIVE void dbg_start() {
    if (!session_live || session->state != RunState::Stopped) return;
    Session_resume(session, SessionGoal::Run, StepKind::Into);
    session->resume_at = UINT64_MAX;
}

EMSCRIPTEN_KEEPALIVE void dbg_pause() {
    if (session_live && session->state == RunState::Running) {
        session->state = RunState::Stopped;
        last_stop = Stop{StopReason::Pause, {}, "paused"};
    }
}

EMSCRIPTEN_KEEPALIVE void dbg_run_slice() {
    if (session_live && session->state == RunState::Running) note_stop(Session_run_slice(session));
}

EMSCRIPTEN_KEEPALIVE void dbg_step_back() {
    if (session_live && session->state == RunState::Stopped) note_stop(Session_step_back(session));
}

EMSCRIPTEN_KEEPALIVE int dbg_state() { return session_live ? static_cast<int>(session->state) : 0; }

// The buttons held, applied before each frame run live, as the window
// program applies its events between frames.
// The machine's button bits in this order: up, down, left, right, start,
// back, a, x.
EMSCRIPTEN_KEEPALIVE const uint8_t* dbg_button_bits() {
    static constexpr std::array<uint8_t, 8> bits{PAD_UP,    PAD_DOWN, PAD_LEFT, PAD_RIGHT,
                                                 PAD_START, PAD_BACK, PAD_A,    PAD_X};
    return bits.data();
}

EMSCRIPTEN_KEEPALIVE void dbg_set_buttons(int pad, int bits) {
    if (pad == 0 || pad == 1) held_buttons[pad] = static_cast<uint8_t>(bits);
}

// Where the machine stands, as JSON: state, why it stopped, registers, the
// source place of the PC and the calls the program is in.
EMSCRIPTEN_KEEPALIVE const char* dbg_report() {
    report = "{";
    if (!session_live) return (report += "\"state\":\"idle\"}").c_str();
    CPU* cpu = &session->computer.cpu;
    uint16_t pc = CPU_pc(cpu);
    int bank = Session_bank_of(session, pc);
    report += "\"state\":\"" + std::string(state_name(session->state)) + "\",\"reason\":\"" +
              reason_name(last_stop.reason) + "\",\"stopText\":" + quoted(last_stop.text) +
              ",\"now\":" + std::to_string(Session_now(session)) +
              ",\"frame\":" + std::to_string(session->computer.frame) + ",\"pc\":" + std::to_string(pc) +
              ",\"sp\":" + std::to_string(CPU_sp(cpu)) + ",\"registers\":[";
    for (int r = 0; r < REGISTER_COUNT; ++r) report += (r ? "," : "") + std::to_string(CPU_regs(cpu)[r]);
    report +=
        "],\"where\":" + quoted(DebugInfo_name_of(session->has_info ? &session->info : nullptr, bank, pc));
    const DebugInsn* insn = session->has_info ? DebugInfo_insn_at(&session->info, bank, pc) : nullptr;
    if (insn)
        report += ",\"file\":" + quoted(session->info.files[insn->file]) +
                  ",\"line\":" + std::to_string(insn->line);
    std::string text;
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = Session_peek(session, static_cast<uint16_t>(pc + i));
    DebugInfo_format(session->has_info ? &session->info : nullptr, bytes, Session_bank_of(session, BANK_SIZE),
                     &text);
    report += ",\"instruction\":" + quoted(text) + ",\"calls\":[";
    std::vector<CallFrame> calls = Session_calls(session);
    for (size_t i = 0; i < calls.size(); ++i)
        report += (i ? "," : "") +
                  quoted(DebugInfo_name_of(session->has_info ? &session->info : nullptr,
                                           Session_bank_of(session, calls[i].target), calls[i].target));
    report += "],\"output\":" + quoted(output) + "}";
    output.clear();
    return report.c_str();
}

// A copy of `size` bytes of the address space from `address`, read as the
// debugger reads it (no device notices).
EMSCRIPTEN_KEEPALIVE const uint8_t* dbg_memory(uint32_t address, uint32_t size) {
    memory_copy.resize(size);
    for (uint32_t i = 0; i < size; ++i)
        memory_copy[i] = session_live ? Session_peek(session, static_cast<uint16_t>(address + i)) : 0;
    return memory_copy.data();
}

// The last picture the session composed, as the canvas takes it.
EMSCRIPTEN_KEEPALIVE const uint8_t* dbg_picture() {
    for (int i = 0; i < FRAME_BYTES; i += 4) {
        rgba[i] = picture[i + 2];
        rgba[i + 1] = picture[i + 1];
        rgba[i + 2] = picture[i];
        rgba[i + 3] = 255;
    }
    return rgba.data();
}

// ---- the graphics converter -------------------------------------------------

// Converts one picture as lumacor-gfx does with the same options: `screen`
// chooses the reading (the program decides it from its options the same
// way), `parts` the include's parts, or `vram` the 8192 bytes of a screen.
// `order` is the --palette-from picture (null: none). The output, or the
// problems one a line, is read with gfx_result.
EMSCRIPTEN_KEEPALIVE int gfx_convert(const uint8_t* rgba, int width, int height, const uint8_t* order,
                                     int order_width, int order_height, int screen, int first_tile,
                                     unsigned parts, int vram, int quantize, const char* name,
                                     uint32_t name_size, const char* source, uint32_t source_size,
                                     const char* path, uint32_t path_size) {
    gfx_output.clear();
    GfxPicture picture{width, height, std::vector<uint8_t>(rgba, rgba + size_t(width) * height * 4)};
    GfxOptions options;
    options.mode = screen ? GfxMode::screen : GfxMode::sheet;
    options.first_tile = first_tile;
    if (order) {
        GfxPicture from{order_width, order_height,
                        std::vector<uint8_t>(order, order + size_t(order_width) * order_height * 4)};
        options.palette = Gfx_palette_order(from);
    }
    options.whole_screen = vram != 0;
    double quantize_error = quantize ? Gfx_quantize(&picture, options) : 0;
    GfxArt art;
    std::string where = text_of(path, path_size);
    gfx_report_text.clear();
    gfx_shown = GfxPicture{};
    if (!Gfx_convert(picture, options, &art)) {
        for (const std::string& problem : art.errors) {
            gfx_output += problem + "\n";
            gfx_report_text += where + (problem.starts_with("cell ") ? ":" : ": ") + problem + "\n";
        }
        return 0;
    }
    char line[96];
    std::snprintf(line, sizeof line, ": %s %d x %d\n", screen ? "screen" : "sheet", width, height);
    gfx_report_text = where + line;
    if (quantize) {
        std::snprintf(line, sizeof line, "quantized: mean error %.2f a colour channel (0-255)\n",
                      quantize_error);
        gfx_report_text += line;
    }
    gfx_report_text += Gfx_report(art);
    gfx_shown = shown_by_machine(art, screen != 0);
    if (vram) {
        std::array<uint8_t, VRAM_SIZE> memory{};
        Gfx_build_vram(art, memory);
        gfx_output.assign(memory.begin(), memory.end());
    } else {
        gfx_output = Gfx_include_text(art, parts, text_of(name, name_size), text_of(source, source_size));
    }
    return 1;
}

EMSCRIPTEN_KEEPALIVE const char* gfx_result() { return gfx_output.data(); }
EMSCRIPTEN_KEEPALIVE uint32_t gfx_result_size() { return static_cast<uint32_t>(gfx_output.size()); }
EMSCRIPTEN_KEEPALIVE const char* gfx_report() { return gfx_report_text.c_str(); }
// The last converted picture as the machine shows it (0 x 0 after problems).
EMSCRIPTEN_KEEPALIVE const uint8_t* gfx_shown_rgba() { return gfx_shown.rgba.data(); }
EMSCRIPTEN_KEEPALIVE int gfx_shown_width() { return gfx_shown.width; }
EMSCRIPTEN_KEEPALIVE int gfx_shown_height() { return gfx_shown.height; }

// ---- the map converter -----------------------------------------------------

// A map's tilesets and their pictures, handed in by the page before the map
// (map_reset, map_add_text, map_add_image), by the paths the map names them
// with; then map_convert converts it as lumacor-map does. The include, or the
// problems one a line, is read with gfx_result.
std::map<std::string, std::string> map_texts;
std::map<std::string, GfxPicture> map_images;

EMSCRIPTEN_KEEPALIVE void map_reset() {
    map_texts.clear();
    map_images.clear();
}

EMSCRIPTEN_KEEPALIVE void map_add_text(const char* path, uint32_t path_size, const char* text,
                                       uint32_t size) {
    map_texts[text_of(path, path_size)] = text_of(text, size);
}

EMSCRIPTEN_KEEPALIVE void map_add_image(const char* path, uint32_t path_size, const uint8_t* rgba, int width,
                                        int height) {
    map_images[text_of(path, path_size)] =
        GfxPicture{width, height, std::vector<uint8_t>(rgba, rgba + size_t(width) * height * 4)};
}

EMSCRIPTEN_KEEPALIVE int map_convert(const char* path, uint32_t path_size, const char* text, uint32_t size,
                                     const char* name, uint32_t name_size, int first_tile, int pack,
                                     const uint8_t* order, int order_width, int order_height) {
    gfx_output.clear();
    MapFiles files;
    files.read_text = [](const std::string& file, std::string* contents, std::string* error) {
        auto found = map_texts.find(file);
        if (found == map_texts.end()) return *error = "No such file in the project", false;
        *contents = found->second;
        return true;
    };
    files.read_image = [](const std::string& file, GfxPicture* picture, std::string* error) {
        auto found = map_images.find(file);
        if (found == map_images.end()) return *error = "No such PNG picture in the project", false;
        *picture = found->second;
        return true;
    };
    MapOptions options;
    options.first_tile = first_tile;
    if (order) {
        GfxPicture from{order_width, order_height,
                        std::vector<uint8_t>(order, order + size_t(order_width) * order_height * 4)};
        options.palette = Gfx_palette_order(from);
    }
    std::string map_path = text_of(path, path_size);
    MapLevel level;
    if (!Map_convert(map_path, text_of(text, size), options, files, &level)) {
        for (const std::string& problem : level.errors) gfx_output += problem + "\n";
        return 0;
    }
    gfx_output = Map_include_text(level, text_of(name, name_size), map_path, pack != 0);
    return 1;
}

// ---- the sound converter and its preview --------------------------------------

// The model, the problems and (when there are none) the include, as JSON:
// {"errors":[{line,column,message}],"blocks":[{kind,name,speed,loop,mark,line,
// steps:[{line,note,wave,volume,length,fade,slide,arp1,arp2}]}],"include":TEXT}
EMSCRIPTEN_KEEPALIVE const char* snd_convert(const char* text, uint32_t size, const char* prefix,
                                             uint32_t prefix_size) {
    SoundFile file = Sound_parse(std::string_view(text, size));
    sound_output = "{\"errors\":[";
    for (size_t i = 0; i < file.errors.size(); ++i) {
        const SoundError& e = file.errors[i];
        sound_output += (i ? ",{\"line\":" : "{\"line\":") + std::to_string(e.line) +
                        ",\"column\":" + std::to_string(e.column) + ",\"message\":" + quoted(e.message) + "}";
    }
    sound_output += "],\"blocks\":[";
    for (size_t b = 0; b < file.blocks.size(); ++b) {
        const SoundBlock& block = file.blocks[b];
        sound_output += std::string(b ? "," : "") + "{\"kind\":\"" +
                        (block.kind == SoundKind::effect ? "effect" : "song") +
                        "\",\"name\":" + quoted(block.name) + ",\"speed\":" + std::to_string(block.speed) +
                        ",\"loop\":" + (block.loop ? "true" : "false") +
                        ",\"mark\":" + std::to_string(block.mark) +
                        ",\"line\":" + std::to_string(block.line) + ",\"steps\":[";
        for (size_t i = 0; i < block.steps.size(); ++i) {
            const SoundStep& s = block.steps[i];
            sound_output += std::string(i ? "," : "") + "[" + std::to_string(s.line) + "," +
                            std::to_string(s.note) + "," + std::to_string(static_cast<int>(s.wave)) + "," +
                            std::to_string(s.volume) + "," + std::to_string(s.length) + "," +
                            std::to_string(s.fade) + "," + std::to_string(s.slide) + "," +
                            std::to_string(s.arp1) + "," + std::to_string(s.arp2) + "]";
        }
        sound_output += "]}";
    }
    sound_output += "],\"include\":";
    sound_output +=
        quoted(file.errors.empty() ? Sound_include_text(file, std::string_view(prefix, prefix_size)) : "");
    return (sound_output += "}").c_str();
}

// The driver, as the assembler's include folder holds it.
EMSCRIPTEN_KEEPALIVE const char* snd_driver() { return sound_inc_text; }

// Builds the player for the block `name` of the sound text. Returns 1 when
// it is ready to run; else snd_preview_error() says why.
EMSCRIPTEN_KEEPALIVE int snd_preview_start(const char* text, uint32_t size, const char* name,
                                           uint32_t name_size) {
    preview_started = false;
    preview_error.clear();
    SoundFile file = Sound_parse(std::string_view(text, size));
    if (!file.errors.empty()) {
        preview_error = "the sound text has errors";
        return 0;
    }
    const SoundBlock* block = nullptr;
    for (const SoundBlock& b : file.blocks)
        if (b.name == text_of(name, name_size)) block = &b;
    if (!block) {
        preview_error = "no effect or song named '" + text_of(name, name_size) + "'";
        return 0;
    }
    std::string include = Sound_include_text(file, "sounds");
    AsmOptions options;
    options.read_file = [&](const std::string& path, std::string& contents) {
        std::string file_name = path.substr(path.find_last_of('/') + 1);
        if (file_name == "lumacor.inc")
            contents = lumacor_inc_text;
        else if (file_name == "sound.inc")
            contents = sound_inc_text;
        else if (file_name == "sounds.inc")
            contents = include;
        else
            return false;
        return true;
    };
    Assembly player = Assembler_assemble_text(
        "player.asm", Sound_player_source("sounds_" + block->name, block->kind == SoundKind::effect),
        options);
    if (!Assembly_ok(player)) {
        preview_error = AsmDiagnostic_format(player.diagnostics.at(0));
        return 0;
    }
    if (preview_live) {
        Computer_detach_cartridge(&preview_computer);
        Cartridge_free_image(&preview_cartridge);
        Computer_free(&preview_computer);
        preview_live = false;
    }
    if (!Computer_init(&preview_computer) || !Cartridge_init_image(&preview_cartridge, player.image)) {
        preview_error = "the machine could not be built";
        Cartridge_free_image(&preview_cartridge);
        Computer_free(&preview_computer);
        return 0;
    }
    Computer_attach_cartridge(&preview_computer, &preview_cartridge);
    preview_live = true;
    return 1;
}

EMSCRIPTEN_KEEPALIVE const char* snd_preview_error() { return preview_error.c_str(); }

// Runs the player `frames` frames on from where it stopped (from its start
// the first time): SOUND_SAMPLES_PER_FRAME samples a frame, read at the
// returned address.
EMSCRIPTEN_KEEPALIVE const float* snd_preview_frames(int frames) {
    preview_samples.clear();
    if (!preview_live) return preview_samples.data();
    // The frame sequence of lumacor-run's headless runner (and so of
    // lumacor-sound's preview): the frame, then its samples; a stopped
    // program gives no more.
    if (!preview_started) {
        Computer_start(&preview_computer);
        preview_computer.apu.sample_rate.store(SOUND_RATE, std::memory_order_relaxed);
        preview_started = true;
        preview_ended = false;
    }
    for (int frame = 0; frame < frames && !preview_ended; ++frame) {
        FrameEnd end = Computer_run_frame(&preview_computer, preview_picture.data());
        size_t at = preview_samples.size();
        preview_samples.resize(at + SOUND_SAMPLES_PER_FRAME);
        APU_render(&preview_computer.apu, preview_samples.data() + at, SOUND_SAMPLES_PER_FRAME);
        preview_ended = end != FrameEnd::Running;
    }
    return preview_samples.data();
}

EMSCRIPTEN_KEEPALIVE uint32_t snd_preview_size() { return static_cast<uint32_t>(preview_samples.size()); }

} // extern "C"
