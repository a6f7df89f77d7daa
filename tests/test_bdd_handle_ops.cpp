// Handle layer: the further operations and their messages.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <set>
#include <vector>

#include "kzuPort/bddInt.h"
#include "support/truth_table.h"

namespace {

class HandleOps : public ::testing::Test {
 protected:
  static constexpr int N = 8;
  bdd_manager *mgr = nullptr;
  std::vector<bdd_t *> v;
  std::vector<bdd_t *> owned;
  std::vector<array_t *> arrays;

  void SetUp() override {
    mgr = bdd_start(N);
    for (int i = 0; i < N; i++) v.push_back(bdd_get_variable(mgr, (bdd_variableId)i));
  }
  void TearDown() override {
    for (array_t *a : arrays) array_free(a);
    for (bdd_t *f : owned) bdd_free(f);
    for (bdd_t *f : v) bdd_free(f);
    bdd_end(mgr);
  }
  bdd_t *keep(bdd_t *f) {
    owned.push_back(f);
    return f;
  }
  array_t *Array(std::vector<bdd_t *> fs) {
    array_t *a = array_alloc(bdd_t *, 0);
    for (bdd_t *f : fs) array_insert_last(bdd_t *, a, f);
    arrays.push_back(a);
    return a;
  }
  // Keeps every handle of a result array.
  array_t *KeepAll(array_t *a) {
    for (int i = 0; i < array_n(a); i++) keep(array_fetch(bdd_t *, a, i));
    arrays.push_back(a);
    return a;
  }
  TruthTable tt(bdd_t *f) { return tt_of_handle(f, N); }
  TruthTable var(int i) { return TruthTable::var(N, i); }
  bdd_t *And(bdd_t *f, bdd_t *g) { return keep(bdd_and(f, g, 1, 1)); }
  bdd_t *Or(bdd_t *f, bdd_t *g) { return keep(bdd_or(f, g, 1, 1)); }
};

TEST_F(HandleOps, VariablesAndLevels) {
  bdd_t *nv = keep(bdd_create_variable(mgr));
  EXPECT_EQ(bdd_top_var_id(nv), (bdd_variableId)N);
  EXPECT_EQ(bdd_num_vars(mgr), (unsigned)N + 1);
  bdd_t *after = keep(bdd_create_variable_after(mgr, 2));
  EXPECT_EQ(bdd_top_var_id(after), (bdd_variableId)N + 1);
  EXPECT_EQ(bdd_top_var_level(mgr, after), 3);
  EXPECT_EQ(bdd_top_var_level(mgr, v[3]), 4);
  EXPECT_EQ(bdd_get_id_from_level(mgr, 3), (bdd_variableId)N + 1);
  EXPECT_TRUE(bdd_equal(keep(bdd_var_with_index(mgr, 3)), after));
  bdd_t *f = And(v[4], v[1]);
  EXPECT_TRUE(bdd_equal(keep(bdd_top_var(f)), v[1]));
  EXPECT_EQ(bdd_top_var_level(mgr, keep(bdd_one(mgr))), -1);
  EXPECT_FALSE(bdd_get_free(f));
  EXPECT_EQ(bdd_pointer(f), f->node);
}

TEST_F(HandleOps, FoldsAndPairwise) {
  array_t *a = Array({v[0], v[1], v[2]});
  EXPECT_EQ(tt(keep(bdd_multiway_and(mgr, a))), var(0) & var(1) & var(2));
  EXPECT_EQ(tt(keep(bdd_multiway_or(mgr, a))), var(0) | var(1) | var(2));
  EXPECT_EQ(tt(keep(bdd_multiway_xor(mgr, a))), var(0) ^ var(1) ^ var(2));
  EXPECT_TRUE(bdd_is_tautology(keep(bdd_multiway_and(mgr, Array({}))), 1));
  EXPECT_EQ(tt(keep(bdd_and_array(v[3], a, 0, 1))), ~var(3) & var(0) & var(1) & var(2));
  EXPECT_EQ(tt(keep(bdd_and_with_limit(v[3], v[4], 1, 0, 10))), var(3) & ~var(4));
  array_t *b = Array({v[5], v[6], v[7]});
  array_t *r = KeepAll(bdd_pairwise_or(mgr, a, b));
  ASSERT_EQ(array_n(r), 3);
  EXPECT_EQ(tt(array_fetch(bdd_t *, r, 2)), var(2) | var(7));
  r = KeepAll(bdd_pairwise_xor(mgr, a, b));
  EXPECT_EQ(tt(array_fetch(bdd_t *, r, 0)), var(0) ^ var(5));
  r = KeepAll(bdd_pairwise_and(mgr, a, b));
  EXPECT_EQ(tt(array_fetch(bdd_t *, r, 1)), var(1) & var(6));
  testing::internal::CaptureStderr();
  EXPECT_EQ(bdd_pairwise_and(mgr, a, Array({v[0]})), nullptr);
  EXPECT_EQ(bdd_pairwise_or(mgr, a, Array({v[0]})), nullptr);
  EXPECT_EQ(bdd_pairwise_xor(mgr, a, Array({v[0]})), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "bdd_pairwise_and: Arrays of different lengths.\n"
            "bdd_pairwise_or: Arrays of different lengths.\n"
            "bdd_pairwise_xor: Arrays of different lengths.\n");
}

TEST_F(HandleOps, QuantifiersAndProjection) {
  bdd_t *f = Or(And(v[0], v[1]), And(v[2], keep(bdd_not(v[1]))));
  TruthTable tf = tt(f);
  array_t *x1 = Array({v[1]});
  EXPECT_EQ(tt(keep(bdd_smooth(f, x1))), tf.exists(1));
  EXPECT_EQ(tt(keep(bdd_consensus(f, x1))), tf.forall(1));
  bdd_t *g = Or(v[1], v[3]);
  EXPECT_EQ(tt(keep(bdd_and_smooth(f, g, x1))), (tf & tt(g)).exists(1));
  EXPECT_EQ(tt(keep(bdd_and_smooth_with_limit(f, g, x1, 5))), (tf & tt(g)).exists(1));
  bdd_t *cube = And(v[0], keep(bdd_not(v[2])));
  EXPECT_EQ(tt(keep(bdd_smooth_with_cube(f, cube))), tf.exists(0).exists(2));
  // Projection keeps one assignment of x1 per assignment of the others.
  bdd_t *p = keep(bdd_cproject(Or(v[1], v[2]), x1));
  EXPECT_EQ(tt(p), (~var(1) & var(2)) | (var(1) & ~var(2)));
  testing::internal::CaptureStdout();
  bdd_t *same = keep(bdd_cproject(f, Array({})));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: bdd_cproject: no projection variables\n");
  EXPECT_TRUE(bdd_equal(same, f));
}

TEST_F(HandleOps, SubstitutionCofactorsAndComposition) {
  bdd_t *f = Or(And(v[0], v[2]), v[4]);
  array_t *olds = Array({v[0], v[2]});
  array_t *news = Array({v[1], keep(bdd_not(v[3]))});
  EXPECT_EQ(tt(keep(bdd_substitute(f, olds, news))), (var(1) & ~var(3)) | var(4));
  array_t *out = KeepAll(bdd_substitute_array(Array({f, v[0]}), olds, news));
  ASSERT_EQ(array_n(out), 2);
  EXPECT_TRUE(bdd_equal(array_fetch(bdd_t *, out, 1), v[1]));
  EXPECT_EQ(tt(keep(bdd_cofactor(f, v[0]))), var(2) | var(4));
  EXPECT_EQ(tt(keep(bdd_cofactor_array(f, Array({v[0], keep(bdd_not(v[4]))})))), var(2));
  EXPECT_EQ(tt(keep(bdd_compose(f, v[4], And(v[5], v[6])))), (var(0) & var(2)) | (var(5) & var(6)));
}

// Variable lists are kept as named associations (at most BDD_PORT_ASSOCS):
// lists met again, lists in turn, more lists than are kept, lists with
// functions that are no variables, and lists met again after a collection
// all give the truth table's answer, and a list met again adds nothing.
TEST_F(HandleOps, VariableListsAreKeptAndMetAgain) {
  std::mt19937 rng(17);
  bdd_t *f = Or(Or(And(v[0], v[5]), And(v[1], keep(bdd_not(v[6])))), And(v[2], Or(v[3], v[7])));
  bdd_t *g = Or(And(v[4], v[1]), keep(bdd_xor(v[6], v[2])));
  TruthTable tf = tt(f), tg = tt(g);
  // Fresh handles on the same variables: the lists are compared by edge.
  auto vars = [&](std::vector<int> ids) {
    std::vector<bdd_t *> hs;
    for (int id : ids) hs.push_back(keep(bdd_get_variable(mgr, (bdd_variableId)id)));
    return Array(hs);
  };
  auto exists = [](TruthTable t, const std::vector<int> &ids) {
    for (int id : ids) t = t.exists(id);
    return t;
  };
  // Simultaneous substitution of new_i for variable old_i.
  auto substitute = [&](const TruthTable &t, const std::vector<int> &olds, const std::vector<TruthTable> &news) {
    TruthTable r(N);
    for (uint32_t a = 0; a < r.size(); a++) {
      uint32_t b = a;
      for (size_t i = 0; i < olds.size(); i++) b = (b & ~(1u << olds[i])) | ((uint32_t)news[i].get(a) << olds[i]);
      r.set(a, t.get(b));
    }
    return r;
  };
  const std::vector<std::vector<int>> lists = {{0, 1}, {2}, {5, 3, 1}, {7, 6},   {0, 2, 4, 6}, {1, 3},
                                               {4},    {6}, {0, 7},    {3, 4, 5}, {2, 6}};
  bdd_port_state *state = bdd_port_state_of((kzu_bdd_manager)mgr);
  for (int round = 0; round < 120; round++) {
    const std::vector<int> &ids = lists[rng() % lists.size()];
    int kept = state->assocs;
    switch (rng() % 4) {
      case 0:
        EXPECT_EQ(tt(keep(bdd_smooth(f, vars(ids)))), exists(tf, ids));
        break;
      case 1:
        EXPECT_EQ(tt(keep(bdd_and_smooth(f, g, vars(ids)))), exists(tf & tg, ids));
        break;
      case 2: {
        // Each variable of the list takes the next one's place (a rotation).
        std::vector<int> news;
        std::vector<TruthTable> nt;
        for (size_t i = 0; i < ids.size(); i++) news.push_back(ids[(i + 1) % ids.size()]);
        for (int id : news) nt.push_back(var(id));
        EXPECT_EQ(tt(keep(bdd_substitute(f, vars(ids), vars(news)))), substitute(tf, ids, nt));
        break;
      }
      default: {
        // Functions that are no variables go through the temporary association.
        std::vector<bdd_t *> news;
        std::vector<TruthTable> nt;
        for (int id : ids) {
          news.push_back(And(v[(id + 1) % N], v[(id + 3) % N]));
          nt.push_back(tt(news.back()));
        }
        EXPECT_EQ(tt(keep(bdd_substitute(f, vars(ids), Array(news)))), substitute(tf, ids, nt));
        EXPECT_EQ(state->assocs, kept);
        break;
      }
    }
    EXPECT_LE(state->assocs, BDD_PORT_ASSOCS);
    if (round % 30 == 29) {
      for (bdd_t *h : owned)
        if (h != f && h != g) bdd_free(h);
      owned = {f, g};
      kzu_bdd_gc((kzu_bdd_manager)mgr);
    }
  }
  // Every kept list is met again without a new association.
  int kept = state->assocs;
  EXPECT_EQ(kept, BDD_PORT_ASSOCS);
  for (int k = 0; k < kept; k++) {
    bdd_port_assoc a = state->assoc[k];
    if (a.pairs) continue;
    std::vector<int> ids;
    for (int i = 0; i < a.n; i++) ids.push_back((int)(kzu_bdd_if_id((kzu_bdd_manager)mgr, a.edges[i]) - 1));
    EXPECT_EQ(tt(keep(bdd_smooth(g, vars(ids)))), exists(tg, ids));
    EXPECT_EQ(state->assocs, kept);
  }
}

TEST_F(HandleOps, Relations) {
  bdd_t *a = And(v[0], v[1]);
  EXPECT_TRUE(bdd_intersects(a, v[0]));
  EXPECT_FALSE(bdd_intersects(a, keep(bdd_not(v[1]))));
  EXPECT_TRUE(bdd_leq(a, v[0], 1, 1));
  EXPECT_FALSE(bdd_leq(v[0], a, 1, 1));
  EXPECT_TRUE(bdd_leq(v[0], a, 0, 0));  // !x0 <= !(x0 & x1)
  EXPECT_TRUE(bdd_leq_array(a, Array({v[0], v[1]}), 1, 1));
  EXPECT_FALSE(bdd_leq_array(a, Array({v[0], v[2]}), 1, 1));
  EXPECT_TRUE(bdd_equal_mod_care_set(v[0], a, v[1]));
  EXPECT_FALSE(bdd_equal_mod_care_set(v[0], a, v[2]));
  EXPECT_TRUE(bdd_lequal_mod_care_set(v[0], v[1], 1, 1, v[1]));
  EXPECT_FALSE(bdd_lequal_mod_care_set(v[0], v[1], 1, 1, v[2]));
}

TEST_F(HandleOps, CountingSupportAndMinimisation) {
  bdd_t *f = Or(And(v[0], v[3]), v[5]);
  EXPECT_DOUBLE_EQ(bdd_count_onset(f, Array({v[0], v[3], v[5]})), 5.0);
  EXPECT_DOUBLE_EQ(bdd_count_onset(f, Array(v)), 5.0 * 32);
  var_set_t *s = bdd_get_support(f);
  EXPECT_EQ(var_set_n_elts(s), 3);
  EXPECT_TRUE(var_set_get_elt(s, 3));
  EXPECT_FALSE(var_set_get_elt(s, 4));
  var_set_free(s);
  EXPECT_TRUE(bdd_is_support_var(f, v[5]));
  EXPECT_FALSE(bdd_is_support_var(f, v[1]));
  EXPECT_TRUE(bdd_is_support_var_id(f, 0));
  array_t *ids = bdd_get_varids(Array({v[6], v[2]}));
  EXPECT_EQ(array_fetch(int, ids, 0), 6);
  EXPECT_EQ(array_fetch(int, ids, 1), 2);
  array_free(ids);
  EXPECT_EQ(bdd_size_multiple(Array({f, v[5], v[0]})), bdd_size(f) + 1);
  EXPECT_TRUE(bdd_is_cube(And(v[0], keep(bdd_not(v[2])))));
  EXPECT_FALSE(bdd_is_cube(f));
  // Within the care set x5 = 0, f is just x0 & x3.
  bdd_t *small = keep(bdd_minimize(f, keep(bdd_not(v[5]))));
  EXPECT_TRUE(bdd_equal(small, And(v[0], v[3])));
  bdd_t *not_smaller = keep(bdd_minimize(v[0], v[1]));
  EXPECT_TRUE(bdd_equal(not_smaller, v[0]));
  array_t *mins = KeepAll(bdd_minimize_array(Array({f, v[0]}), keep(bdd_not(v[5]))));
  EXPECT_EQ(array_n(mins), 2);
  bdd_t *lo = And(And(v[0], v[1]), v[2]);
  bdd_t *hi = v[0];
  bdd_t *mid = keep(bdd_between(lo, hi));
  EXPECT_TRUE(bdd_leq(lo, mid, 1, 1));
  EXPECT_TRUE(bdd_leq(mid, hi, 1, 1));
  EXPECT_LE(bdd_size(mid), bdd_size(lo));
}

TEST_F(HandleOps, BlocksReorderingAndSettings) {
  bdd_block *b = bdd_new_var_block(v[2], 3);
  ASSERT_NE(b, nullptr);
  bdd_var_block_reorderable(mgr, b, 1);
  bdd_dynamic_reordering(mgr, BDD_REORDER_SIFT, BDD_REORDER_VERBOSITY_DEFAULT);
  bdd_dynamic_reordering(mgr, BDD_REORDER_WINDOW, BDD_REORDER_VERBOSITY_DEFAULT);
  bdd_dynamic_reordering(mgr, BDD_REORDER_NONE, BDD_REORDER_VERBOSITY_DEFAULT);
  testing::internal::CaptureStderr();
  bdd_dynamic_reordering(mgr, BDD_REORDER_GENETIC, BDD_REORDER_VERBOSITY_DEFAULT);
  bdd_set_gc_mode(mgr, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "KZU: bdd_dynamic_reordering: unknown algorithm type\n"
            "Using SIFT method instead\n"
            "BDD library: warning: bdd_set_gc_mode: translated to no-op in KZU package\n");
  bdd_t *f = Or(v[0], v[7]);
  bdd_reorder(mgr);
  EXPECT_EQ(tt(f), var(0) | var(7));
  bdd_dynamic_reordering(mgr, BDD_REORDER_NONE, BDD_REORDER_VERBOSITY_DEFAULT);
  char *buf = nullptr;
  size_t len = 0;
  FILE *fp = open_memstream(&buf, &len);
  EXPECT_EQ(bdd_set_parameters(mgr, nullptr, fp), 1);
  bdd_print_stats(mgr, fp);
  fclose(fp);
  std::string out(buf, len);
  free(buf);
  EXPECT_EQ(out.rfind("Functionality not supported yet in the KZU package\n", 0), 0u);
  EXPECT_NE(out.find("Number of variables: 8\n"), std::string::npos);
}

// ---- Node-by-node copying ------------------------------------------------------------------

// A line as node inspection through handles gives it.
struct InspectedLine {
  uintptr_t ref;
  bdd_variableId var;
  uintptr_t child[2];
  int kind[2];  // 1 true, 0 false, -1 a node
  bdd_variableId childVar[2];
};

// f's references breadth first, then-child before else-child, each once.
std::vector<InspectedLine> inspect(bdd_t *f) {
  std::vector<InspectedLine> lines;
  if (bdd_is_tautology(f, 1) || bdd_is_tautology(f, 0)) return lines;
  std::deque<bdd_t *> queue{bdd_dup(f)};
  std::set<uintptr_t> met{(uintptr_t)f->node};
  while (!queue.empty()) {
    bdd_t *h = queue.front();
    queue.pop_front();
    boolean c = 0;
    bdd_get_node(h, &c);
    bdd_t *plain = c ? bdd_not(h) : bdd_dup(h);
    bdd_t *kids[2] = {bdd_then(plain), bdd_else(plain)};
    InspectedLine l{(uintptr_t)h->node, bdd_top_var_id(h), {}, {}, {}};
    for (int side = 0; side < 2; side++) {
      bdd_t *k = kids[side];
      l.child[side] = (uintptr_t)k->node;
      l.kind[side] = bdd_is_tautology(k, 1) ? 1 : bdd_is_tautology(k, 0) ? 0 : -1;
      l.childVar[side] = bdd_top_var_id(k);
    }
    lines.push_back(l);
    for (bdd_t *k : kids) {
      bool constant = bdd_is_tautology(k, 1) || bdd_is_tautology(k, 0);
      if (!constant && met.insert((uintptr_t)k->node).second)
        queue.push_back(k);
      else
        bdd_free(k);
    }
    bdd_free(plain);
    bdd_free(h);
  }
  return lines;
}

std::vector<bdd_walk_line> walk(bdd_t *f, boolean numbered, long batch) {
  std::vector<bdd_walk_line> lines, part((size_t)batch);
  bdd_walk *w = bdd_walk_start(f, numbered);
  for (long n; (n = bdd_walk_next(w, part.data(), batch)) > 0;)
    lines.insert(lines.end(), part.begin(), part.begin() + n);
  bdd_walk_free(w);
  return lines;
}

// The steps that make a numbered walk's lines again, step i setting slot i.
std::vector<bdd_build_step> stepsOf(const std::vector<bdd_walk_line> &lines) {
  std::vector<bdd_build_step> steps;
  for (const bdd_walk_line &l : lines) {
    bdd_build_step s{(int)steps.size(), {0, 0}, l.var, (boolean)(l.ref & 1)};
    for (int side = 0; side < 2; side++)
      s.child[side] = l.child_kind[side] < 0 ? (int)l.child_line[side]
                      : l.child_kind[side] ? BDD_BUILD_ONE
                                           : BDD_BUILD_ZERO;
    steps.push_back(s);
  }
  return steps;
}

class NodeCopy : public HandleOps {
 protected:
  bdd_t *Random(std::mt19937 &rng, int depth) {
    if (depth == 0 || rng() % 4 == 0) {
      bdd_t *x = v[rng() % N];
      return rng() % 2 ? keep(bdd_not(x)) : x;
    }
    bdd_t *a = Random(rng, depth - 1), *b = Random(rng, depth - 1);
    switch (rng() % 3) {
      case 0: return keep(bdd_and(a, b, 1, rng() % 2));
      case 1: return keep(bdd_or(a, b, rng() % 2, 1));
      default: return keep(bdd_xor(a, b));  // shares nodes in both polarities
    }
  }
  // The walk against inspection, and the function built again from it.
  void checkCopy(bdd_t *f) {
    std::vector<InspectedLine> want = inspect(f);
    for (boolean numbered : {0, 1}) {
      std::vector<bdd_walk_line> got = walk(f, numbered, numbered ? 7 : 1);
      ASSERT_EQ(want.size(), got.size());
      for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(want[i].ref, got[i].ref) << i;
        EXPECT_EQ(want[i].var, got[i].var) << i;
        for (int side = 0; side < 2; side++) {
          uintptr_t c = got[i].child[side];
          EXPECT_EQ(want[i].child[side], c);
          EXPECT_EQ(want[i].kind[side], got[i].child_kind[side]);
          if (want[i].kind[side] >= 0) continue;
          EXPECT_EQ(want[i].childVar[side], got[i].child_var[side]);
          if (numbered) {
            EXPECT_EQ(c, got[(size_t)got[i].child_line[side]].ref);
          }
        }
      }
      if (!numbered || got.empty()) continue;
      std::vector<bdd_build_step> steps = stepsOf(got);
      long ran = -1;
      bdd_t *g = bdd_build_nodes(mgr, steps.data(), nullptr, (long)steps.size(), (long)steps.size(), 0, &ran);
      EXPECT_EQ((long)steps.size(), ran);
      EXPECT_TRUE(bdd_equal(f, g));
      bdd_free(g);
    }
  }
  // Every node but the variables' is freed once the handles are.
  void expectOnlyVariablesLeft() {
    for (bdd_t *f : owned) bdd_free(f);
    owned.clear();
    kzu_bdd_gc((kzu_bdd_manager)mgr);
    EXPECT_EQ(kzu_bdd_total_size((kzu_bdd_manager)mgr), N + 1);
  }
};

