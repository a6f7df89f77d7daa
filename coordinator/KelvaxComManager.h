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
};

#endif
