// Stand-in of ignition-math 6 (vesk_gazebo_standin): quaternion, subset.
#ifndef IGNITION_MATH_QUATERNION_HH_
#define IGNITION_MATH_QUATERNION_HH_

#include <cmath>
#include <ignition/math/Vector3.hh>

namespace ignition {
namespace math {

template <typename T>
class Quaternion {
 public:
  Quaternion() = default;
  Quaternion(const T& _w, const T& _x, const T& _y, const T& _z) : qw(_w), qx(_x), qy(_y), qz(_z) {}
  // From roll, pitch, yaw [rad] (rotation about x, then y, then z in the fixed frame).
  Quaternion(const T& _roll, const T& _pitch, const T& _yaw) { Euler(_roll, _pitch, _yaw); }

  void Euler(T _roll, T _pitch, T _yaw) {
    const T cr = std::cos(_roll / 2), sr = std::sin(_roll / 2);
    const T cp = std::cos(_pitch / 2), sp = std::sin(_pitch / 2);
    const T cy = std::cos(_yaw / 2), sy = std::sin(_yaw / 2);
    qw = cr * cp * cy + sr * sp * sy;
    qx = sr * cp * cy - cr * sp * sy;
    qy = cr * sp * cy + sr * cp * sy;
    qz = cr * cp * sy - sr * sp * cy;
  }
  T W() const { return qw; }
  T X() const { return qx; }
  T Y() const { return qy; }
  T Z() const { return qz; }
  void Set(T _w, T _x, T _y, T _z) {
    qw = _w;
    qx = _x;
    qy = _y;
    qz = _z;
  }
  // Yaw [rad] of the orientation (rotation about z).
  T Yaw() const { return std::atan2(2 * (qx * qy + qw * qz), qw * qw + qx * qx - qy * qy - qz * qz); }

 private:
  T qw = 1, qx = 0, qy = 0, qz = 0;
};

typedef Quaternion<double> Quaterniond;
typedef Quaternion<float> Quaternionf;

}  // namespace math
}  // namespace ignition

#endif
