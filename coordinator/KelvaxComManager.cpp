#include "KelvaxComManager.h"

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <iostream>

namespace {

// One write of at most `n` bytes, resumed after signals. On a socket the
// write is a send with MSG_NOSIGNAL, so a closed peer gives EPIPE instead of
// SIGPIPE. Any other descriptor is written with SIGPIPE blocked for this
// thread, and a SIGPIPE raised by this very write is consumed before the
// mask is restored.
ssize_t writeSome(int fd, const void *p, size_t n) {
  for (;;) {
    ssize_t r = send(fd, p, n, MSG_NOSIGNAL);
    if (r >= 0 || errno != EINTR) {
      if (r >= 0 || errno != ENOTSOCK) return r;
      break;
    }
  }
  sigset_t pipeSet, oldSet, pending;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
  sigpending(&pending);
  bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  ssize_t r;
  do {
    r = write(fd, p, n);
  } while (r < 0 && errno == EINTR);
  int err = errno;
  if (r < 0 && err == EPIPE && !alreadyPending) {
    struct timespec zero = {0, 0};
    while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
  errno = err;
  return r;
}

// One read of at most `n` bytes, resumed after signals.
ssize_t readSome(int fd, void *p, size_t n) {
  ssize_t r;
  do {
    r = read(fd, p, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

// Reads the 4 bytes of a size value, continuing short reads. False when a
// read fails or the peer closes first; *value is then 0.
bool readSizeValue(int fd, int *value) {
  unsigned char bytes[4];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t r = readSome(fd, bytes + got, sizeof bytes - got);
    if (r <= 0) {
      *value = 0;
      return false;
    }
    got += (size_t)r;
  }
  uint32_t u = (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
               (uint32_t)bytes[3] << 24;
  *value = (int)(int32_t)u;
  return true;
}

// The receive loop of a character array; returns the number of bytes that
// arrived (below `length` when the peer closed or a read failed first).
int receiveChars(char *buffer, int length, int sock) {
  int received = 0;
  while (received < length) {
    ssize_t r = readSome(sock, buffer + received, (size_t)(length - received));
    std::cout << "Number of received chars " << r << std::endl;
    if (r < 0) {
      std::cout << "Unable to receive from a node!" << std::endl;
      break;
    }
    if (r == 0 || r == length) {
      std::cout << "Successfully received from a node!" << std::endl;
      received += (int)r;
      break;
    }
    received += (int)r;
  }
  return received;
}

}  // namespace

KelvaxComManager::KelvaxComManager() {}

KelvaxComManager::~KelvaxComManager() {}

bool KelvaxComManager::sendSize(int value, int sock) {
  uint32_t u = (uint32_t)value;
  const unsigned char bytes[4] = {(unsigned char)(u & 0xff), (unsigned char)(u >> 8 & 0xff),
                                  (unsigned char)(u >> 16 & 0xff),
                                  (unsigned char)(u >> 24 & 0xff)};
  size_t sent = 0;
  while (sent < sizeof bytes) {
    ssize_t r = writeSome(sock, bytes + sent, sizeof bytes - sent);
    if (r <= 0) {
      std::cout << "Unable to send the size value to a node!" << std::endl;
      return false;
    }
    sent += (size_t)r;
  }
  return true;
}

int KelvaxComManager::recvSize(int sock) {
  int value;
  if (!readSizeValue(sock, &value)) {
    printf("Unable to receive the size value!\n");
    return 0;
  }
  printf("Received the size value! %d \n", value);
  return value;
}

bool KelvaxComManager::sendCharArray(char *bytes, int length, int sock) {
  std::cout << "Starting to send the MDD to a synthesis node ..." << std::endl;
  int sent = 0;
  while (sent < length) {
    ssize_t r = writeSome(sock, bytes + sent, (size_t)(length - sent));
    if (r <= 0) {
      std::cout << "Unable to send to a node!" << std::endl;
      return false;
    }
    std::cout << "Number of written chars " << r << std::endl;
    sent += (int)r;
  }
  std::cout << "MDD sent to a synthesis node!" << std::endl;
  return true;
}

void KelvaxComManager::recvCharArray(char *buffer, int length, int sock) {
  receiveChars(buffer, length, sock);
}
