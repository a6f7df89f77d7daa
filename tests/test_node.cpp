// The synthesis node: its ranking and guards checked against explicit
// enumeration of the 64 states, its conversation against a scripted
// coordinator on a socket pair, its connection retry, and the morlet
// command line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "KelvaxComManager.h"
#include "NodeSession.h"
#include "ProgramStructure.h"
#include "SynthesisNode.h"
#include "Util.h"
#include "run_logs.h"
#include "support/fake_node.h"
#include "support/link_sockets.h"
#include "support/program_model.h"

using run_test::Child;
using run_test::findLine;
using run_test::mddMessage;
using run_test::mddVectorMessage;
using run_test::Peer;
using run_test::sizeBytes;

namespace {

using model_test::allStates;
using model_test::decode;
using model_test::encode;
using model_test::inInvariant;
using model_test::State;
using model_test::StateSet;

// The node's guard and program computed state by state from the same rule.
struct Oracle {
  int process, action;
  bool enabled(int s) const { return decode(s)[process - 1] != action; }
  int apply(int s) const {
    State v = decode(s);
    v[process - 1] = action;
    return encode(v);
  }
  // What process j reads of s.
  std::vector<int> view(int s) const {
    State v = decode(s);
    std::vector<int> seen;
    for (int i = process - 1; i <= process + 1; i++)
      if (i >= 1 && i <= 3) seen.push_back(v[i - 1]);
    return seen;
  }
  // ranks[k]: the states of rank k.
  void guard(const StateSet &current, const std::vector<StateSet> &ranks, StateSet *sent,
             StateSet *program) const {
    auto rankOf = [&](int s) {
      for (size_t k = 0; k < ranks.size(); k++)
        if (ranks[k].count(s)) return (int)k;
      return -1;
    };
    StateSet down, bad;
    for (int s : current) {
      if (!enabled(s)) continue;
      int r = rankOf(s), t = rankOf(apply(s));
      bool ok = (r >= 1 && t == r - 1) || (r == 0 && t == 0);
      if (r >= 1 && t == r - 1) down.insert(s);
      if (!ok) bad.insert(s);
    }
    std::set<std::vector<int>> downViews, badViews;
    for (int s : down) downViews.insert(view(s));
    for (int s : bad) badViews.insert(view(s));
    sent->clear();
    program->clear();
    for (int s = 0; s < 64; s++) {
      bool good = downViews.count(view(s)) && !badViews.count(view(s));
      if (good) program->insert(s);
      if ((good && current.count(s)) || (current.count(s) && ranks[0].count(s))) sent->insert(s);
    }
  }
};

class NodeTest : public ::testing::Test, protected model_test::TestModel {
 protected:
  void SetUp() override {
    ::testing::internal::CaptureStdout();
    ps.makeInvariant();
    ::testing::internal::GetCapturedStdout();
  }
  void TearDown() override {
    nodes.clear();
    util.releaseMinterms();
  }
  SynthesisNode *node(int process, int action) {
    nodes.emplace_back(new SynthesisNode(&ps, process, action));
    return nodes.back().get();
  }
  // Runs a ranking on n with the given ranks 1.. (rank 0 is implied).
  void rankWith(SynthesisNode *n, const StateSet &current, const std::vector<StateSet> &ranks) {
    bdd_t *c = states(current);
    n->startRanking(c, primed(c));
    for (const StateSet &r : ranks) {
      bdd_t *f = states(r);
      ASSERT_TRUE(n->addRank({f}, {primed(f)}));
    }
    EXPECT_FALSE(n->addRank({}, {}));
  }

  // The states in which one of n's compact commands is enabled; every line
  // must be a command of n's action that the checker reads.
  StateSet compactStates(SynthesisNode *n) {
    StateSet enabled;
    for (const std::string &line : n->compactLines()) {
      runlog::Command c;
      std::string error;
      EXPECT_TRUE(runlog::parseCommand(line, &c, &error)) << line << ": " << error;
      EXPECT_EQ(n->getProcess(), c.process) << line;
      EXPECT_EQ(n->getAction(), c.value) << line;
      for (int s = 0; s < 64; s++)
        if (c.enabled(runlog::decode(s))) enabled.insert(s);
    }
    return enabled;
  }

