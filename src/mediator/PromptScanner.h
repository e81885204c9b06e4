#ifndef ZUBDM_MEDIATOR_PROMPTSCANNER_H
#define ZUBDM_MEDIATOR_PROMPTSCANNER_H

#include <cstddef>

namespace zubdm {
namespace internal {

// Finds the prompt that ends a CLI reply in a byte stream that arrives in
// pieces.
//
// A prompt has the element's shape ("HVB", a body, "#": see CliDialect). At
// the start of a line (the start of the stream after any blanks, or the
// byte after "\n" or "\r") such a text is the prompt. Elsewhere
// ("12:00:00HVB#", from a CLI that prints no line end before its prompt) it
// is only tentatively one: the reader decides by what follows (reject()
// when more than blanks come, accept() when nothing more does). "HVB" in any other shape is output.
//
// Pure: no I/O, no clock. Not thread-safe.
class PromptScanner {
 public:
  PromptScanner() { reset(); }

  // Starts a new wait.
  void reset();
  // Scans `data[0, length)`; returns the bytes consumed, up to and including
  // the "#" that ends a prompt (matched() or tentative() is then true), or
  // all of them.
  size_t feed(const char* data, size_t length);
  bool matched() const { return state_ == State::Matched; }
  bool tentative() const { return state_ == State::Tentative; }
  // The tentative prompt was followed by more bytes: it is output.
  void reject();
  // The tentative prompt was followed by silence: it is the prompt.
  void accept();
  // Bytes fed since reset() before the prompt's "HVB".
  size_t promptStart() const { return candidateStart_; }

 private:
  enum class State { Searching, Tentative, Matched };

  bool lineStartsAt(const char* data, size_t index) const;
  // Looks at one byte of a candidate; false when it ends the candidate.
  bool extendCandidate(char byte);

  State state_;
  // Bytes of the candidate seen so far: 1 "H", 2 "HV", 3 and more "HVB"
  // and its body.
  size_t progress_;
  size_t candidateStart_;
  bool candidateAtLineStart_;
  // Bytes fed since reset() before the current piece.
  size_t fed_;
  // Every byte since reset() was a blank.
  bool onlyBlanks_;
  // The last byte of the previous piece.
  char last_;
};

}  // namespace internal
}  // namespace zubdm

#endif  // ZUBDM_MEDIATOR_PROMPTSCANNER_H
