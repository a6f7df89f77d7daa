// Random multi-valued relations checked against brute force: every code
// tuple of the bits (codes beyond a domain must act as their paired value)
// and every minterm the generator yields over random variable lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "mdd/mdd.h"

namespace {

// The value whose table entry code `code` of an n-value, k-bit mvar takes:
// entries are paired bit by bit from the least significant, an odd last
// entry carried up unpaired.
int entryOf(int n, int k, int code) {
  struct Node {
    int value;  // a leaf when bit < 0
    int bit, even, odd;
  };
  std::vector<Node> nodes;
  std::vector<int> level;
  for (int v = 0; v < n; v++) {
    nodes.push_back({v, -1, 0, 0});
    level.push_back(v);
  }
  for (int j = k - 1; j >= 0 && level.size() > 1; j--) {
    std::vector<int> next;
    for (size_t p = 0; p + 1 < level.size(); p += 2) {
      nodes.push_back({0, j, level[p], level[p + 1]});
      next.push_back((int)nodes.size() - 1);
    }
    if (level.size() % 2) next.push_back(level.back());
    level = next;
  }
  int at = level[0];
  while (nodes[at].bit >= 0) at = (code >> (k - 1 - nodes[at].bit)) & 1 ? nodes[at].odd : nodes[at].even;
  return nodes[at].value;
}

using Truth = std::vector<char>;  // one entry per value tuple

class Oracle {
 public:
  Oracle(std::vector<int> domains, bool interleave, uint32_t seed) : dom(domains), rng(seed) {
    array_t *values = array_alloc(int, 0);
    for (int d : dom) array_insert_last(int, values, d);
    array_t *strides = nullptr;
    if (interleave) {
      strides = array_alloc(int, 0);
      for (int s : {2, 2, 1}) array_insert_last(int, strides, s);
    }
    mgr = mdd_init(values, nullptr, strides);
    array_free(values);
    array_free(strides);
    size = 1;
    for (int d : dom) size *= d;
  }
  ~Oracle() { mdd_quit(mgr); }

  std::vector<int> tuple(int index) const {
    std::vector<int> t;
    for (int d : dom) {
      t.push_back(index % d);
      index /= d;
    }
    return t;
  }

  int index(const std::vector<int> &t) const {
    int idx = 0;
    for (int i = (int)dom.size() - 1; i >= 0; i--) idx = idx * dom[i] + t[i];
    return idx;
  }

  template <class F>
  Truth tabulate(F pred) const {
    Truth truth(size);
    for (int t = 0; t < size; t++) truth[t] = pred(tuple(t)) ? 1 : 0;
    return truth;
  }

