// Whole runs with real processes on loopback: the coordinator and the
// reference synthesis nodes, the synthesized program checked by the
// independent checker, a run in which a node dies, and the checker itself on
// programs with known faults. Under the sanitizer build the child processes
// are sanitizer builds too, so an error or a leak in any of them shows as a
// non-zero exit status here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/fake_node.h"
#include "support/program_model.h"

using run_test::Child;
using run_test::countLinesStartingWith;
using run_test::findLine;
using run_test::lastLine;
using run_test::Peer;
using model_test::referenceProgram;

namespace {

const int kRunTimeoutMs = 180000;


std::vector<std::string> morletArgs(int port, int process, int action) {
  return {MORLET_BIN, "-i", "127.0.0.1", "-p", std::to_string(port), "-n",
          std::to_string(process), "-a", std::to_string(action)};
}

struct NodeRun {
  std::string dir;
  int port = 0;
  std::unique_ptr<Child> kelvax;
  std::vector<std::unique_ptr<Child>> nodes;
  std::vector<std::string> nodeLogs;

  void start(const std::string &name, int expectedNodes) {
    dir = run_test::makeTempDir(name);
    kelvax = run_test::startCoordinator(KELVAX_BIN, expectedNodes, dir + "/kelvax.log", &port);
  }
  void addNode(int process, int action) {
    std::string log = dir + "/node-" + std::to_string(process) + "-" + std::to_string(action) +
                      ".log";
    nodeLogs.push_back(log);
    nodes.emplace_back(new Child(morletArgs(port, process, action), log));
  }
  // Waits for everybody; false when anything hung (it is killed then).
  bool waitAll() {
    bool ok = kelvax->waitFor(kRunTimeoutMs);
    for (auto &n : nodes) ok = n->waitFor(30000) && ok;
    return ok;
  }
  std::string check() {
    std::vector<std::string> argv = {KELVAX_CHECK_BIN};
    argv.insert(argv.end(), nodeLogs.begin(), nodeLogs.end());
    Child checker(argv, dir + "/check.log");
    EXPECT_TRUE(checker.waitFor(30000));
    EXPECT_EQ(0, checker.exitCode()) << checker.output();
    return checker.output();
  }
};

TEST(WholeRun, TwelveReferenceNodesSynthesizeACorrectProgram) {
  NodeRun run;
  run.start("whole-run", 12);
  for (int j = 1; j <= 3; j++)
    for (int a = 0; a < 4; a++) run.addNode(j, a);
  ASSERT_TRUE(run.waitAll()) << "the run did not end in time; logs in " << run.dir;

  EXPECT_EQ(0, run.kelvax->exitCode()) << run.dir;
  std::string out = run.kelvax->output();
  EXPECT_EQ("Successfully synthesized a program!", lastLine(out));
  // Every guard holds at least the invariant states, and together they
  // cover every state: one AddCoor iteration, so two ranking runs.
  EXPECT_EQ(2, countLinesStartingWith(out, "isUnionEmpty 1"));
  EXPECT_EQ(0, run_test::countOccurrences(out, "AddCoor: Received an empty guard from node "));
  EXPECT_EQ(0, countLinesStartingWith(out, "Synthesis Coordinator:"));

  int commands = 0, compact = 0;
  for (size_t i = 0; i < run.nodes.size(); i++) {
    EXPECT_EQ(0, run.nodes[i]->exitCode()) << run.nodeLogs[i];
    std::string log = run.nodes[i]->output();
    EXPECT_NE(std::string::npos, findLine(log, "morlet: the coordinator ended the synthesis"))
        << run.nodeLogs[i];
    EXPECT_NE(std::string::npos, findLine(log, "Remaining states: 64")) << run.nodeLogs[i];
    EXPECT_EQ(1, countLinesStartingWith(log, "morlet: synthesis time ")) << run.nodeLogs[i];
    commands += countLinesStartingWith(log, "x");
    compact += countLinesStartingWith(log, "compact: ");
  }
  EXPECT_GT(commands, 0);
  EXPECT_GT(compact, 0);
  EXPECT_LE(compact, 36);
  std::string verdict = run.check();
  EXPECT_NE(std::string::npos, verdict.find("kelvax_check: the program is correct")) << verdict;
  EXPECT_NE(std::string::npos, verdict.find("allows exactly the same moves")) << verdict;

  // The report reads every node's times and ranks.
  std::vector<std::string> argv = {KELVAX_REPORT_BIN, "--svg", run.dir + "/recovery.svg",
                                   "--json", run.dir + "/summary.json"};
  argv.insert(argv.end(), run.nodeLogs.begin(), run.nodeLogs.end());
  Child report(argv, run.dir + "/report.log");
  ASSERT_TRUE(report.waitFor(30000));
  EXPECT_EQ(0, report.exitCode()) << report.output();
  std::ifstream json(run.dir + "/summary.json");
  std::string summary((std::istreambuf_iterator<char>(json)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, summary.find("\"guarded_commands\": " + std::to_string(commands)));
  EXPECT_NE(std::string::npos, summary.find("\"compact_commands\": " + std::to_string(compact)));
  EXPECT_EQ(std::string::npos, summary.find("null")) << summary;
  std::ifstream svg(run.dir + "/recovery.svg");
  std::string picture((std::istreambuf_iterator<char>(svg)), std::istreambuf_iterator<char>());
  EXPECT_EQ(28, run_test::countOccurrences(picture, "data-rank=\"0\""));
  EXPECT_EQ(36, run_test::countOccurrences(picture, "data-rank=\"1\""));
}

TEST(WholeRun, ANodeThatDiesMidRunLeavesTheOthersToFinish) {
  NodeRun run;
  run.start("node-dies", 5);
  // A fake node that greets, takes the initial state set and goes away.
  int fd = run_test::connectLoopback(run.port, 20000);
  ASSERT_GE(fd, 0);
  Peer dying(fd);
  dying.sendMDD(" T ");
  for (int a = 0; a < 4; a++) run.addNode(1, a);
  EXPECT_EQ(8u, dying.readExact(8).size());
  dying.close();
  ASSERT_TRUE(run.waitAll()) << "the run did not end in time; logs in " << run.dir;

  EXPECT_EQ(0, run.kelvax->exitCode());
  std::string out = run.kelvax->output();
  EXPECT_EQ("Successfully synthesized a program!", lastLine(out));
  EXPECT_EQ(1, run_test::countOccurrences(out, "AddCoor: Received an empty guard from node "));
  for (auto &n : run.nodes) EXPECT_EQ(0, n->exitCode()) << run.dir;
  std::string verdict = run.check();
  EXPECT_NE(std::string::npos, verdict.find("kelvax_check: the program is correct")) << verdict;
}

TEST(WholeRun, ANodeWithoutCoordinatorGivesUpWithStatusOne) {
  std::string dir = run_test::makeTempDir("no-coordinator");
  // Nothing listens on the port: the node retries for a while, then stops.
  Child node(morletArgs(run_test::freePort(), 2, 1), dir + "/node.log");
  ASSERT_TRUE(node.waitFor(60000));
  EXPECT_EQ(1, node.exitCode());
  EXPECT_NE(std::string::npos, node.output().find("morlet: cannot connect to the coordinator"));
}

// ---- The independent checker ------------------------------------------------------------

class CheckerTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = run_test::makeTempDir("checker"); }

