// Handle layer: phases, node inspection, sizes, smoothing, the cube and node
// generators, and the fatal paths.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <random>
#include <set>
#include <vector>

#include "kzuBdd/kzuBddInt.h"
#include "kzuPort/bdd.h"
#include "support/output.h"
#include "support/truth_table.h"

namespace {

class Handles : public ::testing::Test {
 protected:
  static constexpr int N = 6;
  bdd_manager *mgr = nullptr;
  std::vector<bdd_t *> v;
  std::vector<bdd_t *> owned;

  void SetUp() override {
    mgr = bdd_start(N);
    for (int i = 0; i < N; i++) v.push_back(bdd_get_variable(mgr, (bdd_variableId)i));
  }
  void TearDown() override {
    for (bdd_t *f : owned) bdd_free(f);
    for (bdd_t *f : v) bdd_free(f);
    bdd_end(mgr);
  }
  bdd_t *keep(bdd_t *f) {
    owned.push_back(f);
    return f;
  }
  TruthTable tt(bdd_t *f) { return tt_of_handle(f, N); }
  TruthTable var(int i) { return TruthTable::var(N, i); }
};

TEST_F(Handles, StartMakesVariablesInOrder) {
  EXPECT_EQ(bdd_num_vars(mgr), (unsigned)N);
  bdd_external_hooks *hooks = bdd_get_external_hooks(mgr);
  ASSERT_NE(hooks, nullptr);
  EXPECT_EQ(hooks->network, nullptr);
  EXPECT_EQ(hooks->mdd, nullptr);
  EXPECT_EQ(hooks->undef1, nullptr);
  for (int i = 0; i < N; i++) {
    EXPECT_EQ(bdd_top_var_id(v[i]), (bdd_variableId)i);
    EXPECT_EQ(bdd_get_manager(v[i]), mgr);
    EXPECT_EQ(v[i]->free, 0);
  }
}

TEST_F(Handles, PhasesNegateOnAnyValueButOne) {
  TruthTable a = var(0), b = var(1), c = var(2);
  EXPECT_EQ(tt(keep(bdd_and(v[0], v[1], 1, 1))), a & b);
  EXPECT_EQ(tt(keep(bdd_and(v[0], v[1], 1, 0))), a & ~b);
  EXPECT_EQ(tt(keep(bdd_and(v[0], v[1], 2, 1))), ~a & b);
  EXPECT_EQ(tt(keep(bdd_or(v[0], v[1], 0, 7))), ~a | ~b);
  EXPECT_EQ(tt(keep(bdd_or(v[0], v[1], 1, 1))), a | b);
  EXPECT_EQ(tt(keep(bdd_ite(v[0], v[1], v[2], 1, 1, 1))), tt_ite(a, b, c));
  EXPECT_EQ(tt(keep(bdd_ite(v[0], v[1], v[2], 0, 1, 0))), tt_ite(~a, b, ~c));
  EXPECT_EQ(tt(keep(bdd_ite(v[0], v[1], v[2], 1, -1, 1))), tt_ite(a, ~b, c));
  EXPECT_EQ(tt(keep(bdd_xor(v[0], v[1]))), a ^ b);
  EXPECT_EQ(tt(keep(bdd_xnor(v[0], v[1]))), ~(a ^ b));
  EXPECT_EQ(tt(keep(bdd_not(v[3]))), ~var(3));
}

TEST_F(Handles, EqualityIsEdgeIdentity) {
  bdd_t *f = keep(bdd_and(v[0], v[1], 1, 1));
  bdd_t *nf = keep(bdd_not(f));
  bdd_t *nnf = keep(bdd_not(nf));
  EXPECT_TRUE(bdd_equal(f, nnf));
  EXPECT_FALSE(bdd_equal(f, nf));
  EXPECT_TRUE(bdd_equal(f, keep(bdd_dup(f))));
  EXPECT_TRUE(bdd_equal(f, keep(bdd_and(v[1], v[0], 1, 1))));
  EXPECT_TRUE(bdd_is_tautology(keep(bdd_one(mgr)), 1));
  EXPECT_TRUE(bdd_is_tautology(keep(bdd_zero(mgr)), 0));
  EXPECT_TRUE(bdd_is_tautology(keep(bdd_zero(mgr)), 5));
  EXPECT_FALSE(bdd_is_tautology(f, 1));
  EXPECT_FALSE(bdd_is_tautology(keep(bdd_or(v[2], v[2], 1, 0)), 0));
  EXPECT_TRUE(bdd_is_tautology(keep(bdd_or(v[2], v[2], 1, 0)), 1));
}

TEST_F(Handles, NodeInspectionOfANegatedVariable) {
  bdd_t *nx = keep(bdd_not(v[2]));
  boolean cx = 7, cn = 7;
  bdd_node *px = bdd_get_node(v[2], &cx);
  bdd_node *pn = bdd_get_node(nx, &cn);
  EXPECT_EQ(px, pn);
  EXPECT_EQ(cx, 0);
  EXPECT_EQ(cn, 1);
  EXPECT_EQ((uintptr_t)nx->node, (uintptr_t)v[2]->node + 1);
  EXPECT_EQ((uintptr_t)px & 7, 0u);
  EXPECT_TRUE(bdd_is_tautology(keep(bdd_then(nx)), 0));
  EXPECT_TRUE(bdd_is_tautology(keep(bdd_else(nx)), 1));
  EXPECT_EQ(bdd_top_var_id(nx), bdd_top_var_id(v[2]));
  // The then-cofactor is complemented exactly when the handle is.
  bdd_t *f = keep(bdd_ite(v[0], v[1], v[3], 1, 0, 1));  // x0 ? !x1 : x3
  boolean c;
  bdd_get_node(keep(bdd_then(f)), &c);
  bdd_get_node(f, &cn);
  EXPECT_EQ(c, cn);
  EXPECT_EQ(tt(keep(bdd_then(f))), ~var(1));
  EXPECT_EQ(tt(keep(bdd_else(f))), var(3));
  // A walk down to a constant meets the single terminal node.
  boolean ct, cf;
  bdd_node *t = bdd_get_node(keep(bdd_one(mgr)), &ct);
  EXPECT_EQ(bdd_get_node(keep(bdd_zero(mgr)), &cf), t);
  EXPECT_EQ(ct, 0);
  EXPECT_EQ(cf, 1);
}

TEST_F(Handles, ConstantsInInspection) {
  bdd_t *one = keep(bdd_one(mgr));
  EXPECT_EQ(bdd_top_var_id(one), 4294967294u);
  EXPECT_EQ(bdd_top_var_id(keep(bdd_zero(mgr))), 4294967294u);
  testing::internal::CaptureStderr();
  bdd_t *t = keep(bdd_then(one));
  bdd_t *e = keep(bdd_else(keep(bdd_zero(mgr))));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "BDD library: warning: kzu_bdd_then: argument is a constant\n"
            "BDD library: warning: kzu_bdd_else: argument is a constant\n");
  EXPECT_TRUE(bdd_is_tautology(t, 1));
  EXPECT_TRUE(bdd_is_tautology(e, 0));
}

