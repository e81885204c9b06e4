#ifndef ZUBDM_TOOLS_ZUBDM_MASKS_H
#define ZUBDM_TOOLS_ZUBDM_MASKS_H

#include <regex.h>

#include <memory>
#include <string>
#include <vector>

// The --mask patterns: what they match is shown as "****" wherever the
// session is written down (log file, standard error, recording). Not
// thread-safe.
class Masks {
 public:
  // Adds a POSIX extended regular expression; false with a message when it
  // does not compile or matches the empty text.
  bool add(const std::string& pattern, std::string& error);
  // `text` with every match of every pattern replaced, in the order added.
  // NUL bytes in the text are matched like any other byte.
  std::string apply(const std::string& text) const;
  // Writes "zubdm: " and the masked `text` to standard error.
  void warn(const std::string& text) const;

 private:
  // One compiled pattern, freed with its owner.
  struct Pattern {
    regex_t compiled;
    bool ready = false;
    ~Pattern() {
      if (ready) regfree(&compiled);
    }
  };
  static std::string replaceMatches(const regex_t& pattern, const std::string& text);

  std::vector<std::unique_ptr<Pattern>> patterns_;
};

#endif  // ZUBDM_TOOLS_ZUBDM_MASKS_H
