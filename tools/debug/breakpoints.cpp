#include "breakpoints.h"

#include "computer/computer.h"

#include <cstdlib>

namespace {

uint8_t watch_read(void* context, uint16_t address) {
    WatchedRegion* region = static_cast<WatchedRegion*>(context);
    uint8_t value = region->original.read(region->original.context, address);
    Breakpoints* b = region->owner;
    if (b->watch_map[address] & WATCH_READ) b->watch_hit = WatchHit{true, address, WATCH_READ, value};
    return value;
}

void watch_write(void* context, uint16_t address, uint8_t value) {
    WatchedRegion* region = static_cast<WatchedRegion*>(context);
    region->original.write(region->original.context, address, value);
    Breakpoints* b = region->owner;
    if (b->watch_map[address] & WATCH_WRITE) b->watch_hit = WatchHit{true, address, WATCH_WRITE, value};
}

uint8_t nothing_read(void*, uint16_t) { return 0; }
void nothing_write(void*, uint16_t, uint8_t) {}

void unwrap(Breakpoints* b) {
    if (b->wrapped) b->bus->regions = b->plain.regions;
    b->wrapped = false;
}

// Every slot that answers a watched byte gets the watching handlers; a byte
// no device answers gets an extra slot that answers it as the bus would
// (reads 0, writes dropped), so it can be watched too.
void wrap(Breakpoints* b) {
    b->plain.regions = b->bus->regions;
    for (int s = 0; s < BUS_SLOTS; ++s) {
        BusRegion& region = b->bus->regions[static_cast<size_t>(s)];
        if (region.kind != REGION_MEMORY || !region.context) continue;
        bool watched = false;
        for (uint32_t a = region.first; a <= region.last && !watched; ++a) watched = b->watch_map[a] != 0;
        if (!watched) continue;
        b->watched[static_cast<size_t>(s)] = WatchedRegion{region, b};
        region.context = &b->watched[static_cast<size_t>(s)];
        region.read = watch_read;
        region.write = watch_write;
    }
    for (const DataBreak& d : b->data) {
        bool answered = false;
        for (const BusRegion& r : b->plain.regions)
            answered |= r.kind == REGION_MEMORY && r.context && r.first <= d.address && d.address <= r.last;
        if (answered) continue;
        for (int s = BUS_SLOTS - 1; s >= 0; --s) {
            BusRegion& region = b->bus->regions[static_cast<size_t>(s)];
            if (region.context || region.name) continue;
            b->watched[static_cast<size_t>(s)] = WatchedRegion{
                BusRegion{"watch", b, d.address, d.address, REGION_MEMORY, nothing_read, nothing_write}, b};
            region = BusRegion{"watch",       &b->watched[static_cast<size_t>(s)],
                               d.address,     d.address,
                               REGION_MEMORY, watch_read,
                               watch_write};
            break;
        }
    }
    b->wrapped = true;
}

} // namespace

void Breakpoints_init(Breakpoints* b, Bus* bus) {
    b->code.clear();
    b->data.clear();
    b->pc_map.fill(0);
    b->watch_map.fill(0);
    b->bus = bus;
    b->plain.regions = bus->regions;
    b->wrapped = false;
    b->stack_watched = false;
    b->watch_hit = WatchHit{};
    b->next_id = 1;
    b->hits.clear();
}

void Breakpoints_free(Breakpoints* b) {
    unwrap(b);
    b->code.clear();
    b->data.clear();
}

int32_t Breakpoints_new_id(Breakpoints* b) { return b->next_id++; }

void Breakpoints_set_code(Breakpoints* b, BreakKind kind, std::vector<CodeBreak> list) {
    std::erase_if(b->code, [&](const CodeBreak& c) { return c.kind == kind; });
    for (CodeBreak& c : list) b->code.push_back(std::move(c));
    b->pc_map.fill(0);
    for (const CodeBreak& c : b->code) b->pc_map[c.address >> 6] |= uint64_t{1} << (c.address & 63);
}

void Breakpoints_set_data(Breakpoints* b, std::vector<DataBreak> list) {
    unwrap(b);
    b->data = std::move(list);
    b->watch_map.fill(0);
    const BusRegion& stack = b->plain.regions[SLOT_STACK];
    b->stack_watched = false;
    for (const DataBreak& d : b->data) {
        b->watch_map[d.address] |= d.access;
        b->stack_watched |= stack.first <= d.address && d.address <= stack.last;
    }
    if (!b->data.empty()) wrap(b);
}

bool BreakRule_hit_passes(const BreakRule* rule, uint64_t n) {
    if (!rule->has_hit_test) return true;
    int64_t k = rule->hit_count;
    int64_t hits = static_cast<int64_t>(n);
    switch (rule->hit_test) {
    case HitTest::AtLeast: return hits >= k;
    case HitTest::Equal: return hits == k;
    case HitTest::Above: return hits > k;
    case HitTest::Below: return hits < k;
    case HitTest::AtMost: return hits <= k;
    case HitTest::Every: return k > 0 && hits % k == 0;
    }
    return true;
}

bool BreakRule_parse_hit(BreakRule* rule, const std::string& text, std::string* error) {
    static constexpr std::pair<std::string_view, HitTest> tests[] = {
        {"==", HitTest::Equal}, {">=", HitTest::AtLeast}, {"<=", HitTest::AtMost}, {"=", HitTest::Equal},
        {">", HitTest::Above},  {"<", HitTest::Below},    {"%", HitTest::Every},
    };
    std::string_view rest(text);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    HitTest test = HitTest::AtLeast;
    for (const auto& [token, kind] : tests) {
        if (rest.substr(0, token.size()) == token) {
            test = kind;
            rest.remove_prefix(token.size());
            break;
        }
    }
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
    std::string digits(rest);
    char* end = nullptr;
    long long count = digits.empty() ? -1 : std::strtoll(digits.c_str(), &end, 0);
    if (digits.empty() || *end || count < 0) {
        *error = "hit condition '" + text + "' is not a count (N, == N, > N, >= N, < N, <= N or % N)";
        return false;
    }
    // Hits are counted from 1.
    bool never = (test == HitTest::Every || test == HitTest::Equal || test == HitTest::AtMost) ? count == 0
                 : test == HitTest::Below                                                      ? count <= 1
                                                                                               : false;
    if (never) {
        *error = "hit condition '" + text + "' can never hold: hits are counted from 1";
        return false;
    }
    rule->has_hit_test = true;
    rule->hit_test = test;
    rule->hit_count = count;
    return true;
}
