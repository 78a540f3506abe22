// Console prefix, stopwatches, timed-wait deadlines and number formatting.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <iostream>
#include <sstream>
#include <stdexcept>

#include "cout_capture.h"
#include "vesk_support/os.h"

namespace {
std::string prefix(float s) {
  char buf[16];
  os::format_elapsed_prefix(s, buf);
  return buf;
}

}  // namespace

TEST(Console, PrefixWrapsEveryThousandSeconds) {
  EXPECT_EQ("[000.000] ", prefix(0.0f));
  EXPECT_EQ("[999.999] ", prefix(999.9996f));
  EXPECT_EQ("[000.250] ", prefix(2000.25f));
  EXPECT_EQ("[234.567] ", prefix(1234.5678f));
  EXPECT_EQ("[001.500] ", prefix(1.5f));
}

TEST(Console, ReportConventions) {
  CoutCapture cap;
  try {
    os::fail("boom");
    FAIL() << "fail() returned";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ("boom", e.what());
  }
  os::warn("careful");
  std::string out = cap.str();
  EXPECT_EQ(0u, out.find("[ERROR] boom\n"));
  size_t w = out.find("**** WARNING **** \n\tcareful\n");
  ASSERT_NE(std::string::npos, w);
  EXPECT_EQ('[', out[w - 10]);  // the time-stamp prefix heads the warning
}

TEST(Console, GlobalElapsedStartsAtFirstCallAndGrows) {
  float a = os::get_global_elapsed();
  os::msleep(20);
  float b = os::get_global_elapsed();
  EXPECT_GE(b - a, 0.019f);
  EXPECT_LT(a, 5.0f);
}

TEST(Timer, ResetReturnsSecondsSinceStart) {
  os::Timer t;
  EXPECT_EQ(0, t.elapsedMS());
  EXPECT_EQ(1000000.0f, t.getTicksPerSec());
  t.reset();
  os::msleep(250);
  float s = t.reset();
  EXPECT_GE(s, 0.249f);
  EXPECT_LT(s, 1.0f);
  EXPECT_LT(t.elapsed(), 0.2f);  // reset restarted the watch
}

TEST(Timer, ElapsedUnitsAgree) {
  os::Timer t;
  t.start -= 1234567;  // pretend it started 1.234567 s ago
  EXPECT_GE(t.elapsedUS(), 1234567);
  EXPECT_GE(t.elapsedMS(), 1234);
  EXPECT_LT(t.elapsedMS(), 2000);
  EXPECT_NEAR(1.2346, t.elapsed(), 0.5);
}

TEST(Timer, ZeroTickRateMeansNoTime) {
  os::Timer t;
  t.start -= 5000000;
  float saved = os::ticksPerSec;
  os::ticksPerSec = 0.0f;
  int64_t start = t.start;
  EXPECT_EQ(0.0f, t.reset());
  EXPECT_EQ(start, t.start);
  EXPECT_EQ(0.0f, t.elapsed());
  EXPECT_EQ(0, t.elapsedUS());
  os::ticksPerSec = saved;
}

TEST(TimeOfDay, AddCarriesMicrosecondsIntoSeconds) {
  timeval now{100, 700000};
  timespec out;
  os::addToTime(now, 1500, &out);
  EXPECT_EQ(102, out.tv_sec);
  EXPECT_EQ(200000000, out.tv_nsec);

  os::addToTime(timeval{5, 0}, 100, &out);
  EXPECT_EQ(5, out.tv_sec);
  EXPECT_EQ(100000000, out.tv_nsec);

  os::addToTime(timeval{5, 999999}, 0, &out);
  EXPECT_EQ(5, out.tv_sec);
  EXPECT_EQ(999999000, out.tv_nsec);
}

TEST(TimeOfDay, DeadlineIsInTheFuture) {
  timeval before;
  gettimeofday(&before, nullptr);
  timespec out;
  os::addToTimeOfDay(100, &out);
  double deadline = out.tv_sec + out.tv_nsec * 1e-9;
  double start = before.tv_sec + before.tv_usec * 1e-6;
  EXPECT_GE(deadline - start, 0.0999);
  EXPECT_LT(deadline - start, 5.0);
}

TEST(Numbers, N2sPadsDefaultFormatting) {
  EXPECT_EQ("3.14159", os::n2s(3.14159265f, 0));
  EXPECT_EQ("0012", os::n2s(12.0f, 4));
  EXPECT_EQ("005.5", os::n2s(5.5f, 5));
  EXPECT_EQ("1e+07", os::n2s(1e7f, 2));
  EXPECT_EQ("-1", os::n2s(-1.0f, 1));
}

TEST(Numbers, LastError) {
  unsigned code = 99;
  EXPECT_EQ("no further information", os::getlasterror(&code));
  EXPECT_EQ(0u, code);
  os::lasterr = "disk on fire";
  EXPECT_EQ("disk on fire", os::getlasterror());
  os::lasterr.clear();
}
