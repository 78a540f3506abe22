#include "vesk_sim/report.h"

#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vesk_support/os.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace vesk_sim {

bool write_png(const std::string& path, const RgbImage& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.rgb.size() < static_cast<size_t>(image.width) * image.height * 3) {
    os::warn("no image to write to \"" + path + "\"");
    return false;
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr)) {
    os::warn("failed to write \"" + path + "\": " + png.message);
    return false;
  }
  return true;
}

bool read_png(const std::string& path, RgbImage& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
  png.format = PNG_FORMAT_RGB;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.rgb.assign(PNG_IMAGE_SIZE(png), 0);
  if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
    png_image_free(&png);
    return false;
  }
  return true;
}

bool write_wav(const std::string& path, const std::vector<int16_t>& samples, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) {
    os::warn("failed to write \"" + path + "\": " + sf_strerror(nullptr));
    return false;
  }
  const sf_count_t n = static_cast<sf_count_t>(samples.size());
  const bool ok = sf_write_short(f, samples.data(), n) == n;
  sf_close(f);
  if (!ok) os::warn("failed to write all samples to \"" + path + "\"");
  return ok;
}

bool read_wav(const std::string& path, std::vector<int16_t>& samples, int& rate) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return false;
  if (info.channels != 1) {
    sf_close(f);
    return false;
  }
  rate = info.samplerate;
  samples.assign(static_cast<size_t>(info.frames), 0);
  const sf_count_t got = sf_read_short(f, samples.data(), info.frames);
  sf_close(f);
  return got == info.frames;
}

std::string html_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

