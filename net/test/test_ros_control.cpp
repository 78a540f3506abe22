// Inbound control through real topics: size checks, reordering, lapse rules,
// commands, audio stream packets.
#include <geometry_msgs/TwistStamped.h>
#include <sensor_msgs/JointState.h>
#include <std_msgs/Float32MultiArray.h>
#include <std_msgs/Int16MultiArray.h>
#include <std_msgs/String.h>
#include <std_msgs/UInt16MultiArray.h>
#include <std_msgs/UInt32.h>
#include <std_msgs/UInt32MultiArray.h>

#include "ros_test_util.h"

namespace {

using vesk_test::Robot;
using vesk_test::Sender;
using vesk_test::test_nh;
using vesk_test::wait_until;

bool has(const std::string& out, const std::string& part) { return out.find(part) != std::string::npos; }

// Exchanges until `arrived` holds for the returned record (bounded by wait_until);
// that exchange counts as the first one that carries the message.
VESK_TICK_D* tick_until(Robot& r, const std::function<bool(const VESK_TICK_D&)>& arrived) {
  VESK_TICK_D* d = nullptr;
  wait_until([&] {
    d = r.tick();
    return arrived(*d);
  });
  return d;
}

TEST(Control, CmdVelLapsesAfterElevenExchanges) {
  Robot r(NET_FLAG_SIM);
  Sender<geometry_msgs::TwistStamped> s(test_nh(), r.topic("control/cmd_vel"));
  geometry_msgs::TwistStamped m;
  m.twist.linear.x = 0.25;
  m.twist.angular.z = -0.75;
  m.twist.linear.y = 9.0;  // not used
  ASSERT_TRUE(s.send(m));
  VESK_TICK_D* d = tick_until(r, [](const VESK_TICK_D& d) { return d.body_vel[0] != 0.0f; });
  ASSERT_EQ(d->body_vel[0], 0.25f);
  EXPECT_EQ(d->body_vel[1], -0.75f);
  for (int i = 2; i <= 11; ++i) ASSERT_EQ(r.tick()->body_vel[0], 0.25f) << i;
  d = r.tick();
  EXPECT_EQ(d->body_vel[0], 0.0f);
  EXPECT_EQ(d->body_vel[1], 0.0f);
}

TEST(Control, FlagsFallBackAndPersistentFlagsStick) {
  Robot r(NET_FLAG_SIM, 2);
  Sender<std_msgs::UInt32> s(test_nh(), r.topic("control/flags"));
  std_msgs::UInt32 m;
  m.data = 0x10;
  testing::internal::CaptureStdout();
  const bool sent = s.send(m);
  VESK_TICK_D* d = tick_until(r, [](const VESK_TICK_D& d) { return d.flags != 0; });
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(sent);
  EXPECT_TRUE(has(out, "received new platform flags: 10\n")) << out;
  ASSERT_EQ(d->flags, 0x10u);
  for (int i = 2; i <= 51; ++i) ASSERT_EQ(r.tick()->flags, 0x10u) << i;
  EXPECT_EQ(r.tick()->flags, 0u);

  m.data = 0x80000010u;
  ASSERT_TRUE(s.send(m));
  tick_until(r, [](const VESK_TICK_D& d) { return d.flags != 0; });
  for (int i = 0; i < 60; ++i) ASSERT_EQ(r.tick()->flags, 0x80000010u) << i;
}

TEST(Control, InitialFlagsHoldBeyondControlTtl) {
  Robot r(NET_FLAG_SIM, 1, 0x5);
  for (int i = 0; i < 60; ++i) ASSERT_EQ(r.tick()->flags, 0x5u) << i;
}

TEST(Control, KinematicJointsSizeCheckStillRefreshesTtl) {
  Robot r(NET_FLAG_SIM, 1);
  Sender<sensor_msgs::JointState> s(test_nh(), r.topic("control/kinematic_joints"));
  Sender<std_msgs::UInt32> f(test_nh(), r.topic("control/flags"));
  std_msgs::UInt32 flags;
  flags.data = 0x20;
  ASSERT_TRUE(f.send(flags));
  tick_until(r, [](const VESK_TICK_D& d) { return d.flags == 0x20; });

  sensor_msgs::JointState m;
  m.position = {0.1, 0.2, 0.3, 0.4};
  m.name = {"a"};  // names are ignored
  ASSERT_TRUE(s.send(m));
  VESK_TICK_D* d = tick_until(r, [](const VESK_TICK_D& d) { return d.kinematic_joints[3] == 0.4f; });
  EXPECT_EQ(d->kinematic_joints[0], 0.1f);
  EXPECT_EQ(d->joints_set, 255);

  for (int i = 0; i < 30; ++i) r.tick();
  m.position = {9, 9, 9};
  testing::internal::CaptureStdout();
  ASSERT_TRUE(s.send(m));
  // The bad message refreshes the control ttl: flags hold 51 exchanges after it.
  int held = 0;
  wait_until([&] {
    ++held;
    return r.tick()->flags != 0x20;
  });
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(has(out,
                  "**** WARNING **** \n\tposition vector wrong size (!=4) in "
                  "control/kinematic_joints, ignoring input data\n"))
      << out;
  EXPECT_GE(held, 52);  // without the refresh the flags would drop after about 20
  EXPECT_EQ(r.tick()->kinematic_joints[3], 0.4f);
}

TEST(Control, CosmeticJointsReorderedAndChecked) {
  Robot r(NET_FLAG_SIM, 1);
  Sender<std_msgs::Float32MultiArray> s(test_nh(), r.topic("control/cosmetic_joints"));
  std_msgs::Float32MultiArray m;
  m.data = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  ASSERT_TRUE(s.send(m));
  VESK_TICK_D* d = tick_until(r, [](const VESK_TICK_D& d) { return d.cosmetic_joints[0] == 0.1f; });
  const float want[6] = {0.1f, 0.2f, 0.5f, 0.6f, 0.3f, 0.4f};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d->cosmetic_joints[i], want[i]) << i;

