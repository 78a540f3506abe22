// Tests of the simulated cameras' projection: a point seen by the rendered camera lands, in
// the published frame, where the camera model of that frame projects it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "vesk_gazebo/camera_model.h"
#include "vesk_gazebo/image_resize.h"

namespace {

using vesk_gazebo::FrameCameraModel;
using vesk_gazebo::RenderedCameraModel;

// Pixel coordinates of the direction (x right, y down, z forward) through `m`.
void Project(const VESK_CAMERA_MODEL& m, double x, double y, double z, double* u, double* v) {
  double a = x / z, b = y / z;
  if (m.lens == CAMERA_LENS_EQUIDISTANT) {
    const double r = std::hypot(a, b);
    const double s = r > 0.0 ? std::atan(r) / r : 1.0;
    a *= s;
    b *= s;
  }
  *u = m.cx + m.fx * a;
  *v = m.cy + m.fy * b;
}

TEST(CameraModel, RenderedModelSpansTheFieldOfView) {
  const double hfov = 1.2;
  const VESK_CAMERA_MODEL p = RenderedCameraModel(CAMERA_LENS_PINHOLE, hfov, 640, 360);
  double u, v;
  // The edge of the field of view falls on the image's left edge (pixel -0.5).
  Project(p, -std::tan(0.5 * hfov), 0.0, 1.0, &u, &v);
  EXPECT_NEAR(-0.5, u, 1e-9);
  EXPECT_NEAR(179.5, v, 1e-9);
  const VESK_CAMERA_MODEL e = RenderedCameraModel(CAMERA_LENS_EQUIDISTANT, 2.2, 640, 360);
  Project(e, std::sin(1.1), 0.0, std::cos(1.1), &u, &v);
  EXPECT_NEAR(639.5, u, 1e-9);
  EXPECT_NEAR(640.0 / 2.2, e.fx, 1e-9);
}

// One bright block where the rendered camera sees a direction, taken through the eye
// stream's resize, crop and trim: it is published where the frame's model projects it.
TEST(CameraModel, FrameModelFollowsTheResizeCropAndTrim) {
  struct Case {
    CameraLensModel lens;
    int w, h, W0, H0;
  };
  const Case cases[] = {{CAMERA_LENS_PINHOLE, 1280, 720, 640, 360},
                        {CAMERA_LENS_PINHOLE, 640, 360, 480, 360},
                        {CAMERA_LENS_EQUIDISTANT, 640, 360, 320, 180},
                        {CAMERA_LENS_PINHOLE, 1280, 720, 320, 180}};
  std::vector<unsigned char> resize_buf(vesk_gazebo::kFrameBufferBytes),
      crop_buf(vesk_gazebo::kFrameBufferBytes);
  for (const Case& c : cases) {
    const VESK_CAMERA_MODEL rendered = RenderedCameraModel(c.lens, 1.6, c.w, c.h);
    const int factor = c.h / c.H0;
    // A direction that the rendered camera sees at the centre of the factor x factor block
    // starting at pixel (bx, by).
    const int bx = factor * 97, by = factor * 41;
    const double uc = bx + 0.5 * (factor - 1), vc = by + 0.5 * (factor - 1);
    double a = (uc - rendered.cx) / rendered.fx, b = (vc - rendered.cy) / rendered.fy;
    if (c.lens == CAMERA_LENS_EQUIDISTANT) {
      const double theta = std::hypot(a, b);
      a *= std::tan(theta) / theta;
      b *= std::tan(theta) / theta;
    }
    std::vector<unsigned char> img(static_cast<size_t>(c.w) * c.h * 3, 0);
    for (int y = by; y < by + factor; ++y)
      for (int x = bx; x < bx + factor; ++x) img[(static_cast<size_t>(y) * c.w + x) * 3] = 255;
    vesk_gazebo::FrameImage f{img.data(), c.w, c.h};
    f = vesk_gazebo::FitEyeFrame(f, 0, c.W0, c.H0, resize_buf.data(), crop_buf.data(),
                                 vesk_gazebo::kFrameBufferBytes, nullptr);
    const int h_fitted = f.height;
    f = vesk_gazebo::TrimFrame(f);
    int found_u = -1, found_v = -1;
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x)
        if (f.data[(static_cast<size_t>(y) * f.width + x) * 3] == 255) found_u = x, found_v = y;
    ASSERT_GE(found_u, 0) << c.w << " x " << c.h << " to " << c.W0 << " x " << c.H0;
    const VESK_CAMERA_MODEL m = FrameCameraModel(rendered, c.w, c.h, h_fitted, f.width, f.height);
    double u, v;
    Project(m, a, b, 1.0, &u, &v);
    EXPECT_NEAR(found_u, u, 1e-6) << c.w << " x " << c.h << " to " << c.W0 << " x " << c.H0;
    EXPECT_NEAR(found_v, v, 1e-6) << c.w << " x " << c.h << " to " << c.W0 << " x " << c.H0;
    EXPECT_NEAR(rendered.fx / factor, m.fx, 1e-9);
  }
}

}  // namespace
