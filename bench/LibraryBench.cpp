// The library's side of the benchmarks: the floor program's measurements
// (bench/floor.c) made through the library's public API, against `cli` from
// PATH (the bench script puts the simulator first), printing the same JSON
// object.
//
//   bench_library latency COUNT CONTEXT COMMAND
//       COUNT times forwardCliCommand(CONTEXT, COMMAND) after 200 untimed
//       ones; the library sends "end", CONTEXT (when not empty), "N COMMAND".
//   bench_library show KIND SIZE COUNT
//       COUNT times forwardCliCommand("", "show KIND SIZE") (KIND bulk or
//       elements): the reply read, parsed, and its last object looked up
//       with find_value. COUNT 1 times the first command after connect, in
//       a fresh heap. Releasing the result is not timed.
//   bench_library exchange SIZE COUNT
//       COUNT times ZUBAdaptor::send of "N show bulk SIZE": write, read up to
//       the prompt, classify.
//   bench_library xml KIND SIZE COUNT
//       The document of "show KIND SIZE", made by the simulator's own code
//       in this process (no CLI, no pipes), parsed COUNT times by libexpat
//       with no handlers in one call (expat_median_ns), then COUNT times by
//       CliDomTree::parse_cli and searched with find_value (the other
//       figures). Releasing the tree is not timed. Before that, in a heap
//       that holds nothing else: the growth of the peak resident set over
//       one parse_cli (dom_peak_bytes) and the heap the tree then holds
//       (dom_held_bytes); the median of COUNT find_value calls alone on
//       that tree (find_median_ns); and the document fed to the parser in
//       64 KiB pieces, as output arriving from the CLI is (DOMBuilder on a
//       stream over it): the peak's growth (pieces_peak_bytes) and the
//       median time of COUNT such parses (pieces_median_ns).
//
// Wall time per command in nanoseconds (median, p99, mean, min), CPU time
// per command (user + system time of this process over the timed commands,
// divided by COUNT; the library starts no threads), the reply size and the
// peak resident set in KiB.
//
// The host log sink drops every message, as a host with its own logging
// would; syslog is not the figure measured here.
#include <expat.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include <zubdm/common/QOR_error.h>
#include <zubdm/controller/CLIOpController.h>
#include <zubdm/host/HostLog.h>
#include <zubdm/host/XmlDom.h>
#include <zubdm/result/CLIResponse.h>
#include <zubdm/result/CLIResult.h>
#include <zubdm/result/CliDomTree.h>
#include "ShowDocument.h"

namespace {

using Clock = std::chrono::steady_clock;
using ZUB_DEVICE_MEDIATION::CLIResponse;
using ZUB_DEVICE_MEDIATION::CLIResult;

const char kShowHeader[] = "<SHOW>\r\n";
const char kShowFooter[] = "</SHOW>\r\n";

std::unique_ptr<CLIOpController> controller;
bool tableExisted = false;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "bench_library: %s\n", what.c_str());
  std::exit(1);
}

void disconnect() {
  if (!controller) return;
  controller.reset();
  // The library frees its slot itself; a table it had to create goes too.
  if (!tableExisted) shm_unlink("/shmem_cl_users");
}

void connect() {
  const int fd = shm_open("/shmem_cl_users", O_RDONLY, 0);
  tableExisted = fd >= 0;
  if (fd >= 0) close(fd);
  std::atexit(disconnect);
  controller.reset(new CLIOpController());
  if (!controller->adaptor.restart()) {
    fail("cannot bring up the CLI (is `cli` first on PATH?): " +
         ZUB_DEVICE_MEDIATION::describeFailure(controller->adaptor.getFailureRecord()));
  }
}

long statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::atol(line.c_str() + length);
  }
  return -1;
}

long peakRssKiB() { return statusKiB("VmHWM:"); }

// Bytes the C heap has handed out and not had back.
size_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Sets the peak resident set back to the current one (Linux 4.0 on).
void resetPeakRss() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

std::uint64_t cpuNs() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) fail("getrusage failed");
  auto ns = [](const timeval& t) {
    return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(t.tv_usec) * 1000u;
  };
  return ns(usage.ru_utime) + ns(usage.ru_stime);
}

std::uint64_t elapsedNs(Clock::time_point begin) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begin)
          .count());
}

