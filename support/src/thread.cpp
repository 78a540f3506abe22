// Prioritised POSIX threads with a small state machine.
#include <sched.h>
#include <sys/resource.h>

#include <exception>
#include <iostream>

#include "vesk_support/os.h"

namespace os {

Thread::Thread()
    : state(TS_VIRGIN),
      proc(nullptr),
      arg(nullptr),
      stop_requested(false),
      label(nullptr),
      priority(0),
      verbose(false),
      handle(),
      started_(false) {}

Thread::~Thread() {}

int Thread::getState() {
  ScopedLock guard(mutex);
  return state;
}

bool Thread::isRunning() { return getState() == TS_RUNNING; }

void Thread::cout_label() const {
  std::cout << "thread ";
  if (label) std::cout << label << " ";
}

void Thread::report_error(const char* msg) const {
  std::cout << cout_global_elapsed();
  cout_label();
  std::cout << "[ERROR] " << msg << std::endl;
}

void Thread::start(Proc p, void* a, int prio, const char* lbl) {
  bool running = false;
  {
    ScopedLock guard(mutex);
    if (state == TS_FINISHED || state == TS_FAILED) {
      // A finished thread has returned from its procedure: join it so that
      // its resources are reclaimed before the handle is reused.
      if (state == TS_FINISHED) pthread_join(handle, nullptr);
      state = TS_VIRGIN;
      proc = nullptr;
      arg = nullptr;
      handle = pthread_t();
      stop_requested = false;
    }
    started_ = false;
    running = state == TS_RUNNING;
  }
  if (running) fail("can only start() from TS_VIRGIN");
  label = lbl;
  proc = p;
  arg = a;
  priority = prio;

  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) fail("failed to create thread attribute");
  if (pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE) != 0) {
    pthread_attr_destroy(&attr);
    fail("failed to set thread attribute");
  }
  if (pthread_create(&handle, &attr, &Thread::body, this) != 0) {
    {
      ScopedLock guard(mutex);
      state = TS_FAILED;
    }
    pthread_attr_destroy(&attr);
    fail("failed to create thread");
  }
  if (pthread_attr_destroy(&attr) != 0) fail("failed to destroy thread attribute");

  for (;;) {
    int s = getState();
    if (s == TS_RUNNING) return;
    // A short procedure may run to its end before this poll sees it running:
    // that start succeeded. Only a thread that finished without ever
    // running would be a failure.
    if (s == TS_FINISHED) {
      if (started_) return;
      fail("thread finished whilst starting");
    }
    if (s == TS_FAILED) fail("internal error");
    msleep(10);
  }
}

void* Thread::body(void* self) {
  Thread* t = static_cast<Thread*>(self);
  {
    ScopedLock guard(t->mutex);
    t->state = TS_RUNNING;
    t->started_ = true;
  }
  if (t->priority >= 1 && t->priority <= 99) {
    sched_param sp;
    sp.sched_priority = t->priority;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &sp) != 0)
      std::cout << "**** pthread_setschedparam() failed (rlimits?) ****" << std::endl;
  } else if (t->priority < 0) {
    setpriority(PRIO_PROCESS, id_t(gettid()), -t->priority);
  }
  if (t->verbose) {
    std::cout << cout_global_elapsed();
    t->cout_label();
    std::cout << "(TID " << gettid() << ") starting";
    int policy = SCHED_OTHER;
    sched_param sp;
    sp.sched_priority = 0;
    if (pthread_getschedparam(pthread_self(), &policy, &sp) != 0) {
      std::cout << "\n\n****FAILED****\n\n" << std::endl;
      policy = SCHED_OTHER;
      sp.sched_priority = 0;
    }
    const char* name = policy == SCHED_OTHER ? "SCHED_OTHER" : policy == SCHED_RR ? "SCHED_RR" : "SCHED_???";
    std::cout << " (" << name << ":" << sp.sched_priority << ")" << std::endl;
  }
  pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
  pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
  try {
    t->proc(t);
  } catch (const std::exception& e) {
    std::cout << "****WARNING**** the client thread procedure raised an exception (" << e.what()
              << ") (this is illegal: it should handle its own exceptions)" << std::endl;
  } catch (...) {
    std::cout << "****WARNING**** the client thread procedure raised an exception (...) (this is "
                 "illegal: it should handle its own exceptions)"
              << std::endl;
  }
  if (t->verbose) {
    std::cout << cout_global_elapsed();
    t->cout_label();
    std::cout << "(TID " << gettid() << ") exiting" << std::endl;
  }
  ScopedLock guard(t->mutex);
  t->state = TS_FINISHED;
  return nullptr;
}

void Thread::stop() {
  stop_requested = true;
  for (int i = 0; i < 500; ++i) {
    int s = getState();
    if (s == TS_VIRGIN || s == TS_FINISHED) return;
    if (s == TS_FAILED) fail("internal error");
    msleep(10);
  }
  std::cout << "abandoning wait for thread to stop..." << std::endl;
}

}  // namespace os
