// A fixed set of threads that runs batches of independent jobs: run(n, job) calls job(i,
// worker) once for every i in 0..n-1, spread over the calling thread and the pool's own
// threads, and returns when all n calls have returned. Jobs are taken in index order, so
// giving the longest jobs the lowest indices balances the load. `worker` (0 .. size()-1)
// names the thread that runs a call, for per-thread scratch memory; the calling thread is
// worker 0. With size() == 1 (or one job) everything runs on the calling thread, in order.
//
// A job must not throw (catch inside it) and must not call run() on the same pool. One
// thread at a time may call run().
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vesk_sim {

class WorkerPool {
 public:
  using Job = std::function<void(size_t index, unsigned worker)>;

  // `threads` workers in all (the caller included); 0 means one per hardware thread.
  explicit WorkerPool(unsigned threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  unsigned size() const { return size_; }
  void run(size_t n, const Job& job);

 private:
  void serve(unsigned worker);
  // Takes and runs jobs of the current batch until none is left.
  void drain(unsigned worker);

  unsigned size_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable start_, done_;
  const Job* job_ = nullptr;  // the current batch's job; guarded by mutex_
  size_t count_ = 0;          // jobs in the current batch
  size_t next_ = 0;           // next job index to take
  size_t finished_ = 0;       // jobs of the batch that have returned
  unsigned long batch_ = 0;   // batch number, for the threads to tell a new batch
  bool stop_ = false;
};

}  // namespace vesk_sim
