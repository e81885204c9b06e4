#include <zubdm/controller/CLIOpController.h>

#include <pthread.h>

#include <new>

#include <zubdm/common/CliLogHelper.h>
#include <zubdm/common/Lock.h>
#include <zubdm/result/OpStatusEnum.h>

using ZUB_DEVICE_MEDIATION::CLIResult;
using ZUB_DEVICE_MEDIATION::CmdDriver;
using ZUB_DEVICE_MEDIATION::ZUBContextBuilder;

namespace {
const char kLogFile[] = "CLIOpController";
}  // namespace

QorMutex CLIOpController::gCliCmdDispatchMutex;

namespace {
// A fork while a thread of the host forwards a command hands the child the
// dispatch mutex locked by a thread it does not have: the child, which has
// one thread then, gets it free. The controllers it copied refuse commands
// there (their mediators belong to the parent).
[[maybe_unused]] const int kDispatchForkHandler = pthread_atfork(
    nullptr, nullptr, [] { new (&CLIOpController::gCliCmdDispatchMutex) QorMutex; });
}  // namespace

CLIOpController::CLIOpController()
    : cmdCounter(0), contextBuilder(nullptr), cmdDriver(nullptr) {
  if (init() == 0) {
    CliLogHelper(3, kLogFile, __func__, __LINE__)
        .message("Creation of CLIOpController failed");
  }
}

CLIOpController::~CLIOpController() {
  delete cmdDriver;
  delete contextBuilder;
  CliLogHelper(3, kLogFile, __func__, __LINE__).message("CLIOpController deleted");
}

int CLIOpController::init() {
  OSWrap::Lock<QorMutex> lock(gCliCmdDispatchMutex);
  delete cmdDriver;
  cmdDriver = nullptr;
  delete contextBuilder;
  // Cleared first: a constructor that throws must leave nothing dangling.
  contextBuilder = nullptr;
  contextBuilder = new (std::nothrow) ZUBContextBuilder();
  if (contextBuilder == nullptr) {
    CliLogHelper(3, kLogFile, __func__, __LINE__)
        .message("CLIOpController: couldn't instantiate context builder");
    return 0;
  }
  cmdDriver = new (std::nothrow) CmdDriver(adaptor, *contextBuilder);
  if (cmdDriver == nullptr) {
    CliLogHelper(3, kLogFile, __func__, __LINE__)
        .message("CLIOpController: couldn't instantiate command driver");
    return 0;
  }
  return 1;
}

template <typename ContextCommands>
void CLIOpController::forward(const ContextCommands& context, const std::string& cliCmd,
                              CLIResult& result) {
  OSWrap::Lock<QorMutex> lock(gCliCmdDispatchMutex);
  const unsigned long number = ++cmdCounter;
  if (cmdDriver != nullptr) {
    try {
      cmdDriver->sendCliCommand(context, cliCmd, result, number);
    } catch (const std::bad_alloc&) {
      // Nothing the CLI sent may take the host down; the result says so.
      result.setState(OpStatusEnum::Failed);
      result.setFailureKind(ZUB_DEVICE_MEDIATION::FailureKind::OutOfMemory);
      try {
        result.addError("out of memory");
      } catch (const std::bad_alloc&) {
      }
    }
    return;
  }
  CliLogHelper(3, kLogFile, "forwardCliCommand", __LINE__)
      .message("CLIOpController: no command driver, command not sent");
  result.addError("CLIOpController: no command driver, command not sent");
  result.setState(OpStatusEnum::Failed);
}

void CLIOpController::forwardCliCommand(const std::string& contextCmd,
                                        const std::string& cliCmd,
                                        CLIResult& result) {
  forward(contextCmd, cliCmd, result);
}

void CLIOpController::forwardCliCommand(const std::vector<std::string>& contextCmds,
                                        const std::string& cliCmd,
                                        CLIResult& result) {
  forward(contextCmds, cliCmd, result);
}
