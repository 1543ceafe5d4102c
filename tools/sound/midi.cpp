#include "midi.h"

// smf.h opens extern "C" around GLib, whose headers need <type_traits> seen
// first when compiled as C++.
#include <type_traits>

#include <smf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <utility>

namespace {

// A note as the file has it, before it is fitted to the one voice.
struct RawNote {
    int start = 0; // frames
    int end = 0;
    int pulses = 0; // where it starts, for its bar and beat
    uint8_t key = 0;
    uint8_t velocity = 0;
};

// libsmf reports through GLib's log; while a file is read its lines are kept
// here (the reader runs on one thread) so that a refused file says why.
std::vector<std::string>* library_lines = nullptr;

void keep_library_line(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
    if (!library_lines || !message) return;
    std::string line = message;
    if (line.find("Expected MTrk signature") != std::string::npos) return; // unknown chunks are skipped
    for (const char* prefix : {"SMF warning: ", "SMF error: "})
        if (line.rfind(prefix, 0) == 0) line.erase(0, std::strlen(prefix));
    if (std::find(library_lines->begin(), library_lines->end(), line) == library_lines->end())
        library_lines->push_back(line);
}

struct SmfFile {
    smf_t* smf = nullptr;
    ~SmfFile() {
        if (smf) smf_delete(smf);
    }
};

// Songs are kept under four hours, so a frame count always fits an int;
// later times are held there, and notes that start there are refused.
constexpr double LONGEST_SONG = 4 * 3600.0;

int to_frame(double seconds) {
    return static_cast<int>(std::lround(std::clamp(seconds, 0.0, LONGEST_SONG) * MIDI_FRAMES_PER_SECOND));
}

bool is_note_on(const smf_event_t* e) {
    return e->midi_buffer_length >= 3 && (e->midi_buffer[0] & 0xF0) == 0x90 && e->midi_buffer[2] > 0;
}
bool is_note_off(const smf_event_t* e) {
    if (e->midi_buffer_length < 3) return false;
    int kind = e->midi_buffer[0] & 0xF0;
    return kind == 0x80 || (kind == 0x90 && e->midi_buffer[2] == 0);
}
bool on_channel(const smf_event_t* e, int channel) {
    return channel == 0 || (e->midi_buffer[0] & 0x0F) == channel - 1;
}

bool track_has_notes(smf_track_t* track, int channel) {
    for (int i = 1; i <= track->number_of_events; ++i) {
        const smf_event_t* e = smf_track_get_event_by_number(track, i);
        if (e && is_note_on(e) && on_channel(e, channel)) return true;
    }
    return false;
}

// The notes of one track on the channel asked for. A key struck again while
// it sounds ends the earlier note there; a note still held when the track
// ends stops at its end.
void collect_notes(smf_track_t* track, int channel, std::vector<RawNote>* notes) {
    std::map<int, std::pair<const smf_event_t*, size_t>> held; // channel * 128 + key -> note-on
    auto finish = [&](int slot, double seconds) {
        auto it = held.find(slot);
        if (it == held.end()) return;
        RawNote& note = (*notes)[it->second.second];
        note.end = std::max(to_frame(seconds), note.start + 1);
        held.erase(it);
    };
    for (int i = 1; i <= track->number_of_events; ++i) {
        const smf_event_t* e = smf_track_get_event_by_number(track, i);
        if (!e || smf_event_is_metadata(e) || !on_channel(e, channel)) continue;
        bool on = is_note_on(e);
        if (!on && !is_note_off(e)) continue;
        int slot = (e->midi_buffer[0] & 0x0F) * 128 + (e->midi_buffer[1] & 0x7F);
        finish(slot, e->time_seconds);
        if (!on) continue;
        RawNote note;
        note.start = to_frame(e->time_seconds);
        note.pulses = e->time_pulses;
        note.key = e->midi_buffer[1] & 0x7F;
        note.velocity = e->midi_buffer[2] & 0x7F;
        held[slot] = {e, notes->size()};
        notes->push_back(note);
    }
    const smf_event_t* last = smf_track_get_last_event(track);
    double end = last ? last->time_seconds : 0.0;
    while (!held.empty()) finish(held.begin()->first, end);
}

// Bars and beats as musicians count them, from 1, through the file's time
// signatures. A signature that changes in the middle of a bar starts a new
// bar, as notation programs do.
std::string bar_and_beat(const smf_t* smf, int pulses) {
    int numerator = 4, denominator = 4;
    double bar = 0; // whole bars before `from`, where the current signature began
    int from = 0;
    auto beat_pulses = [&] { return smf->ppqn * 4.0 / denominator; };
    for (int i = 0;; ++i) {
        const smf_tempo_t* tempo = smf_get_tempo_by_number(smf, i);
        if (!tempo || tempo->time_pulses > pulses) break;
        if (tempo->numerator == numerator && tempo->denominator == denominator) continue;
        if (tempo->numerator <= 0 || tempo->denominator <= 0) continue;
        bar += std::ceil((tempo->time_pulses - from) / (numerator * beat_pulses()));
        from = tempo->time_pulses;
        numerator = tempo->numerator;
        denominator = tempo->denominator;
    }
    double beats = (pulses - from) / beat_pulses();
    double whole_bars = std::floor(beats / numerator);
    char beat[32], text[96];
    std::snprintf(beat, sizeof beat, "%.2f", beats - whole_bars * numerator + 1);
    std::string b = beat; // "2.50" -> "2.5", "3.00" -> "3"
    b.erase(b.find_last_not_of('0') + 1);
    if (b.back() == '.') b.pop_back();
    std::snprintf(text, sizeof text, "bar %.0f, beat %s", bar + whole_bars + 1, b.c_str());
    return text;
}

// libsmf asserts, and so ends the program, on some malformed events, and
// its times overflow on absurd ones; so the file's structure is walked here
// first and a file that breaks it is refused with the reason. Returns "" for
// a sound file.
std::string structure_fault(std::span<const uint8_t> bytes) {
    size_t at = 0;
    auto take = [&](size_t n) -> uint32_t {
        uint32_t value = 0;
        for (size_t i = 0; i < n; ++i) value = value << 8 | bytes[at++];
        return value;
    };
    if (bytes.size() < 14 || take(4) != 0x4D546864 || take(4) != 6) return "its header is not 6 bytes long";
    uint32_t format = take(2), tracks = take(2), division = take(2);
    if (format == 2) return "it is of format 2 (independent patterns), which is not read";
    if (format > 2) return "it has the unknown format " + std::to_string(format);
    if (division & 0x8000) return "it counts time in SMPTE frames; only files in beats are read";
    if (division == 0) return "its header gives no pulses per quarter note";
    if (tracks == 0) return "it holds no tracks";
    uint32_t found = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8) return "a chunk is cut short";
        uint32_t id = take(4), length = take(4);
        if (length > bytes.size() - at) return "chunk " + std::to_string(found + 1) + " is cut short";
        for (int shift = 0; shift < 32; shift += 8)
            if (!std::isalnum((id >> shift) & 0xFF)) return "a chunk's name is not letters and digits";
        size_t end = at + length;
        if (id != 0x4D54726B) { // other chunks are skipped, as the format asks
            at = end;
            continue;
        }
        ++found;
        std::string track = "track " + std::to_string(found) + ": ";
        auto number = [&](uint32_t* value) { // a variable-length number, at most four bytes
            *value = 0;
            for (int i = 0; i < 4 && at < end; ++i) {
                uint8_t b = bytes[at++];
                *value = *value << 7 | (b & 0x7F);
                if (!(b & 0x80)) return true;
            }
            return false;
        };
        uint8_t running = 0;
        uint64_t pulses = 0;
        bool ended = false;
        while (at < end && !ended) {
            uint32_t delta = 0, size = 0;
            if (!number(&delta) || at >= end) return track + "an event is cut short";
            if ((pulses += delta) > 0x0FFFFFFF) return track + "it lasts too long";
            uint8_t status = bytes[at];
            // libsmf takes a 0xF7 packet for an escaped real-time message and
            // fails on most others; melodies do without them.
            if (status == 0xF7) return track + "it holds an escaped (0xF7) event, which is not read";
            if (status == 0xFF || status == 0xF0) {
                at += status == 0xFF ? 2 : 1;
                uint8_t type = status == 0xFF && at <= end ? bytes[at - 1] : 0;
                if (at > end || !number(&size) || size > end - at) return track + "an event is cut short";
                if ((type == 0x51 && size != 3) || (type == 0x58 && size != 4))
                    return track + "a tempo or time signature is not of its size";
                ended = type == 0x2F;
                at += size;
                running = 0; // meta and system exclusive events end running status
                continue;
            }
            if (status > 0xF0) return track + "it holds a system message that files do not carry";
            if (status & 0x80)
                running = bytes[at++];
            else if (!running)
                return track + "a data byte comes without a status byte";
            size = (running & 0xE0) == 0xC0 ? 1 : 2; // program change and channel pressure take one
            for (; size > 0; --size)
                if (at >= end || bytes[at++] & 0x80) return track + "an event is cut short";
        }
        if (!ended) return track + "it has no end-of-track event";
        at = end;
    }
    if (found != tracks)
        return "its header announces " + std::to_string(tracks) + " tracks but it holds " +
               std::to_string(found);
    return "";
}

