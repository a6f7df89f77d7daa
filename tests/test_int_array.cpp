// The integer-array form: writer layout, round trips, the primed reader and
// the illegal-id, incomplete-record and n = 0 cases.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "ProgramStructure.h"
#include "Util.h"

namespace {

std::string onlyLine(const std::string &line) {
  std::string re = "^";
  for (char c : line) {
    if (std::string(".[]()*+?{}|^$\\").find(c) != std::string::npos) re += '\\';
    re += c;
  }
  return re + "\n$";
}

#define STDOUT_TO_STDERR(stmt) \
  {                            \
    dup2(2, 1);                \
    stmt;                      \
  }

class IntArrayTest : public ::testing::Test {
 protected:
  ProgramStructure ps;
  mdd_manager *mgr = nullptr;

  void SetUp() override {
    ::testing::internal::CaptureStdout();
    ps.Init();
    ::testing::internal::GetCapturedStdout();
    mgr = ps.getMDDManager();
  }
  void TearDown() override {
    ps.release();
    mdd_quit(mgr);
  }

  bdd_t *cube(const std::vector<std::pair<int, int>> &values) {
    bdd_t *c = bdd_one(mgr);
    for (auto [id, v] : values) {
      bdd_t *lit = mdd_func1c(mgr, id, v, eq2);
      bdd_t *n = bdd_and(c, lit, 1, 1);
      bdd_free(c);
      bdd_free(lit);
      c = n;
    }
    return c;
  }
  // A random set of states over the first n variables.
  bdd_t *randomSet(std::mt19937 &rng, int n, int states) {
    bdd_t *r = bdd_zero(mgr);
    for (int s = 0; s < states; s++) {
      std::vector<std::pair<int, int>> vals;
      for (int id = 0; id < n; id++) vals.emplace_back(id, (int)(rng() % 4));
      bdd_t *c = cube(vals);
      bdd_t *u = bdd_or(r, c, 1, 1);
      bdd_free(r);
      bdd_free(c);
      r = u;
    }
    return r;
  }
  array_t *firstIds(int n) {
    array_t *a = array_alloc(int, 0);
    for (int i = 0; i < n; i++) array_insert_last(int, a, i);
    return a;
  }
  std::vector<int> serialize(bdd_t *f, array_t *vars) {
    // 4^n states at most over n variables of 4 values.
    int cap = 2 * array_n(vars);
    for (int i = 0; i < array_n(vars); i++) cap *= 4;
    std::vector<int> out((size_t)cap + 1, -7);
    int k = Util::SerializeMDD(f, nullptr, nullptr, vars, out.data());
    EXPECT_EQ(-7, out[(size_t)k]) << "nothing written beyond the returned count";
    out.resize((size_t)k);
    return out;
  }
};

TEST_F(IntArrayTest, EmptyAndFullSets) {
  array_t *vars = firstIds(6);
  bdd_t *zero = bdd_zero(mgr), *one = bdd_one(mgr);
  EXPECT_TRUE(serialize(zero, vars).empty());
  bdd_t *back = Util::UnSerializeMDD(mgr, nullptr, 0, 6);
  EXPECT_TRUE(bdd_is_tautology(back, 0));
  bdd_free(back);

  std::vector<int> full = serialize(one, vars);
  ASSERT_EQ(2u * 6 * 4096, full.size());
  for (size_t j = 0; j < full.size(); j += 2) EXPECT_EQ((int)(j / 2 % 6), full[j]);
  back = Util::UnSerializeMDD(mgr, full.data(), (int)full.size(), 6);
  EXPECT_TRUE(bdd_is_tautology(back, 1));
  for (bdd_t *h : {zero, one, back}) bdd_free(h);
  array_free(vars);
}

TEST_F(IntArrayTest, RoundTripsOverAllVariablesAndPrefixes) {
  std::mt19937 rng(11);
  for (int n = 1; n <= 6; n++) {
    array_t *vars = firstIds(n);
    for (int round = 0; round < 6; round++) {
      bdd_t *f = randomSet(rng, n, 1 + (int)(rng() % 40));
      std::vector<int> a = serialize(f, vars);
      ASSERT_EQ(0u, a.size() % (2u * n));
      bdd_t *back = Util::UnSerializeMDD(mgr, a.data(), (int)a.size(), n);
      EXPECT_TRUE(bdd_equal(back, f)) << "n = " << n;
      bdd_free(back);
      bdd_free(f);
    }
    array_free(vars);
  }
}

TEST_F(IntArrayTest, WriterPutsPositionsNotIds) {
  array_t *vars = ps.getUnPrimedmVars();  // ids 0, 2, 4 at positions 0, 1, 2
  bdd_t *f = cube({{0, 1}, {2, 3}, {4, 0}});
  std::vector<int> a = serialize(f, vars);
  EXPECT_EQ((std::vector<int>{0, 1, 1, 3, 2, 0}), a);
  bdd_t *back = Util::UnSerializeMDD(mgr, a.data(), (int)a.size(), 3);
  bdd_t *positional = cube({{0, 1}, {1, 3}, {2, 0}});
  EXPECT_TRUE(bdd_equal(back, positional));
  for (bdd_t *h : {f, back, positional}) bdd_free(h);
}

TEST_F(IntArrayTest, PrimedReaderShiftsEveryId) {
  int a[] = {0, 1, 2, 3, 4, 2};
  bdd_t *p = Util::getPrimedUnSerializedMDD(mgr, a, 6, 3);
  bdd_t *expected = cube({{1, 1}, {3, 3}, {5, 2}});
  EXPECT_TRUE(bdd_equal(p, expected));
  // Ids 4 and 5 are accepted by the plain reader.
  int b[] = {4, 1, 5, 2};
  bdd_t *q = Util::UnSerializeMDD(mgr, b, 4, 2);
  bdd_t *expectedQ = cube({{4, 1}, {5, 2}});
  EXPECT_TRUE(bdd_equal(q, expectedQ));
  for (bdd_t *h : {p, expected, q, expectedQ}) bdd_free(h);
}

TEST_F(IntArrayTest, IncompleteRecordsAndZeroPairsAddNothing) {
  int a[] = {0, 1, 1, 2, /* incomplete: */ 0, 3, 5};
  bdd_t *expected = cube({{0, 1}, {1, 2}});
  bdd_t *r6 = Util::UnSerializeMDD(mgr, a, 6, 2);
  bdd_t *r7 = Util::UnSerializeMDD(mgr, a, 7, 2);  // the lone 5 is never read as a pair
  EXPECT_TRUE(bdd_equal(r6, expected));
  EXPECT_TRUE(bdd_equal(r7, expected));
  bdd_t *r0 = Util::UnSerializeMDD(mgr, a, 6, 0);
  EXPECT_TRUE(bdd_is_tautology(r0, 0));
  // A value outside the domain matches no state.
  int out[] = {0, 9};
  bdd_t *none = Util::UnSerializeMDD(mgr, out, 2, 1);
  EXPECT_TRUE(bdd_is_tautology(none, 0));
  for (bdd_t *h : {expected, r6, r7, r0, none}) bdd_free(h);
}

using IntArrayDeathTest = IntArrayTest;

TEST_F(IntArrayDeathTest, IllegalIdsEndTheProcess) {
  int six[] = {6, 0};
  int neg[] = {0, 1, -1, 0};
  int five[] = {5, 0};
  int lone[] = {0, 1, 9};
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::UnSerializeMDD(mgr, six, 2, 1)), ::testing::ExitedWithCode(1),
              onlyLine("Util::UnSerializeMDD: Observed an illegal varID! 6"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::UnSerializeMDD(mgr, neg, 4, 2)), ::testing::ExitedWithCode(1),
              onlyLine("Util::UnSerializeMDD: Observed an illegal varID! -1"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::UnSerializeMDD(mgr, lone, 3, 1)), ::testing::ExitedWithCode(1),
              onlyLine("Util::UnSerializeMDD: Observed an illegal varID! 9"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::getPrimedUnSerializedMDD(mgr, five, 2, 1)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util::getPrimedUnSerializedMDD: Observed an illegal varID! 6"));
}

}  // namespace
