// Events with 100 ms slices and an abort flag, and the thread state machine.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "cout_capture.h"
#include "vesk_support/os.h"

namespace {

// Sets an event or a flag from another thread after a delay.
struct Later {
  unsigned ms;
  os::Signal* signal = nullptr;
  bool* flag = nullptr;
  static void proc(os::Thread* t) {
    Later* l = static_cast<Later*>(t->arg);
    os::msleep(l->ms);
    if (l->flag) *l->flag = true;
    if (l->signal) l->signal->set();
  }
};

}  // namespace

TEST(Signal, EventBeforeWaitIsTakenAtOnceEvenWhenAborted) {
  bool abort = true;
  os::Signal s(0, &abort);
  s.set();
  os::Timer t;
  EXPECT_EQ(0, s.waitfor());
  EXPECT_LT(t.elapsedMS(), 90);
  // The event was consumed: now the abort flag answers.
  EXPECT_EQ(1, s.waitfor());
}

TEST(Signal, AbortWithoutEventReturnsWithoutSleeping) {
  bool abort = true;
  os::Signal s(1000, &abort);
  os::Timer t;
  EXPECT_EQ(1, s.waitfor());
  EXPECT_LT(t.elapsedMS(), 90);
}

TEST(Signal, TimeoutCountsWholeSlices) {
  os::Signal s(250, nullptr);
  os::Timer t;
  EXPECT_EQ(2, s.waitfor());
  EXPECT_GE(t.elapsedMS(), 290);  // three slices of 100 ms
}

TEST(Signal, SeveralSetsCountAsOne) {
  os::Signal s(100, nullptr);
  s.set();
  s.set();
  EXPECT_EQ(0, s.waitfor());
  EXPECT_EQ(2, s.waitfor());
}

TEST(Signal, UnlimitedWaitEndsWhenAnotherThreadSets) {
  os::Signal s(0, nullptr);
  Later later{150, &s, nullptr};
  os::Thread th;
  th.start(&Later::proc, &later);
  EXPECT_EQ(0, s.waitfor());
  th.stop();
}

TEST(Signal, AbortFlagIsPolledBetweenSlices) {
  bool abort = false;
  os::Signal s(0, &abort);
  Later later{150, nullptr, &abort};
  os::Thread th;
  th.start(&Later::proc, &later);
  EXPECT_EQ(1, s.waitfor());
  th.stop();
}

TEST(Signal, CopyIsRefused) {
  CoutCapture cap;
  os::Signal s(10, nullptr);
  EXPECT_THROW(os::Signal copy(s), std::runtime_error);
  EXPECT_NE(std::string::npos, cap.str().find("[ERROR] called copy ctor of Signal"));
}

namespace {
std::atomic<int> g_runs{0};
void count_and_return(os::Thread*) { ++g_runs; }
void wait_for_stop(os::Thread* t) {
  while (!t->stop_requested) os::msleep(2);
}
void raise_error(os::Thread*) { throw std::runtime_error("bad day"); }
void read_nice(os::Thread* t) { *static_cast<int*>(t->arg) = getpriority(PRIO_PROCESS, id_t(os::gettid())); }
}  // namespace

TEST(Thread, StopOnNeverStartedThreadReturnsAtOnce) {
  os::Thread th;
  os::Timer t;
  th.stop();
  EXPECT_LT(t.elapsedMS(), 90);
  EXPECT_EQ(os::TS_VIRGIN, th.getState());
  EXPECT_FALSE(th.isRunning());
}

TEST(Thread, StartingARunningThreadFails) {
  CoutCapture cap;
  os::Thread th;
  th.start(&wait_for_stop);
  EXPECT_TRUE(th.isRunning());
  EXPECT_THROW(th.start(&wait_for_stop), std::runtime_error);
  EXPECT_NE(std::string::npos, cap.str().find("[ERROR] can only start() from TS_VIRGIN"));
  th.stop();
  EXPECT_EQ(os::TS_FINISHED, th.getState());
  EXPECT_TRUE(th.stop_requested);
}

TEST(Thread, RestartAfterTheProcedureReturned) {
  os::Thread th;
  int before = g_runs;
  th.start(&wait_for_stop);
  th.stop();
  ASSERT_EQ(os::TS_FINISHED, th.getState());
  // start() resets a finished thread, including its stop request.
  th.start(&count_and_return, nullptr, 0, "again");
  th.stop();
  EXPECT_EQ(before + 1, g_runs);
  EXPECT_STREQ("again", th.label);
}

TEST(Thread, EscapedExceptionIsReportedAndTheThreadFinishes) {
  CoutCapture cap;
  os::Thread th;
  th.verbose = true;
  th.start(&raise_error, nullptr, 0, "worker");
  th.stop();
  EXPECT_EQ(os::TS_FINISHED, th.getState());
  std::string out = cap.str();
  EXPECT_NE(std::string::npos,
            out.find("****WARNING**** the client thread procedure raised an exception (bad day) (this is "
                     "illegal: it should handle its own exceptions)"))
      << out;
  EXPECT_NE(std::string::npos, out.find("thread worker (TID ")) << out;
  EXPECT_NE(std::string::npos, out.find(") starting (SCHED_OTHER:0)\n")) << out;
  EXPECT_NE(std::string::npos, out.find(") exiting\n")) << out;
}

TEST(Thread, NegativePriorityIsANiceValue) {
  os::Thread th;
  int nice_value = -100;
  th.start(&read_nice, &nice_value, -5);
  th.stop();
  EXPECT_EQ(5, nice_value);
}

TEST(Thread, ReportErrorOnlyPrints) {
  CoutCapture cap;
  os::Thread th;
  th.label = "io";
  th.report_error("lost");
  EXPECT_NE(std::string::npos, cap.str().find("thread io [ERROR] lost\n"));
}

TEST(Mutex, ScopedLockReleasesOnError) {
  os::Mutex m;
  try {
    os::ScopedLock g(m);
    throw std::runtime_error("x");
  } catch (const std::runtime_error&) {
  }
  os::ScopedLock again(m);  // would deadlock if the guard had leaked the lock
  SUCCEED();
}
