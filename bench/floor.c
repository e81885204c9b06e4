/*
 * The floor: the least a program can do to run the library's exchanges with
 * the CLI simulator, with nothing around them.
 *
 * It creates its two pipes in a private directory, starts `cli -n 0` from
 * PATH with ZUBDM_CLI_PIPE_DIR pointing there, logs in, and then does what
 * the library does per exchange: the line's bytes in one write, "\n\r" in a
 * second (or both in one write with --one-write), then read(2) calls of 1024
 * bytes until the prompt ("HVB", then the first "#" after it) has been seen,
 * using the same first-character restart matching on the bytes in place.
 * With --ring it also submits as the library does where the kernel has
 * io_uring: both writes of a line and the first read of its reply in one
 * io_uring submission, the read bounded by a linked time-out. With
 * --spin=US it reads without blocking for up to US microseconds before it
 * waits (poll) for the reply, as the library does when replies come quickly.
 *
 *   bench_floor latency COUNT CONTEXT COMMAND [--one-write] [--ring|--spin=US]
 *       COUNT commands: "end", CONTEXT (left out when empty), "N COMMAND".
 *   bench_floor show SIZE COUNT [--parse] [--ring|--spin=US]
 *       COUNT times "N show bulk SIZE", the reply kept in memory and, with
 *       --parse, its document handed to libexpat (no handlers) in one call.
 *
 * Prints one JSON object: per-command times in nanoseconds (median, p99,
 * mean, min), the reply size and the process's peak resident set in KiB.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <expat.h>
#include <fcntl.h>
#include <poll.h>
#include <liburing.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

enum { READ_SIZE = 1024 };

static char dir[64];
static char pathW[128];
static char pathR[128];
static pid_t child = -1;
static int fdW = -1;
static int fdR = -1;
static int oneWrite = 0;
static int useRing = 0;
static long spinUs = -1;
static struct io_uring ring;

static char inbuf[READ_SIZE];
static size_t inPos, inLen;

/* The reply of the current exchange, when it is to be kept. */
static char* reply;
static size_t replyLen, replyCap;
/* Where the prompt begins in the kept reply. */
static size_t promptAt;

static void fail(const char* what) {
  fprintf(stderr, "bench_floor: %s: %s\n", what, strerror(errno));
  exit(1);
}

static void cleanup(void) {
  if (fdW >= 0) close(fdW);
  if (fdR >= 0) close(fdR);
  if (child > 0) {
    int status;
    /* End of input ends the simulator; SIGTERM if it lingers. */
    for (int i = 0; i < 100 && waitpid(child, &status, WNOHANG) == 0; ++i) {
      struct timespec pause = {0, 10000000};
      nanosleep(&pause, NULL);
    }
    if (waitpid(child, &status, WNOHANG) == 0) {
      kill(child, SIGTERM);
      waitpid(child, &status, 0);
    }
  }
  if (pathW[0]) unlink(pathW);
  if (pathR[0]) unlink(pathR);
  if (dir[0]) rmdir(dir);
}

static uint64_t now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

static uint64_t now_ns(void);

/* One read(2) into the input buffer: blocking, or, when spinning, without
 * blocking for up to spinUs microseconds and then after poll(2). */
static ssize_t read_some(void) {
  ssize_t got;
  if (spinUs < 0) {
    do {
      got = read(fdR, inbuf, READ_SIZE);
    } while (got < 0 && errno == EINTR);
    return got;
  }
  const uint64_t until = now_ns() + (uint64_t)spinUs * 1000u;
  do {
    got = read(fdR, inbuf, READ_SIZE);
  } while (got < 0 && (errno == EINTR || (errno == EAGAIN && now_ns() < until)));
  while (got < 0 && (errno == EAGAIN || errno == EINTR)) {
    struct pollfd entry = {fdR, POLLIN, 0};
    poll(&entry, 1, 60000);
    got = read(fdR, inbuf, READ_SIZE);
  }
  return got;
}

static void keep(const char* data, size_t n) {
  if (replyLen + n > replyCap) {
    size_t cap = replyCap ? replyCap : 8192;
    while (cap < replyLen + n) cap *= 2;
    reply = realloc(reply, cap);
    if (!reply) fail("realloc");
    replyCap = cap;
  }
  memcpy(reply + replyLen, data, n);
  replyLen += n;
}

/* Reads up to and including `pattern`; the bytes go to the reply when
 * `store` is set. First-character restart matching, as the library. */
