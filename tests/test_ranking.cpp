// The coordinator's ranking over decision diagrams and over formulas, run
// in-process against fake nodes on socket pairs. The nodes' messages for a
// whole run are written before the run starts (they fit in the socket
// buffers), and what the coordinator sent is read back byte by byte after
// it, so the test needs no second thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "BFormula.h"
#include "Dnf.h"
#include "Intersect.h"
#include "KelvaxBRanking.h"
#include "KelvaxComManager.h"
#include "ProgramStructure.h"
#include "Union.h"
#include "Util.h"
#include "support/fake_node.h"
#include "support/link_sockets.h"
#include "support/program_model.h"

using run_test::countLinesStartingWith;
using run_test::dnfMessage;
using run_test::findLine;
using run_test::mddMessage;
using run_test::mddVectorMessage;
using run_test::Peer;
using run_test::sizeBytes;

namespace {

class RankingTest : public ::testing::Test, protected model_test::TestModel {
 protected:
  void SetUp() override {
    inv = keep(ps.buildSynthesisInvariant(false));
    invPrimed = keep(ps.buildSynthesisInvariant(true));
    ranking.reset(new KelvaxBRanking(mgr, 5000, &link, &ps, &util));
  }
  void TearDown() override {
    for (int fd : coordinatorEnds) close(fd);
    peers.clear();
    ranking->release();
    ranking.reset();
    BFormula::releaseAll();
    util.releaseMinterms();
  }

  bdd_t *andNot(bdd_t *f, bdd_t *g) { return keep(bdd_and(f, g, 1, 0)); }
  // Adds a node: the coordinator's end goes to `addresses`.
  void addNodes(int n) {
    for (int i = 0; i < n; i++) {
      int coordinatorEnd = -1, nodeEnd = -1;
      link_test::boundedSocketPair(&coordinatorEnd, &nodeEnd);
      ASSERT_GE(coordinatorEnd, 0);
      coordinatorEnds.push_back(coordinatorEnd);
      peers.emplace_back(nodeEnd);
    }
  }
  void runRanking(bdd_t *current, bdd_t *currentPrimed) {
    testing::internal::CaptureStdout();
    ranking->rankingCoordinator(current, currentPrimed, inv, invPrimed, mgr, coordinatorEnds,
                                ps.getUnPrimedmVars());
    out = testing::internal::GetCapturedStdout();
  }
  void expectReceived(Peer &peer, const std::string &expected) {
    std::string got = peer.readExact(expected.size());
    EXPECT_EQ(link_test::hex(expected), link_test::hex(got));
    EXPECT_TRUE(link_test::nothingPending(peer.fd(), 20));
  }

