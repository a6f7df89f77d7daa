#include "support/link_sockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace link_test {

const char kSentConstantLines[] =
    "Starting to send the MDD to a synthesis node ...\n"
    "Number of written chars 4\n"
    "MDD sent to a synthesis node!\n";

void boundWaits(int fd) {
  if (fd < 0) return;
  struct timeval limit;
  limit.tv_sec = kSocketTimeoutMs / 1000;
  limit.tv_usec = (kSocketTimeoutMs % 1000) * 1000;
  EXPECT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit));
  EXPECT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit));
  EXPECT_EQ(0, fcntl(fd, F_SETFD, FD_CLOEXEC));
}

void boundedSocketPair(int *a, int *b) {
  int fds[2] = {-1, -1};
  EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
  boundWaits(fds[0]);
  boundWaits(fds[1]);
  *a = fds[0];
  *b = fds[1];
}

namespace {

void makeTcpPair(int *client, int *server) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ASSERT_EQ(bind(listener, (sockaddr *)&addr, sizeof addr), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(listener, (sockaddr *)&addr, &len), 0);
  *client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(*client, 0);
  ASSERT_EQ(connect(*client, (sockaddr *)&addr, sizeof addr), 0);
  *server = accept(listener, nullptr, nullptr);
  ASSERT_GE(*server, 0);
  close(listener);
  // Small writes go out at once rather than waiting for earlier ones.
  int one = 1;
  setsockopt(*client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(*server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  boundWaits(*client);
  boundWaits(*server);
}

}  // namespace

SocketPair::SocketPair(Transport transport) {
  if (transport == Transport::kSocketPair) {
    boundedSocketPair(&local_, &peer_);
  } else {
    makeTcpPair(&local_, &peer_);
  }
}

SocketPair::~SocketPair() {
  closeLocal();
  closePeer();
}

void SocketPair::closeLocal() {
  if (local_ >= 0) close(local_);
  local_ = -1;
}

void SocketPair::closePeer() {
  if (peer_ >= 0) close(peer_);
  peer_ = -1;
}

const char *transportName(Transport transport) {
  return transport == Transport::kSocketPair ? "SocketPair" : "LoopbackTcp";
}

void PrintTo(Transport transport, std::ostream *os) { *os << transportName(transport); }

std::string transportTestName(const ::testing::TestParamInfo<Transport> &info) {
  return transportName(info.param);
}

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back((char)(unsigned char)v);
  return out;
}

std::string hex(const std::string &data) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < data.size(); i++) {
    snprintf(buf, sizeof buf, "%02x", (unsigned char)data[i]);
    if (i) out += ' ';
    out += buf;
  }
  return out;
}

void writeAll(int fd, const std::string &data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t r = write(fd, data.data() + done, data.size() - done);
    if (r < 0 && errno == EINTR) continue;
    ASSERT_GT(r, 0) << "test peer could not write";
    done += (size_t)r;
  }
}

std::string readUpTo(int fd, size_t n) {
  std::string out(n, '\0');
  size_t got = 0;
  while (got < n) {
    ssize_t r = read(fd, &out[got], n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += (size_t)r;
  }
  out.resize(got);
  return out;
}

std::string readToEnd(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t r = read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    out.append(buf, (size_t)r);
  }
  return out;
}

bool nothingPending(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, ms) == 0) return true;
  int avail = 0;
  ioctl(fd, FIONREAD, &avail);
  return avail == 0;
}

void dripBytes(int writerFd, int readerFd, const std::string &data) {
  for (char c : data) {
    writeAll(writerFd, std::string(1, c));
    // The byte has been taken by the reader once the writer has nothing
    // left outstanding (acknowledged on TCP, freed on a Unix socket) and the
    // reader's queue is empty. A reader that stops taking bytes fails the
    // test after the socket time-out.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSocketTimeoutMs);
    for (;;) {
      int outq = -1, inq = -1;
      if (ioctl(writerFd, SIOCOUTQ, &outq) != 0 || ioctl(readerFd, FIONREAD, &inq) != 0) break;
      if (outq == 0 && inq == 0) break;
      if (std::chrono::steady_clock::now() >= deadline) {
        ADD_FAILURE() << "the reader did not take the dripped bytes";
        return;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
}

}  // namespace link_test
