// The camera calibration model.
#include "vesk_net/camera_calibration.h"

#include <cmath>

namespace vesk {

const double camera_calib[13][6] = {
    {0, 0.00066, 7.2e-05, -0.000395, -0.000633, 0.084395},     // D[0]
    {0, -0.000744, -2.1e-05, 0.00039, 0.000667, -0.323202},    // D[1]
    {0, 2e-05, -2e-05, 8e-06, -1.4e-05, -0.001836},            // D[2]
    {0, -3e-05, -1.4e-05, 2.9e-05, 1.5e-05, -0.013702},        // D[3]
    {0, 0, 0, 0, 0, 0},                                        // D[4]
    {0, 0.879871, -0.044601, 0.061053, -0.050005, 18.890031},  // K[0] fx
    {0, -0.261178, 0.048315, 0.526279, -0.017342, 20.458386},  // K[2] cx
    {0, 0.89184, -0.046117, 0.05205, -0.059327, 28.296388},    // K[4] fy
    {0, 0.685614, 0.023575, -0.091477, -0.047883, 35.011715},  // K[5] cy
    {0, 0.995108, 0.016161, -0.185715, 0.022636, -13.212525},  // P[0]
    {0, -0.243565, 0.025187, 0.544084, -0.032701, 20.079054},  // P[2]
    {0, 0.774836, -0.044621, 0.059361, -0.099125, 53.679126},  // P[5]
    {0, 0.749088, 0.024761, -0.120634, -0.067672, 46.807648},  // P[6]
};

double vecmult(const double* a, const double* b) {
  double sum = 0.0;
  for (int i = 0; i < 6; ++i) sum += a[i] * b[i];
  return sum;
}

CameraModel camera_model(double w, double h) {
  const double f[6] = {w, h, 0.001 * w * h, std::sqrt(w * w + h * h), 1000.0 * h / w, 1.0};
  CameraModel m;
  for (int i = 0; i < 5; ++i) m.D[i] = vecmult(camera_calib[i], f);
  m.fx = vecmult(camera_calib[5], f);
  m.cx = vecmult(camera_calib[6], f);
  m.fy = vecmult(camera_calib[7], f);
  m.cy = vecmult(camera_calib[8], f);
  m.p0 = vecmult(camera_calib[9], f);
  m.p2 = vecmult(camera_calib[10], f);
  m.p5 = vecmult(camera_calib[11], f);
  m.p6 = vecmult(camera_calib[12], f);
  return m;
}

}  // namespace vesk
