// Variable reordering: exchanges, sifting, the window and hybrid methods,
// blocks and the dynamic trigger, checked against truth tables, canonical
// rebuilding and the heap checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "kzuBdd/kzuBddInt.h"
#include "kzuPort/bdd.h"
#include "support/truth_table.h"

namespace {

struct Held {
  bdd e;
  TruthTable t;
};

class Reorder : public ::testing::Test {
 protected:
  kzu_bdd_manager m = nullptr;
  std::vector<bdd> x;  // x[i] = engine variable id i + 1
  int n = 0;
  std::mt19937 rng{99};

  void SetUp() override { Make(10); }
  void TearDown() override {
    EXPECT_EQ(kzu_bdd_check_heap(m), 0);
    EXPECT_EQ(kzu_bdd_check_temps(m), 0);
    kzu_bdd_quit(m);
  }
  void Make(int vars) {
    if (m != nullptr) kzu_bdd_quit(m);
    m = kzu_bdd_init();
    n = vars;
    x.clear();
    for (int i = 0; i < n; i++) x.push_back(kzu_bdd_new_var_last(m));
  }
  long level(int i) { return kzu_bdd_if_index(m, x[(size_t)i]); }
  long size(bdd f) { return kzu_bdd_size(m, f, 1); }
  TruthTable tt(bdd f) { return tt_of_edge(m, f, n); }

  // Consumes a and b.
  bdd Apply(bdd (*op)(kzu_bdd_manager, bdd, bdd), bdd a, bdd b) {
    bdd r = op(m, a, b);
    kzu_bdd_free(m, a);
    kzu_bdd_free(m, b);
    return r;
  }
  // Pairs (x_i, x_{k+i}) for i < k: their disjunction of conjunctions is
  // exponential in the order x_0..x_{2k-1}.
  static std::vector<std::pair<int, int>> FarPairs(int k) {
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i < k; i++) pairs.push_back({i, k + i});
    return pairs;
  }
  // OR over i of (x_a(i) AND x_b(i)), one reference.
  bdd PairOr(const std::vector<std::pair<int, int>> &pairs) {
    bdd acc = kzu_bdd_identity(m, kzu_bdd_zero(m));
    for (auto &p : pairs) acc = Apply(kzu_bdd_or, acc, kzu_bdd_and(m, x[(size_t)p.first], x[(size_t)p.second]));
    return acc;
  }
  // The function of a truth table, built by expansion in id order.
  bdd FromTable(const TruthTable &t, int i = 0) {
    if (t.is_const(true)) return kzu_bdd_identity(m, kzu_bdd_one(m));
    if (t.is_const(false)) return kzu_bdd_identity(m, kzu_bdd_zero(m));
    bdd hi = FromTable(t.cofactor(i, true), i + 1), lo = FromTable(t.cofactor(i, false), i + 1);
    bdd r = kzu_bdd_ite(m, x[(size_t)i], hi, lo);
    kzu_bdd_free(m, hi);
    kzu_bdd_free(m, lo);
    return r;
  }
  Held RandomFunction() {
    bdd acc = kzu_bdd_identity(m, kzu_bdd_zero(m));
    for (int c = 0; c < 5; c++) {
      bdd cube = kzu_bdd_identity(m, kzu_bdd_one(m));
      for (int l = 0; l < 4; l++) {
        bdd v = x[rng() % (unsigned)n];
        cube = Apply(kzu_bdd_and, cube, kzu_bdd_identity(m, (rng() & 1) ? v : bdd_complement(v)));
      }
      acc = Apply((rng() & 1) ? kzu_bdd_or : kzu_bdd_xor, acc, cube);
    }
    return {acc, tt(acc)};
  }
  // Every held function still has its truth table, and building it anew
  // under the current order gives the very same edge.
  void ExpectIntact(const std::vector<Held> &fs) {
    EXPECT_EQ(kzu_bdd_check_heap(m), 0);
    for (const Held &h : fs) {
      EXPECT_EQ(tt(h.e), h.t);
      bdd again = FromTable(h.t);
      EXPECT_EQ(again, h.e);
      kzu_bdd_free(m, again);
    }
  }
  // The variables of levels first..last, in level order.
  std::vector<long> Order() {
    std::vector<long> ids;
    for (long l = 0; l < n; l++) ids.push_back(kzu_bdd_if_id(m, kzu_bdd_var_with_index(m, l)));
    return ids;
  }
};

