#include "KelvaxComManager.h"

#include "Cnf.h"
#include "Dnf.h"
#include "Intersect.h"
#include "Union.h"
#include "Util.h"
#include "mem/mem.h"

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <utility>

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

// recvSize: the value, or 0 after a failed or closed read; *ok tells which.
int receiveSize(int sock, bool *ok) {
  int value;
  *ok = readSizeValue(sock, &value);
  if (!*ok) {
    printf("Unable to receive the size value!\n");
    return 0;
  }
  printf("Received the size value! %d \n", value);
  return value;
}

// A count is usable when it was read and is within the limit; an oversized
// count is reported.
bool countUsable(bool read, int count, const char *who) {
  if (!read) return false;
  if (count > KelvaxComManager::kMaxVectorCount) {
    std::cout << who << ": Count " << count << " is above the limit of "
              << KelvaxComManager::kMaxVectorCount << "!" << std::endl;
    return false;
  }
  return true;
}

// One MDD message as it arrived: the text up to its first NUL when the
// message is whole; otherwise no text, with `broken` set when the stream
// can no longer be trusted (failed or closed read, oversized length).
struct ReceivedText {
  int size = 0;
  bool whole = false;
  bool broken = false;
  std::string text;
};

struct HugeUnmap {
  size_t bytes;
  void operator()(char *p) const { mem_unmap_huge(p, bytes); }
};

ReceivedText receiveText(int sock, const char *who) {
  ReceivedText r;
  bool ok;
  r.size = receiveSize(sock, &ok);
  if (!ok) {
    r.broken = true;
    return r;
  }
  if (r.size <= 0) return r;
  if (r.size > KelvaxComManager::kMaxMessageBytes) {
    std::cout << who << ": MDD size " << r.size << " is above the limit of "
              << KelvaxComManager::kMaxMessageBytes << " bytes!" << std::endl;
    r.broken = true;
    return r;
  }
  // The message goes into a mapping that costs only the pieces the peer
  // actually sends (huge pages where offered), then up to its first NUL into
  // the string the reader gets (it works in that string), itself a block of
  // huge pages when large.
  size_t bytes = (size_t)r.size;
  char *buffer = (char *)mem_map_huge(bytes);
  if (buffer == nullptr) {
    std::cout << who << ": Unable to allocate " << r.size << " bytes for the MDD!" << std::endl;
    r.broken = true;
    return r;
  }
  std::unique_ptr<char, HugeUnmap> owned(buffer, HugeUnmap{bytes});
  int got = receiveChars(buffer, r.size, sock);
  if (got < r.size) {
    std::cout << who << ": The MDD message was cut short after " << got << " of " << r.size
              << " bytes!" << std::endl;
    r.broken = true;
    return r;
  }
  const void *nul = memchr(buffer, '\0', bytes);
  size_t length = nul ? (size_t)((const char *)nul - buffer) : bytes;
  try {
    Util::reserveText(&r.text, length);
    r.text.assign(buffer, length);
  } catch (const std::exception &) {
    std::cout << who << ": Unable to allocate " << r.size << " bytes for the MDD!" << std::endl;
    r.text.clear();
    r.broken = true;
    return r;
  }
  r.whole = true;
  return r;
}

enum class SendResult { kSent, kTooLarge, kSizeFailed, kTextFailed };

// One MDD message: the size L = text length + 1, then the text and its NUL.
SendResult sendOne(KelvaxComManager *com, void *manager, bdd_t *mdd, Util *util, int sock,
                   const char *who) {
  std::string text;
  util->MDD2String(manager, mdd, &text);
  if (text.size() >= (size_t)KelvaxComManager::kMaxMessageBytes) {
    std::cout << who << ": The MDD text of " << text.size() << " bytes is above the limit of "
              << KelvaxComManager::kMaxMessageBytes << " bytes!" << std::endl;
    return SendResult::kTooLarge;
  }
  int length = (int)text.size() + 1;
  if (!com->sendSize(length, sock)) return SendResult::kSizeFailed;
  // The string's own terminator is the NUL that ends the message.
  if (!com->sendCharArray(&text[0], length, sock)) return SendResult::kTextFailed;
  return SendResult::kSent;
}

