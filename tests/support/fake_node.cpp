#include "support/fake_node.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/link_sockets.h"

extern char **environ;

namespace run_test {

const std::string kTrueMessage("\x04\x00\x00\x00\x20\x54\x20\x00", 8);
const std::string kFalseMessage("\x04\x00\x00\x00\x20\x46\x20\x00", 8);

std::string sizeBytes(int32_t value) {
  uint32_t v = (uint32_t)value;
  std::string out(4, '\0');
  for (int i = 0; i < 4; i++) out[i] = (char)((v >> (8 * i)) & 0xff);
  return out;
}

std::string mddMessage(const std::string &text) {
  return sizeBytes((int32_t)text.size() + 1) + text + std::string(1, '\0');
}

std::string mddVectorMessage(const std::vector<std::string> &texts) {
  std::string out = sizeBytes((int32_t)texts.size());
  for (const std::string &t : texts) out += mddMessage(t);
  return out;
}

std::string dnfMessage(const std::vector<std::vector<std::string>> &members) {
  std::string out = sizeBytes((int32_t)members.size());
  for (const auto &m : members) out += mddVectorMessage(m);
  return out;
}

Peer::Peer(int fd, int timeoutMs) : fd_(fd), timeoutMs_(timeoutMs) {}

Peer::~Peer() { close(); }

Peer::Peer(Peer &&other) noexcept
    : fd_(other.fd_), timeoutMs_(other.timeoutMs_), failed_(other.failed_) {
  other.fd_ = -1;
}

void Peer::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Peer::shutdownWrite() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void Peer::send(const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t r = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      ADD_FAILURE() << "fake peer could not write: " << strerror(errno);
      failed_ = true;
      return;
    }
    done += (size_t)r;
  }
}

bool Peer::waitReadable(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  for (;;) {
    int r = poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    return r > 0;
  }
}

std::string Peer::readExact(size_t n) {
  std::string out;
  if (failed_) return out;
  out.resize(n);
  size_t got = 0;
  while (got < n) {
    if (!waitReadable(timeoutMs_)) {
      ADD_FAILURE() << "fake peer: nothing arrived within " << timeoutMs_ << " ms (" << got
                    << " of " << n << " bytes)";
      failed_ = true;
      break;
    }
    ssize_t r = read(fd_, &out[got], n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      ADD_FAILURE() << "fake peer: the stream ended after " << got << " of " << n << " bytes";
      failed_ = true;
      break;
    }
    got += (size_t)r;
  }
  out.resize(got);
  return out;
}

int32_t Peer::readSize() {
  std::string b = readExact(4);
  if (b.size() != 4) return 0;
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) v |= (uint32_t)(unsigned char)b[i] << (8 * i);
  return (int32_t)v;
}

std::string Peer::readMDD() {
  int32_t length = readSize();
  if (failed_) return "";
  if (length < 4 || length > (1 << 24)) {
    ADD_FAILURE() << "fake peer: implausible MDD length " << length;
    failed_ = true;
    return "";
  }
  std::string body = readExact((size_t)length);
  if (body.size() != (size_t)length) return "";
  EXPECT_EQ('\0', body.back()) << "MDD message does not end with NUL";
  std::string text = body.substr(0, body.size() - 1);
  EXPECT_EQ(std::string::npos, text.find('\0')) << "NUL inside an MDD text";
  return text;
}

std::vector<std::string> Peer::readMDDVector() {
  std::vector<std::string> texts;
  int32_t n = readSize();
  if (failed_) return texts;
  if (n < 0 || n > 4096) {
    ADD_FAILURE() << "fake peer: implausible vector size " << n;
    failed_ = true;
    return texts;
  }
  for (int32_t i = 0; i < n && !failed_; i++) texts.push_back(readMDD());
  return texts;
}

bool Peer::closedWithoutMoreData(int timeoutMs) {
  if (!waitReadable(timeoutMs)) return false;
  char c;
  ssize_t r = read(fd_, &c, 1);
  return r == 0 || (r < 0 && errno == ECONNRESET);
}

int connectLoopback(int port, int timeoutMs) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons((uint16_t)port);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    if (connect(s, (sockaddr *)&addr, sizeof addr) == 0) {
      int one = 1;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      link_test::boundWaits(s);
      return s;
    }
    ::close(s);
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int listenAnywhere(int *port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = 0;
  if (bind(s, (sockaddr *)&addr, sizeof addr) != 0 || listen(s, 16) != 0) {
    ::close(s);
    return -1;
  }
  socklen_t len = sizeof addr;
  getsockname(s, (sockaddr *)&addr, &len);
  *port = ntohs(addr.sin_port);
  return s;
}

int freePort() {
  int port = 0;
  int s = listenAnywhere(&port);
  if (s >= 0) ::close(s);
  return port;
}

Child::Child(const std::vector<std::string> &argv, const std::string &outputPath)
    : path_(outputPath) {
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << strerror(rc);
    return;
  }
  pid_ = pid;
}

Child::~Child() {
  if (pid_ > 0 && !done_) kill();
}

bool Child::waitFor(int timeoutMs) {
  if (pid_ <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done_) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      done_ = true;
      if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
      if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool Child::ended() {
  if (pid_ <= 0) return true;
  if (!done_) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      done_ = true;
      if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
      if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
    }
  }
  return done_;
}

void Child::kill() {
  if (pid_ <= 0 || done_) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  done_ = true;
  signal_ = SIGKILL;
}

std::string Child::output() const { return readFile(path_); }

std::unique_ptr<Child> startCoordinator(const std::string &binary, int nodes,
                                        const std::string &outputPath, int *port,
                                        int timeoutMs) {
  // The coordinator prints this once it listens.
  const std::string listening = nodes > 0 ? "before accept ..." : "End of receiving addresses!";
  std::unique_ptr<Child> kelvax;
  for (int attempt = 0; attempt < 5; attempt++) {
    *port = freePort();
    kelvax.reset(new Child({binary, "-p", std::to_string(*port), "-n", std::to_string(nodes)},
                           outputPath));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (kelvax->started() && !kelvax->ended() &&
           findLine(kelvax->output(), listening) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    bool portTaken = kelvax->ended() &&
                     kelvax->output().find("cannot bind the local address") != std::string::npos;
    if (!portTaken) break;
  }
  return kelvax;
}

std::string makeTempDir(const std::string &name) {
  std::string base = ::testing::TempDir();
  if (base.empty() || base.back() != '/') base += '/';
  std::string templ = base + "kelvax-" + name + "-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  char *dir = mkdtemp(buf.data());
  EXPECT_NE(nullptr, dir) << "cannot create a directory from " << templ;
  return dir ? std::string(dir) : base;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

int countLinesStartingWith(const std::string &text, const std::string &prefix) {
  int count = 0;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0) count++;
  return count;
}

int countOccurrences(const std::string &text, const std::string &part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}

size_t findLine(const std::string &text, const std::string &line, size_t from) {
  size_t pos = from;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    size_t len = (end == std::string::npos ? text.size() : end) - pos;
    if (text.compare(pos, len, line) == 0 && len == line.size()) return pos;
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return std::string::npos;
}

std::string lastLine(const std::string &text) {
  std::istringstream in(text);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  return last;
}

::testing::AssertionResult linesInOrder(const std::string &text,
                                        std::initializer_list<const char *> lines) {
  size_t at = 0;
  for (const char *line : lines) {
    at = findLine(text, line, at);
    if (at == std::string::npos)
      return ::testing::AssertionFailure() << "missing or out of order: " << line << "\n" << text;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace run_test