// The one voice: at each frame the latest started of the held notes, the
// highest of a chord.
std::vector<MidiNote> one_voice(const std::vector<RawNote>& notes) {
    std::vector<std::pair<int, int>> points; // frame, +1 + index to start or -1 - index to end
    for (size_t i = 0; i < notes.size(); ++i) {
        points.push_back({notes[i].start, static_cast<int>(i) + 1});
        points.push_back({notes[i].end, -static_cast<int>(i) - 1});
    }
    std::sort(points.begin(), points.end());
    auto later = [&](size_t a, size_t b) {
        return std::tie(notes[a].start, notes[a].key, a) < std::tie(notes[b].start, notes[b].key, b);
    };
    std::set<size_t, decltype(later)> held(later);
    std::vector<MidiNote> voice;
    std::vector<size_t> from; // the note each piece of the voice plays
    for (size_t p = 0; p < points.size();) {
        int frame = points[p].first;
        for (; p < points.size() && points[p].first == frame; ++p) {
            int k = points[p].second;
            if (k > 0)
                held.insert(static_cast<size_t>(k - 1));
            else
                held.erase(static_cast<size_t>(-k - 1));
        }
        if (!voice.empty() && voice.back().end == 0) voice.back().end = frame;
        if (held.empty()) continue;
        size_t playing = *held.rbegin();
        if (!voice.empty() && voice.back().end == frame && from.back() == playing) {
            voice.back().end = 0; // the same note goes on
            continue;
        }
        voice.push_back({frame, 0, notes[playing].key, notes[playing].velocity});
        from.push_back(playing);
    }
    for (size_t i = 1; i < voice.size(); ++i) {
        MidiNote& before = voice[i - 1];
        if (before.end == voice[i].start && before.key == voice[i].key && before.end - before.start > 1)
            --before.end;
    }
    return voice;
}

