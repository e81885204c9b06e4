#include <zubdm/mediator/ForkMarker.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace zubdm {
namespace internal {

namespace {

size_t pageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

}  // namespace

ForkMarker::ForkMarker(bool wipedPage) : owner_(getpid()), page_(nullptr) {
  if (!wipedPage) return;
  const int savedErrno = errno;
  void* page = mmap(nullptr, pageSize(), PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page != MAP_FAILED && madvise(page, pageSize(), MADV_WIPEONFORK) != 0) {
    munmap(page, pageSize());
    page = MAP_FAILED;
  }
  if (page != MAP_FAILED) {
    page_ = static_cast<unsigned char*>(page);
    *page_ = 1;
  }
  errno = savedErrno;
}

ForkMarker::~ForkMarker() {
  if (page_ != nullptr) munmap(const_cast<unsigned char*>(page_), pageSize());
}

bool ForkMarker::inCopy() const {
  return page_ != nullptr ? *page_ == 0 : getpid() != owner_;
}

}  // namespace internal
}  // namespace zubdm
