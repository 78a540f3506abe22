// The headless simulator's world without a plug-in: the test drives the joint controller
// as the plug-in would and reads the sensors as the plug-in would.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "vesk_sim/sim_world.h"

namespace vesk_sim {
namespace {

const std::string kDir = VESK_SIM_SOURCE_DIR;
constexpr double kWheelRadius = 0.045;  // [m]
constexpr double kTilt = -0.10471976;   // [rad] body tilt about y

SimOptions options(std::vector<RobotSpawn> robots) {
  SimOptions o;
  o.world_file = kDir + "/worlds/vesk_arena.world";
  o.model_file = kDir + "/models/vesk/model.sdf";
  o.robots = std::move(robots);
  o.load_plugins = false;
  return o;
}

gazebo::sensors::SensorPtr find_sensor(const std::string& scoped_part) {
  for (const auto& s : gazebo::sensors::SensorManager::Instance()->GetSensors()) {
    if (s->ScopedName().find(scoped_part) != std::string::npos) return s;
  }
  return nullptr;
}

// The model's joint controller with the joints of its nested models handed to it, as the
// plug-in does (Gazebo gives each nested model a controller of its own).
gazebo::physics::JointControllerPtr robot_controller(const gazebo::physics::ModelPtr& model) {
  auto jc = model->GetJointController();
  std::function<void(const gazebo::physics::ModelPtr&)> hand = [&](const gazebo::physics::ModelPtr& m) {
    for (const auto& nested : m->NestedModels()) {
      for (const auto& j : nested->GetJoints()) jc->AddJoint(j);
      hand(nested);
    }
  };
  hand(model);
  return jc;
}

// Drives both wheels of robot `name` with the plug-in's wheel gains (1 ms step) at the
// given rim speeds [m/s], integrating the position targets as the plug-in does.
class WheelDriver {
 public:
  WheelDriver(const std::string& name, gazebo::physics::ModelPtr model) : name_(name), model_(model) {
    auto jc = robot_controller(model_);
    for (const char* side : {"lh", "rh"}) {
      jc->SetPositionPID(joint(side), gazebo::common::PID(2.0, 0.0, 0.04, 0.0, -0.0, 1.0, -1.0));
      jc->SetPositionTarget(joint(side), 0.0);
    }
  }
  void run(SimWorld& world, double left, double right, double seconds) {
    auto jc = model_->GetJointController();
    const int steps = static_cast<int>(std::lround(seconds / world.step_size()));
    for (int i = 0; i < steps; ++i) {
      target_l_ += left / kWheelRadius * world.step_size();
      target_r_ += right / kWheelRadius * world.step_size();
      jc->SetPositionTarget(joint("lh"), target_l_);
      jc->SetPositionTarget(joint("rh"), target_r_);
      world.step();
    }
  }

