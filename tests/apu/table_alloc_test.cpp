// Tables that cannot be allocated: this program is linked with malloc
// wrapped (-Wl,--wrap=malloc), so a test can make a chosen allocation of the
// audio unit fail and see the machine carry on silent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "apu/apu.h"

namespace {
// The number of allocations to let through before the one that fails;
// negative: none fails.
int allocations_before_failure = -1;
} // namespace

extern "C" void* __real_malloc(size_t size);
extern "C" void* __wrap_malloc(size_t size) {
    if (allocations_before_failure == 0) {
        allocations_before_failure = -1;
        return nullptr;
    }
    if (allocations_before_failure > 0) --allocations_before_failure;
    return __real_malloc(size);
}

namespace {

void expect_silent_after_failure(int allowed_first) {
    testing::internal::CaptureStderr();
    allocations_before_failure = allowed_first;
    const bool built = APU_init_tables();
    allocations_before_failure = -1;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(built);
    EXPECT_NE(err.find("out of memory for the audio tables"), std::string::npos) << err;
    // Whatever was had is given back, and nothing half-built is left to read.
    EXPECT_EQ(wavetables, nullptr);
    EXPECT_EQ(note_table, nullptr);

    APU apu;
    APU_init(&apu);
    apu.sample_rate.store(48000);
    apu.note.store(69);
    apu.volume.store(255);
    float out[256];
    APU_render(&apu, out, 256);
    for (float s : out) ASSERT_EQ(s, 0.0f);
    APU_free_tables();
}

TEST(ApuTableAllocation, NoWavetablesMeansSilence) { expect_silent_after_failure(0); }

TEST(ApuTableAllocation, NoNoteTableMeansSilence) { expect_silent_after_failure(1); }

TEST(ApuTableAllocation, TablesBuildOnceMemoryIsThere) {
    ASSERT_TRUE(APU_init_tables());
    EXPECT_NE(wavetables, nullptr);
    EXPECT_NE(note_table, nullptr);
    APU_free_tables();
}

} // namespace
