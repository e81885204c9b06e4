#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "common/CliLogHelper.h"
#include "fifo/QorFIFO_Send.h"
#include "fifo/SigpipeShield.h"
#include "host/HostLog.h"

namespace {

volatile sig_atomic_t delivered = 0;
void countSigpipe(int) { ++delivered; }

// A pipe whose reading end is closed: every write to it raises SIGPIPE.
struct BrokenPipe {
  BrokenPipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) == 0) {
      close(ends[0]);
      writeEnd = ends[1];
    }
  }
  ~BrokenPipe() {
    if (writeEnd >= 0) close(writeEnd);
  }
  int writeEnd = -1;
};

}  // namespace

TEST(SigpipeShield, SigpipeRaisedInScopeNeverReachesTheThread) {
  BrokenPipe broken;
  ASSERT_GE(broken.writeEnd, 0);
  QorFIFO_Send send;
  send.set_handle(broken.writeEnd);

  const struct {
    const char* name;
    SigpipeShield::Writes writes;
    std::function<void()> work;
  } cases[] = {
      {"any write, not reported", SigpipeShield::ANY_WRITES,
       [&] { EXPECT_EQ(write(broken.writeEnd, "x", 1), -1); }},
      {"noted write", SigpipeShield::NOTED_WRITES,
       [&] { EXPECT_EQ(send.send("x", 1), -1); }},
      {"log sink writing to a closed pipe", SigpipeShield::NOTED_WRITES,
       [&] {
         CliLogHelper(5, "SigpipeShieldTest", "work", __LINE__).message("m");
       }},
      {"nothing fails", SigpipeShield::NOTED_WRITES, [] {}},
  };
  // A sink that writes where nobody reads, as a host's sink might.
  setHostLogSink([&](const HostLogRecord&) {
    EXPECT_EQ(write(broken.writeEnd, "log", 3), -1);
  });
  struct sigaction counting = {};
  counting.sa_handler = countSigpipe;
  struct sigaction old;
  sigaction(SIGPIPE, &counting, &old);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    delivered = 0;
    {
      SigpipeShield shield(c.writes);
      c.work();
    }
    EXPECT_EQ(delivered, 0);
    sigset_t mask, pending;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), 0) << "mask not restored";
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "SIGPIPE left pending";
  }
  send.set_handle(-1);
  sigaction(SIGPIPE, &old, nullptr);
  setHostLogSink(nullptr);
}
