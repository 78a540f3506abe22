// Ray casting against the scene's boxes, and the range sensors built on it.
#pragma once

#include "vesk_sim/scene.h"

namespace vesk_sim {

// Distance along the unit ray (origin, dir) to the first face of `box`, or a negative
// value when the ray misses it or starts inside it.
double ray_box(const SceneBox& box, const Vec3& origin, const Vec3& dir);

// Distance to the nearest box hit within `max_range`, or a negative value when none is.
// Boxes of robot `skip_owner` are ignored (a sensor does not see its own robot).
double ray_scene(const Scene& scene, const Vec3& origin, const Vec3& dir, double max_range, int skip_owner);

// A sonar: a cone along `axis` (a unit vector in the frame of `pose`; Gazebo's sonar looks
// along -z) with the given radius at `max_range`. Casts a centre ray and two rings of
// eight rays inside the cone and returns the nearest echo [m], clamped up to `min_range`.
// Returns DBL_MAX when nothing echoes within `max_range`, as Gazebo's sonar sensor does.
double sonar_range(const Scene& scene, const Pose& pose, const Vec3& axis, double min_range, double max_range,
                   double radius, int skip_owner);

}  // namespace vesk_sim
