// Portable operating-system layer of the kit: the console time-stamp prefix,
// stopwatches, sleeping, mutexes, auto-reset events and threads over POSIX.
//
// Error convention: a failure the caller cannot survive prints "[ERROR] ",
// the message and a newline on standard output and raises std::runtime_error
// carrying the message (os::fail). Trouble that can be survived prints a
// warning line and the operation goes on (os::warn).
#pragma once

#include <pthread.h>
#include <sys/types.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace os {

// ---- console ---------------------------------------------------------------

// Seconds since the first call in the process (time of day, microseconds).
float get_global_elapsed();

// Formats the time-stamp prefix "[sss.mmm] " for a time in seconds; the
// seconds wrap every 1000 s. Exposed for testing; `out` holds >= 16 chars.
void format_elapsed_prefix(float seconds, char out[16]);

// Writes the time-stamp prefix to standard output and returns "", so that it
// can head an output chain: std::cout << os::cout_global_elapsed() << "...".
const char* cout_global_elapsed();

// Report-and-raise: "[ERROR] " + msg on stdout, then std::runtime_error(msg).
[[noreturn]] void fail(const std::string& msg);

// Warning line: prefix, "**** WARNING **** ", newline, tab, msg, newline.
void warn(const std::string& msg);

// ---- time ------------------------------------------------------------------

extern float ticksPerSec;  // timer ticks per second; 0 until initialiseTimers()
void initialiseTimers();

// Stopwatch on the time of day, in microseconds.
class Timer {
 public:
  Timer();
  float reset();              // seconds since start; restarts
  float elapsed() const;      // seconds since start
  int64_t elapsedMS() const;  // elapsed() * 1000, truncated
  int64_t elapsedUS() const;  // microseconds since start
  float getTicksPerSec() const;

  int64_t start;  // microseconds since the epoch
};

// Fills `out` with the absolute time now + ms, for timed waits.
void addToTimeOfDay(unsigned ms, timespec* out);
// Same arithmetic from a given time of day; exposed for testing.
void addToTime(const timeval& now, unsigned ms, timespec* out);

void msleep(unsigned ms);

// ---- identity and errors ---------------------------------------------------

pthread_t getCurrentThreadId();
pid_t gettid();
extern std::string lasterr;
std::string getlasterror(unsigned* code = nullptr);

// `value` in default stream formatting, left-padded with '0' to `width`.
std::string n2s(float value, unsigned width);

// ---- locks and events ------------------------------------------------------

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock();
  void release();

 private:
  pthread_mutex_t mutex_;
};

// Holds an os::Mutex for the lifetime of the guard, so that a raised error
// still releases the lock.
class ScopedLock {
 public:
  explicit ScopedLock(Mutex& m) : m_(m) { m_.lock(); }
  ~ScopedLock() { m_.release(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Mutex& m_;
};

extern const bool Signal_global_false;

// Auto-reset event. set() from any thread; waitfor() from one thread.
// waitfor() waits in slices of 100 ms, polling the abort flag between them:
// 0 = the event came (and is consumed), 1 = abort flag true, 2 = timed out.
// A timeout of 0 waits without limit; timeouts count in whole 100 ms slices.
class Signal {
 public:
  explicit Signal(unsigned timeout_ms = 0, const bool* abort = nullptr);
  Signal(const Signal&);  // always fails: an event is never copied
  Signal& operator=(const Signal&) = delete;
  ~Signal();
  void set();
  int waitfor();

  unsigned timeout;
  const bool* abort;

 private:
  pthread_mutex_t mutex_;
  pthread_cond_t cond_;
  bool signalled_;
};

enum ThreadState { TS_VIRGIN = 0, TS_RUNNING = 1, TS_FINISHED = 2, TS_FAILED = 3 };

// A joinable POSIX thread running `proc(thread)`. Priority 1..99 asks for
// SCHED_RR at that priority, a negative priority sets nice to its negation,
// 0 and >= 100 leave scheduling alone. The procedure polls stop_requested.
class Thread {
 public:
  typedef void (*Proc)(Thread*);

  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void start(Proc proc, void* arg = nullptr, int priority = 0, const char* label = nullptr);
  void stop();
  bool isRunning();
  void cout_label() const;
  void report_error(const char* msg) const;
  int getState();

  Mutex mutex;
  int state;
  Proc proc;
  void* arg;
  std::atomic<bool> stop_requested;
  const char* label;
  int priority;
  bool verbose;
  pthread_t handle;

 private:
  static void* body(void* self);
  bool started_;  // the new thread reached TS_RUNNING (guarded by mutex)
};

// ---- directory listing -----------------------------------------------------

class Directory {
 public:
  explicit Directory(const std::string& path);
  ~Directory();
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  std::string getNextFile();  // next name not starting with "."; "" at the end
  void close();
  bool wasDirectory() const;
  bool wasSymLink() const;

 private:
  std::string path_;
  void* stream_;         // DIR*
  std::string current_;  // name of the entry returned last; "" when none
};

}  // namespace os
