#ifndef ZUBDM_CONTROLLER_CLIOPCONTROLLER_H
#define ZUBDM_CONTROLLER_CLIOPCONTROLLER_H

#include <zubdm/ZubdmExport.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <zubdm/common/QorMutex.h>
#include <zubdm/controller/CmdDriver.h>
#include <zubdm/context/ZUBContextBuilder.h>
#include <zubdm/mediator/ZUBAdaptor.h>
#include <zubdm/result/CLIResult.h>

// The library's entry point: one controller per CLI connection. It owns the
// CLI mediator (`adaptor`, which the host brings up with restart() or
// connect()), the context table and the command driver, numbers the commands
// it forwards (from 1, per controller, wrapping after 4294967295 to 0) and
// runs them one at a time under one mutex shared by every controller of the
// process.
//
// forwardCliCommand may be called from any thread. The host must not bring
// `adaptor` up or down while a command runs on this controller (or must
// hold gCliCmdDispatchMutex while it does), and must not destroy a
// controller while a call on it is in progress.
class ZUBDM_EXPORT CLIOpController {
 public:
  // Serialises every init() and forwardCliCommand() of the process. A child
  // forked while a thread held it gets it free (a fork handler sees to it).
  static QorMutex gCliCmdDispatchMutex;

  CLIOpController();
  ~CLIOpController();
  CLIOpController(const CLIOpController&) = delete;
  CLIOpController& operator=(const CLIOpController&) = delete;

  // Creates the context table and the driver (freeing earlier ones); 1 when
  // both exist, 0 otherwise (logged).
  int init();

  // Runs `cliCmd` in the mode that `contextCmd` enters from the root mode
  // (empty: the root mode itself) and fills `result`, which is not cleared:
  // its state is set, messages, errors and XML are appended.
  void forwardCliCommand(const std::string& contextCmd, const std::string& cliCmd,
                         ZUB_DEVICE_MEDIATION::CLIResult& result);
  // The same with the mode's entry commands as getContextCLI lists them, for
  // modes that take several steps to enter (such as "config-if").
  void forwardCliCommand(const std::vector<std::string>& contextCmds,
                         const std::string& cliCmd,
                         ZUB_DEVICE_MEDIATION::CLIResult& result);

  // The number the last forwarded command carried (0 before the first).
  // Safe from any thread, with or without the dispatch mutex.
  uint32_t getCommandCounter() const { return cmdCounter.load(); }
  // Sets the number the next command continues from (for hosts that keep
  // numbering across controllers, and for tests of the wrap). Safe from any
  // thread, with or without the dispatch mutex.
  void setCommandCounter(uint32_t value) { cmdCounter.store(value); }

  // The context table, or null when init() could not create it.
  const ZUB_DEVICE_MEDIATION::ZUBContextBuilder* getContextBuilder() const {
    return contextBuilder;
  }

 private:
  // Numbers the command and hands it to the driver, under the mutex.
  template <typename ContextCommands>
  void forward(const ContextCommands& context, const std::string& cliCmd,
               ZUB_DEVICE_MEDIATION::CLIResult& result);

  std::atomic<uint32_t> cmdCounter;

 public:
  // This controller's CLI mediator.
  ZUB_DEVICE_MEDIATION::ZUBAdaptor adaptor;

 private:
  ZUB_DEVICE_MEDIATION::ZUBContextBuilder* contextBuilder;
  ZUB_DEVICE_MEDIATION::CmdDriver* cmdDriver;
};

#endif  // ZUBDM_CONTROLLER_CLIOPCONTROLLER_H