// recvMDDVec, telling the caller whether the stream broke.
std::vector<bdd_t *> receiveVector(void *manager, Util *util, int sock, bool *broken) {
  static const char who[] = "KelvaxComManager::recvMDDVec";
  std::vector<bdd_t *> result;
  bool read;
  int count = receiveSize(sock, &read);
  std::cout << who << ": Vector size to be received " << count << std::endl;
  *broken = !countUsable(read, count, who);
  if (*broken) return result;
  // All texts first, then the conversions.
  std::vector<ReceivedText> texts;
  for (int i = 0; i < count; i++) {
    texts.push_back(receiveText(sock, who));
    if (texts.back().broken) {
      *broken = true;
      break;
    }
    if (!texts.back().whole)
      std::cout << who << ": MDD size of element " << i << " is not positive; using the empty set!"
                << std::endl;
  }
  bdd_manager *mgr = (bdd_manager *)manager;
  // Each text goes to the reader as it is (moved, not copied).
  for (ReceivedText &t : texts)
    result.push_back(t.whole ? util->String2MDD(manager, std::move(t.text)) : bdd_zero(mgr));
  if (*broken) {
    std::cout << who << ": The MDD vector broke off after " << result.size() << " of " << count
              << " MDDs!" << std::endl;
    return result;
  }
  std::cout << who << ": Done receiving MDDVector ... " << std::endl;
  return result;
}

// The received handles become the formula's: releaseAll frees them.
void adoptAll(const std::vector<bdd_t *> &handles) {
  for (bdd_t *h : handles) BFormula::adopt(h);
}

void freeAll(const std::vector<bdd_t *> &handles) {
  for (bdd_t *h : handles) bdd_free(h);
}

Intersect *makeIntersect(const std::vector<bdd_t *> &predicates, void *manager) {
  adoptAll(predicates);
  Intersect *conjunction = new Intersect(predicates, manager);
  std::cout << "KelvaxComManager::recvIntersect: created an Intersect object!" << std::endl;
  return conjunction;
}

Union *makeUnion(const std::vector<bdd_t *> &predicates, void *manager) {
  adoptAll(predicates);
  return new Union(predicates, manager);
}

