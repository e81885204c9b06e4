#ifndef ZUBDM_HOST_STRINGTOKENIZER_H
#define ZUBDM_HOST_STRINGTOKENIZER_H

#include <zubdm/ZubdmExport.h>

#include <string>

// Splits a text into tokens separated by any of a set of delimiter characters.
// Runs of delimiters (and leading or trailing ones) yield no empty tokens.
class ZUBDM_EXPORT StringTokenizer {
 public:
  StringTokenizer(const std::string& text, const std::string& delimiters);
  ~StringTokenizer() = default;

  // True while a further token remains.
  bool hasMoreTokens() const;
  // The next token; an empty string when none is left.
  std::string nextToken();

 private:
  std::string text_;
  std::string delimiters_;
  std::string::size_type position_;
};

#endif  // ZUBDM_HOST_STRINGTOKENIZER_H
