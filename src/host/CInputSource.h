#ifndef ZUBDM_HOST_CINPUTSOURCE_H
#define ZUBDM_HOST_CINPUTSOURCE_H

#include <istream>

namespace TAV {
namespace XML {

// The input of one parse: a stream the caller owns and keeps open until the
// parse has returned.
class CInputSource {
 public:
  explicit CInputSource(std::istream* stream) : stream_(stream) {}

  std::istream* getStream() const { return stream_; }

 private:
  std::istream* stream_;
};

}  // namespace XML
}  // namespace TAV

#endif  // ZUBDM_HOST_CINPUTSOURCE_H
