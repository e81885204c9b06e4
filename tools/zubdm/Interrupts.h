#ifndef ZUBDM_TOOLS_ZUBDM_INTERRUPTS_H
#define ZUBDM_TOOLS_ZUBDM_INTERRUPTS_H

#include <zubdm/zubdm.h>

// SIGINT, SIGTERM, SIGHUP and SIGPIPE for the whole command: the handler
// only records the signal and, while cancelling is armed, cancels the
// mediator's wait (ZUBAdaptor::cancel() is async-signal-safe); the main flow
// then looks at what was recorded and ends the run cleanly. The handlers
// are installed without SA_RESTART, so that a blocking read of the line
// editor returns too. Process-wide; the command installs them once.
class Interrupts {
 public:
  // Installs the handlers; `adaptor` must outlive the process's use of
  // them (it is the mediator whose waits a signal cancels).
  static void install(ZUB_DEVICE_MEDIATION::ZUBAdaptor& adaptor);
  // Whether a signal cancels the mediator's wait (armed by default). The
  // shell disarms it while it waits for a line, so that a Ctrl-C there
  // leaves no cancel behind for the next command.
  static void arm(bool armed);
  // The last signal recorded since the last take(), or 0.
  static int pending();
  static int take();
  // True when a signal was recorded while cancelling was armed.
  static bool cancelled();

  // While held, the signals stay pending, except inside waitReadable(),
  // which lets them in only while it waits: none can slip in between a
  // look at pending() and a blocking read. Sets the calling thread's mask.
  static void hold(bool held);
  // Waits until `fd` is readable (true) or a signal is recorded (false).
  static bool waitReadable(int fd);
};

#endif  // ZUBDM_TOOLS_ZUBDM_INTERRUPTS_H
