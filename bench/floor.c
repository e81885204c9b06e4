/*
 * The floor: the least a program can do to run the library's exchanges with
 * a CLI, waiting for replies the way the library does and doing nothing
 * else.
 *
 * It creates its two pipes in a private directory, starts `cli -n 0` from
 * PATH with ZUBDM_CLI_PIPE_DIR pointing there (the simulator, or the
 * launcher that serves vtysh), logs in, and then does per exchange what the
 * library does: the line's bytes and "\n\r" in one write (in two with
 * --two-writes), then, until the prompt has been seen, poll(2) on the reply
 * pipe with the time left to a 60 s deadline and read(2) of 1024 bytes on
 * the non-blocking descriptor. After a read that filled its 1024 bytes the
 * next read is tried before polling: more of a long reply is then almost
 * always there, and a poll would only cost a system call. The prompt is
 * found on the bytes in place as the library's reader finds it: "HVB", a
 * body, "#", at the start of a line, so that an echo or output holding
 * "HVB" ends nothing (read_prompt).
 *
 *   bench_floor latency COUNT CONTEXT COMMAND [--two-writes] [--confirm]
 *               [--pty]
 *       COUNT commands, each "end", CONTEXT (left out when empty), then
 *       "N COMMAND", after 200 untimed ones. With --confirm a prompt counts
 *       only as the last thing written: blanks at most after its "#", then
 *       a read that does not wait finds nothing, as the library waits on a
 *       real shell. With --pty, no pipes and no launcher: vtysh itself on a
 *       pseudo-terminal, started as tests/support/vtysh-cli.py starts it (on
 *       the daemons of ZUBDM_FRR_DIR), each line typed as that launcher
 *       types it (no number, then "\r").
 *   bench_floor show KIND SIZE COUNT [--parse]
 *       COUNT times "N show KIND SIZE" (KIND bulk or elements), the reply
 *       kept in memory and, with --parse, its document handed to libexpat
 *       (no handlers) in one call. COUNT 1 times the first command after
 *       login, in a fresh heap.
 *
 * Prints one JSON object: wall time per command in nanoseconds (median,
 * p99, mean, min), CPU time per command (user + system time of this process
 * over the timed commands, divided by COUNT), the reply size and the peak
 * resident set in KiB.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <expat.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

enum { READ_SIZE = 1024, REPLY_TIMEOUT_MS = 60000, MAX_PROMPT_BODY = 64 };

static char dir[64];
static char pathW[128];
static char pathR[128];
static pid_t child = -1;
static int fdW = -1;
static int fdR = -1;
static int twoWrites = 0;
/* The prompt must be the last thing written (read_prompt). */
static int confirm = 0;
/* What ends a line: "\n\r" on the pipes, Enter on a terminal. */
static const char* lineEnd = "\n\r";

static char inbuf[READ_SIZE];
static size_t inPos, inLen;
/* The last read filled the buffer: read again before polling. */
static int streaming = 0;
static uint64_t deadline;

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
  if (fdW >= 0 && fdW != fdR) close(fdW);
  if (fdR >= 0) close(fdR);
  if (child > 0) {
    int status;
    /* End of input, or a hung-up terminal, ends the CLI; SIGTERM if it
     * lingers. */
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

static uint64_t cpu_ns(void) {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) fail("getrusage");
  const uint64_t us =
      (uint64_t)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000u +
      (uint64_t)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  return us * 1000u;
}

/* One read(2) into the input buffer, after poll(2) unless streaming. */
static ssize_t read_some(void) {
  for (;;) {
    if (!streaming) {
      const uint64_t now = now_ns();
      const int timeout =
          now >= deadline ? 0 : (int)((deadline - now + 999999) / 1000000);
      struct pollfd entry = {fdR, POLLIN, 0};
      const int ready = poll(&entry, 1, timeout);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) fail("poll");
      if (ready == 0) {
        errno = ETIMEDOUT;
        fail("reply");
      }
    }
    const ssize_t got = read(fdR, inbuf, READ_SIZE);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
      streaming = 0;
      continue;
    }
    streaming = got == READ_SIZE;
    return got;
  }
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

/* Reads into the input buffer when all of it has been consumed. */
static void refill(void) {
  if (inPos < inLen) return;
  const ssize_t got = read_some();
  if (got <= 0) {
    if (got == 0) errno = EPIPE;
    fail("read");
  }
  inPos = 0;
  inLen = (size_t)got;
}

/* Reads up to and including `pattern`; the bytes go to the reply when
 * `store` is set. First-character restart matching, as the library. */
