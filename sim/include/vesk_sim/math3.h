// Small 3-D maths for the simulator core: vectors, unit quaternions and rigid poses.
// Kept separate from any maths library so that the core builds beside either the real
// ignition-math or the Gazebo API stand-in's subset of it.
#pragma once

#include <cmath>

namespace vesk_sim {

struct Vec3 {
  double x = 0, y = 0, z = 0;
  Vec3() = default;
  Vec3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
  Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
  Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
  Vec3 operator-() const { return {-x, -y, -z}; }
  Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
  Vec3& operator+=(const Vec3& o) {
    x += o.x;
    y += o.y;
    z += o.z;
    return *this;
  }
  double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
  double dot(const Vec3& o) const { return x * o.x + y * o.y + z * o.z; }
  Vec3 cross(const Vec3& o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
  double norm() const { return std::sqrt(dot(*this)); }
  Vec3 normalized() const {
    const double n = norm();
    return n > 0 ? *this * (1.0 / n) : Vec3();
  }
};

// Unit quaternion (w, x, y, z).
struct Quat {
  double w = 1, x = 0, y = 0, z = 0;
  Quat() = default;
  Quat(double w_, double x_, double y_, double z_) : w(w_), x(x_), y(y_), z(z_) {}
  // Fixed-axis roll (x), pitch (y), yaw (z), applied in that order, as SDF poses use.
  static Quat from_rpy(double roll, double pitch, double yaw) {
    const double cr = std::cos(roll / 2), sr = std::sin(roll / 2);
    const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
    const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
    return {cr * cp * cy + sr * sp * sy, sr * cp * cy - cr * sp * sy, cr * sp * cy + sr * cp * sy,
            cr * cp * sy - sr * sp * cy};
  }
  // Rotation by `angle` [rad] about the unit vector `axis`.
  static Quat from_axis_angle(const Vec3& axis, double angle) {
    const double s = std::sin(angle / 2);
    return {std::cos(angle / 2), axis.x * s, axis.y * s, axis.z * s};
  }
  Quat operator*(const Quat& o) const {
    return {w * o.w - x * o.x - y * o.y - z * o.z, w * o.x + x * o.w + y * o.z - z * o.y,
            w * o.y - x * o.z + y * o.w + z * o.x, w * o.z + x * o.y - y * o.x + z * o.w};
  }
  Quat conjugate() const { return {w, -x, -y, -z}; }
  Vec3 rotate(const Vec3& v) const {
    const Vec3 u(x, y, z);
    const Vec3 t = u.cross(v) * 2.0;
    return v + t * w + u.cross(t);
  }
  Vec3 rotate_reverse(const Vec3& v) const { return conjugate().rotate(v); }
  double yaw() const { return std::atan2(2 * (w * z + x * y), 1 - 2 * (y * y + z * z)); }
};

// Rigid transform: a point p of the child frame is at pos + rot.rotate(p) in the parent.
struct Pose {
  Vec3 pos;
  Quat rot;
  Pose() = default;
  Pose(const Vec3& p, const Quat& q) : pos(p), rot(q) {}
  static Pose from_xyzrpy(double x, double y, double z, double r, double p, double yaw) {
    return {Vec3(x, y, z), Quat::from_rpy(r, p, yaw)};
  }
  // (*this) then `child`: the pose of a frame given relative to this one.
  Pose operator*(const Pose& child) const { return {pos + rot.rotate(child.pos), rot * child.rot}; }
  Pose inverse() const {
    const Quat inv = rot.conjugate();
    return {inv.rotate(-pos), inv};
  }
  Vec3 transform(const Vec3& p) const { return pos + rot.rotate(p); }
  Vec3 transform_reverse(const Vec3& p) const { return rot.rotate_reverse(p - pos); }
};

}  // namespace vesk_sim