std::vector<bdd_t *> receiveConjunction(void *manager, Util *util, int sock, bool *broken) {
  std::vector<bdd_t *> predicates = receiveVector(manager, util, sock, broken);
  std::cout << "KelvaxComManager::recvIntersect: finished calling recvMDDVec!" << std::endl;
  return predicates;
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
  bool ok;
  return receiveSize(sock, &ok);
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

bool KelvaxComManager::sendMDD(void *manager, bdd_t *mdd, Util *util, int sock) {
  switch (sendOne(this, manager, mdd, util, sock, "KelvaxComManager::sendMDD")) {
    case SendResult::kSent:
      return true;
    case SendResult::kTooLarge:
      return false;
    case SendResult::kSizeFailed:
      std::cout << "KelvaxComManager::sendMDD: Failed to send the MDD size!";
      return false;
    case SendResult::kTextFailed:
      std::cout << "KelvaxComManager::sendMDD: Failed to send the MDD!";
      return false;
  }
  return false;
}

bdd_t *KelvaxComManager::recvMDD(void *manager, Util *util, int sock) {
  ReceivedText r = receiveText(sock, "KelvaxComManager::recvMDD");
  if (r.whole) return util->String2MDD(manager, std::move(r.text));
  if (r.size <= 0) std::cout << "KelvaxComManager::recvMDD: MDD size is zero!";
  return bdd_zero((bdd_manager *)manager);
}

bool KelvaxComManager::sendMDDVector(void *manager, std::vector<bdd_t *> mdds, Util *util,
                                     int sock) {
  static const char who[] = "KelvaxComManager::sendMDDVector";
  if (mdds.size() > (size_t)kMaxVectorCount) {
    std::cout << who << ": The vector of " << mdds.size() << " MDDs is above the limit of "
              << kMaxVectorCount << "!" << std::endl;
    return false;
  }
  if (!sendSize((int)mdds.size(), sock)) {
    std::cout << who << ": Failed to send the size of the MDD vector!";
    return false;
  }
  for (bdd_t *mdd : mdds) {
    switch (sendOne(this, manager, mdd, util, sock, who)) {
      case SendResult::kSent:
        break;
      case SendResult::kTooLarge:
        return false;
      case SendResult::kSizeFailed:
        std::cout << who << ": Failed to send the MDD size!";
        return false;
      case SendResult::kTextFailed:
        std::cout << who << ": Failed to send the MDD!";
        return false;
    }
  }
  return true;
}

std::vector<bdd_t *> KelvaxComManager::recvMDDVec(void *manager, Util *util, int sock) {
  bool broken;
  return receiveVector(manager, util, sock, &broken);
}

bool KelvaxComManager::sendIntersect(void *manager, Intersect *conjunction, Util *util,
                                     int sock) {
  return sendMDDVector(manager, conjunction->getVector(), util, sock);
}

bool KelvaxComManager::sendUnion(void *manager, Union *disjunction, Util *util, int sock) {
  return sendMDDVector(manager, disjunction->getVector(), util, sock);
}

// A lost count does not stop the members from being tried (a blocking socket
// that failed once fails again, each failure with its lines), but it makes
// the whole send fail, also for a formula without members.
bool KelvaxComManager::sendDnf(void *manager, Dnf *dnf, Util *util, int sock) {
  int count = dnf->getSize();
  bool sizeSent = sendSize(count, sock);
  std::cout << "KelvaxComManager::sendDnf: Size of DNF formula is " << count << std::endl;
  for (int i = 0; i < count; i++) {
    if (!sendMDDVector(manager, dnf->getIntersect(i)->getVector(), util, sock)) {
      std::cout << "----------------------- Failed to sent the " << i
                << "-th conjunction of this DNF --------------------------" << std::endl;
      return false;
    }
  }
  return sizeSent;
}

// Every disjunction is tried even after one failed; any failure makes the
// result false.
bool KelvaxComManager::sendCnf(void *manager, Cnf *cnf, Util *util, int sock) {
  int count = cnf->getSize();
  bool sent = sendSize(count, sock);
  for (int i = 0; i < count; i++) {
    if (!sendMDDVector(manager, cnf->getUnion(i)->getVector(), util, sock)) sent = false;
  }
  return sent;
}

Intersect *KelvaxComManager::recvIntersect(void *manager, Util *util, int sock) {
  bool broken;
  return makeIntersect(receiveConjunction(manager, util, sock, &broken), manager);
}

Union *KelvaxComManager::recvUnion(void *manager, Util *util, int sock) {
  bool broken;
  return makeUnion(receiveVector(manager, util, sock, &broken), manager);
}

// A member whose message broke off is dropped rather than kept in part: a
// truncated conjunction may be weaker than the one sent (the empty one is
// true), a truncated disjunction stronger.
Dnf *KelvaxComManager::recvDnf(void *manager, Util *util, int sock) {
  Dnf *dnf = new Dnf(manager);
  bool read;
  int count = receiveSize(sock, &read);
  std::cout << "Size of DNF formula to be received is " << count << std::endl;
  if (!countUsable(read, count, "KelvaxComManager::recvDnf")) return dnf;
  for (int i = 0; i < count; i++) {
    bool broken;
    std::vector<bdd_t *> predicates = receiveConjunction(manager, util, sock, &broken);
    if (broken) {
      freeAll(predicates);
      std::cout << "KelvaxComManager::recvDnf: The DNF message broke off after " << i << " of "
                << count << " conjunctions!" << std::endl;
      break;
    }
    dnf->addIntersect(makeIntersect(predicates, manager));
  }
  return dnf;
}

Cnf *KelvaxComManager::recvCnf(void *manager, Util *util, int sock) {
  Cnf *cnf = new Cnf(manager);
  bool read;
  int count = receiveSize(sock, &read);
  if (!countUsable(read, count, "KelvaxComManager::recvCnf")) return cnf;
  for (int i = 0; i < count; i++) {
    bool broken;
    std::vector<bdd_t *> predicates = receiveVector(manager, util, sock, &broken);
    if (broken) {
      freeAll(predicates);
      std::cout << "KelvaxComManager::recvCnf: The CNF message broke off after " << i << " of "
                << count << " disjunctions!" << std::endl;
      break;
    }
    cnf->addUnion(makeUnion(predicates, manager));
  }
  return cnf;
}
