// Smoke run of the benchmark workloads at their smallest sizes: the check
// values only, no timing. The engine-level versions must do the work of the
// handle-layer ones (same results, same peak of live nodes).
#include <gtest/gtest.h>

#include <cmath>

#include "kz_workloads.h"

TEST(BenchSmoke, QueensCountsSolutions) {
  const double expected[] = {4, 40, 92};  // boards 6, 7, 8
  for (int n = 6; n <= 8; n++) {
    kzb_result r = kzb_queens(n);
    EXPECT_EQ(r.count, expected[n - 6]) << "queens " << n;
    EXPECT_GT(r.nodes, 1) << "queens " << n;
    EXPECT_GE(r.peak_nodes, r.nodes) << "queens " << n;
  }
}

TEST(BenchSmoke, MultiplierMatchesBruteForce) {
  for (int n = 4; n <= 8; n++) {
    kzb_result r = kzb_multiplier(n);
    EXPECT_EQ(r.count, kzb_multiplier_bruteforce(n)) << "multiplier " << n;
    EXPECT_EQ(r.onset, r.count) << "multiplier " << n;
  }
  // Small cases worked by hand: bit 0 of a 1-bit product is a AND b; bit 1
  // of a 2-bit product is set for a*b in {2, 3, 6} (6 of the 16 pairs).
  EXPECT_EQ(kzb_multiplier_bruteforce(1), 1);
  EXPECT_EQ(kzb_multiplier_bruteforce(2), 6);
}

TEST(BenchSmoke, MilnerFusedAndSplitReachTheSameStates) {
  for (int n : {3, 5, 8}) {
    kzb_result fused = kzb_milner(n, true);
    kzb_result split = kzb_milner(n, false);
    double states = n * std::ldexp(1.0, n + 1);
    EXPECT_EQ(fused.iterations, 6 * n - 3) << "cyclers " << n;
    EXPECT_EQ(split.iterations, 6 * n - 3) << "cyclers " << n;
    EXPECT_EQ(fused.count, states) << "cyclers " << n;
    EXPECT_EQ(split.count, states) << "cyclers " << n;
    EXPECT_EQ(fused.nodes, split.nodes) << "cyclers " << n;
  }
}

TEST(BenchSmoke, TextFormRoundTripsAndRenames) {
  kzb_result r = kzb_textform(7);
  EXPECT_TRUE(r.ok) << r.note;
  EXPECT_EQ(r.count, kzb_multiplier_bruteforce(7));
  EXPECT_GT(r.text_bytes, r.nodes);
}

// The same operations in the same order leave the same results and pass
// through the same peak of live nodes.
static void expectSameRun(const kzb_result &engine, const kzb_result &handle, const char *what) {
  EXPECT_EQ(engine.count, handle.count) << what;
  EXPECT_EQ(engine.nodes, handle.nodes) << what;
  EXPECT_EQ(engine.iterations, handle.iterations) << what;
  EXPECT_EQ(engine.peak_nodes, handle.peak_nodes) << what;
}

TEST(BenchSmoke, EngineLevelWorkloadsMatchTheHandleLayer) {
  kzb_result q = kzb_engine_queens(8);
  EXPECT_EQ(q.count, 92);
  expectSameRun(q, kzb_queens(8), "queens 8");
  for (int n : {4, 7}) {
    kzb_result m = kzb_engine_multiplier(n);
    EXPECT_EQ(m.count, kzb_multiplier_bruteforce(n)) << "multiplier " << n;
    expectSameRun(m, kzb_multiplier(n), "multiplier");
  }
  for (bool fused : {true, false}) {
    kzb_result m = kzb_engine_milner(5, fused);
    EXPECT_EQ(m.iterations, 6 * 5 - 3);
    EXPECT_EQ(m.count, 5 * std::ldexp(1.0, 5 + 1));
    expectSameRun(m, kzb_milner(5, fused), fused ? "milner fused" : "milner split");
  }
}

TEST(BenchSmoke, LineReachesEveryStateAsTheBruteForceSays) {
  // One process: x0 climbs from 0 to 7 in seven steps, the eighth pre-image
  // adds nothing.
  long iterations = 0;
  EXPECT_EQ(kzb_line_bruteforce(1, &iterations), 8);
  EXPECT_EQ(iterations, 8);
  for (int n = 1; n <= 3; n++) {
    double states = kzb_line_bruteforce(n, &iterations);
    EXPECT_EQ(states, std::ldexp(1.0, 3 * n)) << "processes " << n;
    EXPECT_EQ(iterations, 7 * n + 1) << "processes " << n;
    kzb_result fused = kzb_line(n, true);
    kzb_result split = kzb_line(n, false);
    for (const kzb_result &r : {fused, split}) {
      EXPECT_EQ(r.count, states) << "processes " << n;
      EXPECT_EQ(r.onset, states) << "processes " << n;
      EXPECT_EQ(r.iterations, iterations) << "processes " << n;
    }
  }
}

// With the engine's own sizing the workloads collect garbage between their
// operations: a reference too few or too many in their own bookkeeping shows
// here.
TEST(BenchSmoke, WorkloadsHoldTheirReferencesThroughCollections) {
  kzb_default_sizing = true;
  kzb_result q = kzb_engine_queens(7);
  EXPECT_EQ(q.count, 40);
  EXPECT_GT(q.gcs, 0);
  for (bool fused : {true, false}) {
    kzb_result m = kzb_engine_milner(12, fused);
    EXPECT_EQ(m.iterations, 6 * 12 - 3);
    EXPECT_EQ(m.count, 12 * std::ldexp(1.0, 12 + 1));
    EXPECT_GT(m.gcs, 0);
    kzb_result line = kzb_line(8, fused);
    EXPECT_EQ(line.count, std::ldexp(1.0, 3 * 8));
    EXPECT_EQ(line.iterations, 7 * 8 + 1);
    EXPECT_GT(line.gcs, 0);
  }
  kzb_default_sizing = false;
}
