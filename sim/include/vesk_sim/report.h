// The demo report's files: PNG images (libpng), WAV audio (libsndfile), the report page
// (index.html) that shows them, a runner for the plotting program, and the figures the tests
// check. Free of ROS.
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

// One row of the report's summary table.
struct SummaryRow {
  std::string key, value;
};

// What the report page shows. File names are relative to the page's folder; an empty name
// leaves that part out with a note instead.
struct ReportPage {
  std::string title;
  std::string intro;  // one paragraph under the title
  std::string plot;   // trajectory plot image
  std::string plot_caption;
  std::string eye_left, eye_right;  // eye camera snapshots
  std::string audio;                // the voice, a WAV file
  std::string audio_caption;
  std::vector<SummaryRow> summary;
  std::vector<SummaryRow> messages;  // messages per topic (a second table; may be empty)
};

// The page as one HTML document that needs no network: the images and the audio are the
// files beside it, the style is inline, and an inline script marks each image and the audio
// element with data-loaded="yes" or "no" once the browser has loaded (or failed to load)
// it, and the element #load-status with data-state="loaded" or "missing". All text is
// escaped.
std::string report_html(const ReportPage& page);

// Text with &, <, >, " and ' replaced by their HTML entities.
std::string html_escape(const std::string& text);

// Runs a program (argv[0] is its path) with its standard output and error going to
// `output`; returns its exit status, or -1 when it cannot be started or does not end
// within `timeout_s` (it is then killed).
int run_program(const std::vector<std::string>& argv, double timeout_s, std::string* output);

// Standard deviation of all bytes of an image (0 for a uniform image).
double image_spread(const RgbImage& image);
// Root mean square of the samples, in sample units.
double rms(const std::vector<int16_t>& samples);
// Length of a path [m].
double path_length(const std::vector<BasePose>& path);

}  // namespace vesk_sim
