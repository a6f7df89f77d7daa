// Formula messages on real sockets: the layouts of Intersect, Union, Dnf and
// Cnf messages, round trips, a send that breaks off in the middle of a Dnf,
// and receives from a peer that sends bad counts or closes early.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "Cnf.h"
#include "Dnf.h"
#include "Intersect.h"
#include "KelvaxComManager.h"
#include "Union.h"
#include "Util.h"
#include "support/link_model.h"
#include "support/fake_node.h"
#include "support/link_sockets.h"

namespace {

using link_test::hex;
using link_test::kSentConstantLines;
using link_test::SocketPair;
using link_test::Transport;
using run_test::kFalseMessage;
using run_test::kTrueMessage;
using run_test::sizeBytes;

// What recvIntersect prints for a conjunction of the given constants.
std::string receivedConjunctionLines(int count) {
  std::string out = "Received the size value! " + std::to_string(count) +
                    " \nKelvaxComManager::recvMDDVec: Vector size to be received " +
                    std::to_string(count) + "\n";
  for (int i = 0; i < count; i++)
    out +=
        "Received the size value! 4 \nNumber of received chars 4\n"
        "Successfully received from a node!\n";
  return out +
         "KelvaxComManager::recvMDDVec: Done receiving MDDVector ... \n"
         "KelvaxComManager::recvIntersect: finished calling recvMDDVec!\n"
         "KelvaxComManager::recvIntersect: created an Intersect object!\n";
}

class LinkFormula : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override { signal(SIGPIPE, SIG_DFL); }

  Intersect conjunction(std::vector<bdd_t *> predicates) {
    return Intersect(predicates, model.manager());
  }

  link_test::LinkModel model;
  Util util;
  KelvaxComManager com;
};

INSTANTIATE_TEST_SUITE_P(Transports, LinkFormula, link_test::allTransports(),
                         link_test::transportTestName);

// ---- Layouts -------------------------------------------------------------------------

TEST_P(LinkFormula, DnfOfOneAndTwoPredicatesIsCountThenTwoVectors) {
  SocketPair s(GetParam());
  Intersect first = conjunction({model.one()});
  Intersect second = conjunction({model.one(), model.zero()});
  Dnf dnf({&first, &second}, model.manager());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendDnf(model.manager(), &dnf, &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "KelvaxComManager::sendDnf: Size of DNF formula is 2\n" + std::string(kSentConstantLines) +
                kSentConstantLines + kSentConstantLines);
  const std::string wire = sizeBytes(2) + sizeBytes(1) + kTrueMessage + sizeBytes(2) + kTrueMessage + kFalseMessage;
  EXPECT_EQ(hex(link_test::readUpTo(s.peer(), wire.size())), hex(wire));
  EXPECT_TRUE(link_test::nothingPending(s.peer(), 50));
  // The sender's formula is left as it was.
  EXPECT_EQ(dnf.getSize(), 2);
  EXPECT_EQ(second.getSize(), 2);

  link_test::writeAll(s.peer(), wire);
  testing::internal::CaptureStdout();
  Dnf *got = com.recvDnf(model.manager(), &util, s.local());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 2 \nSize of DNF formula to be received is 2\n" +
                receivedConjunctionLines(1) + receivedConjunctionLines(2));
  ASSERT_EQ(got->getSize(), 2);
  ASSERT_EQ(got->getIntersect(0)->getSize(), 1);
  ASSERT_EQ(got->getIntersect(1)->getSize(), 2);
  EXPECT_TRUE(bdd_is_tautology(got->getIntersect(0)->getPredicate(0), 1));
  EXPECT_TRUE(bdd_is_tautology(got->getIntersect(1)->getPredicate(0), 1));
  EXPECT_TRUE(bdd_is_tautology(got->getIntersect(1)->getPredicate(1), 0));
}

