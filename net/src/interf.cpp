// VESK_NET_INTERF: construction (ROS start-up and the wait for the master),
// mode dispatch and teardown.
#include "vesk_net/interf.h"

#include <vesk_support/master_wait.h>
#include <vesk_support/os.h>

#include <cctype>
#include <iostream>

#include "interf_ros.h"

namespace {

constexpr unsigned kMasterAttempts = 60;
constexpr unsigned kSlicesPerAttempt = 10;  // of 100 ms

// A ROS base name: a letter, then letters, digits and underscores.
bool valid_robot_name(const std::string& name) {
  if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

bool exit_requested(const VESK_NET_CONFIG* cfg) {
  // Written by another thread of the platform while we wait.
  return *static_cast<const volatile int32_t*>(&cfg->exit_request) != 0;
}

// Initialises ROS for the process and waits for the master.
void open_ros(VESK_NET_CONFIG* cfg, int verbosity) {
  if (verbosity > 1) std::cout << os::cout_global_elapsed() << "opening ROS interface...";
  std::cout.flush();

  int argc = 0;
  ros::init(argc, nullptr, cfg->robot_name, ros::init_options::NoSigintHandler);

  bool missed = false;
  const MasterWait result = wait_for_ros_master(
      kMasterAttempts, kSlicesPerAttempt, [cfg] { return exit_requested(cfg); },
      [verbosity, &missed](unsigned attempt) {
        missed = true;
        if (verbosity > 1) {
          if (attempt == 0) std::cout << std::endl;
          std::cout << "\tfailed to reach ROS master..." << std::endl;
        }
      });
  if (result == MasterWait::stopped) os::fail("user requests exit whilst seeking ROS master");
  if (result == MasterWait::absent) os::fail("could not contact ROS master");
  if (verbosity > 1) std::cout << (missed ? "\tOK" : " OK!") << std::endl;
}

}  // namespace

VESK_NET_INTERF::VESK_NET_INTERF(VESK_NET_CONFIG* net_config, VESK_TOOL_CONFIG* tool_config,
                                 VESK_PLATFORM_PARS* platform_pars)
    : mode_(net_config->mode), tool_config_(tool_config), ros_(nullptr) {
  local_.reset();
  if (mode_ == NET_MODE_OFFLINE) return;
  if (mode_ != NET_MODE_ROS) os::fail("not implemented");

  // The robot name becomes the node name and the topic namespace; a name ROS
  // would refuse (say a model name with a '-') gets a clear failure here.
  if (!valid_robot_name(net_config->robot_name)) {
    os::fail("invalid robot name \"" + net_config->robot_name +
             "\" (a letter, then letters, digits and '_')");
  }
  if (!ros::isInitialized()) open_ros(net_config, tool_config_->verbosity);
  ros_ = new vesk::VESK_NET_INTERF_ROS(net_config, tool_config, platform_pars);
}

VESK_NET_INTERF::~VESK_NET_INTERF() {
  if (mode_ == NET_MODE_ROS && ros_ != nullptr) {
    ros_->stop_master_watch();
    if (--vesk::ros_interf_count == 0) ros::shutdown();
    delete ros_;
    ros_ = nullptr;
  }
  local_.reset();
}

VESK_TICK_D* VESK_NET_INTERF::exchange(VESK_TICK_U& tick_u) {
  if (ros_ == nullptr) return &local_;
  return ros_->exchange(tick_u);
}

VESK_STREAM_PACKET* VESK_NET_INTERF::receive() {
  if (ros_ == nullptr) return nullptr;
  return ros_->receive();
}

void VESK_NET_INTERF::publish_frame(const VESK_MSG_FRAME* frame) {
  if (ros_ != nullptr && frame != nullptr) ros_->publish_frame(frame);
}

bool VESK_NET_INTERF::stream_watched(unsigned stream_index) const {
  return ros_ != nullptr && ros_->stream_watched(stream_index);
}

void VESK_NET_INTERF::set_camera_model(unsigned stream_index, const VESK_CAMERA_MODEL& model) {
  if (ros_ != nullptr) ros_->set_camera_model(stream_index, model);
}

void VESK_NET_INTERF::publish_mics(const MICS_ALL* mics) {
  if (ros_ != nullptr && mics != nullptr) ros_->publish_mics(mics);
}

void VESK_NET_INTERF::publish_log(const unsigned char* text, unsigned length) {
  if (ros_ != nullptr) ros_->publish_log(text, length);
}
