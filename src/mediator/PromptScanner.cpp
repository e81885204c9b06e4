#include "mediator/PromptScanner.h"

namespace zubdm {
namespace internal {

namespace {
const char kPromptStart[] = "HVB";
const char kPromptEnd[] = "#";
}  // namespace

PromptScanner::PromptScanner()
    : start_(kPromptStart), end_(kPromptEnd), fed_(0), promptStart_(0) {}

void PromptScanner::reset() {
  start_.reset();
  end_.reset();
  fed_ = 0;
  promptStart_ = 0;
}

size_t PromptScanner::feed(const char* data, size_t length) {
  size_t used = 0;
  if (!start_.matched()) {
    used = start_.feed(data, length);
    fed_ += used;
    if (!start_.matched()) return used;
    promptStart_ = fed_ - (sizeof kPromptStart - 1);
  }
  const size_t rest = end_.feed(data + used, length - used);
  fed_ += rest;
  return used + rest;
}

}  // namespace internal
}  // namespace zubdm