std::uint64_t median(std::vector<std::uint64_t> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void report(std::vector<std::uint64_t> times, std::uint64_t cpu, size_t bytes,
            const std::string& extra = "") {
  if (times.empty()) fail("COUNT must be at least 1");
  std::sort(times.begin(), times.end());
  const size_t count = times.size();
  std::uint64_t sum = 0;
  for (std::uint64_t t : times) sum += t;
  size_t p99 = (count * 99 + 99) / 100;
  if (p99 > 0) --p99;
  std::printf(
      "{\"count\": %zu, \"median_ns\": %llu, \"p99_ns\": %llu, "
      "\"mean_ns\": %llu, \"min_ns\": %llu, \"cpu_ns\": %llu, "
      "\"bytes\": %zu, \"peak_rss_kib\": %ld%s}\n",
      count, static_cast<unsigned long long>(times[count / 2]),
      static_cast<unsigned long long>(times[p99]),
      static_cast<unsigned long long>(sum / count),
      static_cast<unsigned long long>(times.front()),
      static_cast<unsigned long long>(cpu / count), bytes, peakRssKiB(),
      extra.c_str());
}

size_t parseSize(const std::string& text) {
  char* end = nullptr;
  size_t value = std::strtoull(text.c_str(), &end, 10);
  if (*end == 'K') value <<= 10;
  if (*end == 'M') value <<= 20;
  return value;
}

// Where the last object of a simulator document of `size` bytes is, and
// what find_value must give for it. The rules are those of the simulator's
// ShowDocument.
struct LastObject {
  std::string id, item, attribute, value;
};

LastObject lastObject(const std::string& kind, size_t size) {
  const size_t frame = std::strlen(kShowHeader) + std::strlen(kShowFooter);
  size_t left = size > frame ? size - frame : 0;
  if (kind == "bulk") {
    // Objects of 256 bytes, numbered with ten digits.
    char id[32];
    std::snprintf(id, sizeof id, "%010zu", left / 256);
    return {std::string("bulk") + id, "data", "index", id};
  }
  // <OBJ id="k"><ITEM a="vk" b="(40 letters)"/></OBJ> while the next fits.
  const size_t fixed =
      std::strlen("<OBJ id=\"\"><ITEM a=\"v\" b=\"\"/></OBJ>") + 40;
  size_t k = 0;
  for (;;) {
    const size_t length = fixed + 2 * std::to_string(k + 1).size();
    if (length > left) break;
    left -= length;
    ++k;
  }
  return {std::to_string(k), "ITEM", "a", "v" + std::to_string(k)};
}

bool found(CliDomTree& tree, const LastObject& last) {
  std::string value;
  return tree.find_value(last.id.c_str(), last.item.c_str(),
                         last.attribute.c_str(), value) == 1 &&
         value == last.value;
}

void latency(size_t count, const std::string& context,
             const std::string& command) {
  connect();
  // The first failure, warm-up included, told once the timing is over.
  std::string failed;
  size_t sent = 0;
  auto forward = [&]() {
    CLIResult result;
    controller->forwardCliCommand(context, command, result);
    ++sent;
    if (failed.empty() && !result.getErrorList().empty()) {
      failed = "command " + std::to_string(sent) + ": " +
               ZUB_DEVICE_MEDIATION::describeFailure(result.getFailure());
    }
  };
  for (int i = 0; i < 200; ++i) forward();
  std::vector<std::uint64_t> times;
  times.reserve(count);
  const std::uint64_t cpu = cpuNs();
  for (size_t i = 0; i < count; ++i) {
    const Clock::time_point begin = Clock::now();
    forward();
    times.push_back(elapsedNs(begin));
  }
  const std::uint64_t used = cpuNs() - cpu;
  if (!failed.empty()) fail(failed);
  report(times, used, 0);
}

void show(const std::string& kind, const std::string& size, size_t count) {
  const LastObject last = lastObject(kind, parseSize(size));
  const std::string command = "show " + kind + " " + size;
  connect();
  std::vector<std::uint64_t> times;
  size_t bytes = 0;
  const std::uint64_t cpu = cpuNs();
  for (size_t i = 0; i < count; ++i) {
    CLIResult result;
    const Clock::time_point begin = Clock::now();
    controller->forwardCliCommand("", command, result);
    const bool ok = result.getState().equals(OpStatusEnum::Success) &&
                    found(result.getXMLResult(), last);
    times.push_back(elapsedNs(begin));
    if (!ok) fail(command + ": the last object was not found");
    bytes = result.getMessageList().front().size();
  }
  report(times, cpuNs() - cpu, bytes);
}

void exchange(const std::string& size, size_t count) {
  const std::string command = "1 show bulk " + size;
  const size_t expected = parseSize(size);
  connect();
  std::vector<std::uint64_t> times;
  bool ok = true;
  const std::uint64_t cpu = cpuNs();
  for (size_t i = 0; i < count; ++i) {
    const Clock::time_point begin = Clock::now();
    {
      CLIResponse response;
      ok = ok && controller->adaptor.send(command, response) &&
           !response.isRspListEmpty() &&
           response.getResponseList().front().size() >= expected;
    }
    times.push_back(elapsedNs(begin));
  }
  const std::uint64_t used = cpuNs() - cpu;
  if (!ok) fail("exchange failed");
  report(times, used, expected);
}

// A stream over bytes in memory, without a copy of them.
class MemoryBuffer : public std::streambuf {
 public:
  explicit MemoryBuffer(const std::string& text) {
    char* data = const_cast<char*>(text.data());
    setg(data, data, data + text.size());
  }
};

// The text parsed as it would be while it arrives: DOMBuilder reads a stream
// 64 KiB at a time and parses each piece.
TAV::XML::Node* parseInPieces(const std::string& text) {
  MemoryBuffer buffer(text);
  std::istream stream(&buffer);
  TAV::XML::CInputSource source(&stream);
  return TAV::XML::DOMBuilder().parseDOMInputSource(&source);
}

std::string document(const std::string& kind, size_t size) {
  std::string text;
  text.reserve(size);
  const ShowDocument::Sink sink = [&text](const char* data, size_t length) {
    text.append(data, length);
    return true;
  };
  if (kind == "bulk") {
    ShowDocument::bulk(size, sink);
  } else if (kind == "elements") {
    ShowDocument::elements(size, sink);
  } else {
    fail("no such document: " + kind);
  }
  return text;
}

void xml(const std::string& kind, const std::string& size, size_t count) {
  const LastObject last = lastObject(kind, parseSize(size));
  const std::string text = document(kind, parseSize(size));
  if (count == 0) fail("COUNT must be at least 1");

  // The tree's memory, in a heap that holds nothing else yet: what the
  // parse raised the resident set to, and what the tree keeps.
  size_t peakBytes = 0;
  size_t heldBytes = 0;
  std::vector<std::uint64_t> findTimes;
  {
    malloc_trim(0);
    resetPeakRss();
    const long residentBefore = statusKiB("VmRSS:");
    const size_t heapBefore = heapInUse();
    std::unique_ptr<CliDomTree> tree(new CliDomTree());
    QOR_error error;
    tree->parse_cli(text, error);
    peakBytes = static_cast<size_t>(std::max(0L, peakRssKiB() - residentBefore)) << 10;
    heldBytes = heapInUse() - heapBefore;
    if (error.is_set() || !found(*tree, last)) fail("parse_cli or find_value failed");
    for (size_t i = 0; i < count; ++i) {
      const Clock::time_point begin = Clock::now();
      const bool ok = found(*tree, last);
      findTimes.push_back(elapsedNs(begin));
      if (!ok) fail("find_value failed");
    }
  }
  size_t piecesPeakBytes = 0;
  {
    malloc_trim(0);
    resetPeakRss();
    const long residentBefore = statusKiB("VmRSS:");
    parseInPieces(text)->release();
    piecesPeakBytes = static_cast<size_t>(std::max(0L, peakRssKiB() - residentBefore)) << 10;
  }
  std::vector<std::uint64_t> piecesTimes;
  for (size_t i = 0; i < count; ++i) {
    const Clock::time_point begin = Clock::now();
    TAV::XML::Node* tree = parseInPieces(text);
    piecesTimes.push_back(elapsedNs(begin));
    tree->release();
  }

  std::vector<std::uint64_t> expatTimes;
  for (size_t i = 0; i < count; ++i) {
    const Clock::time_point begin = Clock::now();
    XML_Parser parser = XML_ParserCreate(nullptr);
    const bool ok =
        XML_Parse(parser, text.data(), static_cast<int>(text.size()),
                  XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    expatTimes.push_back(elapsedNs(begin));
    if (!ok) fail("libexpat refused the document");
  }
  std::vector<std::uint64_t> times;
  const std::uint64_t cpu = cpuNs();
  for (size_t i = 0; i < count; ++i) {
    std::unique_ptr<CliDomTree> tree(new CliDomTree());
    const Clock::time_point begin = Clock::now();
    QOR_error error;
    tree->parse_cli(text, error);
    const bool ok = !error.is_set() && found(*tree, last);
    times.push_back(elapsedNs(begin));
    if (!ok) fail("parse_cli or find_value failed");
  }
  report(times, cpuNs() - cpu, text.size(),
         ", \"expat_median_ns\": " + std::to_string(median(expatTimes)) +
             ", \"find_median_ns\": " + std::to_string(median(findTimes)) +
             ", \"dom_peak_bytes\": " + std::to_string(peakBytes) +
             ", \"dom_held_bytes\": " + std::to_string(heldBytes) +
             ", \"pieces_peak_bytes\": " + std::to_string(piecesPeakBytes) +
             ", \"pieces_median_ns\": " + std::to_string(median(piecesTimes)));
}

}  // namespace

int main(int argc, char** argv) {
  setHostLogSink([](const HostLogRecord&) {});
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "latency" && argc == 5) {
    latency(std::strtoul(argv[2], nullptr, 10), argv[3], argv[4]);
  } else if (mode == "show" && argc == 5) {
    show(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
  } else if (mode == "exchange" && argc == 4) {
    exchange(argv[2], std::strtoul(argv[3], nullptr, 10));
  } else if (mode == "xml" && argc == 5) {
    xml(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
  } else {
    std::fprintf(stderr,
                 "usage: bench_library latency COUNT CONTEXT COMMAND\n"
                 "       bench_library show bulk|elements SIZE COUNT\n"
                 "       bench_library exchange SIZE COUNT\n"
                 "       bench_library xml bulk|elements SIZE COUNT\n");
    return 2;
  }
  return 0;
}
