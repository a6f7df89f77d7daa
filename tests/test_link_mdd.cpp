// MDD messages and MDD vector messages on real sockets: exact bytes and
// lines, round trips of non-constant diagrams, and peers that send bad sizes,
// close early or have gone away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KelvaxComManager.h"
#include "Util.h"
#include "support/link_model.h"
#include "support/fake_node.h"
#include "support/link_sockets.h"
#include "support/output.h"

namespace {

using link_test::bytes;
using link_test::hex;
using link_test::kSentConstantLines;
using link_test::SocketPair;
using link_test::Transport;
using run_test::kFalseMessage;
using run_test::kTrueMessage;
using run_test::sizeBytes;

const char kReceivedConstantLines[] =
    "Received the size value! 4 \n"
    "Number of received chars 4\n"
    "Successfully received from a node!\n";

class LinkMdd : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override { signal(SIGPIPE, SIG_DFL); }

  // Reads one MDD message from the peer end: size value and body.
  std::string readMessage(int fd) {
    std::string size = link_test::readUpTo(fd, 4);
    EXPECT_EQ(size.size(), 4u);
    int length = (int)((unsigned char)size[0] | (unsigned char)size[1] << 8 |
                       (unsigned char)size[2] << 16 | (unsigned)(unsigned char)size[3] << 24);
    return size + link_test::readUpTo(fd, (size_t)length);
  }

  link_test::LinkModel model;
  Util util;
  KelvaxComManager com;
};

INSTANTIATE_TEST_SUITE_P(Transports, LinkMdd, link_test::allTransports(),
                         link_test::transportTestName);

// ---- Single decision diagrams ----------------------------------------------------

TEST_P(LinkMdd, ConstantsAreEightByteMessagesBothWays) {
  SocketPair s(GetParam());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendMDD(model.manager(), model.one(), &util, s.local()));
  EXPECT_TRUE(com.sendMDD(model.manager(), model.zero(), &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(kSentConstantLines) + kSentConstantLines);
  EXPECT_EQ(hex(link_test::readUpTo(s.peer(), 16)), hex(kTrueMessage + kFalseMessage));

  link_test::writeAll(s.peer(), kTrueMessage + kFalseMessage);
  testing::internal::CaptureStdout();
  bdd_t *t = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  bdd_t *f = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string(kReceivedConstantLines) + kReceivedConstantLines);
  EXPECT_TRUE(bdd_is_tautology(t, 1));
  EXPECT_TRUE(bdd_is_tautology(f, 0));
}

TEST_P(LinkMdd, DiagramDeliveredOneByteAtATimeIsRebuilt) {
  SocketPair s(GetParam());
  bdd_t *f = model.mixed();
  std::string text;
  Util::MDD2String(model.manager(), f, &text);

  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendMDD(model.manager(), f, &util, s.local()));
  testing::internal::GetCapturedStdout();
  std::string message = readMessage(s.peer());
  // Size value L = text + NUL, then the text and exactly one NUL at its end.
  EXPECT_EQ(message.substr(0, 4), sizeBytes((int)text.size() + 1));
  EXPECT_EQ(message.substr(4), text + std::string(1, '\0'));

  std::thread peer(link_test::dripBytes, s.peer(), s.local(), message);
  testing::internal::CaptureStdout();
  bdd_t *g = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  std::string out = testing::internal::GetCapturedStdout();
  peer.join();
  EXPECT_TRUE(bdd_equal(f, g));
  std::string expected = "Received the size value! " + std::to_string(text.size() + 1) + " \n";
  for (size_t i = 0; i <= text.size(); i++) expected += "Number of received chars 1\n";
  expected += "Finished calcualting the MDD from the given string!\n";
  EXPECT_EQ(out, expected);
}

