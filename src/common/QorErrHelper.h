#ifndef ZUBDM_COMMON_QORERRHELPER_H
#define ZUBDM_COMMON_QORERRHELPER_H

#include <zubdm/ZubdmExport.h>

#include <zubdm/common/BaseQorErrHelper.h>

// The error point the show-output reader reports parse failures through.
class ZUBDM_EXPORT QorErrHelper final : public BaseQorErrHelper {
 public:
  QorErrHelper(QOR_error_code code, QOR_error& error, const char* file,
               const char* function, int line)
      : BaseQorErrHelper(code, error, file, function, line) {}
  const char* channel() const override { return "qor"; }
};

#endif  // ZUBDM_COMMON_QORERRHELPER_H
