#ifndef ZUBDM_HOST_HOSTLOG_H
#define ZUBDM_HOST_HOSTLOG_H

#include <zubdm/ZubdmExport.h>

#include <functional>
#include <string>

// The host's logging component: every message the library writes arrives here
// as one record. The default sink writes it to syslog: failures (severity 3
// and below) with the severity as the priority, the traces of severity 4 and
// 5 as LOG_DEBUG. A host (or a test) installs its own sink to route messages
// elsewhere.
struct ZUBDM_EXPORT HostLogRecord {
  unsigned severity;
  const char* file;
  const char* function;
  int line;
  std::string text;
};

// Replaces the sink for the whole process; an empty function restores the
// default syslog sink. Thread-safe; the sink itself is called on whatever
// thread logs and must not log through the library. A record whose sink
// throws goes to syslog; the exception goes no further.
ZUBDM_EXPORT void setHostLogSink(std::function<void(const HostLogRecord&)> sink);

#endif  // ZUBDM_HOST_HOSTLOG_H
