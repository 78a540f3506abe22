// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): rendering pointer types.
#ifndef GAZEBO_RENDERING_RENDERTYPES_HH_
#define GAZEBO_RENDERING_RENDERTYPES_HH_

#include <memory>

namespace gazebo {
namespace rendering {

class Camera;
class WideAngleCamera;
class CameraLens;

typedef std::shared_ptr<Camera> CameraPtr;
typedef std::shared_ptr<WideAngleCamera> WideAngleCameraPtr;

}  // namespace rendering
}  // namespace gazebo

#endif
