// When to write the save RAM while the machine runs. A change to the save RAM
// is written to the file no more than once a second and no later than about
// a second after it was made, so a crash or a kill costs at most the last
// second of progress and a program that writes its save RAM every frame does
// not turn into a stream of disk writes.
//
// Pure arithmetic on a clock passed in: the frame loop asks SaveSchedule_due
// once per frame with the cartridge's change count, writes when told to and
// reports the outcome with SaveSchedule_done.
#pragma once

#include <cstdint>

constexpr int64_t SAVE_INTERVAL_MS = 1000;

struct SaveSchedule {
    int64_t last_write_ms;  // when the last write was tried
    uint64_t saved_changes; // the change count that the file holds
    bool failure_reported;  // a failed write was reported and none succeeded since
};

// `changes` is the change count of the save RAM as loaded. The first change
// may be written at once.
inline void SaveSchedule_start(SaveSchedule* schedule, int64_t now_ms, uint64_t changes) {
    schedule->last_write_ms = now_ms - SAVE_INTERVAL_MS;
    schedule->saved_changes = changes;
    schedule->failure_reported = false;
}

inline bool SaveSchedule_due(const SaveSchedule* schedule, int64_t now_ms, uint64_t changes) {
    return changes != schedule->saved_changes && now_ms - schedule->last_write_ms >= SAVE_INTERVAL_MS;
}

// Records a write of the save RAM holding `changes` changes. A failed write is
// tried again a second later; returns true when its failure should be reported,
// which is once until a write succeeds again, not every second.
inline bool SaveSchedule_done(SaveSchedule* schedule, int64_t now_ms, uint64_t changes, bool written) {
    schedule->last_write_ms = now_ms;
    if (written) {
        schedule->saved_changes = changes;
        schedule->failure_reported = false;
        return false;
    }
    bool report = !schedule->failure_reported;
    schedule->failure_reported = true;
    return report;
}
