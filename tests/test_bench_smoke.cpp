// Smoke run of the benchmark workloads at their smallest sizes: the check
// values only, no timing.
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
