// The recent past of a run, frame by frame, for rewinding and stepping back.
// After each frame the host records the machine's snapshot; History keeps the
// newest whole and every older one as its difference from the next newer
// (the bytes that changed, run-length coded), so a minute of play costs a few
// megabytes. Stepping back restores the frame before the newest and makes it
// the newest. The oldest frames are dropped to stay within the limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

struct Computer;

struct History {
    std::vector<uint8_t> newest;            // the last recorded snapshot, whole
    std::deque<std::vector<uint8_t>> older; // differences, oldest first
    std::vector<uint8_t> scratch;
    size_t bytes; // held by `older`
    size_t byte_limit;
    size_t frame_limit; // differences kept at most
};

void History_init(History* history, size_t frame_limit, size_t byte_limit);
void History_free(History* history);
void History_clear(History* history);

// Records the machine as it is now, as the newest frame.
void History_record(History* history, const Computer* computer);

// Restores the frame recorded before the newest, which becomes the newest.
// Returns false, changing nothing, when no older frame is kept.
bool History_step_back(History* history, Computer* computer);

// Older frames that a step back can reach.
size_t History_depth(const History* history);
// Bytes held in all, the newest snapshot included.
size_t History_size(const History* history);