  // A random function built by the layer and the connectives, with its
  // truth table; depth bounds the nesting.
  mdd_t *random(int depth, Truth &truth) {
    int (*const cmps[])(int, int) = {eq2, neq2, geq2, gt2, leq2, lt2, unary_minus2};
    int nv = (int)dom.size();
    int kind = depth <= 0 ? (int)(rng() % 3) : (int)(rng() % 7);
    if (kind == 0) {
      int i = (int)(rng() % nv), c = (int)(rng() % 7) - 1;
      auto fn = cmps[rng() % 7];
      truth = tabulate([&](const std::vector<int> &t) { return fn(t[i], c) != 0; });
      return mdd_func1c(mgr, i, c, fn);
    }
    if (kind == 1) {
      int i = (int)(rng() % nv), j = (int)(rng() % nv);
      auto fn = cmps[rng() % 7];
      truth = tabulate([&](const std::vector<int> &t) { return fn(t[i], t[j]) != 0; });
      return mdd_func2(mgr, i, j, fn);
    }
    if (kind == 2) {
      int i = (int)(rng() % nv);
      array_t *vals = array_alloc(int, 0);
      std::set<int> chosen;
      for (int v = 0; v < dom[i]; v++)
        if (rng() % 2) {
          array_insert_last(int, vals, v);
          chosen.insert(v);
        }
      truth = tabulate([&](const std::vector<int> &t) { return chosen.count(t[i]) > 0; });
      mdd_t *f = mdd_literal(mgr, i, vals);
      array_free(vals);
      return f;
    }
    if (kind <= 4) {  // a table over one mvar; its own bits may occur in the children
      int i = (int)(rng() % nv);
      array_t *children = array_alloc(mdd_t *, 0);
      std::vector<Truth> child_truth(dom[i]);
      std::vector<mdd_t *> constants;
      for (int v = 0; v < dom[i]; v++) {
        mdd_t *c;
        if (rng() % 4 == 0) {
          bool one = rng() % 2;
          c = one ? bdd_one(mgr) : bdd_zero(mgr);
          child_truth[v].assign(size, one);
        } else {
          c = random(depth - 1, child_truth[v]);
        }
        if (bdd_is_tautology(c, 1) || bdd_is_tautology(c, 0)) constants.push_back(c);
        array_insert_last(mdd_t *, children, c);
      }
      truth = tabulate([&](const std::vector<int> &t) { return child_truth[t[i]][index(t)] != 0; });
      mdd_t *f = mdd_case(mgr, i, children);  // takes the non-constant children
      for (mdd_t *c : constants) bdd_free(c);
      array_free(children);
      return f;
    }
    if (kind == 5) {
      Truth a, b;
      mdd_t *f = random(depth - 1, a), *g = random(depth - 1, b);
      int op = (int)(rng() % 4);
      mdd_t *r;
      if (op == 0) {
        r = bdd_and(f, g, 1, 1);
        truth = tabulate([&](const std::vector<int> &t) { return a[index(t)] && b[index(t)]; });
      } else if (op == 1) {
        r = bdd_and(f, g, 1, 0);
        truth = tabulate([&](const std::vector<int> &t) { return a[index(t)] && !b[index(t)]; });
      } else if (op == 2) {
        r = bdd_or(f, g, 0, 1);
        truth = tabulate([&](const std::vector<int> &t) { return !a[index(t)] || b[index(t)]; });
      } else {
        r = bdd_xor(f, g);
        truth = tabulate([&](const std::vector<int> &t) { return a[index(t)] != b[index(t)]; });
      }
      bdd_free(f);
      bdd_free(g);
      return r;
    }
    Truth a;
    mdd_t *f = random(depth - 1, a);
    std::vector<int> gone;
    array_t *ids = array_alloc(int, 0);
    for (int i = 0; i < nv; i++)
      if (rng() % 3 == 0) {
        gone.push_back(i);
        array_insert_last(int, ids, i);
      }
    if (gone.empty()) {
      gone.push_back(0);
      array_insert_last(int, ids, 0);
    }
    mdd_t *g = mdd_smooth(mgr, f, ids);
    array_free(ids);
    bdd_free(f);
    truth = tabulate([&](std::vector<int> t) {
      // Some assignment of the quantified mvars satisfies a.
      std::vector<int> pos(gone.size(), 0);
      for (;;) {
        for (size_t q = 0; q < gone.size(); q++) t[gone[q]] = pos[q];
        if (a[index(t)]) return true;
        size_t q = 0;
        while (q < gone.size() && ++pos[q] == dom[gone[q]]) pos[q++] = 0;
        if (q == gone.size()) return false;
      }
    });
    return g;
  }

  // Evaluates f on one assignment of every bvar by walking its cofactors.
  bool eval(mdd_t *f, const std::vector<int> &bits) {
    mdd_t *g = bdd_dup(f);
    while (!bdd_is_tautology(g, 1) && !bdd_is_tautology(g, 0)) {
      mdd_t *n = bits[bdd_top_var_id(g)] ? bdd_then(g) : bdd_else(g);
      bdd_free(g);
      g = n;
    }
    bool r = bdd_is_tautology(g, 1);
    bdd_free(g);
    return r;
  }

  // f at every bit pattern equals the truth at the entries its codes take.
  void checkAllCodes(mdd_t *f, const Truth &truth) {
    array_t *mvars = mdd_ret_mvar_list(mgr);
    int nbits = array_n(mdd_ret_bvar_list(mgr));
    for (int pattern = 0; pattern < (1 << nbits); pattern++) {
      std::vector<int> bits(nbits);
      for (int b = 0; b < nbits; b++) bits[b] = (pattern >> b) & 1;
      std::vector<int> t;
      for (size_t i = 0; i < dom.size(); i++) {
        mvar_type &mv = array_fetch(mvar_type, mvars, (int)i);
        int code = 0;
        for (int b = 0; b < mv.encode_length; b++) code = 2 * code + bits[array_fetch(int, mv.bvars, b)];
        t.push_back(entryOf(mv.values, mv.encode_length, code));
      }
      ASSERT_EQ(eval(f, bits), truth[index(t)] != 0) << "bit pattern " << pattern;
    }
  }

