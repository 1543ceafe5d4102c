#include "wav.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

void put(std::vector<uint8_t>* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put_tag(std::vector<uint8_t>* out, const char (&tag)[5]) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(tag[i]));
}

// A float sample as the nearest 16-bit value, full scale at +-1; what is
// not a number is silence.
int16_t to_int16(float sample) {
    if (std::isnan(sample)) return 0;
    float scaled = std::nearbyint(std::clamp(sample, -1.0f, 1.0f) * 32767.0f);
    return static_cast<int16_t>(scaled);
}

} // namespace

bool Wav_encode(std::span<const float> samples, int rate, WavFormat format, std::vector<uint8_t>* file) {
    const bool is_float = format == WavFormat::Float32;
    const uint32_t sample_bytes = is_float ? 4 : 2;
    const uint32_t fmt_bytes = is_float ? 18 : 16;
    const uint32_t fact_chunk = is_float ? 12 : 0;
    const uint64_t data_bytes = uint64_t{samples.size()} * sample_bytes;
    const uint64_t riff_bytes = 4 + (8 + fmt_bytes) + fact_chunk + (8 + data_bytes);
    if (riff_bytes > UINT32_MAX) return false;

    std::vector<uint8_t>& out = *file;
    out.clear();
    out.reserve(8 + riff_bytes);
    put_tag(&out, "RIFF");
    put(&out, static_cast<uint32_t>(riff_bytes), 4);
    put_tag(&out, "WAVE");
    put_tag(&out, "fmt ");
    put(&out, fmt_bytes, 4);
    put(&out, is_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM, 2);
    put(&out, 1, 2); // one channel
    put(&out, static_cast<uint32_t>(rate), 4);
    put(&out, static_cast<uint32_t>(rate) * sample_bytes, 4);
    put(&out, sample_bytes, 2); // one frame: one sample
    put(&out, sample_bytes * 8, 2);
    if (is_float) {
        put(&out, 0, 2); // no extension
        put_tag(&out, "fact");
        put(&out, 4, 4);
        put(&out, static_cast<uint32_t>(samples.size()), 4);
    }
    put_tag(&out, "data");
    put(&out, static_cast<uint32_t>(data_bytes), 4);
    // Little-endian whatever the host's order.
    for (float sample : samples) {
        if (is_float)
            put(&out, std::bit_cast<uint32_t>(sample), 4);
        else
            put(&out, static_cast<uint16_t>(to_int16(sample)), 2);
    }
    return true;
}
