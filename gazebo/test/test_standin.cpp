// Tests of the Gazebo 11 stand-in and its host API.
#include <gtest/gtest.h>

#include <cmath>
#include <gazebo_standin/host.hh>
#include <memory>
#include <sdf/sdf.hh>
#include <stdexcept>

namespace gs = gazebo_standin;
using namespace gazebo;

namespace {

struct StandinTest : ::testing::Test {
  void SetUp() override {
    world = gs::CreateWorld("default", 0.001);
    model = gs::AddModel(world, "vesk");
    body = gs::AddLink(model, "vesk_body::body");
    head = gs::AddLink(model, "vesk_head::head");
    wheel = gs::AddJoint(model, "vesk_body::body_wheel_lh");
  }
  void TearDown() override { gs::DestroyWorld(world); }
  physics::WorldPtr world;
  physics::ModelPtr model;
  physics::LinkPtr body, head;
  physics::JointPtr wheel;
};

TEST_F(StandinTest, NamesAndTree) {
  EXPECT_EQ("vesk", model->GetName());
  EXPECT_EQ("body", body->GetName());
  EXPECT_EQ("vesk::vesk_body::body", body->GetScopedName());
  EXPECT_EQ("default::vesk::vesk_body::body", body->GetScopedName(true));
  EXPECT_EQ(world, model->GetWorld());
  EXPECT_FALSE(model->HasType(physics::Base::LINK));
  EXPECT_TRUE(model->HasType(physics::Base::MODEL));
  // The scopes are nested models, children of the model, each with its links and joints.
  ASSERT_EQ(2u, model->GetChildCount());
  EXPECT_FALSE(model->GetChild(2));
  ASSERT_TRUE(model->GetChild(0)->HasType(physics::Base::MODEL));
  const physics::ModelPtr nested_body = model->NestedModel("vesk_body");
  ASSERT_TRUE(nested_body);
  EXPECT_EQ(model->GetChild(0), nested_body);
  EXPECT_EQ("vesk::vesk_body", nested_body->GetScopedName());
  EXPECT_EQ(2u, model->NestedModels().size());
  EXPECT_EQ(body->GetParent(), nested_body);
  EXPECT_EQ(world, body->GetWorld());
  EXPECT_EQ(wheel, nested_body->GetJoint("body_wheel_lh"));
  EXPECT_TRUE(model->GetJoints().empty());
}

TEST_F(StandinTest, AModelFindsOnlyItsOwnLinks) {
  // As in Gazebo 11: by leaf or scoped name, and never a link of a nested model.
  EXPECT_FALSE(model->GetLink("vesk_body::body"));
  EXPECT_FALSE(model->GetLink("vesk::vesk_body::body"));
  EXPECT_FALSE(model->GetLink("body"));
  const physics::ModelPtr nested_head = model->NestedModel("vesk_head");
  EXPECT_EQ(head, nested_head->GetLink("head"));
  EXPECT_EQ(head, nested_head->GetLink("vesk::vesk_head::head"));
  EXPECT_FALSE(nested_head->GetLink("vesk_head::head"));
  EXPECT_EQ(body, model->GetLink());  // canonical: the first nested model's
}

TEST_F(StandinTest, EachNestedModelHasItsOwnJointController) {
  const physics::JointControllerPtr top = model->GetJointController();
  const physics::JointControllerPtr nested = model->NestedModel("vesk_body")->GetJointController();
  ASSERT_TRUE(top);
  ASSERT_TRUE(nested);
  EXPECT_NE(top, nested);
  EXPECT_TRUE(top->GetJoints().empty());
  const auto joints = nested->GetJoints();
  ASSERT_EQ(1u, joints.size());
  EXPECT_EQ("vesk::vesk_body::body_wheel_lh", joints.begin()->first);
  EXPECT_FALSE(top->SetPositionTarget("vesk::vesk_body::body_wheel_lh", 1.0));
}

TEST_F(StandinTest, SensorCountIsTheModelsOwnLinks) {
  gs::AddImuSensor(body, "acc_body", 50);
  gs::AddSonarSensor(head, "sonar", 20);
  gs::AddSonarSensor(gs::AddLink(model, "neck"), "neck_sonar", 20);
  EXPECT_EQ(1u, model->GetSensorCount());
  EXPECT_EQ(1u, model->NestedModel("vesk_body")->GetSensorCount());
  EXPECT_EQ(1u, model->NestedModel("vesk_head")->GetSensorCount());
}

TEST_F(StandinTest, AnExceptionFromASensorCallbackEndsTheProcess) {
  // Gazebo's sensor threads do not catch: the exception ends gzserver through terminate.
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  auto sonar = gs::AddSonarSensor(head, "sonar", 20);
  event::ConnectionPtr c = sonar->ConnectUpdated([]() { throw std::runtime_error("callback failed"); });
  EXPECT_DEATH(gs::UpdateSonar(sonar, 0.5), "terminate called after throwing");
}

TEST_F(StandinTest, ModelWithoutJointController) {
  physics::ModelPtr m = gs::AddModel(world, "other", false);
  EXPECT_FALSE(m->GetJointController());
}

TEST_F(StandinTest, StepAdvancesExactTimeAndSignalsEvents) {
  int begins = 0, ends = 0;
  common::Time seen;
  event::ConnectionPtr b = event::Events::ConnectWorldUpdateBegin([&](const common::UpdateInfo& i) {
    ++begins;
    seen = i.simTime;
  });
  event::ConnectionPtr e = event::Events::ConnectWorldUpdateEnd([&]() { ++ends; });
  gs::StepWorld(world, 1000);
  EXPECT_EQ(1000, begins);
  EXPECT_EQ(1000, ends);
  EXPECT_EQ(1, world->SimTime().sec);
  EXPECT_EQ(0, world->SimTime().nsec);
  EXPECT_EQ(world->SimTime(), seen);
  e.reset();  // releasing the connection disconnects
  gs::StepWorld(world, 1);
  EXPECT_EQ(1000, ends);
  EXPECT_EQ(1001, begins);
  gs::ResetWorldTime(world);
  EXPECT_EQ(0.0, world->SimTime().Double());
  // A step size that is no time leaves the clock alone (the update still runs).
  for (double bad : {std::nan(""), HUGE_VAL, 1e300}) {
    gs::SetMaxStepSize(world, bad);
    gs::StepWorld(world, 1);
    EXPECT_EQ(0.0, world->SimTime().Double()) << bad;
  }
  EXPECT_EQ(1004, begins);
}

TEST_F(StandinTest, JointFollowsTargetOnlyWithPid) {
  // The nested joint handed to the model's own controller, which then drives it.
  auto jc = model->GetJointController();
  jc->AddJoint(wheel);
  const std::string name = "vesk::vesk_body::body_wheel_lh";
  EXPECT_FALSE(jc->SetPositionTarget("vesk::nope", 1.0));
  EXPECT_TRUE(jc->SetPositionTarget(name, 1.0));
  gs::StepWorld(world, 10);
  EXPECT_EQ(0.0, wheel->Position(0));  // no PID: the controller does not drive it
  jc->SetPositionPID(name, common::PID(2.0, 0, 0.04, 0, -0, 1.0, -1.0));
  gs::StepWorld(world, 100);
  EXPECT_NEAR(1.0, wheel->Position(0), 1e-6);
  EXPECT_GT(wheel->Position(0), 0.99);
  EXPECT_EQ(0.0, wheel->Position(1));
  double t = 0;
  ASSERT_TRUE(gs::JointTarget(model, name, &t));
  EXPECT_EQ(1.0, t);
  common::PID pid;
  ASSERT_TRUE(gs::JointPid(model, name, &pid));
  EXPECT_EQ(2.0, pid.GetPGain());
  EXPECT_EQ(0.04, pid.GetDGain());
  EXPECT_EQ(1.0, pid.GetCmdMax());
  EXPECT_EQ(-1.0, pid.GetCmdMin());
}

TEST_F(StandinTest, PhysicsHookReplacesJointResponse) {
  auto jc = model->NestedModel("vesk_body")->GetJointController();
  const std::string name = "vesk::vesk_body::body_wheel_lh";
  jc->SetPositionPID(name, common::PID(1));
  jc->SetPositionTarget(name, 1.0);
  double total = 0;
  gs::SetPhysicsHook(world, [&](double dt) {
    total += dt;
    gs::SetJointPosition(wheel, -0.5);
  });
  gs::StepWorld(world, 4);
  EXPECT_NEAR(0.004, total, 1e-12);
  EXPECT_EQ(-0.5, wheel->Position());
  gs::SetPhysicsHook(world, nullptr);
  gs::StepWorld(world, 1);
  EXPECT_GT(wheel->Position(), -0.5);
}

TEST_F(StandinTest, PidClampsOnlyWhenLimitsOrdered) {
  common::PID clamped(2.0, 0, 0, 0, 0, 1.0, -1.0);
  EXPECT_EQ(-1.0, clamped.Update(10.0, 0.001));
  common::PID free(2.0);
  EXPECT_EQ(-20.0, free.Update(10.0, 0.001));
  EXPECT_EQ(0.0, free.Update(10.0, 0.0));
}

TEST_F(StandinTest, LinkPoseAndReset) {
  gs::SetLinkWorldPose(body, ignition::math::Pose3d(1, 2, 0, 0, 0, 0.5));
  EXPECT_EQ(1.0, body->WorldPose().Pos().X());
  EXPECT_NEAR(0.5, body->WorldPose().Rot().Yaw(), 1e-12);
  gs::SetLinkVelocity(body, {1, 0, 0}, {0, 0, 1});
  body->ResetPhysicsStates();
  EXPECT_EQ(0.0, gs::LinkLinearVelocity(body).X());
  EXPECT_EQ(0.0, gs::LinkAngularVelocity(body).Z());
  EXPECT_EQ(1u, gs::LinkResetCount(body));
}

TEST_F(StandinTest, SensorsRegisterUpdateAndRemove) {
  auto imu = gs::AddImuSensor(body, "acc_body", 50);
  auto sonar = gs::AddSonarSensor(head, "sonar", 20);
  auto cam = gs::AddCameraSensor(head, "eye_l", 4, 2, 15, "wideanglecamera");
  EXPECT_EQ(2u, model->NestedModel("vesk_head")->GetSensorCount());
  EXPECT_EQ("default::vesk::vesk_body::body::acc_body", imu->ScopedName());
  EXPECT_EQ("wideanglecamera", cam->Type());
  EXPECT_TRUE(std::dynamic_pointer_cast<sensors::WideAngleCameraSensor>(
      sensors::SensorManager::Instance()->GetSensor(cam->ScopedName())));
  EXPECT_EQ(DBL_MAX, sonar->Range());

  int hits = 0;
  event::ConnectionPtr c = imu->ConnectUpdated([&]() { ++hits; });
  EXPECT_TRUE(gs::UpdateImu(imu, {0, 0, 9.81}));
  EXPECT_EQ(9.81, imu->LinearAcceleration(false).Z());
  imu->SetActive(false);
  EXPECT_FALSE(gs::UpdateImu(imu, {0, 0, 1}));
  EXPECT_EQ(1, hits);

  std::vector<unsigned char> img(6 * 3 * 5, 7);
  EXPECT_TRUE(gs::UpdateCamera(cam, img.data(), 6, 5));
  EXPECT_EQ(6u, cam->ImageWidth());
  EXPECT_EQ(7, cam->ImageData()[6 * 3 * 5 - 1]);
  // No pixels for a non-empty size: refused, the last image stays.
  EXPECT_FALSE(gs::UpdateCamera(cam, nullptr, 6, 5));
  EXPECT_EQ(6u, cam->ImageWidth());
  EXPECT_EQ(7, cam->ImageData()[0]);

  sensors::SensorManager::Instance()->RemoveSensor(cam->ScopedName());
  EXPECT_EQ(3u, sensors::SensorManager::Instance()->GetSensors().size());  // queued
  gs::StepWorld(world, 1);
  EXPECT_TRUE(gs::IsRemoved(cam));
  EXPECT_EQ(2u, sensors::SensorManager::Instance()->GetSensors().size());
  EXPECT_FALSE(gs::UpdateCamera(cam, img.data(), 6, 5));
}

TEST_F(StandinTest, DestroyWorldUnregistersItsSensors) {
  physics::WorldPtr other = gs::CreateWorld("other", 0.01);
  auto m2 = gs::AddModel(other, "vesk");
  auto s2 = gs::AddSonarSensor(gs::AddLink(m2, "vesk_head::head"), "sonar", 10);
  auto s1 = gs::AddSonarSensor(head, "sonar", 10);
  gs::DestroyWorld(other);
  EXPECT_FALSE(other);
  EXPECT_TRUE(gs::IsRemoved(s2));
  EXPECT_FALSE(gs::IsRemoved(s1));
  EXPECT_EQ(1u, sensors::SensorManager::Instance()->GetSensors().size());
}

TEST(StandinTime, DoubleRoundTrip) {
  common::Time t(0.0199999995529651);
  EXPECT_EQ(0, t.sec);
  EXPECT_EQ(20000000, t.nsec);
  common::Time n(-0.5);
  EXPECT_EQ(-1, n.sec);
  EXPECT_EQ(500000000, n.nsec);
  EXPECT_EQ(common::Time(1, 0), common::Time(0, 600000000) + common::Time(0, 400000000));
}

}  // namespace

