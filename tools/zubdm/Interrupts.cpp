#include "Interrupts.h"

#include <signal.h>

namespace {

volatile sig_atomic_t gSignal = 0;
volatile sig_atomic_t gArmed = 1;
volatile sig_atomic_t gCancelled = 0;
// Set before the handlers exist and never changed afterwards.
ZUB_DEVICE_MEDIATION::ZUBAdaptor* gAdaptor = nullptr;

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
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(signal, &action, nullptr);
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
