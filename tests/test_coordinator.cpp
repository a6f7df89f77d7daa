// The coordinator's run: the real kelvax process against fake nodes on
// loopback that check the conversation byte by byte, its failure paths, and
// the AddCoor steps driven in-process over socket pairs.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "Coordinator.h"
#include "ProgramStructure.h"
#include "Util.h"
#include "support/fake_node.h"
#include "support/link_sockets.h"
#include "support/program_model.h"

using run_test::Child;
using run_test::countLinesStartingWith;
using run_test::findLine;
using run_test::kFalseMessage;
using run_test::kTrueMessage;
using run_test::lastLine;
using run_test::mddMessage;
using run_test::mddVectorMessage;
using run_test::Peer;
using run_test::sizeBytes;

namespace {

const int kRunTimeoutMs = 60000;
const std::string kTwoEmptyVectors(8, '\0');

// The model in the test process, for building the nodes' diagrams and
// reading the coordinator's, with the synthesis invariant.
struct NodesModel : model_test::TestModel {
  bdd_t *inv = keep(ps.buildSynthesisInvariant(false));
};

std::vector<std::string> kelvaxArgs(int port, int nodes) {
  return {KELVAX_BIN, "-p", std::to_string(port), "-n", std::to_string(nodes)};
}

class KelvaxProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = run_test::makeTempDir("coordinator"); }
  // kelvax -p port -n nodes, listening on a free port.
  Child &startKelvax(int nodes) {
    coordinator = run_test::startCoordinator(KELVAX_BIN, nodes, dir + "/kelvax.log", &port);
    return *coordinator;
  }
  std::string dir;
  int port = 0;
  std::unique_ptr<Child> coordinator;
};

// Connects `n` fake nodes in order, each sending a greeting.
std::vector<Peer> connectNodes(int port, int n, const std::string &greeting) {
  std::vector<Peer> nodes;
  for (int i = 0; i < n; i++) {
    int fd = run_test::connectLoopback(port, 20000);
    EXPECT_GE(fd, 0) << "cannot connect fake node " << i;
    if (fd < 0) break;
    nodes.emplace_back(fd);
    nodes.back().sendMDD(greeting);
  }
  return nodes;
}

