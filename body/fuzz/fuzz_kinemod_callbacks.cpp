// Fuzz target: kinemod's subscriptions. The first byte picks the topic ("sensors/package",
// "core/mpg/push", "core/mpg/reset"), the rest is the message as it would come off the wire
// (roscpp's serialisation). The node's own callback takes it, then the processing pass that
// the main loop would run; the body velocity and joint angles it reports stay finite.
// The node's source is compiled in here (its main renamed) to reach its callbacks.
#include <geometry_msgs/TwistStamped.h>
#include <ros/callback_queue.h>
#include <ros/ros.h>
#include <sensor_msgs/JointState.h>
#include <std_msgs/Float32.h>
#include <std_msgs/UInt32.h>
#include <vesk2_msg/push.h>
#include <vesk2_msg/sensors_package.h>
#include <vesk_support/fuzz_input.h>

#include <boost/make_shared.hpp>
#include <cmath>
#include <cstdlib>

#define main kinemod_node_main
#include "../src/kinemod.cpp"
#undef main

namespace {

template <template <class> class MsgT>
bool decode(const uint8_t* data, size_t size, boost::shared_ptr<MsgT<std::allocator<void>>>& out) {
  out = boost::make_shared<MsgT<std::allocator<void>>>();
  return vesk_fuzz::decode<MsgT>(data, size, *out);
}

void check_finite(const char* what, float v) {
  if (!std::isfinite(v)) {
    std::cerr << "kinemod reports " << what << " = " << v << std::endl;
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  opt.log = 1;
  body_opt.log = 1;
  body_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  body_u_reset(0);
  g_pushes.clear();
  g_pushes_ready = false;
  g_sensors_received = false;
  const uint8_t* body = data + 1;
  const size_t n = size - 1;
  switch (data[0] % 3) {
    case 0: {
      boost::shared_ptr<vesk2_msg::sensors_package> msg;
      if (decode<vesk2_msg::sensors_package_>(body, n, msg)) callback_sensors_package(msg);
      break;
    }
    case 1: {
      boost::shared_ptr<vesk2_msg::push> msg;
      if (decode<vesk2_msg::push_>(body, n, msg)) callback_push(msg);
      break;
    }
    case 2: {
      boost::shared_ptr<std_msgs::UInt32> msg;
      if (decode<std_msgs::UInt32_>(body, n, msg)) callback_reset(msg);
      break;
    }
  }
  if (g_pushes_ready) {
    VESK_BODY_VEL vel;
    body_process(vel);
    check_finite("a forward velocity", vel.forward);
    check_finite("a turn rate", vel.turn);
  }
  float config[4];
  body_get(config);
  for (float c : config) check_finite("a joint angle", c);
  return 0;
}
