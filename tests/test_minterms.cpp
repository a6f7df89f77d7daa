// Minterm enumeration, guards and the projections onto one copy of the
// variables.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ProgramStructure.h"
#include "Util.h"

namespace {

class MintermTest : public ::testing::Test {
 protected:
  ProgramStructure ps;
  mdd_manager *mgr = nullptr;
  Util util;

  void SetUp() override {
    ::testing::internal::CaptureStdout();
    ps.Init();
    ::testing::internal::GetCapturedStdout();
    mgr = ps.getMDDManager();
  }
  void TearDown() override {
    util.releaseMinterms();
    ps.release();
    mdd_quit(mgr);
  }

  // The cube of the given (mvar id, value) literals.
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
  // A random set of full states over all six variables.
  bdd_t *randomRelation(std::mt19937 &rng, int states) {
    bdd_t *r = bdd_zero(mgr);
    for (int s = 0; s < states; s++) {
      std::vector<std::pair<int, int>> vals;
      for (int id = 0; id < 6; id++) vals.emplace_back(id, (int)(rng() % 4));
      bdd_t *c = cube(vals);
      bdd_t *n = bdd_or(r, c, 1, 1);
      bdd_free(r);
      bdd_free(c);
      r = n;
    }
    return r;
  }
  array_t *ids(std::initializer_list<int> list) {
    array_t *a = array_alloc(int, 0);
    for (int i : list) array_insert_last(int, a, i);
    return a;
  }
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

}  // namespace
