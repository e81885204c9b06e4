#ifndef ZUBDM_HOST_TEXTKEEPER_H
#define ZUBDM_HOST_TEXTKEEPER_H

#include <list>
#include <new>
#include <string>

namespace zubdm {
namespace internal {

// Keeps alive the text that a document reads its values from, when that
// text is a message of a result: while the message is in the result's list
// the result holds it; when the list is emptied or the result ends, the
// result splices the message into kept() (std::list::splice neither moves
// nor copies it, so the document's view of it stays valid), and it is freed
// with the last reference.
//
// Counted like the DOM's objects: not atomic, one thread at a time.
class TextKeeper {
 public:
  // A keeper with one reference for the caller; null when memory runs out.
  static TextKeeper* create() noexcept { return new (std::nothrow) TextKeeper; }

  TextKeeper(const TextKeeper&) = delete;
  TextKeeper& operator=(const TextKeeper&) = delete;

  void addRef() { ++refs_; }
  void release() {
    if (--refs_ == 0) delete this;
  }
  // True while someone besides the caller holds a reference.
  bool shared() const { return refs_ > 1; }

  std::list<std::string>& kept() { return kept_; }

 private:
  TextKeeper() = default;
  ~TextKeeper() = default;

  std::list<std::string> kept_;
  int refs_ = 1;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_HOST_TEXTKEEPER_H