static void read_until(const char* pattern, int store) {
  const size_t length = strlen(pattern);
  size_t progress = 0;
  for (;;) {
    if (inPos == inLen) {
      const ssize_t got = read_some();
      if (got <= 0) {
        if (got == 0) errno = EPIPE;
        fail("read");
      }
      inPos = 0;
      inLen = (size_t)got;
    }
    const char* data = inbuf + inPos;
    const size_t available = inLen - inPos;
    size_t i = 0;
    while (i < available && progress < length) {
      if (progress == 0) {
        const char* start = memchr(data + i, pattern[0], available - i);
        if (!start) {
          i = available;
          break;
        }
        i = (size_t)(start - data) + 1;
        progress = 1;
      } else {
        const char byte = data[i++];
        if (byte == pattern[progress]) {
          ++progress;
        } else {
          progress = byte == pattern[0] ? 1 : 0;
        }
      }
    }
    if (store) keep(data, i);
    inPos += i;
    if (progress == length) return;
  }
}

static void write_all(const char* data, size_t n) {
  if (write(fdW, data, n) != (ssize_t)n) fail("write");
}

static void send_line(const char* line) {
  const size_t n = strlen(line);
  if (oneWrite) {
    char joined[512];
    if (n + 2 > sizeof joined) {
      errno = E2BIG;
      fail("line");
    }
    memcpy(joined, line, n);
    memcpy(joined + n, "\n\r", 2);
    write_all(joined, n + 2);
  } else {
    write_all(line, n);
    write_all("\n\r", 2);
  }
}

/* Both writes of the line and the first read of the reply in one
 * submission; the read is bounded by a linked time-out (60 s). */
static void ring_exchange(const char* line) {
  static const char end[] = "\n\r";
  struct io_uring_sqe* sqe = io_uring_get_sqe(&ring);
  io_uring_prep_write(sqe, fdW, line, (unsigned)strlen(line), 0);
  sqe->flags |= IOSQE_IO_LINK;
  sqe = io_uring_get_sqe(&ring);
  io_uring_prep_write(sqe, fdW, end, 2, 0);
  sqe->flags |= IOSQE_IO_LINK;
  sqe = io_uring_get_sqe(&ring);
  io_uring_prep_read(sqe, fdR, inbuf, READ_SIZE, 0);
  io_uring_sqe_set_data64(sqe, 1);
  sqe->flags |= IOSQE_IO_LINK;
  struct __kernel_timespec limit = {60, 0};
  sqe = io_uring_get_sqe(&ring);
  io_uring_prep_link_timeout(sqe, &limit, 0);
  int wait = 3;
  int got = -1;
  for (;;) {
    const int result = io_uring_submit_and_wait(&ring, (unsigned)wait);
    if (result < 0 && result != -EINTR) {
      errno = -result;
      fail("io_uring_submit_and_wait");
    }
    struct io_uring_cqe* cqe;
    while (io_uring_peek_cqe(&ring, &cqe) == 0) {
      if (io_uring_cqe_get_data64(cqe) == 1) got = cqe->res;
      else if (cqe->res < 0 && cqe->res != -ECANCELED) got = cqe->res;
      io_uring_cqe_seen(&ring, cqe);
    }
    if (got != -1) break;
    wait = 1;
  }
  if (got <= 0) {
    errno = got == 0 ? EPIPE : -got;
    fail("ring read");
  }
  inPos = 0;
  inLen = (size_t)got;
}

static void exchange(const char* line, int store) {
  if (useRing && !oneWrite && inPos == inLen) {
    ring_exchange(line);
  } else {
    send_line(line);
  }
  replyLen = 0;
  read_until("HVB", store);
  promptAt = replyLen - 3;
  read_until("#", store);
}

static void start(void) {
  strcpy(dir, "/tmp/zubdm-floor.XXXXXX");
  if (!mkdtemp(dir)) fail("mkdtemp");
  snprintf(pathW, sizeof pathW, "%s/clPipeW0", dir);
  snprintf(pathR, sizeof pathR, "%s/clPipeR0", dir);
  if (mkfifo(pathW, 0600) != 0 || mkfifo(pathR, 0600) != 0) fail("mkfifo");
  if (setenv("ZUBDM_CLI_PIPE_DIR", dir, 1) != 0) fail("setenv");
  char* argv[] = {"cli", "-n", "0", NULL};
  const int error = posix_spawnp(&child, "cli", NULL, NULL, argv, environ);
  if (error != 0) {
    errno = error;
    fail("spawn cli");
  }
  /* The simulator opens clPipeW for reading first, then clPipeR. */
  fdW = open(pathW, O_WRONLY | O_CLOEXEC);
  if (fdW < 0) fail("open write pipe");
  fdR = open(pathR, O_RDONLY | O_CLOEXEC);
  if (fdR < 0) fail("open read pipe");
  if (spinUs >= 0 && fcntl(fdR, F_SETFL, O_NONBLOCK) != 0) fail("fcntl");
  read_until("Login:", 0);
  write_all("root\r\n", 6);
  read_until("Password:", 0);
  write_all("tquvz\r\n", 7);
  read_until("HVB", 0);
  read_until("#", 0);
}

