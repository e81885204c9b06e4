#ifndef ZUBDM_HOST_CINPUTSOURCE_H
#define ZUBDM_HOST_CINPUTSOURCE_H

#include <cstddef>
#include <istream>

#include <zubdm/ZubdmExport.h>

namespace TAV {
namespace XML {

// The input of one parse: a stream, or bytes in memory that are parsed where
// they lie. The caller owns either and keeps it until the parse has returned.
class ZUBDM_EXPORT CInputSource {
 public:
  explicit CInputSource(std::istream* stream)
      : stream_(stream), data_(nullptr), size_(0) {}
  CInputSource(const char* data, std::size_t size)
      : stream_(nullptr), data_(data), size_(size) {}

  std::istream* getStream() const { return stream_; }
  // The bytes in memory; null for a stream.
  const char* getData() const { return data_; }
  std::size_t getSize() const { return size_; }

 private:
  std::istream* stream_;
  const char* data_;
  std::size_t size_;
};

}  // namespace XML
}  // namespace TAV

#endif  // ZUBDM_HOST_CINPUTSOURCE_H
