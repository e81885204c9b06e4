#include "mediator/ExchangeRing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "fifo/SigpipeShield.h"

using ZUB_DEVICE_MEDIATION::ExchangeRing;
using Clock = std::chrono::steady_clock;

namespace {

struct Pipe {
  Pipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) == 0) {
      in = ends[0];
      out = ends[1];
    }
  }
  ~Pipe() {
    closeIn();
    closeOut();
  }
  void closeIn() {
    if (in >= 0) ::close(in);
    in = -1;
  }
  void closeOut() {
    if (out >= 0) ::close(out);
    out = -1;
  }
  std::string drain() const {
    char bytes[256];
    const ssize_t got = read(in, bytes, sizeof bytes);
    return got > 0 ? std::string(bytes, static_cast<size_t>(got)) : std::string();
  }
  int in = -1;
  int out = -1;
};

// A command pipe (the CLI's input), a reply pipe (its output) and a pipe
// standing in for the CLI's exit descriptor.
class ExchangeRingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(reply.in, 0);
    fcntl(reply.in, F_SETFL, O_NONBLOCK);
    if (!ring.open(exit.in)) GTEST_SKIP() << "io_uring is not available here";
  }

  ExchangeRing::Outcome exchange(std::chrono::milliseconds wait) {
    std::memset(buffer, 0, sizeof buffer);
    return ring.exchange(command.out, "7 show", "\n\r", reply.in, buffer,
                         sizeof buffer, Clock::now() + wait);
  }

  Pipe command, reply, exit;
  ExchangeRing ring;
  char buffer[64];
};

}  // namespace

TEST_F(ExchangeRingTest, WritesTheLineThenReadsWhatIsThere) {
  ASSERT_EQ(write(reply.out, "HVB#", 4), 4);
  const ExchangeRing::Outcome outcome = exchange(std::chrono::seconds(5));
  EXPECT_EQ(outcome.line, 6);
  EXPECT_EQ(outcome.lineEnd, 2);
  EXPECT_EQ(outcome.read, 4);
  EXPECT_STREQ(buffer, "HVB#");
  EXPECT_EQ(command.drain(), "7 show\n\r");

  // End of file once the CLI's side is closed.
  reply.closeOut();
  EXPECT_EQ(exchange(std::chrono::seconds(5)).read, 0);
}

TEST_F(ExchangeRingTest, ExpiredWaitLeavesNoReadBehind) {
  const Clock::time_point begin = Clock::now();
  const ExchangeRing::Outcome outcome = exchange(std::chrono::milliseconds(100));
  const auto waited = Clock::now() - begin;
  EXPECT_EQ(outcome.read, -ETIME);
  EXPECT_GE(waited, std::chrono::milliseconds(100));
  EXPECT_LT(waited, std::chrono::seconds(5));

  // The cancelled read takes nothing: later bytes go to the next exchange,
  // and the buffer of the first one stays as it was.
  ASSERT_EQ(write(reply.out, "late", 4), 4);
  char unused[16];
  EXPECT_EQ(read(reply.in, unused, sizeof unused), 4);
  ASSERT_EQ(write(reply.out, "HVB#", 4), 4);
  EXPECT_EQ(exchange(std::chrono::seconds(5)).read, 4);
  EXPECT_STREQ(buffer, "HVB#");
}

TEST_F(ExchangeRingTest, ExitOfTheCliEndsTheWaitAndLaterExchangesAreLeftToTheCaller) {
  const Clock::time_point begin = Clock::now();
  ASSERT_EQ(write(exit.out, "x", 1), 1);
  const ExchangeRing::Outcome outcome = exchange(std::chrono::seconds(30));
  EXPECT_EQ(outcome.read, -ECHILD);
  EXPECT_LT(Clock::now() - begin, std::chrono::seconds(5));

  const ExchangeRing::Outcome after = exchange(std::chrono::seconds(30));
  EXPECT_EQ(after.line, -ECANCELED);
  EXPECT_EQ(after.read, -ECANCELED);
  EXPECT_EQ(command.drain(), "7 show\n\r");
}

TEST_F(ExchangeRingTest, ClosedCommandPipeFailsTheWriteAndCancelsTheRest) {
  command.closeIn();
  {
    SigpipeShield shield(SigpipeShield::NOTED_WRITES);
    const ExchangeRing::Outcome outcome = exchange(std::chrono::seconds(30));
    EXPECT_EQ(outcome.line, -EPIPE);
    EXPECT_EQ(outcome.lineEnd, -ECANCELED);
    EXPECT_EQ(outcome.read, -ECANCELED);
    SigpipeShield::noteWriteFailure(EPIPE);
  }
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST(ExchangeRingSwitch, EnvironmentTurnsTheRingOff) {
  setenv("ZUBDM_IO_URING", "0", 1);
  ExchangeRing ring;
  EXPECT_FALSE(ring.open(-1));
  EXPECT_FALSE(ring.usable());
  unsetenv("ZUBDM_IO_URING");
}
