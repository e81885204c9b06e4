#include "Transcript.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

Transcript::~Transcript() {
  if (fd_ >= 0) close(fd_);
}

bool Transcript::open(const std::string& path, std::string& error) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error = "cannot open transcript " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void Transcript::record(const std::string& line) {
  if (fd_ < 0) return;
  const std::string entry = line + "\n";
  const char* data = entry.data();
  std::size_t size = entry.size();
  while (size > 0) {
    const ssize_t n = write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}
