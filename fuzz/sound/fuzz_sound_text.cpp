// Arbitrary sound text through the converter: the reader reports problems
// with a place, or gives a model that checks clean, writes back to text that
// reads to the same model, and converts to data that assembles with the
// driver and plays in the machine.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "preview.h"
#include "sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    SoundFile file = Sound_parse(text);
    if (!file.errors.empty()) {
        for (const SoundError& e : file.errors)
            if (e.line < 1 || e.column < 1 || e.message.empty()) __builtin_trap();
        return 0;
    }
    if (!Sound_check(file).empty()) __builtin_trap();
    std::string written = Sound_text(file);
    SoundFile again = Sound_parse(written);
    if (!again.errors.empty() || Sound_text(again) != written) __builtin_trap();
    if (file.blocks.empty()) return 0;
    const SoundBlock& first = file.blocks[0];
    std::vector<float> samples;
    std::string error;
    if (!Sound_preview(Sound_include_text(file, "f"), "f_" + first.name, first.kind == SoundKind::effect, 2,
                       &samples, &error))
        __builtin_trap();
    return 0;
}
