#include "history.h"

void History_init(History* history, uint32_t interval, uint64_t keep_frames) {
    history->snapshots.clear();
    history->inputs.clear();
    history->first_input_frame = 0;
    history->interval = interval;
    history->keep_frames = keep_frames;
}

void History_free(History* history) {
    history->snapshots.clear();
    history->inputs.clear();
}

bool History_wants_snapshot(const History* history, uint64_t frame) {
    if (frame % history->interval != 0) return false;
    return history->snapshots.empty() || history->snapshots.back().frame < frame;
}

void History_add(History* history, Snapshot snapshot) {
    uint64_t frame = snapshot.frame;
    history->snapshots.push_back(std::move(snapshot));
    uint64_t oldest_needed = frame > history->keep_frames ? frame - history->keep_frames : 0;
    while (history->snapshots.size() > 1 && history->snapshots[1].frame <= oldest_needed)
        history->snapshots.pop_front();
    uint64_t first = history->snapshots.front().frame;
    while (history->first_input_frame < first && !history->inputs.empty()) {
        history->inputs.pop_front();
        ++history->first_input_frame;
    }
}

const Snapshot* History_at_or_before(const History* history, uint64_t frame) {
    for (auto it = history->snapshots.rbegin(); it != history->snapshots.rend(); ++it)
        if (it->frame <= frame) return &*it;
    return nullptr;
}

void History_record_input(History* history, uint64_t frame, PadBytes bytes) {
    if (history->inputs.empty()) history->first_input_frame = frame;
    uint64_t end = history->first_input_frame + history->inputs.size();
    if (frame < history->first_input_frame || frame > end) return;
    if (frame == end)
        history->inputs.push_back(bytes);
    else
        history->inputs[frame - history->first_input_frame] = bytes;
}

bool History_input(const History* history, uint64_t frame, PadBytes* bytes) {
    if (frame < history->first_input_frame || frame >= history->first_input_frame + history->inputs.size())
        return false;
    *bytes = history->inputs[frame - history->first_input_frame];
    return true;
}

void History_truncate(History* history, uint64_t frame, uint64_t input_frame) {
    while (!history->snapshots.empty() && history->snapshots.back().frame >= frame) history->snapshots.pop_back();
    while (!history->inputs.empty() && history->first_input_frame + history->inputs.size() > input_frame)
        history->inputs.pop_back();
}
