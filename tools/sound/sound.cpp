#include "sound.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <optional>

namespace {

// Bytes of the driver's data (sound.inc reads them the same way).
constexpr int CODE_HOLD = 0xFC; // then frames: the step goes on, unchanged
constexpr int CODE_LOOP = 0xFD; // then a big-endian address: go on from there
constexpr int CODE_END = 0xFF;  // the block is over
constexpr int MAX_FRAMES = 255; // frames one step's byte can hold

constexpr std::array<const char*, 4> wave_names = {"sine", "saw", "square", "noise"};
constexpr std::array<const char*, 12> note_letters = {"C",  "C#", "D",  "D#", "E",  "F",
                                                      "F#", "G",  "G#", "A",  "A#", "B"};

struct Token {
    std::string_view text;
    int column = 0;
};

std::vector<Token> split_line(std::string_view line) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ';' || c == '#') break; // a comment runs to the end of the line
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != ';') ++i;
        tokens.push_back({line.substr(start, i - start), static_cast<int>(start) + 1});
    }
    return tokens;
}

// A whole decimal number with an optional sign, or nothing.
std::optional<int> parse_int(std::string_view text) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty() || text.size() > 9) return std::nullopt;
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "C4", "C#4", "Db4", "B-1" or a number; nothing when it is neither.
std::optional<int> parse_note(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (text[0] >= '0' && text[0] <= '9') return parse_int(text);
    static constexpr std::array<int, 7> semitones = {9, 11, 0, 2, 4, 5, 7}; // A..G
    char letter = text[0];
    if (letter >= 'a' && letter <= 'g') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'G') return std::nullopt;
    int note = semitones[letter - 'A'];
    size_t i = 1;
    if (i < text.size() && text[i] == '#') {
        ++note;
        ++i;
    } else if (i < text.size() && text[i] == 'b') {
        --note;
        ++i;
    }
    std::optional<int> octave = parse_int(text.substr(i));
    if (!octave || *octave < -1 || *octave > 9 || (i < text.size() && text[i] == '+')) return std::nullopt;
    return (*octave + 1) * 12 + note;
}