  std::string write(const std::string &name, const std::vector<std::string> &lines) {
    std::string path = dir + "/" + name;
    std::ofstream out(path);
    for (const std::string &l : lines) out << l << "\n";
    return path;
  }
  int check(std::vector<std::string> args) {
    args.insert(args.begin(), KELVAX_CHECK_BIN);
    Child checker(args, dir + "/check.log");
    EXPECT_TRUE(checker.waitFor(30000));
    out = checker.output();
    return checker.exitCode();
  }
  static std::vector<std::string> without(std::vector<std::string> lines,
                                          const std::string &part) {
    std::vector<std::string> kept;
    for (const std::string &l : lines)
      if (l.find(part) == std::string::npos) kept.push_back(l);
    return kept;
  }
  static std::vector<std::string> allStatesListed() {
    std::vector<std::string> lines;
    for (int s = 0; s < 64; s++)
      lines.push_back("remaining: x1 = " + std::to_string(s / 16) + " x2 = " +
                      std::to_string((s / 4) % 4) + " x3 = " + std::to_string(s % 4) + " ");
    return lines;
  }

  std::string dir;
  std::string out;
};

TEST_F(CheckerTest, TheReferenceProgramPasses) {
  EXPECT_EQ(0, check({"--all-states", write("p", referenceProgram())})) << out;
  EXPECT_NE(std::string::npos, out.find("longest recovery: 1 step"));
  std::vector<std::string> logged = referenceProgram();
  std::vector<std::string> states = allStatesListed();
  logged.insert(logged.end(), states.begin(), states.end());
  logged.push_back("Received the size value! 4 ");  // unrelated lines are ignored
  EXPECT_EQ(0, check({write("a", logged), write("b", allStatesListed())})) << out;
}

TEST_F(CheckerTest, FindsDeadlocksCyclesAndBrokenClosure) {
  // Without process 2 and without the copies of x2 = 3, the states outside
  // the invariant with x2 = 3 are stuck.
  std::vector<std::string> p = without(without(referenceProgram(), "x2 = 3 -> x1"), "x2 = 3 x3");
  p = without(p, "-> x2 :=");
  EXPECT_EQ(1, check({"--all-states", write("dead", p)}));
  EXPECT_NE(std::string::npos, out.find("deadlocked states outside the invariant")) << out;

  std::vector<std::string> cyclic = referenceProgram();
  cyclic = without(cyclic, "-> x2 :=");
  cyclic = without(cyclic, "x1 = 0 x2 = 1 -> x1");
  cyclic.push_back("x1 = 0 x2 = 1 -> x1 := 2");
  cyclic.push_back("x1 = 2 x2 = 1 -> x1 := 0");
  EXPECT_EQ(1, check({"--all-states", write("cycle", cyclic)}));
  EXPECT_NE(std::string::npos, out.find("cycles outside the invariant")) << out;

  std::vector<std::string> open = referenceProgram();
  open.push_back("x1 = 0 x2 = 0 -> x1 := 1");
  EXPECT_EQ(1, check({"--all-states", write("closure", open)}));
  EXPECT_NE(std::string::npos, out.find("break the invariant's closure")) << out;
  EXPECT_NE(std::string::npos, out.find("the program is NOT correct"));
}

