#include <zubdm/host/HostLog.h>
#include <zubdm/host/HostLogWriter.h>

#include <pthread.h>
#include <syslog.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {

using Sink = std::function<void(const HostLogRecord&)>;

void syslogSink(const HostLogRecord& record) {
  // The text is passed as an argument, never as the format.
  // Failures (severity 3 and below) are errors; the library's traces (4 and
  // 5) are for debugging, not warnings or notices.
  const int priority = record.severity <= LOG_ERR ? static_cast<int>(record.severity) : LOG_DEBUG;
  syslog(priority, "%s:%s:%d %s", record.file,
         record.function, record.line, record.text.c_str());
}

std::mutex gSinkMutex;
// A fork while another thread holds the lock would hand the child a lock
// that none of its threads can release: the child gets it free.
[[maybe_unused]] const int kSinkForkHandler =
    pthread_atfork(nullptr, nullptr, [] { new (&gSinkMutex) std::mutex; });

// Held through a shared_ptr so that a sink being replaced on one thread stays
// alive while another thread is still calling it.
std::shared_ptr<const Sink>& currentSink() {
  static std::shared_ptr<const Sink> sink;
  return sink;
}

}  // namespace

void setHostLogSink(std::function<void(const HostLogRecord&)> sink) {
  std::shared_ptr<const Sink> replacement;
  if (sink) replacement = std::make_shared<const Sink>(std::move(sink));
  std::lock_guard<std::mutex> guard(gSinkMutex);
  currentSink().swap(replacement);
}

namespace zubdm {
namespace internal {

void hostLogWrite(unsigned severity, const char* file, const char* function,
                  int line, std::string text) {
  HostLogRecord record{severity, file ? file : "", function ? function : "",
                       line, std::move(text)};
  std::shared_ptr<const Sink> sink;
  {
    std::lock_guard<std::mutex> guard(gSinkMutex);
    sink = currentSink();
  }
  if (sink) {
    try {
      (*sink)(record);
      return;
    } catch (...) {
      // A sink that fails must not end the operation that logged (or, from
      // a destructor, the host): the record goes to syslog instead.
    }
  }
  syslogSink(record);
}

std::string hostFormat(const char* format, va_list args) {
  if (format == nullptr) return std::string();
  va_list measure;
  va_copy(measure, args);
  // The analyser cannot see that a va_list parameter was started by the
  // caller.
  const int length = std::vsnprintf(nullptr, 0, format, measure);  // NOLINT(clang-analyzer-valist.Uninitialized)
  va_end(measure);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  std::vsnprintf(&text[0], text.size() + 1, format, args);
  return text;
}

void hostLogFormat(unsigned severity, const char* file, const char* function,
                   int line, const char* format, va_list args) {
  hostLogWrite(severity, file, function, line, hostFormat(format, args));
}

}  // namespace internal
}  // namespace zubdm
