// Common ground of the fuzz targets in tests/fuzz/. Each target file defines
// LLVMFuzzerTestOneInput. scripts/fuzz builds the targets with clang and
// libFuzzer (build-fuzz/); the normal build links the same files with
// replay_main.cpp, which feeds a target every file of its corpus folder
// (the CTest replay tests).
//
// A fatal exit of the code under test (a line, then a status) is an outcome
// a target may take: setUp() installs a fatal-exit hook that throws
// FatalExit, which the target catches. A finding is anything else that stops
// the run: a signal, an abort (finding() aborts), a sanitizer report or a
// hang.
#ifndef KELVAX_TESTS_FUZZ_SUPPORT_H
#define KELVAX_TESTS_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ProgramStructure.h"
#include "mdd/mdd.h"

namespace fuzz {

// What util_exit throws once setUp() has run.
struct FatalExit {
  int status;
};

// Once per process (later calls do nothing): fatal exits throw FatalExit,
// standard output goes to /dev/null, SIGPIPE is ignored.
void setUp();

// Runs fn(); true when it ended in a fatal exit, whose status goes to
// *status when given.
template <class F>
bool exitsFatally(F &&fn, int *status = nullptr) {
  try {
    fn();
  } catch (const FatalExit &e) {
    if (status != nullptr) *status = e.status;
    return true;
  }
  return false;
}

// A difference from the expected outcome: prints both lines on standard
// error and aborts.
[[noreturn]] void finding(const std::string &what, const std::string &detail = "");

// A new program model (x1, x1p, x2, x2p, x3, x3p over 0..3) with its own
// manager; the destructor releases the model and ends the manager.
class Model {
 public:
  Model();
  ~Model();
  Model(const Model &) = delete;
  Model &operator=(const Model &) = delete;
  ProgramStructure ps;
  mdd_manager *mgr;
};

// The fuzz input read front to back; past its end every read gives zeros.
class Input {
 public:
  Input(const uint8_t *data, size_t size) : p(data), n(size) {}
  size_t left() const { return n; }
  uint8_t byte();
  uint32_t u16();
  uint32_t u32();
  // The next min(k, left()) bytes.
  std::string take(size_t k);
  std::string rest() { return take(n); }

 private:
  const uint8_t *p;
  size_t n;
};

// Calls fn with the values of mvars 0..n-1 for every minterm of f over
// them, in the generator's order.
void forEachMinterm(bdd_t *f, int n, const std::function<void(const std::vector<int> &)> &fn);

// A connected Unix-domain stream pair.
void socketPair(int *a, int *b);

// One end of a connected stream played from the fuzz input: a thread writes
// `bytes`, ends its writing side, and reads and drops whatever the other end
// sends until that end is closed. The destructor waits for the thread (so
// the other end must be closed first) and closes the socket, resetting the
// connection rather than lingering.
class PlayedPeer {
 public:
  PlayedPeer(int fd, std::string bytes);
  ~PlayedPeer();
  PlayedPeer(const PlayedPeer &) = delete;
  PlayedPeer &operator=(const PlayedPeer &) = delete;

 private:
  void run();
  int fd;
  std::string bytes;
  std::thread thread;
};

}  // namespace fuzz

#endif
