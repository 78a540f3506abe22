// Stand-in of ignition-math 6 (vesk_gazebo_standin): angle, subset.
#ifndef IGNITION_MATH_ANGLE_HH_
#define IGNITION_MATH_ANGLE_HH_

namespace ignition {
namespace math {

class Angle {
 public:
  Angle() = default;
  Angle(const double _radian) : value(_radian) {}  // NOLINT: implicit, as in ignition-math
  double Radian() const { return value; }
  void Radian(const double _radian) { value = _radian; }

 private:
  double value = 0.0;  // [rad]
};

}  // namespace math
}  // namespace ignition

#endif
