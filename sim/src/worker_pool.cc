#include "vesk_sim/worker_pool.h"

namespace vesk_sim {

WorkerPool::WorkerPool(unsigned threads) {
  if (threads == 0) threads = std::thread::hardware_concurrency();
  size_ = threads > 0 ? threads : 1;
  for (unsigned w = 1; w < size_; ++w) threads_.emplace_back([this, w]() { serve(w); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  start_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void WorkerPool::run(size_t n, const Job& job) {
  if (n == 0) return;
  if (size_ == 1 || n == 1) {
    for (size_t i = 0; i < n; ++i) job(i, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &job;
    count_ = n;
    next_ = 0;
    finished_ = 0;
    ++batch_;
  }
  start_.notify_all();
  drain(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this]() { return finished_ == count_; });
  job_ = nullptr;
}

void WorkerPool::drain(unsigned worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (job_ && next_ < count_) {
    const size_t i = next_++;
    const Job& job = *job_;
    lock.unlock();
    job(i, worker);
    lock.lock();
    if (++finished_ == count_) done_.notify_one();
  }
}

void WorkerPool::serve(unsigned worker) {
  unsigned long seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&]() { return stop_ || batch_ != seen; });
      if (stop_) return;
      seen = batch_;
    }
    drain(worker);
  }
}

}  // namespace vesk_sim
