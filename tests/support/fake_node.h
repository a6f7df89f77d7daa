// Test peers that speak the node link byte by byte: framing builders, a
// reader with a deadline on every read, loopback connections, and child
// processes (kelvax, morlet, kelvax_check) with bounded waits.
#ifndef KELVAX_TESTS_FAKE_NODE_H
#define KELVAX_TESTS_FAKE_NODE_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace run_test {

// ---- Framing ----------------------------------------------------------------
// The MDD messages of the constants true and false, 8 bytes each, written
// out byte by byte.
extern const std::string kTrueMessage;
extern const std::string kFalseMessage;
// The 4 little-endian bytes of a size value.
std::string sizeBytes(int32_t value);
// An MDD message: size L = text length + 1, the text, one NUL.
std::string mddMessage(const std::string &text);
// An MDD vector message: the count, then one MDD message per text.
std::string mddVectorMessage(const std::vector<std::string> &texts);
// A Dnf message: the member count, then one MDD vector message per member.
std::string dnfMessage(const std::vector<std::vector<std::string>> &members);

// ---- Reading with a deadline ---------------------------------------------------
// One end of a link played by the test. Every read waits at most timeoutMs
// for data; a time-out or an early end of stream fails the current test and
// sets failed(). Owns the socket unless release()d.
class Peer {
 public:
  explicit Peer(int fd, int timeoutMs = 20000);
  ~Peer();
  Peer(Peer &&other) noexcept;
  Peer(const Peer &) = delete;
  Peer &operator=(const Peer &) = delete;

  int fd() const { return fd_; }
  bool failed() const { return failed_; }
  void close();
  // Ends the test's writing side (the other end then reads end of stream).
  void shutdownWrite();

  void send(const std::string &bytes);
  void sendMDD(const std::string &text) { send(mddMessage(text)); }
  // Exactly n bytes (fewer after a failure).
  std::string readExact(size_t n);
  int32_t readSize();
  // One MDD message; checks its framing (L >= 4, NUL last, none before) and
  // returns the text without the NUL.
  std::string readMDD();
  std::vector<std::string> readMDDVector();
  // True when the other end closes within timeoutMs without sending more.
  bool closedWithoutMoreData(int timeoutMs);

 private:
  bool waitReadable(int timeoutMs);
  int fd_;
  int timeoutMs_;
  bool failed_ = false;
};

// Sockets made here are close-on-exec, so that child processes started later
// do not keep a connection open.
// A TCP connection to 127.0.0.1:port, retrying while refused for up to
// timeoutMs, with bounded waits (link_test::boundWaits); -1 when it could not
// be made.
int connectLoopback(int port, int timeoutMs);
// A port that was free on every local address a moment ago.
int freePort();
// A listening socket on every local address at a free port; *port receives
// the port.
int listenAnywhere(int *port);

// ---- Child processes ------------------------------------------------------------------
// A child process whose standard output and error go to a file. The
// destructor kills and reaps a child that is still running.
class Child {
 public:
  Child(const std::vector<std::string> &argv, const std::string &outputPath);
  ~Child();
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Waits up to timeoutMs for the child to end; false (and the child is
  // killed) when it did not.
  bool waitFor(int timeoutMs);
  // Whether the child has ended (its status is then recorded); never waits.
  bool ended();
  bool exited() const { return done_; }
  // Exit status, or -1 when the child was ended by a signal (or still runs).
  int exitCode() const { return exitCode_; }
  int termSignal() const { return signal_; }
  std::string output() const;
  const std::string &outputPath() const { return path_; }
  void kill();

 private:
  pid_t pid_ = -1;
  bool done_ = false;
  int exitCode_ = -1;
  int signal_ = 0;
  std::string path_;
};

// Starts the coordinator `binary` with -p <a free port> -n `nodes`, its
// output going to outputPath, and waits at most timeoutMs until it listens.
// When the port turns out to be taken meanwhile (the coordinator cannot bind
// it), another one is tried, up to five in all. *port receives the port. The
// child is returned in every case; if it did not start listening, the
// test's own checks of it fail.
std::unique_ptr<Child> startCoordinator(const std::string &binary, int nodes,
                                        const std::string &outputPath, int *port,
                                        int timeoutMs = 60000);

// A fresh directory for one test's files.
std::string makeTempDir(const std::string &name);
std::string readFile(const std::string &path);
// Number of lines of `text` that start with `prefix`.
int countLinesStartingWith(const std::string &text, const std::string &prefix);
// Number of times `part` occurs in `text` (for messages that follow a
// message without a line end).
int countOccurrences(const std::string &text, const std::string &part);
// Offset of the first line equal to `line` at or after `from`; npos if none.
size_t findLine(const std::string &text, const std::string &line, size_t from = 0);
// The last non-empty line of `text`.
std::string lastLine(const std::string &text);
// Every one of `lines` is a whole line of `text`, in this order (each found
// after the one before it); the failure names the first that is not.
::testing::AssertionResult linesInOrder(const std::string &text,
                                        std::initializer_list<const char *> lines);

}  // namespace run_test

#endif