TEST_F(Handles, SizeCountsEachNodeOnce) {
  EXPECT_EQ(bdd_size(keep(bdd_one(mgr))), 1);
  EXPECT_EQ(bdd_size(keep(bdd_zero(mgr))), 1);
  EXPECT_EQ(bdd_size(v[4]), 2);
  bdd_t *f = keep(bdd_and(v[0], v[1], 1, 1));
  EXPECT_EQ(bdd_size(f), 3);
  EXPECT_EQ(bdd_size(keep(bdd_not(f))), 3);
  EXPECT_EQ(bdd_size(keep(bdd_xor(v[0], v[1]))), 3);
}

TEST_F(Handles, SmoothQuantifiesTheGivenVariables) {
  bdd_t *f = keep(bdd_and(v[0], keep(bdd_or(v[1], v[2], 1, 0)), 1, 1));  // x0 & (x1 | !x2)
  array_t *vars = array_alloc(bdd_t *, 0);
  array_insert_last(bdd_t *, vars, v[0]);
  EXPECT_EQ(tt(keep(bdd_smooth(f, vars))), var(1) | ~var(2));
  array_insert_last(bdd_t *, vars, v[1]);
  EXPECT_EQ(tt(keep(bdd_smooth(f, vars))), TruthTable(N, true));
  array_free(vars);
  vars = array_alloc(bdd_t *, 0);
  array_insert_last(bdd_t *, vars, v[5]);
  EXPECT_TRUE(bdd_equal(keep(bdd_smooth(f, vars)), f));
  array_free(vars);
}