bool valid_name(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

class Parser {
  public:
    SoundFile file;

    void line(std::string_view text, int number) {
        line_number = number;
        std::vector<Token> tokens = split_line(text);
        if (tokens.empty()) return;
        std::string_view word = tokens[0].text;
        if (word == "effect" || word == "song")
            block_line(tokens, word == "effect" ? SoundKind::effect : SoundKind::song);
        else if (!block())
            error(tokens[0],
                  "'" + std::string(word) + "' outside a block; start one with 'effect NAME' or 'song NAME'");
        else if (word == "speed")
            speed_line(tokens);
        else if (word == "mark")
            mark_line(tokens);
        else if (word == "loop")
            loop_line(tokens);
        else
            step_line(tokens);
    }

    void finish() {
        if (block()) close_block();
    }

  private:
    int line_number = 0;
    bool looped = false;
    bool marked = false;
    int step_lines = 0; // in the current block, good or not

    SoundBlock* block() { return file.blocks.empty() ? nullptr : &file.blocks.back(); }

    void error(const Token& at, std::string message) { error(at.column, std::move(message)); }
    void error(int column, std::string message) {
        file.errors.push_back({line_number, column, std::move(message)});
    }

    bool no_more(const std::vector<Token>& tokens, size_t count) {
        if (tokens.size() <= count) return true;
        error(tokens[count], "unexpected '" + std::string(tokens[count].text) + "'");
        return false;
    }

    // A number in [low, high] from tokens[i], or an error naming `what`.
    std::optional<int> number(const std::vector<Token>& tokens, size_t i, const char* what, int low,
                              int high) {
        if (i >= tokens.size()) {
            error(tokens.back().column + static_cast<int>(tokens.back().text.size()),
                  std::string("missing ") + what);
            return std::nullopt;
        }
        std::optional<int> value = parse_int(tokens[i].text);
        if (!value || *value < low || *value > high) {
            error(tokens[i], std::string(what) + " '" + std::string(tokens[i].text) + "' is not a number " +
                                 std::to_string(low) + ".." + std::to_string(high));
            return std::nullopt;
        }
        return value;
    }

    void close_block() {
        SoundBlock& b = file.blocks.back();
        if (step_lines == 0 && !b.name.empty())
            file.errors.push_back({b.line, 1, "'" + b.name + "' has no steps"});
    }

    void block_line(const std::vector<Token>& tokens, SoundKind kind) {
        if (block()) close_block();
        SoundBlock b;
        b.kind = kind;
        b.line = line_number;
        looped = false;
        marked = false;
        step_lines = 0;
        if (tokens.size() < 2) {
            error(tokens[0].column + static_cast<int>(tokens[0].text.size()), "missing name");
        } else {
            b.name = std::string(tokens[1].text);
            if (!valid_name(b.name)) {
                error(tokens[1],
                      "bad name '" + b.name + "': letters, digits and '_', not starting with a digit");
            } else {
                for (const SoundBlock& other : file.blocks)
                    if (other.name == b.name)
                        error(tokens[1], "'" + b.name + "' is defined twice (first at line " +
                                             std::to_string(other.line) + ")");
            }
            no_more(tokens, 2);
        }
        file.blocks.push_back(std::move(b));
    }

    void speed_line(const std::vector<Token>& tokens) {
        if (!block()->steps.empty()) {
            error(tokens[0], "'speed' must come before the block's first step");
            return;
        }
        if (std::optional<int> speed = number(tokens, 1, "speed", 1, SOUND_MAX_SPEED))
            block()->speed = *speed;
        no_more(tokens, 2);
    }

    void mark_line(const std::vector<Token>& tokens) {
        if (marked) error(tokens[0], "a block has at most one 'mark'");
        marked = true;
        block()->mark = static_cast<int>(block()->steps.size());
        no_more(tokens, 1);
    }

    void loop_line(const std::vector<Token>& tokens) {
        SoundBlock& b = *block();
        if (looped)
            error(tokens[0], "a block has at most one 'loop'");
        else if (b.mark >= static_cast<int>(b.steps.size()))
            error(tokens[0], "'loop' has no steps to repeat");
        looped = true;
        b.loop = true;
        no_more(tokens, 1);
    }

    void step_line(const std::vector<Token>& tokens) {
        ++step_lines;
        if (looped) {
            error(tokens[0], "nothing may follow 'loop' in a block");
            return;
        }
        SoundStep step;
        step.line = line_number;
        size_t i = 1;
        if (tokens[0].text == "---") {
            step.note = SOUND_REST;
        } else {
            std::optional<int> note = parse_note(tokens[0].text);
            if (!note) {
                error(tokens[0], "'" + std::string(tokens[0].text) +
                                     "' is not a note (C4, F#3, a number 0..107), a rest (---) or a keyword");
                return;
            }
            if (*note < 0 || *note >= SOUND_NOTES) {
                error(tokens[0], "note '" + std::string(tokens[0].text) + "' is outside 0..107 (C-1..B7)");
                return;
            }
            step.note = *note;
            // Both fields are checked, so one run reports both of their problems.
            bool waved = wave(tokens, 1, &step);
            std::optional<int> volume =
                tokens.size() > 1 ? number(tokens, 2, "volume", 0, 255) : std::nullopt;
            if (!waved || !volume) return;
            step.volume = *volume;
            i = 3;
        }
        if (i < tokens.size() && parse_int(tokens[i].text)) {
            std::optional<int> length = number(tokens, i, "length", 1, SOUND_MAX_LENGTH);
            if (!length) return;
            step.length = *length;
            ++i;
        }
        if (!options(tokens, i, &step)) return;
        block()->steps.push_back(step);
    }

    bool wave(const std::vector<Token>& tokens, size_t i, SoundStep* step) {
        if (i >= tokens.size()) {
            error(tokens.back().column + static_cast<int>(tokens.back().text.size()), "missing waveform");
            return false;
        }
        for (size_t w = 0; w < wave_names.size(); ++w) {
            if (tokens[i].text == wave_names[w]) {
                step->wave = static_cast<SoundWave>(w);
                return true;
            }
        }
        error(tokens[i], "unknown waveform '" + std::string(tokens[i].text) + "'");
        return false;
    }

    // fade N, slide N, arp A [B], in any order, each at most once.
    bool options(const std::vector<Token>& tokens, size_t i, SoundStep* step) {
        bool seen[3] = {false, false, false};
        while (i < tokens.size()) {
            std::string_view word = tokens[i].text;
            int which = word == "fade" ? 0 : word == "slide" ? 1 : word == "arp" ? 2 : -1;
            if (which < 0) {
                error(tokens[i], step->note == SOUND_REST && i == 1
                                     ? "a rest takes only a length, not '" + std::string(word) + "'"
                                     : "unknown option '" + std::string(word) + "' (fade, slide or arp)");
                return false;
            }
            if (step->note == SOUND_REST) {
                error(tokens[i], "a rest takes no '" + std::string(word) + "'");
                return false;
            }
            if (seen[which]) {
                error(tokens[i], "'" + std::string(word) + "' given twice");
                return false;
            }
            seen[which] = true;
            std::optional<int> value;
            if (which == 0) {
                value = number(tokens, i + 1, "fade", -SOUND_MAX_FADE, SOUND_MAX_FADE);
                if (value) step->fade = *value;
            } else if (which == 1) {
                value = number(tokens, i + 1, "slide", -SOUND_MAX_SLIDE, SOUND_MAX_SLIDE);
                if (value) step->slide = *value;
            } else {
                value = number(tokens, i + 1, "arpeggio offset", 0, SOUND_MAX_ARP);
                if (value) step->arp1 = *value;
            }
            if (!value) return false;
            i += 2;
            if (which == 2 && i < tokens.size() && parse_int(tokens[i].text)) {
                value = number(tokens, i, "arpeggio offset", 0, SOUND_MAX_ARP);
                if (!value) return false;
                step->arp2 = *value;
                ++i;
            }
        }
        return true;
    }
};

std::string step_text(const SoundStep& step) {
    std::string text;
    if (step.note == SOUND_REST) {
        text = "---";
    } else {
        text = Sound_note_name(step.note) + " " + wave_names[static_cast<int>(step.wave) & 3] + " " +
               std::to_string(step.volume);
    }
    if (step.length != 1) text += " " + std::to_string(step.length);
    if (step.note == SOUND_REST) return text;
    if (step.fade) text += " fade " + std::to_string(step.fade);
    if (step.slide) text += " slide " + std::to_string(step.slide);
    if (step.arp1 || step.arp2) text += " arp " + std::to_string(step.arp1) + " " + std::to_string(step.arp2);
    return text;
}

} // namespace

