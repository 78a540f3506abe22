// The real vocalsynth program against a real ROS master: each case starts the
// node as a child process (its own robot name, so no case hears another),
// drives it through its topics and reads its console output and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ros/ros.h>
#include <signal.h>
#include <std_msgs/Int16MultiArray.h>
#include <std_msgs/UInt16MultiArray.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vesk2_msg/animal_state.h>
#include <vesk2_msg/voice_state.h>
#include <vesk_support/child_process.h>

#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vesk_voice/fastmath.h"
#include "vesk_voice/voice_block.h"

namespace {

constexpr double kWait = 5.0;       // [s] longest wait for something that must happen
constexpr double kQuiet = 0.4;      // [s] how long "nothing happens" is watched
constexpr double kWakeEvery = 0.2;  // [s] wake-request period while a case keeps the node awake

// The node as a child process with its standard output and error collected.
class NodeProcess : public vesk_test::ChildProcess {
 public:
  // `env`: variables set in the child only, as "NAME=value".
  explicit NodeProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
      : ChildProcess(VOCALSYNTH_BIN, args, env) {}

  // Exit status after SIGINT, or -1 if it does not end in time.
  int interrupt() {
    ChildProcess::interrupt();
    return wait_exit(kWait);
  }
};

// The robot side of the node: publishes animal states and buffer reports,
// records the audio blocks and voice states.
class VoiceNodeTest : public ::testing::Test {
 protected:
  void start(const std::string& log = "info") {
    static int serial = 0;
    robot_ = "vt" + std::to_string(getpid()) + "x" + std::to_string(++serial);
    const std::string base = "/" + robot_ + "/";
    pub_state_ = nh_.advertise<vesk2_msg::animal_state>(base + "core/animal/state", 10);
    pub_report_ = nh_.advertise<std_msgs::UInt16MultiArray>(base + "sensors/stream", 10);
    sub_audio_ = nh_.subscribe(base + "control/stream", 100, &VoiceNodeTest::on_audio, this);
    sub_voice_ = nh_.subscribe(base + "core/voice_state", 100, &VoiceNodeTest::on_voice, this);
    node_.reset(new NodeProcess({"robot=" + robot_, "log=" + log}));
    ASSERT_TRUE(node_->started());
    ASSERT_TRUE(wait_until([this] {
      return pub_state_.getNumSubscribers() > 0 && pub_report_.getNumSubscribers() > 0 &&
             sub_audio_.getNumPublishers() > 0 && sub_voice_.getNumPublishers() > 0;
    })) << node_->output();
    // No wake request yet: the node's first pass after its start wait puts it to sleep.
    ASSERT_TRUE(wait_for_output("going to sleep...")) << node_->output();
  }

  void on_audio(const std_msgs::Int16MultiArray::ConstPtr& m) { audio_.push_back(*m); }
  void on_voice(const vesk2_msg::voice_state::ConstPtr& m) { voice_.push_back(*m); }

  void send_state(uint32_t flags, float valence = 0.4f, float arousal = 0.5f, float wakefulness = 0.9f,
                  float sound_level = 0.8f) {
    vesk2_msg::animal_state m;
    m.flags = flags;
    m.emotion.valence = valence;
    m.emotion.arousal = arousal;
    m.sleep.wakefulness = wakefulness;
    m.sound_level = sound_level;
    // The slots the voice does not read, set apart from the ones it does.
    m.mood.valence = -0.3f;
    m.mood.arousal = 0.2f;
    m.sleep.pressure = 0.6f;
    m.time_of_day = 0.1f;
    pub_state_.publish(m);
  }

  void send_report(std::vector<uint16_t> data) {
    std_msgs::UInt16MultiArray m;
    m.data = std::move(data);
    pub_report_.publish(m);
  }

  // Spins until `done` holds or `timeout` passes; while keep_awake_ is set,
  // sends a wake request every kWakeEvery seconds.
  template <class Pred>
  bool wait_until(Pred done, double timeout = kWait) {
    const ros::WallTime end = ros::WallTime::now() + ros::WallDuration(timeout);
    while (ros::WallTime::now() < end) {
      ros::spinOnce();
      if (done()) return true;
      if (keep_awake_ && ros::WallTime::now() > next_wake_) {
        send_state(1);
        next_wake_ = ros::WallTime::now() + ros::WallDuration(kWakeEvery);
      }
      ros::WallDuration(0.005).sleep();
    }
    ros::spinOnce();
    return done();
  }

  bool wait_for_output(const std::string& text, size_t times = 1, double timeout = kWait) {
    return wait_until([&] { return node_->count(text) >= times; }, timeout);
  }

  // Watches for kQuiet seconds; true when no more than `blocks` blocks have come.
  bool stays_at(size_t blocks) {
    wait_until([&] { return audio_.size() > blocks; }, kQuiet);
    return audio_.size() == blocks && voice_.size() == blocks;
  }

