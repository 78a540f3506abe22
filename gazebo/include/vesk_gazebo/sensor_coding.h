// Codings of the simulated robot's non-image sensors into the platform's units.
// ROS-free and Gazebo-free.
#pragma once

#include <cstdint>

namespace vesk_gazebo {

// Accelerometer counts per m/s^2 (8192 counts = 9.81 m/s^2).
constexpr double kImuCountsPerMs2 = 835.0662589194699;
// Light level per unit of mean image byte value (the single-precision 1/255).
constexpr double kLightScale = 0.003921568859368563;

// Moving average over the last three samples of each axis of one accelerometer, oldest
// first. Starts at zero, so the first two readings come out at one and two thirds.
struct ImuFilter {
  double hist[3][3] = {};  // [axis x, y, z][sample, oldest first]
};

// Pushes one acceleration sample (m/s^2; a non-finite component counts as 0) and writes the
// three filtered values in counts: mean * kImuCountsPerMs2, truncated toward zero and
// saturated to the signed 16-bit range.
void ImuFilterUpdate(ImuFilter& f, const double accel[3], int16_t counts[3]);

// Saturating conversion of a count value to signed 16 bits (NaN gives 0).
int16_t SaturateCounts(double counts);

// Cliff code of a downward range r [m]: 8 when r is 0 or not a number, otherwise 1 / r
// truncated toward zero and limited to 0..15 (larger = floor nearer).
uint8_t CliffCode(double range);

// Light level of a w x h 8-bit RGB image: mean byte value (integer division) times
// kLightScale; 0 for an empty image. The byte sum is 64-bit, so no image size overflows it.
float LightLevel(const unsigned char* rgb, unsigned width, unsigned height);

}  // namespace vesk_gazebo