  m.data = {1, 1, 1, 1, 1, 1, 1};
  testing::internal::CaptureStdout();
  ASSERT_TRUE(s.send(m));
  wait_until([] { return false; }, 0.1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(has(out, "position vector wrong size (!=6) in control/cosmetic_joints, ignoring input data\n"))
      << out;
  d = r.tick();
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d->cosmetic_joints[i], want[i]) << i;
}

TEST(Control, IllumAndToneOnce) {
  Robot r(NET_FLAG_SIM, 1);
  Sender<std_msgs::UInt32MultiArray> il(test_nh(), r.topic("control/illum"));
  Sender<std_msgs::UInt16MultiArray> to(test_nh(), r.topic("control/tone"));
  std_msgs::UInt32MultiArray i6, i5;
  i6.data = {1, 2, 3, 4, 5, 0xfffffff0u};
  i5.data = {7, 7, 7, 7, 7};
  std_msgs::UInt16MultiArray t3, t4;
  t3.data = {440, 300, 20};
  t4.data = {1, 2, 3, 4};
  testing::internal::CaptureStdout();
  ASSERT_TRUE(il.send(i6));
  ASSERT_TRUE(to.send(t3));
  VESK_TICK_D* d = tick_until(r, [](const VESK_TICK_D& d) { return d.tone.value != 0; });
  EXPECT_EQ(d->tone.value, 440);
  EXPECT_EQ(d->tone.level, 44);
  EXPECT_EQ(d->tone.duration, 20);
  wait_until([&] { return r.tick()->illum[5] != 0; });
  ASSERT_TRUE(il.send(i5));
  ASSERT_TRUE(to.send(t4));
  wait_until([] { return false; }, 0.1);
  const std::string out = testing::internal::GetCapturedStdout();
  d = r.tick();
  EXPECT_EQ(d->tone.value, 0);
  EXPECT_EQ(d->tone.level, 0);
  EXPECT_EQ(d->tone.duration, 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d->illum[i], i6.data[i]) << i;
  EXPECT_TRUE(has(out, "illum vector wrong size (!=6) in control/illum\n")) << out;
  EXPECT_TRUE(has(out, "tone vector wrong size (!=3) in control/tone\n")) << out;
}

TEST(Control, CommandsSplitAndDeliveredOnce) {
  Robot r(NET_FLAG_SIM, 2);
  Sender<std_msgs::String> s(test_nh(), r.topic("control/command"));
  std_msgs::String m;
  m.data = "a;;b;";
  testing::internal::CaptureStdout();
  ASSERT_TRUE(s.send(m));
  VESK_TICK_D* d = tick_until(r, [](const VESK_TICK_D& d) { return !d.commands.empty(); });
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(d->commands, (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(has(out, "received command(s):\n\ta\n\t\n\tb\n")) << out;
  EXPECT_TRUE(r.tick()->commands.empty());
}

TEST(Control, StreamPacketsThroughReceive) {
  Robot r(NET_FLAG_SIM, 1);
  Sender<std_msgs::Int16MultiArray> s(test_nh(), r.topic("control/stream"));
  EXPECT_EQ(r.interf->receive(), nullptr);

  std_msgs::Int16MultiArray m;
  m.data = {0, 16384, -16384, -32768, 32767};
  ASSERT_TRUE(s.send(m));
  VESK_STREAM_PACKET* p = nullptr;
  ASSERT_TRUE(wait_until([&] { return (p = r.interf->receive()) != nullptr; }));
  EXPECT_EQ(p->length, 21u);
  EXPECT_EQ(p->magic, 0x00500000u);
  EXPECT_EQ(p->kind, 0x2202);
  const uint8_t want[5] = {128, 224, 32, 0, 255};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(p->samples[i], want[i]) << i;
  EXPECT_EQ(r.interf->receive(), nullptr);  // handed out once

  m.data.assign(4049, 1);
  testing::internal::CaptureStdout();
  ASSERT_TRUE(s.send(m));
  wait_until([] { return false; }, 0.1);
  EXPECT_EQ(r.interf->receive(), nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(has(out, "stream message must not exceed 4048 bytes in size")) << out;

  m.data.assign(4048, 0);
  ASSERT_TRUE(s.send(m));
  ASSERT_TRUE(wait_until([&] { return (p = r.interf->receive()) != nullptr; }));
  EXPECT_EQ(p->length, 4064u);

  m.data.clear();
  ASSERT_TRUE(s.send(m));
  ASSERT_TRUE(wait_until([&] { return (p = r.interf->receive()) != nullptr; }));
  EXPECT_EQ(p->length, 16u);
  EXPECT_EQ(p->fresh, 0);
}

}  // namespace
