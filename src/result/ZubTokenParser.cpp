#include <zubdm/result/ZubTokenParser.h>

ZubTokenParser::ZubTokenParser(const std::string& text,
                               const std::string& delimiters)
    : StringTokenizer(text, delimiters) {}

std::string ZubTokenParser::nextField() {
  return hasMoreTokens() ? nextToken() : std::string();
}
