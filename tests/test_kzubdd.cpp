// Engine core: canonical form, references, node tables, computed table,
// collection, the operation frame (node limit, abort, restart), variables,
// associations, statistics and messages.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kzuBdd/kzuBddInt.h"
#include "support/truth_table.h"

namespace {

class Engine : public ::testing::Test {
 protected:
  kzu_bdd_manager m = nullptr;
  std::vector<bdd> x;  // x[i] = engine variable id i + 1

  void SetUp() override { Make(12); }
  void TearDown() override {
    if (m != nullptr) {
      EXPECT_EQ(kzu_bdd_check_heap(m), 0);
      EXPECT_EQ(kzu_bdd_check_temps(m), 0);
      kzu_bdd_quit(m);
    }
  }
  void Make(int n) {
    if (m != nullptr) kzu_bdd_quit(m);
    m = kzu_bdd_init();
    x.clear();
    for (int i = 0; i < n; i++) x.push_back(kzu_bdd_new_var_last(m));
  }
  bdd one() { return kzu_bdd_one(m); }
  bdd zero() { return kzu_bdd_zero(m); }
  // Distinct keys for data entries: addresses of node records (free ones
  // too), the only edges the computed table can refer to.
  std::function<intptr_t(long)> RecordKeys(long n) {
    bdd_reserve_node_records(m, n + 1);
    return [this](long i) {
      return (intptr_t)bdd_slab_records(m->slab_base + i / BDD_SLAB_RECORDS * BDD_SLAB_BYTES) +
             (i % BDD_SLAB_RECORDS) * 32;
    };
  }
  TruthTable tt(bdd f, int n = 12) { return tt_of_edge(m, f, n); }
  // A function with about 2^k nodes: the pairing x_i & x_{k+i} under the
  // order x_0..x_{2k-1}. The result carries one reference.
  bdd Pairing(int k) {
    bdd acc = kzu_bdd_identity(m, zero());
    for (int i = 0; i < k; i++) {
      bdd t = kzu_bdd_and(m, x[i], x[k + i]);
      if (t == nullptr) {
        kzu_bdd_free(m, acc);
        return nullptr;
      }
      bdd next = kzu_bdd_or(m, acc, t);
      kzu_bdd_free(m, t);
      kzu_bdd_free(m, acc);
      if (next == nullptr) return nullptr;
      acc = next;
    }
    return acc;
  }
  // `cubes` random cubes of `lits` literals over the first `vars` variables,
  // each joined to the running result by OR or, at random, by `join`. The
  // result carries one reference.
  bdd RandomCubes(std::mt19937 &rng, int vars, int cubes, int lits, bdd (*join)(kzu_bdd_manager, bdd, bdd)) {
    bdd acc = kzu_bdd_identity(m, zero());
    for (int c = 0; c < cubes; c++) {
      bdd cube = kzu_bdd_identity(m, one());
      for (int l = 0; l < lits; l++) {
        bdd lit = x[rng() % (unsigned)vars];
        bdd nc = kzu_bdd_and(m, cube, (rng() & 1) ? lit : bdd_complement(lit));
        kzu_bdd_free(m, cube);
        cube = nc;
      }
      bdd op = (rng() & 1) ? kzu_bdd_or(m, acc, cube) : join(m, acc, cube);
      kzu_bdd_free(m, cube);
      kzu_bdd_free(m, acc);
      acc = op;
    }
    return acc;
  }
};

TEST_F(Engine, NegationAndConstants) {
  EXPECT_EQ(bdd_complement(one()), zero());
  EXPECT_EQ(bdd_complement(bdd_complement(x[0])), x[0]);
  bdd n = kzu_bdd_not(m, x[3]);
  EXPECT_EQ(bdd_regular(n), bdd_regular(x[3]));
  EXPECT_TRUE(bdd_is_complemented(n));
  kzu_bdd_free(m, n);
  // Permanent nodes survive any number of releases.
  for (int i = 0; i < 300; i++) {
    kzu_bdd_free(m, one());
    kzu_bdd_free(m, zero());
    kzu_bdd_free(m, kzu_bdd_var_with_id(m, 1));
  }
  EXPECT_EQ(bdd_regular(one())->refs, 255);
  EXPECT_EQ(kzu_bdd_var_with_id(m, 0), nullptr);
  EXPECT_EQ(kzu_bdd_var_with_id(m, 13), nullptr);
  EXPECT_EQ(kzu_bdd_var_with_index(m, 11), x[11]);
  EXPECT_EQ(kzu_bdd_var_with_index(m, 12), nullptr);
  EXPECT_EQ(kzu_bdd_if_id(m, one()), -1);
  EXPECT_EQ(kzu_bdd_if_index(m, nullptr), -1);
  EXPECT_EQ(kzu_bdd_if_id(m, x[4]), 5);
  EXPECT_EQ(kzu_bdd_if_index(m, x[4]), 4);
  EXPECT_EQ(kzu_bdd_and(m, x[0], nullptr), nullptr);
}

TEST_F(Engine, HashConsingAndRegularThenEdges) {
  bdd a = kzu_bdd_and(m, x[0], x[1]);
  bdd b = kzu_bdd_and(m, x[1], x[0]);
  EXPECT_EQ(a, b);
  // ITE(x0, !x1, x1) has a complemented positive cofactor: it is stored as
  // the complement of a node whose then-edge is regular.
  bdd f = kzu_bdd_ite(m, x[0], bdd_complement(x[1]), x[1]);
  EXPECT_TRUE(bdd_is_complemented(f));
  EXPECT_FALSE(bdd_is_complemented(bdd_regular(f)->data[0]));
  EXPECT_EQ(kzu_bdd_then(m, f), bdd_complement(x[1]));
  EXPECT_EQ(tt(f), TruthTable::var(12, 0) ^ TruthTable::var(12, 1));
  bdd g = kzu_bdd_xor(m, x[1], x[0]);
  EXPECT_EQ(f, g);
  for (bdd e : {a, b, f, g}) kzu_bdd_free(m, e);
  kzu_bdd_free(m, bdd_complement(x[1]));  // the reference from kzu_bdd_then
}

TEST_F(Engine, ReferenceCountsSaturate) {
  bdd f = kzu_bdd_and(m, x[0], x[1]);
  for (int i = 0; i < 252; i++) kzu_bdd_identity(m, f);
  EXPECT_EQ(bdd_regular(f)->refs, 253);
  kzu_bdd_identity(m, f);
  kzu_bdd_identity(m, f);
  EXPECT_EQ(bdd_regular(f)->refs, 255);
  kzu_bdd_free(m, f);
  EXPECT_EQ(bdd_regular(f)->refs, 255);  // permanent now
  // A temporary count that would reach 127 makes the node permanent.
  bdd g = kzu_bdd_and(m, x[2], x[3]);
  kzu_bdd_free(m, g);
  for (int i = 0; i < 126; i++) bdd_temp_inc(g);
  EXPECT_EQ(bdd_regular(g)->mark & BDD_TEMP_MASK, 126);
  bdd_temp_inc(g);
  EXPECT_EQ(bdd_regular(g)->refs, 255);
  EXPECT_EQ(bdd_regular(g)->mark, 0);
}

TEST_F(Engine, ThenElseOfConstantsWarn) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(kzu_bdd_then(m, one()), one());
  EXPECT_EQ(kzu_bdd_else(m, zero()), zero());
  EXPECT_EQ(kzu_bdd_if(m, one()), one());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "BDD library: warning: kzu_bdd_then: argument is a constant\n"
            "BDD library: warning: kzu_bdd_else: argument is a constant\n"
            "BDD library: warning: kzu_bdd_if: argument is a constant\n");
  bdd nx = bdd_complement(x[2]);
  EXPECT_EQ(kzu_bdd_then(m, nx), zero());
  EXPECT_EQ(kzu_bdd_else(m, nx), one());
  EXPECT_EQ(kzu_bdd_if(m, nx), x[2]);
}

