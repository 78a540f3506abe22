// Camera frame specification: "[size][@rate][!...]".
#include <vesk_support/os.h>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "vesk_net/interf.h"

namespace {

struct FrameSize {
  const char* code;
  uint16_t width;
  uint16_t height;
};

constexpr FrameSize kFrameSizes[] = {
    {"720p", 1280, 720}, {"720w", 1280, 720}, {"720s", 960, 720}, {"360p", 640, 360}, {"360w", 640, 360},
    {"360s", 480, 360},  {"240s", 320, 240},  {"180p", 320, 180}, {"180w", 320, 180}, {"180s", 240, 180},
};

const FrameSize* find_size(const std::string& code) {
  for (const FrameSize& s : kFrameSizes) {
    if (code == s.code) return &s;
  }
  return nullptr;
}

// Differs unless equal or unordered (a NaN on either side counts as no difference).
bool rate_differs(float a, float b) { return !std::isunordered(a, b) && a != b; }

void warn_segment(int verbosity, const std::string& frame_text, const char* segment) {
  if (verbosity > 0) {
    os::warn("failed to parse argument \"frame=" + frame_text + "\" (" + segment + ")");
  }
}

}  // namespace

bool VESK_NET_INTERF::parse_frame_spec(std::string frame_text, VESK_PLATFORM_PARS* pars, int verbosity) {
  if (verbosity > 1) {
    std::cout << os::cout_global_elapsed() << "setting frame spec to " << frame_text << std::endl;
  }

  bool changed = false;
  const size_t bang = frame_text.find('!');
  if (bang != std::string::npos) {
    frame_text.resize(bang);
    changed = true;
  }

  const size_t at = frame_text.find('@');
  const std::string size_seg = frame_text.substr(0, at);
  const std::string rate_seg = at == std::string::npos ? std::string() : frame_text.substr(at + 1);

  if (!size_seg.empty()) {
    const FrameSize* size = find_size(size_seg);
    if (size == nullptr) {
      warn_segment(verbosity, frame_text, "frame size segment");
      return false;
    }
    const VESK_FRAME_GEOM geom = {size->width, size->height, {0, 0, 0, 0}};
    for (VESK_STREAM_PARS& s : pars->stream) {
      if (!comp_frame_geom(s.stream_geom, geom)) {
        s.stream_geom = geom;
        changed = true;
      }
    }
  }

  if (!rate_seg.empty()) {
    float rate = 0.0f;
    if (std::sscanf(rate_seg.c_str(), "%f", &rate) != 1) {
      warn_segment(verbosity, frame_text, "frame rate segment");
      return false;
    }
    if (rate_differs(rate, pars->stream[0].stream_rate)) {
      pars->stream[0].stream_rate = rate;
      pars->stream[1].stream_rate = rate;
      changed = true;
    } else if (rate_differs(rate, pars->stream[1].stream_rate)) {
      pars->stream[1].stream_rate = rate;
      changed = true;
    }
  }

  if (changed) {
    if (verbosity > 1) std::cout << os::cout_global_elapsed() << "(changed)" << std::endl;
    pars->frame_flags |= FRAME_FLAGS_CHANGED;
    return true;
  }
  if (verbosity > 1) std::cout << os::cout_global_elapsed() << "(unchanged)" << std::endl;
  return false;
}
