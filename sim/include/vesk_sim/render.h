// A small software renderer: draws the scene's boxes, flat shaded by one directional
// light, into an 8-bit RGB image as a pinhole camera at a given pose would see them.
// Camera convention (Gazebo's): the camera looks along +x of its pose, +y is the image's
// left and +z its top. Images are rows top to bottom, interleaved RGB.
#pragma once

#include <cstdint>
#include <vector>

#include "vesk_sim/scene.h"

namespace vesk_sim {

struct CameraSpec {
  Pose pose;          // world pose of the camera
  double hfov = 1.2;  // horizontal field of view [rad], 0 < hfov < pi
  int width = 0, height = 0;
  double near_clip = 0.01;  // [m]
  double far_clip = 30.0;   // [m]
};

class Renderer {
 public:
  // Renders `scene` into `rgb` (width * height * 3 bytes). Boxes that contain the camera
  // position are skipped: a camera inside a link's shell sees out of it. Reuses its
  // depth buffer between calls; allocates only when the image grows.
  void render(const Scene& scene, const CameraSpec& camera, uint8_t* rgb);

 private:
  std::vector<float> depth_;  // 1 / distance along the optical axis; 0 = nothing drawn
};

}  // namespace vesk_sim