using EngineDeath = Engine;

TEST_F(EngineDeath, FatalReferenceErrors) {
  bdd f = kzu_bdd_and(m, x[0], x[1]);
  kzu_bdd_free(m, f);
  EXPECT_EXIT(kzu_bdd_free(m, f), testing::ExitedWithCode(1),
              "^BDD library: error: kzu_bdd_free: attempt to free node with zero references\n$");
  EXPECT_EXIT(kzu_bdd_and(m, f, x[2]), testing::ExitedWithCode(1),
              "^BDD library: error: bdd_check_arguments: argument has zero references\n$");
  EXPECT_EXIT(kzu_bdd_cache_functions(m, 4, nullptr, nullptr, nullptr, nullptr), testing::ExitedWithCode(1),
              "bdd_cache_functions: illegal number of cache arguments");
  EXPECT_EXIT(kzu_bdd_free_cache_tag(m, 5), testing::ExitedWithCode(1),
              "kzu_bdd_free_cache_tag: attempt to free unallocated tag");
}

TEST_F(EngineDeath, NoMoreIndexes) {
  EXPECT_EXIT(
      {
        while (true) kzu_bdd_new_var_last(m);
      },
      testing::ExitedWithCode(1), "^BDD library: error: bdd_new_var: no more indexes\n$");
}

// ---- Variables -----------------------------------------------------------------------------------
TEST_F(Engine, MaxvarsGrowsAndKeepsEdges) {
  Make(30);
  EXPECT_EQ(m->maxvars, 30);
  bdd f = kzu_bdd_xor(m, x[0], x[29]);
  bdd g = kzu_bdd_and(m, x[5], bdd_complement(x[17]));
  bdd v31 = kzu_bdd_new_var_last(m);
  EXPECT_EQ(m->maxvars, 60);
  EXPECT_EQ(kzu_bdd_vars(m), 31);
  EXPECT_EQ(kzu_bdd_if_id(m, v31), 31);
  EXPECT_EQ(kzu_bdd_if_index(m, v31), 30);
  EXPECT_EQ(kzu_bdd_then(m, f), bdd_complement(x[29]));
  EXPECT_EQ(kzu_bdd_else(m, f), x[29]);
  bdd h = kzu_bdd_and(m, f, v31);
  EXPECT_EQ(kzu_bdd_size(m, h, 1), 5);
  bdd again = kzu_bdd_xor(m, x[29], x[0]);
  EXPECT_EQ(again, f);
  for (int i = 0; i < 40; i++) kzu_bdd_new_var_last(m);
  EXPECT_EQ(m->maxvars, 120);
  EXPECT_EQ(kzu_bdd_and(m, x[5], bdd_complement(x[17])), g);
  for (bdd e : {f, g, h, again, g}) kzu_bdd_free(m, e);
  kzu_bdd_free(m, bdd_complement(x[29]));
  kzu_bdd_free(m, x[29]);
}

TEST_F(Engine, NewVariablesAtEveryPosition) {
  Make(3);
  bdd first = kzu_bdd_new_var_first(m);  // id 4, level 0
  EXPECT_EQ(kzu_bdd_if_id(m, first), 4);
  EXPECT_EQ(kzu_bdd_if_index(m, first), 0);
  EXPECT_EQ(kzu_bdd_if_index(m, x[0]), 1);
  bdd before = kzu_bdd_new_var_before(m, x[2]);  // id 5 at x2's old level 3
  EXPECT_EQ(kzu_bdd_if_index(m, before), 3);
  EXPECT_EQ(kzu_bdd_if_index(m, x[2]), 4);
  bdd after = kzu_bdd_new_var_after(m, x[0]);  // id 6 at level 2
  EXPECT_EQ(kzu_bdd_if_index(m, after), 2);
  EXPECT_EQ(kzu_bdd_if_index(m, x[1]), 3);
  for (long level = 0; level < kzu_bdd_vars(m); level++)
    EXPECT_EQ(kzu_bdd_if_index(m, kzu_bdd_var_with_index(m, level)), level);
  // The block tree has one leaf per level, in level order.
  block root = m->super_block;
  ASSERT_EQ(root->num_children, 6);
  for (long i = 0; i < 6; i++) EXPECT_EQ(root->children[i]->first_index, i);
  // A function over the reordered variables still has its children below it.
  bdd f2 = kzu_bdd_or(m, x[2], after);
  bdd f = kzu_bdd_and(m, first, f2);
  kzu_bdd_free(m, f2);
  EXPECT_EQ(kzu_bdd_if_id(m, f), 4);
  testing::internal::CaptureStderr();
  bdd last = kzu_bdd_new_var_after(m, f);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "BDD library: warning: kzu_bdd_new_var_after: argument is not a positive variable\n");
  EXPECT_EQ(kzu_bdd_if_index(m, last), 1);
  testing::internal::CaptureStderr();
  bdd bottom = kzu_bdd_new_var_before(m, one());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "BDD library: warning: kzu_bdd_new_var_before: argument is not a positive variable\n");
  EXPECT_EQ(kzu_bdd_if_index(m, bottom), 7);
  kzu_bdd_free(m, f);
}

