#include "timeline.h"

void Timeline_init(Timeline* timeline, uint32_t interval, uint64_t keep_frames) {
    timeline->snapshots.clear();
    timeline->inputs.clear();
    timeline->first_input_frame = 0;
    timeline->interval = interval;
    timeline->keep_frames = keep_frames;
}

void Timeline_free(Timeline* timeline) {
    timeline->snapshots.clear();
    timeline->inputs.clear();
}

bool Timeline_wants_snapshot(const Timeline* timeline, uint64_t frame) {
    if (frame % timeline->interval != 0) return false;
    return timeline->snapshots.empty() || timeline->snapshots.back().frame < frame;
}

void Timeline_add(Timeline* timeline, Snapshot snapshot) {
    uint64_t frame = snapshot.frame;
    timeline->snapshots.push_back(std::move(snapshot));
    uint64_t oldest_needed = frame > timeline->keep_frames ? frame - timeline->keep_frames : 0;
    while (timeline->snapshots.size() > 1 && timeline->snapshots[1].frame <= oldest_needed)
        timeline->snapshots.pop_front();
    uint64_t first = timeline->snapshots.front().frame;
    while (timeline->first_input_frame < first && !timeline->inputs.empty()) {
        timeline->inputs.pop_front();
        ++timeline->first_input_frame;
    }
}

const Snapshot* Timeline_at_or_before(const Timeline* timeline, uint64_t frame) {
    for (auto it = timeline->snapshots.rbegin(); it != timeline->snapshots.rend(); ++it)
        if (it->frame <= frame) return &*it;
    return nullptr;
}

void Timeline_record_input(Timeline* timeline, uint64_t frame, PadBytes bytes) {
    if (timeline->inputs.empty()) timeline->first_input_frame = frame;
    uint64_t end = timeline->first_input_frame + timeline->inputs.size();
    if (frame < timeline->first_input_frame || frame > end) return;
    if (frame == end)
        timeline->inputs.push_back(bytes);
    else
        timeline->inputs[frame - timeline->first_input_frame] = bytes;
}

bool Timeline_input(const Timeline* timeline, uint64_t frame, PadBytes* bytes) {
    if (frame < timeline->first_input_frame || frame >= timeline->first_input_frame + timeline->inputs.size())
        return false;
    *bytes = timeline->inputs[frame - timeline->first_input_frame];
    return true;
}

void Timeline_truncate(Timeline* timeline, uint64_t frame, uint64_t input_frame) {
    while (!timeline->snapshots.empty() && timeline->snapshots.back().frame >= frame)
        timeline->snapshots.pop_back();
    while (!timeline->inputs.empty() && timeline->first_input_frame + timeline->inputs.size() > input_frame)
        timeline->inputs.pop_back();
}
