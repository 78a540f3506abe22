// The message definitions are a wire contract with other programs: their
// checksums and serialised sizes must never drift.
#include <gtest/gtest.h>
#include <ros/message_traits.h>
#include <ros/serialization.h>
#include <vesk2_msg/BatteryState.h>
#include <vesk2_msg/animal_state.h>
#include <vesk2_msg/push.h>
#include <vesk2_msg/sensors_package.h>
#include <vesk2_msg/voice_state.h>

#include <string>

template <class M>
std::string md5() {
  return ros::message_traits::MD5Sum<M>::value();
}

TEST(Messages, ChecksumsMatchTheWireContract) {
  EXPECT_EQ("476f837fa6771f6e16e3bf4ef96f8770", md5<vesk2_msg::BatteryState>());
  EXPECT_EQ("429d8257e8e981414c3f64c0a1074b4d", md5<vesk2_msg::sensors_package>());
  EXPECT_EQ("e821a66f37dcfd027ec1d69a1734ae31", md5<vesk2_msg::voice_state>());
  EXPECT_EQ("02b89a84b06f59e91819662e7c3d6b0e", md5<vesk2_msg::animal_state>());
}

TEST(Messages, DatatypesCarryThePackageName) {
  EXPECT_STREQ("vesk2_msg/sensors_package",
               ros::message_traits::DataType<vesk2_msg::sensors_package>::value());
  EXPECT_STREQ("vesk2_msg/push", ros::message_traits::DataType<vesk2_msg::push>::value());
}

TEST(Messages, SerialisedSizesAreFixed) {
  vesk2_msg::push p;
  p.link = -3;
  p.pushvec.z = 1e9;
  EXPECT_EQ(56u, ros::serialization::serializationLength(p));
  vesk2_msg::animal_state a;
  a.sound_level = 0.5f;
  EXPECT_EQ(36u, ros::serialization::serializationLength(a));
  vesk2_msg::voice_state v;
  EXPECT_EQ(5u, ros::serialization::serializationLength(v));
}

TEST(Messages, PushRoundTripsThroughTheWire) {
  vesk2_msg::push p;
  p.link = 4;
  p.flags = 0x80000001u;
  p.pushpos.x = 0.1;
  p.pushvec.y = -0.25;
  uint8_t buf[56];
  ros::serialization::OStream out(buf, sizeof buf);
  ros::serialization::serialize(out, p);
  vesk2_msg::push q;
  ros::serialization::IStream in(buf, sizeof buf);
  ros::serialization::deserialize(in, q);
  EXPECT_EQ(p, q);
}

TEST(Messages, BatteryConstantsKeepTheirValues) {
  EXPECT_EQ(4, vesk2_msg::BatteryState::POWER_SUPPLY_STATUS_FULL);
  EXPECT_EQ(8, vesk2_msg::BatteryState::POWER_SUPPLY_HEALTH_SAFETY_TIMER_EXPIRE);
  EXPECT_EQ(6, vesk2_msg::BatteryState::POWER_SUPPLY_TECHNOLOGY_LIMN);
}
