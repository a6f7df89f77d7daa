// Real connected sockets for the link tests: Unix-domain socket pairs and
// loopback TCP connections, plus byte-level helpers that play the peer.
#ifndef KELVAX_TESTS_LINK_SOCKETS_H
#define KELVAX_TESTS_LINK_SOCKETS_H

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace link_test {

// Every socket the tests make waits at most this long in one read or write;
// the call then fails (EAGAIN) as if the peer had broken off, so a test whose
// peer stops speaking fails instead of hanging.
const int kSocketTimeoutMs = 30000;
// Bounds the waits of `fd` as above and makes it close-on-exec.
void boundWaits(int fd);
// A connected Unix-domain stream pair with both ends bounded; fails the
// current test (and leaves -1) when it cannot be made.
void boundedSocketPair(int *a, int *b);

enum class Transport { kSocketPair, kLoopbackTcp };

// Two connected stream sockets with bounded waits; both ends are closed on
// destruction unless closed earlier with closeLocal/closePeer.
class SocketPair {
 public:
  explicit SocketPair(Transport transport);
  ~SocketPair();
  SocketPair(const SocketPair &) = delete;
  SocketPair &operator=(const SocketPair &) = delete;

  int local() const { return local_; }  // the end the code under test uses
  int peer() const { return peer_; }    // the end the test plays
  void closeLocal();
  void closePeer();

 private:
  int local_ = -1;
  int peer_ = -1;
};

const char *transportName(Transport transport);
// Names the transport in test output.
void PrintTo(Transport transport, std::ostream *os);
// Both transports and their names, for
//   INSTANTIATE_TEST_SUITE_P(Transports, Suite, allTransports(), transportTestName);
inline auto allTransports() {
  return ::testing::Values(Transport::kSocketPair, Transport::kLoopbackTcp);
}
std::string transportTestName(const ::testing::TestParamInfo<Transport> &info);

// What sendCharArray prints for a text of 4 bytes with its NUL (a constant).
extern const char kSentConstantLines[];

// Bytes from a list of values 0..255.
std::string bytes(std::initializer_list<int> values);
// Lowercase hex with a space between bytes, for readable failures.
std::string hex(const std::string &data);

// Writes every byte of `data`; fails the current test on error.
void writeAll(int fd, const std::string &data);
// Reads until `n` bytes arrived or the stream ended; returns what arrived.
std::string readUpTo(int fd, size_t n);
// Reads until the writer closes.
std::string readToEnd(int fd);
// True when nothing more arrives on `fd` within `ms` milliseconds (and the
// stream is not merely closed with bytes pending).
bool nothingPending(int fd, int ms);

// Writes `data` one byte at a time, each only after the reader has taken the
// previous one out of `readerFd`'s receive queue, so that every read on the
// reader's side returns exactly one byte.
void dripBytes(int writerFd, int readerFd, const std::string &data);

}  // namespace link_test

#endif
