#include "Progress.h"

#include <signal.h>

#include <chrono>
#include <cstdio>

using Clock = std::chrono::steady_clock;

void Progress::start(const std::string& shown) {
  bytes_ = 0;
  stopping_ = false;
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  thread_ = std::thread(&Progress::run, this, shown);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void Progress::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void Progress::run(std::string shown) {
  const Clock::time_point begun = Clock::now();
  bool drawn = false;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stopping_; })) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - begun);
    if (seconds.count() < 1) continue;
    std::fprintf(stderr, "\r\033[K%s: %zu bytes so far, %lld s", shown.c_str(), bytes_.load(),
                 static_cast<long long>(seconds.count()));
    drawn = true;
  }
  if (drawn) std::fputs("\r\033[K", stderr);
}
