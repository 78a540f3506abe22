// The simulated robot's speaker: a ring buffer drained at the speaker's sample rate.
#include "vesk_gazebo/speaker.h"

#include <algorithm>

namespace vesk_gazebo {

void Speaker::Reset() {
  read_ = 0;
  held_ = 0;
  queued_ = 0;
  played_ = 0;
  dropped_ = 0;
  rejected_ = 0;
}

unsigned Speaker::Queue(const VESK_STREAM_PACKET& packet) {
  if (packet.magic != STREAM_PACKET_MAGIC || packet.kind != STREAM_PACKET_KIND ||
      packet.length < STREAM_PACKET_HEADER_BYTES ||
      packet.length > STREAM_PACKET_HEADER_BYTES + STREAM_MAX_SAMPLES) {
    ++rejected_;
    return 0;
  }
  const unsigned n = packet.length - STREAM_PACKET_HEADER_BYTES;
  const unsigned take = std::min(n, kCapacity - held_);
  unsigned write = (read_ + held_) % kCapacity;
  for (unsigned i = 0; i < take; ++i) {
    ring_[write] = packet.samples[i];
    write = write + 1 == kCapacity ? 0 : write + 1;
  }
  held_ += take;
  queued_ += take;
  dropped_ += n - take;
  return take;
}

unsigned Speaker::Play(uint8_t* out) {
  const unsigned n = std::min(held_, kSpeakerSamplesPerTick);
  unsigned read = read_;
  for (unsigned i = 0; i < n; ++i) {
    if (out) out[i] = ring_[read];
    read = read + 1 == kCapacity ? 0 : read + 1;
  }
  read_ = read;
  held_ -= n;
  played_ += n;
  return n;
}

void Speaker::Report(uint16_t stream[2]) const {
  stream[0] = static_cast<uint16_t>(read_);
  stream[1] = static_cast<uint16_t>(read_ + held_);
}

}  // namespace vesk_gazebo
