// RIFF/WAVE writer for mono 16-bit PCM.
#include "vesk_voice/wav.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

void put_u32(std::vector<uint8_t>* out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<uint8_t>(v >> (8 * k)));
}

void put_u16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void put_tag(std::vector<uint8_t>* out, const char* tag) { out->insert(out->end(), tag, tag + 4); }

// Largest sample count whose RIFF chunk size still fits 32 bits.
constexpr uint64_t kMaxSamples = (std::numeric_limits<uint32_t>::max() - 36u) / 2u;

}  // namespace

std::vector<uint8_t> wav_header_mono16(uint32_t samples, uint32_t rate) {
  const uint32_t data_bytes = samples * 2u;
  std::vector<uint8_t> h;
  h.reserve(kWavHeaderBytes);
  put_tag(&h, "RIFF");
  put_u32(&h, 36u + data_bytes);
  put_tag(&h, "WAVE");
  put_tag(&h, "fmt ");
  put_u32(&h, 16u);        // fmt chunk size
  put_u16(&h, 1u);         // PCM
  put_u16(&h, 1u);         // channels
  put_u32(&h, rate);       // samples per second
  put_u32(&h, rate * 2u);  // bytes per second
  put_u16(&h, 2u);         // bytes per frame
  put_u16(&h, 16u);        // bits per sample
  put_tag(&h, "data");
  put_u32(&h, data_bytes);
  return h;
}

bool wav_write_mono16(const std::string& path, const int16_t* samples, size_t count, uint32_t rate,
                      std::string* error) {
  if (count > kMaxSamples) {
    *error = "too many samples for a WAV file";
    return false;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot open \"" + path + "\" for writing: " + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> bytes = wav_header_mono16(static_cast<uint32_t>(count), rate);
  bytes.reserve(kWavHeaderBytes + 2 * count);
  for (size_t i = 0; i < count; ++i) put_u16(&bytes, static_cast<uint16_t>(samples[i]));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const int write_errno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    *error = "cannot write \"" + path + "\": " + std::strerror(written ? errno : write_errno);
    std::remove(path.c_str());
    return false;
  }
  return true;
}
