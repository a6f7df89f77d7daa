// Engine operations against brute-force truth tables: random formulas built
// with every operation, the ITE rules, sizes, quantification identities,
// substitution, cofactors, projection and the witnesses.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "kzuBdd/kzuBddInt.h"
#include "support/truth_table.h"

namespace {

constexpr int N = 10;

struct Fn {
  bdd e;
  TruthTable t;
};

class Ops : public ::testing::Test {
 protected:
  kzu_bdd_manager m = nullptr;
  std::vector<bdd> x;
  std::vector<bdd> held;  // released at teardown
  std::mt19937 rng{2024};

  void SetUp() override {
    m = kzu_bdd_init();
    for (int i = 0; i < N; i++) x.push_back(kzu_bdd_new_var_last(m));
  }
  void TearDown() override {
    for (bdd f : held) kzu_bdd_free(m, f);
    EXPECT_EQ(kzu_bdd_check_temps(m), 0);
    EXPECT_EQ(kzu_bdd_check_heap(m), 0);
    kzu_bdd_quit(m);
  }
  bdd hold(bdd f) {
    EXPECT_NE(f, nullptr);
    held.push_back(f);
    return f;
  }
  bdd one() { return kzu_bdd_one(m); }
  bdd zero() { return kzu_bdd_zero(m); }
  TruthTable tt(bdd f) { return tt_of_edge(m, f, N); }
  TruthTable var(int i) { return TruthTable::var(N, i); }

  // Random set of variable indexes.
  std::vector<int> RandomVars(int max_count) {
    std::vector<int> vs;
    int k = 1 + (int)(rng() % max_count);
    for (int i = 0; i < k; i++) vs.push_back((int)(rng() % N));
    return vs;
  }
  void TempAssoc(const std::vector<int> &vs) {
    std::vector<bdd> a;
    for (int i : vs) a.push_back(x[i]);
    a.push_back(nullptr);
    ASSERT_EQ(kzu_bdd_temp_assoc(m, a.data(), 0), 1);
    kzu_bdd_assoc(m, -1);
  }
  static TruthTable ExistsAll(TruthTable t, const std::vector<int> &vs) {
    for (int i : vs) t = t.exists(i);
    return t;
  }

