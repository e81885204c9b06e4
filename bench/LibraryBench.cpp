// In-process measurements of the library against the CLI simulator.
//
// One controller is brought up against `cli` from PATH (the bench script
// puts the simulator first) and serves every benchmark of the process:
//   forward/no_context, forward/context   one forwarded command, timed one
//                                         by one (median and p99)
//   show/SIZE       "show bulk SIZE" forwarded, parsed and searched with
//                   find_value (the last object), with the peak resident set
//   exchange/SIZE   one ZUBAdaptor::send of "show bulk SIZE": write, read up
//                   to the prompt, classify (the sweep)
//   xml/SIZE        bare libexpat (no handlers, one call; counter
//                   expat_median_ns), then CliDomTree::parse_cli + find_value,
//                   on the document alone
//
// The host log sink is replaced by one that drops every message, as a host
// with its own logging would; syslog is not the figure measured here.
//
// Own options (before the Google Benchmark ones):
//   --commands=N        forwarded commands per latency figure (10000)
//   --command=TEXT      the command they carry ("show interfaces")
//   --context=TEXT      the context command ("configure terminal")
//   --sizes=A,B,...     sizes for show/ exchange/ xml/
#include <benchmark/benchmark.h>
#include <expat.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/QOR_error.h"
#include "controller/CLIOpController.h"
#include "host/HostLog.h"
#include "result/CLIResponse.h"
#include "result/CLIResult.h"
#include "result/CliDomTree.h"

namespace {

using Clock = std::chrono::steady_clock;
using ZUB_DEVICE_MEDIATION::CLIResponse;
using ZUB_DEVICE_MEDIATION::CLIResult;

struct Options {
  long commands = 10000;
  std::string command = "show interfaces";
  std::string context = "configure terminal";
  std::vector<size_t> sizes;
};

Options options;
std::unique_ptr<CLIOpController> controller;
bool tableExisted = false;
// The documents of "show bulk SIZE", captured once per size.
std::map<size_t, std::string> documents;

long peakRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The id of the last object in a "show bulk SIZE" document.
std::string lastBulkId(size_t size) {
  const size_t frame = std::strlen("<SHOW>\r\n") + std::strlen("</SHOW>\r\n");
  const size_t count = size > frame ? (size - frame) / 256 : 0;
  char id[32];
  std::snprintf(id, sizeof id, "bulk%010zu", count);
  return id;
}

std::string bulkCommand(size_t size) {
  return "show bulk " + std::to_string(size);
}

bool connect() {
  if (controller) return controller->adaptor.isLoggedIn();
  const int fd = shm_open("/shmem_cl_users", O_RDONLY, 0);
  tableExisted = fd >= 0;
  if (fd >= 0) close(fd);
  controller.reset(new CLIOpController());
  if (!controller->adaptor.restart()) {
    std::fprintf(stderr,
                 "bench_library: cannot bring up the CLI (is the simulator "
                 "first on PATH?)\n");
    return false;
  }
  return true;
}

void disconnect() {
  controller.reset();
  // The library frees its slot itself; a table it had to create goes too.
  if (!tableExisted) shm_unlink("/shmem_cl_users");
}

void report(benchmark::State& state, std::vector<double>& times) {
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  size_t p99 = (times.size() * 99 + 99) / 100;
  if (p99 > 0) --p99;
  state.counters["median_ns"] = times[times.size() / 2];
  state.counters["p99_ns"] = times[p99];
  state.counters["min_ns"] = times.front();
}

double elapsedNs(Clock::time_point begin) {
  return std::chrono::duration<double, std::nano>(Clock::now() - begin).count();
}

void forward(benchmark::State& state, bool withContext) {
  if (!connect()) {
    state.SkipWithError("no CLI");
    return;
  }
  const std::string context = withContext ? options.context : std::string();
  // Warm-up, not timed.
  for (int i = 0; i < 200; ++i) {
    CLIResult result;
    controller->forwardCliCommand(context, options.command, result);
  }
  std::vector<double> times;
  times.reserve(static_cast<size_t>(state.max_iterations));
  bool ok = true;
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    {
      CLIResult result;
      controller->forwardCliCommand(context, options.command, result);
      ok = ok && result.getErrorList().empty();
    }
    times.push_back(elapsedNs(begin));
  }
  if (!ok) state.SkipWithError("a command failed");
  report(state, times);
}

void show(benchmark::State& state, size_t size) {
  if (!connect()) {
    state.SkipWithError("no CLI");
    return;
  }
  const std::string command = bulkCommand(size);
  const std::string id = lastBulkId(size);
  std::vector<double> times;
  bool ok = true;
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    {
      CLIResult result;
      controller->forwardCliCommand("", command, result);
      std::string value;
      ok = ok && result.getState().equals(OpStatusEnum::Success) &&
           result.getXMLResult().find_value(id.c_str(), "data", "index",
                                            value) == 1;
    }
    times.push_back(elapsedNs(begin));
  }
  if (!ok) state.SkipWithError("the document was not found");
  report(state, times);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["bytes"] = static_cast<double>(size);
  state.counters["peak_rss_kib"] = static_cast<double>(peakRssKiB());
}