TEST_F(Engine, VariableBlocks) {
  block b = kzu_bdd_new_var_block(m, x[2], 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->first_index, 2);
  EXPECT_EQ(b->last_index, 4);
  EXPECT_EQ(b->num_children, 3);
  EXPECT_EQ(m->super_block->num_children, 10);
  block inner = kzu_bdd_new_var_block(m, x[3], 2);
  EXPECT_EQ(b->num_children, 2);
  EXPECT_EQ(inner->first_index, 3);
  kzu_bdd_var_block_reorderable(m, inner, 1);
  EXPECT_EQ(inner->reorderable, 1);
  // A new variable inside a block joins it and shifts what lies below.
  kzu_bdd_new_var_after(m, x[3]);
  EXPECT_EQ(inner->last_index, 5);
  EXPECT_EQ(b->last_index, 5);
  EXPECT_EQ(m->super_block->last_index, 12);
}

TEST_F(EngineDeath, VariableBlockErrors) {
  EXPECT_EXIT(kzu_bdd_new_var_block(m, bdd_complement(x[0]), 2), testing::ExitedWithCode(1),
              "kzu_bdd_new_var_block: second argument is not a positive variable");
  EXPECT_EXIT(kzu_bdd_new_var_block(m, x[0], 0), testing::ExitedWithCode(1),
              "kzu_bdd_new_var_block: invalid final argument");
  EXPECT_EXIT(kzu_bdd_new_var_block(m, x[10], 3), testing::ExitedWithCode(1),
              "kzu_bdd_new_var_block: range covers non-existent variables");
  kzu_bdd_new_var_block(m, x[2], 3);
  EXPECT_EXIT(kzu_bdd_new_var_block(m, x[3], 4), testing::ExitedWithCode(1), "add_block: illegal block overlap");
}

// ---- Node tables and collection ---------------------------------------------------------------------
TEST_F(Engine, UniqueTableGrowsAtTheTwentyNinthNode) {
  Make(30);
  var_table *t = m->unique_table.tables[1];
  EXPECT_EQ(t->size, 7);
  EXPECT_EQ(t->entries, 1);  // the projection node
  std::vector<bdd> fs;
  for (int k = 1; k < 28; k++) fs.push_back(kzu_bdd_and(m, x[0], x[k]));
  EXPECT_EQ(t->entries, 28);
  EXPECT_EQ(t->size, 7);
  fs.push_back(kzu_bdd_and(m, x[0], x[28]));
  EXPECT_EQ(t->entries, 29);
  EXPECT_EQ(t->size, 13);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  // Only a collection that leaves fewer nodes than buckets shrinks it.
  for (int i = 0; i < 14; i++) kzu_bdd_free(m, fs[i]);
  kzu_bdd_gc(m);
  EXPECT_EQ(t->entries, 15);
  EXPECT_EQ(t->size, 13);
  for (size_t i = 14; i < fs.size(); i++) kzu_bdd_free(m, fs[i]);
  kzu_bdd_gc(m);
  EXPECT_EQ(t->entries, 1);
  EXPECT_EQ(t->size, 7);
}

// With room given, a table grows to a bucket per node at once, shrinks
// only when a collection leaves it below a node per four buckets, and grows
// back to its largest size at once.
TEST_F(Engine, UniqueTableWithRoomGrowsToABucketPerNode) {
  Make(40);
  kzu_bdd_set_sizing(m, 1 << 20, 0);
  var_table *t = m->unique_table.tables[1];
  std::vector<bdd> fs;
  for (int k = 1; k < 29; k++) fs.push_back(kzu_bdd_and(m, x[0], x[k]));
  EXPECT_EQ(t->entries, 29);
  EXPECT_EQ(t->size, 59);  // the first size of at least 29 buckets
  for (int k = 29; k < 40; k++) fs.push_back(kzu_bdd_and(m, x[0], x[k]));
  EXPECT_EQ(t->size, 59);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  for (int i = 0; i < 24; i++) kzu_bdd_free(m, fs[i]);
  kzu_bdd_gc(m);
  EXPECT_EQ(t->entries, 16);
  EXPECT_EQ(t->size, 59);
  // x0 & xk & xj: more than 4 nodes per bucket again.
  for (int k = 1; k < 40 && t->entries <= 4 * 59; k++)
    for (int j = k + 1; j < 40 && t->entries <= 4 * 59; j++) {
      bdd kj = kzu_bdd_and(m, x[k], x[j]);
      fs.push_back(kzu_bdd_and(m, x[0], kj));
      kzu_bdd_free(m, kj);
    }
  EXPECT_EQ(t->size, 241);
  for (size_t i = 24; i < fs.size(); i++) kzu_bdd_free(m, fs[i]);
  kzu_bdd_gc(m);
  EXPECT_EQ(t->entries, 1);
  EXPECT_EQ(t->size, 7);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  fs.clear();
  for (int k = 1; k < 29; k++) fs.push_back(kzu_bdd_and(m, x[0], x[k]));
  EXPECT_EQ(t->size, 241);
  for (bdd f : fs) kzu_bdd_free(m, f);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
}