// Style and load check of the report page (inline: the page needs no network).
const char* const kPageStyle = R"(
body { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif; margin: 20px 28px;
       color: #222; background: #fff; }
h1 { font-size: 22px; margin: 0 0 4px 0; }
h2 { font-size: 16px; margin: 18px 0 6px 0; border-bottom: 1px solid #ccc; padding-bottom: 2px; }
p { margin: 4px 0; font-size: 14px; }
.columns { display: flex; flex-wrap: wrap; gap: 28px; align-items: flex-start; }
.main { flex: 0 1 720px; }
.side { flex: 1 1 380px; max-width: 560px; }
img.plot { width: 100%; max-width: 720px; border: 1px solid #ddd; }
.eyes { display: flex; gap: 10px; }
.eyes figure { margin: 0; flex: 1 1 0; }
.eyes img { width: 100%; border: 1px solid #ddd; }
figcaption, .note { font-size: 12px; color: #555; }
audio { width: 100%; }
table { border-collapse: collapse; width: 100%; font-size: 13px; }
td { border-bottom: 1px solid #e4e4e4; padding: 2px 6px; vertical-align: top; }
td.value { font-family: "DejaVu Sans Mono", monospace; white-space: nowrap; }
#load-status { font-size: 12px; color: #555; margin-top: 14px; }
)";

const char* const kLoadCheck = R"(
(function () {
  var status = document.getElementById('load-status');
  var items = Array.prototype.slice.call(document.querySelectorAll('[data-file]'));
  var pending = items.length, missing = [];
  function done(el, ok) {
    if (el.hasAttribute('data-loaded')) return;
    el.setAttribute('data-loaded', ok ? 'yes' : 'no');
    if (!ok) missing.push(el.getAttribute('data-file'));
    if (--pending > 0) return;
    status.setAttribute('data-state', missing.length ? 'missing' : 'loaded');
    status.textContent = missing.length ? 'Not loaded: ' + missing.join(', ')
                                        : 'All ' + items.length + ' report files loaded.';
  }
  if (pending === 0) { status.setAttribute('data-state', 'loaded'); status.textContent = ''; }
  items.forEach(function (el) {
    if (el.tagName === 'IMG') {
      if (el.complete) { done(el, el.naturalWidth > 0); return; }
      el.addEventListener('load', function () { done(el, el.naturalWidth > 0); });
      el.addEventListener('error', function () { done(el, false); });
    } else {
      if (el.error) { done(el, false); return; }
      if (el.readyState >= 1) { done(el, true); return; }
      el.addEventListener('loadedmetadata', function () { done(el, true); });
      el.addEventListener('error', function () { done(el, false); });
    }
  });
})();
)";

void image(std::ostringstream& h, const std::string& file, const std::string& alt, const char* cls) {
  if (file.empty()) {
    h << "<p class=\"note\">(no " << html_escape(alt) << ")</p>\n";
    return;
  }
  h << "<img class=\"" << cls << "\" src=\"" << html_escape(file) << "\" data-file=\"" << html_escape(file)
    << "\" alt=\"" << html_escape(alt) << "\">\n";
}

}  // namespace

std::string report_html(const ReportPage& page) {
  std::ostringstream h;
  h << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    << "<title>" << html_escape(page.title) << "</title>\n<style>" << kPageStyle << "</style>\n</head>\n"
    << "<body>\n<h1>" << html_escape(page.title) << "</h1>\n";
  if (!page.intro.empty()) h << "<p>" << html_escape(page.intro) << "</p>\n";
  h << "<div class=\"columns\">\n<div class=\"main\">\n<h2>Trajectory</h2>\n";
  image(h, page.plot, "trajectory plot", "plot");
  if (!page.plot_caption.empty()) h << "<p class=\"note\">" << html_escape(page.plot_caption) << "</p>\n";
  h << "<h2>Eye cameras, last frames</h2>\n<div class=\"eyes\">\n";
  const std::pair<const std::string*, const char*> eyes[2] = {{&page.eye_left, "left eye"},
                                                              {&page.eye_right, "right eye"}};
  for (const auto& [file, label] : eyes) {
    h << "<figure>\n";
    image(h, *file, label, "eye");
    h << "<figcaption>" << label << "</figcaption>\n</figure>\n";
  }
  h << "</div>\n</div>\n<div class=\"side\">\n<h2>Voice</h2>\n";
  if (page.audio.empty()) {
    h << "<p class=\"note\">(no voice recording)</p>\n";
  } else {
    h << "<audio controls preload=\"auto\" src=\"" << html_escape(page.audio) << "\" data-file=\""
      << html_escape(page.audio) << "\"></audio>\n";
  }
  if (!page.audio_caption.empty()) h << "<p class=\"note\">" << html_escape(page.audio_caption) << "</p>\n";
  h << "<h2>Summary</h2>\n<table>\n";
  for (const SummaryRow& r : page.summary) {
    h << "<tr><td>" << html_escape(r.key) << "</td><td class=\"value\">" << html_escape(r.value)
      << "</td></tr>\n";
  }
  h << "</table>\n";
  if (!page.messages.empty()) {
    h << "<h2>Messages per topic</h2>\n<table>\n";
    for (const SummaryRow& r : page.messages) {
      h << "<tr><td>" << html_escape(r.key) << "</td><td class=\"value\">" << html_escape(r.value)
        << "</td></tr>\n";
    }
    h << "</table>\n";
  }
  h << "<p id=\"load-status\" data-state=\"pending\">Loading the report files...</p>\n"
    << "</div>\n</div>\n<script>" << kLoadCheck << "</script>\n</body>\n</html>\n";
  return h.str();
}

int run_program(const std::vector<std::string>& args, double timeout_s, std::string* output) {
  if (args.empty()) return -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec: the parent may have threads.
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
  bool timed_out = false;
  char buf[4096];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (output) output->append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (timed_out) kill(pid, SIGKILL);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  if (timed_out || !WIFEXITED(st)) return -1;
  return WEXITSTATUS(st);
}

double image_spread(const RgbImage& image) {
  if (image.rgb.empty()) return 0.0;
  double sum = 0.0, sum2 = 0.0;
  for (uint8_t b : image.rgb) {
    sum += b;
    sum2 += static_cast<double>(b) * b;
  }
  const double n = static_cast<double>(image.rgb.size());
  return std::sqrt(std::max(0.0, sum2 / n - (sum / n) * (sum / n)));
}

double rms(const std::vector<int16_t>& samples) {
  if (samples.empty()) return 0.0;
  double sum2 = 0.0;
  for (int16_t s : samples) sum2 += static_cast<double>(s) * s;
  return std::sqrt(sum2 / static_cast<double>(samples.size()));
}

double path_length(const std::vector<BasePose>& path) {
  double d = 0.0;
  for (size_t i = 1; i < path.size(); ++i)
    d += std::hypot(path[i].x - path[i - 1].x, path[i].y - path[i - 1].y);
  return d;
}

}  // namespace vesk_sim