 private:
  std::string joint(const char* side) const { return name_ + "::vesk_body::body_wheel_" + side; }
  std::string name_;
  gazebo::physics::ModelPtr model_;
  double target_l_ = 0.0, target_r_ = 0.0;
};

class World : public ::testing::Test {
 protected:
  std::unique_ptr<SimWorld> make(std::vector<RobotSpawn> robots) {
    auto w = std::make_unique<SimWorld>(options(std::move(robots)));
    return w;
  }
};

TEST_F(World, ImuAtRestReadsGravityInTheTiltedBodyFrame) {
  auto w = make({RobotSpawn{"vesk", 0, 0, 0}});
  for (int i = 0; i < 200; ++i) w->step();
  auto imu =
      std::dynamic_pointer_cast<gazebo::sensors::ImuSensor>(find_sensor("::vesk::vesk_body::body::acc_body"));
  ASSERT_TRUE(imu);
  const auto a = imu->LinearAcceleration();
  EXPECT_NEAR(a.X(), -9.81 * std::sin(kTilt), 0.05);
  EXPECT_NEAR(a.Y(), 0.0, 0.05);
  EXPECT_NEAR(a.Z(), 9.81 * std::cos(kTilt), 0.05);
}

TEST_F(World, WheelsDriveTheBaseByDifferentialDriveAndResetReturnsIt) {
  auto w = make({RobotSpawn{"vesk", 0.2, -0.3, 0.5}});
  WheelDriver drive("vesk", w->model(0));
  drive.run(*w, 0.1, 0.1, 2.0);
  BasePose p = w->robot_pose(0);
  // 0.2 m along the heading, less the short start-up lag of the wheel controllers.
  const double along = (p.x - 0.2) * std::cos(0.5) + (p.y + 0.3) * std::sin(0.5);
  const double across = -(p.x - 0.2) * std::sin(0.5) + (p.y + 0.3) * std::cos(0.5);
  EXPECT_NEAR(along, 0.2, 0.02);
  EXPECT_NEAR(across, 0.0, 1e-6);
  EXPECT_NEAR(p.yaw, 0.5, 1e-6);
  // Turning on the spot: wheels at -+0.082 m/s turn the base at 1 rad/s.
  drive.run(*w, -0.082, 0.082, 1.0);
  EXPECT_NEAR(w->robot_pose(0).yaw, 1.5, 0.05);
  EXPECT_NEAR(w->robot_pose(0).x, p.x, 0.005);

  w->reset();
  EXPECT_EQ(w->sim_time(), 0.0);
  EXPECT_EQ(w->robot_pose(0).x, 0.2);
  EXPECT_EQ(w->robot_pose(0).yaw, 0.5);
}

TEST_F(World, WallStopsTheRobot) {
  auto w = make({RobotSpawn{"vesk", 1.7, 0.0, 0.0}});
  WheelDriver drive("vesk", w->model(0));
  drive.run(*w, 0.2, 0.2, 3.0);  // would go 0.6 m; the east wall's face is at x = 2.0
  const double x = w->robot_pose(0).x;
  EXPECT_LT(x + 0.09, 2.0);  // the body's front (0.09 m ahead of the base) stops at the wall
  EXPECT_GT(x + 0.09, 1.99);
}

TEST_F(World, CliffSensorSeesTheTableEdgeAndTheRobotFallsOffIt) {
  // On the table (top 0.4 m, edge at x = -0.9), facing the edge 0.2 m away.
  auto w = make({RobotSpawn{"vesk", -1.1, -1.4, 0.0}});
  EXPECT_NEAR(w->robot_height(0), 0.4, 1e-9);
  auto cliff = std::dynamic_pointer_cast<gazebo::sensors::SonarSensor>(
      find_sensor("::vesk::vesk_body::body::cliff_l"));
  ASSERT_TRUE(cliff);
  for (int i = 0; i < 50; ++i) w->step();
  EXPECT_LT(cliff->Range(), 0.05);  // the table top, a few centimetres below
  WheelDriver drive("vesk", w->model(0));
  drive.run(*w, 0.1, 0.1, 1.7);  // the sensor, ~0.1 m ahead of the base, passes the edge
  EXPECT_EQ(cliff->Range(), DBL_MAX);
  EXPECT_NEAR(w->robot_height(0), 0.4, 1e-9);
  drive.run(*w, 0.1, 0.1, 1.5);  // now the base centre is past the edge: it falls
  EXPECT_GT(w->robot_pose(0).x, -0.9);
  EXPECT_NEAR(w->robot_height(0), 0.0, 1e-9);
}

TEST_F(World, CamerasSeeTheWorldAndOtherRobots) {
  // vesk2 sits 0.5 m in front of vesk, facing it.
  auto w = make({RobotSpawn{"vesk", 0, 0, 0}, RobotSpawn{"vesk2", 0.5, 0, M_PI}});
  for (int i = 0; i < 100; ++i) w->step();
  auto eye = std::dynamic_pointer_cast<gazebo::sensors::CameraSensor>(
      find_sensor("::vesk::vesk_head::head::eye_l_narrow"));
  ASSERT_TRUE(eye);
  ASSERT_EQ(eye->ImageWidth(), 640u);
  ASSERT_EQ(eye->ImageHeight(), 360u);
  const unsigned char* img = eye->ImageData();
  ASSERT_NE(img, nullptr);
  unsigned lo = 255, hi = 0;
  for (size_t i = 0; i < 640 * 360 * 3; ++i) {
    lo = std::min<unsigned>(lo, img[i]);
    hi = std::max<unsigned>(hi, img[i]);
  }
  EXPECT_GT(hi - lo, 50u);
  // The light sensors look up at the sky and the robot's own head.
  auto light = std::dynamic_pointer_cast<gazebo::sensors::CameraSensor>(
      find_sensor("::vesk::vesk_body::body::lightfl"));
  ASSERT_TRUE(light);
  ASSERT_NE(light->ImageData(), nullptr);
  // vesk2's gaze camera looks straight ahead at vesk's light shell.
  auto gaze2 =
      std::dynamic_pointer_cast<gazebo::sensors::CameraSensor>(find_sensor("::vesk2::vesk_head::head::gaze"));
  ASSERT_TRUE(gaze2);
  const unsigned char* g = gaze2->ImageData();
  ASSERT_NE(g, nullptr);
  int bright = 0;
  for (size_t i = 0; i < 320 * 240; ++i) bright += g[3 * i] > 150 && g[3 * i + 1] > 150 && g[3 * i + 2] > 140;
  EXPECT_GT(bright, 320 * 240 / 20);
}

TEST_F(World, ANewCameraRateTakesEffectAtOnce) {
  auto w = make({RobotSpawn{"vesk", 0, 0, 0}});
  auto eye = find_sensor("::vesk::vesk_head::head::eye_l_narrow");
  ASSERT_TRUE(eye);
  int frames = 0;
  auto connection = eye->ConnectUpdated([&frames] { ++frames; });
  // One frame at the start; at 0.01 frames per second the next would be 100 s away.
  eye->SetUpdateRate(0.01);
  for (int i = 0; i < 100; ++i) w->step();
  EXPECT_EQ(frames, 1);
  // 15 per second from now: the next frame is due one new period after the last one.
  eye->SetUpdateRate(15.0);
  for (int i = 0; i < 200; ++i) w->step();
  EXPECT_GE(frames, 3);
  EXPECT_LE(frames, 6);
}

// Every camera image of four robots driving about (six image cameras and four light sensors
// each), in the order each camera delivered them, rendered on `threads` threads.
std::map<std::string, std::vector<std::vector<unsigned char>>> camera_images(unsigned threads) {
  SimOptions o = options({RobotSpawn{"vesk", 0, 0, 0}, RobotSpawn{"vesk2", 0.5, 0, M_PI},
                          RobotSpawn{"vesk3", -0.6, 0.4, 1.0}, RobotSpawn{"vesk4", 0.3, -0.7, 2.5}});
  o.threads = threads;
  SimWorld world(o);
  std::mutex lock;
  std::map<std::string, std::vector<std::vector<unsigned char>>> images;
  std::vector<gazebo::event::ConnectionPtr> connections;
  for (const auto& s : gazebo::sensors::SensorManager::Instance()->GetSensors()) {
    auto camera = std::dynamic_pointer_cast<gazebo::sensors::CameraSensor>(s);
    if (!camera) continue;
    gazebo::sensors::CameraSensor* c = camera.get();
    connections.push_back(camera->ConnectUpdated([c, &lock, &images]() {
      const unsigned char* data = c->ImageData();
      std::vector<unsigned char> copy(data,
                                      data + static_cast<size_t>(c->ImageWidth()) * c->ImageHeight() * 3);
      std::lock_guard<std::mutex> guard(lock);
      images[c->ScopedName()].push_back(std::move(copy));
    }));
  }
  // vesk turns on the spot, then vesk2 drives ahead: 0.2 s, three frames of every image camera.
  WheelDriver("vesk", world.model(0)).run(world, -0.1, 0.1, 0.1);
  WheelDriver("vesk2", world.model(1)).run(world, 0.1, 0.1, 0.1);
  return images;
}

TEST_F(World, CamerasRenderTheSameImagesOnSeveralThreadsAsOnOne) {
  const auto one = camera_images(1);
  const auto three = camera_images(3);
  ASSERT_EQ(one.size(), 40u);
  ASSERT_EQ(three.size(), one.size());
  for (const auto& camera : one) {
    const auto other = three.find(camera.first);
    ASSERT_NE(other, three.end()) << camera.first;
    ASSERT_EQ(camera.second.size(), other->second.size()) << camera.first;
    EXPECT_GE(camera.second.size(), 2u) << camera.first;
    for (size_t f = 0; f < camera.second.size(); ++f) {
      ASSERT_TRUE(camera.second[f] == other->second[f]) << camera.first << " frame " << f;
    }
  }
}

TEST_F(World, LightJointsSettleOnTheirTargetsUnderThePluginsGains) {
  // The plug-in's cosmetic and kinematic gains at a 1 ms step (proportional, derivative,
  // command limit): an eyelid weighs 5 g, so without armature its PID would chatter.
  auto w = make({RobotSpawn{"vesk", 0, 0, 0}});
  auto jc = robot_controller(w->model(0));
  const std::vector<std::tuple<std::string, double, double, double, double>> joints = {
      {"vesk::vesk_head::head_eyelid_lh", 2.0, 0.04, 1.0, -0.384},
      {"vesk::vesk_head::head_ear_rh", 2.0, 0.04, 1.0, 0.5},
      {"vesk::vesk_tail::tail_gmbl_tail", 2.0, 0.04, 1.0, -0.3},
      {"vesk::neck_gmbl", 5.0, 0.5, 2.5, 0.4},
      {"vesk::body_neck", 5.0, 0.5, 2.5, 0.5717}};
  for (const auto& [name, p, d, limit, target] : joints) {
    jc->SetPositionPID(name, gazebo::common::PID(p, 0.0, d, 0.0, -0.0, limit, -limit));
    jc->SetPositionTarget(name, target);
  }
  for (int i = 0; i < 1500; ++i) w->step();
  for (const auto& [name, p, d, limit, target] : joints) {
    const auto joint = jc->GetJoints().at(name);
    EXPECT_NEAR(joint->Position(0), target, 0.01) << name;
    EXPECT_NEAR(gazebo_standin::JointVelocity(joint), 0.0, 0.01) << name;
  }
}

TEST_F(World, RejectsRobotNamesThePluginCouldConfuse) {
  EXPECT_THROW(make({RobotSpawn{"vesk", 0, 0, 0}, RobotSpawn{"vesk", 1, 0, 0}}), std::runtime_error);
  // "avesk::vesk_head::..." contains "vesk::vesk_head::...".
  EXPECT_THROW(make({RobotSpawn{"vesk", 0, 0, 0}, RobotSpawn{"avesk", 1, 0, 0}}), std::runtime_error);
  EXPECT_THROW(make({RobotSpawn{"avesk", 0, 0, 0}, RobotSpawn{"vesk", 1, 0, 0}}), std::runtime_error);
  EXPECT_NO_THROW(make({RobotSpawn{"vesk", 0, 0, 0}, RobotSpawn{"vesk2", 1, 0, 0}}));
}

}  // namespace
}  // namespace vesk_sim
