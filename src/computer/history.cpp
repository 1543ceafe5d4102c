#include "computer/history.h"

#include <cstring>
#include <string>

#include "computer/snapshot.h"

namespace {

void put_count(std::vector<uint8_t>* out, size_t n) {
    while (n >= 0x80) {
        out->push_back(static_cast<uint8_t>(n | 0x80));
        n >>= 7;
    }
    out->push_back(static_cast<uint8_t>(n));
}

size_t get_count(const std::vector<uint8_t>& in, size_t* at) {
    size_t n = 0;
    for (int shift = 0;; shift += 7) {
        uint8_t b = in[(*at)++];
        n |= static_cast<size_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return n;
    }
}

// The bytes that differ between two snapshots of the same size, as pairs of
// (unchanged run, changed run) counts, each changed run followed by its XOR.
std::vector<uint8_t> difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < a.size()) {
        size_t same = i;
        // Most of a frame's snapshot equals the last one: skip it in blocks.
        constexpr size_t BLOCK = 64;
        while (same + BLOCK <= a.size() && std::memcmp(a.data() + same, b.data() + same, BLOCK) == 0)
            same += BLOCK;
        while (same < a.size() && a[same] == b[same]) ++same;
        size_t changed = same;
        // A short equal stretch inside a change is cheaper kept as zeros.
        while (changed < a.size() &&
               (a[changed] != b[changed] || (changed + 2 < a.size() && a[changed + 1] != b[changed + 1])))
            ++changed;
        put_count(&out, same - i);
        put_count(&out, changed - same);
        for (size_t k = same; k < changed; ++k) out.push_back(static_cast<uint8_t>(a[k] ^ b[k]));
        i = changed;
    }
    return out;
}

void apply_difference(std::vector<uint8_t>* target, const std::vector<uint8_t>& diff) {
    size_t at = 0, i = 0;
    while (at < diff.size()) {
        i += get_count(diff, &at);
        size_t changed = get_count(diff, &at);
        for (size_t k = 0; k < changed; ++k) (*target)[i++] ^= diff[at++];
    }
}

} // namespace

void History_init(History* history, size_t frame_limit, size_t byte_limit) {
    History_clear(history);
    history->frame_limit = frame_limit;
    history->byte_limit = byte_limit;
}

void History_free(History* history) {
    History_clear(history);
    history->newest.shrink_to_fit();
    history->scratch.shrink_to_fit();
}

void History_clear(History* history) {
    history->newest.clear();
    history->older.clear();
    history->bytes = 0;
}

void History_record(History* history, const Computer* computer) {
    Computer_save_state(computer, &history->scratch);
    if (!history->newest.empty() && history->newest.size() == history->scratch.size()) {
        history->older.push_back(difference(history->newest, history->scratch));
        history->bytes += history->older.back().size();
    } else {
        history->older.clear();
        history->bytes = 0;
    }
    history->newest.swap(history->scratch);
    while (!history->older.empty() &&
           (history->older.size() > history->frame_limit || history->bytes > history->byte_limit)) {
        history->bytes -= history->older.front().size();
        history->older.pop_front();
    }
}

bool History_step_back(History* history, Computer* computer) {
    if (history->older.empty()) return false;
    history->scratch = history->newest;
    apply_difference(&history->scratch, history->older.back());
    std::string error;
    if (!Computer_load_state(computer, history->scratch, &error)) return false;
    history->bytes -= history->older.back().size();
    history->older.pop_back();
    history->newest.swap(history->scratch);
    return true;
}

size_t History_depth(const History* history) { return history->older.size(); }

size_t History_size(const History* history) { return history->bytes + history->newest.size(); }
