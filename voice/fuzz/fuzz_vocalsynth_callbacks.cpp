// Fuzz target: vocalsynth's subscriptions. The first byte picks the topic
// ("core/animal/state", "sensors/stream"), the rest is the message as it would come off the
// wire (roscpp's serialisation). The node's own callback takes it, then one voice block is
// made from the inputs in force; the samples stay within 16 bits by construction, the
// breathing phase stays finite. The node's source is compiled in here (its main renamed)
// to reach its callbacks.
#include <ros/ros.h>
#include <std_msgs/Int16MultiArray.h>
#include <std_msgs/UInt16MultiArray.h>
#include <unistd.h>
#include <vesk2_msg/animal_state.h>
#include <vesk2_msg/voice_state.h>
#include <vesk_support/fuzz_input.h>

#include <boost/make_shared.hpp>
#include <cmath>
#include <cstdlib>
#include <iostream>

#define main vocalsynth_node_main
#include "../src/vocalsynth.cpp"
#undef main

namespace {
VOCS_STATE g_state;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  opt.log = 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  vocalsynth_init(g_state);
  aff_state = AffState();
  g_ready = false;
  const uint8_t* body = data + 1;
  const size_t n = size - 1;
  if (data[0] % 2 == 0) {
    auto msg = boost::make_shared<vesk2_msg::animal_state>();
    if (vesk_fuzz::decode<vesk2_msg::animal_state_>(body, n, *msg)) callback_animal_state(msg);
  } else {
    auto msg = boost::make_shared<std_msgs::UInt16MultiArray>();
    if (vesk_fuzz::decode<std_msgs::UInt16MultiArray_>(body, n, *msg)) callback_stream(msg);
  }
  if (g_ready) block_due(g_stream_buffer_rem);
  std_msgs::Int16MultiArray audio;
  audio.data.resize(kVoiceBlockSamples);
  vesk2_msg::voice_state voice_state;
  vocalsynth_update(g_state, aff_state.in0, aff_state.in1, aff_state.in2, voice_state, audio);
  if (!std::isfinite(voice_state.breathing_phase)) std::abort();
  return 0;
}
