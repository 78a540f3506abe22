// vocalsynth: the robot's voice. Listens to the animal state, keeps the vocal
// model running and streams 320-sample blocks to the robot's speaker whenever
// the robot reports that its audio buffer holds at most 1599 samples. Sleeps
// (synthesises nothing) when no wake request has come for one second.
//
// Single-threaded: the callbacks run inside ros::spinOnce() on the main
// thread, so the globals below need no lock.
#include <ros/ros.h>
#include <std_msgs/Int16MultiArray.h>
#include <std_msgs/UInt16MultiArray.h>
#include <unistd.h>
#include <vesk2_msg/animal_state.h>
#include <vesk2_msg/voice_state.h>

#include <iostream>

#include "vesk_support/master_watch.h"
#include "vesk_support/node.h"
#include "vesk_support/os.h"
#include "vesk_voice/voice_block.h"

namespace {

constexpr const char* kWord = "vocalsynth";
constexpr float kIdleTimeout = 1.0f;  // [s] asleep this long after the last wake request
constexpr unsigned kSleepPassMs = 100;
constexpr useconds_t kIdlePassUs = 2000;
constexpr uint32_t kFlagWakeRequest = 1u;

}  // namespace

NodeOptions opt;
AffState aff_state;    // model inputs from the newest valid animal state
os::Timer timer_idle;  // since the last wake request
bool g_ready = false;  // a buffer report came in since the last pass
int32_t g_stream_buffer_rem = 0;

// The node's ROS handles; declared so that C++ releases the subscribers, then
// the publishers, then the node handle.
struct RosInterf {
  ros::NodeHandle nh;
  ros::Publisher pub_stream;
  ros::Publisher pub_voice_state;
  ros::Subscriber sub_animal_state;
  ros::Subscriber sub_stream;
};
RosInterf* rosinterf = nullptr;

namespace {

// Bad messages are reported once per run of them, not at the message rate.
bool g_warned_animal_state = false;
bool g_warned_stream = false;
bool g_warned_restore = false;

void warn_if(bool* already, const std::string& msg) {
  if (*already) return;
  *already = true;
  if (opt.log > 0) os::warn(msg);
}

}  // namespace

void callback_animal_state(const vesk2_msg::animal_state::ConstPtr& msg) {
  const AffState in{msg->emotion.valence, msg->emotion.arousal, msg->sleep.wakefulness, msg->sound_level};
  if (aff_state_finite(in)) {
    aff_state = in;
    g_warned_animal_state = false;
  } else {
    warn_if(&g_warned_animal_state, "animal state with a non-finite input ignored (previous inputs kept)");
  }
  if (msg->flags & kFlagWakeRequest) timer_idle.reset();
}

void callback_stream(const std_msgs::UInt16MultiArray::ConstPtr& msg) {
  int32_t rem = 0;
  if (!stream_remainder(msg->data.data(), msg->data.size(), &rem)) {
    warn_if(&g_warned_stream, "stream report with fewer than two values ignored");
    return;
  }
  g_warned_stream = false;
  g_ready = true;
  g_stream_buffer_rem = rem;
}

void vocalsynth_update(VOCS_STATE& state, float in0, float in1, float in2,
                       vesk2_msg::voice_state& voice_state, std_msgs::Int16MultiArray& samples) {
  const VoiceBlockResult r = vocalsynth_update(state, {in0, in1, in2, aff_state.in3}, samples.data.data());
  voice_state.breathing_phase = r.breathing_phase;
  voice_state.vocalising = r.vocalising;
  if (r.restored) {
    warn_if(&g_warned_restore, "voice model state became non-finite: restored, block silenced");
  } else {
    g_warned_restore = false;
  }
}

// Leaves rosinterf null when Ctrl-C came while waiting for the master.
void ros_preinit() {
  ros_init_node(kWord, opt);
  if (!wait_for_master(opt)) return;
  rosinterf = new RosInterf;
}

namespace {

void run() {
  VOCS_STATE state;
  vocalsynth_init(state);

  struct Release {
    ~Release() {
      delete rosinterf;
      rosinterf = nullptr;
    }
  } release;
  ros_preinit();
  if (rosinterf == nullptr) return;  // Ctrl-C before the master came up

  const std::string base = base_topic(opt);
  const ros::TransportHints no_delay = ros::TransportHints().tcpNoDelay();
  const std::string topic_state = base + "core/animal/state";
  announce_subscribe(topic_state);
  rosinterf->sub_animal_state = rosinterf->nh.subscribe(topic_state, 1, callback_animal_state, no_delay);
  const std::string topic_report = base + "sensors/stream";
  announce_subscribe(topic_report);
  rosinterf->sub_stream = rosinterf->nh.subscribe(topic_report, 1, callback_stream, no_delay);
  const std::string topic_voice = base + "core/voice_state";
  announce_publish(topic_voice);
  rosinterf->pub_voice_state = rosinterf->nh.advertise<vesk2_msg::voice_state>(topic_voice, 1, false);
  const std::string topic_audio = base + "control/stream";
  announce_publish(topic_audio);
  rosinterf->pub_stream = rosinterf->nh.advertise<std_msgs::Int16MultiArray>(topic_audio, 0, false);

  std_msgs::Int16MultiArray audio;
  audio.layout.dim.resize(1);
  audio.layout.dim[0].label = "";
  audio.layout.dim[0].size = kVoiceBlockSamples;
  audio.layout.dim[0].stride = 1;
  audio.layout.data_offset = 0;
  audio.data.resize(kVoiceBlockSamples);
  vesk2_msg::voice_state voice_state;

  MasterWatch master_watch(MasterWatch::kNodeEnds);
  timer_idle.reset();
  while (timer_idle.elapsed() < kIdleTimeout && !is_interrupted()) os::msleep(kSleepPassMs);

  bool sleeping = false;
  while (node_running()) {
    if (master_watch.restarted()) os::fail(MasterWatch::kNodeFailure);
    ros::spinOnce();

    const bool idle = timer_idle.elapsed() >= kIdleTimeout;
    if (sleeping) {
      if (idle) {
        os::msleep(kSleepPassMs);
        continue;
      }
      std::cout << os::cout_global_elapsed() << "waking up..." << std::endl;
    } else if (idle) {
      std::cout << os::cout_global_elapsed() << "going to sleep..." << std::endl;
      sleeping = true;
      continue;
    }

    if (!g_ready) {
      usleep(kIdlePassUs);
    } else {
      g_ready = false;
      if (block_due(g_stream_buffer_rem)) {
        if (opt.log > 2)
          std::cout << os::cout_global_elapsed() << "buffer_rem " << g_stream_buffer_rem << std::endl;
        if (g_stream_buffer_rem == 0 && opt.log > 0) os::warn("buffer underflow");
        vocalsynth_update(state, aff_state.in0, aff_state.in1, aff_state.in2, voice_state, audio);
        rosinterf->pub_stream.publish(audio);
        rosinterf->pub_voice_state.publish(voice_state);
      }
    }
    sleeping = false;
  }
}

}  // namespace

int main(int argc, char** argv) { return run_node(kWord, false, argc, argv, opt, run); }
