// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): camera sensor (8-bit RGB images).
#ifndef GAZEBO_SENSORS_CAMERASENSOR_HH_
#define GAZEBO_SENSORS_CAMERASENSOR_HH_

#include <gazebo/rendering/RenderTypes.hh>
#include <gazebo/sensors/Sensor.hh>
#include <vector>

namespace gazebo {
namespace sensors {

class CameraSensor : public Sensor {
 public:
  CameraSensor();
  virtual ~CameraSensor();
  unsigned int ImageWidth() const { return width; }
  unsigned int ImageHeight() const { return height; }
  // Last rendered image, width x height x 3 bytes, rows top to bottom; null before the first.
  const unsigned char* ImageData() const { return image.empty() ? nullptr : image.data(); }
  // The camera that renders the images (a rendering::WideAngleCamera for a wide-angle sensor).
  rendering::CameraPtr Camera() const { return camera; }

 protected:
  rendering::CameraPtr camera;

 private:
  unsigned int width = 0;
  unsigned int height = 0;
  std::vector<unsigned char> image;
  friend class gazebo_standin::Access;
};

}  // namespace sensors
}  // namespace gazebo

#endif