TEST_F(KelvaxProcessTest, ConversationWithFakeNodesByteByByte) {
  NodesModel m;
  Child &kelvax = startKelvax(3);
  ASSERT_TRUE(kelvax.started());
  std::vector<Peer> nodes = connectNodes(port, 3, m.text(m.is(2, 1)));
  ASSERT_EQ(3u, nodes.size());

  // Opening broadcast: the constant true, exactly 8 bytes.
  for (Peer &n : nodes) EXPECT_EQ(link_test::hex(kTrueMessage), link_test::hex(n.readExact(8)));

  // First ranking: node 1 has nothing; the others' reports come back to
  // everybody in accept order, then the primed copies.
  bdd_t *outside = m.keep(bdd_not(m.inv));
  bdd_t *f0 = m.keep(bdd_and(outside, m.is(2, 0), 1, 1));
  bdd_t *f2 = m.keep(bdd_and(outside, m.is(2, 3), 1, 1));
  nodes[0].sendMDD(m.text(f0));
  nodes[1].sendMDD(" F ");
  nodes[2].sendMDD(m.text(f2));
  for (Peer &n : nodes) {
    std::vector<std::string> rank = n.readMDDVector();
    std::vector<std::string> rankPrimed = n.readMDDVector();
    ASSERT_EQ(2u, rank.size());
    ASSERT_EQ(2u, rankPrimed.size());
    EXPECT_TRUE(m.same(rank[0], f0));
    EXPECT_TRUE(m.same(rank[1], f2));
    EXPECT_TRUE(m.same(rankPrimed[0], m.primed(f0)));
    EXPECT_TRUE(m.same(rankPrimed[1], m.primed(f2)));
  }
  for (Peer &n : nodes) n.sendMDD(" F ");
  for (Peer &n : nodes) EXPECT_EQ(kTwoEmptyVectors, n.readExact(8));

  // AddCoor 1: guards x1 = x2, false, x2 = x3; remaining = the invariant.
  nodes[0].sendMDD(m.text(m.equal(1, 2)));
  nodes[1].sendMDD(" F ");
  nodes[2].sendMDD(m.text(m.equal(2, 3)));
  for (Peer &n : nodes) {
    EXPECT_TRUE(m.same(n.readMDD(), m.inv));
    EXPECT_TRUE(m.same(n.readMDD(), m.primed(m.inv)));
  }
  for (Peer &n : nodes) {
    EXPECT_TRUE(m.same(n.readMDD(), outside));
    EXPECT_TRUE(m.same(n.readMDD(), m.primed(outside)));
  }
  for (Peer &n : nodes) n.sendMDD(" F ");
  for (Peer &n : nodes) EXPECT_EQ(kTwoEmptyVectors, n.readExact(8));

  // AddCoor 2: everything enabled, so no stuck state: the last iteration.
  nodes[0].sendMDD(" T ");
  nodes[1].sendMDD(" F ");
  nodes[2].sendMDD(m.text(m.is(1, 0)));
  for (Peer &n : nodes) {
    EXPECT_TRUE(m.same(n.readMDD(), m.inv));
    EXPECT_TRUE(m.same(n.readMDD(), m.primed(m.inv)));
  }
  for (Peer &n : nodes) EXPECT_EQ(link_test::hex(kFalseMessage + kFalseMessage),
                                  link_test::hex(n.readExact(16)));
  for (Peer &n : nodes) n.sendMDD(" F ");
  for (Peer &n : nodes) EXPECT_EQ(kTwoEmptyVectors, n.readExact(8));
  // No closing message: the connection just ends.
  for (Peer &n : nodes) EXPECT_TRUE(n.closedWithoutMoreData(20000));

  ASSERT_TRUE(kelvax.waitFor(kRunTimeoutMs));
  EXPECT_EQ(0, kelvax.exitCode());
  std::string out = kelvax.output();
  EXPECT_EQ("Successfully synthesized a program!", lastLine(out));
  EXPECT_EQ(2, run_test::countOccurrences(out, "AddCoor: Received an empty guard from node "));
  EXPECT_EQ(3, countLinesStartingWith(out, "Number of accepted connections "));
  ASSERT_TRUE(run_test::linesInOrder(
      out, {"Initiailizing data structures ...",
            "Before making invariant ...",
            "Finished making the invariant ...",
            "After making invariant ...",
            "End of Initiailization!",
            "Created a socket!",
            "Number of accepted connections 0",
            "before accept ...",
            "after accept ...",
            "Number of accepted connections 2",
            "End of receiving addresses!",
            "Finished ranking!",
            "Successfully synthesized a program!"}));
  // Three ranking runs end with isUnionEmpty 1.
  EXPECT_EQ(3, countLinesStartingWith(out, "isUnionEmpty 1"));
  EXPECT_EQ(0, countLinesStartingWith(out, "Failed to send"));
}

TEST_F(KelvaxProcessTest, NoNodesFailsAtOnce) {
  Child &kelvax = startKelvax(0);
  ASSERT_TRUE(kelvax.waitFor(kRunTimeoutMs));
  EXPECT_EQ(0, kelvax.exitCode());
  std::string out = kelvax.output();
  size_t created = findLine(out, "Created a socket!");
  size_t end = findLine(out, "End of receiving addresses!", created);
  ASSERT_NE(std::string::npos, end) << out;
  EXPECT_EQ(0, countLinesStartingWith(out, "before accept ..."));
  EXPECT_EQ(0, countLinesStartingWith(out, "Number of accepted connections"));
  EXPECT_NE(std::string::npos, findLine(out, "Finished ranking!", end));
  EXPECT_EQ("Failed to synthesize a program!", lastLine(out));
}