TEST_F(Engine, BucketArraysReuseAndReleaseTheirChunks) {
  // Arrays of several size classes, written through and freed in a mixed
  // order: none overlaps another, each starts zeroed, and once all are free
  // their chunks have merged back and been released.
  std::mt19937 rng(11);
  std::vector<std::pair<bdd_bucket *, long>> live;
  const long sizes[] = {600, 1019, 2039, 4091, 8179, 16369, 65521, 131063};
  for (int round = 0; round < 400; round++) {
    if (!live.empty() && rng() % 3 == 0) {
      size_t i = rng() % live.size();
      bdd_bucket *p = live[i].first;
      for (long k = 0; k < live[i].second; k++) ASSERT_EQ(p[k], (bdd_bucket)p + (bdd_bucket)k);
      bdd_free_buckets(m, p, live[i].second);
      live.erase(live.begin() + (long)i);
    } else {
      long n = sizes[rng() % 8];
      bdd_bucket *p = bdd_alloc_buckets(m, n);
      for (long k = 0; k < n; k++) ASSERT_EQ(p[k], 0u);
      for (long k = 0; k < n; k++) p[k] = (bdd_bucket)p + (bdd_bucket)k;
      live.emplace_back(p, n);
    }
  }
  EXPECT_NE(m->bucket_chunks, nullptr);
  for (auto &a : live) {
    for (long k = 0; k < a.second; k++) ASSERT_EQ(a.first[k], (bdd_bucket)a.first + (bdd_bucket)k);
    bdd_free_buckets(m, a.first, a.second);
  }
  // The manager's own tables are too small for chunks.
  EXPECT_EQ(m->bucket_chunks, nullptr);
  for (void *head : m->bucket_blocks) EXPECT_EQ(head, nullptr);

  // With room given, the chunks for a bucket per node of the floor are made
  // at once and kept when the arrays in them are freed.
  kzu_bdd_set_sizing(m, 1 << 20, 0);
  EXPECT_EQ(m->bucket_chunk_count, 4);
  for (long n : {131063L, 600L, 131063L}) {
    bdd_bucket *p = bdd_alloc_buckets(m, n);
    for (long k = 0; k < n; k++) ASSERT_EQ(p[k], 0u);
    for (long k = 0; k < n; k++) p[k] = ~(bdd_bucket)0;
    bdd_free_buckets(m, p, n);
  }
  EXPECT_EQ(m->bucket_chunk_count, 4);
}

TEST_F(Engine, CollectionUnderLoad) {
  Make(16);
  std::mt19937 rng(7);
  std::vector<std::pair<bdd, TruthTable>> kept;
  long peak = 0;
  for (int round = 0; round < 800; round++) {
    // A random function of moderate size from random literals.
    bdd acc = RandomCubes(rng, 16, 6, 5, kzu_bdd_xor);
    if (round % 4 == 0)
      kept.emplace_back(acc, tt_of_edge(m, acc, 16));
    else
      kzu_bdd_free(m, acc);
    if (m->unique_table.entries > peak) peak = m->unique_table.entries;
    EXPECT_GE(m->unique_table.gc_limit, 10000);
  }
  EXPECT_GT(peak, 10000);
  EXPECT_GT(m->unique_table.gcs, 0);
  EXPECT_GT(m->unique_table.freed, 0);
  for (auto &k : kept) EXPECT_EQ(tt_of_edge(m, k.first, 16), k.second);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  EXPECT_EQ(kzu_bdd_check_temps(m), 0);
  for (auto &k : kept) kzu_bdd_free(m, k.first);
  kzu_bdd_gc(m);
  EXPECT_EQ(m->unique_table.entries, 17);  // terminal and projections
}

// The purge keeps exactly the entries whose every node survives, over
// nodes spread across several slabs. Survivors are found independently of
// the collector: everything reachable from a node held by a reference.
TEST_F(Engine, PurgeKeepsExactlyTheEntriesOfSurvivingNodes) {
  Make(20);
  kzu_bdd_set_sizing(m, 1 << 20, 262139);  // no collection while building
  std::mt19937 rng(11);
  std::vector<bdd> kept;
  while (m->unique_table.entries < 3 * BDD_SLAB_RECORDS) {
    bdd acc = RandomCubes(rng, 20, 8, 6, kzu_bdd_xnor);
    if (rng() % 4 == 0)
      kept.push_back(acc);
    else
      kzu_bdd_free(m, acc);
  }
  ASSERT_EQ(m->unique_table.gcs, 0);
  std::set<struct bdd_ *> live;
  std::vector<struct bdd_ *> stack;
  for (void *slab = m->slabs; slab != nullptr; slab = *(void **)slab)
    for (long i = 0; i < BDD_SLAB_RECORDS; i++) {
      struct bdd_ *n = &bdd_slab_records(slab)[i];
      if (n->indexindex != BDD_FREE_INDEX && n->refs > 0) stack.push_back(n);
    }
  while (!stack.empty()) {
    struct bdd_ *n = stack.back();
    stack.pop_back();
    if (!live.insert(n).second || n->indexindex == 0) continue;
    stack.push_back(bdd_regular(n->data[0]));
    stack.push_back(bdd_regular(n->data[1]));
  }
  // Entries of the connectives (tag 0): all four slots are nodes.
  auto entries = [&] {
    std::set<std::vector<intptr_t>> out;
    cache *c = &m->op_cache;
    for (long b = 0; b < c->size; b++)
      for (const cache_entry &e : c->table[b].entry)
        if (e.key != 0 && bdd_cache_tag(&e) == BDD_TAG_ITE) {
          intptr_t s[4];
          bdd_cache_entry_slots(m, &e, s);
          out.insert({s[0], s[1], s[2], s[3]});
        }
    return out;
  };
  std::set<std::vector<intptr_t>> before = entries(), expected;
  long dropped = 0;
  for (const auto &e : before) {
    bool all = true;
    for (intptr_t s : e) all = all && live.count(bdd_regular((bdd)s)) > 0;
    if (all)
      expected.insert(e);
    else
      dropped++;
  }
  ASSERT_GT(expected.size(), 1000u);
  ASSERT_GT(dropped, 1000);
  kzu_bdd_gc(m);
  EXPECT_EQ(m->unique_table.entries, (long)live.size());
  EXPECT_EQ(entries(), expected);
  for (bdd f : kept) kzu_bdd_free(m, f);
}