namespace {
TEST(StandinRemovals, DestroyedWorldTakesItsQueuedRemovalsAlong) {
  physics::WorldPtr w1 = gs::CreateWorld("default", 0.001);
  auto s1 = gs::AddSonarSensor(gs::AddLink(gs::AddModel(w1, "vesk"), "vesk_head::head"), "sonar", 10);
  sensors::SensorManager::Instance()->RemoveSensor(s1->ScopedName());
  gs::DestroyWorld(w1);
  // A new world with the same names must not lose its sensor to the stale removal.
  physics::WorldPtr w2 = gs::CreateWorld("default", 0.001);
  auto s2 = gs::AddSonarSensor(gs::AddLink(gs::AddModel(w2, "vesk"), "vesk_head::head"), "sonar", 10);
  gs::StepWorld(w2, 1);
  EXPECT_FALSE(gs::IsRemoved(s2));
  gs::DestroyWorld(w2);
}
// The SDF element as a plug-in reads its parameters (sdformat 9's HasElement and Get).
TEST(StandinSdf, ChildElementsReadAsTheirTypes) {
  sdf::ElementPtr e = std::make_shared<sdf::Element>();
  e->SetName("plugin");
  EXPECT_FALSE(e->HasElement("frame_prefix"));
  EXPECT_EQ("", e->Get<std::string>("frame_prefix"));  // absent: a default value
  EXPECT_EQ(0, e->Get<int>("frame_prefix"));
  e->AddElement("frame_prefix")->Set(std::string("rob1/ x"));
  e->AddElement("rate")->Set(12.5);
  e->AddElement("count")->Set("seven");
  std::shared_ptr<const sdf::Element> c = e;  // the reads are const, as in sdformat
  EXPECT_TRUE(c->HasElement("frame_prefix"));
  EXPECT_FALSE(c->HasElement("plugin"));
  EXPECT_EQ("rob1/ x", c->Get<std::string>("frame_prefix"));  // a string is the whole text
  EXPECT_DOUBLE_EQ(12.5, c->Get<double>("rate"));
  EXPECT_EQ(12, c->Get<int>("rate"));
  EXPECT_EQ(0, c->Get<int>("count"));    // text that is no number
  EXPECT_EQ("", c->Get<std::string>());  // the element's own (empty) value
}

}  // namespace
