// Fuzz target: the interface's control topics. The first byte picks the topic, the rest is
// the message as it would come off the wire (roscpp's serialisation); the message is applied
// as the control callback applies it, and two ticks take the result. Whatever arrives, the
// platform gets finite body velocities and joint targets.
#include <vesk_support/fuzz_input.h>

#include <cmath>
#include <cstdlib>
#include <iostream>

#include "../src/control_messages.h"

namespace {

template <template <class> class MsgT>
void apply(vesk::Inbuf& inbuf, const uint8_t* data, size_t size) {
  MsgT<std::allocator<void>> msg;
  if (vesk_fuzz::decode<MsgT>(data, size, msg)) vesk::apply_control(inbuf, msg);
}

void check_finite(const char* field, const float* v, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) {
      std::cerr << "the platform gets " << field << "[" << i << "] = " << v[i] << std::endl;
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  VESK_TOOL_CONFIG tool;
  tool.verbosity = 2;
  vesk::Inbuf inbuf;
  inbuf.init(0, &tool);
  const uint8_t* body = data + 1;
  const size_t n = size - 1;
  switch (data[0] % 8) {
    case 0:
      apply<geometry_msgs::TwistStamped_>(inbuf, body, n);
      break;
    case 1:
      apply<sensor_msgs::JointState_>(inbuf, body, n);
      break;
    case 2:
      apply<std_msgs::Float32MultiArray_>(inbuf, body, n);
      break;
    case 3:
      apply<std_msgs::UInt32MultiArray_>(inbuf, body, n);
      break;
    case 4:
      apply<std_msgs::UInt16MultiArray_>(inbuf, body, n);
      break;
    case 5:
      apply<std_msgs::Int16MultiArray_>(inbuf, body, n);
      break;
    case 6:
      apply<std_msgs::UInt32_>(inbuf, body, n);
      break;
    case 7:
      apply<std_msgs::String_>(inbuf, body, n);
      break;
  }
  for (int tick = 0; tick < 2; ++tick) {
    const VESK_TICK_D* d = inbuf.exchange();
    check_finite("body_vel", d->body_vel, 2);
    check_finite("kinematic_joints", d->kinematic_joints, 4);
    check_finite("cosmetic_joints", d->cosmetic_joints, 6);
    inbuf.take_packet();
  }
  return 0;
}