TEST_F(Engine, SizingRaisesTheFloorsButNeverLowersThem) {
  EXPECT_EQ(m->unique_table.gc_limit, 10000);
  EXPECT_EQ(m->op_cache.min_bins, 0);
  kzu_bdd_set_sizing(m, 10, -5);
  EXPECT_EQ(m->unique_table.gc_floor, 10000);
  EXPECT_EQ(m->unique_table.gc_limit, 10000);
  EXPECT_EQ(m->op_cache.min_bins, 0);
  kzu_bdd_node_limit(m, 500000);
  kzu_bdd_set_sizing(m, 1 << 20, 524269);
  EXPECT_EQ(m->unique_table.gc_limit, 500000);  // the node limit still caps it
  kzu_bdd_node_limit(m, 0);
  kzu_bdd_set_sizing(m, 1 << 20, 524269);
  EXPECT_EQ(m->unique_table.gc_limit, 1 << 20);
  // The records for the raised floor are there at once.
  auto slabs = [&] {
    long n = 0;
    for (void *s = m->slabs; s != nullptr; s = *(void **)s) n++;
    return n;
  };
  long free_records = 0;
  for (struct bdd_ *n = m->free_nodes; n != nullptr; n = n->next) free_records++;
  EXPECT_GE(free_records + m->unique_table.entries, 1L << 20);
  long slabs_before = slabs();
  // Below the raised floor nothing is collected, and no slab is added.
  x.clear();
  for (int i = 0; i < 16; i++) x.push_back(kzu_bdd_new_var_last(m));
  for (int r = 0; r < 40; r++) kzu_bdd_free(m, Pairing(8));
  EXPECT_EQ(m->unique_table.gcs, 0);
  EXPECT_EQ(slabs(), slabs_before);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
}

TEST_F(Engine, ComputedTableGrowsForFewNodesOnlyWithinAnAllowance) {
  // Many look-ups over few live nodes fill the table; by default that alone
  // never grows it, within a caller's allowance it does.
  for (long allowance : {0L, 524269L}) {
    Make(24);
    kzu_bdd_set_sizing(m, 0, allowance);
    for (int r = 0; r < 30; r++) {
      bdd f = Pairing(12);
      bdd g = kzu_bdd_xor(m, f, x[(size_t)r % 24]);
      kzu_bdd_free(m, g);
      kzu_bdd_free(m, f);
    }
    if (allowance == 0)
      EXPECT_EQ(m->op_cache.size, 8179);
    else
      EXPECT_GT(m->op_cache.size, 8179);
  }
}

TEST_F(Engine, ComputedTableGrowsWithTheNodeCount) {
  Make(32);
  long initial = m->op_cache.size;
  EXPECT_EQ(initial, 8179);
  bdd f = Pairing(16);  // 2^17 - 1 nodes, all live
  bdd g = Pairing(15);
  bdd h = kzu_bdd_xor(m, f, g);
  EXPECT_GT(m->op_cache.size, initial);
  EXPECT_EQ(m->op_cache.size, bdd_primes[m->op_cache.size_index]);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  for (bdd e : {f, g, h}) kzu_bdd_free(m, e);
}

TEST_F(Engine, ComputedTableGrowthKeepsEntriesFindable) {
  cache *c = &m->op_cache;
  const int n = 6000;
  auto key = RecordKeys(n);
  for (int i = 0; i < n; i++) bdd_insert2_data(m, BDD_TAG_TWO_DATA, 7, key(i), i);
  long before = c->entries;
  for (int step = 0; step < 3; step++) {
    bdd_rehash_cache(m, true);
    EXPECT_EQ(c->size, bdd_primes[BDD_INITIAL_CACHE_INDEX + step + 1]);
    EXPECT_EQ(kzu_bdd_check_heap(m), 0);  // every entry sits in its own bin
  }
  EXPECT_LE(c->entries, before);
  auto findAll = [&] {
    long found = 0;
    for (int i = 0; i < n; i++) {
      intptr_t r = -1;
      if (bdd_lookup2_data(m, BDD_TAG_TWO_DATA, 7, key(i), &r)) {
        found++;
        EXPECT_EQ(r, i);
      }
    }
    return found;
  };
  long found = findAll();
  // Entries are only ever dropped as counted.
  EXPECT_EQ(found, c->entries);
  EXPECT_GT(found, n * 9 / 10);
  // Mapping an allowance also maps the table in use; its entries stay.
  kzu_bdd_set_sizing(m, 0, 524269);
  EXPECT_EQ(findAll(), found);
  EXPECT_EQ(c->entries, found);
  // Their keys are records, mostly free: a collection keeps only the
  // entries whose key is a live node (the first records hold the variables).
  kzu_bdd_gc(m);
  EXPECT_LE(c->entries, m->unique_table.entries);
}

