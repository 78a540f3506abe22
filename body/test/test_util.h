// Shared helpers of the kinematics unit tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

#include "vesk_body/body_options.h"
#include "vesk_body/float3.h"
#include "vesk_body/kc_push.h"

// Runs `fn` and returns what it wrote on standard output.
inline std::string capture_stdout(const std::function<void()>& fn) {
  testing::internal::CaptureStdout();
  try {
    fn();
  } catch (...) {
    testing::internal::GetCapturedStdout();
    throw;
  }
  return testing::internal::GetCapturedStdout();
}

// Runs `fn`, which should raise; returns the message of the runtime error it
// raised ("" if none) and, in *out, what it wrote on standard output.
inline std::string failure_of(const std::function<void()>& fn, std::string* out = nullptr) {
  std::string what;
  const std::string printed = capture_stdout([&] {
    try {
      fn();
    } catch (const std::runtime_error& e) {
      what = e.what();
    }
  });
  if (out) *out = printed;
  return what;
}

inline KC_PUSH make_push(int link, uint32_t flags, float3 pos, float3 vec) {
  KC_PUSH p;
  p.link = link;
  p.flags = flags;
  p.pushpos = pos;
  p.pushvec = vec;
  return p;
}

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline testing::AssertionResult float3_near(const float3& a, const float3& b, float tol) {
  if (std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol && std::fabs(a.z - b.z) <= tol)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x << ", "
                                     << b.y << ", " << b.z << "), tolerance " << tol;
}

#define EXPECT_FLOAT3_NEAR(a, b, tol) EXPECT_TRUE(float3_near((a), (b), (tol)))
#define EXPECT_FLOAT3_EQ(a, b) EXPECT_TRUE(float3_near((a), (b), 0.0f))

// Restores the kinematics' options after each test.
class KinematicsTest : public testing::Test {
 protected:
  void SetUp() override { body_opt = BODY_OPTIONS(); }
  void TearDown() override { body_opt = BODY_OPTIONS(); }
};
