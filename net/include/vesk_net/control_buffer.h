// The control buffer of the robot interface: what the control topics write, guarded by one
// lock, and the record exchange() hands to the platform each tick. ROS-free.
#pragma once

#include <vesk_support/os.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vesk_net/records.h"

namespace vesk {

constexpr int32_t WHEEL_TTL_TICKS = ticks_in_us(200000);     // 0.2 s
constexpr int32_t CONTROL_TTL_TICKS = ticks_in_us(1000000);  // 1 s

// Bounds of what control/command takes in. Any node may publish there; the platform keeps
// every command until the next tick and echoes each one, so without bounds one message of
// megabytes of ";" becomes millions of commands held, copied and printed. The commands the
// platforms understand ("frame=" and a frame specification) are a few tens of characters;
// the bounds leave ample room above that. A message beyond them is dropped whole.
constexpr size_t COMMAND_TEXT_MAX = 1024;        // characters in one message
constexpr size_t COMMANDS_PER_MESSAGE_MAX = 16;  // commands in one message
constexpr size_t COMMANDS_PER_TICK_MAX = 64;     // commands held for one tick, all messages

// Splits "a;;b;" into "a", "", "b" and appends them to `out`: every ";" ends a
// command, a trailing ";" adds nothing, an empty text adds nothing.
void split_commands(const std::string& text, std::vector<std::string>& out);

// Everything the control callbacks share with exchange() and receive(). Every
// operation takes the lock for its whole duration and never throws. Size
// failures warn (verbosity > 0) and change nothing but the ttl refreshes.
// Velocities and joint positions are narrowed to float without undefined
// behaviour; a message with a value that is not finite as a float (NaN,
// infinite, beyond the float range) is refused whole, with one warning per run
// of such messages on its topic; a refused velocity refreshes no ttl.
class Inbuf {
 public:
  Inbuf();
  Inbuf(const Inbuf&) = delete;
  Inbuf& operator=(const Inbuf&) = delete;

  // Construction state: records reset, ttls full, flags = initial_flags.
  void init(uint32_t initial_flags, const VESK_TOOL_CONFIG* tool_config);

  void cmd_vel(double linear_x, double angular_z);
  void kinematic_joints(const double* positions, size_t n);
  void cosmetic_joints(const float* values, size_t n);
  void illum(const uint32_t* values, size_t n);
  void tone(const uint16_t* values, size_t n);
  void stream(const int16_t* samples, size_t n);
  void flags(uint32_t value);
  // Refused (with one warning until a message is taken again) beyond the bounds above.
  void command(const std::string& text);

  // Copies the input record to the output record, lets short-lived commands
  // lapse, and returns the output record (valid until the next call).
  VESK_TICK_D* exchange();

  // The packet filled last if not yet handed out (and marks it taken), else nullptr.
  VESK_STREAM_PACKET* take_packet();

  // Snapshots for inspection (taken under the lock).
  uint32_t persistent_flags() const;
  int32_t wheel_ttl() const;
  int32_t control_ttl() const;

 private:
  int verbosity() const;
  enum Topic { kTopicCmdVel, kTopicKinematic, kTopicCosmetic, kTopicCount };
  // True when all n values are finite; otherwise warns (once per run of refusals on the topic).
  bool all_finite(const float* values, size_t n, Topic topic, const char* what);

  mutable os::Mutex lock_;
  VESK_STREAM_PACKET packet_[2];
  int fill_ = 0;
  uint32_t persistent_flags_ = 0;
  VESK_TICK_D input_;
  VESK_TICK_D output_;
  int32_t wheel_ttl_ = WHEEL_TTL_TICKS;
  int32_t control_ttl_ = CONTROL_TTL_TICKS;
  const VESK_TOOL_CONFIG* tool_config_ = nullptr;
  bool not_finite_told_[kTopicCount] = {false, false, false};
  bool command_refused_told_ = false;
};

}  // namespace vesk
