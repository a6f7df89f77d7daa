#include "fuzz_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/util.h"

namespace fuzz {

namespace {

void throwFatalExit(int status) { throw FatalExit{status}; }

}  // namespace

void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
  util_exit_hook = throwFatalExit;
  signal(SIGPIPE, SIG_IGN);
  fflush(stdout);
  int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
}

void finding(const std::string &what, const std::string &detail) {
  fprintf(stderr, "FUZZ FINDING: %s\n%s\n", what.c_str(), detail.c_str());
  fflush(stderr);
  abort();
}

Model::Model() : mgr(nullptr) {
  ps.Init();
  mgr = ps.getMDDManager();
}

Model::~Model() {
  ps.release();
  mdd_quit(mgr);
}

uint8_t Input::byte() {
  if (n == 0) return 0;
  n--;
  return *p++;
}

uint32_t Input::u16() {
  uint32_t lo = byte();
  return lo | (uint32_t)byte() << 8;
}

uint32_t Input::u32() {
  uint32_t lo = u16();
  return lo | u16() << 16;
}

std::string Input::take(size_t k) {
  if (k > n) k = n;
  std::string s((const char *)p, k);
  p += k;
  n -= k;
  return s;
}

void forEachMinterm(bdd_t *f, int n, const std::function<void(const std::vector<int> &)> &fn) {
  array_t *vars = array_alloc(int, 0);
  for (int k = 0; k < n; k++) array_insert_last(int, vars, k);
  std::vector<int> values((size_t)n);
  array_t *minterm = nullptr;
  mdd_gen *gen;
  foreach_mdd_minterm(f, gen, minterm, vars) {
    for (int k = 0; k < n; k++) values[(size_t)k] = array_fetch(int, minterm, k);
    fn(values);
    array_free(minterm);
  }
  array_free(vars);
}

void socketPair(int *a, int *b) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) finding("socketpair failed", strerror(errno));
  *a = fds[0];
  *b = fds[1];
}

PlayedPeer::PlayedPeer(int fd_, std::string bytes_) : fd(fd_), bytes(std::move(bytes_)) {
  thread = std::thread([this] { run(); });
}

PlayedPeer::~PlayedPeer() {
  thread.join();
  struct linger reset = {1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(fd);
}

void PlayedPeer::run() {
  // The fuzzer's time-out alarm must reach the thread under test: it looks
  // at the running input only there.
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
  size_t sent = 0;
  bool writing = true;
  if (bytes.empty()) {
    shutdown(fd, SHUT_WR);
    writing = false;
  }
  char sink[65536];
  for (;;) {
    struct pollfd p = {fd, (short)(POLLIN | (writing ? POLLOUT : 0)), 0};
    if (poll(&p, 1, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (writing && (p.revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t r = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (r > 0) sent += (size_t)r;
      if ((r < 0 && errno != EAGAIN && errno != EINTR) || sent == bytes.size()) {
        shutdown(fd, SHUT_WR);
        writing = false;
      }
    }
    if (p.revents & (POLLIN | POLLERR | POLLHUP)) {
      ssize_t r = recv(fd, sink, sizeof sink, MSG_DONTWAIT);
      if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) return;
    }
  }
}

}  // namespace fuzz
