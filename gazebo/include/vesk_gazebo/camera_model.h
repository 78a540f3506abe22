// The projection of a simulated camera's frames (ROS-free): from the lens and field of view
// a camera renders with, through the eye streams' resize, central crop and row trim, to the
// pixels of the published frame.
#pragma once

#include <vesk_net/records.h>

#include <string>

namespace vesk_gazebo {

// The lens of a camera that renders through a Gazebo lens type ("gnomonical" is the
// rectilinear pinhole, "equidistant" the fisheye of radius f angle); false for lens types
// that have no camera info model here, or that are not scaled to the field of view (their
// focal length is not given by it).
bool LensOfType(const std::string& gazebo_lens_type, bool scale_to_hfov, CameraLensModel* lens);

// A camera rendering w x h pixels whose horizontal field of view `hfov` [rad] spans the
// image width through `lens`: square pixels, principal point at the image centre.
//   pinhole:     fx = (w / 2) / tan(hfov / 2)
//   equidistant: fx = (w / 2) / (hfov / 2)
VESK_CAMERA_MODEL RenderedCameraModel(CameraLensModel lens, double hfov, int w, int h);

// The rendered camera's model for the frame the stream made from a rendered w x h image:
// downscaled by the integer factor h / h_fitted (blocks of factor x factor pixels), then the
// central w_frame columns (from column (w / factor - w_frame) / 2), then (h_fitted - h_frame)
// / 2 rows off the top (the 180-row trim). Sizes that do not come from that road give the
// rendered model unchanged.
VESK_CAMERA_MODEL FrameCameraModel(const VESK_CAMERA_MODEL& rendered, int w, int h, int h_fitted, int w_frame,
                                   int h_frame);

}  // namespace vesk_gazebo
