// Standard MIDI Files written byte by byte for the tests and the benchmark:
// format 1, 480 pulses a quarter note, one MTrk chunk per track.
#pragma once

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

using MidiEventBytes = std::pair<int, std::vector<uint8_t>>; // pulses, the event

struct MidiTrackWriter {
    std::vector<MidiEventBytes> events;
    void note(int at, int length, int key, int velocity = 100, int channel = 0) {
        events.push_back({at, {uint8_t(0x90 | channel), uint8_t(key), uint8_t(velocity)}});
        events.push_back({at + length, {uint8_t(0x80 | channel), uint8_t(key), 0}});
    }
    void tempo(int at, int us) {
        events.push_back({at, {0xFF, 0x51, 3, uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)}});
    }
    void signature(int at, int numerator, int power) {
        events.push_back({at, {0xFF, 0x58, 4, uint8_t(numerator), uint8_t(power), 24, 8}});
    }
};

inline std::vector<uint8_t> midi_file(std::vector<MidiTrackWriter> tracks) {
    std::vector<uint8_t> out{'M',      'T',       'h', 'd', 0, 0, 0, 6, 0, 1, 0, uint8_t(tracks.size()),
                             480 >> 8, 480 & 0xFF};
    // At one moment: meta events, then note-offs, then note-ons.
    auto order = [](const MidiEventBytes& e) {
        return std::tuple(e.first, e.second[0] == 0xFF ? 0 : e.second[0] >> 4 == 8 ? 1 : 2);
    };
    for (MidiTrackWriter& track : tracks) {
        auto& events = track.events;
        std::stable_sort(events.begin(), events.end(), [&](auto& a, auto& b) { return order(a) < order(b); });
        events.push_back({events.empty() ? 0 : events.back().first, {0xFF, 0x2F, 0}});
        std::vector<uint8_t> body;
        int now = 0;
        for (auto& [at, bytes] : events) {
            uint32_t d = uint32_t(at - now);
            for (int shift = 21; shift > 0; shift -= 7)
                if (d >> shift) body.push_back(uint8_t(0x80 | ((d >> shift) & 0x7F)));
            body.push_back(uint8_t(d & 0x7F));
            body.insert(body.end(), bytes.begin(), bytes.end());
            now = at;
        }
        uint32_t n = uint32_t(body.size());
        out.insert(out.end(),
                   {'M', 'T', 'r', 'k', uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}