// Collects the cubes of f as vectors of 0/1/2.
static std::vector<std::vector<int>> Cubes(bdd_t *f) {
  std::vector<std::vector<int>> out;
  array_t *cube;
  bdd_gen *gen;
  foreach_bdd_cube(f, gen, cube) {
    std::vector<int> c;
    for (int i = 0; i < array_n(cube); i++) c.push_back(array_fetch(int, cube, i));
    out.push_back(c);
  }
  return out;
}

TEST_F(Handles, CubesOfAnOrInOrder) {
  bdd_t *f = keep(bdd_or(v[0], v[1], 1, 1));
  array_t *cube;
  bdd_gen *gen = bdd_first_cube(f, &cube);
  EXPECT_EQ(bdd_gen_read_status(gen), bdd_NONEMPTY);
  ASSERT_EQ(array_n(cube), N);
  std::vector<int> first;
  for (int i = 0; i < N; i++) first.push_back(array_fetch(int, cube, i));
  EXPECT_EQ(first, (std::vector<int>{0, 1, 2, 2, 2, 2}));
  EXPECT_TRUE(bdd_next_cube(gen, &cube));
  std::vector<int> second;
  for (int i = 0; i < N; i++) second.push_back(array_fetch(int, cube, i));
  EXPECT_EQ(second, (std::vector<int>{1, 2, 2, 2, 2, 2}));
  EXPECT_FALSE(bdd_next_cube(gen, &cube));
  EXPECT_EQ(bdd_gen_read_status(gen), bdd_EMPTY);
  EXPECT_EQ(bdd_gen_free(gen), 0);

  gen = bdd_first_cube(keep(bdd_zero(mgr)), &cube);
  EXPECT_EQ(bdd_gen_read_status(gen), bdd_EMPTY);
  bdd_gen_free(gen);
  EXPECT_EQ(Cubes(keep(bdd_one(mgr))), (std::vector<std::vector<int>>{{2, 2, 2, 2, 2, 2}}));
}

TEST_F(Handles, CubesPartitionTheOnSet) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; round++) {
    // Random function as an OR of random minterm-ish cubes.
    bdd_t *f = bdd_zero(mgr);
    TruthTable want(N);
    for (int k = 0; k < 5; k++) {
      bdd_t *c = bdd_one(mgr);
      TruthTable tc(N, true);
      for (int i = 0; i < N; i++) {
        unsigned r = rng() % 3;
        if (r == 2) continue;
        bdd_t *nc = bdd_and(c, v[i], 1, r == 1 ? 1 : 0);
        bdd_free(c);
        c = nc;
        tc = tc & (r == 1 ? var(i) : ~var(i));
      }
      bdd_t *nf = bdd_or(f, c, 1, 1);
      bdd_free(f);
      bdd_free(c);
      f = nf;
      want = want | tc;
    }
    auto cubes = Cubes(f);
    TruthTable seen(N);
    for (auto &c : cubes) {
      TruthTable tc(N, true);
      for (int i = 0; i < N; i++)
        if (c[i] != 2) tc = tc & (c[i] == 1 ? var(i) : ~var(i));
      EXPECT_TRUE((seen & tc).is_const(false)) << "cubes overlap";
      seen = seen | tc;
    }
    EXPECT_EQ(seen, want);
    // Lexicographic order of the paths: 0 before 1, 2 marking an absent variable.
    for (size_t k = 1; k < cubes.size(); k++) {
      size_t i = 0;
      while (cubes[k - 1][i] == cubes[k][i]) i++;
      EXPECT_EQ(cubes[k - 1][i], 0);
      EXPECT_EQ(cubes[k][i], 1);
    }
    bdd_free(f);
  }
}

TEST_F(Handles, GeneratorKeepsItsFunctionAlive) {
  bdd_t *f = bdd_xor(v[0], keep(bdd_and(v[1], v[2], 1, 1)));
  array_t *cube;
  bdd_gen *gen = bdd_first_cube(f, &cube);
  bdd_free(f);
  int n = 1;
  while (bdd_next_cube(gen, &cube)) n++;
  EXPECT_EQ(n, 3);
  bdd_gen_free(gen);
}

