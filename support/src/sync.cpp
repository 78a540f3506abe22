// Mutex and auto-reset event.
#include <errno.h>

#include <iostream>

#include "vesk_support/os.h"

namespace os {

const bool Signal_global_false = false;

Mutex::Mutex() {
  if (pthread_mutex_init(&mutex_, nullptr) != 0) fail("pthread_mutex_init() failed");
}

Mutex::~Mutex() { pthread_mutex_destroy(&mutex_); }

void Mutex::lock() {
  if (pthread_mutex_lock(&mutex_) != 0) fail("pthread_mutex_lock() failed");
}

void Mutex::release() {
  if (pthread_mutex_unlock(&mutex_) != 0) fail("pthread_mutex_unlock() failed");
}

Signal::Signal(unsigned timeout_ms, const bool* abort_flag)
    : timeout(timeout_ms), abort(abort_flag ? abort_flag : &Signal_global_false), signalled_(false) {
  if (pthread_mutex_init(&mutex_, nullptr) != 0) fail("pthread_mutex_init() failed");
  if (pthread_cond_init(&cond_, nullptr) != 0) {
    pthread_mutex_destroy(&mutex_);
    fail("pthread_cond_init() failed");
  }
}

Signal::Signal(const Signal&) : timeout(0), abort(&Signal_global_false), signalled_(false) {
  fail("called copy ctor of Signal");
}

Signal::~Signal() {
  unsigned used_ms = 0;
  for (;;) {
    int r = pthread_mutex_destroy(&mutex_);
    if (r == 0) break;
    if (r != EBUSY) {
      std::cout << "****WARNING**** pthread_mutex_destroy() failed in ~Signal" << std::endl;
      break;
    }
    msleep(100);
    used_ms += 100;
    if (used_ms >= 1000) {
      std::cout << "****WARNING**** TIMEOUT waiting to destroy mutex (1000 milliseconds) - this will "
                   "happen if a thread is waiting on it(?)"
                << std::endl;
      break;
    }
  }
  for (;;) {
    int r = pthread_cond_destroy(&cond_);
    if (r == 0) return;
    if (r != EBUSY) {
      std::cout << "****WARNING**** pthread_cond_destroy() failed in ~Signal" << std::endl;
      return;
    }
    msleep(100);
    used_ms += 100;
    if (used_ms >= 1000) {
      std::cout << "****WARNING**** TIMEOUT waiting to destroy cond (1000 milliseconds) - this will "
                   "happen if a thread is waiting on it(?)"
                << std::endl;
      return;
    }
  }
}

void Signal::set() {
  if (pthread_mutex_lock(&mutex_) != 0) fail("failed to set signal (lock mutex)");
  signalled_ = true;
  if (pthread_cond_signal(&cond_) != 0) {
    pthread_mutex_unlock(&mutex_);
    fail("failed to set signal (signal cond)");
  }
  if (pthread_mutex_unlock(&mutex_) != 0) fail("failed to set signal (unlock mutex)");
}

int Signal::waitfor() {
  if (pthread_mutex_lock(&mutex_) != 0) fail("failed to waitfor (lock mutex)");
  int result = 0;
  if (!signalled_) {
    unsigned waited = 0;
    for (;;) {
      if (*abort) {
        result = 1;
        break;
      }
      timespec deadline;
      addToTimeOfDay(100, &deadline);
      pthread_cond_timedwait(&cond_, &mutex_, &deadline);
      if (signalled_) break;
      waited += 100;
      if (timeout != 0 && waited >= timeout) {
        result = 2;
        break;
      }
    }
  }
  if (result == 0) signalled_ = false;
  if (pthread_mutex_unlock(&mutex_) != 0) fail("failed to waitfor (unlock mutex)");
  return result;
}

}  // namespace os
