// Multi-valued layer: variable layout and encoding, per-value tables and the
// pairing rule for codes beyond a domain, comparisons, quantification, the
// minterm generator, and the fatal paths.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "mdd/mdd.h"
#include "support/output.h"
#include "support/program_model.h"

namespace {

using model_test::intArray;
using model_test::minterms;

// A manager over the given domains; quits at the end of the scope.
struct Mdd {
  explicit Mdd(std::initializer_list<int> domains, array_t *names = nullptr, array_t *strides = nullptr) {
    array_t *values = intArray(domains);
    mgr = mdd_init(values, names, strides);
    array_free(values);
  }
  ~Mdd() { mdd_quit(mgr); }
  mvar_type &mv(int id) { return array_fetch(mvar_type, mdd_ret_mvar_list(mgr), id); }
  std::vector<int> bits(int id) {
    std::vector<int> out;
    for (int b = 0; b < mv(id).encode_length; b++) out.push_back(mdd_ret_bvar_id(&mv(id), b));
    return out;
  }
  mdd_t *var(int bvar) { return bdd_get_variable(mgr, (bdd_variableId)bvar); }
  mdd_t *is(int id, int value) { return mdd_func1c(mgr, id, value, eq2); }
  mdd_manager *mgr;
};

// Consumes g, returns whether f and g are the same function.
bool sameAndFree(mdd_t *f, mdd_t *g) {
  bool same = bdd_equal(f, g);
  bdd_free(g);
  return same;
}

using Rows = std::vector<std::vector<int>>;

// ---- Layout ---------------------------------------------------------------------

TEST(MddLayout, SixFourValueVariablesTakeTwoBitsEach) {
  for (bool with_strides : {false, true}) {
    array_t *strides = with_strides ? intArray({1, 1, 1, 1, 1, 1}) : nullptr;
    Mdd m({4, 4, 4, 4, 4, 4}, nullptr, strides);
    array_free(strides);
    array_t *bvars = mdd_ret_bvar_list(m.mgr);
    ASSERT_EQ(array_n(mdd_ret_mvar_list(m.mgr)), 6);
    ASSERT_EQ(array_n(bvars), 12);
    for (int i = 0; i < 6; i++) {
      mvar_type &mv = m.mv(i);
      EXPECT_EQ(mv.mvar_id, i);
      EXPECT_EQ(mv.status, MDD_ACTIVE);
      EXPECT_EQ(std::string(mv.name), "mv_" + std::to_string(i));
      EXPECT_EQ(mv.values, 4);
      EXPECT_EQ(mv.encode_length, 2);
      EXPECT_EQ(m.bits(i), (std::vector<int>{2 * i, 2 * i + 1}));
      EXPECT_EQ(mv.encoding[0], 2);
      EXPECT_EQ(mv.encoding[1], 2);
    }
    for (int b = 0; b < 12; b++) {
      bvar_type bv = array_fetch(bvar_type, bvars, b);
      EXPECT_EQ(bv.mvar_id, b / 2);
      EXPECT_TRUE(sameAndFree(bv.node, m.var(b)));
      EXPECT_EQ(bdd_top_var_id(bv.node), (bdd_variableId)b);
    }
    bvar_type second = mdd_ret_bvar(&m.mv(3), 1, bvars);
    EXPECT_EQ(bdd_top_var_id(second.node), 7u);
  }
}

TEST(MddLayout, BitCountsFollowTheDomainSizes) {
  Mdd m({3, 5, 1, 2, 8, 9});
  EXPECT_EQ(m.bits(0), (std::vector<int>{0, 1}));
  EXPECT_EQ(m.bits(1), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(m.bits(2), (std::vector<int>{5}));
  EXPECT_EQ(m.bits(3), (std::vector<int>{6}));
  EXPECT_EQ(m.bits(4), (std::vector<int>{7, 8, 9}));
  EXPECT_EQ(m.bits(5), (std::vector<int>{10, 11, 12, 13}));
  EXPECT_EQ(array_n(mdd_ret_bvar_list(m.mgr)), 14);
}

TEST(MddLayout, StridesInterleaveGroups) {
  array_t *strides = intArray({2, 2});
  Mdd two({4, 4}, nullptr, strides);
  array_free(strides);
  EXPECT_EQ(two.bits(0), (std::vector<int>{0, 2}));
  EXPECT_EQ(two.bits(1), (std::vector<int>{1, 3}));
  EXPECT_EQ(array_fetch(bvar_type, mdd_ret_bvar_list(two.mgr), 2).mvar_id, 0);

  strides = intArray({1, 3, 3, 3, 1});
  Mdd mixed({2, 8, 8, 8, 4}, nullptr, strides);
  array_free(strides);
  EXPECT_EQ(mixed.bits(0), (std::vector<int>{0}));
  EXPECT_EQ(mixed.bits(1), (std::vector<int>{1, 4, 7}));
  EXPECT_EQ(mixed.bits(2), (std::vector<int>{2, 5, 8}));
  EXPECT_EQ(mixed.bits(3), (std::vector<int>{3, 6, 9}));
  EXPECT_EQ(mixed.bits(4), (std::vector<int>{10, 11}));
}

TEST(MddLayout, NamesAreCopiedAndTheCallersArraysKept) {
  array_t *names = array_alloc(char *, 0);
  char x[] = "x1", y[] = "x1p";
  array_insert_last(char *, names, x);
  array_insert_last(char *, names, y);
  {
    Mdd m({4, 4}, names);
    x[0] = 'z';
    EXPECT_STREQ(m.mv(0).name, "x1");
    EXPECT_STREQ(m.mv(1).name, "x1p");
    EXPECT_NE(m.mv(0).name, x);
  }
  EXPECT_EQ(array_n(names), 2);
  array_free(names);
}

// ---- Per-value tables ---------------------------------------------------------------

// The value whose entry a code of mvar `id` takes: the one v for which the
// case over children "y = v" holds at that code.
int entryTaken(Mdd &m, mdd_t *f, int id, int code, int y) {
  int k = m.mv(id).encode_length;
  mdd_t *at = bdd_dup(f);
  for (int b = 0; b < k; b++) {
    mdd_t *bit = m.var(m.bits(id)[b]);
    mdd_t *next = bdd_and(at, bit, 1, (code >> (k - 1 - b)) & 1 ? 1 : 0);
    bdd_free(bit);
    bdd_free(at);
    at = next;
  }
  int taken = -1;
  for (int v = 0; v < m.mv(y).values; v++) {
    mdd_t *lit = m.is(y, v);
    mdd_t *both = bdd_and(at, lit, 1, 1);
    if (!bdd_is_tautology(both, 0)) {
      EXPECT_EQ(taken, -1) << "code " << code << " takes two entries";
      taken = v;
    }
    bdd_free(both);
    bdd_free(lit);
  }
  bdd_free(at);
  return taken;
}

TEST(MddCase, CodesBeyondTheDomainTakeTheirPairedEntry) {
  struct Expect {
    int n;
    std::vector<int> taken;  // entry per code 0 .. 2^k - 1
  };
  // A domain of 100 values: every code inside it takes its own entry.
  Expect wide{100, {}};
  for (int v = 0; v < 100; v++) wide.taken.push_back(v);
  for (const Expect &e : {Expect{3, {0, 1, 2, 2}}, Expect{5, {0, 1, 2, 3, 4, 4, 4, 4}},
                          Expect{6, {0, 1, 2, 3, 4, 5, 4, 5}}, Expect{7, {0, 1, 2, 3, 4, 5, 6, 6}}, wide}) {
    Mdd m({e.n, e.n > 8 ? e.n : 8});
    array_t *children = array_alloc(mdd_t *, 0);
    for (int v = 0; v < e.n; v++) array_insert_last(mdd_t *, children, m.is(1, v));
    mdd_t *f = mdd_case(m.mgr, 0, children);  // consumes the children
    array_free(children);
    for (int code = 0; code < (int)e.taken.size(); code++)
      EXPECT_EQ(entryTaken(m, f, 0, code, 1), e.taken[code]) << "n=" << e.n << " code=" << code;
    bdd_free(f);
  }
}

TEST(MddCase, SingleValueDomainGivesChildZero) {
  Mdd m({1, 4});
  mdd_t *child = m.is(1, 2);
  mdd_t *reference = m.is(1, 2);
  array_t *children = array_alloc(mdd_t *, 0);
  array_insert_last(mdd_t *, children, child);  // handed over
  mdd_t *f = mdd_case(m.mgr, 0, children);
  EXPECT_TRUE(bdd_equal(f, reference));
  array_free(children);
  bdd_free(f);
  bdd_free(reference);
}

TEST(MddCase, ConstantChildrenStayTheCallersAndRepeatsAreFreedOnce) {
  Mdd m({4, 4});
  mdd_t *one = bdd_one(m.mgr), *zero = bdd_zero(m.mgr);
  mdd_t *y1 = m.is(1, 1);
  array_t *children = array_alloc(mdd_t *, 0);
  for (mdd_t *c : {zero, y1, one, y1}) array_insert_last(mdd_t *, children, c);
  mdd_t *f = mdd_case(m.mgr, 0, children);
  array_free(children);
  // x=0: false, x=1: y=1, x=2: true, x=3: y=1.
  array_t *vars = intArray({0, 1});
  Rows expected = {{1, 1}, {3, 1}};
  for (int y = 0; y < 4; y++) expected.push_back({2, y});
  Rows got = minterms(f, vars);
  EXPECT_EQ(std::set<std::vector<int>>(got.begin(), got.end()),
            std::set<std::vector<int>>(expected.begin(), expected.end()));
  EXPECT_EQ(got.size(), expected.size());
  array_free(vars);
  bdd_free(f);
  EXPECT_TRUE(bdd_is_tautology(one, 1));  // still ours and alive
  bdd_free(one);
  bdd_free(zero);
}

TEST(MddCase, ChildrenOverTheCasedVariableItself) {
  // Children that depend on the mvar's own bits: the case selects child v's
  // value at x = v, so "x = v in row v" is true everywhere.
  Mdd m({4, 4});
  mdd_t *f = mdd_func2(m.mgr, 0, 0, eq2);
  EXPECT_TRUE(bdd_is_tautology(f, 1));
  bdd_free(f);
  f = mdd_func2(m.mgr, 0, 0, neq2);
  EXPECT_TRUE(bdd_is_tautology(f, 0));
  bdd_free(f);
  Mdd two({2});
  f = mdd_func2(two.mgr, 0, 0, leq2);
  EXPECT_TRUE(bdd_is_tautology(f, 1));
  bdd_free(f);
}

TEST(MddCase, Literal) {
  Mdd m({5});
  array_t *vals = intArray({3, 1, 9, -2});
  mdd_t *f = mdd_literal(m.mgr, 0, vals);
  EXPECT_EQ(minterms(f, nullptr), (Rows{{1}, {3}}));
  array_free(vals);
  bdd_free(f);
}

// ---- Comparisons ------------------------------------------------------------------------

TEST(MddFunc, ConstantComparisonIsACube) {
  Mdd m({4, 3});
  mdd_t *f = m.is(0, 2);
  mdd_t *b0 = m.var(0), *b1 = m.var(1);
  EXPECT_TRUE(sameAndFree(f, bdd_and(b0, b1, 1, 0)));
  bdd_free(f);
  // On a 3-value mvar the value 2 is the only code with the high bit set
  // (code 3 takes its entry).
  mdd_t *g = m.is(1, 2);
  mdd_t *hi = m.var(2);
  EXPECT_TRUE(bdd_equal(g, hi));
  EXPECT_EQ(minterms(g, nullptr), (Rows{{0, 2}, {2, 2}, {1, 2}, {3, 2}}));
  array_t *only = intArray({1});
  EXPECT_EQ(minterms(g, only), (Rows{{2}}));
  array_free(only);
  for (mdd_t *h : {g, b0, b1, hi}) bdd_free(h);
}

TEST(MddFunc, EqualityAndInequalityCounts) {
  Mdd m({4, 4});
  array_t *vars = intArray({0, 1});
  mdd_t *eq = mdd_func2(m.mgr, 0, 1, eq2);
  Rows got = minterms(eq, vars);
  EXPECT_EQ(std::set<std::vector<int>>(got.begin(), got.end()),
            (std::set<std::vector<int>>{{0, 0}, {1, 1}, {2, 2}, {3, 3}}));
  EXPECT_EQ(got.size(), 4u);
  mdd_t *neq = mdd_func2(m.mgr, 0, 1, neq2);
  EXPECT_EQ(minterms(neq, vars).size(), 12u);
  EXPECT_TRUE(sameAndFree(neq, bdd_not(eq)));
  array_free(vars);
  bdd_free(eq);
  bdd_free(neq);
}

TEST(MddFunc, EveryCallbackOverUnevenDomains) {
  struct Cb {
    int (*fn)(int, int);
    const char *name;
  };
  Mdd m({3, 5, 6});
  array_t *vars = intArray({1, 2});
  for (Cb cb : {Cb{eq2, "eq2"}, Cb{neq2, "neq2"}, Cb{geq2, "geq2"}, Cb{gt2, "gt2"},
                Cb{leq2, "leq2"}, Cb{lt2, "lt2"}, Cb{unary_minus2, "unary_minus2"}}) {
    mdd_t *f = mdd_func2(m.mgr, 1, 2, cb.fn);
    std::set<std::vector<int>> expected;
    for (int a = 0; a < 5; a++)
      for (int b = 0; b < 6; b++)
        if (cb.fn(a, b)) expected.insert({a, b});
    Rows got = minterms(f, vars);
    EXPECT_EQ(std::set<std::vector<int>>(got.begin(), got.end()), expected) << cb.name;
    EXPECT_EQ(got.size(), expected.size()) << cb.name;
    bdd_free(f);
    mdd_t *c = mdd_func1c(m.mgr, 0, 1, cb.fn);
    std::vector<std::vector<int>> want;
    for (int v = 0; v < 3; v++)
      if (cb.fn(v, 1)) want.push_back({v});
    array_t *first = intArray({0});
    Rows single = minterms(c, first);
    EXPECT_EQ(std::set<std::vector<int>>(single.begin(), single.end()),
              std::set<std::vector<int>>(want.begin(), want.end()))
        << cb.name;
    array_free(first);
    bdd_free(c);
  }
  EXPECT_EQ(unary_minus2(-3, 3), 1);
  EXPECT_EQ(unary_minus2(3, 3), 0);
  array_free(vars);
}

// ---- Quantification -------------------------------------------------------------------

TEST(MddSmooth, QuantifiesEveryBitOfTheListedVariables) {
  Mdd m({4, 4, 3});
  mdd_t *x1 = m.is(0, 1), *y2 = m.is(1, 2);
  mdd_t *f = bdd_and(x1, y2, 1, 1);
  array_t *ys = intArray({1});
  EXPECT_TRUE(sameAndFree(x1, mdd_smooth(m.mgr, f, ys)));
  array_t *both = intArray({1, 0, 1});
  mdd_t *none = mdd_smooth(m.mgr, f, both);
  EXPECT_TRUE(bdd_is_tautology(none, 1));
  bdd_free(none);
  array_free(ys);
  array_free(both);
  for (mdd_t *h : {x1, y2, f}) bdd_free(h);
}

TEST(MddSmooth, EmptyListWarnsAndDuplicates) {
  Mdd m({4});
  mdd_t *f = m.is(0, 3);
  array_t *empty = array_alloc(int, 0);
  for (array_t *list : {empty, (array_t *)nullptr}) {
    testing::internal::CaptureStdout();
    mdd_t *g = mdd_smooth(m.mgr, f, list);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nWARNING: Empty Array of Smoothing Variables");
    EXPECT_NE(g, f);
    EXPECT_TRUE(sameAndFree(f, g));
  }
  array_free(empty);
  bdd_free(f);
}

// ---- Minterm generator ----------------------------------------------------------------

TEST(MddGen, FreeBitsCountFirstBitFastest) {
  Mdd m({4, 3});
  mdd_t *t = bdd_one(m.mgr);
  array_t *x = intArray({0}), *y = intArray({1});
  EXPECT_EQ(minterms(t, x), (Rows{{0}, {2}, {1}, {3}}));
  EXPECT_EQ(minterms(t, y), (Rows{{0}, {2}, {1}}));  // code 3 is skipped
  array_t *yx = intArray({1, 0});
  Rows all = minterms(t, yx);
  EXPECT_EQ(all.size(), 12u);
  EXPECT_EQ(all[0], (std::vector<int>{0, 0}));
  EXPECT_EQ(all[1], (std::vector<int>{2, 0}));  // y's first bit moves first
  EXPECT_EQ(std::set<std::vector<int>>(all.begin(), all.end()).size(), 12u);
  for (array_t *a : {x, y, yx}) array_free(a);
  bdd_free(t);
}

TEST(MddGen, EmptyAndNullFunctions) {
  Mdd m({4});
  mdd_t *f = bdd_zero(m.mgr);
  array_t *minterm = intArray({42});
  array_t *mine = minterm;
  mdd_gen *gen = mdd_first_minterm(f, &minterm, nullptr);
  EXPECT_EQ(minterm, nullptr);
  EXPECT_EQ(gen->status, bdd_EMPTY);
  EXPECT_FALSE(mdd_next_minterm(gen, &minterm));
  EXPECT_EQ(mdd_gen_free(gen), 0);
  gen = mdd_first_minterm(nullptr, &minterm, nullptr);
  EXPECT_EQ(gen->status, bdd_EMPTY);
  EXPECT_EQ(gen->manager, nullptr);
  EXPECT_EQ(mdd_gen_free(gen), 0);
  array_free(mine);
  bdd_free(f);
}

TEST(MddGen, OmittedVariablesAreQuantifiedAway) {
  Mdd m({4, 4, 4});
  mdd_t *x1 = m.is(0, 1), *y2 = m.is(1, 2);
  mdd_t *f = bdd_and(x1, y2, 1, 1);
  array_t *x = intArray({0}), *zy = intArray({2, 1});
  EXPECT_EQ(minterms(f, x), (Rows{{1}}));
  Rows zs = minterms(f, zy);
  EXPECT_EQ(zs.size(), 4u);
  for (auto &row : zs) EXPECT_EQ(row[1], 2);
  EXPECT_EQ(minterms(f, nullptr).size(), 4u);  // no list: every mvar, z free
  // Stepping past the end keeps reporting exhaustion.
  array_t *mt = nullptr;
  mdd_gen *gen = mdd_first_minterm(f, &mt, x);
  ASSERT_NE(mt, nullptr);
  array_free(mt);
  EXPECT_FALSE(mdd_next_minterm(gen, &mt));
  EXPECT_EQ(mt, nullptr);
  EXPECT_FALSE(mdd_next_minterm(gen, &mt));
  mdd_gen_free(gen);
  // A generator freed half way releases what it holds.
  mdd_t *t = bdd_one(m.mgr);
  gen = mdd_first_minterm(t, &mt, nullptr);
  array_free(mt);
  mdd_gen_free(gen);
  for (mdd_t *h : {x1, y2, f, t}) bdd_free(h);
  array_free(x);
  array_free(zy);
}

// ---- Other operations ---------------------------------------------------------------------

TEST(MddUtil, BitArraysCubesAndRanges) {
  Mdd m({3, 4, 5});
  array_t *ids = intArray({2, 0});
  array_t *bit_ids = mdd_id_array_to_bdd_id_array(m.mgr, ids);
  EXPECT_EQ(array_n(bit_ids), 5);
  EXPECT_EQ(array_fetch(int, bit_ids, 0), 4);
  EXPECT_EQ(array_fetch(int, bit_ids, 3), 0);
  EXPECT_EQ(mdd_get_number_of_bdd_vars(m.mgr, ids), 5);
  array_t *handles = mdd_id_array_to_bdd_array(m.mgr, ids);
  ASSERT_EQ(array_n(handles), 5);
  for (int i = 0; i < 5; i++)
    EXPECT_EQ(bdd_top_var_id(array_fetch(mdd_t *, handles, i)), (bdd_variableId)array_fetch(int, bit_ids, i));
  mdd_t *cube = mdd_id_array_to_bdd_cube(m.mgr, ids);
  EXPECT_EQ(bdd_size(cube), 6);
  bdd_free(cube);
  mdd_array_free(handles);
  array_free(bit_ids);

  // The range holds exactly the valid codes: 3 * 5 of the 4 * 8 patterns.
  mdd_t *range = mdd_range_mdd(m.mgr, ids);
  mdd_t *x3 = nullptr;
  {
    mdd_t *b0 = m.var(0), *b1 = m.var(1);
    x3 = bdd_and(b0, b1, 1, 1);  // code 3 of the 3-value mvar
    bdd_free(b0);
    bdd_free(b1);
  }
  mdd_t *bad = bdd_and(range, x3, 1, 1);
  EXPECT_TRUE(bdd_is_tautology(bad, 0));
  mdd_t *t = bdd_one(m.mgr);
  mdd_t *onset = mdd_onset_bdd(m.mgr, t, ids);
  EXPECT_TRUE(bdd_equal(onset, range));
  for (mdd_t *h : {range, x3, bad, t, onset}) bdd_free(h);
  array_free(ids);
}

TEST(MddUtil, PickSubsetAndCareSets) {
  Mdd m({4, 4});
  mdd_t *lt = mdd_func2(m.mgr, 0, 1, lt2);
  array_t *both = intArray({0, 1}), *x = intArray({0});
  array_t *picked = mdd_pick_arbitrary_minterms(m.mgr, lt, both, 4);
  ASSERT_EQ(array_n(picked), 4);
  for (int i = 0; i < 4; i++) {
    mdd_t *p = array_fetch(mdd_t *, picked, i);
    EXPECT_EQ(minterms(p, both).size(), 1u);
    mdd_t *inside = bdd_and(p, lt, 1, 0);
    EXPECT_TRUE(bdd_is_tautology(inside, 0));
    bdd_free(inside);
  }
  array_t *all = mdd_pick_arbitrary_minterms(m.mgr, lt, both, 100);
  EXPECT_EQ(array_n(all), 6);
  array_t *dup = mdd_array_duplicate(all);
  EXPECT_TRUE(mdd_array_equal(dup, all));
  EXPECT_FALSE(mdd_array_equal(dup, picked));
  array_t *nested = array_alloc(array_t *, 0);
  array_insert_last(array_t *, nested, dup);
  array_insert_last(array_t *, nested, picked);
  mdd_array_array_free(nested);
  mdd_array_free(all);

  mdd_t *sub = mdd_subset_with_mask_vars(m.mgr, lt, x);
  Rows sub_rows = minterms(sub, both);
  EXPECT_EQ(std::set<std::vector<int>>(sub_rows.begin(), sub_rows.end()),
            (std::set<std::vector<int>>{{0, 1}, {0, 2}, {0, 3}}));
  bdd_free(sub);

  mdd_t *le = mdd_func2(m.mgr, 0, 1, leq2);
  mdd_t *neq = mdd_func2(m.mgr, 0, 1, neq2);
  array_t *care = array_alloc(mdd_t *, 0);
  array_insert_last(mdd_t *, care, neq);
  EXPECT_TRUE(mdd_equal_mod_care_set_array(lt, le, care));
  EXPECT_FALSE(mdd_equal_mod_care_set_array(lt, neq, care));
  EXPECT_TRUE(mdd_lequal_mod_care_set_array(lt, le, 1, 1, care));
  EXPECT_FALSE(mdd_lequal_mod_care_set_array(le, lt, 1, 0, care));
  array_free(care);
  for (mdd_t *h : {lt, le, neq}) bdd_free(h);
  array_free(both);
  array_free(x);
}

TEST(MddUtil, FunctionArraysAsBitFunctions) {
  // A function of y into the 3-value x: fn(y) = y mod 3; as bit relations
  // their conjunction is x = y mod 3.
  Mdd m({3, 4});
  array_t *fn = array_alloc(mdd_t *, 0);
  for (int v = 0; v < 3; v++) {
    array_t *ys = intArray({v, v + 3});
    array_insert_last(mdd_t *, fn, mdd_literal(m.mgr, 1, ys));
    array_free(ys);
  }
  array_t *rel = mdd_fn_array_to_bdd_rel_array(m.mgr, 0, fn);
  ASSERT_EQ(array_n(rel), 2);
  mdd_t *r = bdd_and(array_fetch(mdd_t *, rel, 0), array_fetch(mdd_t *, rel, 1), 1, 1);
  array_t *vars = intArray({0, 1});
  Rows got = minterms(r, vars);
  EXPECT_EQ(std::set<std::vector<int>>(got.begin(), got.end()),
            (std::set<std::vector<int>>{{0, 0}, {1, 1}, {2, 2}, {0, 3}}));
  array_t *bits = mdd_fn_array_to_bdd_fn_array(m.mgr, 0, fn);
  mdd_t *lo = array_fetch(mdd_t *, bits, 1);  // low bit set for value 1 only
  EXPECT_TRUE(sameAndFree(lo, bdd_dup(array_fetch(mdd_t *, fn, 1))));
  bdd_free(r);
  mdd_array_free(bits);
  mdd_array_free(rel);
  mdd_array_free(fn);
  array_free(vars);
}

TEST(MddUtil, ReadingVariablesAndMarks) {
  Mdd m({4, 8});
  mdd_t *y5 = m.is(1, 5);
  EXPECT_EQ(mdd_read_mdd_id(y5), 1);
  EXPECT_STREQ(mdd_read_var_name(y5), "mv_1");
  mdd_t *t = bdd_one(m.mgr);
  EXPECT_EQ(mdd_read_mdd_id(t), -1);
  EXPECT_EQ(mdd_read_var_name(t), nullptr);
  mdd_t *mid = m.var(3);
  mdd_mark(m.mgr, mid, 1);
  EXPECT_EQ(m.mv(1).encoding[1], 1);
  EXPECT_EQ(m.mv(1).encoding[0], 2);
  mdd_unmark(m.mgr, mid);
  EXPECT_EQ(m.mv(1).encoding[1], 2);
  mvar_type copy = mdd_get_var_by_id(m.mgr, 1);
  EXPECT_EQ(copy.values, 8);
  EXPECT_EQ(mdd_ret_bvars_of_mvar(&m.mv(1)), m.mv(1).bvars);
  array_t *ids = mdd_id_to_bdd_id_array(m.mgr, 1);
  EXPECT_EQ(array_n(ids), 3);
  array_free(ids);
  for (mdd_t *h : {y5, t, mid}) bdd_free(h);
}

TEST(MddUtil, SupportCountingAndProjection) {
  Mdd m({4, 3, 5});
  mdd_t *x1 = m.is(0, 1), *z2 = m.is(2, 2);
  mdd_t *f = bdd_and(x1, z2, 1, 0);  // x = 1 and z != 2
  array_t *support = mdd_get_support(m.mgr, f);
  ASSERT_EQ(array_n(support), 2);
  EXPECT_EQ(array_fetch(int, support, 0), 0);
  EXPECT_EQ(array_fetch(int, support, 1), 2);
  array_t *bit_ids = mdd_get_bdd_support_ids(m.mgr, f);
  EXPECT_EQ(array_n(bit_ids), mdd_get_number_of_bdd_support(m.mgr, f));
  for (int i = 0; i < array_n(bit_ids); i++) {
    int b = array_fetch(int, bit_ids, i);
    EXPECT_TRUE(b <= 1 || b >= 4) << b;  // no bit of y
  }
  array_t *bit_vars = mdd_get_bdd_support_vars(m.mgr, f);
  EXPECT_EQ(array_n(bit_vars), array_n(bit_ids));
  EXPECT_EQ(bdd_top_var_id(array_fetch(mdd_t *, bit_vars, 0)), (bdd_variableId)array_fetch(int, bit_ids, 0));
  EXPECT_TRUE(mdd_check_support(m.mgr, f, support));
  array_t *x_only = intArray({0}), *y_only = intArray({1}), *xy = intArray({0, 1}), *none = array_alloc(int, 0);
  EXPECT_FALSE(mdd_check_support(m.mgr, f, x_only));

  EXPECT_EQ(mdd_count_onset(m.mgr, f, support), 4.0);  // x = 1, z in {0, 1, 3, 4}
  EXPECT_EQ(mdd_count_onset(m.mgr, f, x_only), 1.0);
  EXPECT_EQ(mdd_count_onset(m.mgr, f, xy), 3.0);  // y is free
  EXPECT_EQ(mdd_count_onset(m.mgr, f, none), 1.0);
  mdd_t *zero = bdd_zero(m.mgr);
  EXPECT_EQ(mdd_count_onset(m.mgr, zero, none), 0.0);
  mdd_t *t = bdd_one(m.mgr);
  EXPECT_EQ(mdd_count_onset(m.mgr, t, y_only), 3.0);  // code 3 is no value

  // For every y, z the least satisfying x: only x = 1 satisfies f.
  mdd_t *proj = mdd_cproject(m.mgr, f, x_only);
  EXPECT_TRUE(bdd_equal(proj, f));
  bdd_free(proj);
  mdd_t *le = mdd_func2(m.mgr, 0, 1, leq2);  // x <= y
  mdd_t *least_x = mdd_cproject(m.mgr, le, x_only), *x0 = m.is(0, 0);
  EXPECT_TRUE(bdd_equal(least_x, x0));
  // For every x the least y >= x; as a diagram it differs from x = y at
  // y's code 3, which x = y shares with y = 2.
  mdd_t *least_y = mdd_cproject(m.mgr, le, y_only);
  Rows least = minterms(least_y, xy);
  EXPECT_EQ(std::set<std::vector<int>>(least.begin(), least.end()),
            (std::set<std::vector<int>>{{0, 0}, {1, 1}, {2, 2}}));
  for (mdd_t *h : {le, least_x, x0, least_y}) bdd_free(h);
  for (mdd_t *h : {x1, z2, f, zero, t}) bdd_free(h);
  mdd_array_free(bit_vars);
  for (array_t *a : {support, bit_ids, x_only, y_only, xy, none}) array_free(a);
}

TEST(MddUtil, Printing) {
  Mdd m({4, 4});
  mdd_t *x1 = m.is(0, 1), *y2 = m.is(1, 2);
  mdd_t *f = bdd_and(x1, y2, 1, 1);
  char buf[64] = {};
  FILE *fp = fmemopen(buf, sizeof buf, "w");
  mdd_print_support_to_file(fp, f);
  fclose(fp);
  EXPECT_STREQ(buf, "mv_0 mv_1\n");
  array_t *arr = array_alloc(mdd_t *, 0);
  array_insert_last(mdd_t *, arr, f);
  array_insert_last(mdd_t *, arr, x1);
  mdd_t *t = bdd_one(m.mgr);
  array_insert_last(mdd_t *, arr, t);
  testing::internal::CaptureStdout();
  mdd_print_array(arr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "mdd 0:\n  mv_0=1 mv_1=2\nmdd 1:\n  mv_0=1\nmdd 2: true\n");
  array_free(arr);
  for (mdd_t *h : {x1, y2, f, t}) bdd_free(h);
}

TEST(MddCreate, VariablesAddedLaterKeepTheEncoding) {
  mdd_manager *mgr = mdd_init_empty();
  EXPECT_EQ(array_n(mdd_ret_mvar_list(mgr)), 0);
  array_t *first = intArray({4, 3});
  EXPECT_EQ(mdd_create_variables(mgr, first, nullptr, nullptr), 0);
  array_t *more = intArray({5});
  EXPECT_EQ(mdd_create_variables(mgr, more, nullptr, nullptr), 2);
  auto bits = [&](int id) {
    mvar_type &mv = array_fetch(mvar_type, mdd_ret_mvar_list(mgr), id);
    std::vector<int> out;
    for (int b = 0; b < mv.encode_length; b++) out.push_back(mdd_ret_bvar_id(&mv, b));
    return out;
  };
  auto level = [&](int bvar) {
    mdd_t *v = bdd_get_variable(mgr, (bdd_variableId)bvar);
    long l = bdd_top_var_level(mgr, v);
    bdd_free(v);
    return l;
  };
  EXPECT_EQ(bits(0), (std::vector<int>{0, 1}));
  EXPECT_EQ(bits(1), (std::vector<int>{2, 3}));
  EXPECT_EQ(bits(2), (std::vector<int>{4, 5, 6}));
  EXPECT_STREQ(array_fetch(mvar_type, mdd_ret_mvar_list(mgr), 2).name, "mv_2");

  // A copy of mvar 0 placed right below it.
  array_t *after = intArray({4});
  EXPECT_EQ(mdd_create_variables_after(mgr, 0, after, nullptr, nullptr), 3);
  EXPECT_EQ(bits(3), (std::vector<int>{7, 8}));
  EXPECT_EQ(level(7), 2);
  EXPECT_EQ(level(8), 3);
  EXPECT_EQ(level(2), 4);

  // Two copies of mvar 1 interleaved with its bits.
  array_t *names = array_alloc(char *, 0);
  array_insert_last(char *, names, (char *)"ya");
  array_insert_last(char *, names, (char *)"yb");
  EXPECT_EQ(mdd_create_variables_interleaved(mgr, 1, 2, names), 4);
  EXPECT_EQ(bits(4), (std::vector<int>{9, 11}));
  EXPECT_EQ(bits(5), (std::vector<int>{10, 12}));
  EXPECT_STREQ(array_fetch(mvar_type, mdd_ret_mvar_list(mgr), 5).name, "yb");
  EXPECT_EQ(array_fetch(mvar_type, mdd_ret_mvar_list(mgr), 5).values, 3);
  EXPECT_EQ(level(9), level(2) + 1);
  EXPECT_EQ(level(10), level(2) + 2);
  EXPECT_EQ(level(3), level(2) + 3);
  EXPECT_EQ(level(12), level(3) + 2);

  // The new mvars work like the first ones.
  mdd_t *eq = mdd_func2(mgr, 1, 5, eq2);
  array_t *pair = intArray({1, 5});
  EXPECT_EQ(minterms(eq, pair).size(), 3u);
  EXPECT_EQ(mdd_count_onset(mgr, eq, pair), 3.0);
  mdd_t *copy = mdd_func2(mgr, 0, 3, lt2);
  array_t *xs = intArray({0, 3});
  EXPECT_EQ(minterms(copy, xs).size(), 6u);
  bdd_free(eq);
  bdd_free(copy);
  for (array_t *a : {first, more, after, names, pair, xs}) array_free(a);
  mdd_quit(mgr);
}

// ---- Fatal paths ---------------------------------------------------------------------------

std::string assertion(const std::string &file, const std::string &msg) {
  return "Fatal error: file .*" + file + "\\.cpp, line [0-9]+\n" + msg + "\n$";
}

TEST(MddDeath, InconsistentSizes) {
  array_t *values = intArray({4, 4});
  array_t *one_name = array_alloc(char *, 0);
  array_insert_last(char *, one_name, (char *)"x");
  array_t *three = intArray({1, 1, 1});
  EXPECT_DEATH(mdd_init(values, one_name, nullptr),
               assertion("mdd_init", "mdd_init: inconsistent size of mvar_names\n"));
  EXPECT_DEATH(mdd_init(values, nullptr, three),
               assertion("mdd_init", "mdd_init: inconsistent size of mvar_strides\n"));
  array_free(values);
  array_free(one_name);
  array_free(three);
}

TEST(MddDeath, StrideInconsistencies) {
  struct Case {
    std::initializer_list<int> domains, strides;
    const char *name;
  };
  // Different strides within a group; groups of unequal bit counts, which
  // would share a bit or use one that does not exist; a group left
  // incomplete; a stride of 0.
  for (const Case &c : {Case{{4, 4, 4}, {2, 1, 1}, "mv_1"}, Case{{4, 2, 2}, {2, 2, 1}, "mv_2"},
                        Case{{2, 4}, {2, 2}, "mv_1"}, Case{{4, 4, 4}, {2, 2, 2}, "mv_2"},
                        Case{{4}, {0}, "mv_0"}}) {
    array_t *values = intArray(c.domains), *strides = intArray(c.strides);
    EXPECT_DEATH(STDOUT_TO_STDERR(mdd_init(values, nullptr, strides)),
                 std::string("mdd_record_variables: processing ") + c.name + "\n" +
                     assertion("mdd_init", "mdd_record_variables: inconsistency found in mvar_stride\n"));
    array_free(values);
    array_free(strides);
  }
  array_t *bad = intArray({4, 0});
  EXPECT_DEATH(mdd_init(bad, nullptr, nullptr), assertion("mdd_init", "mdd_init: domain size less than 1\n"));
  array_free(bad);
}

TEST(MddDeath, CaseWithTheWrongChildCount) {
  Mdd m({3});
  mdd_t *t = bdd_one(m.mgr);
  array_t *children = array_alloc(mdd_t *, 0);
  array_insert_last(mdd_t *, children, t);
  array_insert_last(mdd_t *, children, t);
  EXPECT_DEATH(mdd_case(m.mgr, 0, children),
               assertion("mdd_case", "mdd_case: mvar.values different from length of child_list\n"));
  array_free(children);
  bdd_free(t);
}

TEST(MddDeath, MvarIdOutsideTheList) {
  Mdd m({4, 4});
  EXPECT_DEATH(mdd_func2(m.mgr, 0, 2, eq2), "^array: fetch index 2 not in \\[0,1\\]\n");
  EXPECT_DEATH(mdd_func1c(m.mgr, -1, 0, eq2), "^array: fetch index -1 not in \\[0,1\\]\n");
  array_t *vars = intArray({5});
  mdd_t *t = bdd_one(m.mgr);
  array_t *mt;
  EXPECT_DEATH(mdd_first_minterm(t, &mt, vars), "^array: fetch index 5 not in \\[0,1\\]\n");
  array_t *twice = intArray({1, 1});
  EXPECT_DEATH(mdd_first_minterm(t, &mt, twice),
               assertion("mdd_iter", "mdd_first_minterm: mvar listed twice in var_list\n"));
  bdd_free(t);
  array_free(vars);
  array_free(twice);
}

TEST(MddDeath, BundledVariables) {
  Mdd m({4, 4});
  m.mv(1).status = MDD_BUNDLED;
  mdd_t *t = bdd_one(m.mgr);
  array_t *children = array_alloc(mdd_t *, 0);
  for (int i = 0; i < 4; i++) array_insert_last(mdd_t *, children, t);
  array_t *ids = intArray({1});
  EXPECT_DEATH(mdd_case(m.mgr, 1, children),
               "^\nmdd_andsmooth: bundled variable mv_1 used\n" + assertion("mdd_case", ""));
  EXPECT_DEATH(mdd_func2(m.mgr, 0, 1, eq2),
               "^\nWarning: mdd_func2 bundled variable mv_1 is used\n" + assertion("mdd_func2", ""));
  EXPECT_DEATH(mdd_func2(m.mgr, 1, 0, eq2),
               "^\nWarning: mdd_func2, bundled variable mv_1 is used\n" + assertion("mdd_func2", ""));
  EXPECT_DEATH(mdd_smooth(m.mgr, t, ids),
               "^\nmdd_smooth: bundled variable mv_1 used\n" + assertion("mdd_smooth", ""));
  // mdd_func1c only warns, on standard output.
  testing::internal::CaptureStdout();
  mdd_t *f = mdd_func1c(m.mgr, 1, 0, eq2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nWarning: mdd_func1c, bundled variable mv_1 is used\n");
  m.mv(1).status = MDD_ACTIVE;
  EXPECT_EQ(minterms(f, ids), (Rows{{0}}));
  bdd_free(f);
  bdd_free(t);
  array_free(children);
  array_free(ids);
}

#if defined(__SANITIZE_ADDRESS__)
const bool kUnderAsan = true;
#else
const bool kUnderAsan = false;
#endif

void returningHook(size_t) {}

// Maps stack pages ahead, since the stack cannot grow once the address
// space is capped.
void __attribute__((noinline)) touchStack() {
  volatile char pages[256 << 10];
  for (size_t i = 0; i < sizeof pages; i += 4096) pages[i] = 0;
}

// No heap left, and an out-of-memory hook that returns: the address space
// is capped at its present size and the allocator's free space used up.
void exhaustHeap() {
  MMoutOfMemory = returningHook;
  touchStack();
  FILE *status = fopen("/proc/self/status", "r");
  long kb = 0;
  char line[256];
  while (status != nullptr && fgets(line, sizeof line, status))
    if (sscanf(line, "VmSize: %ld", &kb) == 1) break;
  if (status != nullptr) fclose(status);
  struct rlimit lim = {(rlim_t)kb << 10, (rlim_t)kb << 10};
  setrlimit(RLIMIT_AS, &lim);
  // Every size class down to the smallest, free lists included.
  for (size_t size = 1 << 16; size >= 8; size = size > 1024 ? size / 2 : size - 8)
    while (malloc(size) != nullptr) {
    }
}

TEST(MddDeath, OutOfMemoryInTheLayersOwnRecordsEndsThroughTheFatalChannel) {
  if (kUnderAsan) GTEST_SKIP() << "address-space limit conflicts with the sanitizer";
  array_t *values = intArray({4, 4});
  EXPECT_EXIT((exhaustHeap(), mdd_init(values, nullptr, nullptr)), ::testing::ExitedWithCode(1),
              "^BDD library: error: mdd_init: failed on memory allocation\n$");
  array_free(values);
  Mdd m({4, 4});
  mdd_t *f = mdd_func1c(m.mgr, 0, 1, eq2);
  array_t *minterm = nullptr;
  EXPECT_EXIT((exhaustHeap(), mdd_first_minterm(f, &minterm, nullptr)), ::testing::ExitedWithCode(1),
              "^BDD library: error: mdd_first_minterm: failed on memory allocation\n$");
  bdd_free(f);
}

}  // namespace