SoundFile Sound_parse(std::string_view text) {
    Parser parser;
    int number = 1;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        parser.line(text.substr(start, end - start), number++);
        start = end + 1;
    }
    parser.finish();
    return std::move(parser.file);
}

std::string Sound_note_name(int note) {
    if (note < 0 || note >= SOUND_NOTES) return std::to_string(note);
    return std::string(note_letters[note % 12]) + std::to_string(note / 12 - 1);
}

int Sound_step_frames(const SoundBlock& block, const SoundStep& step) { return block.speed * step.length; }

std::string Sound_text(const SoundFile& file) {
    std::string text;
    for (const SoundBlock& b : file.blocks) {
        if (!text.empty()) text += "\n";
        text += (b.kind == SoundKind::effect ? "effect " : "song ") + b.name + "\n";
        text += "speed " + std::to_string(b.speed) + "\n";
        for (size_t i = 0; i <= b.steps.size(); ++i) {
            if (b.mark > 0 && static_cast<size_t>(b.mark) == i) text += "mark\n";
            if (i < b.steps.size()) text += step_text(b.steps[i]) + "\n";
        }
        if (b.loop) text += "loop\n";
    }
    return text;
}

std::vector<std::string> Sound_check(const SoundFile& file) {
    std::vector<std::string> problems;
    auto in = [](int v, int low, int high) { return v >= low && v <= high; };
    for (size_t k = 0; k < file.blocks.size(); ++k) {
        const SoundBlock& b = file.blocks[k];
        std::string where = "'" + b.name + "': ";
        if (!valid_name(b.name)) problems.push_back(where + "bad name");
        for (size_t j = 0; j < k; ++j)
            if (file.blocks[j].name == b.name) problems.push_back(where + "defined twice");
        if (!in(b.speed, 1, SOUND_MAX_SPEED)) problems.push_back(where + "speed out of range");
        if (b.steps.empty()) problems.push_back(where + "no steps");
        if (!in(b.mark, 0, static_cast<int>(b.steps.size())) ||
            (b.loop && b.mark == static_cast<int>(b.steps.size())))
            problems.push_back(where + "the mark is past the last step");
        for (size_t s = 0; s < b.steps.size(); ++s) {
            const SoundStep& st = b.steps[s];
            bool ok = (st.note == SOUND_REST || in(st.note, 0, SOUND_NOTES - 1)) && in(st.volume, 0, 255) &&
                      in(st.length, 1, SOUND_MAX_LENGTH) && in(st.fade, -SOUND_MAX_FADE, SOUND_MAX_FADE) &&
                      in(st.slide, -SOUND_MAX_SLIDE, SOUND_MAX_SLIDE) && in(st.arp1, 0, SOUND_MAX_ARP) &&
                      in(st.arp2, 0, SOUND_MAX_ARP) && in(static_cast<int>(st.wave), 0, 3);
            if (!ok)
                problems.push_back(where + "step " + std::to_string(s + 1) + " has a value out of range");
        }
    }
    return problems;
}