TEST_F(NodeCopy, WalksListEveryReferenceOnceAndBuildTheFunctionAgain) {
  std::mt19937 rng(17);
  std::vector<bdd_t *> fs;
  for (int i = 0; i < 40; i++) fs.push_back(Random(rng, 6));
  for (bdd_t *f : fs) checkCopy(f);
  kzu_bdd_gc((kzu_bdd_manager)mgr);  // records move to other places of the free list
  for (int i = 0; i < 20; i++) checkCopy(Random(rng, 6));
  bdd_dynamic_reordering(mgr, BDD_REORDER_SIFT, BDD_REORDER_VERBOSITY_DEFAULT);
  bdd_reorder(mgr);  // children now lie below parents in another order of the ids
  for (bdd_t *f : fs) checkCopy(f);
  for (int i = 0; i < 20; i++) checkCopy(Random(rng, 6));
  expectOnlyVariablesLeft();
}

// Slabs from the allocator once the reserved range is full: their nodes are
// met through the walk's hash table instead of its map.
TEST_F(NodeCopy, WalksNodesOutsideTheSlabRange) {
  kzu_bdd_manager m = (kzu_bdd_manager)mgr;
  bdd_limit_slab_range(m, m->slab_count);
  bdd_reserve_node_records(m, 2 * BDD_SLAB_RECORDS);  // new nodes come from the newest slab
  std::mt19937 rng(18);
  long outside = 0;
  for (int i = 0; i < 30; i++) {
    bdd_t *f = Random(rng, 6);
    checkCopy(f);
    for (const InspectedLine &l : inspect(f))
      outside += l.ref - (uintptr_t)m->slab_base >= (uintptr_t)(m->slab_room * BDD_SLAB_BYTES);
  }
  EXPECT_GT(outside, 0);
  expectOnlyVariablesLeft();
}