void exchange(benchmark::State& state, size_t size) {
  if (!connect()) {
    state.SkipWithError("no CLI");
    return;
  }
  const std::string command = "1 " + bulkCommand(size);
  std::vector<double> times;
  bool ok = true;
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    {
      CLIResponse response;
      ok = ok && controller->adaptor.send(command, response) &&
           !response.isRspListEmpty() &&
           response.getResponseList().front().size() >= size;
    }
    times.push_back(elapsedNs(begin));
  }
  if (!ok) state.SkipWithError("exchange failed");
  report(state, times);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

const std::string* document(size_t size) {
  auto found = documents.find(size);
  if (found != documents.end()) return &found->second;
  if (!connect()) return nullptr;
  CLIResult result;
  controller->forwardCliCommand("", bulkCommand(size), result);
  const auto& messages = result.getMessageList();
  if (messages.size() != 1 || messages.front().size() < size) return nullptr;
  return &(documents[size] = messages.front());
}

// Bare libexpat, then parse_cli + find_value, on the same bytes in one
// process, so that both meet the same conditions (CPU, memory). Each kind
// runs as many times in a row as the benchmark has iterations.
void xml(benchmark::State& state, size_t size) {
  const std::string* text = document(size);
  if (text == nullptr) {
    state.SkipWithError("no document");
    return;
  }
  const std::string id = lastBulkId(size);
  bool ok = true;
  std::vector<double> expatTimes;
  for (benchmark::IterationCount i = 0; i < state.max_iterations; ++i) {
    const Clock::time_point begin = Clock::now();
    XML_Parser parser = XML_ParserCreate(nullptr);
    ok = ok && XML_Parse(parser, text->data(), static_cast<int>(text->size()),
                         XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    expatTimes.push_back(elapsedNs(begin));
  }
  std::vector<double> parseTimes;
  for (auto _ : state) {
    // The tree is made and filled outside the timed part: parse_cli and
    // find_value are what is measured, and the document's release.
    std::unique_ptr<CliDomTree> tree(new CliDomTree());
    tree->add_cli_output(*text);
    const Clock::time_point begin = Clock::now();
    QOR_error error;
    tree->parse_cli(error);
    std::string value;
    ok = ok && !error.is_set() &&
         tree->find_value(id.c_str(), "data", "index", value) == 1;
    tree.reset();
    parseTimes.push_back(elapsedNs(begin));
  }
  if (!ok) state.SkipWithError("parse failed");
  report(state, parseTimes);
  std::sort(expatTimes.begin(), expatTimes.end());
  state.counters["expat_median_ns"] = expatTimes[expatTimes.size() / 2];
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// Enough rounds for a stable median, few for the large sizes.
benchmark::IterationCount roundsFor(size_t size) {
  const size_t rounds = (size_t{64} << 20) / std::max<size_t>(size, 1);
  return static_cast<benchmark::IterationCount>(
      std::min<size_t>(2000, std::max<size_t>(5, rounds)));
}

size_t parseSize(const std::string& text) {
  char* end = nullptr;
  size_t value = std::strtoull(text.c_str(), &end, 10);
  if (*end == 'K') value <<= 10;
  if (*end == 'M') value <<= 20;
  return value;
}

// Takes our own options out of argv; the rest is Google Benchmark's.
void parseOptions(int& argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      const size_t n = std::strlen(name);
      return arg.compare(0, n, name) == 0 ? argv[i] + n : nullptr;
    };
    if (const char* v = value("--commands=")) {
      options.commands = std::atol(v);
    } else if (const char* v2 = value("--command=")) {
      options.command = v2;
    } else if (const char* v3 = value("--context=")) {
      options.context = v3;
    } else if (const char* v4 = value("--sizes=")) {
      std::string list = v4;
      size_t start = 0;
      while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        if (comma > start) {
          options.sizes.push_back(parseSize(list.substr(start, comma - start)));
        }
        start = comma + 1;
      }
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (options.sizes.empty())
    options.sizes = {size_t{1} << 20, size_t{16} << 20};
}

}  // namespace

int main(int argc, char** argv) {
  parseOptions(argc, argv);
  setHostLogSink([](const HostLogRecord&) {});

  benchmark::RegisterBenchmark("forward/no_context",
                               [](benchmark::State& s) { forward(s, false); })
      ->Iterations(options.commands)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("forward/context",
                               [](benchmark::State& s) { forward(s, true); })
      ->Iterations(options.commands)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  for (const size_t size : options.sizes) {
    const std::string suffix = "/" + std::to_string(size);
    benchmark::RegisterBenchmark(("show" + suffix).c_str(),
                                 [size](benchmark::State& s) { show(s, size); })
        ->Iterations(size >= (size_t{16} << 20) ? 5 : 20)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(
        ("exchange" + suffix).c_str(),
        [size](benchmark::State& s) { exchange(s, size); })
        ->Iterations(roundsFor(size))
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("xml" + suffix).c_str(),
                                 [size](benchmark::State& s) { xml(s, size); })
        ->Iterations(roundsFor(size))
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::AddCustomContext("log sink", "drops every message");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  disconnect();
  return 0;
}
