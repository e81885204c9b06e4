#include "Interrupts.h"

#include <poll.h>
#include <signal.h>

#include <cerrno>

namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

volatile sig_atomic_t gSignal = 0;
volatile sig_atomic_t gArmed = 1;
volatile sig_atomic_t gCancelled = 0;
// Set before the handlers exist and never changed afterwards.
ZUB_DEVICE_MEDIATION::ZUBAdaptor* gAdaptor = nullptr;

sigset_t handled() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kSignals) sigaddset(&set, signal);
  return set;
}

void onSignal(int signal) {
  gSignal = signal;
  if (gArmed) {
    gCancelled = 1;
    gAdaptor->cancel();
  }
}

}  // namespace

void Interrupts::install(ZUB_DEVICE_MEDIATION::ZUBAdaptor& adaptor) {
  gAdaptor = &adaptor;
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaction(signal, &action, nullptr);
}

void Interrupts::arm(bool armed) { gArmed = armed ? 1 : 0; }

int Interrupts::pending() { return gSignal; }

int Interrupts::take() {
  const int signal = gSignal;
  gSignal = 0;
  gCancelled = 0;
  return signal;
}

bool Interrupts::cancelled() { return gCancelled != 0; }

void Interrupts::hold(bool held) {
  const sigset_t set = handled();
  sigprocmask(held ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

bool Interrupts::waitReadable(int fd) {
  sigset_t open;
  sigprocmask(SIG_SETMASK, nullptr, &open);
  for (int signal : kSignals) sigdelset(&open, signal);
  struct pollfd ready = {fd, POLLIN, 0};
  while (gSignal == 0) {
    // Unblocks the signals and waits in one step.
    if (ppoll(&ready, 1, nullptr, &open) >= 0) return true;
    if (errno != EINTR) return true;  // the read that follows reports it
  }
  return false;
}
