#ifndef ZUBDM_COMMON_CLILOGHELPER_H
#define ZUBDM_COMMON_CLILOGHELPER_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/common/BaseQorLogHelper.h>

// Log point of the command path: controller, driver, mediator, contexts and
// command results.
class ZUBDM_EXPORT CliLogHelper final : public BaseQorLogHelper {
 public:
  CliLogHelper(unsigned int severity, const char* file, const char* function,
               int line)
      : BaseQorLogHelper(severity, file, function, line) {}
  const char* channel() const override { return "cli"; }
};

#endif  // ZUBDM_COMMON_CLILOGHELPER_H