  Util util;
  std::vector<std::unique_ptr<SynthesisNode>> nodes;
};

TEST_F(NodeTest, FirstBReachIsTheStatesOutsideTheInvariantOneStepAway) {
  for (int j = 1; j <= 3; j++) {
    for (int a = 0; a < 4; a++) {
      SynthesisNode *n = node(j, a);
      bdd_t *all = keep(bdd_one(mgr));
      n->startRanking(all, all);
      Oracle o{j, a};
      StateSet expected;
      for (int s = 0; s < 64; s++)
        if (!inInvariant(s) && o.enabled(s) && inInvariant(o.apply(s))) expected.insert(s);
      bdd_t *reach = keep(n->nextBReach());
      EXPECT_EQ(expected, statesOf(reach)) << "process " << j << " action " << a;
      EXPECT_FALSE(expected.empty());
    }
  }
}

TEST_F(NodeTest, BReachLeavesOutRankedAndNonCurrentStates) {
  SynthesisNode *n = node(2, 1);
  StateSet current;
  for (int s = 0; s < 64; s++)
    if (decode(s)[2] != 3) current.insert(s);  // x3 = 3 is gone
  bdd_t *c = states(current);
  n->startRanking(c, primed(c));
  StateSet reach = statesOf(keep(n->nextBReach()));
  Oracle o{2, 1};
  for (int s : reach) {
    EXPECT_TRUE(current.count(s));
    EXPECT_FALSE(inInvariant(s));
    EXPECT_TRUE(inInvariant(o.apply(s)) && current.count(o.apply(s)));
  }
  bdd_t *r = keep(n->nextBReach());
  ASSERT_TRUE(n->addRank({r}, {primed(r)}));
  // Everything this node can reach is ranked now.
  StateSet again = statesOf(keep(n->nextBReach()));
  for (int s : again) EXPECT_FALSE(reach.count(s));
}

TEST_F(NodeTest, GuardsMatchTheGroupRuleWithAFullRanking) {
  StateSet outside;
  for (int s = 0; s < 64; s++)
    if (!inInvariant(s)) outside.insert(s);
  StateSet rank0;
  for (int s = 0; s < 64; s++)
    if (inInvariant(s)) rank0.insert(s);
  size_t compact = 0;
  for (int j = 1; j <= 3; j++) {
    for (int a = 0; a < 4; a++) {
      SynthesisNode *n = node(j, a);
      rankWith(n, allStates(), {outside});
      StateSet sent, program;
      Oracle{j, a}.guard(allStates(), {rank0, outside}, &sent, &program);
      bdd_t *guard = keep(n->computeGuard());
      EXPECT_EQ(sent, statesOf(guard)) << "process " << j << " action " << a;
      EXPECT_TRUE(bdd_is_tautology(n->getProgramGuard(), 0));  // not accepted yet
      EXPECT_TRUE(n->compactLines().empty());
      n->acceptGuard();
      EXPECT_EQ(program, statesOf(n->getProgramGuard())) << "process " << j << " action " << a;
      EXPECT_EQ(program, compactStates(n)) << "process " << j << " action " << a;
      EXPECT_LE(n->compactLines().size(), n->programLines(&util).size());
      compact += n->compactLines().size();
    }
  }
  // x1 := a and x3 := a one command each, x2 := a two per value of x2.
  EXPECT_EQ(32u, compact);
}

TEST_F(NodeTest, AGroupWithAnUnrankedMemberIsLeftOut) {
  // The states outside the invariant with x3 = 1 get no rank.
  StateSet rank0, rank1;
  for (int s = 0; s < 64; s++) {
    if (inInvariant(s))
      rank0.insert(s);
    else if (decode(s)[2] != 1)
      rank1.insert(s);
  }
  for (int j = 1; j <= 3; j++) {
    for (int a = 0; a < 4; a++) {
      SynthesisNode *n = node(j, a);
      rankWith(n, allStates(), {rank1});
      StateSet sent, program;
      Oracle{j, a}.guard(allStates(), {rank0, rank1}, &sent, &program);
      bdd_t *guard = keep(n->computeGuard());
      n->acceptGuard();
      EXPECT_EQ(sent, statesOf(guard)) << "process " << j << " action " << a;
      EXPECT_EQ(program, statesOf(n->getProgramGuard())) << "process " << j << " action " << a;
      EXPECT_EQ(program, compactStates(n)) << "process " << j << " action " << a;
      // For a != 1 every group of x1 holds an unranked state (x3 = 1); for
      // a = 1 those states lie in the invariant and stay there.
      if (j == 1) {
        EXPECT_EQ(a != 1, program.empty()) << "action " << a;
      }
    }
  }
}

TEST_F(NodeTest, ProgramLinesUseTheMintermTextsOfWhatTheProcessReads) {
  StateSet outside;
  for (int s = 0; s < 64; s++)
    if (!inInvariant(s)) outside.insert(s);
  SynthesisNode *n1 = node(1, 1);
  rankWith(n1, allStates(), {outside});
  keep(n1->computeGuard());
  EXPECT_TRUE(n1->programLines(&util).empty());
  n1->acceptGuard();
  std::vector<std::string> expected = {"x1 = 0 x2 = 1 -> x1 := 1", "x1 = 2 x2 = 1 -> x1 := 1",
                                       "x1 = 3 x2 = 1 -> x1 := 1"};
  EXPECT_EQ(expected, n1->programLines(&util));
  EXPECT_EQ(std::vector<std::string>{"x1 != 1 & x2 = 1 -> x1 := 1"}, n1->compactLines());

  SynthesisNode *n2 = node(2, 0);
  rankWith(n2, allStates(), {outside});
  keep(n2->computeGuard());
  n2->acceptGuard();
  std::vector<std::string> lines = n2->programLines(&util);
  ASSERT_FALSE(lines.empty());
  for (const std::string &l : lines) {
    EXPECT_EQ(0u, l.find("x1 = ")) << l;
    EXPECT_NE(std::string::npos, l.find(" x3 = ")) << l;
    EXPECT_EQ(l.size() - 10, l.find("-> x2 := 0")) << l;
  }
  EXPECT_EQ(64u, n2->currentStateTexts(&util).size());
  EXPECT_EQ("x1 = 0 x2 = 0 x3 = 0 ", n2->currentStateTexts(&util)[0]);
}

// ---- The conversation --------------------------------------------------------------

// A clock that moves on by 1 ms at every read.
long clockReads = 0;
int tickingClock(struct timeval *tv) {
  clockReads++;
  tv->tv_sec = 100 + clockReads / 1000;
  tv->tv_usec = (clockReads % 1000) * 1000;
  return 0;
}

class SessionTest : public NodeTest {
 protected:
  void SetUp() override {
    savedClock = Util::clockSource;
    Util::clockSource = tickingClock;
    clockReads = 0;
    NodeTest::SetUp();
    int coordinatorEnd = -1;
    link_test::boundedSocketPair(&nodeEnd, &coordinatorEnd);
    ASSERT_GE(nodeEnd, 0);
    coordinator.reset(new Peer(coordinatorEnd));
    for (int s = 0; s < 64; s++)
      if (!inInvariant(s)) outside.insert(s);
  }
  void TearDown() override {
    close(nodeEnd);
    coordinator.reset();
    NodeTest::TearDown();
    Util::clockSource = savedClock;
  }
  // Runs the session over everything written so far, then end of stream.
  int runSession(SynthesisNode *n) {
    coordinator->shutdownWrite();
    NodeSession session(n, &util, &link);
    testing::internal::CaptureStdout();
    int status = session.run(nodeEnd);
    session.printTimes();
    out = testing::internal::GetCapturedStdout();
    iterations = session.getAddCoorIterations();
    return status;
  }
  std::string rankVectors(const StateSet &rank) {
    bdd_t *f = states(rank);
    return mddVectorMessage({text(f)}) + mddVectorMessage({text(primed(f))});
  }
  bool receivedIs(const std::string &text, const StateSet &expected) {
    return statesOf(keep(Util::String2MDD(mgr, text))) == expected;
  }