// Lists no breadth-first walk makes: a variable below its children (the
// general ITE makes the node), parents before children (the builder waits),
// a given order, and steps that need themselves (never run).
TEST_F(NodeCopy, BuildsHandMadeLists) {
  enum { ONE = BDD_BUILD_ONE, ZERO = BDD_BUILD_ZERO };
  std::vector<bdd_build_step> steps = {
      {0, {1, 2}, 6, 1},        // not (x6 ? slot 1 : slot 2)
      {1, {ONE, 3}, 0, 0},      // x0 or slot 3
      {2, {3, ZERO}, 7, 0},     // x7 and slot 3: x7 lies below x2
      {3, {ONE, ZERO}, 2, 1},   // not x2
  };
  TruthTable s3 = ~var(2), s2 = var(7) & s3, s1 = var(0) | s3, s0 = ~tt_ite(var(6), s1, s2);
  std::vector<TruthTable> want = {s0, s1, s2, s3};
  long ran = 0;
  for (int root : {0, 1, 2, 3}) {
    bdd_t *g = bdd_build_nodes(mgr, steps.data(), nullptr, 4, 4, root, &ran);
    EXPECT_EQ(4, ran);
    EXPECT_EQ(tt(g), want[(size_t)root]) << root;
    bdd_free(g);
  }
  int order[] = {3, 2, 1, 0};
  bdd_t *g = bdd_build_nodes(mgr, steps.data(), order, 4, 4, 0, nullptr);
  EXPECT_EQ(tt(g), s0);
  bdd_free(g);

  std::vector<bdd_build_step> cycle = {
      {0, {1, ZERO}, 0, 0}, {1, {ONE, 0}, 1, 0}, {2, {ONE, ZERO}, 3, 0}, {3, {0, 2}, 4, 0}};
  EXPECT_EQ(nullptr, bdd_build_nodes(mgr, cycle.data(), nullptr, 4, 4, 0, &ran));
  EXPECT_EQ(1, ran);
  // An empty order (a null pointer) runs nothing rather than picking one.
  ran = -1;
  EXPECT_EQ(nullptr, bdd_build_nodes(mgr, cycle.data(), nullptr, 0, 4, 0, &ran));
  EXPECT_EQ(0, ran);
  g = bdd_build_nodes(mgr, cycle.data(), nullptr, 4, 4, 2, &ran);
  EXPECT_EQ(tt(g), var(3));
  bdd_free(g);
  expectOnlyVariablesLeft();
}

