#ifndef ZUBDM_TOOLS_ZUBDM_MASKS_H
#define ZUBDM_TOOLS_ZUBDM_MASKS_H

#include <regex>
#include <string>
#include <vector>

// The --mask patterns: what they match is shown as "****" wherever the
// session is written down (log file, standard error, recording). Not
// thread-safe.
class Masks {
 public:
  // Adds an extended regular expression; false with a message when it does
  // not compile or matches the empty text.
  bool add(const std::string& pattern, std::string& error);
  // `text` with every match of every pattern replaced, in the order added.
  std::string apply(const std::string& text) const;

 private:
  std::vector<std::regex> patterns_;
};

#endif  // ZUBDM_TOOLS_ZUBDM_MASKS_H
