// Stand-in of ignition-math 6 (vesk_gazebo_standin): pose, subset.
#ifndef IGNITION_MATH_POSE3_HH_
#define IGNITION_MATH_POSE3_HH_

#include <ignition/math/Quaternion.hh>
#include <ignition/math/Vector3.hh>

namespace ignition {
namespace math {

template <typename T>
class Pose3 {
 public:
  Pose3() = default;
  Pose3(const Vector3<T>& _pos, const Quaternion<T>& _rot) : p(_pos), q(_rot) {}
  Pose3(T _x, T _y, T _z, T _roll, T _pitch, T _yaw) : p(_x, _y, _z), q(_roll, _pitch, _yaw) {}
  Pose3(T _x, T _y, T _z, T _qw, T _qx, T _qy, T _qz) : p(_x, _y, _z), q(_qw, _qx, _qy, _qz) {}

  const Vector3<T>& Pos() const { return p; }
  Vector3<T>& Pos() { return p; }
  const Quaternion<T>& Rot() const { return q; }
  Quaternion<T>& Rot() { return q; }
  void Set(const Vector3<T>& _pos, const Quaternion<T>& _rot) {
    p = _pos;
    q = _rot;
  }

 private:
  Vector3<T> p;
  Quaternion<T> q;
};

typedef Pose3<int> Pose3i;
typedef Pose3<double> Pose3d;
typedef Pose3<float> Pose3f;

}  // namespace math
}  // namespace ignition

#endif
