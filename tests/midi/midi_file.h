// Standard MIDI Files written byte by byte for the tests and the benchmark:
// format 1, one MTrk chunk per track, times in pulses.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

struct MidiTrackWriter {
    struct Event {
        int pulses;
        int order; // at one moment: meta events, then note-offs, then note-ons
        std::vector<uint8_t> bytes;
    };
    std::vector<Event> events;

    void note(int at, int length, int key, int velocity = 100, int channel = 0) {
        events.push_back({at, 2, {uint8_t(0x90 | channel), uint8_t(key), uint8_t(velocity)}});
        events.push_back({at + length, 1, {uint8_t(0x80 | channel), uint8_t(key), 0}});
    }
    void tempo(int at, int microseconds_per_quarter) {
        int m = microseconds_per_quarter;
        events.push_back({at, 0, {0xFF, 0x51, 3, uint8_t(m >> 16), uint8_t(m >> 8), uint8_t(m)}});
    }
    void signature(int at, int numerator, int denominator_power) {
        events.push_back({at, 0, {0xFF, 0x58, 4, uint8_t(numerator), uint8_t(denominator_power), 24, 8}});
    }
};

inline void midi_put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(uint8_t(value >> (8 * i)));
}

inline std::vector<uint8_t> midi_file(std::vector<MidiTrackWriter> tracks, int ppqn = 480) {
    std::vector<uint8_t> out{'M', 'T', 'h', 'd'};
    midi_put(out, 6, 4);
    midi_put(out, 1, 2);
    midi_put(out, uint32_t(tracks.size()), 2);
    midi_put(out, uint32_t(ppqn), 2);
    for (MidiTrackWriter& track : tracks) {
        auto& events = track.events;
        std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) {
            return a.pulses != b.pulses ? a.pulses < b.pulses : a.order < b.order;
        });
        std::vector<uint8_t> body;
        int now = 0;
        auto delta = [&](int pulses) {
            uint32_t d = uint32_t(pulses - now);
            now = pulses;
            std::vector<uint8_t> bytes{uint8_t(d & 0x7F)};
            while (d >>= 7) bytes.insert(bytes.begin(), uint8_t(0x80 | (d & 0x7F)));
            body.insert(body.end(), bytes.begin(), bytes.end());
        };
        for (const auto& e : events) {
            delta(e.pulses);
            body.insert(body.end(), e.bytes.begin(), e.bytes.end());
        }
        delta(now);
        body.insert(body.end(), {0xFF, 0x2F, 0});
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        midi_put(out, uint32_t(body.size()), 4);
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}
