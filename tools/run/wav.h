// WAV files of the machine's sound, one channel, in the two sample formats
// players and sound tools read: 32-bit float (the synthesiser's own samples)
// and 16-bit integer PCM.
//
// A float file carries what non-PCM data needs: the 18-byte format chunk
// with its extension size (0) and a fact chunk with the number of sample
// frames. Without them sox warns and strict readers refuse the file.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

enum class WavFormat : uint8_t { Float32, Int16 };

// The whole file. Returns false when the samples do not fit in a WAV file's
// 32-bit sizes (about 4 GiB of data).
bool Wav_encode(std::span<const float> samples, int rate, WavFormat format, std::vector<uint8_t>* file);