// Within an allowance the table grows for look-ups that recompute results it
// pushed out, not for look-ups of ever new keys; without one, neither grows it.
TEST_F(Engine, AllowanceGrowthFollowsResultsPushedOut) {
  cache *c = &m->op_cache;
  auto key = RecordKeys(400000);
  // `distinct` keys in turn (0 = never repeating), one look-up and, on a
  // miss, one insert each, with the periodic check every 100 steps.
  auto drive = [&](long steps, long distinct) {
    for (long s = 0; s < steps; s++) {
      long k = distinct > 0 ? s % distinct : s;
      intptr_t r;
      if (!bdd_lookup2_data(m, BDD_TAG_TWO_DATA, 7, key(k), &r)) bdd_insert2_data(m, BDD_TAG_TWO_DATA, 7, key(k), k);
      if (s % 100 == 99) bdd_periodic_check(m);
    }
  };
  kzu_bdd_set_sizing(m, 0, 524269);
  // The allowance is mapped at once, so growth stays where the table is.
  EXPECT_GE(c->mapped_bins, 524269);
  cache_bin *table = c->table;
  drive(400000, 0);
  EXPECT_EQ(c->size, 8179);
  EXPECT_NE(c->ghost, nullptr);  // the windows were judged
  // 20000 keys against room for 16358 entries: most are pushed out before
  // they come round again, and a table twice the size would hold them.
  drive(400000, 20000);
  EXPECT_GT(c->size, 8179);
  EXPECT_LE(c->size, 23143);  // once they fit, growth stops
  EXPECT_EQ(c->table, table);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  bdd_flush_all(m);

  Make(12);
  c = &m->op_cache;
  key = RecordKeys(20000);
  drive(400000, 20000);
  EXPECT_EQ(c->size, 8179);
  EXPECT_EQ(c->ghost, nullptr);
  bdd_flush_all(m);

  // Once a window's evidence is in, the table grows without waiting for the
  // window's end: the first window (8 look-ups per bin) only starts the
  // filter, and the second finds its keys pushed out well before its end.
  Make(12);
  c = &m->op_cache;
  kzu_bdd_set_sizing(m, 0, 524269);
  key = RecordKeys(20000);
  drive(2 * 8 * 8179 - 20000, 20000);
  EXPECT_GT(c->size, 8179);
  bdd_flush_all(m);

  // Keys that come round only after about twelve look-ups per bin (an image
  // step over a diagram much larger than the table) still count.
  Make(12);
  c = &m->op_cache;
  kzu_bdd_set_sizing(m, 0, 524269);
  key = RecordKeys(100000);
  drive(1600000, 100000);
  EXPECT_GT(c->size, 8179);
  bdd_flush_all(m);
}

// ---- Computed-table references ---------------------------------------------------------------------
// Entries refer to nodes by their offset in the slab range and to operation
// ids by 31 bits. Nodes in slabs from the allocator and ids beyond 31 bits
// must give right results, and no entry may decode to another node or id.
TEST_F(Engine, NodesOutsideTheSlabRangeKeepResultsRight) {
  std::mt19937 rng(11);
  bdd f = RandomCubes(rng, 12, 10, 4, kzu_bdd_xor);
  // The range is full and its window too: later slabs lie outside both.
  m->slab_room = m->slab_count;
  bdd_reserve_node_records(m, 3 * BDD_SLAB_RECORDS);
  for (int round = 0; round < 20; round++) {
    bdd g = RandomCubes(rng, 12, 10, 4, kzu_bdd_and);
    bdd h = kzu_bdd_xor(m, f, g);
    bdd i = kzu_bdd_ite(m, g, f, h);
    EXPECT_EQ(tt(h), tt(f) ^ tt(g));
    EXPECT_EQ(tt(i), tt_ite(tt(g), tt(f), tt(h)));
    for (bdd e : {g, h, i}) kzu_bdd_free(m, e);
  }
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);  // every entry decodes to a live node
  kzu_bdd_free(m, f);
}

// Nodes in slabs beyond the range (a small range, as under an address-space
// limit) are memoised like any other: a repeated operation over them is
// answered by the computed table at once.
TEST_F(Engine, NodesOutsideTheSlabRangeAreMemoised) {
  bdd_limit_slab_range(m, m->slab_count);
  bdd_reserve_node_records(m, 2 * BDD_SLAB_RECORDS);  // new nodes come from the newest slab
  std::mt19937 rng(13);
  bdd f = RandomCubes(rng, 12, 10, 4, kzu_bdd_xor);
  bdd g = RandomCubes(rng, 12, 10, 4, kzu_bdd_or);
  for (bdd e : {f, g})
    EXPECT_FALSE((char *)bdd_regular(e) >= m->slab_base &&
                 (char *)bdd_regular(e) < m->slab_base + m->slab_room * BDD_SLAB_BYTES);
  bdd vars[] = {x[1], x[4], x[7], nullptr};
  kzu_bdd_temp_assoc(m, vars, 0);
  std::function<bdd()> ops[] = {[&] { return kzu_bdd_and(m, f, g); },
                                [&] { return kzu_bdd_ite(m, f, g, bdd_complement(f)); },
                                [&] { return kzu_bdd_exists(m, f); }};
  for (auto &op : ops) {
    bdd first = op();
    long lookups = m->op_cache.lookups, hits = m->op_cache.hits;
    bdd again = op();
    EXPECT_EQ(again, first);
    EXPECT_LE(m->op_cache.lookups - lookups, 2);
    EXPECT_GE(m->op_cache.hits - hits, 1);
    kzu_bdd_free(m, first);
    kzu_bdd_free(m, again);
  }
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  kzu_bdd_free(m, f);
  kzu_bdd_free(m, g);
}

#if defined(__SANITIZE_ADDRESS__)
const bool kUnderAsan = true;
#else
const bool kUnderAsan = false;
#endif

// The address space left under the limit is capped to `extra` bytes beyond
// what the process maps now; returns that figure.
size_t capAddressSpace(size_t extra) {
  unsigned long pages = 0;
  if (FILE *f = fopen("/proc/self/statm", "r")) {
    if (fscanf(f, "%lu", &pages) != 1) pages = 0;
    fclose(f);
  }
  size_t used = pages * (size_t)sysconf(_SC_PAGESIZE);
  struct rlimit lim = {used + extra, used + extra};
  setrlimit(RLIMIT_AS, &lim);
  return extra;
}

