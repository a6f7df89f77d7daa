// Bit sets over universes that do and do not fill their last word.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "var_set/var_set.h"

namespace {

std::string printed(var_set_t *s) {
  char buf[256] = {};
  FILE *fp = fmemopen(buf, sizeof buf, "w");
  var_set_print(fp, s);
  fclose(fp);
  return buf;
}

TEST(VarSet, ElementsAndCounts) {
  for (int n : {1, 31, 32, 33, 70}) {
    var_set_t *s = var_set_new(n);
    EXPECT_EQ(s->n_elts, n);
    EXPECT_EQ(s->n_words, (n + 31) / 32);
    EXPECT_TRUE(var_set_is_empty(s));
    EXPECT_FALSE(var_set_is_full(s));
    var_set_set_elt(s, n - 1);
    var_set_set_elt(s, 0);
    var_set_set_elt(s, 0);
    EXPECT_EQ(var_set_n_elts(s), n == 1 ? 1 : 2);
    EXPECT_EQ(var_set_get_elt(s, n - 1), 1);
    var_set_clear_elt(s, n - 1);
    EXPECT_EQ(var_set_get_elt(s, n - 1), 0);
    EXPECT_EQ(var_set_n_elts(s), n == 1 ? 0 : 1);
    var_set_clear(s);
    EXPECT_TRUE(var_set_is_empty(s));
    var_set_free(s);
  }
}

TEST(VarSet, ComplementStaysInsideTheUniverse) {
  var_set_t *s = var_set_new(40);
  var_set_t *c = var_set_new(40);
  var_set_set_elt(s, 3);
  var_set_not(c, s);
  EXPECT_EQ(var_set_n_elts(c), 39);
  EXPECT_FALSE(var_set_is_full(c));
  var_set_set_elt(c, 3);
  EXPECT_TRUE(var_set_is_full(c));
  var_set_not(c, c);
  EXPECT_TRUE(var_set_is_empty(c));
  var_set_free(s);
  var_set_free(c);
}

TEST(VarSet, BinaryOperationsAndComparisons) {
  var_set_t *a = var_set_new(50), *b = var_set_new(50), *r = var_set_new(50);
  var_set_set_elt(a, 1);
  var_set_set_elt(a, 40);
  var_set_set_elt(b, 40);
  var_set_set_elt(b, 7);
  EXPECT_TRUE(var_set_intersect(a, b));
  var_set_or(r, a, b);
  EXPECT_EQ(var_set_n_elts(r), 3);
  var_set_and(r, a, b);
  EXPECT_EQ(var_set_n_elts(r), 1);
  EXPECT_EQ(var_set_get_elt(r, 40), 1);
  var_set_clear_elt(b, 40);
  EXPECT_FALSE(var_set_intersect(a, b));

  var_set_t *copy = var_set_copy(a);
  EXPECT_TRUE(var_set_equal(copy, a));
  EXPECT_EQ(var_set_cmp((char *)copy, (char *)a), 0);
  EXPECT_EQ(var_set_hash(copy), var_set_hash(a));
  var_set_set_elt(copy, 2);
  EXPECT_FALSE(var_set_equal(copy, a));
  EXPECT_NE(var_set_cmp((char *)copy, (char *)a), 0);
  var_set_assign(copy, b);
  EXPECT_TRUE(var_set_equal(copy, b));
  // Empty sets over different universes differ.
  var_set_t *other = var_set_new(51);
  var_set_clear(r);
  EXPECT_FALSE(var_set_equal(other, r));
  for (var_set_t *s : {a, b, r, copy, other}) var_set_free(s);
}

TEST(VarSet, PrintShowsOneDigitPerElement) {
  var_set_t *s = var_set_new(6);
  var_set_set_elt(s, 1);
  var_set_set_elt(s, 5);
  EXPECT_EQ(printed(s), "010001\n");
  var_set_free(s);
}

TEST(VarSetDeath, IndexOutsideTheUniverse) {
  var_set_t *s = var_set_new(10);
  EXPECT_DEATH(var_set_set_elt(s, 10), "var_set: element outside the universe");
  EXPECT_DEATH(var_set_get_elt(s, -1), "var_set: element outside the universe");
  var_set_t *t = var_set_new(11);
  EXPECT_DEATH(var_set_or(s, s, t), "var_set: sets over different universes");
  var_set_free(s);
  var_set_free(t);
}

}  // namespace
