// Command-line parsers, the coordinator's argument checks and the timers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Util.h"
#include "support/fake_node.h"
#include "support/output.h"

namespace {

struct Argv {
  std::vector<std::string> store;
  std::vector<char *> ptrs;
  explicit Argv(std::initializer_list<const char *> args) {
    for (const char *a : args) store.emplace_back(a);
    for (auto &s : store) ptrs.push_back(&s[0]);
    ptrs.push_back(nullptr);
  }
  int argc() const { return (int)store.size(); }
  char **argv() { return ptrs.data(); }
};

// Runs kelvax with `args`, waiting at most 20 s; returns what it printed and
// its exit status (-1 when it was killed or did not end).
std::string runKelvax(const std::vector<std::string> &args, int *status) {
  std::vector<std::string> argv = {KELVAX_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  run_test::Child kelvax(argv, run_test::makeTempDir("kelvax-cmdline") + "/kelvax.log");
  bool ended = kelvax.waitFor(20000);
  *status = ended ? kelvax.exitCode() : -1;
  return kelvax.output();
}

const char kCoorUsage[] =
    "Usage:\n    kelvax -p (port no.) -n (number of synthesis nodes)\n";

}  // namespace

TEST(CoorCmdLine, ParsesUpperAndLowerCaseAndLaterWins) {
  Util util;
  int port = -1, nodes = -1;
  Argv a{"kelvax", "-P", "5000", "-N", "3"};
  EXPECT_EQ(0, util.parseCoorCmdLine(a.argc(), a.argv(), &port, &nodes));
  EXPECT_EQ(5000, port);
  EXPECT_EQ(3, nodes);

  Argv b{"kelvax", "-p", "1", "-p", "2", "-port", "7"};
  util.parseCoorCmdLine(b.argc(), b.argv(), &port, &nodes);
  EXPECT_EQ(7, port);  // "-port" counts as "-p"
  EXPECT_EQ(3, nodes);  // not given: left unwritten
}

TEST(CoorCmdLine, ValuesAreExaminedAsArguments) {
  Util util;
  int port = -1, nodes = -1;
  // "-n" is the value of "-p" (atoi gives 0) and is then read as an option.
  Argv a{"kelvax", "-p", "-n", "4"};
  util.parseCoorCmdLine(a.argc(), a.argv(), &port, &nodes);
  EXPECT_EQ(0, port);
  EXPECT_EQ(4, nodes);
}

TEST(CoorCmdLineDeathTest, HelpExitsZeroWithUsage) {
  Util util;
  int port = -1, nodes = -1;
  Argv a{"kelvax", "-p", "5", "-h"};
  EXPECT_EXIT(util.parseCoorCmdLine(a.argc(), a.argv(), &port, &nodes),
              ::testing::ExitedWithCode(0), "");
}

TEST(CoorCmdLineDeathTest, OptionWithoutValueExitsTwo) {
  Util util;
  int port = -1, nodes = -1;
  Argv a{"kelvax", "-n", "3", "-p"};
  EXPECT_EXIT(util.parseCoorCmdLine(a.argc(), a.argv(), &port, &nodes),
              ::testing::ExitedWithCode(2), "");
}

TEST(NodeCmdLine, ParsesAllOptionsAndKeepsAddressPointer) {
  Util util;
  char *addr = nullptr;
  int port = -1, proc = -1, action = -1;
  Argv a{"morlet", "-i", "127.0.0.1", "-p", "6000", "-N", "2", "-A", "3"};
  util.parseNodeCmdLine(a.argc(), a.argv(), &addr, &port, &proc, &action);
  EXPECT_EQ(a.argv()[2], addr);
  EXPECT_EQ(6000, port);
  EXPECT_EQ(2, proc);
  EXPECT_EQ(3, action);
}

TEST(NodeCmdLineDeathTest, MissingValueAndHelp) {
  Util util;
  char *addr = nullptr;
  int port = -1, proc = -1, action = -1;
  Argv a{"morlet", "-i"};
  EXPECT_EXIT(util.parseNodeCmdLine(a.argc(), a.argv(), &addr, &port, &proc, &action),
              ::testing::ExitedWithCode(2), "");
  Argv h{"morlet", "-H"};
  EXPECT_EXIT(util.parseNodeCmdLine(h.argc(), h.argv(), &addr, &port, &proc, &action),
              ::testing::ExitedWithCode(0), "");
}

TEST(KelvaxMain, HelpPrintsExactlyTheUsage) {
  int status = 0;
  std::string out = runKelvax({"-h"}, &status);
  EXPECT_EQ(0, status);
  ASSERT_GE(out.size(), sizeof(kCoorUsage) - 1);
  EXPECT_EQ(kCoorUsage, out.substr(out.size() - (sizeof(kCoorUsage) - 1)));
}

TEST(KelvaxMain, MissingOrBadValuesExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"-p", "5000"}, {"-n", "3"}, {"-n", "3", "-p"}, {"-p", "0", "-n", "1"},
      {"-p", "70000", "-n", "1"}};
  for (const auto &args : cases) {
    std::string shown;
    for (const std::string &a : args) shown += " " + a;
    int status = 0;
    std::string out = runKelvax(args, &status);
    EXPECT_EQ(2, status) << shown;
    EXPECT_NE(std::string::npos, out.find(kCoorUsage)) << shown;
  }
}

namespace {
std::vector<struct timeval> fakeTimes;
size_t fakeNext = 0;
int fakeClock(struct timeval *tv) {
  *tv = fakeTimes[fakeNext++];
  return 0;
}
int failingClock(struct timeval *) { return -1; }
}  // namespace

TEST(Timers, BorrowsASecondAndNeverCarriesMicroseconds) {
  auto saved = Util::clockSource;
  Util::clockSource = fakeClock;
  fakeTimes = {{10, 900000}, {12, 100000}, {13, 950000}};
  fakeNext = 0;
  Util util;
  util.initTimer();
  util.startTimer();
  util.pauseSynTimer();  // 12.100000 - 10.900000 = 1 s + 200000 us
  EXPECT_EQ(1, util.getTotalSynTimeInSec());
  EXPECT_EQ(200000, util.getTotalSynTimeInMSec());
  util.pauseSynTimer();  // again from the same start: 3 s + 50000 us
  EXPECT_EQ(4, util.getTotalSynTimeInSec());
  EXPECT_EQ(250000, util.getTotalSynTimeInMSec());
  EXPECT_EQ(0, util.getTotalComTimeInSec());

  fakeTimes = {{0, 0}, {0, 999999}, {0, 999999}};
  fakeNext = 0;
  util.startTimer();
  util.pauseComTimer();
  util.pauseComTimer();
  EXPECT_EQ(0, util.getTotalComTimeInSec());
  EXPECT_EQ(1999998, util.getTotalComTimeInMSec());  // not carried into seconds
  Util::clockSource = saved;
}

TEST(TimersDeathTest, ClockFailureExitsOneWithItsLine) {
  auto saved = Util::clockSource;
  Util::clockSource = failingClock;
  Util util;
  EXPECT_EXIT(STDOUT_TO_STDERR(util.startTimer()), ::testing::ExitedWithCode(1),
              output_test::onlyLine(
                  "The operating system does not support getting time zone information!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(util.pauseComTimer()), ::testing::ExitedWithCode(1),
              "time zone information");
  Util::clockSource = saved;
}
