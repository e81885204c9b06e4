#include <zubdm/host/StringTokenizer.h>

StringTokenizer::StringTokenizer(const std::string& text,
                                 const std::string& delimiters)
    : text_(text), delimiters_(delimiters), position_(0) {
  position_ = text_.find_first_not_of(delimiters_, 0);
}

bool StringTokenizer::hasMoreTokens() const {
  return position_ != std::string::npos && position_ < text_.size();
}

std::string StringTokenizer::nextToken() {
  if (!hasMoreTokens()) return std::string();
  const std::string::size_type end = text_.find_first_of(delimiters_, position_);
  std::string token = text_.substr(position_, end == std::string::npos
                                                  ? std::string::npos
                                                  : end - position_);
  position_ = end == std::string::npos
                  ? std::string::npos
                  : text_.find_first_not_of(delimiters_, end);
  return token;
}
