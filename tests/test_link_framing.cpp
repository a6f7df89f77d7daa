// Size values and character arrays on real sockets: exact bytes, the printed
// lines, peers that drip, close early or have gone away, and interrupted
// system calls.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "KelvaxComManager.h"
#include "support/link_sockets.h"

namespace {

using link_test::bytes;
using link_test::hex;
using link_test::SocketPair;
using link_test::Transport;

class LinkFraming : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    // A closed peer must not end the test process, whatever the runner set.
    signal(SIGPIPE, SIG_DFL);
  }
  KelvaxComManager com;
};

INSTANTIATE_TEST_SUITE_P(Transports, LinkFraming, link_test::allTransports(),
                         link_test::transportTestName);

// ---- Size values ---------------------------------------------------------------

TEST_P(LinkFraming, SizeValuesAreFourLittleEndianBytes) {
  SocketPair s(GetParam());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendSize(4, s.local()));
  EXPECT_TRUE(com.sendSize(0x01020304, s.local()));
  EXPECT_TRUE(com.sendSize(-2, s.local()));
  EXPECT_TRUE(com.sendSize(0, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(hex(link_test::readUpTo(s.peer(), 16)),
            "04 00 00 00 04 03 02 01 fe ff ff ff 00 00 00 00");
}

TEST_P(LinkFraming, RecvSizeDecodesAndPrintsEachValue) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), bytes({0x04, 0, 0, 0, 0x04, 0x03, 0x02, 0x01, 0xff, 0xff, 0xff,
                                       0x7f, 0x00, 0x00, 0x00, 0x80}));
  testing::internal::CaptureStdout();
  EXPECT_EQ(com.recvSize(s.local()), 4);
  EXPECT_EQ(com.recvSize(s.local()), 0x01020304);
  EXPECT_EQ(com.recvSize(s.local()), 2147483647);
  EXPECT_EQ(com.recvSize(s.local()), -2147483647 - 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 4 \n"
            "Received the size value! 16909060 \n"
            "Received the size value! 2147483647 \n"
            "Received the size value! -2147483648 \n");
}

TEST_P(LinkFraming, RecvSizeAssemblesBytesDeliveredOneAtATime) {
  SocketPair s(GetParam());
  std::thread peer(link_test::dripBytes, s.peer(), s.local(), bytes({0x10, 0x27, 0, 0}));
  testing::internal::CaptureStdout();
  int value = com.recvSize(s.local());
  std::string out = testing::internal::GetCapturedStdout();
  peer.join();
  EXPECT_EQ(value, 10000);
  EXPECT_EQ(out, "Received the size value! 10000 \n");
}

TEST_P(LinkFraming, RecvSizeReturnsZeroWhenThePeerClosesMidSize) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), bytes({0xff, 0xff}));
  s.closePeer();
  testing::internal::CaptureStdout();
  EXPECT_EQ(com.recvSize(s.local()), 0);
  // Nothing at all before the close.
  EXPECT_EQ(com.recvSize(s.local()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Unable to receive the size value!\n"
            "Unable to receive the size value!\n");
}

TEST_P(LinkFraming, RecvSizeReturnsZeroWhenTheReadFails) {
  SocketPair s(GetParam());
  int fd = dup(s.local());
  s.closeLocal();
  close(fd);  // a descriptor that is no longer open: read fails
  testing::internal::CaptureStdout();
  EXPECT_EQ(com.recvSize(fd), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to receive the size value!\n");
}

// ---- Character arrays ----------------------------------------------------------

TEST_P(LinkFraming, SendCharArrayWritesEveryByteAndReportsTheCount) {
  SocketPair s(GetParam());
  char text[] = " T ";  // with its NUL: 4 bytes
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendCharArray(text, 4, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Starting to send the MDD to a synthesis node ...\n"
            "Number of written chars 4\n"
            "MDD sent to a synthesis node!\n");
  EXPECT_EQ(hex(link_test::readUpTo(s.peer(), 4)), "20 54 20 00");
}

TEST_P(LinkFraming, RecvCharArrayInOneReadReportsSuccess) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), bytes({0x20, 0x46, 0x20, 0x00}));
  char buffer[4];
  testing::internal::CaptureStdout();
  com.recvCharArray(buffer, 4, s.local());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Number of received chars 4\n"
            "Successfully received from a node!\n");
  EXPECT_EQ(std::string(buffer, 4), bytes({0x20, 0x46, 0x20, 0x00}));
}

TEST_P(LinkFraming, RecvCharArrayCollectsATextDeliveredOneByteAtATime) {
  SocketPair s(GetParam());
  const std::string text = bytes({0x20, 0x54, 0x20, 0x00});
  std::thread peer(link_test::dripBytes, s.peer(), s.local(), text);
  char buffer[4];
  testing::internal::CaptureStdout();
  com.recvCharArray(buffer, 4, s.local());
  std::string out = testing::internal::GetCapturedStdout();
  peer.join();
  EXPECT_EQ(std::string(buffer, 4), text);
  // Completed by later reads: no success line.
  EXPECT_EQ(out,
            "Number of received chars 1\n"
            "Number of received chars 1\n"
            "Number of received chars 1\n"
            "Number of received chars 1\n");
}

