#include <zubdm/context/Context.h>

#include <utility>

Context::Context() : noTx_(false) {}

Context::Context(std::string topContext, std::string nextContext,
                 std::string changeContextCLI, bool noTx)
    : topContext_(std::move(topContext)),
      nextContext_(std::move(nextContext)),
      changeContextCLI_(std::move(changeContextCLI)),
      noTx_(noTx) {}

void Context::initTx(std::string topContext, std::string nextContext,
                     std::string changeContextCLI, bool noTx) {
  init(std::move(topContext), std::move(nextContext),
       std::move(changeContextCLI));
  noTx_ = noTx;
}

void Context::init(std::string topContext, std::string nextContext,
                   std::string changeContextCLI) {
  topContext_ = std::move(topContext);
  nextContext_ = std::move(nextContext);
  changeContextCLI_ = std::move(changeContextCLI);
}

void Context::pushPrompt(std::string prompt) {
  prompts_.push_back(std::move(prompt));
}

std::string Context::getTopContext() const { return topContext_; }

std::string Context::getNextContext() const { return nextContext_; }

std::string Context::getChangeContextCLI() const { return changeContextCLI_; }

bool Context::isNoTx() const { return noTx_; }

const std::vector<std::string>& Context::getPrompts() const { return prompts_; }