TEST_F(Reorder, EveryExchangeKeepsEveryFunction) {
  std::vector<Held> fs;
  for (int i = 0; i < 12; i++) fs.push_back(RandomFunction());
  bdd q[] = {x[1], x[4], x[8], nullptr};
  ASSERT_EQ(kzu_bdd_temp_assoc(m, q, 0), 1);
  for (int round = 0; round < 3; round++) {
    for (long l = 0; l + 1 < n; l++) {
      std::vector<long> before = Order();
      bdd_exchange_levels(m, l);
      std::vector<long> after = Order();
      std::swap(before[(size_t)l], before[(size_t)l + 1]);
      EXPECT_EQ(after, before);
      ExpectIntact(fs);
    }
  }
  // The association's deepest level followed its variables.
  long deepest = std::max({level(1), level(4), level(8)});
  EXPECT_EQ(m->temp_assoc.last, deepest);
  kzu_bdd_assoc(m, -1);
  bdd e = kzu_bdd_exists(m, fs[0].e);
  EXPECT_EQ(tt(e), fs[0].t.exists(1).exists(4).exists(8));
  kzu_bdd_free(m, e);
  for (Held &h : fs) kzu_bdd_free(m, h.e);
}

TEST_F(Reorder, ExchangingUnrelatedLevelsChangesNoCount) {
  bdd f = kzu_bdd_xor(m, x[0], x[1]);
  bdd g = kzu_bdd_and(m, x[2], x[3]);
  kzu_bdd_gc(m);
  std::vector<long> counts;
  for (long id = 0; id <= n; id++) counts.push_back(m->unique_table.tables[id]->entries);
  long total = m->unique_table.entries;
  bdd_exchange_levels(m, 1);  // x1 and x2 never meet in a node
  EXPECT_EQ(level(1), 2);
  EXPECT_EQ(level(2), 1);
  EXPECT_EQ(m->unique_table.entries, total);
  for (long id = 0; id <= n; id++) EXPECT_EQ(m->unique_table.tables[id]->entries, counts[(size_t)id]);
  EXPECT_EQ(tt(f), TruthTable::var(n, 0) ^ TruthTable::var(n, 1));
  EXPECT_EQ(tt(g), TruthTable::var(n, 2) & TruthTable::var(n, 3));
  kzu_bdd_free(m, f);
  kzu_bdd_free(m, g);
}

TEST_F(Reorder, MethodsKeepRandomFunctions) {
  std::vector<Held> fs;
  for (int i = 0; i < 16; i++) fs.push_back(RandomFunction());
  void (*methods[])(kzu_bdd_manager) = {kzu_bdd_reorder_sift, kzu_bdd_reorder_stable_window3,
                                         kzu_bdd_reorder_hybrid};
  for (int round = 0; round < 2; round++) {
    for (auto method : methods) {
      kzu_bdd_dynamic_reordering(m, method);
      long before = m->reorderings;
      kzu_bdd_reorder(m);
      EXPECT_EQ(m->reorderings, before + 1);
      ExpectIntact(fs);
      // New functions are built correctly under the new order.
      fs.push_back(RandomFunction());
      EXPECT_EQ(tt(fs.back().e), fs.back().t);
    }
  }
  kzu_bdd_dynamic_reordering(m, nullptr);
  long before = m->reorderings;
  kzu_bdd_reorder(m);
  EXPECT_EQ(m->reorderings, before);  // no method, nothing happens
  for (Held &h : fs) kzu_bdd_free(m, h.e);
}

TEST_F(Reorder, SiftingFindsTheInterleavedOrder) {
  const int k = 7;
  Make(2 * k);
  bdd f = PairOr(FarPairs(k));
  TruthTable t = tt(f);
  long bad = size(f);
  EXPECT_EQ(bad, (1L << (k + 1)) - 1);
  kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_sift);
  kzu_bdd_reorder(m);
  EXPECT_EQ(size(f), 2 * k + 1);
  EXPECT_EQ(tt(f), t);
  // Each pair ends up on adjacent levels.
  for (int i = 0; i < k; i++) EXPECT_EQ(std::labs(level(i) - level(k + i)), 1) << i;
  kzu_bdd_free(m, f);
}

TEST_F(Reorder, WindowAndHybridImproveTheBadOrder) {
  const int k = 6;
  Make(2 * k);
  bdd f = PairOr(FarPairs(k));
  TruthTable t = tt(f);
  long bad = size(f);
  kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_stable_window3);
  kzu_bdd_reorder(m);
  long windowed = size(f);
  EXPECT_LT(windowed, bad);
  EXPECT_EQ(tt(f), t);
  // A second window pass from a stable order changes nothing.
  std::vector<long> order = Order();
  kzu_bdd_reorder(m);
  EXPECT_EQ(Order(), order);
  EXPECT_EQ(size(f), windowed);

  kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_hybrid);
  ASSERT_NE(m->reorder_data, nullptr);
  EXPECT_EQ(*(double *)m->reorder_data, 2.0);
  long before = m->unique_table.entries;
  kzu_bdd_reorder(m);
  long after = m->unique_table.entries;
  EXPECT_EQ(size(f), 2 * k + 1);
  EXPECT_DOUBLE_EQ(*(double *)m->reorder_data, 1.0 + 2.0 * (double)(before - after) / (double)before);
  EXPECT_EQ(tt(f), t);
  kzu_bdd_free(m, f);
}

