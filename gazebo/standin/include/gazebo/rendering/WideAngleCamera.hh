// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): the lens of a wide-angle camera, as
// far as its projection goes. Lens types are Gazebo's: "gnomonical" (rectilinear),
// "equidistant", "stereographic", "equisolid_angle", "orthographic", "custom".
#ifndef GAZEBO_RENDERING_WIDEANGLECAMERA_HH_
#define GAZEBO_RENDERING_WIDEANGLECAMERA_HH_

#include <gazebo/rendering/Camera.hh>
#include <string>

namespace gazebo {
namespace rendering {

class CameraLens {
 public:
  std::string Type() const { return type; }
  // True when the lens is scaled so that the horizontal field of view spans the image width.
  bool ScaleToHFOV() const { return scale_to_hfov; }

 private:
  std::string type = "gnomonical";
  bool scale_to_hfov = true;
  friend class gazebo_standin::Access;
};

class WideAngleCamera : public Camera {
 public:
  const CameraLens* Lens() const { return &lens; }

 private:
  CameraLens lens;
  friend class gazebo_standin::Access;
};

}  // namespace rendering
}  // namespace gazebo

#endif
