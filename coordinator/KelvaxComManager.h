// The coordinator's side of the byte stream shared with each synthesis node.
// Stateless: every operation works on its arguments alone and takes the
// connected socket last. Sizes are 32-bit little-endian values whatever the
// host; a decision diagram travels as its text form plus one NUL byte, after
// a size value giving that length.
//
// Writes never raise SIGPIPE: a peer that has closed makes the send report
// failure. Reads and writes interrupted by a signal are resumed.
#ifndef KELVAX_KELVAXCOMMANAGER_H
#define KELVAX_KELVAXCOMMANAGER_H

#include <vector>

#include "kzuPort/bdd.h"

class Util;
class Intersect;
class Union;
class Dnf;
class Cnf;

class KelvaxComManager {
 public:
  // Largest byte length accepted for one received message; a larger size
  // value is reported and the message is treated as broken, unread.
  static const int kMaxMessageBytes = 1 << 30;
  // Largest element count accepted for a received vector or formula.
  static const int kMaxVectorCount = 1 << 20;

  KelvaxComManager();
  ~KelvaxComManager();

  // Writes the 4 bytes of `value`, completing short writes. False (with a
  // line) when the peer is gone or the write fails.
  bool sendSize(int value, int sock);
  // Reads 4 bytes, continuing short reads, and prints the value received.
  // After a failed read or a peer that closed before all 4 bytes arrived,
  // prints the failure line and returns 0.
  int recvSize(int sock);

  // Writes all `length` bytes of `bytes`, printing each write's count.
  bool sendCharArray(char *bytes, int length, int sock);
  // Reads up to `length` bytes into `buffer`; stops early when the peer
  // closes or a read fails. Never writes past `length` bytes.
  void recvCharArray(char *buffer, int length, int sock);

  // ---- Decision diagrams (`manager` is the mdd manager, untyped) ----------
  // Sends the size L = text length + 1, then the text form and its NUL.
  // False (with a line) when either part could not be written.
  bool sendMDD(void *manager, bdd_t *mdd, Util *util, int sock);
  // Receives one MDD message; a new handle owned by the caller. A
  // non-positive or oversized size, a peer that closes before all L bytes
  // arrived, or a failed read gives the empty set (with a line).
  bdd_t *recvMDD(void *manager, Util *util, int sock);
  // Sends the count, then one MDD message per element in order.
  bool sendMDDVector(void *manager, std::vector<bdd_t *> mdds, Util *util, int sock);
  // Receives an MDD vector message; every handle is new and owned by the
  // caller. An element with a non-positive size is the empty set at its
  // position. When the stream breaks, the element being read is the empty
  // set and the vector ends there; an oversized count gives an empty vector.
  std::vector<bdd_t *> recvMDDVec(void *manager, Util *util, int sock);

  // ---- Formulas ------------------------------------------------------------
  // Senders neither change nor release the formula. A Dnf or Cnf message is
  // the member count, then one MDD vector message per member.
  bool sendIntersect(void *manager, Intersect *conjunction, Util *util, int sock);
  bool sendUnion(void *manager, Union *disjunction, Util *util, int sock);
  // sendDnf stops at the first conjunction that cannot be sent; sendCnf
  // tries every disjunction. False when any part (the count included) could
  // not be written.
  bool sendDnf(void *manager, Dnf *dnf, Util *util, int sock);
  bool sendCnf(void *manager, Cnf *cnf, Util *util, int sock);
  // Receivers return a new heap formula in the BFormula release scheme: the
  // received handles are adopted, so BFormula::releaseAll frees them. After
  // a broken stream a Dnf or Cnf holds the members that arrived whole; a
  // count above kMaxVectorCount gives an empty formula.
  Intersect *recvIntersect(void *manager, Util *util, int sock);
  Union *recvUnion(void *manager, Util *util, int sock);
  Dnf *recvDnf(void *manager, Util *util, int sock);
  Cnf *recvCnf(void *manager, Util *util, int sock);
};

#endif
