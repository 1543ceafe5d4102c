// Damaged PNG files through the converter: the decoder must refuse them with
// a reason or hand over a picture, which the converter then converts or
// refuses with its error lines; nothing may crash or read out of bounds.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "gfx.h"
#include "png/png_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PngPicture png;
    std::string error;
    // A small limit keeps each run quick; size checks are the decoder's own.
    if (!Png_decode(std::span(data, size), &png, &error, 1u << 18)) {
        if (error.empty()) __builtin_trap(); // a refusal always says why
        return 0;
    }
    GfxPicture picture{png.width, png.height, std::move(png.rgba)};
    for (GfxMode mode : {GfxMode::screen, GfxMode::sheet}) {
        GfxArt art;
        std::array<uint8_t, 8192> vram{};
        bool converted = Gfx_convert(picture, {mode}, &art);
        if (!converted && art.errors.empty()) __builtin_trap(); // a refusal always says why
        Gfx_build_vram(art, vram);                              // refuses all but whole screens
        Gfx_preview(art);
    }
    return 0;
}
