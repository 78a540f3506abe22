// The robot model and the arena world as libsdformat reads them: every joint, link and
// sensor name that the vesk_gazebo plug-in looks up under the model name, with the types
// it expects; the world's floor, walls, boxes and drop.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sdf/sdf.hh>
#include <string>
#include <vector>

#include "vesk_sim/sdf_compat.h"

namespace {

const std::string kModel = std::string(VESK_SIM_SOURCE_DIR) + "/models/vesk/model.sdf";
const std::string kWorld = std::string(VESK_SIM_SOURCE_DIR) + "/worlds/vesk_arena.world";

struct Names {
  std::vector<std::string> joints;                           // scoped, "vesk::..."
  std::vector<std::string> links;                            // scoped
  std::vector<std::pair<std::string, std::string>> sensors;  // scoped name, type attribute
};

Names collect(const sdf::Model& top) {
  Names n;
  std::function<void(const sdf::Model&, const std::string&)> walk = [&](const sdf::Model& m,
                                                                        const std::string& pre) {
    for (uint64_t i = 0; i < m.LinkCount(); ++i) {
      const sdf::Link* l = m.LinkByIndex(i);
      n.links.push_back(pre + l->Name());
      for (uint64_t s = 0; s < l->SensorCount(); ++s) {
        const sdf::Sensor* sensor = l->SensorByIndex(s);
        n.sensors.emplace_back(pre + l->Name() + "::" + sensor->Name(),
                               sensor->Element()->Get<std::string>("type"));
      }
    }
    for (uint64_t i = 0; i < m.JointCount(); ++i) n.joints.push_back(pre + m.JointByIndex(i)->Name());
    for (uint64_t i = 0; i < m.ModelCount(); ++i) {
      walk(*m.ModelByIndex(i), pre + m.ModelByIndex(i)->Name() + "::");
    }
  };
  walk(top, top.Name() + "::");
  return n;
}

class RobotModel : public ::testing::Test {
 protected:
  void SetUp() override {
    int errors = 0;
    for (const auto& e : root.Load(kModel)) {
      if (vesk_sim::harmless(e)) continue;
      ADD_FAILURE() << e.Message();
      ++errors;
    }
    ASSERT_EQ(errors, 0);
    model = vesk_sim::root_model(root);
    ASSERT_NE(model, nullptr);
    names = collect(*model);
  }
  sdf::Root root;
  const sdf::Model* model = nullptr;
  Names names;
};

TEST_F(RobotModel, ModelIsNamedAfterTheDefaultRobotAndLoadsThePlugin) {
  EXPECT_EQ(model->Name(), "vesk");
  ASSERT_TRUE(model->Element()->HasElement("plugin"));
  EXPECT_EQ(model->Element()->GetElement("plugin")->Get<std::string>("filename"), "libvesk_gazebo.so");
}

TEST_F(RobotModel, HasExactlyTheJointsThePluginAccepts) {
  // Every joint lands in the plug-in's joint controller, which refuses unknown names and
  // holds at most 13.
  const std::vector<std::string> expected = {"vesk::vesk_body::body_wheel_lh",
                                             "vesk::vesk_body::body_wheel_rh",
                                             "vesk::body_neck",
                                             "vesk::neck_gmbl",
                                             "vesk::gmbl_head",
                                             "vesk::vesk_head::head_eyelid_lh",
                                             "vesk::vesk_head::head_eyelid_rh",
                                             "vesk::vesk_head::head_ear_lh",
                                             "vesk::vesk_head::head_ear_rh",
                                             "vesk::vesk_tail::body_tail_gmbl",
                                             "vesk::vesk_tail::tail_gmbl_tail",
                                             "vesk::vesk_head::head_camera_calib"};
  std::vector<std::string> got = names.joints, want = expected;
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
  EXPECT_LE(names.joints.size(), 13u);
}

TEST_F(RobotModel, HasTheBodyAndHeadLinks) {
  auto has = [&](const std::string& n) {
    return std::find(names.links.begin(), names.links.end(), n) != names.links.end();
  };
  EXPECT_TRUE(has("vesk::vesk_body::body"));
  EXPECT_TRUE(has("vesk::vesk_head::head"));
}

TEST_F(RobotModel, SensorLookupsBySubstringFindTheExpectedTypes) {
  // The plug-in takes the first sensor, in list order, whose scoped name contains the
  // looked-up name; a type mismatch would fail its Load.
  const std::vector<std::pair<std::string, std::string>> lookups = {
      {"vesk_head::head::eye_l", "wideanglecamera"}, {"vesk_head::head::eye_r", "wideanglecamera"},
      {"vesk_head::head::eye_l_narrow", "camera"},   {"vesk_head::head::eye_r_narrow", "camera"},
      {"vesk_head::head::gaze", "camera"},           {"vesk_head::head::overhead", "camera"},
      {"vesk_head::head::acc_head", "imu"},          {"vesk_body::body::acc_body", "imu"},
      {"vesk_head::head::sonar", "sonar"},           {"vesk_body::body::cliff_l", "sonar"},
      {"vesk_body::body::cliff_r", "sonar"},         {"vesk_body::body::lightfl", "camera"},
      {"vesk_body::body::lightfr", "camera"},        {"vesk_body::body::lightrl", "camera"},
      {"vesk_body::body::lightrr", "camera"}};
  for (const auto& [name, type] : lookups) {
    const std::string full = "vesk::" + name;
    auto it = std::find_if(names.sensors.begin(), names.sensors.end(),
                           [&](const auto& s) { return s.first.find(full) != std::string::npos; });
    ASSERT_NE(it, names.sensors.end()) << full;
    EXPECT_EQ(it->second, type) << full;
  }
  EXPECT_EQ(names.sensors.size(), lookups.size());
  EXPECT_LE(names.sensors.size(), 32u);  // the plug-in's MAX_SENSOR_COUNT
}

TEST_F(RobotModel, WheelsHaveTheRobotsRadiusAndTrack) {
  const sdf::Model* body = model->ModelByName("vesk_body");
  ASSERT_NE(body, nullptr);
  const sdf::Link* lh = body->LinkByName("wheel_lh");
  const sdf::Link* rh = body->LinkByName("wheel_rh");
  ASSERT_TRUE(lh && rh);
  EXPECT_NEAR(lh->RawPose().Pos().Y() - rh->RawPose().Pos().Y(), 0.164, 1e-9);
  EXPECT_NEAR(lh->RawPose().Pos().Z(), 0.045, 1e-9);
  ASSERT_GE(lh->CollisionCount(), 1u);
  // A narrow contact tyre: the track the robot turns on is the wheels' distance.
  const sdf::Geometry* tyre = lh->CollisionByIndex(0)->Geom();
  ASSERT_EQ(tyre->Type(), sdf::GeometryType::CYLINDER);
  EXPECT_NEAR(tyre->CylinderShape()->Radius(), 0.045, 1e-9);
  EXPECT_LE(tyre->CylinderShape()->Length(), 0.002);
}

TEST_F(RobotModel, EveryLinkHasPositiveMassAndInertia) {
  std::function<void(const sdf::Model&)> check = [&](const sdf::Model& m) {
    for (uint64_t i = 0; i < m.LinkCount(); ++i) {
      const auto& mm = m.LinkByIndex(i)->Inertial().MassMatrix();
      EXPECT_GT(mm.Mass(), 0.0) << m.LinkByIndex(i)->Name();
      EXPECT_TRUE(mm.IsValid()) << m.LinkByIndex(i)->Name();
    }
    for (uint64_t i = 0; i < m.ModelCount(); ++i) check(*m.ModelByIndex(i));
  };
  check(*model);
}

TEST(ArenaWorld, HasFloorWallsBoxesAndATable) {
  sdf::Root root;
  const sdf::Errors errors = root.Load(kWorld);
  for (const auto& e : errors) ADD_FAILURE() << e.Message();
  ASSERT_EQ(root.WorldCount(), 1u);
  const sdf::World* w = root.WorldByIndex(0);
  EXPECT_TRUE(w->ModelNameExists("ground_plane"));
  for (const char* n : {"wall_north", "wall_south", "wall_east", "wall_west", "table"}) {
    EXPECT_TRUE(w->ModelNameExists(n)) << n;
  }
  int boxes = 0;
  for (uint64_t i = 0; i < w->ModelCount(); ++i) {
    if (w->ModelByIndex(i)->Name().rfind("box_", 0) == 0) ++boxes;
  }
  EXPECT_GE(boxes, 3);
  // The table top is a drop well beyond the cliff sensors' reach (0.2 m).
  const sdf::Model* table = w->ModelByName("table");
  const auto* geom = table->LinkByIndex(0)->CollisionByIndex(0)->Geom();
  ASSERT_EQ(geom->Type(), sdf::GeometryType::BOX);
  EXPECT_GT(table->RawPose().Pos().Z() + 0.5 * geom->BoxShape()->Size().Z(), 0.2);
}

}  // namespace
