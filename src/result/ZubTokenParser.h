#ifndef ZUBDM_RESULT_ZUBTOKENPARSER_H
#define ZUBDM_RESULT_ZUBTOKENPARSER_H

#include <zubdm/ZubdmExport.h>

#include <string>

#include <zubdm/host/StringTokenizer.h>

// Splits a text into fields separated by runs of delimiter characters, and
// yields an empty field once none is left.
class ZUBDM_EXPORT ZubTokenParser : public StringTokenizer {
 public:
  ZubTokenParser(const std::string& text, const std::string& delimiters);

  // The next field, or an empty string when none is left (on every further
  // call as well).
  std::string nextField();
};

#endif  // ZUBDM_RESULT_ZUBTOKENPARSER_H