TEST_P(LinkMdd, NonPositiveSizesGiveTheEmptySetAndKeepTheStreamInStep) {
  SocketPair s(GetParam());
  // A text without NUL is taken whole, and nothing past its length is read.
  link_test::writeAll(s.peer(), sizeBytes(0) + sizeBytes(-1) + sizeBytes(3) + " T " +
                                    kTrueMessage);
  testing::internal::CaptureStdout();
  bdd_t *a = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  bdd_t *b = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  bdd_t *c = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  bdd_t *d = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 0 \n"
            "KelvaxComManager::recvMDD: MDD size is zero!"
            "Received the size value! -1 \n"
            "KelvaxComManager::recvMDD: MDD size is zero!"
            "Received the size value! 3 \n"
            "Number of received chars 3\n"
            "Successfully received from a node!\n" +
                std::string(kReceivedConstantLines));
  EXPECT_TRUE(bdd_is_tautology(a, 0));
  EXPECT_TRUE(bdd_is_tautology(b, 0));
  EXPECT_TRUE(bdd_is_tautology(c, 1));
  EXPECT_TRUE(bdd_is_tautology(d, 1));
}

TEST_P(LinkMdd, PeerClosingMidSizeGivesTheEmptySet) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), bytes({0x04, 0x00}));
  s.closePeer();
  testing::internal::CaptureStdout();
  bdd_t *f = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Unable to receive the size value!\n"
            "KelvaxComManager::recvMDD: MDD size is zero!");
  EXPECT_TRUE(bdd_is_tautology(f, 0));
}

// " T" would read as true if the cut-short buffer were converted.
TEST_P(LinkMdd, PeerClosingMidTextIsReportedNotConverted) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), sizeBytes(4) + " T");
  s.closePeer();
  testing::internal::CaptureStdout();
  bdd_t *f = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 4 \n"
            "Number of received chars 2\n"
            "Number of received chars 0\n"
            "Successfully received from a node!\n"
            "KelvaxComManager::recvMDD: The MDD message was cut short after 2 of 4 bytes!\n");
  EXPECT_TRUE(bdd_is_tautology(f, 0));
}

TEST_P(LinkMdd, OversizedLengthsAreRefusedWithoutReadingTheBody) {
  SocketPair s(GetParam());
  const int over = KelvaxComManager::kMaxMessageBytes + 1;
  link_test::writeAll(s.peer(), sizeBytes(over) + "abcd" + sizeBytes(2147483647) + "efgh");
  testing::internal::CaptureStdout();
  bdd_t *f = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  std::string first = link_test::readUpTo(s.local(), 4);
  bdd_t *g = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 1073741825 \n"
            "KelvaxComManager::recvMDD: MDD size 1073741825 is above the limit of 1073741824 "
            "bytes!\n"
            "Received the size value! 2147483647 \n"
            "KelvaxComManager::recvMDD: MDD size 2147483647 is above the limit of 1073741824 "
            "bytes!\n");
  EXPECT_EQ(first, "abcd");
  EXPECT_EQ(link_test::readUpTo(s.local(), 4), "efgh");
  EXPECT_TRUE(bdd_is_tautology(f, 0));
  EXPECT_TRUE(bdd_is_tautology(g, 0));
}

// A peer that announces the largest size and sends two bytes costs the
// receiver no more memory than what arrived: the peak resident set (reset
// first) stays near where it was.
TEST_P(LinkMdd, LargeSizeWithoutItsBytesCostsOnlyWhatArrives) {
  auto statusKiB = [](const char *key) {
    FILE *status = fopen("/proc/self/status", "r");
    long kib = -1;
    char line[256];
    while (status != nullptr && fgets(line, sizeof line, status) != nullptr)
      if (strncmp(line, key, strlen(key)) == 0) kib = atol(line + strlen(key));
    if (status != nullptr) fclose(status);
    return kib;
  };
  FILE *clear = fopen("/proc/self/clear_refs", "w");
  if (clear == nullptr || fputs("5", clear) < 0) GTEST_SKIP() << "no peak reset here";
  fclose(clear);
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), sizeBytes(KelvaxComManager::kMaxMessageBytes) + " T");
  s.closePeer();
  long before = statusKiB("VmRSS:");
  testing::internal::CaptureStdout();
  bdd_t *f = model.keep(com.recvMDD(model.manager(), &util, s.local()));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_LT(statusKiB("VmHWM:") - before, 64L << 10);
  EXPECT_NE(out.find("The MDD message was cut short after 2 of 1073741824 bytes!"), std::string::npos) << out;
  EXPECT_TRUE(bdd_is_tautology(f, 0));
}

