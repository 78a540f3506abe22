// The control buffer of the robot interface (see vesk_net/control_buffer.h).
#include "vesk_net/control_buffer.h"

#include <vesk_support/float_cast.h>

#include <cmath>
#include <iostream>

#include "vesk_net/companding.h"

namespace vesk {

void split_commands(const std::string& text, std::vector<std::string>& out) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t semi = text.find(';', start);
    if (semi == std::string::npos) {
      out.push_back(text.substr(start));
      return;
    }
    out.push_back(text.substr(start, semi - start));
    start = semi + 1;
  }
}

Inbuf::Inbuf() {
  packet_[0].preset();
  packet_[1].preset();
}

int Inbuf::verbosity() const { return tool_config_ ? tool_config_->verbosity : 0; }

void Inbuf::init(uint32_t initial_flags, const VESK_TOOL_CONFIG* tool_config) {
  os::ScopedLock guard(lock_);
  tool_config_ = tool_config;
  packet_[0].preset();
  packet_[1].preset();
  fill_ = 0;
  input_.reset();
  output_.reset();
  wheel_ttl_ = WHEEL_TTL_TICKS;
  control_ttl_ = CONTROL_TTL_TICKS;
  input_.body_vel[0] = input_.body_vel[1] = 0.0f;

  if (verbosity() > 2) std::cout << "\t(ROS) set_initial_flags" << std::endl;
  persistent_flags_ = initial_flags;
  if (verbosity() > 2) {
    std::cout << "\t(ROS) persistent_flags=" << std::hex << persistent_flags_ << std::dec << std::endl;
  }
  input_.flags = initial_flags;
}

bool Inbuf::all_finite(const float* values, size_t n, Topic topic, const char* what) {
  bool finite = true;
  for (size_t i = 0; i < n; ++i) finite = finite && std::isfinite(values[i]);
  bool& told = not_finite_told_[topic];
  if (finite) {
    told = false;
  } else {
    if (!told && verbosity() > 0) os::warn(std::string(what) + ", ignoring input data");
    told = true;
  }
  return finite;
}

void Inbuf::cmd_vel(double linear_x, double angular_z) {
  os::ScopedLock guard(lock_);
  // A refused velocity does not refresh the wheel timeout: the wheels stop as if it had
  // never come.
  const float v[2] = {os::to_float(linear_x), os::to_float(angular_z)};
  if (!all_finite(v, 2, kTopicCmdVel, "velocity not finite or too large in control/cmd_vel")) return;
  input_.body_vel[0] = v[0];
  input_.body_vel[1] = v[1];
  wheel_ttl_ = WHEEL_TTL_TICKS;
  control_ttl_ = CONTROL_TTL_TICKS;
}

void Inbuf::kinematic_joints(const double* positions, size_t n) {
  os::ScopedLock guard(lock_);
  control_ttl_ = CONTROL_TTL_TICKS;
  if (n != KINEMATIC_COUNT) {
    if (verbosity() > 0) {
      os::warn("position vector wrong size (!=4) in control/kinematic_joints, ignoring input data");
    }
    return;
  }
  float p[KINEMATIC_COUNT];
  for (size_t i = 0; i < KINEMATIC_COUNT; ++i) p[i] = os::to_float(positions[i]);
  if (!all_finite(p, KINEMATIC_COUNT, kTopicKinematic,
                  "position not finite or too large in control/kinematic_joints"))
    return;
  for (size_t i = 0; i < KINEMATIC_COUNT; ++i) input_.kinematic_joints[i] = p[i];
  input_.joints_set = 255;
}

void Inbuf::cosmetic_joints(const float* values, size_t n) {
  os::ScopedLock guard(lock_);
  control_ttl_ = CONTROL_TTL_TICKS;
  if (n != COSMETIC_COUNT) {
    if (verbosity() > 0) {
      os::warn("position vector wrong size (!=6) in control/cosmetic_joints, ignoring input data");
    }
    return;
  }
  if (!all_finite(values, COSMETIC_COUNT, kTopicCosmetic, "position not finite in control/cosmetic_joints"))
    return;
  // Message order: droop, wag, left eyelid, right eyelid, left ear, right ear.
  static constexpr size_t kFromMessage[COSMETIC_COUNT] = {0, 1, 4, 5, 2, 3};
  for (size_t i = 0; i < COSMETIC_COUNT; ++i) input_.cosmetic_joints[i] = values[kFromMessage[i]];
  input_.joints_set = 255;
}

void Inbuf::illum(const uint32_t* values, size_t n) {
  os::ScopedLock guard(lock_);
  if (n != 6) {
    if (verbosity() > 0) os::warn("illum vector wrong size (!=6) in control/illum");
    return;
  }
  for (size_t i = 0; i < 6; ++i) input_.illum[i] = values[i];
}