// Without an address-space limit the range is the whole 16 GB window; under
// one it takes at most a quarter of what the limit leaves, and the engine
// still works past it.
TEST_F(EngineDeath, SlabRangeStaysWithinAnAddressSpaceLimit) {
  struct rlimit now;
  if (getrlimit(RLIMIT_AS, &now) == 0 && now.rlim_cur == RLIM_INFINITY) {
    EXPECT_EQ(m->slab_room, BDD_REF_SLABS);
  }
  if (kUnderAsan) GTEST_SKIP() << "address-space limit conflicts with the sanitizer";
  EXPECT_EXIT(
      {
        size_t left = capAddressSpace(2L << 30);
        kzu_bdd_manager small = kzu_bdd_init();
        bdd v[12];
        for (bdd &e : v) e = kzu_bdd_new_var_last(small);
        bdd f = kzu_bdd_xor(small, v[0], v[11]);
        bool within = small->slab_room > 0 && (size_t)(small->slab_room + 1) * BDD_SLAB_BYTES <= left / 4;
        bool right = tt_of_edge(small, f, 12) == (TruthTable::var(12, 0) ^ TruthTable::var(12, 11));
        exit(within && right ? 0 : 3);
      },
      testing::ExitedWithCode(0), "");
}

// Memory that runs out for the engine's own records and tables is reported
// in the block allocator's words.
TEST_F(EngineDeath, ExhaustedEngineMemoryEndsInTheAllocatorsWords) {
  if (kUnderAsan) GTEST_SKIP() << "address-space limit conflicts with the sanitizer";
  EXPECT_EXIT(
      {
        capAddressSpace(24L << 20);
        kzu_bdd_manager small = kzu_bdd_init();
        bdd v[24];
        for (bdd &e : v) e = kzu_bdd_new_var_last(small);
        for (unsigned long i = 0;; i++) {  // distinct cubes, all kept
          bdd cube = kzu_bdd_one(small);
          for (int j = 0; j < 24; j++) cube = kzu_bdd_and(small, cube, (i >> j) & 1 ? v[j] : bdd_complement(v[j]));
        }
      },
      testing::ExitedWithCode(1), "^Memory management library: error: mem_get_block: allocation failed\n$");
}

// A reorder method that collects first: the collection is refused inside
// the reordering (its nodes keep parent counts), and every function
// survives the reordering intact.
void collectingSift(kzu_bdd_manager m) {
  kzu_bdd_gc(m);
  kzu_bdd_reorder_sift(m);
}

TEST_F(Engine, CollectionInsideAReorderMethodIsRefused) {
  std::mt19937 rng(14);
  bdd f = RandomCubes(rng, 12, 12, 4, kzu_bdd_or);
  bdd g = RandomCubes(rng, 12, 12, 5, kzu_bdd_xor);
  TruthTable tf = tt(f), tg = tt(g);
  kzu_bdd_free(m, RandomCubes(rng, 12, 12, 4, kzu_bdd_and));  // garbage to collect
  kzu_bdd_dynamic_reordering(m, collectingSift);
  kzu_bdd_reorder(m);
  kzu_bdd_dynamic_reordering(m, nullptr);
  EXPECT_EQ(tt(f), tf);
  EXPECT_EQ(tt(g), tg);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  kzu_bdd_free(m, f);
  kzu_bdd_free(m, g);
}

// When the temporary ids run out of 31 bits, their entries are dropped and
// the ids start again, so results stay memoised and are never mixed up.
TEST_F(Engine, TemporaryOperationIdsStartAgainBeyondThirtyOneBits) {
  std::mt19937 rng(12);
  bdd f = RandomCubes(rng, 12, 12, 4, kzu_bdd_xor);
  m->temp_op = -(1L << 30) + 1;  // two more ids fit, then -1 and -2
  for (int round = 0; round < 4; round++) {
    bdd vars[] = {x[round], x[round + 5], nullptr};
    kzu_bdd_temp_assoc(m, vars, 0);
    bdd q = kzu_bdd_exists(m, f);
    EXPECT_EQ(tt(q), tt(f).exists(round).exists(round + 5)) << round;
    kzu_bdd_free(m, q);
  }
  long kept = 0;
  for (long b = 0; b < m->op_cache.size; b++)
    for (const cache_entry &e : m->op_cache.table[b].entry) {
      if (e.key == 0 || bdd_cache_tag(&e) != BDD_TAG_OP) continue;
      intptr_t v[4];
      bdd_cache_entry_slots(m, &e, v);
      EXPECT_TRUE(v[0] == -1 || v[0] == -2) << v[0];
      kept++;
    }
  EXPECT_GT(kept, 0);
  kzu_bdd_free(m, f);
}

// ---- The operation frame ---------------------------------------------------------------------------
struct Calls {
  int overflow = 0;
  int aborts = 0;
  int reorders = 0;
};
Calls *calls = nullptr;

TEST_F(Engine, NodeLimitAbortsWithNull) {
  Make(28);
  Calls c;
  calls = &c;
  kzu_bdd_overflow_closure(m, [](kzu_bdd_manager, void *env) { ((Calls *)env)->overflow++; }, &c);
  kzu_bdd_node_limit(m, 3000);
  bdd big = Pairing(14);
  EXPECT_EQ(big, nullptr);
  EXPECT_EQ(c.overflow, 1);
  EXPECT_EQ(kzu_bdd_overflow(m), 1);
  EXPECT_EQ(kzu_bdd_check_temps(m), 0);
  EXPECT_EQ(kzu_bdd_check_heap(m), 0);
  EXPECT_LE(m->unique_table.gc_limit, 3000);
  // Lifting the limit lets the same work succeed.
  kzu_bdd_node_limit(m, 0);
  big = Pairing(14);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(kzu_bdd_size(m, big, 1), (1 << 15) - 1);
  kzu_bdd_free(m, big);
}

TEST_F(Engine, AbortRequestReturnsNull) {
  Make(20);
  Calls c;
  bdd f = Pairing(8);
  bdd g = Pairing(7);
  kzu_bdd_abort_closure(m, [](kzu_bdd_manager, void *env) { ((Calls *)env)->aborts++; }, &c);
  bdd h = kzu_bdd_xor(m, f, g);
  EXPECT_EQ(h, nullptr);
  EXPECT_GE(c.aborts, 1);
  EXPECT_EQ(kzu_bdd_check_temps(m), 0);
  kzu_bdd_abort_closure(m, nullptr, nullptr);
  h = kzu_bdd_xor(m, f, g);
  EXPECT_NE(h, nullptr);
  for (bdd e : {f, g, h}) kzu_bdd_free(m, e);
}

