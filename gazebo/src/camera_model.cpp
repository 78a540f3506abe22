#include "vesk_gazebo/camera_model.h"

#include <cmath>

namespace vesk_gazebo {

bool LensOfType(const std::string& gazebo_lens_type, bool scale_to_hfov, CameraLensModel* lens) {
  if (!scale_to_hfov) return false;
  if (gazebo_lens_type == "gnomonical") {
    *lens = CAMERA_LENS_PINHOLE;
    return true;
  }
  if (gazebo_lens_type == "equidistant") {
    *lens = CAMERA_LENS_EQUIDISTANT;
    return true;
  }
  return false;
}

VESK_CAMERA_MODEL RenderedCameraModel(CameraLensModel lens, double hfov, int w, int h) {
  VESK_CAMERA_MODEL m;
  m.lens = lens;
  const double half_width = 0.5 * w;  // [pixels]
  m.fx = lens == CAMERA_LENS_EQUIDISTANT ? half_width / (0.5 * hfov) : half_width / std::tan(0.5 * hfov);
  m.fy = m.fx;
  // Pixel centres at whole coordinates: the centre of the image lies half a pixel before w / 2.
  m.cx = 0.5 * w - 0.5;
  m.cy = 0.5 * h - 0.5;
  return m;
}

VESK_CAMERA_MODEL FrameCameraModel(const VESK_CAMERA_MODEL& rendered, int w, int h, int h_fitted, int w_frame,
                                   int h_frame) {
  if (h_fitted <= 0 || h % h_fitted != 0 || w_frame <= 0 || h_frame <= 0) return rendered;
  const int factor = h / h_fitted;
  if (w % factor != 0) return rendered;
  const int crop_x = (w / factor - w_frame) / 2;
  const int trim_y = (h_fitted - h_frame) / 2;
  VESK_CAMERA_MODEL m = rendered;
  // A block of factor x factor source pixels becomes one pixel: source centre coordinate
  // x_s = factor x + (factor - 1) / 2.
  m.fx = rendered.fx / factor;
  m.fy = rendered.fy / factor;
  m.cx = (rendered.cx - 0.5 * (factor - 1)) / factor - crop_x;
  m.cy = (rendered.cy - 0.5 * (factor - 1)) / factor - trim_y;
  return m;
}

}  // namespace vesk_gazebo
