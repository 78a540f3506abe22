// The robot's speaker as the simulated platform plays it. ROS-free and Gazebo-free.
//
// Audio reaches the platform in stream packets (8-bit samples centred on 128) and waits in a
// ring buffer of the robot's size, SPEAKER_BUFFER_SAMPLES; every platform tick the speaker
// plays one tick's worth of it at STREAM_SAMPLE_RATE (kSpeakerSamplesPerTick samples a tick). Audio
// that does not fit into the buffer is dropped and counted, as the robot's buffer would.
//
// The buffer's state goes up in the tick record's two stream values: the read position in
// the ring (0 ... capacity - 1) and the read position plus the samples held. Their difference
// is the audio still to play, which is what a streaming client (the voice node) paces itself
// by; the second value never wraps below the first, so the difference is never negative.
//
// Plain value: no allocation, no locks; one thread at a time.
#pragma once

#include <vesk_net/records.h>

#include <cstdint>

#include "vesk_gazebo/joint_control.h"

namespace vesk_gazebo {

// Samples the speaker plays per platform tick.
constexpr unsigned kSpeakerSamplesPerTick = STREAM_SAMPLE_RATE * TICK_PERIOD_US / 1000000u;  // 160
static_assert(STREAM_SAMPLE_RATE * TICK_PERIOD_US % 1000000u == 0, "whole samples per tick");

class Speaker {
 public:
  static constexpr unsigned kCapacity = SPEAKER_BUFFER_SAMPLES;  // [samples]

  // Empty buffer at read position 0; counters zero.
  void Reset();

  // Queues the samples of a stream packet behind those held and returns how many were
  // queued; those that do not fit are dropped (counted in dropped()). A packet whose header
  // is not a stream packet's, or whose length is out of range, queues nothing and counts
  // as rejected.
  unsigned Queue(const VESK_STREAM_PACKET& packet);

  // Plays one tick: up to kSpeakerSamplesPerTick samples leave the buffer, oldest first,
  // and are copied to `out` when it is not null. Returns the number played, fewer than a
  // tick's worth when the buffer runs dry.
  unsigned Play(uint8_t* out = nullptr);

  // The two stream values of the tick record: read position, read position + held.
  void Report(uint16_t stream[2]) const;

  unsigned held() const { return held_; }          // [samples] waiting to be played
  uint64_t queued() const { return queued_; }      // [samples] queued since Reset
  uint64_t played() const { return played_; }      // [samples] played since Reset
  uint64_t dropped() const { return dropped_; }    // [samples] lost to a full buffer
  uint64_t rejected() const { return rejected_; }  // malformed packets

 private:
  uint8_t ring_[kCapacity] = {};
  unsigned read_ = 0;  // ring index of the next sample to play
  unsigned held_ = 0;  // samples in the ring from read_ on
  uint64_t queued_ = 0;
  uint64_t played_ = 0;
  uint64_t dropped_ = 0;
  uint64_t rejected_ = 0;
};

static_assert(2 * SPEAKER_BUFFER_SAMPLES <= 0xFFFF, "the stream values hold read position + held");

}  // namespace vesk_gazebo
