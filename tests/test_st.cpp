// Hash tables: growth points, in-line and called hash functions, deletion
// during a walk, the generator, reordering, and a random comparison against
// std::map.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "st/st.h"

namespace {

char *key(long n) { return (char *)(intptr_t)n; }
long num(const char *k) { return (long)(intptr_t)k; }

int strCompare(const char *a, const char *b) { return strcmp(a, b); }

TEST(StGrowth, ElevenThenTwentyThreeThenFortySeven) {
  st_table *t = st_init_table(st_numcmp, st_numhash);
  EXPECT_EQ(t->num_bins, 11);
  EXPECT_EQ(t->max_density, 5);
  EXPECT_EQ(t->grow_factor, 2.0);
  EXPECT_EQ(t->reorder_flag, 0);
  for (long k = 1; k <= 55; k++) ASSERT_EQ(st_insert(t, key(k), key(k * 10)), 0);
  EXPECT_EQ(t->num_bins, 11);
  st_insert(t, key(56), key(560));
  EXPECT_EQ(t->num_bins, 23);
  for (long k = 57; k <= 115; k++) st_insert(t, key(k), key(k * 10));
  EXPECT_EQ(t->num_bins, 23);
  st_insert(t, key(116), key(1160));
  EXPECT_EQ(t->num_bins, 47);
  EXPECT_EQ(st_count(t), 116);
  for (long k = 1; k <= 116; k++) {
    char *rec = nullptr;
    ASSERT_TRUE(st_lookup(t, key(k), &rec)) << k;
    EXPECT_EQ(num(rec), k * 10);
  }
  // Replacing a record neither adds an entry nor grows the table.
  EXPECT_EQ(st_insert(t, key(7), key(-1)), 1);
  EXPECT_EQ(st_count(t), 116);
  st_free_table(t);
}

TEST(StGrowth, CalledHashFunctionsGrowTheSameWay) {
  st_table *t = st_init_table(strCompare, st_strhash);
  std::vector<std::string> names;
  for (int i = 0; i < 56; i++) names.push_back("name" + std::to_string(i));
  for (int i = 0; i < 55; i++) st_insert(t, names[i].c_str(), key(i));
  EXPECT_EQ(t->num_bins, 11);
  st_insert(t, names[55].c_str(), key(55));
  EXPECT_EQ(t->num_bins, 23);
  // Look-ups go through the compare function, not pointer identity.
  std::string copy = "name42";
  int value = -1;
  EXPECT_TRUE(st_lookup_int(t, copy.c_str(), &value));
  EXPECT_EQ(value, 42);
  st_free_table(t);
}

TEST(StGrowth, DegenerateParametersStillWork) {
  // Density 0 would otherwise regrow on every insertion; a factor of 1 never
  // enlarges the table.
  st_table *dense = st_init_table_with_params(st_numcmp, st_numhash, 0, 0, 2.0, 0);
  st_table *flat = st_init_table_with_params(st_ptrcmp, st_ptrhash, 3, 1, 1.0, 0);
  EXPECT_EQ(dense->num_bins, 1);
  for (long k = 0; k < 200; k++) {
    ASSERT_EQ(st_insert(dense, key(k), key(k)), 0);
    ASSERT_EQ(st_insert(flat, key(8 * k), key(k)), 0);
  }
  EXPECT_LT(dense->num_bins, 1000);
  EXPECT_EQ(flat->num_bins, 3);
  for (long k = 0; k < 200; k++) {
    EXPECT_TRUE(st_is_member(dense, key(k)));
    EXPECT_TRUE(st_is_member(flat, key(8 * k)));
  }
  st_free_table(dense);
  st_free_table(flat);
}

TEST(StHash, PointerAndNumberForms) {
  EXPECT_EQ(st_ptrhash(key(40), 11), 10);
  EXPECT_EQ(st_ptrhash(key(43), 11), 10);
  EXPECT_EQ(st_numhash(key(-7), 5), 2);
  EXPECT_EQ(st_numhash(key(7), 5), 2);
  EXPECT_EQ(st_numcmp(key(3), key(3)), 0);
  EXPECT_NE(st_ptrcmp(key(3), key(4)), 0);
  int h = st_strhash("some key", 13);
  EXPECT_GE(h, 0);
  EXPECT_LT(h, 13);
  EXPECT_EQ(st_strhash("some key", 13), h);
}

class StTable : public ::testing::Test {
 protected:
  void SetUp() override {
    t = st_init_table(st_numcmp, st_numhash);
    for (long k = 0; k < 100; k++) st_insert(t, key(k), key(k + 1000));
  }
  void TearDown() override { st_free_table(t); }
  std::set<long> keys() {
    std::set<long> out;
    st_generator *gen;
    char *k, *v;
    st_foreach_item(t, gen, &k, &v) {
      EXPECT_EQ(num(v), num(k) + 1000);
      EXPECT_TRUE(out.insert(num(k)).second) << "key visited twice";
    }
    return out;
  }
  st_table *t = nullptr;
};

enum st_retval deleteOdd(char *k, char *, char *arg) {
  (*(int *)arg)++;
  return num(k) % 2 ? ST_DELETE : ST_CONTINUE;
}

enum st_retval stopAfterTen(char *, char *, char *arg) {
  return ++*(int *)arg == 10 ? ST_STOP : ST_CONTINUE;
}

TEST_F(StTable, ForeachDeletesWhileWalking) {
  int calls = 0;
  EXPECT_EQ(st_foreach(t, deleteOdd, (char *)&calls), 1);
  EXPECT_EQ(calls, 100);
  EXPECT_EQ(st_count(t), 50);
  std::set<long> left = keys();
  EXPECT_EQ(left.size(), 50u);
  for (long k : left) EXPECT_EQ(k % 2, 0);
  calls = 0;
  EXPECT_EQ(st_foreach(t, stopAfterTen, (char *)&calls), 0);
  EXPECT_EQ(calls, 10);
}

TEST_F(StTable, GeneratorVisitsEveryEntryOnce) {
  std::set<long> seen = keys();
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_EQ(*seen.begin(), 0);
  EXPECT_EQ(*seen.rbegin(), 99);
  st_generator *gen = st_init_gen(t);
  char *k;
  int v, n = 0;
  while (st_gen_int(gen, &k, &v)) {
    EXPECT_EQ(v, num(k) + 1000);
    n++;
  }
  EXPECT_EQ(n, 100);
  EXPECT_EQ(st_gen_int(gen, &k, &v), 0);  // stays exhausted
  st_free_gen(gen);
  st_table *empty = st_init_table(st_ptrcmp, st_ptrhash);
  gen = st_init_gen(empty);
  EXPECT_EQ(st_gen(gen, &k, nullptr), 0);
  st_free_gen(gen);
  st_free_table(empty);
}

TEST_F(StTable, FindOrAddAndFindExposeTheRecordSlot) {
  char **slot = nullptr;
  EXPECT_EQ(st_find_or_add(t, key(500), &slot), 0);
  EXPECT_EQ(*slot, nullptr);
  *slot = key(77);
  EXPECT_EQ(st_find_or_add(t, key(500), &slot), 1);
  EXPECT_EQ(num(*slot), 77);
  EXPECT_EQ(st_find(t, key(3), &slot), 1);
  *slot = key(-3);
  char *rec;
  st_lookup(t, key(3), &rec);
  EXPECT_EQ(num(rec), -3);
  EXPECT_EQ(st_find(t, key(-12), &slot), 0);
}

TEST_F(StTable, DeleteReturnsTheStoredKeyAndRecord) {
  const char *k = key(42);
  char *rec = nullptr;
  EXPECT_EQ(st_delete(t, &k, &rec), 1);
  EXPECT_EQ(num(rec), 1042);
  EXPECT_EQ(st_delete(t, &k, &rec), 0);
  long lk = 43;
  EXPECT_EQ(st_delete_int(t, &lk, &rec), 1);
  EXPECT_EQ(lk, 43);
  EXPECT_EQ(st_count(t), 98);
  EXPECT_FALSE(st_is_member(t, key(42)));
}

TEST_F(StTable, CopyIsIndependent) {
  st_table *c = st_copy(t);
  EXPECT_EQ(c->num_bins, t->num_bins);
  EXPECT_EQ(st_count(c), 100);
  const char *k = key(5);
  st_delete(c, &k, nullptr);
  st_insert(c, key(6), key(0));
  EXPECT_TRUE(st_is_member(t, key(5)));
  char *rec;
  st_lookup(t, key(6), &rec);
  EXPECT_EQ(num(rec), 1006);
  st_free_table(c);
}

TEST(StReorder, FoundEntryMovesToTheFrontOfItsBin) {
  st_table *t = st_init_table_with_params(st_ptrcmp, st_ptrhash, 1, 100, 2.0, 1);
  for (long k = 1; k <= 3; k++) st_insert(t, key(8 * k), key(k));
  EXPECT_EQ(t->bins[0]->key, key(24));  // newest at the head
  EXPECT_TRUE(st_lookup(t, key(8), nullptr));
  EXPECT_EQ(t->bins[0]->key, key(8));
  st_insert(t, key(16), key(99));
  EXPECT_EQ(t->bins[0]->key, key(16));
  st_free_table(t);
  st_table *plain = st_init_table_with_params(st_ptrcmp, st_ptrhash, 1, 100, 2.0, 0);
  for (long k = 1; k <= 3; k++) st_insert(plain, key(8 * k), key(k));
  st_lookup(plain, key(8), nullptr);
  EXPECT_EQ(plain->bins[0]->key, key(24));
  st_free_table(plain);
}

// Random operations against std::map, over a key range small enough to hit
// replacements, misses and deletions often, across several growths.
TEST(StOracle, MatchesStdMap) {
  std::mt19937 rng(7);
  for (int flag = 0; flag < 2; flag++) {
    st_table *t = st_init_table_with_params(st_numcmp, st_numhash, 3, 2, 1.7, flag);
    std::map<long, long> ref;
    for (int step = 0; step < 20000; step++) {
      long k = (long)(rng() % 600) - 300;
      long v = (long)rng();
      char *rec = nullptr;
      switch (rng() % 4) {
        case 0:
        case 1:
          ASSERT_EQ(st_insert(t, key(k), key(v)), ref.count(k) ? 1 : 0);
          ref[k] = v;
          break;
        case 2: {
          const char *kp = key(k);
          ASSERT_EQ(st_delete(t, &kp, &rec), (int)ref.erase(k));
          break;
        }
        default:
          ASSERT_EQ(st_lookup(t, key(k), &rec), ref.count(k) ? 1 : 0);
          if (ref.count(k)) {
            ASSERT_EQ(num(rec), ref[k]);
          }
      }
      ASSERT_EQ(st_count(t), (int)ref.size());
    }
    std::map<long, long> seen;
    st_generator *gen;
    char *k, *v;
    st_foreach_item(t, gen, &k, &v) seen[num(k)] = num(v);
    EXPECT_EQ(seen, ref);
    st_free_table(t);
  }
}

}  // namespace