  // A random function built with the connectives and quantifiers; the edge
  // is held until teardown.
  Fn Random(int depth) {
    if (depth == 0 || rng() % 5 == 0) {
      unsigned r = rng() % 12;
      if (r == 10) return {one(), TruthTable(N, true)};
      if (r == 11) return {zero(), TruthTable(N, false)};
      int i = (int)(rng() % N);
      bool neg = rng() & 1;
      return {neg ? bdd_complement(x[i]) : x[i], neg ? ~var(i) : var(i)};
    }
    Fn a = Random(depth - 1), b = Random(depth - 1);
    switch (rng() % 11) {
      case 0: return {hold(kzu_bdd_and(m, a.e, b.e)), a.t & b.t};
      case 1: return {hold(kzu_bdd_or(m, a.e, b.e)), a.t | b.t};
      case 2: return {hold(kzu_bdd_xor(m, a.e, b.e)), a.t ^ b.t};
      case 3: return {hold(kzu_bdd_xnor(m, a.e, b.e)), ~(a.t ^ b.t)};
      case 4: return {hold(kzu_bdd_nand(m, a.e, b.e)), ~(a.t & b.t)};
      case 5: return {hold(kzu_bdd_nor(m, a.e, b.e)), ~(a.t | b.t)};
      case 6: {
        Fn c = Random(depth - 1);
        return {hold(kzu_bdd_ite(m, a.e, b.e, c.e)), tt_ite(a.t, b.t, c.t)};
      }
      case 7: {
        auto vs = RandomVars(3);
        TempAssoc(vs);
        return {hold(kzu_bdd_exists(m, a.e)), ExistsAll(a.t, vs)};
      }
      case 8: {
        auto vs = RandomVars(3);
        TempAssoc(vs);
        return {hold(kzu_bdd_forall(m, a.e)), ~ExistsAll(~a.t, vs)};
      }
      case 9: {
        auto vs = RandomVars(4);
        TempAssoc(vs);
        return {hold(kzu_bdd_rel_prod(m, a.e, b.e)), ExistsAll(a.t & b.t, vs)};
      }
      default: {
        int i = (int)(rng() % N);
        return {hold(kzu_bdd_compose(m, a.e, x[i], b.e)), a.t.compose(i, b.t)};
      }
    }
  }
};

TEST_F(Ops, RandomFormulasMatchTheirTruthTables) {
  for (int round = 0; round < 300; round++) {
    Fn f = Random(5);
    ASSERT_EQ(tt(f.e), f.t) << "round " << round;
    // Equal functions are identical edges: rebuild from the other side.
    Fn g = Random(3);
    bdd fg = hold(kzu_bdd_and(m, f.e, g.e));
    bdd gf = hold(kzu_bdd_ite(m, g.e, f.e, zero()));
    EXPECT_EQ(fg, gf);
    bdd dm = hold(kzu_bdd_nor(m, bdd_complement(f.e), bdd_complement(g.e)));  // De Morgan
    EXPECT_EQ(dm, fg);
  }
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
}

TEST_F(Ops, IteRules) {
  bdd f = hold(kzu_bdd_xor(m, x[0], hold(kzu_bdd_and(m, x[1], x[2]))));
  bdd g = hold(kzu_bdd_or(m, x[3], x[4]));
  bdd h = hold(kzu_bdd_and(m, x[5], bdd_complement(x[6])));
  EXPECT_EQ(hold(kzu_bdd_ite(m, one(), g, h)), g);
  EXPECT_EQ(hold(kzu_bdd_ite(m, zero(), g, h)), h);
  EXPECT_EQ(hold(kzu_bdd_ite(m, f, one(), zero())), f);
  EXPECT_EQ(hold(kzu_bdd_ite(m, f, zero(), one())), bdd_complement(f));
  EXPECT_EQ(hold(kzu_bdd_ite(m, f, g, g)), g);
  EXPECT_EQ(hold(kzu_bdd_ite(m, f, f, h)), hold(kzu_bdd_ite(m, f, one(), h)));
  EXPECT_EQ(hold(kzu_bdd_ite(m, f, bdd_complement(f), h)), hold(kzu_bdd_ite(m, f, zero(), h)));
  EXPECT_EQ(hold(kzu_bdd_ite(m, f, g, f)), hold(kzu_bdd_ite(m, f, g, zero())));
  EXPECT_EQ(hold(kzu_bdd_ite(m, f, g, bdd_complement(g))), hold(kzu_bdd_xnor(m, f, g)));
  EXPECT_EQ(hold(kzu_bdd_and(m, x[0], bdd_complement(x[0]))), zero());
  EXPECT_EQ(hold(kzu_bdd_and(m, x[0], x[0])), x[0]);
  // AND with zero needs no look-up.
  long lookups = m->op_cache.lookups;
  EXPECT_EQ(hold(kzu_bdd_and(m, f, zero())), zero());
  EXPECT_EQ(hold(kzu_bdd_and(m, zero(), g)), zero());
  EXPECT_EQ(m->op_cache.lookups, lookups);
  // Complemented arguments in every position.
  for (int mask = 0; mask < 8; mask++) {
    bdd a = bdd_complement_if(f, mask & 1), b = bdd_complement_if(g, (mask >> 1) & 1),
        c = bdd_complement_if(h, (mask >> 2) & 1);
    EXPECT_EQ(tt(hold(kzu_bdd_ite(m, a, b, c))), tt_ite(tt(a), tt(b), tt(c)));
  }
}

TEST_F(Ops, IteOnAVariableAboveBothBranchesIsTheNodeItself) {
  // Rebuilding a diagram node by node (as the text reader does) calls
  // ite(variable, then, else); that needs no computed-table entry.
  bdd g = hold(kzu_bdd_or(m, x[3], x[4]));
  bdd h = hold(kzu_bdd_and(m, x[5], bdd_complement(x[6])));
  for (int mask = 0; mask < 8; mask++) {
    bdd a = bdd_complement_if(x[1], mask & 1), b = bdd_complement_if(g, (mask >> 1) & 1),
        c = bdd_complement_if(h, (mask >> 2) & 1);
    long lookups = m->op_cache.lookups;
    bdd r = hold(kzu_bdd_ite(m, a, b, c));
    EXPECT_EQ(m->op_cache.lookups, lookups) << mask;
    EXPECT_EQ(tt(r), tt_ite(tt(a), tt(b), tt(c))) << mask;
    EXPECT_EQ(bdd_id(r), bdd_id(x[1])) << mask;
    // The same edge as (a & b) | (!a & c) built through the general path.
    bdd ref = hold(kzu_bdd_or(m, hold(kzu_bdd_and(m, a, b)), hold(kzu_bdd_and(m, bdd_complement(a), c))));
    EXPECT_EQ(r, ref) << mask;
  }
  // A variable that is not above both branches takes the general path.
  bdd low = hold(kzu_bdd_ite(m, x[4], g, h));
  EXPECT_EQ(tt(low), tt_ite(tt(x[4]), tt(g), tt(h)));
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
}

TEST_F(Ops, SizeInBothModes) {
  EXPECT_EQ(kzu_bdd_size(m, one(), 1), 1);
  EXPECT_EQ(kzu_bdd_size(m, zero(), 0), 1);
  EXPECT_EQ(kzu_bdd_size(m, x[3], 1), 2);
  EXPECT_EQ(kzu_bdd_size(m, x[3], 0), 3);  // the terminal as one and as zero
  bdd a = hold(kzu_bdd_and(m, x[0], x[1]));
  EXPECT_EQ(kzu_bdd_size(m, a, 1), 3);
  EXPECT_EQ(kzu_bdd_size(m, a, 0), 4);  // the terminal is reached as one and as zero
  bdd p = hold(kzu_bdd_xor(m, x[0], x[1]));
  EXPECT_EQ(kzu_bdd_size(m, p, 1), 3);
  EXPECT_EQ(kzu_bdd_size(m, p, 0), 5);  // x1's node in both polarities
  EXPECT_EQ(kzu_bdd_size(m, nullptr, 1), 0);
  bdd fs[] = {a, p, x[1], nullptr};
  EXPECT_EQ(kzu_bdd_size_multiple(m, fs, 1), 4);
  // The marks are clear again afterwards.
  EXPECT_EQ(kzu_bdd_check_temps(m), 0);
}

TEST_F(Ops, QuantificationIdentities) {
  bdd f = hold(kzu_bdd_and(m, x[2], hold(kzu_bdd_or(m, x[4], x[7]))));
  TempAssoc({5});
  EXPECT_EQ(hold(kzu_bdd_exists(m, f)), f);  // variable that does not occur
  bdd xy = hold(kzu_bdd_and(m, x[1], x[3]));
  TempAssoc({1});
  EXPECT_EQ(hold(kzu_bdd_exists(m, xy)), x[3]);  // top variable of x & y
  EXPECT_EQ(hold(kzu_bdd_forall(m, xy)), zero());
  // Everything out of a satisfiable function gives one, and the search stops
  // at the first then-branch that does: the else-branch of the root is never
  // visited when its then-branch is satisfiable.
  std::vector<int> all;
  for (int i = 0; i < N; i++) all.push_back(i);
  TempAssoc(all);
  bdd big = hold(kzu_bdd_ite(m, x[0], x[9], hold(kzu_bdd_xor(m, x[5], hold(kzu_bdd_xor(m, x[6], x[8]))))));
  long lookups = m->op_cache.lookups;
  EXPECT_EQ(hold(kzu_bdd_exists(m, big)), one());
  EXPECT_EQ(m->op_cache.lookups - lookups, 2);  // the root and its then-child x9
  EXPECT_EQ(hold(kzu_bdd_exists(m, zero())), zero());
}

TEST_F(Ops, TemporaryAssociationsNeverShareResults) {
  bdd f = hold(kzu_bdd_and(m, x[0], x[1]));
  TempAssoc({0});
  EXPECT_EQ(hold(kzu_bdd_exists(m, f)), x[1]);
  TempAssoc({1});
  EXPECT_EQ(hold(kzu_bdd_exists(m, f)), x[0]);
  TempAssoc({0});
  EXPECT_EQ(hold(kzu_bdd_exists(m, f)), x[1]);
  // Augmenting changes the association too.
  bdd more[] = {x[1], nullptr};
  kzu_bdd_augment_temp_assoc(m, more, 0);
  EXPECT_EQ(hold(kzu_bdd_exists(m, f)), one());
  // Relational products over different temporary associations likewise.
  bdd g = hold(kzu_bdd_or(m, x[1], x[2]));
  TempAssoc({1});
  EXPECT_EQ(tt(hold(kzu_bdd_rel_prod(m, f, g))), var(0));
  TempAssoc({0});
  EXPECT_EQ(tt(hold(kzu_bdd_rel_prod(m, f, g))), var(1));
}

TEST_F(Ops, NamedAssociations) {
  bdd a[] = {x[0], x[2], nullptr};
  bdd b[] = {x[1], nullptr};
  int ia = kzu_bdd_new_assoc(m, a, 0), ib = kzu_bdd_new_assoc(m, b, 0);
  bdd f = hold(kzu_bdd_and(m, x[0], hold(kzu_bdd_xor(m, x[1], x[2]))));
  kzu_bdd_assoc(m, ia);
  EXPECT_EQ(tt(hold(kzu_bdd_exists(m, f))), TruthTable(N, true));
  kzu_bdd_assoc(m, ib);
  EXPECT_EQ(tt(hold(kzu_bdd_exists(m, f))), var(0));
  kzu_bdd_assoc(m, ia);
  EXPECT_EQ(tt(hold(kzu_bdd_exists(m, f))), TruthTable(N, true));
  bdd pairs[] = {x[0], x[5], x[1], bdd_complement(x[6]), nullptr};
  int ip = kzu_bdd_new_assoc(m, pairs, 1);
  kzu_bdd_assoc(m, ip);
  EXPECT_EQ(tt(hold(kzu_bdd_substitute(m, f))), var(5) & (~var(6) ^ var(2)));
  kzu_bdd_free_assoc(m, ia);
  kzu_bdd_free_assoc(m, ib);
  kzu_bdd_free_assoc(m, ip);
  EXPECT_EQ(m->curr_assoc_id, -1);
}

TEST_F(Ops, SubstitutionIsSimultaneous) {
  for (int round = 0; round < 60; round++) {
    Fn f = Random(4);
    std::vector<bdd> pairs;
    std::vector<std::pair<int, TruthTable>> subst;
    std::vector<bool> used(N, false);
    int k = 1 + (int)(rng() % 4);
    for (int j = 0; j < k; j++) {
      int i = (int)(rng() % N);
      if (used[i]) continue;
      used[i] = true;
      Fn g = Random(2);
      pairs.push_back(x[i]);
      pairs.push_back(g.e);
      subst.emplace_back(i, g.t);
    }
    pairs.push_back(nullptr);
    ASSERT_EQ(kzu_bdd_temp_assoc(m, pairs.data(), 1), 1);
    kzu_bdd_assoc(m, -1);
    bdd r = hold(kzu_bdd_substitute(m, f.e));
    TruthTable want(N);
    for (uint32_t a = 0; a < want.size(); a++) {
      uint32_t b = a;
      for (auto &s : subst) b = s.second.get(a) ? (b | (1u << s.first)) : (b & ~(1u << s.first));
      want.set(a, f.t.get(b));
    }
    ASSERT_EQ(tt(r), want) << "round " << round;
  }
  // Renaming between interleaved variable pairs (x2k+1 -> x2k) keeps sizes.
  bdd f = hold(kzu_bdd_and(m, x[1], hold(kzu_bdd_xor(m, x[3], x[5]))));
  bdd ren[] = {x[1], x[0], x[3], x[2], x[5], x[4], nullptr};
  kzu_bdd_temp_assoc(m, ren, 1);
  bdd r = hold(kzu_bdd_substitute(m, f));
  EXPECT_EQ(r, hold(kzu_bdd_and(m, x[0], hold(kzu_bdd_xor(m, x[2], x[4])))));
  EXPECT_EQ(kzu_bdd_size(m, r, 1), kzu_bdd_size(m, f, 1));
}

// Closest point of the care set c to a under the distance that weighs
// variable i by 2^(n-1-i): the reference semantics of the generalized cofactor.
static uint32_t ClosestInCare(const TruthTable &c, uint32_t a, int n) {
  uint32_t best = 0;
  uint64_t best_d = ~0ull;
  for (uint32_t b = 0; b < c.size(); b++) {
    if (!c.get(b)) continue;
    uint64_t d = 0;
    for (int i = 0; i < n; i++)
      if (((a ^ b) >> i) & 1) d += 1ull << (n - 1 - i);
    if (d < best_d) {
      best_d = d;
      best = b;
    }
  }
  return best;
}

TEST_F(Ops, CofactorReduceAndCompose) {
  for (int round = 0; round < 40; round++) {
    Fn f = Random(4), c = Random(3);
    if (c.t.is_const(false)) continue;
    bdd g = hold(kzu_bdd_cofactor(m, f.e, c.e));
    TruthTable want(N);
    for (uint32_t a = 0; a < want.size(); a++) want.set(a, f.t.get(ClosestInCare(c.t, a, N)));
    ASSERT_EQ(tt(g), want) << "round " << round;
    bdd r = hold(kzu_bdd_reduce(m, f.e, c.e));
    EXPECT_TRUE(((tt(r) ^ f.t) & c.t).is_const(false));
    for (int i = 0; i < N; i++)
      if (!f.t.depends_on(i)) {
        EXPECT_FALSE(tt(r).depends_on(i));
      }
  }
  // A cube as care set gives the plain cofactor.
  bdd f = hold(kzu_bdd_ite(m, x[0], hold(kzu_bdd_and(m, x[1], x[2])), x[3]));
  bdd cube = hold(kzu_bdd_and(m, bdd_complement(x[0]), x[3]));
  EXPECT_EQ(hold(kzu_bdd_cofactor(m, f, cube)), one());
  EXPECT_EQ(hold(kzu_bdd_cofactor(m, f, x[0])), hold(kzu_bdd_and(m, x[1], x[2])));
  EXPECT_EQ(hold(kzu_bdd_compose(m, f, x[3], bdd_complement(x[4]))),
            hold(kzu_bdd_ite(m, x[0], hold(kzu_bdd_and(m, x[1], x[2])), bdd_complement(x[4]))));
}

TEST_F(Ops, CompatibleProjection) {
  for (int round = 0; round < 40; round++) {
    Fn f = Random(4);
    std::vector<bool> isy(N, false);
    std::vector<bdd> ys;
    for (int i = 0; i < N; i++)
      if (rng() % 2) {
        isy[i] = true;
        ys.push_back(x[i]);
      }
    ys.push_back(nullptr);
    kzu_bdd_temp_assoc(m, ys.data(), 0);
    kzu_bdd_assoc(m, -1);
    bdd p = hold(kzu_bdd_project(m, f.e));
    uint32_t ymask = 0;
    for (int i = 0; i < N; i++)
      if (isy[i]) ymask |= 1u << i;
    // The least y, comparing the top variable first (bit-reversed order).
    auto key = [&](uint32_t a) {
      uint32_t k = 0;
      for (int i = 0; i < N; i++)
        if ((a >> i) & 1) k |= 1u << (N - 1 - i);
      return k;
    };
    TruthTable want(N);
    for (uint32_t a = 0; a < want.size(); a++) {
      if (!f.t.get(a)) continue;
      bool least = true;
      for (uint32_t b = 0; b < want.size() && least; b++)
        if ((b & ~ymask) == (a & ~ymask) && f.t.get(b) && key(b & ymask) < key(a & ymask)) least = false;
      want.set(a, least);
    }
    ASSERT_EQ(tt(p), want) << "round " << round;
  }
}

TEST_F(Ops, WitnessesSupportCubesAndFractions) {
  for (int round = 0; round < 80; round++) {
    Fn f = Random(4), g = Random(4);
    bdd w = hold(kzu_bdd_intersects(m, f.e, g.e));
    TruthTable both = f.t & g.t;
    if (both.is_const(false)) {
      EXPECT_EQ(w, zero());
    } else {
      EXPECT_NE(w, zero());
      EXPECT_TRUE(kzu_bdd_is_cube(m, w));
      EXPECT_TRUE((tt(w) & ~both).is_const(false));
    }
    bdd im = hold(kzu_bdd_implies(m, f.e, g.e));
    EXPECT_EQ(im == zero(), (f.t & ~g.t).is_const(false));
    std::vector<bdd> sup(N + 1);
    kzu_bdd_support(m, f.e, sup.data());
    std::vector<bdd> want;
    for (int i = 0; i < N; i++)
      if (f.t.depends_on(i)) want.push_back(x[i]);
    want.push_back(nullptr);
    sup.resize(want.size());
    EXPECT_EQ(sup, want);
    EXPECT_DOUBLE_EQ(kzu_bdd_satisfying_fraction(m, f.e), (double)f.t.count() / (1 << N));
  }
  EXPECT_TRUE(kzu_bdd_is_cube(m, one()));
  EXPECT_FALSE(kzu_bdd_is_cube(m, zero()));
  EXPECT_TRUE(kzu_bdd_is_cube(m, bdd_complement(x[2])));
  EXPECT_FALSE(kzu_bdd_is_cube(m, hold(kzu_bdd_or(m, x[2], x[3]))));
  EXPECT_EQ(kzu_bdd_check_temps(m), 0);
}

TEST_F(Ops, HeavyWorkKeepsTheHeapSound) {
  // Enough work to run several collections in the middle of operations.
  std::vector<Fn> live;
  for (int round = 0; round < 3000; round++) {
    Fn f = Random(6);
    if (round % 300 == 0) {
      kzu_bdd_identity(m, f.e);
      live.push_back(f);
    }
    for (bdd e : held) kzu_bdd_free(m, e);
    held.clear();
  }
  EXPECT_GT(m->unique_table.gcs, 0);
  for (Fn &k : live) held.push_back(k.e);
  for (Fn &k : live) EXPECT_EQ(tt(k.e), k.t);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
}

TEST_F(Ops, RecurringPermanentAssociationsKeepTheirIds) {
  // Alternating between a quantification and a renaming over variables only
  // (as image computation does) reuses each association's operation id...
  bdd f = hold(kzu_bdd_and(m, x[0], hold(kzu_bdd_xor(m, x[1], x[3]))));
  bdd ren[] = {x[1], x[2], x[3], x[4], nullptr};
  long before = m->temp_op;
  for (int round = 0; round < 5; round++) {
    TempAssoc({0});
    EXPECT_EQ(tt(hold(kzu_bdd_exists(m, f))), var(1) ^ var(3));
    kzu_bdd_temp_assoc(m, ren, 1);
    EXPECT_EQ(tt(hold(kzu_bdd_substitute(m, f))), var(0) & (var(2) ^ var(4)));
  }
  EXPECT_EQ(before - m->temp_op, 2);
  // ...while a replacement that is not permanent gets a fresh id every time.
  bdd g = hold(kzu_bdd_or(m, x[5], x[6]));
  bdd pairs[] = {x[1], g, nullptr};
  before = m->temp_op;
  for (int round = 0; round < 3; round++) {
    kzu_bdd_temp_assoc(m, pairs, 1);
    EXPECT_EQ(tt(hold(kzu_bdd_substitute(m, f))), var(0) & (tt(g) ^ var(3)));
    TempAssoc({5});
    EXPECT_EQ(tt(hold(kzu_bdd_exists(m, f))), tt(f));
  }
  EXPECT_EQ(before - m->temp_op, 4);  // three substitutions, one quantification
}

TEST_F(Ops, SatisfyingFractionsOfManyVariables) {
  // Over 70 variables a single minterm has fraction 2^-70; computing each
  // polarity on its own keeps it exact.
  kzu_bdd_manager big = kzu_bdd_init();
  bdd acc = kzu_bdd_one(big);
  for (int i = 0; i < 70; i++) {
    bdd v = kzu_bdd_new_var_last(big);
    bdd next = kzu_bdd_and(big, acc, (i % 3) ? v : bdd_complement(v));
    kzu_bdd_free(big, acc);
    acc = next;
  }
  EXPECT_EQ(kzu_bdd_satisfying_fraction(big, acc), std::ldexp(1.0, -70));
  EXPECT_EQ(kzu_bdd_satisfying_fraction(big, bdd_complement(acc)), 1.0);
  bdd one_more = kzu_bdd_and(big, bdd_complement(acc), kzu_bdd_var_with_id(big, 70));
  EXPECT_EQ(kzu_bdd_satisfying_fraction(big, one_more), 0.5);
  kzu_bdd_free(big, one_more);
  kzu_bdd_free(big, acc);
  kzu_bdd_quit(big);
}

}  // namespace