TEST_F(KelvaxProcessTest, APortHeldByAnotherListenerStopsWithStatusOne) {
  int port = 0;
  int holder = run_test::listenAnywhere(&port);
  ASSERT_GE(holder, 0);
  Child kelvax(kelvaxArgs(port, 1), dir + "/kelvax.log");
  ASSERT_TRUE(kelvax.waitFor(kRunTimeoutMs));
  close(holder);
  EXPECT_EQ(1, kelvax.exitCode());
  std::string out = kelvax.output();
  EXPECT_EQ("Synthesis Coordinator: cannot bind the local address!", lastLine(out));
  EXPECT_EQ(0, countLinesStartingWith(out, "before accept ..."));
}

TEST_F(KelvaxProcessTest, NodesDyingMidRunNeitherCrashNorHangTheCoordinator) {
  NodesModel m;
  Child &kelvax = startKelvax(3);
  std::vector<Peer> nodes = connectNodes(port, 3, " T ");
  ASSERT_EQ(3u, nodes.size());
  for (Peer &n : nodes) EXPECT_EQ(kTrueMessage, n.readExact(8));
  // Node 1 goes away at once; node 2 breaks off in the middle of its first
  // bReach (a size of 100, then 10 bytes).
  nodes[1].close();
  nodes[0].sendMDD(" F ");
  nodes[2].send(sizeBytes(100) + std::string(10, 'x'));
  nodes[2].close();
  EXPECT_EQ(kTwoEmptyVectors, nodes[0].readExact(8));
  nodes[0].sendMDD(" T ");  // guard
  EXPECT_TRUE(m.same(nodes[0].readMDD(), m.keep(bdd_one(m.mgr))));
  nodes[0].readMDD();
  EXPECT_EQ(kFalseMessage + kFalseMessage, nodes[0].readExact(16));
  nodes[0].sendMDD(" F ");
  EXPECT_EQ(kTwoEmptyVectors, nodes[0].readExact(8));
  EXPECT_TRUE(nodes[0].closedWithoutMoreData(20000));

  ASSERT_TRUE(kelvax.waitFor(kRunTimeoutMs)) << "the coordinator hung";
  EXPECT_EQ(0, kelvax.exitCode());
  std::string out = kelvax.output();
  EXPECT_EQ("Successfully synthesized a program!", lastLine(out));
  EXPECT_EQ(2, run_test::countOccurrences(out, "AddCoor: Received an empty guard from node "));
  EXPECT_GE(run_test::countOccurrences(out, "RankingCoordinator: Failed to send an MDD vector!\n"), 1);
}

// ---- Accepting in-process -------------------------------------------------------

// With no descriptor left for a connection every accept fails at once: each
// failure is reported, counts as one of the -n attempts and leaves no node.
TEST(CoordinatorAccept, FailedAcceptsAreReportedCountedAndLeftOut) {
  std::vector<std::string> args = {"kelvax", "-p", std::to_string(run_test::freePort()), "-n",
                                   "3"};
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Coordinator c;
  testing::internal::CaptureStdout();
  c.initialise();
  bool parsed = c.parseCommandLine((int)args.size(), argv.data());
  bool listening = parsed && c.openListener();
  c.buildInvariants();
  struct rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  struct rlimit none = saved;
  none.rlim_cur = 0;
  bool limited = setrlimit(RLIMIT_NOFILE, &none) == 0;
  if (listening && limited) c.acceptNodes();
  setrlimit(RLIMIT_NOFILE, &saved);
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(listening && limited) << out;

  EXPECT_TRUE(c.getAddresses().empty());
  EXPECT_EQ(3, countLinesStartingWith(out, "Number of accepted connections "));
  EXPECT_EQ(3, countLinesStartingWith(out, "Synthesis Coordinator: unable to accept connections!"));
  ASSERT_TRUE(run_test::linesInOrder(
      out, {"Number of accepted connections 0",
            "before accept ...",
            "after accept ...",
            "Synthesis Coordinator: unable to accept connections!",
            "Number of accepted connections 1",
            "Number of accepted connections 2",
            "after accept ...",
            "Synthesis Coordinator: unable to accept connections!",
            "End of receiving addresses!"}));
}

