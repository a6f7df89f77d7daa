// Minterm enumeration, guards, the projections onto one copy of the
// variables, and the integer-array form (writer layout, round trips, the
// primed reader, illegal ids, incomplete records and n = 0).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ProgramStructure.h"
#include "Util.h"
#include "support/output.h"
#include "support/program_model.h"

namespace {

using output_test::onlyLine;

class MintermTest : public ::testing::Test {
 protected:
  model_test::TestModel model;
  ProgramStructure &ps = model.ps;
  mdd_manager *mgr = model.mgr;
  Util util;

  void TearDown() override { util.releaseMinterms(); }

  // The cube of the given (mvar id, value) literals.
  bdd_t *cube(const std::vector<std::pair<int, int>> &values) {
    return model_test::cube(mgr, values);
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
  // A random set of full states over all six variables.
  bdd_t *randomRelation(std::mt19937 &rng, int states) { return randomSet(rng, 6, states); }
  array_t *ids(std::initializer_list<int> list) { return model_test::intArray(list); }
};

TEST_F(MintermTest, IsSat) {
  array_t *vars = ids({0, 2, 4});
  bdd_t *zero = bdd_zero(mgr), *one = bdd_one(mgr);
  bdd_t *some = cube({{2, 3}, {3, 1}});  // mentions x2p, not enumerated
  bdd_t *none = bdd_and(some, some, 1, 0);
  EXPECT_FALSE(Util::isSat(zero, nullptr, nullptr, vars));
  EXPECT_TRUE(Util::isSat(one, nullptr, nullptr, vars));
  EXPECT_TRUE(Util::isSat(some, nullptr, nullptr, vars));
  EXPECT_FALSE(Util::isSat(none, nullptr, nullptr, vars));
  for (bdd_t *h : {zero, one, some, none}) bdd_free(h);
  array_free(vars);
}

TEST_F(MintermTest, CalMintermsOfTrueOverTwoVariablesGivesSixteenTexts) {
  bdd_t *one = bdd_one(mgr);
  util.calMinterms(one, mgr, nullptr, nullptr, {{0, "x1 = "}, {2, "x2 = "}});
  std::set<std::string> expected;
  for (int a = 0; a < 4; a++)
    for (int b = 0; b < 4; b++)
      expected.insert("x1 = " + std::to_string(a) + " x2 = " + std::to_string(b) + " ");
  EXPECT_EQ(expected, util.getMintermsAsSet());
  EXPECT_TRUE(bdd_is_tautology(util.getMintermsAsMDD(), 1));

  // A second call replaces both results.
  bdd_t *zero = bdd_zero(mgr);
  util.calMinterms(zero, mgr, nullptr, nullptr, {{0, "x1 = "}, {2, "x2 = "}});
  EXPECT_TRUE(util.getMintermsAsSet().empty());
  EXPECT_TRUE(bdd_is_tautology(util.getMintermsAsMDD(), 0));
  bdd_t *guard = Util::getGuard(zero, mgr, nullptr, nullptr, ps.getUnPrimedmVarsMap());
  EXPECT_TRUE(bdd_is_tautology(guard, 0));
  for (bdd_t *h : {one, zero, guard}) bdd_free(h);
}

TEST_F(MintermTest, MintermsAgreeingOnTheListedVariablesCountOnce) {
  bdd_t *a = cube({{0, 1}, {1, 0}, {2, 2}});
  bdd_t *b = cube({{0, 1}, {1, 3}, {2, 2}});
  bdd_t *f = bdd_or(a, b, 1, 1);
  util.calMinterms(f, mgr, nullptr, nullptr, {{0, "x1 = "}, {2, "x2 = "}});
  EXPECT_EQ((std::set<std::string>{"x1 = 1 x2 = 2 "}), util.getMintermsAsSet());
  bdd_t *expected = cube({{0, 1}, {2, 2}});
  EXPECT_TRUE(bdd_equal(expected, util.getMintermsAsMDD()));
  for (bdd_t *h : {a, b, f, expected}) bdd_free(h);
}

TEST_F(MintermTest, GuardIsTheQuantificationOfTheNextStateVariables) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40; round++) {
    bdd_t *rel = randomRelation(rng, 1 + round * 3);
    bdd_t *guard = Util::getGuard(rel, mgr, nullptr, nullptr, ps.getUnPrimedmVarsMap());
    bdd_t *expected = mdd_smooth(mgr, rel, ps.getPrimedmVars());
    EXPECT_TRUE(bdd_equal(guard, expected)) << round;
    bdd_t *onlyCurrent = mdd_smooth(mgr, guard, ps.getPrimedmVars());
    EXPECT_TRUE(bdd_equal(onlyCurrent, guard)) << "no next-state variable is left";
    for (bdd_t *h : {rel, guard, expected, onlyCurrent}) bdd_free(h);
  }
}

TEST_F(MintermTest, ExtractPrimedAndUnPrimedProjectOntoTheOtherCopy) {
  array_t *all = ids({0, 1, 2, 3, 4, 5});
  bdd_t *f = cube({{0, 1}, {1, 2}});
  bdd_t *p = Util::extractPrimed(f, mgr, nullptr, nullptr, all, {{0, "x1 = "}});
  bdd_t *expectedP = cube({{1, 2}});
  EXPECT_TRUE(bdd_equal(p, expectedP));

  bdd_t *g = cube({{2, 3}, {3, 0}, {4, 1}});
  bdd_t *u = Util::extractUnPrimed(g, mgr, nullptr, nullptr, all, ps.getPrimedmVarsMap());
  bdd_t *expectedU = cube({{2, 3}, {4, 1}});
  EXPECT_TRUE(bdd_equal(u, expectedU));

  // The guard-style projection with all current-state labels keeps all the
  // next-state values of a random relation.
  std::mt19937 rng(9);
  bdd_t *rel = randomRelation(rng, 25);
  bdd_t *next = Util::extractPrimed(rel, mgr, nullptr, nullptr, all, ps.getUnPrimedmVarsMap());
  bdd_t *expectedNext = mdd_smooth(mgr, rel, ps.getUnPrimedmVars());
  EXPECT_TRUE(bdd_equal(next, expectedNext));
  for (bdd_t *h : {f, p, expectedP, g, u, expectedU, rel, next, expectedNext}) bdd_free(h);
  array_free(all);
}

class IntArrayTest : public MintermTest {
 protected:
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
