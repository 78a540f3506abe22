// Stopwatches, timed-wait deadlines, sleeping and small helpers.
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <sstream>

#include "vesk_support/os.h"

namespace os {

float ticksPerSec = 0.0f;
std::string lasterr;

void initialiseTimers() {
  if (ticksPerSec == 0.0f) ticksPerSec = 1000000.0f;
}

namespace {
int64_t now_ticks() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return int64_t(tv.tv_sec) * 1000000 + tv.tv_usec;
}
}  // namespace

Timer::Timer() {
  initialiseTimers();
  start = now_ticks();
}

float Timer::reset() {
  if (ticksPerSec == 0.0f) return 0.0f;
  int64_t now = now_ticks();
  float s = float(double(now - start) / ticksPerSec);
  start = now;
  return s;
}

float Timer::elapsed() const {
  if (ticksPerSec == 0.0f) return 0.0f;
  return float(double(now_ticks() - start) / ticksPerSec);
}

int64_t Timer::elapsedMS() const { return int64_t(double(elapsed()) * 1000.0); }

int64_t Timer::elapsedUS() const {
  if (ticksPerSec == 0.0f) return 0;
  return now_ticks() - start;
}

float Timer::getTicksPerSec() const { return ticksPerSec; }

void addToTime(const timeval& now, unsigned ms, timespec* out) {
  int64_t sec = int64_t(now.tv_sec) + ms / 1000;
  int64_t usec = int64_t(now.tv_usec) + int64_t(ms % 1000) * 1000;
  while (usec > 999999) {
    usec -= 1000000;
    ++sec;
  }
  out->tv_sec = time_t(sec);
  out->tv_nsec = long(usec * 1000);
}

void addToTimeOfDay(unsigned ms, timespec* out) {
  timeval now;
  gettimeofday(&now, nullptr);
  addToTime(now, ms, out);
}

void msleep(unsigned ms) { usleep(useconds_t(ms) * 1000); }

pthread_t getCurrentThreadId() { return pthread_self(); }

pid_t gettid() { return pid_t(syscall(SYS_gettid)); }

std::string getlasterror(unsigned* code) {
  if (code) *code = 0;
  return lasterr.empty() ? std::string("no further information") : lasterr;
}

std::string n2s(float value, unsigned width) {
  std::ostringstream s;
  s << value;
  std::string text = s.str();
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

}  // namespace os
