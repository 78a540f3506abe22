// Camera frame specifications: "[size][@rate][!...]".
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "vesk_net/interf.h"

namespace {

VESK_PLATFORM_PARS start_pars() {
  VESK_PLATFORM_PARS p;
  std::memset(&p, 0, sizeof(p));
  p.frame_aux = 1;
  for (VESK_STREAM_PARS& s : p.stream) {
    s.stream_geom = {640, 360, {0, 0, 0, 0}};
    s.stream_rate = 15.0f;
    s.stream_aux = 192;
  }
  return p;
}

struct Parsed {
  bool result;
  std::string out;
};

Parsed parse(const std::string& frame_text, VESK_PLATFORM_PARS* p, int verbosity = 2) {
  testing::internal::CaptureStdout();
  const bool r = VESK_NET_INTERF::parse_frame_spec(frame_text, p, verbosity);
  return {r, testing::internal::GetCapturedStdout()};
}

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

TEST(FrameSpec, SameSizeAndRateIsUnchanged) {
  VESK_PLATFORM_PARS p = start_pars();
  const Parsed r = parse("360w@15", &p);
  EXPECT_FALSE(r.result);
  EXPECT_TRUE(contains(r.out, "setting frame spec to 360w@15\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "(unchanged)\n")) << r.out;
  EXPECT_FALSE(contains(r.out, "(changed)"));
  EXPECT_EQ(p.frame_flags, 0);
}

TEST(FrameSpec, BangForcesChange) {
  VESK_PLATFORM_PARS p = start_pars();
  const Parsed r = parse("360w@15!", &p);
  EXPECT_TRUE(r.result);
  EXPECT_TRUE(contains(r.out, "setting frame spec to 360w@15!\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "(changed)\n"));
  EXPECT_EQ(p.frame_flags & 1, 1);
  EXPECT_EQ(p.stream[0].stream_geom.width, 640);
  EXPECT_EQ(p.stream[1].stream_rate, 15.0f);
}

TEST(FrameSpec, TextAfterBangIsDropped) {
  VESK_PLATFORM_PARS p = start_pars();
  const Parsed r = parse("180s!720p@1", &p);
  EXPECT_TRUE(r.result);
  EXPECT_EQ(p.stream[0].stream_geom.width, 240);
  EXPECT_EQ(p.stream[0].stream_rate, 15.0f);
}

TEST(FrameSpec, EmptySizeSegmentKeepsSizes) {
  VESK_PLATFORM_PARS p = start_pars();
  p.stream[1].stream_geom.width = 320;
  const Parsed r = parse("@10", &p);
  EXPECT_TRUE(r.result);
  EXPECT_EQ(p.stream[0].stream_geom.width, 640);
  EXPECT_EQ(p.stream[1].stream_geom.width, 320);
  EXPECT_EQ(p.stream[0].stream_rate, 10.0f);
  EXPECT_EQ(p.stream[1].stream_rate, 10.0f);
}

TEST(FrameSpec, UnknownSizeCodeFailsWithoutChange) {
  VESK_PLATFORM_PARS p = start_pars();
  const VESK_PLATFORM_PARS before = p;
  const Parsed r = parse("720x@30!", &p, 1);
  EXPECT_FALSE(r.result);
  EXPECT_EQ(std::memcmp(&p, &before, sizeof(p)), 0);
  EXPECT_TRUE(contains(r.out,
                       "**** WARNING **** \n\tfailed to parse argument \"frame=720x@30\" "
                       "(frame size segment)\n"))
      << r.out;
  EXPECT_FALSE(contains(r.out, "setting frame spec"));  // progress needs verbosity 2
}

TEST(FrameSpec, BadRateFailsAfterApplyingSize) {
  VESK_PLATFORM_PARS p = start_pars();
  const Parsed r = parse("720p@fast", &p, 1);
  EXPECT_FALSE(r.result);
  EXPECT_TRUE(contains(r.out, "failed to parse argument \"frame=720p@fast\" (frame rate segment)\n"))
      << r.out;
  for (const VESK_STREAM_PARS& s : p.stream) {
    EXPECT_EQ(s.stream_geom.width, 1280);
    EXPECT_EQ(s.stream_geom.height, 720);
    EXPECT_EQ(s.stream_rate, 15.0f);
  }
  EXPECT_EQ(p.frame_flags, 0);
}

TEST(FrameSpec, WarningsSilentAtVerbosityZero) {
  VESK_PLATFORM_PARS p = start_pars();
  const Parsed r = parse("bad", &p, 0);
  EXPECT_FALSE(r.result);
  EXPECT_EQ(r.out, "");
}

TEST(FrameSpec, EmptyTextIsUnchanged) {
  VESK_PLATFORM_PARS p = start_pars();
  const Parsed r = parse("", &p);
  EXPECT_FALSE(r.result);
  EXPECT_TRUE(contains(r.out, "(unchanged)\n"));
  const Parsed r2 = parse("@", &p);
  EXPECT_FALSE(r2.result);
}

TEST(FrameSpec, SizeAppliesToBothStreamsAndClearsAux) {
  VESK_PLATFORM_PARS p = start_pars();
  p.stream[0].stream_geom = {240, 180, {0, 0, 0, 0}};
  p.stream[1].stream_geom = {640, 360, {1, 2, 3, 4}};
  EXPECT_TRUE(parse("180s", &p).result);
  for (const VESK_STREAM_PARS& s : p.stream) {
    EXPECT_EQ(s.stream_geom.width, 240);
    EXPECT_EQ(s.stream_geom.height, 180);
    for (uint16_t a : s.stream_geom.aux) EXPECT_EQ(a, 0);
    EXPECT_EQ(s.stream_aux, 192u);
  }
  EXPECT_EQ(p.frame_aux, 1);
}

TEST(FrameSpec, EveryCode) {
  const struct {
    const char* code;
    uint16_t w, h;
  } table[] = {{"720p", 1280, 720}, {"720w", 1280, 720}, {"720s", 960, 720}, {"360p", 640, 360},
               {"360w", 640, 360},  {"360s", 480, 360},  {"240s", 320, 240}, {"180p", 320, 180},
               {"180w", 320, 180},  {"180s", 240, 180}};
  for (const auto& t : table) {
    VESK_PLATFORM_PARS p = start_pars();
    const bool r = parse(t.code, &p).result;
    EXPECT_EQ(r, !(t.w == 640 && t.h == 360)) << t.code;
    EXPECT_EQ(p.stream[1].stream_geom.width, t.w) << t.code;
    EXPECT_EQ(p.stream[1].stream_geom.height, t.h) << t.code;
  }
  for (const char* bad : {"720P", " 720p", "720p ", "360", "1280x720"}) {
    VESK_PLATFORM_PARS p = start_pars();
    EXPECT_FALSE(parse(bad, &p, 0).result) << bad;
    EXPECT_EQ(p.stream[0].stream_geom.width, 640) << bad;
  }
}

TEST(FrameSpec, RateRules) {
  VESK_PLATFORM_PARS p = start_pars();
  p.stream[1].stream_rate = 5.0f;
  // Same as stream 0 but not stream 1: only stream 1 changes.
  EXPECT_TRUE(parse("@15", &p).result);
  EXPECT_EQ(p.stream[1].stream_rate, 15.0f);
  // Leading number of the segment, as "%f" reads it.
  EXPECT_TRUE(parse("@7.5fps", &p).result);
  EXPECT_EQ(p.stream[0].stream_rate, 7.5f);
  EXPECT_EQ(p.stream[1].stream_rate, 7.5f);
  EXPECT_TRUE(parse("@0", &p).result);
  EXPECT_EQ(p.stream[0].stream_rate, 0.0f);
  // Not a number: no difference.
  p.frame_flags = 0;
  EXPECT_FALSE(parse("@nan", &p).result);
  EXPECT_EQ(p.stream[0].stream_rate, 0.0f);
  EXPECT_EQ(p.frame_flags, 0);
  // Only the first "@" splits.
  EXPECT_FALSE(parse("@@3", &p, 0).result);
}

// Independent reading of the grammar, used to judge random specifications.
struct Expect {
  bool result;
  VESK_PLATFORM_PARS pars;
};

Expect reference(std::string frame_text, VESK_PLATFORM_PARS p) {
  bool changed = false;
  const size_t bang = frame_text.find('!');
  if (bang != std::string::npos) {
    frame_text = frame_text.substr(0, bang);
    changed = true;
  }
  const size_t at = frame_text.find('@');
  const std::string size = frame_text.substr(0, at);
  const std::string rate = at == std::string::npos ? "" : frame_text.substr(at + 1);
  if (!size.empty()) {
    int w = 0, h = 0;
    if (size == "720p" || size == "720w") w = 1280, h = 720;
    if (size == "720s") w = 960, h = 720;
    if (size == "360p" || size == "360w") w = 640, h = 360;
    if (size == "360s") w = 480, h = 360;
    if (size == "240s") w = 320, h = 240;
    if (size == "180p" || size == "180w") w = 320, h = 180;
    if (size == "180s") w = 240, h = 180;
    if (w == 0) return {false, p};
    for (VESK_STREAM_PARS& s : p.stream) {
      const VESK_FRAME_GEOM g = s.stream_geom;
      if (g.width != w || g.height != h || g.aux[0] || g.aux[1] || g.aux[2] || g.aux[3]) {
        s.stream_geom = {static_cast<uint16_t>(w), static_cast<uint16_t>(h), {0, 0, 0, 0}};
        changed = true;
      }
    }
  }
  if (!rate.empty()) {
    const char* begin = rate.c_str();
    char* end = nullptr;
    const float v = std::strtof(begin, &end);
    if (end == begin) return {false, p};
    if (!std::isnan(v)) {
      if (v != p.stream[0].stream_rate) {
        p.stream[0].stream_rate = p.stream[1].stream_rate = v;
        changed = true;
      } else if (v != p.stream[1].stream_rate) {
        p.stream[1].stream_rate = v;
        changed = true;
      }
    }
  }
  if (changed) p.frame_flags |= 1;
  return {changed, p};
}

TEST(FrameSpec, FuzzNeverCrashesAndFollowsGrammar) {
  std::mt19937 rng(12345);
  const std::string pieces[] = {"720p", "720w", "720s",  "360p", "360w",
                                "360s", "240s", "180p",  "180w", "180s",
                                "@",    "!",    "15",    "0.5",  "-3",
                                "1e3",  "nan",  "inf",   " ",    "x",
                                ".",    "e",    "0x1p3", "\t",   std::string(1, '\0'),
                                "\xff", ";",    "="};
  const int kCases = 4000;
  for (int i = 0; i < kCases; ++i) {
    std::string frame_text;
    const int n = static_cast<int>(rng() % 8);
    for (int k = 0; k < n; ++k) {
      if (rng() % 4 == 0) {
        frame_text.push_back(static_cast<char>(rng() & 0xff));
      } else {
        frame_text += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
      }
    }
    VESK_PLATFORM_PARS p = start_pars();
    if (rng() % 2) p.stream[1].stream_rate = 30.0f;
    const Expect want = reference(frame_text, p);
    const bool got = VESK_NET_INTERF::parse_frame_spec(frame_text, &p, 0);
    ASSERT_EQ(got, want.result) << "case " << i << " frame_text \"" << frame_text << "\"";
    ASSERT_EQ(std::memcmp(&p, &want.pars, sizeof(p)), 0)
        << "case " << i << " frame_text \"" << frame_text << "\"";
  }
}

TEST(FrameSpec, LongTextsNeverCrash) {
  VESK_PLATFORM_PARS p = start_pars();
  EXPECT_FALSE(VESK_NET_INTERF::parse_frame_spec(std::string(100000, '7'), &p, 0));
  EXPECT_TRUE(VESK_NET_INTERF::parse_frame_spec("@" + std::string(5000, '9'), &p, 0));
  EXPECT_TRUE(std::isinf(p.stream[0].stream_rate));
  EXPECT_FALSE(VESK_NET_INTERF::parse_frame_spec("@" + std::string(100000, '@'), &p, 0));
  EXPECT_TRUE(VESK_NET_INTERF::parse_frame_spec(std::string(100000, '!'), &p, 0));
  const std::string nul_inside("360p\0@1", 7);
  EXPECT_FALSE(VESK_NET_INTERF::parse_frame_spec(nul_inside, &p, 0));
}

}  // namespace