  // The generator over `vars` (null: every mvar) yields exactly the
  // projection of the truth, each tuple once, nothing out of range.
  void checkMinterms(mdd_t *f, const Truth &truth, const std::vector<int> *vars) {
    std::vector<int> ids;
    if (vars)
      ids = *vars;
    else
      for (size_t i = 0; i < dom.size(); i++) ids.push_back((int)i);
    std::set<std::vector<int>> expected;
    for (int t = 0; t < size; t++)
      if (truth[t]) {
        std::vector<int> row;
        for (int id : ids) row.push_back(tuple(t)[id]);
        expected.insert(row);
      }
    array_t *list = nullptr;
    if (vars) {
      list = array_alloc(int, 0);
      for (int id : ids) array_insert_last(int, list, id);
    }
    std::set<std::vector<int>> got;
    size_t count = 0;
    array_t *m = nullptr;
    mdd_gen *gen;
    foreach_mdd_minterm(f, gen, m, list) {
      std::vector<int> row;
      for (int i = 0; i < array_n(m); i++) {
        row.push_back(array_fetch(int, m, i));
        EXPECT_LT(row.back(), dom[ids[i]]);
      }
      got.insert(row);
      count++;
      array_free(m);
    }
    EXPECT_EQ(count, got.size()) << "a minterm came twice";
    EXPECT_EQ(got, expected);
    array_t *counted = array_alloc(int, 0);
    for (int id : ids) array_insert_last(int, counted, id);
    EXPECT_EQ(mdd_count_onset(mgr, f, counted), (double)expected.size());
    array_free(counted);
    array_free(list);
  }

  std::vector<int> randomVarList() {
    std::vector<int> ids;
    for (size_t i = 0; i < dom.size(); i++)
      if (rng() % 2) ids.push_back((int)i);
    std::shuffle(ids.begin(), ids.end(), rng);
    return ids;
  }

  std::vector<int> dom;
  std::mt19937 rng;
  mdd_manager *mgr;
  int size;
};

std::vector<int> randomDomains(std::mt19937 &rng, bool interleave) {
  std::vector<int> dom;
  for (int i = 0; i < 3; i++) dom.push_back(1 + (int)(rng() % 7));
  if (interleave) {
    // The two interleaved mvars need the same bit count.
    auto bits = [](int n) { return n <= 2 ? 1 : n <= 4 ? 2 : 3; };
    while (bits(dom[1]) != bits(dom[0])) dom[1] = 1 + (int)(rng() % 7);
  }
  return dom;
}

TEST(MddOracle, RandomRelationsMatchBruteForce) {
  std::mt19937 setup(2024);
  for (int round = 0; round < 60; round++) {
    bool interleave = round % 3 == 2;
    Oracle o(randomDomains(setup, interleave), interleave, 1000u + (uint32_t)round);
    for (int k = 0; k < 8; k++) {
      Truth truth;
      mdd_t *f = o.random(3, truth);
      o.checkAllCodes(f, truth);
      o.checkMinterms(f, truth, nullptr);
      std::vector<int> vars = o.randomVarList();
      o.checkMinterms(f, truth, &vars);
      bdd_free(f);
      if (HasFailure()) {
        ADD_FAILURE() << "round " << round << " function " << k;
        return;
      }
    }
  }
}

// Equal relations built in different ways give the identical diagram.
TEST(MddOracle, EqualRelationsAreIdentical) {
  std::mt19937 setup(99);
  for (int round = 0; round < 30; round++) {
    Oracle o(randomDomains(setup, false), false, 500u + (uint32_t)round);
    int a = (int)(o.rng() % 3), b = (int)(o.rng() % 3);
    mdd_t *lt = mdd_func2(o.mgr, a, b, lt2), *eq = mdd_func2(o.mgr, a, b, eq2);
    mdd_t *le = mdd_func2(o.mgr, a, b, leq2);
    mdd_t *either = bdd_or(lt, eq, 1, 1);
    EXPECT_TRUE(bdd_equal(either, le));
    mdd_t *gt = mdd_func2(o.mgr, b, a, gt2);
    EXPECT_TRUE(bdd_equal(gt, lt));
    for (mdd_t *h : {lt, eq, le, either, gt}) bdd_free(h);
  }
}

}  // namespace
