// Layout and defaults of the platform records.
#include <gtest/gtest.h>

#include <cstring>

#include "vesk_net/records.h"

namespace {

template <typename T>
void put(uint8_t* bytes, size_t offset, T value) {
  std::memcpy(bytes + offset, &value, sizeof(T));
}

TEST(TickD, ResetGivesDefaults) {
  VESK_TICK_D d;
  std::memset(static_cast<void*>(&d), 0x5a, offsetof(VESK_TICK_D, commands));
  d.commands.push_back("frame=360w");
  d.reset();
  EXPECT_FLOAT_EQ(d.kinematic_joints[0], -6.0f * 3.14159265f / 180.0f);
  EXPECT_FLOAT_EQ(d.kinematic_joints[1], 34.0f * 3.14159265f / 180.0f);
  EXPECT_EQ(d.kinematic_joints[2], 0.0f);
  EXPECT_EQ(d.kinematic_joints[3], 0.0f);
  const float cosmetic[6] = {0.0f, 0.5f, 0.3333f, 0.3333f, 0.0f, 0.0f};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d.cosmetic_joints[i], cosmetic[i]) << i;
  EXPECT_NE(d.cosmetic_joints[2], 1.0f / 3.0f);
  EXPECT_EQ(d.joints_set, 255);
  EXPECT_EQ(d.flags, 0u);
  EXPECT_EQ(d.tone.value, 0);
  EXPECT_EQ(d.tone.level, 0);
  EXPECT_EQ(d.tone.duration, 0);
  for (uint32_t v : d.illum) EXPECT_EQ(v, 0u);
  EXPECT_EQ(d.body_vel[0], 0.0f);
  EXPECT_EQ(d.body_vel[1], 0.0f);
  for (uint8_t b : d.reserved0) EXPECT_EQ(b, 0);
  for (uint8_t b : d.reserved2) EXPECT_EQ(b, 0);
  for (uint16_t b : d.reserved3) EXPECT_EQ(b, 0);
  EXPECT_TRUE(d.commands.empty());
}

TEST(TickD, ConstructedAtDefaults) {
  VESK_TICK_D d;
  EXPECT_EQ(d.joints_set, 255);
  EXPECT_EQ(d.cosmetic_joints[1], 0.5f);
  EXPECT_EQ(d.kinematic_joints[1], TICK_D_DEFAULT_LIFT);
}

// A physical platform writes the upward record as raw bytes; the fields must
// read back what it wrote at its offsets.
TEST(TickU, FieldsAtPlatformOffsets) {
  alignas(VESK_TICK_U) uint8_t raw[sizeof(VESK_TICK_U)] = {};
  put<uint32_t>(raw, 12, 0xdeadbeef);
  put<int32_t>(raw, 32, 999990000);
  put<uint16_t>(raw, 36, 7);
  put<uint16_t>(raw, 38, 8);
  put<float>(raw, 44, 0.25f);    // wheel_speed_cmd right
  put<float>(raw, 48, -0.5f);    // wheel_speed_opto left
  put<float>(raw, 60, 1.5f);     // back emf right
  put<float>(raw, 64, 2.5f);     // pwm left
  put<float>(raw, 92, 0.75f);    // joint_pos pitch
  put<float>(raw, 96, 3.0f);     // joint_effort tilt
  put<float>(raw, 124, 0.125f);  // light 3
  put<float>(raw, 128, 4.8f);
  put<uint16_t>(raw, 132, 0x1234);
  put<uint16_t>(raw, 134, 0x4321);
  put<int16_t>(raw, 136, 8192);
  put<int16_t>(raw, 140, -8192);
  put<int16_t>(raw, 158, 55);  // imu_head y
  raw[176] = 15;
  raw[177] = 3;
  put<float>(raw, 180, 0.42f);
  put<uint16_t>(raw, 184, 0xbeef);
  put<float>(raw, 1368, -1.25f);  // body_pose theta

  VESK_TICK_U u;
  std::memcpy(&u, raw, sizeof(u));
  EXPECT_EQ(u.flags, 0xdeadbeefu);
  EXPECT_EQ(u.tick_stamp, 999990000);
  EXPECT_EQ(u.stream[0], 7);
  EXPECT_EQ(u.stream[1], 8);
  EXPECT_EQ(u.wheel_speed_cmd[1], 0.25f);
  EXPECT_EQ(u.wheel_speed_opto[0], -0.5f);
  EXPECT_EQ(u.wheel_speed_back_emf[1], 1.5f);
  EXPECT_EQ(u.wheel_effort_pwm[0], 2.5f);
  EXPECT_EQ(u.joint_pos[3], 0.75f);
  EXPECT_EQ(u.joint_effort[0], 3.0f);
  EXPECT_EQ(u.light[3], 0.125f);
  EXPECT_EQ(u.battery_voltage, 4.8f);
  EXPECT_EQ(u.touch_body, 0x1234);
  EXPECT_EQ(u.touch_head, 0x4321);
  EXPECT_EQ(u.imu_body.acc[0], 8192);
  EXPECT_EQ(u.imu_body.acc[2], -8192);
  EXPECT_EQ(u.imu_head.acc[1], 55);
  EXPECT_EQ(u.cliff[0], 15);
  EXPECT_EQ(u.cliff[1], 3);
  EXPECT_EQ(u.sonar, 0.42f);
  EXPECT_EQ(u.dip, 0xbeef);
  EXPECT_EQ(u.body_pose[2], -1.25f);
}