  Util util;
  KelvaxComManager link;
  std::unique_ptr<KelvaxBRanking> ranking;
  bdd_t *inv = nullptr;
  bdd_t *invPrimed = nullptr;
  std::vector<int> coordinatorEnds;
  std::vector<Peer> peers;
  std::string out;
};

TEST_F(RankingTest, VectorsFollowAcceptOrderSkippingFalseAndEndWithEmptyVectors) {
  addNodes(3);
  bdd_t *outside = keep(bdd_not(inv));
  bdd_t *f0 = keep(bdd_and(outside, is(1, 0), 1, 1));
  bdd_t *f2 = keep(bdd_and(outside, is(2, 3), 1, 1));
  bdd_t *g1 = keep(bdd_and(outside, is(3, 1), 1, 1));
  // Iteration 0: f0, false, f2. Iteration 1: false, g1, false. Iteration 2:
  // nothing from anybody.
  peers[0].sendMDD(text(f0));
  peers[1].sendMDD(" F ");
  peers[2].sendMDD(text(f2));
  peers[0].sendMDD(" F ");
  peers[1].sendMDD(text(g1));
  peers[2].sendMDD(" F ");
  for (Peer &p : peers) p.sendMDD(" F ");

  runRanking(one(), one());

  std::string expected = mddVectorMessage({text(f0), text(f2)}) +
                         mddVectorMessage({text(primed(f0)), text(primed(f2))}) +
                         mddVectorMessage({text(g1)}) + mddVectorMessage({text(primed(g1))}) +
                         sizeBytes(0) + sizeBytes(0);
  for (Peer &p : peers) expectReceived(p, expected);

  EXPECT_EQ(2, ranking->getCoorRankSize());
  const auto &ranks = ranking->getRankMap();
  const auto &primedRanks = ranking->getPrimedRankMap();
  ASSERT_EQ(4u, ranks.size());
  ASSERT_EQ(4u, primedRanks.size());
  ASSERT_EQ(1, ranks.at(0)->getSize());
  EXPECT_TRUE(bdd_equal(inv, ranks.at(0)->getPredicate(0)));
  EXPECT_TRUE(bdd_equal(invPrimed, primedRanks.at(0)->getPredicate(0)));
  ASSERT_EQ(2, ranks.at(1)->getSize());
  EXPECT_TRUE(bdd_equal(f0, ranks.at(1)->getPredicate(0)));
  EXPECT_TRUE(bdd_equal(f2, ranks.at(1)->getPredicate(1)));
  EXPECT_TRUE(bdd_equal(primed(f2), primedRanks.at(1)->getPredicate(1)));
  ASSERT_EQ(1, ranks.at(2)->getSize());
  EXPECT_EQ(0, ranks.at(3)->getSize());

  EXPECT_EQ(3, countLinesStartingWith(out, "Got a bReach with size "));
  EXPECT_EQ(3, countLinesStartingWith(out, "Got its primed version with size "));
  EXPECT_EQ(3, countLinesStartingWith(out, "RankingCoordinator: current DestPred is non-empty!"));
  EXPECT_EQ(3, countLinesStartingWith(out, "RankingCoordinator: Size of Addresses 3"));
  size_t p0 = findLine(out, "--------------- End of iteration 0-----------------");
  size_t p1 = findLine(out, "isUnionEmpty 0", p0);
  size_t p2 = findLine(out, "--------------- End of iteration 2-----------------", p1);
  size_t p3 = findLine(out, "isUnionEmpty 1", p2);
  EXPECT_NE(std::string::npos, p3) << out;
  EXPECT_EQ(1, countLinesStartingWith(out, "isUnionEmpty 1"));
}

TEST_F(RankingTest, ALaterShorterRunRewritesLowRanksAndKeepsHigherOnes) {
  addNodes(1);
  bdd_t *f = keep(bdd_and(keep(bdd_not(inv)), is(1, 2), 1, 1));
  peers[0].sendMDD(text(f));
  peers[0].sendMDD(" F ");
  runRanking(one(), one());
  EXPECT_EQ(1, ranking->getCoorRankSize());
  ASSERT_EQ(3u, ranking->getRankMap().size());

  // Second run over fewer states: rank 0 changes, rank 1 becomes empty and
  // rank 2 of the first run stays.
  bdd_t *current = is(2, 0);
  peers[0].sendMDD(" F ");
  runRanking(current, primed(current));
  EXPECT_EQ(0, ranking->getCoorRankSize());
  const auto &ranks = ranking->getRankMap();
  ASSERT_EQ(3u, ranks.size());
  EXPECT_TRUE(bdd_equal(keep(bdd_and(current, inv, 1, 1)), ranks.at(0)->getPredicate(0)));
  EXPECT_EQ(0, ranks.at(1)->getSize());
  EXPECT_EQ(0, ranks.at(2)->getSize());
  std::string expected = mddVectorMessage({text(f)}) + mddVectorMessage({text(primed(f))}) +
                         sizeBytes(0) + sizeBytes(0) + sizeBytes(0) + sizeBytes(0);
  expectReceived(peers[0], expected);
}

TEST_F(RankingTest, NoNodesEndsAfterOneIteration) {
  runRanking(one(), one());
  EXPECT_EQ(0, ranking->getCoorRankSize());
  ASSERT_EQ(2u, ranking->getRankMap().size());
  EXPECT_EQ(0, ranking->getRankMap().at(1)->getSize());
  EXPECT_NE(std::string::npos, findLine(out, "isUnionEmpty 1"));
  EXPECT_NE(std::string::npos, findLine(out, "RankingCoordinator: Size of Addresses 0"));
}

TEST_F(RankingTest, ANodeThatIsGoneCountsAsEmptyAndItsSendsFail) {
  addNodes(2);
  bdd_t *f = keep(bdd_and(keep(bdd_not(inv)), is(3, 3), 1, 1));
  peers[1].close();
  peers[0].sendMDD(text(f));
  peers[0].sendMDD(" F ");
  runRanking(one(), one());
  EXPECT_EQ(1, ranking->getCoorRankSize());
  expectReceived(peers[0], mddVectorMessage({text(f)}) + mddVectorMessage({text(primed(f))}) +
                               sizeBytes(0) + sizeBytes(0));
  // Two vectors per iteration, two iterations.
  EXPECT_EQ(4, run_test::countOccurrences(out, "RankingCoordinator: Failed to send an MDD vector!\n"));
}

// ---- Ranking over formulas ---------------------------------------------------------

class FormulaRankingTest : public RankingTest {
 protected:
  // The invariant as a Dnf of one conjunction.
  Dnf *invariantDnf() {
    Intersect *member = new Intersect(mgr);
    member->addPredicate(inv);
    Dnf *d = new Dnf(mgr);
    d->addIntersect(member);
    return d;
  }
  Intersect *conjunction(std::vector<bdd_t *> predicates) {
    return new Intersect(predicates, mgr);
  }
  void runFormulaRanking(BFormula *invariant, Intersect *current) {
    testing::internal::CaptureStdout();
    ranking->rankingCoordinator(invariant, current, mgr, coordinatorEnds);
    out = testing::internal::GetCapturedStdout();
  }
};

TEST_F(FormulaRankingTest, JoinsTheNodesDnfsInOrderAndSendsTheWholeFormula) {
  addNodes(2);
  bdd_t *p = is(1, 1), *q = is(2, 2), *r = is(3, 3);
  // Iteration 1: node 0 sends [[p]], node 1 sends [[q, r], [p]]; iteration 2:
  // node 0 sends a false conjunction, node 1 nothing.
  peers[0].send(dnfMessage({{text(p)}}));
  peers[1].send(dnfMessage({{text(q), text(r)}, {text(p)}}));
  peers[0].send(dnfMessage({{" F "}}));
  peers[1].send(dnfMessage({}));

  runFormulaRanking(invariantDnf(), conjunction({is(1, 0)}));

  EXPECT_EQ(1, ranking->getCoorRankSize());
  std::string expected = dnfMessage({{text(p)}, {text(q), text(r)}, {text(p)}}) +
                         dnfMessage({{" F "}});
  for (Peer &peer : peers) expectReceived(peer, expected);

  ASSERT_TRUE(run_test::linesInOrder(
      out, {"Entered KelvaxBRanking::rankingNode!",
            "Calculated destPred!",
            "Invariant does not evaluate to true!",
            "destPred_p does not evaluate to true!",
            "Invariant does not evaluate to false!",
            "destPred_p does not evaluate to false!",
            "Invariant size is 1",
            "newDestPred size is 1",
            "Inside the fixpoint loop!",
            "KelvaxBRanking::rankingCoordinator: Received Dnf from all nodes!",
            "newDestPred size is 3",
            "KelvaxBRanking::rankingCoordinator: Sent a new destPred to all nodes!",
            "Inside the fixpoint loop!",
            "newDestPred size is 1"}));
  EXPECT_EQ(8, countLinesStartingWith(out, std::string(63, '-')));
  EXPECT_EQ(0, countLinesStartingWith(out, std::string(64, '-')));
  EXPECT_EQ(4, countLinesStartingWith(out, "RankingCoordinator: Send a new destPred to the node "));
  EXPECT_NE(std::string::npos,
            findLine(out, "RankingCoordinator: Send a new destPred to the node " +
                              std::to_string(coordinatorEnds[1])));
  EXPECT_EQ(0, run_test::countOccurrences(out, "RankingCoordinator: Failed to send a Dnf!\n"));
}

TEST_F(FormulaRankingTest, AFalseDestinationPredicateExchangesNothing) {
  addNodes(1);
  runFormulaRanking(invariantDnf(), conjunction({is(1, 2), zero()}));
  EXPECT_EQ(-1, ranking->getCoorRankSize());
  EXPECT_TRUE(link_test::nothingPending(peers[0].fd(), 50));
  EXPECT_NE(std::string::npos, findLine(out, "destPred_p evaluates to false!"));
  EXPECT_NE(std::string::npos, findLine(out, "Invariant does not evaluate to false!"));
  EXPECT_EQ(std::string::npos, findLine(out, "Inside the fixpoint loop!"));
}

TEST_F(FormulaRankingTest, TrueInvariantAndNoNodes) {
  // A true invariant: one conjunction of no predicates. Cleaning drops the
  // true conjunct of the current states, so destPred is true as well.
  Dnf *trueDnf = new Dnf(mgr);
  trueDnf->addIntersect(new Intersect(mgr));
  runFormulaRanking(trueDnf, conjunction({one()}));
  EXPECT_EQ(0, ranking->getCoorRankSize());
  EXPECT_NE(std::string::npos, findLine(out, "Invariant evaluates to true!"));
  EXPECT_NE(std::string::npos, findLine(out, "destPred_p evaluates to true!"));
  EXPECT_EQ(1, countLinesStartingWith(out, "Inside the fixpoint loop!"));
  EXPECT_NE(std::string::npos, findLine(out, "newDestPred size is 0"));
}

TEST_F(FormulaRankingTest, SendFailuresAreReportedAndTheRunGoesOn) {
  addNodes(2);
  peers[1].close();
  peers[0].send(dnfMessage({}));
  runFormulaRanking(invariantDnf(), conjunction({is(1, 0)}));
  EXPECT_EQ(0, ranking->getCoorRankSize());
  expectReceived(peers[0], dnfMessage({}));
  EXPECT_EQ(1, run_test::countOccurrences(out, "RankingCoordinator: Failed to send a Dnf!\n"));
  EXPECT_EQ(2, countLinesStartingWith(out, "RankingCoordinator: Send a new destPred to the node "));
}

}  // namespace
