// Stand-in of ignition-math 6 (vesk_gazebo_standin): 3-vector, subset.
#ifndef IGNITION_MATH_VECTOR3_HH_
#define IGNITION_MATH_VECTOR3_HH_

namespace ignition {
namespace math {

template <typename T>
class Vector3 {
 public:
  Vector3() = default;
  Vector3(const T& _x, const T& _y, const T& _z) : data{_x, _y, _z} {}

  T X() const { return data[0]; }
  T Y() const { return data[1]; }
  T Z() const { return data[2]; }
  T& X() { return data[0]; }
  T& Y() { return data[1]; }
  T& Z() { return data[2]; }
  void X(const T& _v) { data[0] = _v; }
  void Y(const T& _v) { data[1] = _v; }
  void Z(const T& _v) { data[2] = _v; }
  void Set(T _x = 0, T _y = 0, T _z = 0) {
    data[0] = _x;
    data[1] = _y;
    data[2] = _z;
  }
  T operator[](const unsigned int _index) const { return data[_index < 2 ? _index : 2]; }
  bool operator==(const Vector3& _v) const {
    return data[0] == _v.data[0] && data[1] == _v.data[1] && data[2] == _v.data[2];
  }
  Vector3 operator+(const Vector3& _v) const {
    return Vector3(data[0] + _v.data[0], data[1] + _v.data[1], data[2] + _v.data[2]);
  }
  Vector3 operator-(const Vector3& _v) const {
    return Vector3(data[0] - _v.data[0], data[1] - _v.data[1], data[2] - _v.data[2]);
  }
  Vector3 operator*(T _s) const { return Vector3(data[0] * _s, data[1] * _s, data[2] * _s); }

 private:
  T data[3] = {0, 0, 0};
};

typedef Vector3<int> Vector3i;
typedef Vector3<double> Vector3d;
typedef Vector3<float> Vector3f;

}  // namespace math
}  // namespace ignition

#endif