TEST(Frame, HeaderFieldsAtWireOffsets) {
  alignas(VESK_MSG_FRAME) uint8_t raw[FRAME_HEADER_BYTES] = {};
  put<uint32_t>(raw, 4, 1234);
  put<uint16_t>(raw, 16, 77);
  raw[18] = 3;
  put<uint16_t>(raw, 20, FRAME_FLAG_JPEG);
  put<uint16_t>(raw, 28, 640);
  put<uint16_t>(raw, 30, 360);
  put<int32_t>(raw, 36, 123456);
  VESK_MSG_FRAME f;
  std::memcpy(&f, raw, FRAME_HEADER_BYTES);
  EXPECT_EQ(f.size, 1234u);
  EXPECT_EQ(f.seq, 77);
  EXPECT_EQ(f.stream_index, 3);
  EXPECT_EQ(f.flags, FRAME_FLAG_JPEG);
  EXPECT_EQ(f.width, 640);
  EXPECT_EQ(f.height, 360);
  EXPECT_EQ(f.clock, 123456);
}

TEST(FrameGeom, ComparesAllSixFields) {
  const VESK_FRAME_GEOM a = {640, 360, {0, 0, 0, 0}};
  VESK_FRAME_GEOM b = a;
  EXPECT_TRUE(comp_frame_geom(a, b));
  EXPECT_TRUE(comp_frame_geom(&a, &b));
  for (int field = 0; field < 6; ++field) {
    b = a;
    uint16_t* fields = &b.width;
    if (field < 2) {
      fields[field] += 1;
    } else {
      b.aux[field - 2] = 1;
    }
    EXPECT_FALSE(comp_frame_geom(a, b)) << "field " << field;
  }
}

TEST(FrameGeom, ReservedBytesOfStreamEntryIgnored) {
  VESK_PLATFORM_PARS p = {};
  p.stream[0].stream_geom = {320, 240, {0, 0, 0, 0}};
  p.stream[1] = p.stream[0];
  p.stream[1].reserved[0] = 9;
  EXPECT_TRUE(comp_frame_geom(p.stream[0].stream_geom, p.stream[1].stream_geom));
}

TEST(StreamPacket, PresetHeader) {
  VESK_STREAM_PACKET p;
  std::memset(&p, 0xff, sizeof(p));
  p.preset();
  alignas(VESK_STREAM_PACKET) uint8_t raw[16];
  std::memcpy(raw, &p, 16);
  uint32_t magic, length, reserved;
  uint16_t kind, fresh;
  std::memcpy(&magic, raw, 4);
  std::memcpy(&length, raw + 4, 4);
  std::memcpy(&kind, raw + 8, 2);
  std::memcpy(&fresh, raw + 10, 2);
  std::memcpy(&reserved, raw + 12, 4);
  EXPECT_EQ(magic, 0x00500000u);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(kind, 0x2202);
  EXPECT_EQ(fresh, 0);
  EXPECT_EQ(reserved, 0u);
}

}  // namespace