static void read_until(const char* pattern, int store) {
  const size_t length = strlen(pattern);
  size_t progress = 0;
  for (;;) {
    refill();
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

static int is_blank(char byte) { return byte == ' ' || byte == '\t'; }
static int is_line_end(char byte) { return byte == '\n' || byte == '\r'; }

/* Reads up to and including the prompt: "HVB", at most 64 bytes that are
 * neither blanks, line ends nor "#", then "#", at the start of a line (the
 * start of the reply after any blanks, or after "\n" or "\r"). A prompt
 * within a line is output here: neither CLI prints one. The bytes go to the
 * reply when `store` is set; promptAt is where the prompt begins.
 *
 * With `confirm` the prompt must also be the last thing written, as the
 * library requires of a CLI it does not know: after the "#" only blanks,
 * then a read that does not wait finds nothing. A real shell prints
 * prompt-like names at a line start ("HVB-x#1  up" in vtysh's interface
 * list). Without it a blank after the "#" is left for the next reply,
 * whose leading blanks are skipped. */
static void read_prompt(int store) {
  size_t progress = 0; /* of a candidate: 1 "H", 2 "HV", 3 + body "HVB..." */
  size_t fed = 0;      /* bytes consumed before the current piece */
  int leading = 1;     /* only blanks so far */
  int ended = 0;       /* the candidate's "#" came, then only blanks */
  char last = 0;       /* the byte before the current piece */
  for (;;) {
    if (ended && inPos == inLen) {
      const ssize_t got = read(fdR, inbuf, READ_SIZE);
      if (got < 0 && errno == EINTR) continue;
      /* Nothing more, or the CLI gone right after its prompt. */
      if (got == 0 || (got < 0 && errno == EAGAIN)) return;
      if (got < 0) fail("read");
      inPos = 0;
      inLen = (size_t)got;
      streaming = got == READ_SIZE;
    }
    refill();
    const char* data = inbuf + inPos;
    const size_t available = inLen - inPos;
    size_t i = 0;
    int found = 0;
    while (i < available && !found) {
      if (ended) {
        if (is_blank(data[i])) {
          ++i;
          continue;
        }
        /* More than blanks after it: output. Its "#" starts no line. */
        ended = 0;
        progress = 0;
      }
      if (progress == 0) {
        size_t at;
        int lineStart;
        if (leading) {
          while (i < available && is_blank(data[i])) ++i;
          if (i == available) break;
          leading = 0;
          at = i;
          lineStart = 1;
        } else {
          const char* start = memchr(data + i, 'H', available - i);
          if (!start) {
            i = available;
            break;
          }
          at = (size_t)(start - data);
          lineStart = is_line_end(at > 0 ? data[at - 1] : last);
        }
        i = at + 1;
        if (lineStart && data[at] == 'H') {
          progress = 1;
          promptAt = fed + at;
        }
        continue;
      }
      const char byte = data[i++];
      if (progress < 3) {
        progress = byte == "HVB"[progress] ? progress + 1 : 0;
      } else if (byte == '#') {
        found = !confirm;
        ended = confirm;
      } else if (!is_blank(byte) && !is_line_end(byte) &&
                 progress - 3 < MAX_PROMPT_BODY) {
        ++progress;
      } else {
        progress = 0;
      }
    }
    if (store) keep(data, i);
    if (i > 0) last = data[i - 1];
    inPos += i;
    fed += i;
    if (found) return;
  }
}

static void write_all(const char* data, size_t n) {
  if (write(fdW, data, n) != (ssize_t)n) fail("write");
}

static void send_line(const char* line) {
  const size_t n = strlen(line);
  const size_t end = strlen(lineEnd);
  if (!twoWrites) {
    char joined[512];
    if (n + end > sizeof joined) {
      errno = E2BIG;
      fail("line");
    }
    memcpy(joined, line, n);
    memcpy(joined + n, lineEnd, end);
    write_all(joined, n + end);
  } else {
    write_all(line, n);
    write_all(lineEnd, end);
  }
}

static void exchange(const char* line, int store) {
  send_line(line);
  deadline = now_ns() + (uint64_t)REPLY_TIMEOUT_MS * 1000000u;
  replyLen = 0;
  read_prompt(store);
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
  if (fcntl(fdR, F_SETFL, O_NONBLOCK) != 0) fail("fcntl");
  deadline = now_ns() + (uint64_t)REPLY_TIMEOUT_MS * 1000000u;
  read_until("Login:", 0);
  write_all("root\r\n", 6);
  read_until("Password:", 0);
  write_all("tquvz\r\n", 7);
  read_prompt(0);
}

/* vtysh on a pseudo-terminal, started as the launcher starts it (the same
 * options, environment and window size), with no launcher and no pipes. */
static void start_pty(void) {
  const char* frr = getenv("ZUBDM_FRR_DIR");
  if (!frr || !*frr) {
    errno = EINVAL;
    fail("ZUBDM_FRR_DIR");
  }
  char history[256], path[1024], home[256];
  snprintf(history, sizeof history, "%s/history-pty", frr);
  snprintf(path, sizeof path, "PATH=%s",
           getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
  snprintf(home, sizeof home, "HOME=%s", frr);
  char* argv[] = {"vtysh", "--vty_socket", (char*)frr, "--config_dir",
                  (char*)frr, "-H", history, NULL};
  char* envp[] = {path, "TERM=dumb", home, "LANG=C", NULL};
  struct winsize window = {50, 8192, 0, 0};
  int master = -1;
  child = forkpty(&master, NULL, NULL, &window);
  if (child < 0) fail("forkpty");
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    signal(SIGPIPE, SIG_DFL);
    execvpe("vtysh", argv, envp);
    _exit(127);
  }
  fdR = fdW = master;
  lineEnd = "\r";
  if (fcntl(fdR, F_SETFL, O_NONBLOCK) != 0) fail("fcntl");
  deadline = now_ns() + (uint64_t)REPLY_TIMEOUT_MS * 1000000u;
  read_prompt(0);
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

static void report(uint64_t* times, size_t count, uint64_t cpu, size_t bytes) {
  qsort(times, count, sizeof *times, compare);
  uint64_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += times[i];
  size_t p99 = (count * 99 + 99) / 100;
  if (p99 > 0) --p99;
  printf(
      "{\"count\": %zu, \"median_ns\": %llu, \"p99_ns\": %llu, "
      "\"mean_ns\": %llu, \"min_ns\": %llu, \"cpu_ns\": %llu, "
      "\"bytes\": %zu, \"peak_rss_kib\": %ld}\n",
      count, (unsigned long long)times[count / 2],
      (unsigned long long)times[p99], (unsigned long long)(sum / count),
      (unsigned long long)times[0], (unsigned long long)(cpu / count), bytes,
      peak_rss_kib());
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

/* "N COMMAND"; on the terminal COMMAND alone, as the launcher types it. */
static void numbered(char* line, size_t size, unsigned long number,
                     const char* command, int pty) {
  if (pty) {
    snprintf(line, size, "%s", command);
  } else {
    snprintf(line, size, "%lu %s", number, command);
  }
}

static size_t parse_size(const char* text) {
  char* end;
  unsigned long long n = strtoull(text, &end, 10);
  if (*end == 'K') n <<= 10;
  if (*end == 'M') n <<= 20;
  return (size_t)n;
}

static int has_flag(int argc, char** argv, int from, const char* flag) {
  for (int i = from; i < argc; ++i) {
    if (strcmp(argv[i], flag) == 0) return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  atexit(cleanup);
  char line[512];
  unsigned long number = 0;

  if (argc >= 5 && strcmp(argv[1], "latency") == 0) {
    const size_t count = strtoul(argv[2], NULL, 10);
    const char* context = argv[3];
    const char* command = argv[4];
    twoWrites = has_flag(argc, argv, 5, "--two-writes");
    confirm = has_flag(argc, argv, 5, "--confirm");
    const int pty = has_flag(argc, argv, 5, "--pty");
    uint64_t* times = calloc(count, sizeof *times);
    if (!times || count == 0) fail("calloc");
    if (pty) {
      start_pty();
    } else {
      start();
    }
    /* Warm-up, not timed. */
    for (int i = 0; i < 200; ++i) {
      exchange("end", 0);
      if (*context) exchange(context, 0);
      numbered(line, sizeof line, ++number, command, pty);
      exchange(line, 0);
    }
    const uint64_t cpu = cpu_ns();
    for (size_t i = 0; i < count; ++i) {
      numbered(line, sizeof line, ++number, command, pty);
      const uint64_t begin = now_ns();
      exchange("end", 0);
      if (*context) exchange(context, 0);
      exchange(line, 0);
      times[i] = now_ns() - begin;
    }
    report(times, count, cpu_ns() - cpu, 0);
    return 0;
  }

  if (argc >= 5 && strcmp(argv[1], "show") == 0) {
    const char* kind = argv[2];
    const char* size = argv[3];
    const size_t count = strtoul(argv[4], NULL, 10);
    const int parse = has_flag(argc, argv, 5, "--parse");
    uint64_t* times = calloc(count, sizeof *times);
    if (!times || count == 0) fail("calloc");
    start();
    size_t bytes = 0;
    const uint64_t cpu = cpu_ns();
    for (size_t i = 0; i < count; ++i) {
      snprintf(line, sizeof line, "%lu show %s %s", ++number, kind, size);
      const uint64_t begin = now_ns();
      exchange(line, 1);
      if (parse) parse_reply();
      times[i] = now_ns() - begin;
      bytes = promptAt;
    }
    const uint64_t used = cpu_ns() - cpu;
    if (bytes < parse_size(size)) {
      fprintf(stderr, "bench_floor: short reply (%zu bytes)\n", bytes);
      return 1;
    }
    report(times, count, used, bytes);
    return 0;
  }

  fprintf(stderr,
          "usage: bench_floor latency COUNT CONTEXT COMMAND "
          "[--two-writes] [--confirm] [--pty]\n"
          "       bench_floor show bulk|elements SIZE COUNT [--parse]\n");
  return 2;
}