// A diagram of about 30000 nodes built in a manager of its own sizing, with
// sifting on: collections run while the builder holds its slots, and
// reorderings restart its steps.
TEST(NodeCopyLarge, BuildsThroughCollectionsAndReorderings) {
  const int k = 14;
  bdd_manager *from = bdd_start(2 * k), *to = bdd_start(2 * k);
  // OR of x_i and x_{i+k}: exponential in the order of the ids.
  auto pairs = [&](bdd_manager *mgr) {
    bdd_t *f = bdd_zero(mgr);
    for (int i = 0; i < k; i++) {
      bdd_t *a = bdd_get_variable(mgr, (bdd_variableId)i), *b = bdd_get_variable(mgr, (bdd_variableId)(i + k));
      bdd_t *ab = bdd_and(a, b, 1, 1), *g = bdd_or(f, ab, 1, 1);
      for (bdd_t *h : {a, b, ab, f}) bdd_free(h);
      f = g;
    }
    return f;
  };
  bdd_t *f = pairs(from);
  std::vector<bdd_walk_line> lines = walk(f, 1, 256);
  ASSERT_GT(lines.size(), 20000u);
  std::vector<bdd_build_step> steps = stepsOf(lines);
  bdd_dynamic_reordering(to, BDD_REORDER_SIFT, BDD_REORDER_VERBOSITY_DEFAULT);
  long ran = 0;
  bdd_t *g = bdd_build_nodes(to, steps.data(), nullptr, (long)steps.size(), (long)steps.size(), 0, &ran);
  EXPECT_EQ((long)steps.size(), ran);
  kzu_bdd_manager m = (kzu_bdd_manager)to;
  EXPECT_GT(m->unique_table.gcs, 0);
  EXPECT_GT(m->reorderings, 0);
  bdd_dynamic_reordering(to, BDD_REORDER_NONE, BDD_REORDER_VERBOSITY_DEFAULT);
  bdd_t *h = pairs(to);
  EXPECT_TRUE(bdd_equal(g, h));
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  EXPECT_EQ(kzu_bdd_check_temps(m), 0);
  for (bdd_t *x : {g, h}) bdd_free(x);
  bdd_free(f);
  bdd_end(from);
  bdd_end(to);
}