TEST_F(Handles, NodeGeneratorVisitsEveryNodeOnce) {
  bdd_t *f = keep(bdd_ite(v[0], keep(bdd_xor(v[1], v[3])), keep(bdd_and(v[2], v[3], 1, 0)), 1, 1, 1));
  std::set<bdd_node *> seen;
  bdd_node *node;
  bdd_gen *gen;
  foreach_bdd_node(f, gen, node) {
    EXPECT_EQ((uintptr_t)node & 7, 0u);
    EXPECT_TRUE(seen.insert(node).second);
    // Children come before their parents.
    if (node->indexindex != 0) {
      EXPECT_TRUE(seen.count(bdd_regular(node->data[0])));
      EXPECT_TRUE(seen.count(bdd_regular(node->data[1])));
    }
  }
  EXPECT_EQ((int)seen.size(), bdd_size(f));
  boolean c;
  EXPECT_TRUE(seen.count(bdd_get_node(f, &c)));
}

using HandlesDeath = Handles;

TEST_F(HandlesDeath, FatalPaths) {
  EXPECT_DEATH(bdd_free(nullptr), "Fatal error: file .*bddPort.cpp, line [0-9]+\nbdd_free: trying to free a NIL bdd_t\n");
  EXPECT_EXIT(bdd_get_variable(mgr, N), testing::ExitedWithCode(1),
              "^BDD library: error: bdd_get_variable: assumption violated\n$");
  bdd_t *last = bdd_get_variable(mgr, N - 1);
  EXPECT_EQ(bdd_top_var_id(last), (bdd_variableId)(N - 1));
  bdd_free(last);
  array_t *empty = array_alloc(bdd_t *, 0);
  EXPECT_EXIT(bdd_smooth(v[0], empty), testing::ExitedWithCode(1),
              "^BDD library: error: bdd_smooth: no smoothing variables\n$");
  array_free(empty);
  EXPECT_EXIT(bdd_first_cube(nullptr, nullptr), testing::ExitedWithCode(1), "bdd_first_cube: invalid BDD");
  EXPECT_EXIT(bdd_first_node(nullptr, nullptr), testing::ExitedWithCode(1), "bdd_first_node: invalid BDD");
  EXPECT_EXIT(bdd_construct_bdd_t(mgr, nullptr), testing::ExitedWithCode(1),
              "^BDD library: error: bdd_construct_bdd_t: possible memory overflow\n$");
  // A handle whose node lost its last reference.
  bdd_t *f = bdd_and(v[0], v[1], 1, 1);
  bdd_t stale = *f;
  bdd_free(f);
  EXPECT_EXIT(bdd_and(&stale, v[2], 1, 1), testing::ExitedWithCode(1),
              "^BDD library: error: bdd_check_arguments: argument has zero references\n$");
  // A released record waits on the free list, still marked: a second
  // release is caught until the record is handed out again.
  bdd_t *g = bdd_or(v[0], v[1], 1, 1);
  bdd_free(g);
  EXPECT_DEATH(bdd_free(g), "\nbdd_free: trying to free a freed bdd_t\n");
  bdd_t *again = bdd_or(v[2], v[3], 1, 1);
  EXPECT_EQ(again, g);
  EXPECT_EQ(tt(again), var(2) | var(3));
  bdd_free(again);
}

// Memory that runs out behind an out-of-memory hook that returns: the
// handle layer reports it instead of using a null record.
void oomHookReturns(size_t) {}

void dupUntilMemoryRunsOut(bdd_t *f) {
  MMoutOfMemory = oomHookReturns;
  std::vector<bdd_t *> held;
  held.reserve(1 << 22);
  struct rlimit lim;
  getrlimit(RLIMIT_AS, &lim);
  lim.rlim_cur = 0;  // no further memory from the system
  setrlimit(RLIMIT_AS, &lim);
  for (int i = 0; i < (1 << 22); i++) held.push_back(bdd_dup(f));
}

TEST_F(HandlesDeath, OutOfMemoryForHandlesIsReported) {
  if (KZ_UNDER_ASAN) GTEST_SKIP() << "address-space limit conflicts with the sanitizer";
  EXPECT_EXIT(dupUntilMemoryRunsOut(v[0]), testing::ExitedWithCode(1),
              "^BDD library: error: bdd_construct_bdd_t: possible memory overflow\n$");
}

}  // namespace
