#include "vesk_sim/scene.h"

#include <cmath>
#include <limits>

namespace vesk_sim {

bool box_contains(const SceneBox& box, const Vec3& p) {
  const Vec3 local = box.pose.rot.rotate_reverse(p - box.pose.pos);
  return std::fabs(local.x) <= box.half.x && std::fabs(local.y) <= box.half.y &&
         std::fabs(local.z) <= box.half.z;
}

double support_height(const Scene& scene, double x, double y, double z_max, int skip_owner) {
  double best = -std::numeric_limits<double>::infinity();
  for (const SceneBox& box : scene.boxes) {
    if (!box.solid || (box.owner != kOwnerWorld && box.owner == skip_owner)) continue;
    // Top of a box whose z axis is vertical (the world's floors, tables and obstacles).
    const Vec3 local = box.pose.rot.rotate_reverse(Vec3(x, y, box.pose.pos.z) - box.pose.pos);
    if (std::fabs(local.x) > box.half.x || std::fabs(local.y) > box.half.y) continue;
    const double top = box.pose.pos.z + box.pose.rot.rotate(Vec3(0, 0, 1)).z * box.half.z;
    if (top <= z_max && top > best) best = top;
  }
  return best;
}

}  // namespace vesk_sim
