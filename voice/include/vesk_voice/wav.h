// A small writer of standard RIFF/WAVE files: 16-bit PCM, one channel.
#ifndef VESK_VOICE_WAV_H
#define VESK_VOICE_WAV_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kWavHeaderBytes = 44;

// The 44-byte header of a mono 16-bit PCM file of `samples` samples at
// `rate` samples per second. Every field is little-endian.
std::vector<uint8_t> wav_header_mono16(uint32_t samples, uint32_t rate);

// Writes the file; on failure returns false with the reason in *error and
// leaves no partial file behind.
bool wav_write_mono16(const std::string& path, const int16_t* samples, size_t count, uint32_t rate,
                      std::string* error);

#endif  // VESK_VOICE_WAV_H