// ---- Operator controls ------------------------------------------------------------

TEST(CoordinatorOperatorControls, ValuesAreCheckedAndTheLaterOptionWins) {
  auto parse = [](std::vector<std::string> args, std::string *bind, int *seconds) {
    args.insert(args.begin(), "kelvax");
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(&a[0]);
    return Coordinator::parseOperatorOptions((int)argv.size(), argv.data(), bind, seconds);
  };
  std::string bind;
  int seconds = 0;
  EXPECT_TRUE(parse({"-p", "5000", "-n", "2"}, &bind, &seconds));
  EXPECT_EQ(bind, "");
  EXPECT_EQ(seconds, 0);
  EXPECT_TRUE(parse({"-bind", "10.1.2.3", "-B", "127.0.0.1", "-t", "5", "-T", "86400"}, &bind, &seconds));
  EXPECT_EQ(bind, "127.0.0.1");
  EXPECT_EQ(seconds, 86400);
  for (std::vector<std::string> bad :
       {std::vector<std::string>{"-b", "localhost"}, {"-b", "1.2.3"}, {"-b"}, {"-t", "0"}, {"-t", "86401"},
        {"-t", "5s"}, {"-t", "-5"}, {"-t"}})
    EXPECT_FALSE(parse(bad, &bind, &seconds)) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");

  // A malformed one stops the run before the socket, with the usage text.
  std::vector<std::string> args = {"kelvax", "-p", "5000", "-n", "1", "-t", "never"};
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(&a[0]);
  Coordinator c;
  testing::internal::CaptureStdout();
  c.initialise();
  bool parsed = c.parseCommandLine((int)argv.size(), argv.data());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(parsed);
  EXPECT_NE(out.find("Usage:\n    kelvax -p (port no.) -n (number of synthesis nodes)\n"), std::string::npos);
  EXPECT_EQ(out.find("End of Initiailization!"), std::string::npos);
}

// The coordinator through start-up and the listening socket on a free port,
// with the given operator options after -p and -n.
struct OperatedCoordinator {
  OperatedCoordinator(int nodes, std::vector<std::string> options) : port(run_test::freePort()) {
    args = {"kelvax", "-p", std::to_string(port), "-n", std::to_string(nodes)};
    args.insert(args.end(), options.begin(), options.end());
    for (auto &a : args) argv.push_back(&a[0]);
    testing::internal::CaptureStdout();
    c.initialise();
    listening = c.parseCommandLine((int)argv.size(), argv.data()) && c.openListener();
    c.buildInvariants();
  }
  std::string output() { return testing::internal::GetCapturedStdout(); }
  int port;
  std::vector<std::string> args;
  std::vector<char *> argv;
  Coordinator c;
  bool listening = false;
};

std::string boundAddress(int sock) {
  struct sockaddr_in a;
  socklen_t length = sizeof a;
  if (getsockname(sock, (struct sockaddr *)&a, &length) != 0) return "?";
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &a.sin_addr, text, sizeof text) ? text : "?";
}

