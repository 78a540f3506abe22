// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): the camera of a camera sensor, as
// far as its projection goes. The host sets what it draws (gazebo_standin::SetCameraLens).
#ifndef GAZEBO_RENDERING_CAMERA_HH_
#define GAZEBO_RENDERING_CAMERA_HH_

#include <gazebo/rendering/RenderTypes.hh>
#include <ignition/math/Angle.hh>

namespace gazebo_standin {
class Access;
}

namespace gazebo {
namespace rendering {

class Camera {
 public:
  Camera() = default;
  virtual ~Camera() = default;
  // Horizontal field of view of the rendered image (Gazebo's default 1.047 rad).
  ignition::math::Angle HFOV() const { return hfov; }

 private:
  ignition::math::Angle hfov{1.047};
  friend class gazebo_standin::Access;
};

}  // namespace rendering
}  // namespace gazebo

#endif