// The sizing call through the handle layer: no collection below the floor
// it sets, where the default floor of 10000 live nodes collects.
TEST(HandleSizing, SizingReachesTheEngine) {
  for (long floor : {0L, 200000L}) {
    bdd_manager *mgr = bdd_start(20);
    if (floor > 0) bdd_set_sizing(mgr, floor, 0);
    std::vector<bdd_t *> v;
    for (int i = 0; i < 20; i++) v.push_back(bdd_get_variable(mgr, (bdd_variableId)i));
    // Parities of random variable sets, each freed at once: garbage only.
    std::mt19937 rng(5);
    for (int round = 0; round < 4000; round++) {
      bdd_t *acc = bdd_zero(mgr);
      for (int i = 0; i < 20; i++) {
        if (rng() % 2 == 0) continue;
        bdd_t *next = bdd_xor(acc, v[(size_t)i]);
        bdd_free(acc);
        acc = next;
      }
      bdd_free(acc);
    }
    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    bdd_print_stats(mgr, fp);
    fclose(fp);
    std::string stats(buf, len);
    free(buf);
    bool collected = stats.find("Number of garbage collections: 0\n") == std::string::npos;
    EXPECT_EQ(collected, floor == 0) << stats;
    for (bdd_t *x : v) bdd_free(x);
    bdd_end(mgr);
  }
}