void Inbuf::tone(const uint16_t* values, size_t n) {
  os::ScopedLock guard(lock_);
  if (n != 3) {
    if (verbosity() > 0) os::warn("tone vector wrong size (!=3) in control/tone");
    return;
  }
  input_.tone.value = values[0];
  input_.tone.level = static_cast<uint8_t>(values[1] & 0xff);
  input_.tone.duration = static_cast<uint8_t>(values[2] & 0xff);
}

void Inbuf::stream(const int16_t* samples, size_t n) {
  os::ScopedLock guard(lock_);
  if (n > STREAM_MAX_SAMPLES) {
    if (verbosity() > 0) {
      // This warning ends without a line end.
      std::cout << os::cout_global_elapsed() << "**** WARNING **** \n\t"
                << "stream message must not exceed " << STREAM_MAX_SAMPLES << " bytes in size" << std::flush;
    }
    return;
  }
  VESK_STREAM_PACKET& p = packet_[fill_];
  for (size_t i = 0; i < n; ++i) p.samples[i] = stream_compand(samples[i]);
  p.length = static_cast<uint32_t>(n) + STREAM_PACKET_HEADER_BYTES;
  p.fresh = 1;
  fill_ = 1 - fill_;
}

void Inbuf::flags(uint32_t value) {
  os::ScopedLock guard(lock_);
  const bool persistent = (value & PLATFORM_D_FLAG_PERSISTENT) != 0;
  if (verbosity() > 1) {
    std::cout << os::cout_global_elapsed() << "received new platform flags: " << std::hex << value << std::dec
              << (persistent ? " (PLATFORM_D_FLAG_PERSISTENT)" : "") << std::endl;
  }
  input_.flags = value;
  if (verbosity() > 2) {
    std::cout << os::cout_global_elapsed() << "\t(ROS) platform_d.flags=" << std::hex << value << std::dec
              << std::endl;
  }
  if (persistent) {
    persistent_flags_ = value;
    if (verbosity() > 2) {
      std::cout << os::cout_global_elapsed() << "\t(ROS) persistent_flags=" << std::hex << value << std::dec
                << std::endl;
    }
  }
  control_ttl_ = CONTROL_TTL_TICKS;
}

namespace {

// How many commands split_commands makes of `text`.
size_t count_commands(const std::string& text) {
  if (text.empty()) return 0;
  size_t n = 1;
  for (size_t at = text.find(';'); at != std::string::npos; at = text.find(';', at + 1)) {
    if (at + 1 < text.size()) ++n;
  }
  return n;
}

}  // namespace

void Inbuf::command(const std::string& text) {
  os::ScopedLock guard(lock_);
  const size_t count = count_commands(text);
  std::string refused;
  if (text.size() > COMMAND_TEXT_MAX) {
    refused = "command text longer than " + std::to_string(COMMAND_TEXT_MAX) +
              " characters in control/command, ignoring it";
  } else if (count > COMMANDS_PER_MESSAGE_MAX) {
    refused = "more than " + std::to_string(COMMANDS_PER_MESSAGE_MAX) +
              " commands in one control/command message, ignoring it";
  } else if (input_.commands.size() + count > COMMANDS_PER_TICK_MAX) {
    refused = "more than " + std::to_string(COMMANDS_PER_TICK_MAX) +
              " commands within one tick on control/command, ignoring the rest";
  }
  if (!refused.empty()) {
    if (!command_refused_told_ && verbosity() > 0) os::warn(refused);
    command_refused_told_ = true;
    return;
  }
  command_refused_told_ = false;
  if (verbosity() > 1) std::cout << os::cout_global_elapsed() << "received command(s):" << std::endl;
  const size_t first = input_.commands.size();
  split_commands(text, input_.commands);
  if (verbosity() > 1) {
    for (size_t i = first; i < input_.commands.size(); ++i) {
      std::cout << "\t" << input_.commands[i] << std::endl;
    }
  }
}

VESK_TICK_D* Inbuf::exchange() {
  os::ScopedLock guard(lock_);
  output_ = input_;
  if (wheel_ttl_ > 0) {
    --wheel_ttl_;
  } else {
    input_.body_vel[0] = input_.body_vel[1] = 0.0f;
  }
  if (control_ttl_ == 0) {
    input_.flags = persistent_flags_;
  } else {
    --control_ttl_;
  }
  if (input_.tone.value != 0) input_.tone = VESK_TONE{0, 0, 0};
  input_.commands.clear();
  return &output_;
}

VESK_STREAM_PACKET* Inbuf::take_packet() {
  os::ScopedLock guard(lock_);
  VESK_STREAM_PACKET& p = packet_[1 - fill_];
  if (p.fresh != 1) return nullptr;
  p.fresh = 0;
  return &p;
}

uint32_t Inbuf::persistent_flags() const {
  os::ScopedLock guard(lock_);
  return persistent_flags_;
}

int32_t Inbuf::wheel_ttl() const {
  os::ScopedLock guard(lock_);
  return wheel_ttl_;
}

int32_t Inbuf::control_ttl() const {
  os::ScopedLock guard(lock_);
  return control_ttl_;
}

}  // namespace vesk
