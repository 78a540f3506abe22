// The demo report's files: PNG images (libpng), WAV audio (libsndfile), a trajectory
// plot drawn into an RGB image, and the figures the tests check. Free of ROS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vesk_sim/dynamics.h"

namespace vesk_sim {

struct RgbImage {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // rows top to bottom, interleaved RGB
};

// Writes an 8-bit RGB PNG; false (and a warning) when the file cannot be written.
bool write_png(const std::string& path, const RgbImage& image);
// Reads an 8-bit RGB PNG as written above; false when it cannot.
bool read_png(const std::string& path, RgbImage& image);

// Writes 16-bit mono PCM; false (and a warning) when the file cannot be written.
bool write_wav(const std::string& path, const std::vector<int16_t>& samples, int rate);
// Reads a mono 16-bit WAV; false when it cannot.
bool read_wav(const std::string& path, std::vector<int16_t>& samples, int& rate);

// Draws the ground-truth path (blue) and the odometry path (red) of a robot, with a
// 0.5 m grid, the start (black) and the targets (green crosses; x and y in the yaw-free
// poses), scaled to fit the paths and the targets.
RgbImage plot_paths(const std::vector<BasePose>& truth, const std::vector<BasePose>& odometry,
                    const std::vector<BasePose>& targets, int width, int height);

// Standard deviation of all bytes of an image (0 for a uniform image).
double image_spread(const RgbImage& image);
// Root mean square of the samples, in sample units.
double rms(const std::vector<int16_t>& samples);
// Length of a path [m].
double path_length(const std::vector<BasePose>& path);

}  // namespace vesk_sim