using HandleOpsDeath = HandleOps;

TEST_F(HandleOpsDeath, Messages) {
  array_t *empty = Array({});
  EXPECT_EXIT(bdd_and_smooth(v[0], v[1], empty), testing::ExitedWithCode(1),
              "^BDD library: error: bdd_and_smooth: no smoothing variables\n$");
  EXPECT_EXIT(bdd_consensus(v[0], empty), testing::ExitedWithCode(1),
              "^BDD library: error: bdd_consensus: no quantifying variables\n$");
  EXPECT_EXIT(bdd_cproject(nullptr, empty), testing::ExitedWithCode(1), "bdd_cproject: invalid BDD");
  EXPECT_EXIT(bdd_substitute(v[0], Array({v[0]}), empty), testing::ExitedWithCode(1),
              "bdd_substitute: mismatch of number of new and old variables");
  EXPECT_EXIT(bdd_get_id_from_level(mgr, N), testing::ExitedWithCode(1),
              "bdd_get_id_from_level: assumption violated");
  EXPECT_EXIT(bdd_new_var_block(nullptr, 2), testing::ExitedWithCode(1), "bdd_new_var_block: invalid BDD");
  EXPECT_DEATH(bdd_is_cube(nullptr), "bdd_is_cube: invalid BDD");
  bdd_t freed = *v[0];
  freed.free = 1;
  EXPECT_DEATH(bdd_is_cube(&freed), "Freed Bdd passed to bdd_is_cube");
}

}  // namespace
