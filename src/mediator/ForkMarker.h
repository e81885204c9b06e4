#ifndef ZUBDM_MEDIATOR_FORKMARKER_H
#define ZUBDM_MEDIATOR_FORKMARKER_H

#include <sys/types.h>

namespace zubdm {
namespace internal {

// Tells a copy of the process made by fork() from the process that made the
// marker. Asked once per forwarded command, so it costs no system call where
// the kernel allows: the marker keeps a page that a fork hands to the child
// zeroed (MADV_WIPEONFORK). The advice is on the marker's own mapping and
// changes nothing else in the host's memory. Where that page cannot be had,
// the process id recorded at construction is compared with getpid().
class ForkMarker {
 public:
  // `wipedPage` false always compares process ids (tests of that way).
  explicit ForkMarker(bool wipedPage = true);
  ~ForkMarker();
  ForkMarker(const ForkMarker&) = delete;
  ForkMarker& operator=(const ForkMarker&) = delete;

  // True in a forked copy of the process that made the marker.
  bool inCopy() const;

 private:
  const pid_t owner_;
  // Holds 1 in the owner; null without such a page.
  volatile unsigned char* page_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_FORKMARKER_H