// A size within the limit that the system cannot give: reported, the empty
// set, and nothing read of the body (the process's address space is capped
// a little above what it uses, in a child).
TEST_P(LinkMdd, SizeTheSystemCannotGiveIsReported) {
  if (KZ_UNDER_ASAN) GTEST_SKIP() << "address-space limit conflicts with the sanitizer";
  auto receiveCapped = [&] {
    SocketPair s(GetParam());
    link_test::writeAll(s.peer(), sizeBytes(KelvaxComManager::kMaxMessageBytes) + "abcd");
    long pages = 0;
    FILE *statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) _exit(2);
    fclose(statm);
    struct rlimit lim;
    getrlimit(RLIMIT_AS, &lim);
    lim.rlim_cur = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + ((rlim_t)256 << 20);
    setrlimit(RLIMIT_AS, &lim);
    testing::internal::CaptureStdout();
    bdd_t *f = com.recvMDD(model.manager(), &util, s.local());
    std::string out = testing::internal::GetCapturedStdout();
    bool empty = bdd_is_tautology(f, 0);
    bdd_free(f);
    fprintf(stderr, "%s%s %s", out.c_str(), empty ? "empty" : "not empty", link_test::readUpTo(s.local(), 4).c_str());
    _exit(0);
  };
  EXPECT_EXIT(receiveCapped(), testing::ExitedWithCode(0),
              "^Received the size value! 1073741824 \n"
              "KelvaxComManager::recvMDD: Unable to allocate 1073741824 bytes for the MDD!\n"
              "empty abcd$");
}

// ---- Vectors -----------------------------------------------------------------------

TEST_P(LinkMdd, VectorOfTrueAndFalseIsTheTwentyBytesOfTheExample) {
  SocketPair s(GetParam());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendMDDVector(model.manager(), {model.one(), model.zero()}, &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(kSentConstantLines) + kSentConstantLines);
  std::string wire = link_test::readUpTo(s.peer(), 20);
  EXPECT_EQ(hex(wire),
            "02 00 00 00 04 00 00 00 20 54 20 00 04 00 00 00 20 46 20 00");

  link_test::writeAll(s.peer(), wire);
  testing::internal::CaptureStdout();
  std::vector<bdd_t *> v = com.recvMDDVec(model.manager(), &util, s.local());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 2 \n"
            "KelvaxComManager::recvMDDVec: Vector size to be received 2\n" +
                std::string(kReceivedConstantLines) + kReceivedConstantLines +
                "KelvaxComManager::recvMDDVec: Done receiving MDDVector ... \n");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_TRUE(bdd_is_tautology(model.keep(v[0]), 1));
  EXPECT_TRUE(bdd_is_tautology(model.keep(v[1]), 0));
}

TEST_P(LinkMdd, EmptyVectorIsFourZeroBytes) {
  SocketPair s(GetParam());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendMDDVector(model.manager(), {}, &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  std::string wire = link_test::readUpTo(s.peer(), 4);
  EXPECT_EQ(hex(wire), "00 00 00 00");

  link_test::writeAll(s.peer(), wire);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.recvMDDVec(model.manager(), &util, s.local()).empty());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 0 \n"
            "KelvaxComManager::recvMDDVec: Vector size to be received 0\n"
            "KelvaxComManager::recvMDDVec: Done receiving MDDVector ... \n");
}

TEST_P(LinkMdd, VectorOfDiagramsRoundTripsInOrder) {
  SocketPair s(GetParam());
  std::vector<bdd_t *> sent = {model.mixed(), model.literal(2, 3), model.one(),
                               model.literal(5, 0), model.mixed()};
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendMDDVector(model.manager(), sent, &util, s.local()));
  std::vector<bdd_t *> got = com.recvMDDVec(model.manager(), &util, s.peer());
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); i++) EXPECT_TRUE(bdd_equal(sent[i], model.keep(got[i])));
}

