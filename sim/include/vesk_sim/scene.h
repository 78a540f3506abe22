// The simulated world as the sensors see it: oriented, flat-coloured boxes (floor,
// walls, obstacles and the robots' own links), a sky colour and one directional light.
// ROS-free; shared by the ray caster, the software renderer and the support test.
#pragma once

#include <cstdint>
#include <vector>

#include "vesk_sim/math3.h"

namespace vesk_sim {

struct Rgb {
  float r = 0, g = 0, b = 0;  // 0 ... 1
};

constexpr int kOwnerWorld = -1;  // box belongs to the static world, not to a robot

// An oriented box: `pose` is the world pose of its centre, `half` its half extents
// along its own axes [m].
struct SceneBox {
  Pose pose;
  Vec3 half;
  Rgb colour;
  int owner = kOwnerWorld;  // robot index for robot links
  bool solid = true;        // takes part in collisions and support (false: visual only)
};

struct Scene {
  std::vector<SceneBox> boxes;
  Rgb sky{0.70f, 0.80f, 0.95f};
  Vec3 sun_dir{-0.4, 0.3, -0.85};  // direction the light travels (normalised on use)
  float ambient = 0.45f;           // share of the colour lit without the sun
  float diffuse = 0.6f;            // share added by a face turned fully to the sun
};

// True when the world point `p` lies inside the box (boundary included).
bool box_contains(const SceneBox& box, const Vec3& p);

// Height of the highest solid surface of `scene` under the point (x, y) whose top lies
// at or below `z_max` [m]; -infinity when there is nothing below. Boxes of robot
// `skip_owner` are ignored.
double support_height(const Scene& scene, double x, double y, double z_max, int skip_owner);

}  // namespace vesk_sim
