// Where the program should stop: breakpoints on code (source lines, labels,
// addresses), each with an optional condition, hit condition and log
// message, found by PC through a 64 Ki-bit map so the check before an
// instruction is one bit test; and data breakpoints on bytes of the address
// space, which wrap the Bus handlers of the regions that hold those bytes
// while any exist, so runs without them pay nothing.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "computer/bus.h"
#include "expr.h"

enum class BreakKind : uint8_t { Line, Function, Instruction };
enum class HitTest : uint8_t { AtLeast, Equal, Above, Below, AtMost, Every };

// What every breakpoint may carry besides its place.
struct BreakRule {
    bool has_condition;
    Expr condition;
    std::string condition_text;
    bool has_hit_test;
    HitTest hit_test;
    int64_t hit_count;
    bool is_log;
    std::string log_message;
    // The first point the breakpoint was weighed at: one with a hit
    // condition has hits, and acts, only from there on.
    uint64_t set_at;
};

struct CodeBreak {
    int32_t id;
    BreakKind kind;
    int bank; // -1: in whichever bank is selected
    uint16_t address;
    BreakRule rule;
};

enum WatchAccess : uint8_t { WATCH_READ = 1, WATCH_WRITE = 2 };

struct DataBreak {
    int32_t id;
    uint16_t address;
    uint8_t access; // WATCH_* bits
    BreakRule rule;
};

// One wrapped slot: the handlers it had, and the watches that see it.
struct WatchedRegion {
    BusRegion original;
    struct Breakpoints* owner;
};

struct WatchHit {
    bool hit;
    uint16_t address;
    uint8_t access;
    uint8_t value;
};

struct Breakpoints {
    std::vector<CodeBreak> code;
    std::vector<DataBreak> data;
    std::array<uint64_t, 65536 / 64> pc_map;
    std::array<uint8_t, 65536> watch_map; // WATCH_* bits per address
    std::array<WatchedRegion, BUS_SLOTS> watched;
    Bus* bus;
    // The map as the machine built it, for reads that must not trigger a
    // watch (the debugger's own look at memory).
    Bus plain;
    bool wrapped;
    bool stack_watched; // a watched byte lies in the CPU's stack page
    WatchHit watch_hit;
    int32_t next_id;
    // Hits by breakpoint id: the times the program reached it with its
    // condition true. Counted in the program's time, so a step back takes
    // them back too (the session restores them with each snapshot).
    std::map<int32_t, uint64_t> hits;
};

void Breakpoints_init(Breakpoints* breakpoints, Bus* bus);
void Breakpoints_free(Breakpoints* breakpoints);

// Replaces all code breakpoints of one kind; the map is rebuilt.
void Breakpoints_set_code(Breakpoints* breakpoints, BreakKind kind, std::vector<CodeBreak> list);
void Breakpoints_set_data(Breakpoints* breakpoints, std::vector<DataBreak> list);
int32_t Breakpoints_new_id(Breakpoints* breakpoints);

inline bool Breakpoints_maybe_at(const Breakpoints* breakpoints, uint16_t pc) {
    return (breakpoints->pc_map[pc >> 6] >> (pc & 63)) & 1;
}
inline bool Breakpoints_any(const Breakpoints* breakpoints) {
    return !breakpoints->code.empty() || !breakpoints->data.empty();
}

// Whether the `hits`-th hit (counting from 1) passes the hit condition.
bool BreakRule_hit_passes(const BreakRule* rule, uint64_t hits);
// Parses a hit condition: "N" (from the Nth hit on), "== N", "> N", ">= N",
// "< N", "<= N" or "% N" (every Nth). One that no hit can pass ("% 0",
// "== 0", "< 1", "<= 0") is refused as well.
bool BreakRule_parse_hit(BreakRule* rule, const std::string& text, std::string* error);
