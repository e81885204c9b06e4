#ifndef ZUBDM_TOOLS_ZUBDM_WORDS_H
#define ZUBDM_TOOLS_ZUBDM_WORDS_H

#include <string>
#include <vector>

// The words of `line`, split at blanks, tabs and line ends.
std::vector<std::string> words(const std::string& line);

#endif  // ZUBDM_TOOLS_ZUBDM_WORDS_H
