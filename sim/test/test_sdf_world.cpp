// The simulator's reading of the model and world: link tree, joint axes, forward
// kinematics against the robot's published frame tree, and the world's scene boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "vesk_sim/sdf_world.h"

namespace vesk_sim {
namespace {

const std::string kModel = std::string(VESK_SIM_SOURCE_DIR) + "/models/vesk/model.sdf";
const std::string kWorld = std::string(VESK_SIM_SOURCE_DIR) + "/worlds/vesk_arena.world";
constexpr double kTilt = -0.10471976;  // fixed body tilt [rad]

int link_index(const RobotDesc& r, const std::string& name) {
  for (size_t i = 0; i < r.links.size(); ++i) {
    if (r.links[i].name == name) return static_cast<int>(i);
  }
  return -1;
}
int joint_index(const RobotDesc& r, const std::string& name) {
  for (size_t i = 0; i < r.joints.size(); ++i) {
    if (r.joints[i].name == name) return static_cast<int>(i);
  }
  return -1;
}
const SensorDesc* sensor(const RobotDesc& r, const std::string& name) {
  for (const SensorDesc& s : r.sensors) {
    if (s.name == name) return &s;
  }
  return nullptr;
}
void expect_pose_near(const Pose& a, const Pose& b, double tol, const char* what = "") {
  EXPECT_NEAR(a.pos.x, b.pos.x, tol) << what;
  EXPECT_NEAR(a.pos.y, b.pos.y, tol) << what;
  EXPECT_NEAR(a.pos.z, b.pos.z, tol) << what;
  // Same rotation: the product with the inverse is the identity (up to sign).
  const Quat d = a.rot * b.rot.conjugate();
  EXPECT_NEAR(std::fabs(d.w), 1.0, tol) << what;
}

TEST(RobotDescription, TreeRootAxesAndRenaming) {
  const RobotDesc r = load_robot(kModel, "rover");
  EXPECT_EQ(r.name, "rover");
  ASSERT_GE(r.root, 0);
  EXPECT_EQ(r.links[r.root].name, "vesk_body::body");
  EXPECT_FALSE(r.fixed_to_world);
  EXPECT_EQ(r.joints.size(), 12u);
  const int lh = joint_index(r, "vesk_body::body_wheel_lh");
  ASSERT_GE(lh, 0);
  EXPECT_NEAR(r.joints[lh].axis0.y, 1.0, 1e-9);
  EXPECT_NEAR(r.joints[lh].anchor0.y, 0.082, 1e-9);
  EXPECT_NEAR(r.joints[lh].anchor0.z, 0.045, 1e-9);
  // The tail joint's parent lies outside its nested model and is found by scope search.
  const int tail = joint_index(r, "vesk_tail::body_tail_gmbl");
  ASSERT_GE(tail, 0);
  EXPECT_EQ(r.joints[tail].parent, r.root);
  // Parents come before children.
  for (size_t i = 0; i < r.joints.size(); ++i) {
    for (size_t k = i + 1; k < r.joints.size(); ++k) EXPECT_NE(r.joints[k].child, r.joints[i].parent);
  }
  for (const JointDesc& j : r.joints) EXPECT_GT(j.params.inertia, 0.0) << j.name;
  ASSERT_EQ(r.plugins.size(), 1u);
  EXPECT_EQ(r.plugins[0].filename, "libvesk_gazebo.so");
}

TEST(RobotDescription, ForwardKinematicsFollowsTheFrameTree) {
  const RobotDesc r = load_robot(kModel);
  const double lift = 0.6, yaw = -0.4, pitch = 0.2;
  std::vector<double> q(r.joints.size(), 0.0);
  q[joint_index(r, "body_neck")] = lift;
  q[joint_index(r, "neck_gmbl")] = yaw;
  q[joint_index(r, "gmbl_head")] = pitch;
  const Pose base = Pose::from_xyzrpy(0.5, -0.2, 0, 0, 0, 0.7);
  std::vector<Pose> world;
  forward_kinematics(r, base, q, world);

  // The frame tree: base_link -> body_link -> neck_link -> gimbal_link -> head_link.
  const Pose body = base * Pose::from_xyzrpy(0, 0, 0.045, 0, kTilt, 0);
  const Pose neck = body * Pose::from_xyzrpy(0.0022, 0, 0.0357, 0, lift, 0);
  const Pose gimbal = neck * Pose::from_xyzrpy(0, 0, 0.1201, 0, 0, yaw);
  const Pose head = gimbal * Pose::from_xyzrpy(0, 0, 0, 0, pitch, 0);
  expect_pose_near(world[link_index(r, "vesk_body::body")], body, 1e-5, "body");
  expect_pose_near(world[link_index(r, "neck")], neck, 1e-5, "neck");
  expect_pose_near(world[link_index(r, "vesk_head::head")], head, 1e-5, "head");

  // Sensors on the head: eyes through head_cams, sonar and IMU offsets.
  const Pose cams = head * Pose::from_xyzrpy(0.0377, 0, 0.0568, 0, -0.7853982, 0);
  const Pose caml = cams * Pose::from_xyzrpy(0, 0.0431, 0, 0, 0, 0.4712388813495636);
  const Pose camr = cams * Pose::from_xyzrpy(0, -0.0431, 0, 0, 0, -0.4712388813495636);
  const int head_link = link_index(r, "vesk_head::head");
  expect_pose_near(world[head_link] * sensor(r, "eye_l_narrow")->pose, caml, 1e-5, "eye_l_narrow");
  expect_pose_near(world[head_link] * sensor(r, "eye_r_narrow")->pose, camr, 1e-5, "eye_r_narrow");
  expect_pose_near(world[head_link] * sensor(r, "eye_l")->pose, caml, 1e-5, "eye_l");
  // The sonar sits at the head_sonar frame and measures along its x axis, which is the -z
  // axis of the sensor frame (Gazebo's sonar axis).
  const Pose sonar = world[head_link] * sensor(r, "sonar")->pose;
  const Pose head_sonar = head * Pose::from_xyzrpy(0.082, 0, 0.035, 0, 0, 0);
  EXPECT_NEAR((sonar.pos - head_sonar.pos).norm(), 0.0, 1e-5);
  EXPECT_NEAR(sonar.rot.rotate(Vec3(0, 0, -1)).dot(head_sonar.rot.rotate(Vec3(1, 0, 0))), 1.0, 1e-5);
  expect_pose_near(world[head_link] * sensor(r, "acc_head")->pose,
                   head * Pose::from_xyzrpy(0.05, 0.04, 0.025, 0, 0, 0), 1e-5, "acc_head");
  expect_pose_near(world[link_index(r, "vesk_body::body")] * sensor(r, "acc_body")->pose,
                   body * Pose::from_xyzrpy(-0.095, 0.048, 0.01, 0, 0, 0), 1e-5, "acc_body");
}

TEST(RobotDescription, StandsOnWheelsAndRearSupportAtEveryNeckPose) {
  // At every neck pose within the joints' limits the centre of mass lies behind the wheel
  // axle (the rear support carries the rest), and the deceleration that would tip the
  // robot forward over its wheels is at least twice what the wheel motors can brake it by.
  const RobotDesc r = load_robot(kModel);
  double mass = 0.0;
  for (const LinkDesc& l : r.links) mass += l.mass;
  const JointDesc& wheel = r.joints[joint_index(r, "vesk_body::body_wheel_lh")];
  const double max_braking = 2.0 * wheel.params.effort / wheel.anchor0.z / mass;  // [m/s^2]
  const JointDesc& lift = r.joints[joint_index(r, "body_neck")];
  const JointDesc& yaw = r.joints[joint_index(r, "neck_gmbl")];
  const JointDesc& pitch = r.joints[joint_index(r, "gmbl_head")];
  std::vector<double> q(r.joints.size(), 0.0);
  std::vector<Pose> world;
  double worst = -1.0;
  for (int a = 0; a <= 8; ++a) {
    for (int b = 0; b <= 4; ++b) {
      for (int c = 0; c <= 4; ++c) {
        q[joint_index(r, "body_neck")] = lift.params.lower + (lift.params.upper - lift.params.lower) * a / 8;
        q[joint_index(r, "neck_gmbl")] = yaw.params.lower + (yaw.params.upper - yaw.params.lower) * b / 4;
        q[joint_index(r, "gmbl_head")] =
            pitch.params.lower + (pitch.params.upper - pitch.params.lower) * c / 4;
        forward_kinematics(r, Pose(), q, world);
        Vec3 com;
        for (size_t k = 0; k < r.links.size(); ++k)
          com += world[k].transform(r.links[k].com) * r.links[k].mass;
        com = com * (1.0 / mass);
        const double tipping = 9.81 * -com.x / com.z;  // [m/s^2]
        EXPECT_LT(com.x, -0.02) << a << " " << b << " " << c;
        EXPECT_GT(tipping, 2.0 * max_braking) << a << " " << b << " " << c;
        worst = std::max(worst, com.x);
      }
    }
  }
  EXPECT_LT(worst, -0.02);
}

TEST(RobotDescription, WheelTurnsAboutItsAxle) {
  const RobotDesc r = load_robot(kModel);
  std::vector<double> q(r.joints.size(), 0.0);
  q[joint_index(r, "vesk_body::body_wheel_lh")] = 1.0;
  std::vector<Pose> world;
  forward_kinematics(r, Pose(), q, world);
  const Pose wheel = world[link_index(r, "vesk_body::wheel_lh")];
  EXPECT_NEAR(wheel.pos.x, 0.0, 1e-9);  // the centre stays on the axle
  EXPECT_NEAR(wheel.pos.z, 0.045, 1e-9);
  // A positive angle turns the wheel's front downward (it rolls forward).
  EXPECT_LT(wheel.rot.rotate(Vec3(1, 0, 0)).z, 0.0);
}

TEST(RobotDescription, SensorParametersComeFromTheFile) {
  const RobotDesc r = load_robot(kModel);
  const SensorDesc* eye = sensor(r, "eye_l_narrow");
  ASSERT_NE(eye, nullptr);
  EXPECT_EQ(eye->type, "camera");
  EXPECT_EQ(eye->width, 640);
  EXPECT_EQ(eye->height, 360);
  EXPECT_GT(eye->hfov, 0.5);
  EXPECT_EQ(eye->scoped_name, "vesk_head::head::eye_l_narrow");
  const SensorDesc* cliff = sensor(r, "cliff_l");
  ASSERT_NE(cliff, nullptr);
  EXPECT_EQ(cliff->type, "sonar");
  EXPECT_GT(cliff->max_range, cliff->min_range);
  EXPECT_EQ(sensor(r, "eye_r")->type, "wideanglecamera");
}

TEST(RobotDescription, MissingFileFails) {
  EXPECT_THROW(load_robot("/nonexistent/model.sdf"), std::runtime_error);
}

TEST(WorldDescription, SceneStepAndFloor) {
  const WorldDesc w = load_world(kWorld);
  EXPECT_NEAR(w.max_step_size, 0.001, 1e-12);
  EXPECT_NEAR(w.gravity.z, -9.81, 1e-9);
  // ground + 4 walls + 4 boxes + table
  EXPECT_EQ(w.scene.boxes.size(), 10u);
  EXPECT_NEAR(support_height(w.scene, 0, 0, 1.0, kOwnerWorld), 0.0, 1e-9);
  EXPECT_NEAR(support_height(w.scene, -1.4, -1.4, 1.0, kOwnerWorld), 0.4, 1e-9);
  // Standing below the table top the floor is the support.
  EXPECT_NEAR(support_height(w.scene, -1.4, -1.4, 0.1, kOwnerWorld), 0.0, 1e-9);
}

}  // namespace
}  // namespace vesk_sim
