// Shared helpers of the kinematics unit tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "vesk_body/body_options.h"
#include "vesk_body/float3.h"

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