TEST_F(Engine, ReorderingRestartsTheOperation) {
  Make(28);
  Calls c;
  calls = &c;
  kzu_bdd_dynamic_reordering(m, [](kzu_bdd_manager) { calls->reorders++; });
  bdd big = Pairing(14);
  ASSERT_NE(big, nullptr);
  EXPECT_GE(c.reorders, 1);
  EXPECT_EQ(kzu_bdd_size(m, big, 1), (1 << 15) - 1);
  EXPECT_EQ(kzu_bdd_check_temps(m), 0);
  kzu_bdd_dynamic_reordering(m, nullptr);
  kzu_bdd_free(m, big);
}

// ---- Associations ------------------------------------------------------------------------------------
TEST_F(Engine, AssociationSelectionAndWarnings) {
  bdd vars[] = {x[0], x[2], nullptr};
  int id = kzu_bdd_new_assoc(m, vars, 0);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(kzu_bdd_new_assoc(m, vars, 0), 0);  // shared
  bdd other[] = {x[1], nullptr};
  EXPECT_EQ(kzu_bdd_new_assoc(m, other, 0), 1);
  EXPECT_EQ(kzu_bdd_assoc(m, id), -1);
  bdd f = kzu_bdd_and(m, x[0], kzu_bdd_and(m, x[1], x[2]));
  bdd q = kzu_bdd_exists(m, f);
  EXPECT_EQ(q, x[1]);
  testing::internal::CaptureStderr();
  EXPECT_EQ(kzu_bdd_assoc(m, 7), 0);
  kzu_bdd_free_assoc(m, 9);
  bdd bad[] = {bdd_complement(x[0]), x[1], nullptr};
  EXPECT_EQ(kzu_bdd_temp_assoc(m, bad, 1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "BDD library: warning: kzu_bdd_assoc: no variable association with specified ID\n"
            "BDD library: warning: kzu_bdd_free_assoc: no variable association with specified ID\n"
            "BDD library: warning: check_assoc: first element in pair is not a positive variable\n");
  EXPECT_EQ(m->curr_assoc_id, -1);
  EXPECT_EQ(m->temp_assoc.last, -1);  // unchanged by the bad pair list
  // Freeing a named association drops its computed-table entries.
  kzu_bdd_free_assoc(m, 0);
  kzu_bdd_free_assoc(m, 0);
  long left = 0;
  for (long i = 0; i < m->op_cache.size; i++)
    for (int s = 0; s < 2; s++) {
      cache_entry *e = &m->op_cache.table[i].entry[s];
      intptr_t v[4];
      if (e->key == 0 || bdd_cache_tag(e) != BDD_TAG_OP) continue;
      bdd_cache_entry_slots(m, e, v);
      if (v[0] == BDD_OP_EXISTS_BASE) left++;
    }
  EXPECT_EQ(left, 0);
  kzu_bdd_free(m, q);
  kzu_bdd_free(m, f);
}

// ---- Statistics ----------------------------------------------------------------------------------------
static std::vector<std::string> StatsLines(kzu_bdd_manager m) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *fp = open_memstream(&buf, &len);
  kzu_bdd_stats(m, fp);
  fclose(fp);
  std::vector<std::string> lines;
  std::string s(buf, len);
  free(buf);
  size_t start = 0;
  for (size_t i = 0; i < s.size(); i++)
    if (s[i] == '\n') {
      lines.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  return lines;
}

TEST_F(Engine, StatisticsLines) {
  Make(4);
  std::vector<std::string> lines = StatsLines(m);
  size_t k = lines.size() == 19 ? 1 : 0;  // the allocator line comes first when present
  ASSERT_EQ(lines.size(), 18 + k);
  if (k) {
    EXPECT_EQ(lines[0].rfind("Memory manager bytes allocated: ", 0), 0u);
  }
  EXPECT_EQ(lines[k + 0], "Approximate bytes used: " +
                              std::to_string(16 * 5 + 0 + 8 * 8179 + 12 * 30 + 4 * 30 * 1));
  EXPECT_EQ(lines[k + 1], "Number of nodes: 5");
  EXPECT_EQ(lines[k + 2], "Node limit: ---");
  EXPECT_EQ(lines[k + 3], "Overflow: no");
  EXPECT_EQ(lines[k + 4].rfind("Approximate bytes per node: ", 0), 0u);
  EXPECT_EQ(lines[k + 5], "Cache entries: 0");
  EXPECT_EQ(lines[k + 6], "Cache size: 16358");
  EXPECT_EQ(lines[k + 7], "Cache load factor: 0.00");
  EXPECT_EQ(lines[k + 8], "Cache look ups: 0");
  EXPECT_EQ(lines[k + 9], "Cache hits: 0");
  EXPECT_EQ(lines[k + 10], "Cache hit rate: ---");
  EXPECT_EQ(lines[k + 11], "Cache insertions: 0");
  EXPECT_EQ(lines[k + 12], "Cache collisions: 0");
  EXPECT_EQ(lines[k + 13], "Number of variables: 4");
  EXPECT_EQ(lines[k + 14], "Number of variable associations: 1");
  EXPECT_EQ(lines[k + 15], "Number of garbage collections: 0");
  EXPECT_EQ(lines[k + 16], "Number of nodes garbage collected: 0");
  EXPECT_EQ(lines[k + 17], "Number of find operations: 5");
  kzu_bdd_node_limit(m, 50000);
  bdd f = kzu_bdd_and(m, x[0], x[1]);
  bdd g = kzu_bdd_and(m, x[1], x[0]);
  lines = StatsLines(m);
  EXPECT_EQ(lines[k + 2], "Node limit: 50000");
  EXPECT_EQ(lines[k + 8], "Cache look ups: 2");
  EXPECT_EQ(lines[k + 9], "Cache hits: 1");
  EXPECT_EQ(lines[k + 10], "Cache hit rate: 0.50");
  EXPECT_EQ(lines[k + 11], "Cache insertions: 1");
  kzu_bdd_free(m, f);
  kzu_bdd_free(m, g);
}

}  // namespace