std::string Sound_include_text(const SoundFile& file, std::string_view prefix) {
    std::string text = "; Sound data for sound.inc, written by lumacor-sound.\n";
    char line[160];
    for (const SoundBlock& b : file.blocks) {
        // Built as a string: a name has no length limit, and a cut label would go undefined.
        std::string label = std::string(prefix) + "_" + b.name;
        text += std::string("\n; ") + (b.kind == SoundKind::effect ? "effect " : "song ") + b.name + ", " +
                std::to_string(b.speed) + " frames a step\n" + label + ":\n";
        // A rest keeps the note and waveform registers and sets the volume to 0.
        int note = 0, wave = 0;
        for (size_t i = 0; i < b.steps.size(); ++i) {
            const SoundStep& st = b.steps[i];
            if (b.loop && static_cast<size_t>(b.mark) == i && i > 0) text += ".mark:\n";
            bool rest = st.note == SOUND_REST;
            if (!rest) {
                note = st.note;
                wave = static_cast<int>(st.wave) & 3;
            }
            int frames = Sound_step_frames(b, st);
            std::snprintf(line, sizeof line, "        .byte %d, %d, %d, %d, %d, %d, 0x%02X ; %s\n", note,
                          wave, rest ? 0 : st.volume, frames < MAX_FRAMES ? frames : MAX_FRAMES,
                          rest ? 0 : st.fade & 0xFF, rest ? 0 : st.slide & 0xFF,
                          rest ? 0 : (st.arp1 << 4 | st.arp2),
                          rest ? "rest" : Sound_note_name(st.note).c_str());
            text += line;
            for (frames -= MAX_FRAMES; frames > 0; frames -= MAX_FRAMES) {
                std::snprintf(line, sizeof line, "        .byte 0x%02X, %d ; held\n", CODE_HOLD,
                              frames < MAX_FRAMES ? frames : MAX_FRAMES);
                text += line;
            }
        }
        if (b.loop) {
            std::string target = b.mark > 0 ? ".mark" : label;
            std::snprintf(line, sizeof line, "        .byte 0x%02X, ", CODE_LOOP);
            text += line + ("hi(" + target + "), lo(" + target + ") ; loop\n");
        } else {
            std::snprintf(line, sizeof line, "        .byte 0x%02X ; end\n", CODE_END);
            text += line;
        }
    }
    return text;
}