TEST(CoordinatorOperatorControls, BindsOneAddressOnlyWhenAsked) {
  {
    OperatedCoordinator every(0, {});
    every.output();
    ASSERT_TRUE(every.listening);
    EXPECT_EQ(boundAddress(every.c.getListenSocket()), "0.0.0.0");
  }
  {
    OperatedCoordinator loopback(0, {"-b", "127.0.0.1"});
    loopback.output();
    ASSERT_TRUE(loopback.listening);
    EXPECT_EQ(boundAddress(loopback.c.getListenSocket()), "127.0.0.1");
  }
  // An address that is no local one cannot be bound: status 1 in a run.
  OperatedCoordinator foreign(0, {"-b", "192.0.2.1"});
  std::string out = foreign.output();
  EXPECT_FALSE(foreign.listening);
  EXPECT_NE(out.find("Synthesis Coordinator: cannot bind the local address!\n"), std::string::npos);
}

// With -t, a node that connects and never speaks and a node that never
// connects each cost one deadline: the silent node's greeting fails as a
// broken read does, the missing node as a failed accept.
TEST(CoordinatorOperatorControls, DeadlineEndsWaitsForSilentAndMissingNodes) {
  OperatedCoordinator oc(2, {"-b", "127.0.0.1", "-t", "1"});
  int silent = oc.listening ? run_test::connectLoopback(oc.port, 20000) : -1;
  if (silent >= 0) oc.c.acceptNodes();
  std::string out = oc.output();
  ASSERT_TRUE(oc.listening && silent >= 0) << out;
  EXPECT_EQ(oc.c.getAddresses().size(), 1u);
  EXPECT_EQ(1, countLinesStartingWith(out, "Unable to receive the size value!"));
  EXPECT_EQ(1, countLinesStartingWith(out, "Synthesis Coordinator: unable to accept connections!"));
  EXPECT_NE(out.find("Number of accepted connections 1\n"), std::string::npos);
  EXPECT_TRUE(run_test::linesInOrder(out, {"Unable to receive the size value!", "after accept ...",
                                           "Synthesis Coordinator: unable to accept connections!",
                                           "End of receiving addresses!"}));
  close(silent);
}

// ---- AddCoor in-process -------------------------------------------------------