static int compare(const void* a, const void* b) {
  const uint64_t x = *(const uint64_t*)a;
  const uint64_t y = *(const uint64_t*)b;
  return x < y ? -1 : x > y;
}

static long peak_rss_kib(void) {
  FILE* status = fopen("/proc/self/status", "re");
  char line[256];
  long kib = -1;
  while (status && fgets(line, sizeof line, status)) {
    if (strncmp(line, "VmHWM:", 6) == 0) kib = strtol(line + 6, NULL, 10);
  }
  if (status) fclose(status);
  return kib;
}

static void report(uint64_t* times, size_t count, size_t bytes) {
  qsort(times, count, sizeof *times, compare);
  uint64_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += times[i];
  size_t p99 = (count * 99 + 99) / 100;
  if (p99 > 0) --p99;
  printf(
      "{\"count\": %zu, \"median_ns\": %llu, \"p99_ns\": %llu, "
      "\"mean_ns\": %llu, \"min_ns\": %llu, \"bytes\": %zu, "
      "\"peak_rss_kib\": %ld}\n",
      count, (unsigned long long)times[count / 2],
      (unsigned long long)times[p99], (unsigned long long)(sum / count),
      (unsigned long long)times[0], bytes, peak_rss_kib());
}

/* Parses the document of the kept reply (everything before the prompt)
 * with a parser that has no handlers, in one call. */
static void parse_reply(void) {
  XML_Parser parser = XML_ParserCreate(NULL);
  if (!parser) fail("XML_ParserCreate");
  if (XML_Parse(parser, reply, (int)promptAt, XML_TRUE) != XML_STATUS_OK) {
    fprintf(stderr, "bench_floor: parse: %s\n",
            XML_ErrorString(XML_GetErrorCode(parser)));
    exit(1);
  }
  XML_ParserFree(parser);
}

static size_t parse_size(const char* text) {
  char* end;
  unsigned long long n = strtoull(text, &end, 10);
  if (*end == 'K') n <<= 10;
  if (*end == 'M') n <<= 20;
  return (size_t)n;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr,
            "usage: bench_floor latency COUNT CONTEXT COMMAND [--one-write]\n"
            "       bench_floor show SIZE COUNT [--parse]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  atexit(cleanup);
  for (int i = 3; i < argc; ++i) {
    if (strcmp(argv[i], "--ring") == 0) useRing = 1;
    if (strncmp(argv[i], "--spin=", 7) == 0) spinUs = strtol(argv[i] + 7, NULL, 10);
  }
  if (useRing && io_uring_queue_init(8, &ring, 0) != 0) {
    fprintf(stderr, "bench_floor: no io_uring here; plain writes and reads\n");
    useRing = 0;
  }
  char line[512];
  unsigned long number = 0;

  if (strcmp(argv[1], "latency") == 0 && argc >= 5) {
    const size_t count = strtoul(argv[2], NULL, 10);
    const char* context = argv[3];
    const char* command = argv[4];
    for (int i = 5; i < argc; ++i) {
      if (strcmp(argv[i], "--one-write") == 0) oneWrite = 1;
    }
    uint64_t* times = calloc(count, sizeof *times);
    if (!times || count == 0) fail("calloc");
    start();
    /* Warm-up, not timed. */
    for (int i = 0; i < 200; ++i) {
      exchange("end", 0);
      if (*context) exchange(context, 0);
      snprintf(line, sizeof line, "%lu %s", ++number, command);
      exchange(line, 0);
    }
    for (size_t i = 0; i < count; ++i) {
      snprintf(line, sizeof line, "%lu %s", ++number, command);
      const uint64_t begin = now_ns();
      exchange("end", 0);
      if (*context) exchange(context, 0);
      exchange(line, 0);
      times[i] = now_ns() - begin;
    }
    report(times, count, 0);
    return 0;
  }

  if (strcmp(argv[1], "show") == 0 && argc >= 4) {
    const char* size = argv[2];
    const size_t count = strtoul(argv[3], NULL, 10);
    int parse = 0;
    for (int i = 4; i < argc; ++i) {
      if (strcmp(argv[i], "--parse") == 0) parse = 1;
    }
    uint64_t* times = calloc(count, sizeof *times);
    if (!times || count == 0) fail("calloc");
    start();
    size_t bytes = 0;
    for (size_t i = 0; i < count; ++i) {
      snprintf(line, sizeof line, "%lu show bulk %s", ++number, size);
      const uint64_t begin = now_ns();
      exchange(line, 1);
      if (parse) parse_reply();
      times[i] = now_ns() - begin;
      bytes = replyLen;
    }
    if (bytes < parse_size(size)) {
      fprintf(stderr, "bench_floor: short reply\n");
      return 1;
    }
    report(times, count, bytes);
    return 0;
  }
  fprintf(stderr, "bench_floor: bad arguments\n");
  return 2;
}
