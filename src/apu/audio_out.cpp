#include "apu/audio_out.h"

#include <cstdio>

#include "apu/apu.h"

void AudioOut_callback(void* userdata, Uint8* stream, int len) {
    auto* out = static_cast<AudioOut*>(userdata);
    auto* samples = reinterpret_cast<float*>(stream);
    APU* apu = out->apu.load(std::memory_order_acquire);
    if (!apu) {
        // Not wired yet, or already being closed: silence.
        for (int i = 0; i < len / 4; ++i) samples[i] = 0.0f;
        return;
    }
    // APU_render itself renders silence until the sample rate is published.
    APU_render(apu, samples, out->spec.samples);
}

int AudioOut_open(AudioOut* out) {
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        std::printf("SDL_Init Error: %s\n", SDL_GetError());
        return -1;
    }
    SDL_AudioSpec desired;
    SDL_memset(&desired, 0, sizeof desired);
    desired.freq = 48000;
    desired.format = AUDIO_F32LSB;
    desired.channels = 1;
    desired.samples = 1024;
    desired.callback = AudioOut_callback;
    desired.userdata = out;
    SDL_AudioSpec obtained;
    SDL_memset(&obtained, 0, sizeof obtained);
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &desired, &obtained, 0);
    if (device == 0) {
        SDL_Log("failed to open audio: %s\n", SDL_GetError());
        SDL_Log("failed to init audio\n");
        return -1;
    }
    // The device opens paused, so the callback reads the obtained format only once it is stored.
    out->spec = obtained;
    out->device = device;
    SDL_PauseAudioDevice(device, 0);
    return 0;
}

void AudioOut_set_silent(AudioOut* out, bool silent) {
    if (out->device == 0 || out->silent == silent) return;
    out->silent = silent;
    SDL_PauseAudioDevice(out->device, silent ? 1 : 0);
}

void AudioOut_close(AudioOut* out) {
    if (out->device != 0) {
        SDL_CloseAudioDevice(out->device);
        out->device = 0;
    }
    out->apu.store(nullptr, std::memory_order_release);
}
