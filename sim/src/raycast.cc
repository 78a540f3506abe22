#include "vesk_sim/raycast.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vesk_sim {

double ray_box(const SceneBox& box, const Vec3& origin, const Vec3& dir) {
  // Slab test in the box's own frame.
  const Vec3 o = box.pose.rot.rotate_reverse(origin - box.pose.pos);
  const Vec3 d = box.pose.rot.rotate_reverse(dir);
  double t_near = -std::numeric_limits<double>::infinity();
  double t_far = std::numeric_limits<double>::infinity();
  for (int i = 0; i < 3; ++i) {
    const double h = box.half[i];
    if (std::fabs(d[i]) < 1e-12) {
      if (o[i] < -h || o[i] > h) return -1.0;
      continue;
    }
    double t1 = (-h - o[i]) / d[i];
    double t2 = (h - o[i]) / d[i];
    if (t1 > t2) std::swap(t1, t2);
    t_near = std::max(t_near, t1);
    t_far = std::min(t_far, t2);
    if (t_near > t_far) return -1.0;
  }
  if (t_near < 0.0) return -1.0;  // starts inside (or behind)
  return t_near;
}

double ray_scene(const Scene& scene, const Vec3& origin, const Vec3& dir, double max_range, int skip_owner) {
  double best = -1.0;
  for (const SceneBox& box : scene.boxes) {
    if (box.owner != kOwnerWorld && box.owner == skip_owner) continue;
    const double t = ray_box(box, origin, dir);
    if (t >= 0.0 && t <= max_range && (best < 0.0 || t < best)) best = t;
  }
  return best;
}

double sonar_range(const Scene& scene, const Pose& pose, const Vec3& axis, double min_range, double max_range,
                   double radius, int skip_owner) {
  // Only the boxes whose bounding sphere reaches within max_range of the sensor can echo:
  // the rays are cast against those alone (the same ranges, for far fewer tests).
  thread_local Scene near;
  near.boxes.clear();
  for (const SceneBox& box : scene.boxes) {
    if (box.owner != kOwnerWorld && box.owner == skip_owner) continue;
    if ((box.pose.pos - pose.pos).norm() - box.half.norm() > max_range) continue;
    near.boxes.push_back(box);
  }
  const double half_angle = std::atan2(radius, max_range);
  // Two unit vectors across the axis.
  const Vec3 a = axis.normalized();
  const Vec3 helper = std::fabs(a.x) < 0.9 ? Vec3(1, 0, 0) : Vec3(0, 1, 0);
  const Vec3 u = a.cross(helper).normalized();
  const Vec3 v = a.cross(u);
  double best = -1.0;
  auto cast = [&](double elevation, double azimuth) {
    // Direction in the sensor frame: tilted off the axis by `elevation`, around it by
    // `azimuth`.
    const Vec3 local =
        a * std::cos(elevation) + (u * std::cos(azimuth) + v * std::sin(azimuth)) * std::sin(elevation);
    const double t = ray_scene(near, pose.pos, pose.rot.rotate(local), max_range, skip_owner);
    if (t >= 0.0 && (best < 0.0 || t < best)) best = t;
  };
  cast(0.0, 0.0);
  for (int ring = 1; ring <= 2; ++ring) {
    for (int k = 0; k < 8; ++k) cast(half_angle * ring / 2.0, k * M_PI / 4.0);
  }
  if (best < 0.0) return std::numeric_limits<double>::max();
  return std::max(best, min_range);
}

}  // namespace vesk_sim
