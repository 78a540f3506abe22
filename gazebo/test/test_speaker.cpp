// Tests of the simulated speaker: playback rate, order, overflow and the buffer report.
#include <gtest/gtest.h>

#include <vector>

#include "vesk_gazebo/speaker.h"

using vesk_gazebo::kSpeakerSamplesPerTick;
using vesk_gazebo::Speaker;

namespace {

VESK_STREAM_PACKET Packet(unsigned n, unsigned first_value) {
  VESK_STREAM_PACKET p{};
  p.magic = STREAM_PACKET_MAGIC;
  p.length = STREAM_PACKET_HEADER_BYTES + n;
  p.kind = STREAM_PACKET_KIND;
  p.fresh = 1;
  for (unsigned i = 0; i < n; ++i) p.samples[i] = static_cast<uint8_t>(first_value + i);
  return p;
}

// The buffer remainder as the voice node reads it: second value minus first, as integers.
int Remainder(const Speaker& s) {
  uint16_t v[2];
  s.Report(v);
  return static_cast<int>(v[1]) - static_cast<int>(v[0]);
}

// A client that streams as the voice node does: one 320-sample block whenever the report
// shows at most 1599 samples left. After the start-up fill the speaker plays a full tick
// every tick, never runs dry, and the client's blocks follow 8000 samples per second.
TEST(Speaker, PacedClientStreamsAtTheSpeakersRateWithoutRunningDry) {
  static Speaker s;
  s.Reset();
  unsigned sent = 0, next_value = 0;
  std::vector<uint8_t> heard;
  const int ticks = 50 * 60;  // one simulated minute
  int dry_ticks = 0;
  for (int t = 0; t < ticks; ++t) {
    uint8_t out[kSpeakerSamplesPerTick];
    const unsigned n = s.Play(out);
    heard.insert(heard.end(), out, out + n);
    if (t > 20 && n < kSpeakerSamplesPerTick) ++dry_ticks;
    if (Remainder(s) <= 1599) {
      s.Queue(Packet(320, next_value));
      next_value += 320;
      sent += 320;
    }
  }
  EXPECT_EQ(0, dry_ticks);
  // Everything sent was played or still waits: the rate is the speaker's, plus the lead.
  EXPECT_EQ(sent, s.played() + s.held());
  EXPECT_EQ(static_cast<uint64_t>(kSpeakerSamplesPerTick) * (ticks - 1), s.played());
  EXPECT_LE(s.held(), 1599u + 320u);
  EXPECT_EQ(0u, s.dropped());
  // Played in the order sent, across many turns of the ring.
  ASSERT_EQ(s.played(), heard.size());
  for (size_t i = 0; i < heard.size(); ++i) ASSERT_EQ(static_cast<uint8_t>(i), heard[i]) << i;
}

TEST(Speaker, ReportIsReadPositionAndHeldAndNeverNegative) {
  static Speaker s;
  s.Reset();
  uint16_t v[2];
  s.Report(v);
  EXPECT_EQ(0, v[0]);
  EXPECT_EQ(0, v[1]);
  for (int round = 0; round < 200; ++round) {
    s.Queue(Packet(333, 0));
    s.Play();
    s.Play();
    s.Report(v);
    EXPECT_LT(v[0], Speaker::kCapacity);
    EXPECT_EQ(static_cast<int>(s.held()), Remainder(s));
    EXPECT_GE(v[1], v[0]);
  }
}

TEST(Speaker, FullBufferDropsTheExcess) {
  static Speaker s;
  s.Reset();
  EXPECT_EQ(STREAM_MAX_SAMPLES, s.Queue(Packet(STREAM_MAX_SAMPLES, 0)));
  EXPECT_EQ(0u, s.Queue(Packet(320, 0)));
  EXPECT_EQ(320u, s.dropped());
  EXPECT_EQ(static_cast<int>(Speaker::kCapacity), Remainder(s));
  s.Play();
  EXPECT_EQ(kSpeakerSamplesPerTick, s.Queue(Packet(320, 0)));
  EXPECT_EQ(480u, s.dropped());
  EXPECT_EQ(static_cast<int>(Speaker::kCapacity), Remainder(s));
}

TEST(Speaker, MalformedPacketQueuesNothing) {
  static Speaker s;
  s.Reset();
  VESK_STREAM_PACKET p = Packet(100, 0);
  p.length = STREAM_PACKET_HEADER_BYTES + STREAM_MAX_SAMPLES + 1;
  EXPECT_EQ(0u, s.Queue(p));
  p = Packet(100, 0);
  p.length = 3;
  EXPECT_EQ(0u, s.Queue(p));
  p = Packet(100, 0);
  p.magic = 0;
  EXPECT_EQ(0u, s.Queue(p));
  EXPECT_EQ(3u, s.rejected());
  EXPECT_EQ(0u, s.held());
  EXPECT_EQ(0u, s.Play());
}

}  // namespace
