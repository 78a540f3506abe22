// The camera calibration model: the parameters of an eye camera for an image size.
#pragma once

namespace vesk {

// Each row gives one camera parameter as a dot product with the feature vector
// (w, h, 0.001 w h, sqrt(w^2 + h^2), 1000 h / w, 1) of an image size.
extern const double camera_calib[13][6];

// Six-element dot product.
double vecmult(const double* a, const double* b);

struct CameraModel {
  double D[5];            // plumb-bob distortion
  double fx, cx, fy, cy;  // K[0], K[2], K[4], K[5]
  double p0, p2, p5, p6;  // P[0], P[2], P[5], P[6]
};

// The calibration model for an image of width w and height h (w > 0).
CameraModel camera_model(double w, double h);

}  // namespace vesk