class AddCoorTest : public ::testing::Test {
 protected:
  void start(int nodes) {
    args = {"kelvax", "-p", "5000", "-n", std::to_string(nodes)};
    for (auto &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    c.initialise();
    ASSERT_TRUE(c.parseCommandLine((int)args.size(), argv.data()));
    c.buildInvariants();
    for (int i = 0; i < nodes; i++) {
      int coordinatorEnd = -1, nodeEnd = -1;
      link_test::boundedSocketPair(&coordinatorEnd, &nodeEnd);
      ASSERT_GE(coordinatorEnd, 0);
      c.addAddress(coordinatorEnd);
      peers.emplace_back(nodeEnd);
    }
  }
  std::string finish() {
    c.reportOutcome();
    return testing::internal::GetCapturedStdout();
  }
  std::string text(bdd_t *f) {
    std::string s;
    Util::MDD2String(c.getManager(), f, &s);
    return s;
  }

  std::vector<std::string> args;
  std::vector<char *> argv;
  Coordinator c;
  std::vector<Peer> peers;
};

TEST_F(AddCoorTest, GuardsCoveringEverythingEndAfterOneIteration) {
  start(2);
  peers[0].sendMDD(" T ");
  peers[1].sendMDD(" F ");
  for (Peer &p : peers) p.sendMDD(" F ");  // the ranking run
  c.addCoorLoop();
  std::string out = finish();
  EXPECT_TRUE(c.isNoStuckStates());
  EXPECT_FALSE(c.isFailed());
  EXPECT_FALSE(c.isNoInvariantLeft());
  EXPECT_TRUE(bdd_is_tautology(c.getCurrentStates(), 1));
  for (Peer &p : peers)
    EXPECT_EQ(link_test::hex(kTrueMessage + kTrueMessage + kFalseMessage + kFalseMessage +
                             kTwoEmptyVectors),
              link_test::hex(p.readExact(40)));
  EXPECT_NE(std::string::npos,
            findLine(out, "AddCoor: Received an empty guard from node " +
                              std::to_string(c.getAddresses()[1])));
  EXPECT_EQ("Successfully synthesized a program!", lastLine(out));
}

TEST_F(AddCoorTest, NoInvariantStateLeftEndsTheLoopButStatesRemain) {
  start(1);
  bdd_t *outside = bdd_not(c.getInvariantPred());
  peers[0].sendMDD(text(outside));
  peers[0].sendMDD(" F ");
  c.addCoorLoop();
  std::string out = finish();
  EXPECT_TRUE(c.isNoInvariantLeft());
  EXPECT_FALSE(c.isNoStuckStates());
  EXPECT_FALSE(c.isFailed());
  EXPECT_TRUE(bdd_equal(outside, c.getCurrentStates()));
  bdd_free(outside);
  EXPECT_EQ("Successfully synthesized a program!", lastLine(out));
}

TEST_F(AddCoorTest, StuckStatesLeadToAnotherIteration) {
  start(1);
  bdd_t *inv = c.getInvariantPred();
  // Iteration 1 enables only the invariant; iteration 2 everything left.
  peers[0].sendMDD(text(inv));
  peers[0].sendMDD(" F ");
  peers[0].sendMDD(" T ");
  peers[0].sendMDD(" F ");
  c.addCoorLoop();
  std::string out = finish();
  EXPECT_TRUE(c.isNoStuckStates());
  EXPECT_FALSE(c.isFailed());
  EXPECT_TRUE(bdd_equal(inv, c.getCurrentStates()));
  EXPECT_EQ(2, countLinesStartingWith(out, "isUnionEmpty 1"));
  bdd_t *outside = bdd_not(inv);
  bdd_t *outsidePrimed = Util::genPrimed(outside, c.getManager(), c.getModel());
  std::string expected = mddMessage(text(inv)) + mddMessage(text(c.getInvariantPredPrimed())) +
                         mddMessage(text(outside)) + mddMessage(text(outsidePrimed)) +
                         kTwoEmptyVectors + mddMessage(text(inv)) +
                         mddMessage(text(c.getInvariantPredPrimed())) + kFalseMessage +
                         kFalseMessage + kTwoEmptyVectors;
  EXPECT_EQ(link_test::hex(expected), link_test::hex(peers[0].readExact(expected.size())));
  bdd_free(outside);
  bdd_free(outsidePrimed);
}

TEST_F(AddCoorTest, WithoutNodesNothingIsEnabledAndTheRunFails) {
  start(0);
  c.firstRanking();
  c.addCoorLoop();
  std::string out = finish();
  EXPECT_TRUE(c.isFailed());
  EXPECT_TRUE(c.isNoInvariantLeft());
  EXPECT_FALSE(c.isNoStuckStates());
  EXPECT_NE(std::string::npos, findLine(out, "Finished ranking!"));
  EXPECT_EQ("Failed to synthesize a program!", lastLine(out));
}

TEST_F(AddCoorTest, SendFailuresAreReportedAndTheLoopGoesOn) {
  start(2);
  peers[1].close();
  peers[0].sendMDD(" T ");
  peers[0].sendMDD(" F ");
  c.addCoorLoop();
  std::string out = finish();
  EXPECT_EQ(4, run_test::countOccurrences(out, "AddCoor: Failed to send an MDD!\n"));
  EXPECT_EQ("Successfully synthesized a program!", lastLine(out));
}

TEST_F(AddCoorTest, OpeningBroadcastSendsTrueToEveryNode) {
  start(2);
  peers[1].close();
  c.openingBroadcast();
  std::string out = finish();
  EXPECT_EQ(link_test::hex(kTrueMessage), link_test::hex(peers[0].readExact(8)));
  // The failure line has no line end: the outcome line follows on it.
  EXPECT_NE(std::string::npos,
            out.find("Failed to send the MDD to the node " + std::to_string(c.getAddresses()[1]) +
                     "Successfully synthesized a program!\n"));
}

}  // namespace
