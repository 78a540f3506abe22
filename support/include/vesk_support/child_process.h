// A program run as a child process of a test: its standard output (and
// error) is collected for inspection, its exit status can be awaited. Used by
// the tests that drive the real node binaries.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vesk_test {

class ChildProcess {
 public:
  // `env` holds "NAME=value" entries that replace or add to the test's own
  // environment for the child.
  ChildProcess(const std::string& binary, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {}) {
    // Everything the child needs is prepared before the fork: between fork
    // and exec it only calls async-signal-safe functions.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      bool replaced = false;
      for (const std::string& o : env)
        replaced = replaced || entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0;
      if (!replaced) envp.push_back(*e);
    }
    for (const std::string& o : env) envp.push_back(const_cast<char*>(o.c_str()));
    envp.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      close(fds[0]);
      close(fds[1]);
      execve(binary.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    close(fds[1]);
    fd_ = fds[0];
    reader_ = std::thread([this] { read_all(); });
  }

  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
  }

  bool started() const { return pid_ > 0; }

  // Waits until `text` appears in the output at or after `from`; returns its
  // position, or std::string::npos after `timeout_s`.
  size_t wait_for(const std::string& text, double timeout_s, size_t from = 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    size_t at = std::string::npos;
    cv_.wait_for(lock, std::chrono::duration<double>(timeout_s), [&] {
      at = out_.find(text, from);
      return at != std::string::npos || eof_;
    });
    return out_.find(text, from);
  }

  std::string output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
  }

  // How often `text` occurs in the output so far.
  size_t count(const std::string& text) {
    const std::string out = output();
    size_t n = 0;
    for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
    return n;
  }

  void interrupt() {
    if (pid_ > 0 && !reaped_) kill(pid_, SIGINT);
  }

  // Exit status, or -1 if the process did not end within `timeout_s` (it is
  // then killed), or 128 + signal if a signal ended it. Once it has ended, its
  // last output has been read as well (within the same time bound).
  int wait_exit(double timeout_s) {
    if (reaped_) return status_;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (std::chrono::steady_clock::now() < end) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        reaped_ = true;
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_until(lock, end, [this] { return eof_; });
        return status_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    reaped_ = true;
    status_ = -1;
    return -1;
  }

 private:
  void read_all() {
    char buf[4096];
    for (;;) {
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      if (n <= 0) {
        eof_ = true;
        cv_.notify_all();
        return;
      }
      out_.append(buf, static_cast<size_t>(n));
      cv_.notify_all();
    }
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::string out_;
  bool eof_ = false;
};

}  // namespace vesk_test
