// Renaming between current-state and next-state variables through the text
// form, against functions built directly over the swapped variables.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>

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

// A seeded random function of bvars 0..nvars-1; leaf i is built as mapVar(i),
// so the same seed with another mapping gives the renamed function.
template <class MapVar>
bdd_t *randomFunction(mdd_manager *mgr, std::mt19937 &rng, int nvars, int depth, MapVar mapVar) {
  if (depth == 0 || rng() % 5 == 0) {
    bdd_t *v = bdd_get_variable(mgr, (bdd_variableId)mapVar((int)(rng() % (unsigned)nvars)));
    if (rng() % 2 == 0) return v;
    bdd_t *n = bdd_not(v);
    bdd_free(v);
    return n;
  }
  bdd_t *a = randomFunction(mgr, rng, nvars, depth - 1, mapVar);
  bdd_t *b = randomFunction(mgr, rng, nvars, depth - 1, mapVar);
  bdd_t *r;
  switch (rng() % 3) {
    case 0: r = bdd_and(a, b, 1, rng() % 2 ? 1 : 0); break;
    case 1: r = bdd_or(a, b, rng() % 2 ? 1 : 0, 1); break;
    default: r = bdd_ite(a, b, b, 1, 0, 1); break;
  }
  bdd_free(a);
  bdd_free(b);
  return r;
}

class RenamingTest : public ::testing::Test {
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

  int swap(int b) {
    auto it = ps.primedToUnPrimedBvar.find(b);
    return it != ps.primedToUnPrimedBvar.end() ? it->second : ps.unPrimedToPrimedBvar.at(b);
  }
  bdd_t *primed(bdd_t *f) {
    ::testing::internal::CaptureStdout();
    bdd_t *r = Util::genPrimed(f, mgr, &ps);
    std::string out = ::testing::internal::GetCapturedStdout();
    bool constant = bdd_is_tautology(f, 1) || bdd_is_tautology(f, 0);
    EXPECT_EQ(constant ? "" : "Finished calcualting the MDD from the given string!\n", out);
    return r;
  }
  bdd_t *unprimed(bdd_t *f) {
    ::testing::internal::CaptureStdout();
    bdd_t *r = Util::genUnPrimed(f, mgr, &ps);
    ::testing::internal::GetCapturedStdout();
    return r;
  }
};

TEST_F(RenamingTest, ConstantsComeBackAsNewConstants) {
  bdd_t *one = bdd_one(mgr), *zero = bdd_zero(mgr);
  bdd_t *a = primed(one), *b = primed(zero), *c = unprimed(one);
  EXPECT_TRUE(bdd_is_tautology(a, 1));
  EXPECT_TRUE(bdd_is_tautology(b, 0));
  EXPECT_TRUE(bdd_is_tautology(c, 1));
  for (bdd_t *h : {one, zero, a, b, c}) bdd_free(h);
}

TEST_F(RenamingTest, LiteralsKeepTheirPolarity) {
  for (int b = 0; b < 12; b++) {
    bdd_t *x = bdd_get_variable(mgr, (bdd_variableId)b);
    bdd_t *nx = bdd_not(x);
    bdd_t *y = bdd_get_variable(mgr, (bdd_variableId)swap(b));
    bdd_t *ny = bdd_not(y);
    bdd_t *rx = primed(x), *rnx = primed(nx), *ux = unprimed(x);
    EXPECT_TRUE(bdd_equal(rx, y)) << b;
    EXPECT_TRUE(bdd_equal(rnx, ny)) << b;
    EXPECT_TRUE(bdd_equal(ux, y)) << "the direction follows the maps, bvar " << b;
    for (bdd_t *h : {x, nx, y, ny, rx, rnx, ux}) bdd_free(h);
  }
}

TEST_F(RenamingTest, RandomFunctionsAreSwappedAndTheSwapIsAnInvolution) {
  for (unsigned seed = 1; seed <= 120; seed++) {
    std::mt19937 rng(seed);
    bdd_t *f = randomFunction(mgr, rng, 12, 6, [](int i) { return i; });
    rng.seed(seed);
    bdd_t *expected = randomFunction(mgr, rng, 12, 6, [&](int i) { return swap(i); });
    bdd_t *p = primed(f);
    EXPECT_TRUE(bdd_equal(p, expected)) << seed;
    bdd_t *pp = primed(p);
    bdd_t *up = unprimed(p);
    EXPECT_TRUE(bdd_equal(pp, f)) << seed;
    EXPECT_TRUE(bdd_equal(up, f)) << seed;
    for (bdd_t *h : {f, expected, p, pp, up}) bdd_free(h);
  }
}

TEST_F(RenamingTest, MultiValuedPredicatesMoveToTheOtherCopy) {
  bdd_t *eq = mdd_func2(mgr, 0, 4, eq2);   // x1 = x3
  bdd_t *eqP = mdd_func2(mgr, 1, 5, eq2);  // x1p = x3p
  bdd_t *r = primed(eq);
  EXPECT_TRUE(bdd_equal(r, eqP));
  bdd_t *mixed = mdd_func2(mgr, 0, 1, neq2);  // x1 != x1p is its own swap
  bdd_t *rm = primed(mixed);
  EXPECT_TRUE(bdd_equal(rm, mixed));
  for (bdd_t *h : {eq, eqP, r, mixed, rm}) bdd_free(h);
}

// A bvar in neither map: a manager with one Boolean variable more than the
// model's (bvar 12), renamed with the model's maps.
class RenamingDeathTest : public RenamingTest {
 protected:
  mdd_manager *wide = nullptr;
  void SetUp() override {
    RenamingTest::SetUp();
    array_t *values = array_alloc(int, 0);
    for (int i = 0; i < 6; i++) array_insert_last(int, values, 4);
    array_insert_last(int, values, 2);
    wide = mdd_init(values, nullptr, nullptr);
    array_free(values);
  }
  void TearDown() override {
    mdd_quit(wide);
    RenamingTest::TearDown();
  }
  bdd_t *v(int id) { return bdd_get_variable(wide, (bdd_variableId)id); }
};

TEST_F(RenamingDeathTest, AnIdWithoutCounterpartEndsWithItsPosition) {
  bdd_t *extra = v(12), *x0 = v(0), *x1 = v(1);
  bdd_t *thenSide = bdd_and(x0, extra, 1, 1);  // x0 ? extra : F
  bdd_t *elseSide = bdd_or(x0, extra, 1, 1);   // x0 ? T : extra
  bdd_t *inner = bdd_and(x1, extra, 1, 1);
  bdd_t *deeper = bdd_and(x0, inner, 1, 1);    // met as the Then child of line 2
  bdd_t *negRoot = bdd_not(extra);

  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(extra, wide, &ps)), ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the root node!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(negRoot, wide, &ps)), ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the root node!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(thenSide, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the Then child!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(elseSide, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the Else child!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(deeper, wide, &ps)), ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the Then child!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genUnPrimed(extra, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genUnPrimed():  Invalid var_id of the root node!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genUnPrimed(thenSide, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genUnPrimed():  Invalid var_id of the Then child!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genUnPrimed(elseSide, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genUnPrimed():  Invalid var_id of the Else child!"));
  for (bdd_t *h : {extra, x0, x1, thenSide, elseSide, inner, deeper, negRoot}) bdd_free(h);
}

}  // namespace
