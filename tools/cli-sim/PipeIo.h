#ifndef ZUBDM_TOOLS_CLI_SIM_PIPEIO_H
#define ZUBDM_TOOLS_CLI_SIM_PIPEIO_H

#include <cstddef>
#include <string>
#include <vector>

// The simulator's two pipe ends: line-wise reading of the input pipe and
// buffered, complete writing to the output pipe. Owns both descriptors.
// Single-threaded.
class PipeIo {
 public:
  enum class ReadResult { kLine, kTooLong, kEnd };

  // Longest input line kept; longer lines are skipped and reported.
  static const std::size_t kMaxLine = 1 << 20;

  PipeIo();
  ~PipeIo();
  PipeIo(const PipeIo&) = delete;
  PipeIo& operator=(const PipeIo&) = delete;

  // Opens `inputPath` for reading (waiting for its writer), then `outputPath`
  // for writing (waiting for its reader). The order matters: the library
  // opens its write end first. Returns false with a message in `error`.
  bool open(const std::string& inputPath, const std::string& outputPath,
            std::string& error);

  // Reads the next line up to "\n" (not included) into `line`. kTooLong: a
  // line longer than kMaxLine was read and dropped, `line` is empty. kEnd: end
  // of file or a read error; a last line without "\n" is dropped.
  ReadResult readLine(std::string& line);

  // Reads and drops input until end of file or a read error.
  void drainInput();

  // A terminal's echo of input typed while a command runs. markTyped() says
  // that the input read so far was typed before the command began (the
  // shell echoes it itself when it reads it); echoTyped() then queues, as a
  // terminal echoes them, the bytes that have arrived since, without
  // waiting: "\r" dropped, "\n" shown as "\r\n". With setTypedEcho(true),
  // flush() also echoes them between the pieces of a chunked write.
  void markTyped() { typedEnd_ = readEnd_; }
  bool echoTyped();
  void setTypedEcho(bool on) { typedEcho_ = on; }

  // Queue bytes for the output pipe; large queues are written at once.
  // False when a write failed (see writeError()).
  bool put(const char* data, std::size_t size);
  bool put(const std::string& text) { return put(text.data(), text.size()); }

  // Writes everything queued. False when a write failed.
  bool flush();

  // From now on flush() writes in pieces of `bytes` with a 1 ms pause between
  // them (0: in one go).
  void setWriteChunk(std::size_t bytes) { writeChunk_ = bytes; }

  // Drops queued bytes and closes the output pipe; the reader sees end of
  // file.
  void closeOutput();

  // errno of the failed write; EPIPE when the reader has gone.
  int writeError() const { return writeErrno_; }

 private:
  bool writeAll(const char* data, std::size_t size);
  // Reads what has arrived without waiting; returns its terminal echo.
  std::string takeTyped();

  int in_ = -1;
  int out_ = -1;
  std::vector<char> readBuffer_;
  std::size_t readPos_ = 0;
  std::size_t readEnd_ = 0;
  // Input up to here has been echoed (or needs no echo at arrival).
  std::size_t typedEnd_ = 0;
  bool typedEcho_ = false;
  std::string pending_;
  std::size_t writeChunk_ = 0;
  int writeErrno_ = 0;
};

#endif  // ZUBDM_TOOLS_CLI_SIM_PIPEIO_H
