#ifndef ZUBDM_COMMON_QORLOGHELPER_H
#define ZUBDM_COMMON_QORLOGHELPER_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/common/BaseQorLogHelper.h>

// Log point of the infrastructure: status values, show-output reader, pipes.
class ZUBDM_EXPORT QorLogHelper final : public BaseQorLogHelper {
 public:
  QorLogHelper(unsigned int severity, const char* file, const char* function,
               int line)
      : BaseQorLogHelper(severity, file, function, line) {}
  const char* channel() const override { return "qor"; }
};

#endif  // ZUBDM_COMMON_QORLOGHELPER_H