// MIDI names notes up to 127, past the machine's table, in the same way.
std::string key_name(int key) {
    std::string name = Sound_note_name(key % 12 + 12); // the letters, in octave 0
    return name.substr(0, name.size() - 1) + std::to_string(key / 12 - 1);
}

} // namespace

bool Midi_read(std::span<const uint8_t> bytes, const MidiOptions& options, MidiMelody* melody) {
    *melody = MidiMelody{};
    auto& errors = melody->errors;
    if (!Midi_is_midi(bytes)) {
        errors.push_back("not a Standard MIDI File (it does not start with \"MThd\")");
        return false;
    }
    if (std::string fault = structure_fault(bytes); !fault.empty()) {
        errors.push_back("the MIDI file is damaged: " + fault);
        return false;
    }
    // libsmf reads on past many faults ("continuing anyway"); a file it had
    // to complain about is refused rather than half converted.
    std::vector<std::string> lines;
    library_lines = &lines;
    guint handler = g_log_set_handler("libsmf", G_LOG_LEVEL_MASK, keep_library_line, nullptr);
    SmfFile file{smf_load_from_memory(bytes.data(), static_cast<int>(bytes.size()))};
    g_log_remove_handler("libsmf", handler);
    library_lines = nullptr;
    if (!file.smf || !lines.empty()) {
        std::string why = "the MIDI file is damaged";
        if (lines.empty()) lines.push_back("libsmf cannot read it");
        for (size_t i = 0; i < lines.size(); ++i) why += (i ? "; " : ": ") + lines[i];
        errors.push_back(why);
        return false;
    }
    const smf_t* smf = file.smf;

    std::vector<RawNote> notes;
    if (options.track > smf->number_of_tracks) {
        errors.push_back("there is no track " + std::to_string(options.track) + ": the file has " +
                         std::to_string(smf->number_of_tracks));
        return false;
    }
    for (int t = 1; t <= smf->number_of_tracks; ++t) {
        smf_track_t* track = smf_get_track_by_number(smf, t);
        if (!track) continue;
        bool wanted = options.track
                          ? t == options.track
                          : (options.channel || !melody->track) && track_has_notes(track, options.channel);
        if (!wanted) continue;
        if (!melody->track) melody->track = t;
        collect_notes(track, options.channel, &notes);
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const RawNote& a, const RawNote& b) { return a.start < b.start; });
    if (notes.empty()) {
        std::string on_channel = options.channel ? " on channel " + std::to_string(options.channel) : "";
        if (options.track)
            errors.push_back("track " + std::to_string(options.track) + " has no notes" + on_channel);
        else if (options.channel)
            errors.push_back("no track has notes" + on_channel);
        else
            errors.push_back("the file has no notes");
        return false;
    }
    for (const RawNote& note : notes) {
        if (note.start >= to_frame(LONGEST_SONG)) {
            errors.push_back(
                bar_and_beat(smf, note.pulses) +
                ": the note starts four hours or more into the file, later than a song may last");
            break;
        }
        if (note.key <= MIDI_HIGHEST_NOTE) continue;
        errors.push_back(bar_and_beat(smf, note.pulses) + ": note " + std::to_string(note.key) + " (" +
                         key_name(note.key) + ") is above the highest note the machine plays, " +
                         std::to_string(MIDI_HIGHEST_NOTE) + " (" + Sound_note_name(MIDI_HIGHEST_NOTE) + ")");
    }
    if (!errors.empty()) return false;
    melody->notes = one_voice(notes);
    return true;
}
