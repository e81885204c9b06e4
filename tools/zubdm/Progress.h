#ifndef ZUBDM_TOOLS_ZUBDM_PROGRESS_H
#define ZUBDM_TOOLS_ZUBDM_PROGRESS_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

// A one-line indication on standard error, for a terminal, of the reply
// being waited for: once it has taken a second, what is waited for, the
// bytes received so far and the time elapsed, redrawn four times a second
// and cleared when the reply ends. A timer thread of its own runs from
// start() to stop(), with every signal blocked, so that signals still reach
// the thread that waits for the reply. add() may be called from any
// thread; the rest from one.
class Progress {
 public:
  ~Progress() { stop(); }

  void start(const std::string& shown);
  void stop();
  void add(size_t bytes) { bytes_ += bytes; }

 private:
  void run(std::string shown);

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::atomic<size_t> bytes_{0};
};

#endif  // ZUBDM_TOOLS_ZUBDM_PROGRESS_H
