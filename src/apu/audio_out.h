// The host audio stream: the default output device at 48000 Hz, one channel
// of 32-bit floats, 1024-sample buffers, pulled by a callback on the host's
// audio thread that renders straight from the APU registers.
#pragma once

#include <SDL.h>

#include <atomic>

struct APU;

struct AudioOut {
    // Read by the audio thread: it renders silence while this is null.
    std::atomic<APU*> apu;
    SDL_AudioSpec spec;
    SDL_AudioDeviceID device;
    bool silent;
};

int AudioOut_open(AudioOut* out);
void AudioOut_close(AudioOut* out);
// Pauses the stream (the device plays silence) while the machine is paused,
// rewinding or hurrying, and resumes it after; the synthesiser picks up from
// the registers as they are then.
void AudioOut_set_silent(AudioOut* out, bool silent);
void AudioOut_callback(void* userdata, Uint8* stream, int len);