  int (*savedClock)(struct timeval *) = nullptr;
  int nodeEnd = -1;
  std::unique_ptr<Peer> coordinator;
  KelvaxComManager link;
  StateSet outside;
  std::string out;
  int iterations = 0;
};

TEST_F(SessionTest, FollowsTheContractAndPrintsTheProgramAtTheNormalEnd) {
  SynthesisNode *n = node(3, 2);
  // Initial states, ranking (one rank, then the end), AddCoor with no stuck
  // state, and the ranking after it.
  coordinator->sendMDD(" T ");
  coordinator->send(rankVectors(outside) + sizeBytes(0) + sizeBytes(0));
  coordinator->send(mddMessage(" T ") + mddMessage(" T ") + mddMessage(" F ") + mddMessage(" F "));
  coordinator->send(rankVectors(outside) + sizeBytes(0) + sizeBytes(0));
  EXPECT_EQ(0, runSession(n));
  EXPECT_EQ(1, iterations);

  Oracle o{3, 2};
  StateSet firstReach, sent, program;
  for (int s : outside)
    if (o.enabled(s) && inInvariant(o.apply(s))) firstReach.insert(s);
  StateSet rank0;
  for (int s = 0; s < 64; s++)
    if (inInvariant(s)) rank0.insert(s);
  o.guard(allStates(), {rank0, outside}, &sent, &program);

  EXPECT_EQ(" T ", coordinator->readMDD());  // greeting
  for (int run = 0; run < 2; run++) {
    EXPECT_TRUE(receivedIs(coordinator->readMDD(), firstReach));
    EXPECT_EQ(" F ", coordinator->readMDD());  // nothing left to rank
    EXPECT_TRUE(receivedIs(coordinator->readMDD(), sent));  // guard
  }
  EXPECT_TRUE(link_test::nothingPending(coordinator->fd(), 20));

  EXPECT_NE(std::string::npos, findLine(out, "morlet: the coordinator ended the synthesis"));
  EXPECT_NE(std::string::npos,
            findLine(out, "Synthesized action of process 3 (x3 := 2), 3 guarded commands:"));
  EXPECT_NE(std::string::npos, findLine(out, "x2 = 2 x3 = 0 -> x3 := 2"));
  EXPECT_NE(std::string::npos, findLine(out, "Compact form: 1 guarded command"));
  EXPECT_NE(std::string::npos, findLine(out, "compact: x2 = 2 & x3 != 2 -> x3 := 2"));
  EXPECT_NE(std::string::npos, findLine(out, "Remaining states: 64"));
  EXPECT_EQ(64, run_test::countLinesStartingWith(out, "remaining: "));
  EXPECT_NE(std::string::npos, findLine(out, "Ranks of the last ranking run: 2"));
  EXPECT_EQ(28, run_test::countLinesStartingWith(out, "rank 0: "));
  EXPECT_EQ(36, run_test::countLinesStartingWith(out, "rank 1: "));
  EXPECT_NE(std::string::npos, findLine(out, "rank 1: x1 = 0 x2 = 1 x3 = 2 "));

  // Every interval goes to one of the two timers, once: with 1 ms per clock
  // read the totals add up to half the reads.
  double synthesis = 0, communication = 0;
  size_t at = out.find("morlet: synthesis time ");
  ASSERT_NE(std::string::npos, at);
  ASSERT_EQ(2, std::sscanf(out.c_str() + at, "morlet: synthesis time %lf ms, communication time %lf ms",
                           &synthesis, &communication));
  EXPECT_GT(synthesis, 0);
  EXPECT_GT(communication, 0);
  EXPECT_EQ(0, clockReads % 2);
  EXPECT_DOUBLE_EQ(clockReads / 2.0, synthesis + communication);
}

TEST_F(SessionTest, ACloseDuringTheRankingIsReportedAsBrokenOff) {
  coordinator->sendMDD(" T ");
  coordinator->send(rankVectors(outside));  // then the stream ends
  EXPECT_EQ(1, runSession(node(1, 0)));
  EXPECT_NE(std::string::npos,
            findLine(out, "morlet: the coordinator closed the connection during a ranking run"));
  EXPECT_EQ(std::string::npos, out.find("Synthesized action"));
  EXPECT_EQ(1, run_test::countLinesStartingWith(out, "morlet: synthesis time "));
}

TEST_F(SessionTest, ACloseAfterTheGuardWhileStuckStatesWereLeftIsNotTheEnd) {
  bdd_t *inv = states([] {
    StateSet s;
    for (int i = 0; i < 64; i++)
      if (inInvariant(i)) s.insert(i);
    return s;
  }());
  bdd_t *out_ = states(outside);
  coordinator->sendMDD(" T ");
  coordinator->send(rankVectors(outside) + sizeBytes(0) + sizeBytes(0));
  coordinator->send(mddMessage(text(inv)) + mddMessage(text(primed(inv))) +
                    mddMessage(text(out_)) + mddMessage(text(primed(out_))));
  coordinator->send(sizeBytes(0) + sizeBytes(0));
  EXPECT_EQ(1, runSession(node(2, 3)));
  EXPECT_NE(std::string::npos,
            findLine(out, "morlet: the coordinator closed the connection before the synthesis "
                          "ended"));
}

TEST_F(SessionTest, NoInitialStateSetIsReportedAsBrokenOff) {
  EXPECT_EQ(1, runSession(node(1, 1)));
  EXPECT_NE(std::string::npos, out.find("morlet: the coordinator closed the connection"));
}

TEST(NodeConnect, RetriesWhileRefusedThenGivesUp) {
  int port = run_test::freePort();
  testing::internal::CaptureStdout();
  int s = NodeSession::connectToCoordinator("127.0.0.1", port, 1000);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(-1, s);
  // The first attempt was refused and retried before the node gave up.
  size_t waiting = out.find("morlet: waiting for the coordinator at 127.0.0.1:" +
                            std::to_string(port) + " ...\n");
  size_t gaveUp =
      out.find("morlet: cannot connect to the coordinator at 127.0.0.1:" + std::to_string(port));
  EXPECT_NE(std::string::npos, waiting) << out;
  EXPECT_NE(std::string::npos, gaveUp) << out;
  EXPECT_LT(waiting, gaveUp) << out;
}

TEST(NodeConnect, ConnectsOnceTheCoordinatorListens) {
  int port = run_test::freePort();
  std::thread late([port] {
    // Late enough for the node's first attempt to be refused.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)port);
    if (bind(l, (sockaddr *)&addr, sizeof addr) == 0 && listen(l, 1) == 0) {
      // A node that never comes must not keep the test waiting.
      pollfd p{l, POLLIN, 0};
      if (poll(&p, 1, link_test::kSocketTimeoutMs) > 0) {
        int c = accept(l, nullptr, nullptr);
        if (c >= 0) close(c);
      }
    }
    close(l);
  });
  testing::internal::CaptureStdout();
  int s = NodeSession::connectToCoordinator("localhost", port, 10000);
  std::string out = testing::internal::GetCapturedStdout();
  late.join();
  EXPECT_GE(s, 0) << out;
  if (s >= 0) close(s);
  EXPECT_NE(std::string::npos, out.find("morlet: waiting for the coordinator"));
}

TEST(NodeConnect, AnUnknownHostIsReported) {
  testing::internal::CaptureStdout();
  int s = NodeSession::connectToCoordinator("no.such.host.invalid", 5000, 100);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(-1, s);
  EXPECT_NE(std::string::npos, out.find("morlet: cannot resolve the coordinator's address"));
}

TEST(MorletCommandLine, MissingOrBadValuesExitTwoAndHelpExitsZero) {
  std::string dir = run_test::makeTempDir("morlet-cmdline");
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"-i", "127.0.0.1", "-p", "5000", "-n", "1"}, 2},          // no action
      {{"-i", "127.0.0.1", "-p", "5000", "-n", "1", "-a"}, 2},    // no value
      {{"-i", "127.0.0.1", "-p", "5000", "-n", "4", "-a", "0"}, 2},  // no such process
      {{"-i", "127.0.0.1", "-p", "5000", "-n", "1", "-a", "4"}, 2},  // no such action
      {{"-i", "127.0.0.1", "-p", "0", "-n", "1", "-a", "0"}, 2},     // no such port
      {{"-h"}, 0},
  };
  for (const Case &c : cases) {
    std::vector<std::string> argv = {MORLET_BIN};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Child morlet(argv, dir + "/morlet.log");
    ASSERT_TRUE(morlet.waitFor(20000));
    EXPECT_EQ(c.status, morlet.exitCode()) << c.args.back();
    std::string out = morlet.output();
    EXPECT_NE(std::string::npos, out.find("Usage:")) << out;
    EXPECT_NE(std::string::npos, out.find("morlet -i (server IP address)")) << out;
  }
}

}  // namespace