  // Sends a wake request, waits until the node wakes, and keeps it awake.
  void wake() {
    const size_t before = node_->count("waking up...");
    send_state(1);
    ASSERT_TRUE(wait_for_output("waking up...", before + 1)) << node_->output();
    keep_awake_ = true;
    next_wake_ = ros::WallTime::now() + ros::WallDuration(kWakeEvery);
  }

  // Sends one report and waits for the block it asks for.
  void expect_one_block(std::vector<uint16_t> report) {
    const size_t before = audio_.size();
    send_report(std::move(report));
    ASSERT_TRUE(wait_until([&] { return audio_.size() > before && voice_.size() > before; }))
        << node_->output();
    EXPECT_TRUE(stays_at(before + 1)) << "exactly one block per report";
  }

  // Sends one report and waits for its block, without watching for more.
  bool next_block(std::vector<uint16_t> report) {
    const size_t before = audio_.size();
    send_report(std::move(report));
    return wait_until([&] { return audio_.size() > before && voice_.size() > before; });
  }

  static bool all_zero(const std_msgs::Int16MultiArray& m) {
    for (int16_t x : m.data)
      if (x != 0) return false;
    return true;
  }

  ros::NodeHandle nh_;
  ros::Publisher pub_state_, pub_report_;
  ros::Subscriber sub_audio_, sub_voice_;
  std::unique_ptr<NodeProcess> node_;
  std::string robot_;
  std::vector<std_msgs::Int16MultiArray> audio_;
  std::vector<vesk2_msg::voice_state> voice_;
  bool keep_awake_ = false;
  ros::WallTime next_wake_;
};

TEST_F(VoiceNodeTest, StartUpAnnouncesTopicsInOrderAndSigintEndsWithStatusZero) {
  start();
  const std::string out = node_->output();
  const std::string base = "/" + robot_ + "/";
  const size_t init = out.find("initialising ROS node \"" + robot_ + "_vocalsynth\"...");
  const size_t s1 = out.find("subscribing to \"" + base + "core/animal/state\"...");
  const size_t s2 = out.find("subscribing to \"" + base + "sensors/stream\"...");
  const size_t p1 = out.find("publishing to \"" + base + "core/voice_state\"...");
  const size_t p2 = out.find("publishing to \"" + base + "control/stream\"...");
  ASSERT_NE(init, std::string::npos) << out;
  ASSERT_NE(p2, std::string::npos) << out;
  EXPECT_LT(init, s1);
  EXPECT_LT(s1, s2);
  EXPECT_LT(s2, p1);
  EXPECT_LT(p1, p2);
  EXPECT_EQ(node_->interrupt(), 0) << "Ctrl-C ends the node with status 0\n" << node_->output();
}

// Started before its master, the node waits for it and still ends on Ctrl-C
// with status 0 (roscpp alone would retry for ever and ignore Ctrl-C).
TEST_F(VoiceNodeTest, CtrlCWhileWaitingForTheMasterEndsWithStatusZero) {
  NodeProcess node({"robot=nomaster"}, {"ROS_MASTER_URI=http://127.0.0.1:1/"});
  ASSERT_TRUE(node.started());
  const ros::WallTime end = ros::WallTime::now() + ros::WallDuration(kWait);
  while (node.count("waiting for the ROS master") == 0 && ros::WallTime::now() < end)
    ros::WallDuration(0.01).sleep();
  EXPECT_EQ(node.count("**** WARNING **** \n\twaiting for the ROS master at http://127.0.0.1:1/\n"), 1u)
      << node.output();
  EXPECT_EQ(node.interrupt(), 0) << node.output();
  EXPECT_EQ(node.count("subscribing to"), 0u) << node.output();
}

TEST_F(VoiceNodeTest, WithoutAnimalStateItSleepsAndPublishesNothing) {
  start();
  for (int k = 0; k < 3; ++k) {
    send_report({100, 1699});
    wait_until([] { return false; }, 0.15);
  }
  EXPECT_TRUE(stays_at(0));
  EXPECT_EQ(node_->count("waking up..."), 0u) << node_->output();
}

// Pacing by the robot's buffer reports, on one node: a block for each report
// whose remainder (second value minus first) is at most 1599, none above, the
// underflow warning at exactly 0, and short reports refused. The blocks are
// the model's own output for the inputs in slots 1, 2, 5 and 8, bit for bit.
TEST_F(VoiceNodeTest, PacingByBufferReports) {
  start("verb");
  wake();

  send_report({100, 1700});  // 1600: consumed, nothing produced
  EXPECT_TRUE(stays_at(0));
  EXPECT_EQ(node_->count("buffer_rem "), 0u) << node_->output();

  expect_one_block({100, 1699});  // 1599
  EXPECT_EQ(node_->count("buffer_rem 1599\n"), 1u) << node_->output();
  EXPECT_EQ(node_->count("buffer underflow"), 0u) << node_->output();

  expect_one_block({500, 500});  // 0: underflow, still a block
  EXPECT_EQ(node_->count("buffer_rem 0\n"), 1u) << node_->output();
  EXPECT_EQ(node_->count("**** WARNING **** \n\tbuffer underflow\n"), 1u) << node_->output();

  expect_one_block({1000, 10});  // negative
  EXPECT_EQ(node_->count("buffer_rem -990\n"), 1u) << node_->output();
  EXPECT_EQ(node_->count("buffer underflow"), 1u) << "only an empty buffer is an underflow";

  send_report({700});
  EXPECT_TRUE(stays_at(3));
  send_report({});
  EXPECT_TRUE(stays_at(3));
  EXPECT_EQ(node_->count("stream report with fewer than two values ignored"), 1u) << node_->output();
  expect_one_block({100, 1699});
  ASSERT_EQ(audio_.size(), 4u);

  rng_seed = kRngSeedStart;  // as at the node's start
  VOCS_STATE model;
  vocalsynth_init(model);
  std::vector<int16_t> expected(kVoiceBlockSamples);
  for (size_t b = 0; b < audio_.size(); ++b) {
    SCOPED_TRACE("block " + std::to_string(b));
    const std_msgs::Int16MultiArray& a = audio_[b];
    ASSERT_EQ(a.layout.dim.size(), 1u);
    EXPECT_EQ(a.layout.dim[0].label, "");
    EXPECT_EQ(a.layout.dim[0].size, 320u);
    EXPECT_EQ(a.layout.dim[0].stride, 1u);
    EXPECT_EQ(a.layout.data_offset, 0u);
    const VoiceBlockResult r = vocalsynth_update(model, {0.4f, 0.5f, 0.9f, 0.8f}, expected.data());
    EXPECT_EQ(a.data, expected);
    EXPECT_EQ(voice_[b].breathing_phase, r.breathing_phase);
    EXPECT_EQ(voice_[b].vocalising, r.vocalising);
    EXPECT_GE(voice_[b].breathing_phase, 0.0f);
    EXPECT_LT(voice_[b].breathing_phase, 6.2831855f);
  }
}

TEST_F(VoiceNodeTest, SilentLogLevelHidesTheUnderflowWarning) {
  start("silent");
  wake();
  expect_one_block({500, 500});
  EXPECT_EQ(node_->count("buffer underflow"), 0u) << node_->output();
}

TEST_F(VoiceNodeTest, FallsAsleepOneSecondAfterTheLastWakeRequest) {
  start();
  wake();
  keep_awake_ = false;
  const ros::WallTime last_wake = ros::WallTime::now();
  send_state(1);
  // States without the wake bit update the inputs but do not keep it awake.
  int pass = 0;
  ASSERT_TRUE(wait_until([&] {
    if (++pass % 20 == 0) send_state(0);
    return node_->count("going to sleep...") >= 2;
  })) << node_->output();
  EXPECT_GE((ros::WallTime::now() - last_wake).toSec(), 0.95);
  send_report({100, 1699});
  EXPECT_TRUE(stays_at(0)) << "asleep: no block";
  // The report waits; the next wake request brings its block.
  send_state(1);
  EXPECT_TRUE(wait_until([&] { return audio_.size() == 1 && voice_.size() == 1; })) << node_->output();
}

// NaN or infinite inputs are refused and the previous ones kept; inputs so huge
// that the model overflows give silence, not garbage, and the voice recovers.
TEST_F(VoiceNodeTest, BadAnimalStatesDoNotPoisonTheVoice) {
  start();
  wake();
  keep_awake_ = false;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Up to n blocks, each after a wake request carrying the given inputs;
  // counts the blocks with sound, stopping at the first when `until_sound`.
  auto blocks = [&](int n, float valence, float arousal, bool until_sound) {
    int sounding = 0;
    for (int k = 0; k < n && !(until_sound && sounding > 0); ++k) {
      send_state(1, valence, arousal);
      wait_until([] { return false; }, 0.02);  // the state is handled before the report
      if (!next_block({100, 1699})) {
        ADD_FAILURE() << "no block\n" << node_->output();
        break;
      }
      sounding += !all_zero(audio_.back());
      EXPECT_TRUE(std::isfinite(voice_.back().breathing_phase));
    }
    return sounding;
  };
  EXPECT_GT(blocks(25, 0.4f, 0.5f, true), 0);

  EXPECT_GT(blocks(25, nan, 0.5f, true), 0) << "the previous inputs are kept";
  EXPECT_GT(blocks(25, 0.4f, inf, true), 0);
  EXPECT_EQ(node_->count("animal state with a non-finite input ignored"), 1u) << node_->output();

  EXPECT_EQ(blocks(5, 0.4f, 1e30f, false), 0) << "an overflowing model gives silence";
  EXPECT_EQ(node_->count("voice model state became non-finite"), 1u) << node_->output();

  EXPECT_GT(blocks(25, 0.4f, 0.5f, true), 0) << "the voice recovers";
  EXPECT_EQ(audio_.size(), voice_.size()) << "one voice state per block";
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "vocalsynth_node_test");
  ros::NodeHandle keep;  // keeps the test's node up across the cases
  return RUN_ALL_TESTS();
}
