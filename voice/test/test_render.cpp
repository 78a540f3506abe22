// The WAV writer, offline renders and the renderer program.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vesk_voice/render.h"
#include "vesk_voice/wav.h"

namespace {

uint32_t u32_at(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t u16_at(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
std::string tag_at(const std::vector<uint8_t>& b, size_t at) {
  return std::string(b.begin() + at, b.begin() + at + 4);
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Samples of a mono 16-bit WAV file, checking its header on the way.
std::vector<int16_t> read_wav(const std::string& path) {
  const std::vector<uint8_t> b = read_file(path);
  std::vector<int16_t> out;
  EXPECT_GE(b.size(), kWavHeaderBytes);
  if (b.size() < kWavHeaderBytes) return out;
  EXPECT_EQ(tag_at(b, 0), "RIFF");
  EXPECT_EQ(u32_at(b, 4), b.size() - 8);
  EXPECT_EQ(tag_at(b, 8), "WAVE");
  EXPECT_EQ(u16_at(b, 22), 1);      // channels
  EXPECT_EQ(u32_at(b, 24), 8000u);  // rate
  EXPECT_EQ(u16_at(b, 34), 16);     // bits
  EXPECT_EQ(u32_at(b, 40), b.size() - kWavHeaderBytes);
  for (size_t at = kWavHeaderBytes; at + 1 < b.size(); at += 2)
    out.push_back(static_cast<int16_t>(u16_at(b, at)));
  return out;
}

std::string temp_path(const std::string& name) {
  return (::testing::TempDir().empty() ? std::string("/tmp/") : ::testing::TempDir()) + "vesk_voice_" +
         std::to_string(getpid()) + "_" + name;
}

// Runs the renderer program with `args`; returns its exit status, its output in *out.
int run_renderer(const std::string& args, std::string* out) {
  const std::string cmd = std::string(VOCALSYNTH_RENDER) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  const int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(Wav, HeaderFields) {
  const std::vector<uint8_t> h = wav_header_mono16(1000, 8000);
  ASSERT_EQ(h.size(), kWavHeaderBytes);
  EXPECT_EQ(tag_at(h, 0), "RIFF");
  EXPECT_EQ(u32_at(h, 4), 36u + 2000u);
  EXPECT_EQ(tag_at(h, 8), "WAVE");
  EXPECT_EQ(tag_at(h, 12), "fmt ");
  EXPECT_EQ(u32_at(h, 16), 16u);
  EXPECT_EQ(u16_at(h, 20), 1);  // PCM
  EXPECT_EQ(u16_at(h, 22), 1);
  EXPECT_EQ(u32_at(h, 24), 8000u);
  EXPECT_EQ(u32_at(h, 28), 16000u);
  EXPECT_EQ(u16_at(h, 32), 2);
  EXPECT_EQ(u16_at(h, 34), 16);
  EXPECT_EQ(tag_at(h, 36), "data");
  EXPECT_EQ(u32_at(h, 40), 2000u);
}

TEST(Wav, SamplesRoundTripLittleEndian) {
  const std::vector<int16_t> samples = {0, 1, -1, 32767, -32767, -32768, 0x1234, -300};
  const std::string path = temp_path("roundtrip.wav");
  std::string error;
  ASSERT_TRUE(wav_write_mono16(path, samples.data(), samples.size(), 8000, &error)) << error;
  const std::vector<uint8_t> bytes = read_file(path);
  ASSERT_EQ(bytes.size(), kWavHeaderBytes + 2 * samples.size());
  EXPECT_EQ(bytes[kWavHeaderBytes + 12], 0x34);
  EXPECT_EQ(bytes[kWavHeaderBytes + 13], 0x12);
  EXPECT_EQ(read_wav(path), samples);
  std::remove(path.c_str());
}

TEST(Wav, UnwritablePathFailsWithReasonAndLeavesNoFile) {
  const int16_t s[2] = {1, 2};
  std::string error;
  EXPECT_FALSE(wav_write_mono16("/nonexistent-dir/x.wav", s, 2, 8000, &error));
  EXPECT_NE(error.find("/nonexistent-dir/x.wav"), std::string::npos) << error;
  error.clear();
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_FALSE(wav_write_mono16("/dev/full", s, 2, 8000, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(Render, LengthAndRepeatability) {
  EXPECT_EQ(render_sample_count(1.0), 8000u);
  EXPECT_EQ(render_sample_count(0.0401), 321u);
  const AffState in{0.4f, 0.5f, 0.9f, 0.5f};
  const std::vector<int16_t> a = render_voice(in, false, 8000 + 17);
  const std::vector<int16_t> b = render_voice(in, false, 8000 + 17);
  ASSERT_EQ(a.size(), 8017u);
  EXPECT_EQ(a, b);
  const std::vector<int16_t> shorter = render_voice(in, false, 640);
  EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), a.begin()))
      << "a render is a prefix of a longer one";
  const std::vector<int16_t> other = render_voice({-0.4f, 0.5f, 0.9f, 0.5f}, false, 8017);
  EXPECT_NE(a, other);
}

TEST(Render, MuteKeepsTheBreathNoiseOnly) {
  const AffState in{0.4f, 0.5f, 0.9f, 0.5f};
  const std::vector<int16_t> voiced = render_voice(in, false, 8000 * 10);
  const std::vector<int16_t> muted = render_voice(in, true, 8000 * 10);
  EXPECT_NE(voiced, muted);
  double e_voiced = 0.0, e_muted = 0.0;
  for (size_t i = 0; i < voiced.size(); ++i) {
    e_voiced += double(voiced[i]) * voiced[i];
    e_muted += double(muted[i]) * muted[i];
  }
  EXPECT_GT(e_muted, 0.0);
  EXPECT_LT(e_muted, e_voiced);
}

TEST(RendererProgram, HelpExplainsTheInputs) {
  std::string out;
  EXPECT_EQ(run_renderer("--help", &out), 0);
  for (const char* word : {"--valence", "--arousal", "--wakefulness", "--sound-level", "--mute", "--duration",
                           "--output", "8000 Hz"}) {
    EXPECT_NE(out.find(word), std::string::npos) << word;
  }
}

TEST(RendererProgram, WritesTheSameFileEveryRun) {
  const std::string p1 = temp_path("r1.wav"), p2 = temp_path("r2.wav");
  const std::string args = "--valence=0.4 --arousal=0.5 --wakefulness=0.9 --sound-level=0.5 --duration=1.5";
  std::string out;
  ASSERT_EQ(run_renderer(args + " --output=" + p1, &out), 0) << out;
  ASSERT_EQ(run_renderer(args + " --output=" + p2, &out), 0) << out;
  EXPECT_NE(out.find("12000 samples"), std::string::npos) << out;
  const std::vector<uint8_t> b1 = read_file(p1), b2 = read_file(p2);
  EXPECT_EQ(b1.size(), kWavHeaderBytes + 2 * 12000);
  EXPECT_EQ(b1, b2);
  EXPECT_EQ(read_wav(p1), render_voice({0.4f, 0.5f, 0.9f, 0.5f}, false, 12000));
  std::remove(p1.c_str());
  std::remove(p2.c_str());
}

TEST(RendererProgram, BadArgumentsFailClearly) {
  const std::string path = temp_path("bad.wav");
  for (const std::string& bad :
       {std::string("--valence=abc"), std::string("--arousal=nan"), std::string("--duration=0"),
        std::string("--duration=-1"), std::string("--wakefulness="), std::string("--loudness=1"),
        std::string("stray"), std::string("--output=")}) {
    std::string out;
    EXPECT_EQ(run_renderer(bad + " --duration=0.1 --output=" + path + " " + bad, &out), 1) << bad;
    EXPECT_NE(out.find("[ERROR] "), std::string::npos) << bad << ": " << out;
    EXPECT_NE(access(path.c_str(), F_OK), 0) << "no file after " << bad;
  }
}

}  // namespace