TEST_F(CheckerTest, TheCompactFormMustAllowTheSameMoves) {
  // Processes 1 and 3 of the reference program, and their compact form.
  std::vector<std::string> both = without(referenceProgram(), "-> x2 :=");
  for (int a = 0; a < 4; a++) {
    std::string v = std::to_string(a);
    both.push_back("compact: x1 != " + v + " & x2 = " + v + " -> x1 := " + v);
    both.push_back("compact: x2 in {" + v + "} & x3 != " + v + " -> x3 := " + v);
  }
  EXPECT_EQ(0, check({"--all-states", write("both", both)})) << out;
  EXPECT_NE(std::string::npos,
            out.find("the compact form (8 guarded commands) allows exactly the same moves"))
      << out;
  // Compact lines alone, as program-compact.txt holds them, are the program;
  // x1 copying x2 is enough.
  EXPECT_EQ(0, check({"--all-states",
                      write("plain", {"x1 != 0 & x2 = 0 -> x1 := 0", "x1 in {0,2,3} & x2 = 1 -> x1 := 1",
                                      "x1 != 2 & x2 in {2} -> x1 := 2", "x2 = 3 & x1 != 3 -> x1 := 3"})}))
      << out;
  EXPECT_NE(std::string::npos, out.find("4 guarded commands, 64 remaining states")) << out;
  EXPECT_EQ(1, check({"--all-states", write("true", {"true -> x1 := 0"})}));  // leaves the invariant

  // x1 := 1 no longer from x1 = 3, x3 := 1 also from x2 = 0 and x3 = 0.
  std::vector<std::string> changed = without(both, "compact: x1 != 1 ");
  changed.push_back("compact: x1 in {0,2} & x2 = 1 -> x1 := 1");
  changed.push_back("compact: x2 = 0 & x3 = 0 -> x3 := 1");
  EXPECT_EQ(1, check({"--all-states", write("changed", changed)}));
  EXPECT_NE(std::string::npos,
            out.find("8 moves on which the compact form and the guarded commands differ"))
      << out;
  EXPECT_NE(std::string::npos,
            out.find("x1 := 1 in (x1 = 3, x2 = 1, x3 = 0): not in the compact form"))
      << out;
  EXPECT_NE(std::string::npos,
            out.find("x3 := 1 in (x1 = 2, x2 = 0, x3 = 0): only in the compact form"))
      << out;
}

TEST_F(CheckerTest, StepsOutOfTheRemainingStatesCount) {
  std::vector<std::string> states = allStatesListed();
  states = without(states, "x1 = 1 x2 = 1 x3 = 0 ");  // x1 := x2 from (0,1,0) lands there
  std::vector<std::string> p = referenceProgram();
  p.insert(p.end(), states.begin(), states.end());
  EXPECT_EQ(1, check({write("p", p)}));
  EXPECT_NE(std::string::npos, out.find("steps that leave the remaining states")) << out;
}

TEST_F(CheckerTest, RejectsUnreadableInput) {
  EXPECT_EQ(2, check({"--all-states", write("reads", {"x1 = 0 x3 = 1 -> x1 := 2"})}));
  EXPECT_NE(std::string::npos, out.find("which process 1 cannot read")) << out;
  EXPECT_EQ(2, check({"--all-states", write("garbled", {"x1 = 0 -> x1 = 2"})}));
  for (const char *bad : {"x1 in {2,1} -> x1 := 0", "x1 in {} -> x1 := 0", "x1 in {1,} -> x1 := 0",
                          "x1 != 4 -> x1 := 0", "x1 = 0 & x2 = 1 x3 = 2 -> x2 := 0",
                          "compact: x1 = 1 & -> x1 := 0", "true & x1 = 1 -> x1 := 0",
                          "x1 = 0 & x1 != 1 -> x1 := 0"})
    EXPECT_EQ(2, check({"--all-states", write("compact", {bad})})) << bad << ": " << out;
  EXPECT_EQ(2, check({write("nostates", referenceProgram())}));
  std::vector<std::string> fewer = allStatesListed();
  fewer.pop_back();
  EXPECT_EQ(2, check({write("a", allStatesListed()), write("b", fewer)}));
  EXPECT_NE(std::string::npos, out.find("list different remaining states")) << out;
  EXPECT_EQ(2, check({dir + "/missing"}));
}

}  // namespace
