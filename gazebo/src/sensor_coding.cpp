// Codings of the simulated robot's non-image sensors.
#include "vesk_gazebo/sensor_coding.h"

#include <cmath>
#include <cstddef>

namespace vesk_gazebo {

int16_t SaturateCounts(double counts) {
  if (std::isnan(counts)) return 0;
  if (counts >= 32767.0) return 32767;
  if (counts <= -32768.0) return -32768;
  return static_cast<int16_t>(static_cast<int>(counts));  // truncates toward zero
}

void ImuFilterUpdate(ImuFilter& f, const double accel[3], int16_t counts[3]) {
  for (int a = 0; a < 3; ++a) {
    double* h = f.hist[a];
    h[0] = h[1];
    h[1] = h[2];
    h[2] = std::isfinite(accel[a]) ? accel[a] : 0.0;
    const double mean = (h[0] + h[1] + h[2]) * 0.3333333333333333;
    counts[a] = SaturateCounts(mean * kImuCountsPerMs2);
  }
}

uint8_t CliffCode(double range) {
  if (range == 0.0 || std::isnan(range)) return 8;
  const double inv = 1.0 / range;  // clamp before converting: 1/r can exceed any integer
  if (!(inv > 0.0)) return 0;
  if (inv >= 15.0) return 15;
  return static_cast<uint8_t>(static_cast<int>(inv));
}

float LightLevel(const unsigned char* rgb, unsigned width, unsigned height) {
  const uint64_t n = static_cast<uint64_t>(width) * height * 3;
  if (n < 1 || rgb == nullptr) return 0.0f;
  uint64_t sum = 0;
  for (uint64_t i = 0; i < n; ++i) sum += rgb[i];
  return static_cast<float>(static_cast<double>(sum / n) * kLightScale);
}

}  // namespace vesk_gazebo