TEST_P(LinkFormula, EmptyDnfIsTheSingleSizeValueZero) {
  SocketPair s(GetParam());
  Dnf dnf(model.manager());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendDnf(model.manager(), &dnf, &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "KelvaxComManager::sendDnf: Size of DNF formula is 0\n");
  std::string wire = link_test::readUpTo(s.peer(), 4);
  EXPECT_EQ(hex(wire), "00 00 00 00");
  EXPECT_TRUE(link_test::nothingPending(s.peer(), 50));

  link_test::writeAll(s.peer(), wire);
  testing::internal::CaptureStdout();
  Dnf *got = com.recvDnf(model.manager(), &util, s.local());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 0 \nSize of DNF formula to be received is 0\n");
  EXPECT_EQ(got->getSize(), 0);
  EXPECT_TRUE(got->isFalse());
}

TEST_P(LinkFormula, EmptyConjunctionIsTheSizeValueZeroInsideTheDnf) {
  SocketPair s(GetParam());
  Intersect empty(model.manager());
  Dnf dnf({&empty}, model.manager());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendDnf(model.manager(), &dnf, &util, s.local()));
  testing::internal::GetCapturedStdout();
  std::string wire = link_test::readUpTo(s.peer(), 8);
  EXPECT_EQ(hex(wire), "01 00 00 00 00 00 00 00");

  link_test::writeAll(s.peer(), wire);
  testing::internal::CaptureStdout();
  Dnf *got = com.recvDnf(model.manager(), &util, s.local());
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(got->getSize(), 1);
  EXPECT_EQ(got->getIntersect(0)->getSize(), 0);
  EXPECT_TRUE(got->isTrue());
}

TEST_P(LinkFormula, IntersectUnionAndCnfMessagesShareTheDnfBytes) {
  SocketPair s(GetParam());
  Intersect i = conjunction({model.one(), model.zero()});
  Union u({model.one(), model.zero()}, model.manager());
  Union single({model.one()}, model.manager());
  Cnf cnf({&single, &u}, model.manager());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendIntersect(model.manager(), &i, &util, s.local()));
  EXPECT_TRUE(com.sendUnion(model.manager(), &u, &util, s.local()));
  EXPECT_TRUE(com.sendCnf(model.manager(), &cnf, &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string(kSentConstantLines) + kSentConstantLines + kSentConstantLines + kSentConstantLines + kSentConstantLines +
                kSentConstantLines + kSentConstantLines);
  const std::string vector = sizeBytes(2) + kTrueMessage + kFalseMessage;
  const std::string cnfWire = sizeBytes(2) + sizeBytes(1) + kTrueMessage + vector;
  const std::string wire = vector + vector + cnfWire;
  EXPECT_EQ(hex(link_test::readUpTo(s.peer(), wire.size())), hex(wire));

  // Read back crosswise: the receiver's expectation alone decides the class.
  link_test::writeAll(s.peer(), wire);
  testing::internal::CaptureStdout();
  Union *asUnion = com.recvUnion(model.manager(), &util, s.local());
  Intersect *asIntersect = com.recvIntersect(model.manager(), &util, s.local());
  Cnf *asCnf = com.recvCnf(model.manager(), &util, s.local());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(asUnion->getSize(), 2);
  EXPECT_TRUE(asUnion->isTrue());
  EXPECT_EQ(asIntersect->getSize(), 2);
  EXPECT_TRUE(asIntersect->isFalse());
  ASSERT_EQ(asCnf->getSize(), 2);
  EXPECT_EQ(asCnf->getUnion(0)->getSize(), 1);
  EXPECT_EQ(asCnf->getUnion(1)->getSize(), 2);
  // recvUnion and recvCnf print nothing of their own.
  EXPECT_EQ(out.find("recvUnion"), std::string::npos);
  EXPECT_EQ(out.find("recvCnf"), std::string::npos);
  EXPECT_EQ(out.find("recvIntersect: created an Intersect object!"),
            out.rfind("recvIntersect: created an Intersect object!"));
}