TEST_F(Reorder, BlocksStayTogether) {
  Make(12);
  // x2..x4 form a fixed block, x6..x8 a block whose members may move among
  // themselves; the function pulls their members towards partners far away.
  block fixed = kzu_bdd_new_var_block(m, x[2], 3);
  block loose = kzu_bdd_new_var_block(m, x[6], 3);
  kzu_bdd_var_block_reorderable(m, loose, 1);
  bdd f = PairOr({{2, 11}, {3, 10}, {4, 9}, {6, 1}, {7, 0}, {8, 5}});
  TruthTable t = tt(f);
  long before = size(f);
  kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_sift);
  kzu_bdd_reorder(m);
  EXPECT_LE(size(f), before);
  EXPECT_EQ(tt(f), t);
  EXPECT_EQ(level(3), level(2) + 1);
  EXPECT_EQ(level(4), level(2) + 2);
  EXPECT_EQ(fixed->first_index, level(2));
  std::vector<long> l = {level(6), level(7), level(8)};
  std::sort(l.begin(), l.end());
  EXPECT_EQ(l[2] - l[0], 2);
  EXPECT_EQ(loose->first_index, l[0]);
  EXPECT_EQ(loose->last_index, l[2]);
  kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_stable_window3);
  kzu_bdd_reorder(m);
  EXPECT_EQ(tt(f), t);
  EXPECT_EQ(level(3), level(2) + 1);
  EXPECT_EQ(level(4), level(2) + 2);
  kzu_bdd_free(m, f);
}

TEST_F(Reorder, DynamicReorderingRestartsTheRunningOperation) {
  const int k = 9;
  Make(2 * k);
  // Collections (and so reorderings) from 1000 nodes on.
  m->unique_table.gc_floor = m->unique_table.gc_limit = 1000;
  kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_sift);
  std::vector<std::pair<int, int>> pairs = FarPairs(k);
  bdd f = PairOr(pairs);
  EXPECT_GE(m->reorderings, 1);
  TruthTable expect(n, false);
  for (auto &p : pairs) expect = expect | (TruthTable::var(n, p.first) & TruthTable::var(n, p.second));
  EXPECT_EQ(tt(f), expect);
  EXPECT_LT(size(f), (1L << (k + 1)) - 1);
  EXPECT_EQ(kzu_bdd_check_temps(m), 0);
  // Variables made after a reordering go to the bottom of the order.
  bdd v = kzu_bdd_new_var_last(m);
  EXPECT_EQ(kzu_bdd_if_index(m, v), 2 * k);
  kzu_bdd_dynamic_reordering(m, nullptr);
  kzu_bdd_free(m, f);
}

TEST_F(Reorder, HandleLayerForwards) {
  bdd_manager *mgr = bdd_start(8);
  std::vector<bdd_t *> v;
  for (int i = 0; i < 8; i++) v.push_back(bdd_get_variable(mgr, (bdd_variableId)i));
  bdd_t *a = bdd_and(v[0], v[4], 1, 1), *b = bdd_and(v[1], v[5], 1, 1);
  bdd_t *f = bdd_or(a, b, 1, 1);
  bdd_t *copy = bdd_dup(f);
  TruthTable t = tt_of_handle(f, 8);
  testing::internal::CaptureStderr();
  bdd_dynamic_reordering(mgr, BDD_REORDER_ANNEALING, BDD_REORDER_VERBOSITY_DEFAULT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "KZU: bdd_dynamic_reordering: unknown algorithm type\nUsing SIFT method instead\n");
  bdd_reorder(mgr);
  EXPECT_EQ(tt_of_handle(f, 8), t);
  EXPECT_TRUE(bdd_equal(f, copy));
  bdd_t *again_a = bdd_and(v[0], v[4], 1, 1), *again_b = bdd_and(v[1], v[5], 1, 1);
  bdd_t *again = bdd_or(again_a, again_b, 1, 1);
  EXPECT_TRUE(bdd_equal(f, again));
  EXPECT_EQ(bdd_size(f), 5);
  EXPECT_EQ(kzu_bdd_check_heap((kzu_bdd_manager)mgr), 0);
  for (bdd_t *h : {a, b, f, copy, again_a, again_b, again}) bdd_free(h);
  for (bdd_t *h : v) bdd_free(h);
  bdd_end(mgr);
}

}  // namespace