TEST_P(LinkFraming, RecvCharArrayStopsAtAPeerClosingMidTextWithinTheBuffer) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), "abc");
  s.closePeer();
  char buffer[12];
  memset(buffer, 'x', sizeof buffer);
  testing::internal::CaptureStdout();
  com.recvCharArray(buffer, 8, s.local());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Number of received chars 3\n"
            "Number of received chars 0\n"
            "Successfully received from a node!\n");
  EXPECT_EQ(std::string(buffer, 12), "abcxxxxxxxxx");
}

TEST_P(LinkFraming, RecvCharArrayReadsNoMoreThanTheLengthAskedFor) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), "abcdefgh");
  char buffer[8];
  memset(buffer, 'x', sizeof buffer);
  testing::internal::CaptureStdout();
  com.recvCharArray(buffer, 5, s.local());
  com.recvCharArray(buffer + 5, 0, s.local());  // nothing asked, nothing read
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string(buffer, 8), "abcdexxx");
  EXPECT_EQ(link_test::readUpTo(s.local(), 3), "fgh");
}

TEST_P(LinkFraming, RecvCharArrayReportsAFailedRead) {
  SocketPair s(GetParam());
  int fd = dup(s.local());
  close(fd);
  char buffer[4];
  testing::internal::CaptureStdout();
  com.recvCharArray(buffer, 4, fd);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Number of received chars -1\n"
            "Unable to receive from a node!\n");
}

// ---- A peer that has gone away ---------------------------------------------------

// Sends to a closed peer until the kernel reports it (at once on a Unix
// socket; on TCP after the peer's reset has come back). The process must
// survive with SIGPIPE at its default action.
TEST_P(LinkFraming, SendsToAClosedPeerFailWithoutEndingTheProcess) {
  SocketPair s(GetParam());
  s.closePeer();
  char text[] = " F ";
  bool charsFailed = false;
  bool sizeFailed = false;
  std::string out;
  for (int attempt = 0; attempt < 2000 && !(charsFailed && sizeFailed); attempt++) {
    testing::internal::CaptureStdout();
    if (!charsFailed) charsFailed = !com.sendCharArray(text, 4, s.local());
    if (!sizeFailed) sizeFailed = !com.sendSize(4, s.local());
    out = testing::internal::GetCapturedStdout();
    if (!(charsFailed && sizeFailed)) usleep(1000);
  }
  EXPECT_TRUE(charsFailed);
  EXPECT_TRUE(sizeFailed);
  if (GetParam() == Transport::kSocketPair) {
    EXPECT_EQ(out,
              "Starting to send the MDD to a synthesis node ...\n"
              "Unable to send to a node!\n"
              "Unable to send the size value to a node!\n");
  }
}

TEST(LinkFramingPipe, WritesToAPipeWithoutReaderFailWithoutEndingTheProcess) {
  signal(SIGPIPE, SIG_DFL);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  KelvaxComManager com;
  char text[] = " T ";
  testing::internal::CaptureStdout();
  EXPECT_FALSE(com.sendSize(4, fds[1]));
  EXPECT_FALSE(com.sendCharArray(text, 4, fds[1]));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Unable to send the size value to a node!\n"
            "Starting to send the MDD to a synthesis node ...\n"
            "Unable to send to a node!\n");
  close(fds[1]);
  // No SIGPIPE was left pending for a later unblock to deliver.
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

// ---- Interrupted system calls ----------------------------------------------------

std::atomic<int> interruptions{0};
void countInterruption(int) { interruptions++; }

// A large array crosses while both ends are hit by signals whose handler
// does not restart system calls: writes come back short or with EINTR,
// reads with EINTR, and both loops must carry on to the last byte.
TEST_P(LinkFraming, LargeArraySurvivesInterruptedReadsAndWrites) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = countInterruption;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART
  struct sigaction old;
  ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);

  SocketPair s(GetParam());
  const int length = 4 << 20;
  std::string data((size_t)length, '\0');
  for (int i = 0; i < length; i++) data[(size_t)i] = (char)(i * 7 + i / 251);
  std::string received((size_t)length, '\0');
  std::atomic<bool> sendDone{false}, recvDone{false};
  bool sent = false;

  const int rounds = 8;
  testing::internal::CaptureStdout();
  std::thread sender([&] {
    sent = true;
    for (int round = 0; round < rounds; round++)
      sent = com.sendCharArray(&data[0], length, s.local()) && sent;
    sendDone = true;
  });
  std::thread receiver([&] {
    KelvaxComManager other;
    // Several receives, each a slice, so the reader keeps blocking.
    for (int round = 0; round < rounds; round++) {
      for (int off = 0; off < length; off += length / 8)
        other.recvCharArray(&received[(size_t)off], length / 8, s.peer());
      if (received != data) {
        shutdown(s.peer(), SHUT_RDWR);  // lets a blocked sender fail rather than hang
        break;
      }
    }
    recvDone = true;
  });
  while (!sendDone || !recvDone) {
    if (!sendDone) pthread_kill(sender.native_handle(), SIGUSR1);
    if (!recvDone) pthread_kill(receiver.native_handle(), SIGUSR1);
    usleep(100);
  }
  sender.join();
  receiver.join();
  std::string out = testing::internal::GetCapturedStdout();
  sigaction(SIGUSR1, &old, nullptr);

  EXPECT_TRUE(sent);
  EXPECT_TRUE(received == data);
  EXPECT_GT(interruptions.load(), 0);
  EXPECT_EQ(out.find("Unable to"), std::string::npos);
}

}  // namespace