TEST_P(LinkFormula, DiagramsInADnfRoundTripInOrder) {
  SocketPair s(GetParam());
  Intersect a = conjunction({model.mixed(), model.literal(0, 3)});
  Intersect b = conjunction({model.literal(4, 1)});
  Intersect c = conjunction({model.zero(), model.mixed(), model.literal(3, 2)});
  Dnf dnf({&a, &b, &c}, model.manager());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(com.sendDnf(model.manager(), &dnf, &util, s.local()));
  Dnf *got = com.recvDnf(model.manager(), &util, s.peer());
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(got->getSize(), 3);
  for (int i = 0; i < 3; i++) {
    Intersect *sent = dnf.getIntersect(i);
    Intersect *back = got->getIntersect(i);
    ASSERT_EQ(back->getSize(), sent->getSize()) << i;
    for (int j = 0; j < sent->getSize(); j++)
      EXPECT_TRUE(bdd_equal(sent->getPredicate(j), back->getPredicate(j))) << i << "," << j;
  }
}

// ---- Sends that break off ----------------------------------------------------------

// The peer takes the count, the first conjunction and part of the second,
// then closes while the sender is still writing the second, which is far
// larger than the socket buffers.
TEST_P(LinkFormula, SecondOfThreeConjunctionsFailingStopsTheDnf) {
  SocketPair s(GetParam());
  int small = 4096;
  setsockopt(s.local(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  setsockopt(s.peer(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const int large = 20000;
  Intersect first = conjunction({model.one()});
  Intersect second = conjunction(std::vector<bdd_t *>((size_t)large, model.one()));
  Intersect third = conjunction({model.zero()});
  Dnf dnf({&first, &second, &third}, model.manager());

  std::string head, part;
  std::thread peer([&] {
    head = link_test::readUpTo(s.peer(), 4 + 4 + 8);
    part = link_test::readUpTo(s.peer(), 4 + 3 * 8);
    s.closePeer();
  });
  testing::internal::CaptureStdout();
  bool sent = com.sendDnf(model.manager(), &dnf, &util, s.local());
  std::string out = testing::internal::GetCapturedStdout();
  peer.join();

  EXPECT_FALSE(sent);
  EXPECT_EQ(hex(head), hex(sizeBytes(3) + sizeBytes(1) + kTrueMessage));
  EXPECT_EQ(hex(part), hex(sizeBytes(large) + kTrueMessage + kTrueMessage + kTrueMessage));
  const std::string failure =
      "----------------------- Failed to sent the 1-th conjunction of this DNF "
      "--------------------------\n";
  ASSERT_GE(out.size(), failure.size());
  // The failure line is the last thing printed: nothing of the third went out.
  EXPECT_EQ(out.substr(out.size() - failure.size()), failure);
  EXPECT_EQ(out.find("Failed to sent the 0-th"), std::string::npos);
  EXPECT_EQ(out.find("KelvaxComManager::sendDnf: Size of DNF formula is 3\n"), 0u);
}

TEST_P(LinkFormula, SendsToAClosedPeerReportFailure) {
  SocketPair s(GetParam());
  s.closePeer();
  Union u({model.one()}, model.manager());
  Cnf cnf({&u}, model.manager());
  Dnf emptyDnf(model.manager());
  bool cnfFailed = false, dnfFailed = false;
  for (int attempt = 0; attempt < 2000 && !(cnfFailed && dnfFailed); attempt++) {
    testing::internal::CaptureStdout();
    if (!cnfFailed) cnfFailed = !com.sendCnf(model.manager(), &cnf, &util, s.local());
    // With no conjunctions, the lost count is the only failure to report.
    if (!dnfFailed) dnfFailed = !com.sendDnf(model.manager(), &emptyDnf, &util, s.local());
    testing::internal::GetCapturedStdout();
    if (!(cnfFailed && dnfFailed)) usleep(1000);
  }
  EXPECT_TRUE(cnfFailed);
  EXPECT_TRUE(dnfFailed);
}

// On a Unix socket every write to a closed peer fails at once: a lost count
// makes the send fail, the Dnf still tries (and reports) its first
// conjunction, and the Cnf tries every disjunction.
TEST(LinkFormulaClosedPeer, ALostCountFailsTheSendAndTheMembersAreStillTried) {
  signal(SIGPIPE, SIG_DFL);
  link_test::LinkModel model;
  Util util;
  KelvaxComManager com;
  SocketPair s(Transport::kSocketPair);
  s.closePeer();
  const std::string lostSize = "Unable to send the size value to a node!\n";
  const std::string lostVector =
      lostSize + "KelvaxComManager::sendMDDVector: Failed to send the size of the MDD vector!";

  Intersect conjunction({model.one()}, model.manager());
  Dnf dnf({&conjunction, &conjunction}, model.manager());
  testing::internal::CaptureStdout();
  EXPECT_FALSE(com.sendDnf(model.manager(), &dnf, &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            lostSize + "KelvaxComManager::sendDnf: Size of DNF formula is 2\n" + lostVector +
                "----------------------- Failed to sent the 0-th conjunction of this DNF "
                "--------------------------\n");

  Union disjunction({model.zero()}, model.manager());
  Cnf cnf({&disjunction, &disjunction}, model.manager());
  Cnf emptyCnf(model.manager());
  testing::internal::CaptureStdout();
  EXPECT_FALSE(com.sendCnf(model.manager(), &cnf, &util, s.local()));
  EXPECT_FALSE(com.sendCnf(model.manager(), &emptyCnf, &util, s.local()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            lostSize + lostVector + lostVector + lostSize);
}

// ---- Receives from a bad peer ------------------------------------------------------

TEST_P(LinkFormula, DnfBrokenOffByThePeerKeepsTheWholeConjunctions) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), sizeBytes(3) + sizeBytes(1) + kFalseMessage + sizeBytes(2) + kTrueMessage +
                                    sizeBytes(4));
  s.closePeer();
  testing::internal::CaptureStdout();
  Dnf *got = com.recvDnf(model.manager(), &util, s.local());
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(got->getSize(), 1);
  EXPECT_TRUE(got->isFalse());  // the truncated [true, ...] is not kept
  const std::string tail =
      "KelvaxComManager::recvIntersect: finished calling recvMDDVec!\n"
      "KelvaxComManager::recvDnf: The DNF message broke off after 1 of 3 conjunctions!\n";
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST_P(LinkFormula, CnfBrokenOffByThePeerKeepsTheWholeDisjunctions) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), sizeBytes(2) + sizeBytes(1) + kFalseMessage + sizeBytes(2));
  s.closePeer();
  testing::internal::CaptureStdout();
  Cnf *got = com.recvCnf(model.manager(), &util, s.local());
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(got->getSize(), 1);
  EXPECT_TRUE(got->isFalse());
  EXPECT_NE(out.find("KelvaxComManager::recvCnf: The CNF message broke off after 1 of 2 "
                     "disjunctions!\n"),
            std::string::npos);
}

TEST_P(LinkFormula, HostileCountsGiveEmptyFormulas) {
  SocketPair s(GetParam());
  link_test::writeAll(s.peer(), sizeBytes(2147483647) + sizeBytes(-3) + sizeBytes(1 << 24));
  testing::internal::CaptureStdout();
  Dnf *d = com.recvDnf(model.manager(), &util, s.local());
  Dnf *negative = com.recvDnf(model.manager(), &util, s.local());
  Cnf *c = com.recvCnf(model.manager(), &util, s.local());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Received the size value! 2147483647 \n"
            "Size of DNF formula to be received is 2147483647\n"
            "KelvaxComManager::recvDnf: Count 2147483647 is above the limit of 1048576!\n"
            "Received the size value! -3 \n"
            "Size of DNF formula to be received is -3\n"
            "Received the size value! 16777216 \n"
            "KelvaxComManager::recvCnf: Count 16777216 is above the limit of 1048576!\n");
  EXPECT_EQ(d->getSize(), 0);
  EXPECT_EQ(negative->getSize(), 0);
  EXPECT_EQ(c->getSize(), 0);
}

}  // namespace
