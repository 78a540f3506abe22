// Ray casting and range sensors against boxes.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "vesk_sim/raycast.h"

namespace vesk_sim {
namespace {

SceneBox make_box(const Pose& pose, const Vec3& half, int owner = kOwnerWorld) {
  SceneBox b;
  b.pose = pose;
  b.half = half;
  b.owner = owner;
  return b;
}

Scene floor_and_wall() {
  Scene s;
  s.boxes.push_back(make_box(Pose(Vec3(0, 0, -0.005), Quat()), Vec3(5, 5, 0.005)));    // floor, top z=0
  s.boxes.push_back(make_box(Pose(Vec3(2.0, 0, 0.25), Quat()), Vec3(0.05, 2, 0.25)));  // wall, face x=1.95
  return s;
}

TEST(RayBox, HitsTheNearFaceOfARotatedBox) {
  // A unit cube turned by 45 degrees about z: its corner faces the ray.
  const SceneBox b = make_box(Pose::from_xyzrpy(3, 0, 0, 0, 0, M_PI / 4), Vec3(0.5, 0.5, 0.5));
  EXPECT_NEAR(ray_box(b, Vec3(0, 0, 0), Vec3(1, 0, 0)), 3 - std::sqrt(0.5), 1e-9);
  EXPECT_LT(ray_box(b, Vec3(0, 0, 0), Vec3(-1, 0, 0)), 0.0);  // behind
  EXPECT_LT(ray_box(b, Vec3(0, 0, 2), Vec3(1, 0, 0)), 0.0);   // passes above
  EXPECT_LT(ray_box(b, Vec3(3, 0, 0), Vec3(1, 0, 0)), 0.0);   // starts inside
}

TEST(RayScene, NearestHitWithinRangeAndOwnRobotIgnored) {
  Scene s = floor_and_wall();
  EXPECT_NEAR(ray_scene(s, Vec3(0, 0, 0.1), Vec3(1, 0, 0), 5.0, 0), 1.95, 1e-9);
  EXPECT_LT(ray_scene(s, Vec3(0, 0, 0.1), Vec3(1, 0, 0), 1.0, 0), 0.0);  // out of range
  // A link of robot 0 right in front: seen by robot 1, not by robot 0 itself.
  s.boxes.push_back(make_box(Pose(Vec3(0.5, 0, 0.1), Quat()), Vec3(0.05, 0.05, 0.05), 0));
  EXPECT_NEAR(ray_scene(s, Vec3(0, 0, 0.1), Vec3(1, 0, 0), 5.0, 0), 1.95, 1e-9);
  EXPECT_NEAR(ray_scene(s, Vec3(0, 0, 0.1), Vec3(1, 0, 0), 5.0, 1), 0.45, 1e-9);
}

TEST(Sonar, ConeSeesTheNearestSurfaceAndReportsNoEchoAsDblMax) {
  const Scene s = floor_and_wall();
  const Vec3 down(0, 0, -1);  // measuring axis in the sensor frame, as Gazebo's sonar
  // Looking at the wall 1 m away, level, 0.3 m above the floor (the sensor's -z turned to
  // +x): the cone (half angle atan(0.3 / 2)) does not reach the floor before the wall.
  const Pose level = Pose::from_xyzrpy(0.95, 0, 0.3, 0, -M_PI / 2, 0);
  EXPECT_NEAR(sonar_range(s, level, down, 0.03, 2.0, 0.3, -2), 1.0, 0.02);
  // Looking away from everything.
  const Pose away = Pose::from_xyzrpy(0, 0, 0.3, 0, M_PI, 0);  // -z straight up
  EXPECT_EQ(sonar_range(s, away, down, 0.03, 2.0, 0.3, -2), DBL_MAX);
  // Closer than the minimum range reads the minimum.
  const Pose touching(Vec3(0, 0, 0.001), Quat());
  EXPECT_NEAR(sonar_range(s, touching, down, 0.005, 0.2, 0.01, -2), 0.005, 1e-12);
}

TEST(Sonar, MeasuresAlongTheSensorFramesMinusZ) {
  // A cliff sensor 3 cm above the floor, its frame level: it sees the floor below, not the
  // wall ahead along its x axis.
  const Scene s = floor_and_wall();
  const Pose level(Vec3(1.9, 0, 0.03), Quat());
  EXPECT_NEAR(sonar_range(s, level, Vec3(0, 0, -1), 0.005, 0.2, 0.01, -2), 0.03, 1e-6);
  // Any other axis works the same way.
  EXPECT_NEAR(sonar_range(s, level, Vec3(1, 0, 0), 0.005, 0.2, 0.01, -2), 0.05, 1e-6);
}

TEST(Support, HighestTopBelowTheLimit) {
  Scene s = floor_and_wall();
  s.boxes.push_back(make_box(Pose(Vec3(-1, -1, 0.2), Quat()), Vec3(0.5, 0.5, 0.2)));  // table
  EXPECT_NEAR(support_height(s, -1, -1, 1.0, -2), 0.4, 1e-12);
  EXPECT_NEAR(support_height(s, -1, -1, 0.3, -2), 0.0, 1e-12);
  EXPECT_NEAR(support_height(s, 0.2, 0.2, 1.0, -2), 0.0, 1e-12);
  EXPECT_TRUE(std::isinf(support_height(s, 9, 9, 1.0, -2)));  // off the floor
}

TEST(BoxContains, BoundaryAndRotation) {
  const SceneBox b = make_box(Pose::from_xyzrpy(0, 0, 0, 0, 0, M_PI / 4), Vec3(1, 0.1, 1));
  EXPECT_TRUE(box_contains(b, Vec3(0.5, 0.5, 0)));  // along the box's own x axis
  EXPECT_FALSE(box_contains(b, Vec3(0.5, -0.5, 0)));
}

}  // namespace
}  // namespace vesk_sim