TEST_P(LinkMdd, VectorElementWithNonPositiveSizeIsTheEmptySetInPlace) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), sizeBytes(4) + kTrueMessage + sizeBytes(0) + sizeBytes(-7) +
                                    kTrueMessage);
  testing::internal::CaptureStdout();
  std::vector<bdd_t *> v = com.recvMDDVec(model.manager(), &util, s.local());
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(v.size(), 4u);
  const int expected[] = {1, 0, 0, 1};
  for (int i = 0; i < 4; i++) EXPECT_TRUE(bdd_is_tautology(model.keep(v[i]), expected[i])) << i;
  EXPECT_NE(out.find("KelvaxComManager::recvMDDVec: MDD size of element 1 is not positive; "
                     "using the empty set!\n"),
            std::string::npos);
  EXPECT_NE(out.find("element 2 is not positive"), std::string::npos);
  EXPECT_NE(out.find("Done receiving MDDVector"), std::string::npos);
}

TEST_P(LinkMdd, VectorCutShortByThePeerEndsAtTheBrokenElement) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), sizeBytes(3) + kTrueMessage + sizeBytes(4) + " T");
  s.closePeer();
  testing::internal::CaptureStdout();
  std::vector<bdd_t *> v = com.recvMDDVec(model.manager(), &util, s.local());
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(v.size(), 2u);
  EXPECT_TRUE(bdd_is_tautology(model.keep(v[0]), 1));
  EXPECT_TRUE(bdd_is_tautology(model.keep(v[1]), 0));
  EXPECT_NE(out.find("KelvaxComManager::recvMDDVec: The MDD message was cut short after 2 of 4 "
                     "bytes!\n"
                     "KelvaxComManager::recvMDDVec: The MDD vector broke off after 2 of 3 MDDs!\n"),
            std::string::npos);
  EXPECT_EQ(out.find("Done receiving"), std::string::npos);
}

TEST_P(LinkMdd, HostileAndBrokenCountsGiveAnEmptyVector) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), sizeBytes(2147483647) + sizeBytes(-5) +
                                    sizeBytes(KelvaxComManager::kMaxVectorCount + 1) +
                                    bytes({0x01}));
  s.closePeer();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.recvMDDVec(model.manager(), &util, s.local()).empty());
  EXPECT_TRUE(com.recvMDDVec(model.manager(), &util, s.local()).empty());
  EXPECT_TRUE(com.recvMDDVec(model.manager(), &util, s.local()).empty());
  EXPECT_TRUE(com.recvMDDVec(model.manager(), &util, s.local()).empty());  // closed mid-count
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 2147483647 \n"
            "KelvaxComManager::recvMDDVec: Vector size to be received 2147483647\n"
            "KelvaxComManager::recvMDDVec: Count 2147483647 is above the limit of 1048576!\n"
            "Received the size value! -5 \n"
            "KelvaxComManager::recvMDDVec: Vector size to be received -5\n"
            "KelvaxComManager::recvMDDVec: Done receiving MDDVector ... \n"
            "Received the size value! 1048577 \n"
            "KelvaxComManager::recvMDDVec: Vector size to be received 1048577\n"
            "KelvaxComManager::recvMDDVec: Count 1048577 is above the limit of 1048576!\n"
            "Unable to receive the size value!\n"
            "KelvaxComManager::recvMDDVec: Vector size to be received 0\n");
}

// ---- A peer that has gone away ---------------------------------------------------

TEST_P(LinkMdd, SendsToAClosedPeerReportFailure) {
  SocketPair s(GetParam());
  s.closePeer();
  bool mddFailed = false, vectorFailed = false;
  std::string out;
  for (int attempt = 0; attempt < 2000 && !(mddFailed && vectorFailed); attempt++) {
    testing::internal::CaptureStdout();
    if (!mddFailed) mddFailed = !com.sendMDD(model.manager(), model.one(), &util, s.local());
    if (!vectorFailed)
      vectorFailed = !com.sendMDDVector(model.manager(), {model.zero()}, &util, s.local());
    out = testing::internal::GetCapturedStdout();
    if (!(mddFailed && vectorFailed)) usleep(1000);
  }
  EXPECT_TRUE(mddFailed);
  EXPECT_TRUE(vectorFailed);
  if (GetParam() == Transport::kSocketPair) {
    EXPECT_EQ(out,
              "Unable to send the size value to a node!\n"
              "KelvaxComManager::sendMDD: Failed to send the MDD size!"
              "Unable to send the size value to a node!\n"
              "KelvaxComManager::sendMDDVector: Failed to send the size of the MDD vector!");
  }
}

}  // namespace
