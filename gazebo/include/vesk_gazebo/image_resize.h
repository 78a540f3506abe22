// Camera image downscaling and the eye-stream frame geometry of the simulated platform.
// ROS-free and Gazebo-free.
//
// Images are 8-bit RGB, interleaved, rows top to bottom, stored back to back: a w x h image
// is w * h * 3 bytes.
#pragma once

#include <cstddef>

namespace vesk_gazebo {

// Size of one frame buffer of the plug-in: the largest eye image it handles, 1280 x 720 RGB.
constexpr size_t kFrameBufferBytes = 1280 * 720 * 3;

// Downscales ONE colour channel. `src` points at the channel's first byte of a w x h RGB
// image, `dst` at the same channel of a W x H RGB image; every third byte is read and
// written. Call it three times with both pointers advanced by 0, 1 and 2 bytes.
//   w = 4W, h = 4H:      integer mean of 4 x 4 blocks (sum >> 4);
//   w = 2W, h = 2H:      integer mean of 2 x 2 blocks (sum >> 2);
//   w = 3W + 2, h = 3H:  3 x 3 block sum / 9; blocks start at column 0, so the last two
//                        source columns are never read;
//   anything else:       area averaging with fractional row and column weights, scaled by
//                        (W / w) * (H / h), limited to 0..255 and truncated.
// W and H must be at least 1 and at most w and h.
void ResizeImage(const unsigned char* src, int w, int h, unsigned char* dst, int W, int H);

// The 2 x 2 path and the column sums of the area path use SSSE3 where the processor has it;
// SetResizeSimd(false) makes them take the plain code (same results), for tests and
// benchmarks. Process-wide; on by default.
void SetResizeSimd(bool enabled);

// The image a camera frame publishes: data (not owned), width and height in pixels.
struct FrameImage {
  const unsigned char* data;
  int width;
  int height;
};

// Brings a rendered eye image (stream 0 or 1) to the stream geometry W0 x H0:
//  - when its height differs from H0, downscales by the integer factor f = h / H0 (the width
//    must be a multiple of f) into `resize_buf`, announcing the first resize of the stream
//    on standard output while *reported is false (then sets it);
//  - when the (resized) width differs from W0, copies the central W0 columns of every row
//    into `crop_buf` (the copy of a row starts at column (w - W0) / 2).
// Both buffers hold `buf_bytes` bytes. Failures print "[ERROR] " + message and throw
// std::runtime_error: "resize frame failed (height scale not integral)", "resize frame
// failed (width scale not integral)", "crop frame failed (cropped larger than original)",
// and "frame too large for frame buffer (...)" when a result would not fit the buffers.
// Why FitEyeFrame cannot bring a w x h image to W0 x H0 with buffers of `buf_bytes`, in the
// words of its failure messages (without the sizes); nullptr when it can.
const char* EyeFrameProblem(int w, int h, int W0, int H0, size_t buf_bytes);

FrameImage FitEyeFrame(FrameImage in, int stream, int W0, int H0, unsigned char* resize_buf,
                       unsigned char* crop_buf, size_t buf_bytes, bool* reported);

// A 180-row image loses its top two and bottom two rows (published as 176 rows).
FrameImage TrimFrame(FrameImage in);

}  // namespace vesk_gazebo
