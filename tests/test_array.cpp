// Growable arrays: growth and zero fill, the copying operations, and the
// fatal checks with their exact texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "array/array.h"

namespace {

// A regular expression matching `text` literally.
std::string literal(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// The whole standard-error text of a fatal array error.
std::string arrayFatal(const std::string &kindText) {
  return "^" + literal("array: " + kindText + "Fatal error: file ") + ".*array\\.cpp, line [0-9]+\n" +
         literal("array package error\n") + "$";
}

int cmpInt(const void *a, const void *b) {
  int x = *(const int *)a, y = *(const int *)b;
  return (x > y) - (x < y);
}

TEST(ArrayGrowth, EmptyAllocationHasCapacityThree) {
  array_t *a = array_alloc(int, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->n_size, 3);
  EXPECT_EQ(array_n(a), 0);
  EXPECT_EQ(a->obj_size, (int)sizeof(int));
  EXPECT_EQ(a->index, -(int)sizeof(int));
  for (int i = 0; i < a->n_size; i++) EXPECT_EQ(((int *)a->space)[i], 0);
  array_free(a);
}

TEST(ArrayGrowth, InsertFarBeyondEndZeroFillsTheGap) {
  array_t *a = array_alloc(int, 0);
  array_insert(int, a, 10, 77);
  EXPECT_EQ(a->n_size, 11);
  EXPECT_EQ(array_n(a), 11);
  for (int i = 0; i < 10; i++) EXPECT_EQ(array_fetch(int, a, i), 0) << i;
  EXPECT_EQ(array_fetch(int, a, 10), 77);
  EXPECT_EQ(a->index, -(int)sizeof(int));
  EXPECT_EQ(array_global_insert, 1);
  array_free(a);
}

TEST(ArrayGrowth, AppendDoublesCapacityAndKeepsContents) {
  array_t *a = array_alloc(long, 1);
  int growths = 0, last_cap = a->n_size;
  for (long v = 0; v < 1000; v++) {
    array_insert_last(long, a, v * 3);
    if (a->n_size != last_cap) {
      EXPECT_GE(a->n_size, 2 * last_cap);
      last_cap = a->n_size;
      growths++;
    }
  }
  EXPECT_EQ(array_n(a), 1000);
  EXPECT_LE(growths, 10);
  for (int i = 0; i < 1000; i++) ASSERT_EQ(array_fetch(long, a, i), 3L * i);
  // Slots past num in the grown part read as zero.
  for (int i = 1000; i < a->n_size; i++) EXPECT_EQ(((long *)a->space)[i], 0);
  array_free(a);
}

TEST(ArrayGrowth, ResizeKeepsCapacityAtLeastDoubled) {
  array_t *a = array_alloc(char, 5);
  EXPECT_EQ(array_resize(a, 7), 1);
  EXPECT_EQ(a->n_size, 10);
  EXPECT_EQ(array_resize(a, 50), 1);
  EXPECT_EQ(a->n_size, 50);
  array_free(a);
}

TEST(ArrayGrowth, OversizedGrowthFailsAndLeavesArrayAlone) {
  array_t *a = array_alloc(double, 0);
  array_insert(double, a, 1, 2.5);
  EXPECT_EQ(array_resize(a, 0x7fffffff), ARRAY_OUT_OF_MEM);
  array_insert(double, a, 0x7ffffff0, 9.0);
  EXPECT_EQ(array_global_insert, ARRAY_OUT_OF_MEM);
  EXPECT_EQ(array_n(a), 2);
  EXPECT_EQ(a->n_size, 3);
  EXPECT_EQ(a->index, -(int)sizeof(double));
  EXPECT_EQ(array_fetch(double, a, 1), 2.5);
  array_free(a);
}

TEST(ArrayGrowth, RemoveLastPopsInOrder) {
  array_t *a = array_alloc(int, 0);
  for (int v = 1; v <= 4; v++) array_insert_last(int, a, v);
  EXPECT_EQ(array_remove_last(int, a), 4);
  EXPECT_EQ(array_remove_last(int, a), 3);
  EXPECT_EQ(array_n(a), 2);
  EXPECT_EQ(array_fetch_last(int, a), 2);
  array_free(a);
}

class ArrayCopies : public ::testing::Test {
 protected:
  void SetUp() override {
    a = array_alloc(int, 0);
    b = array_alloc(int, 0);
    for (int v : {5, 1, 4}) array_insert_last(int, a, v);
    for (int v : {9, 2}) array_insert_last(int, b, v);
  }
  void TearDown() override {
    array_free(a);
    array_free(b);
  }
  static std::string contents(array_t *x) {
    std::string s;
    for (int i = 0; i < array_n(x); i++) s += std::to_string(array_fetch(int, x, i)) + ",";
    return s;
  }
  array_t *a = nullptr;
  array_t *b = nullptr;
};

TEST_F(ArrayCopies, DupIsIndependent) {
  array_t *c = array_dup(a);
  array_insert(int, c, 0, 100);
  EXPECT_EQ(contents(a), "5,1,4,");
  EXPECT_EQ(contents(c), "100,1,4,");
  array_free(c);
}

TEST_F(ArrayCopies, AppendAndJoin) {
  array_t *j = array_join(a, b);
  EXPECT_EQ(contents(j), "5,1,4,9,2,");
  EXPECT_EQ(array_append(a, b), 1);
  EXPECT_EQ(contents(a), "5,1,4,9,2,");
  EXPECT_EQ(contents(b), "9,2,");
  array_free(j);
}

TEST_F(ArrayCopies, AppendToItselfDoublesTheContents) {
  EXPECT_EQ(array_append(a, a), 1);
  EXPECT_EQ(contents(a), "5,1,4,5,1,4,");
}

TEST_F(ArrayCopies, DataIsACopyOfTheElements) {
  int *data = array_data(int, a);
  EXPECT_EQ(data[0], 5);
  EXPECT_EQ(data[2], 4);
  data[0] = 0;
  EXPECT_EQ(array_fetch(int, a, 0), 5);
  free(data);
}

int g_released;
void countRelease(void *) { g_released++; }

TEST_F(ArrayCopies, SortThenUniqReleasesEachDuplicate) {
  for (int v : {4, 4, 1, 9}) array_insert_last(int, a, v);
  array_sort(a, cmpInt);
  EXPECT_EQ(contents(a), "1,1,4,4,4,5,9,");
  g_released = 0;
  array_uniq(a, cmpInt, countRelease);
  EXPECT_EQ(contents(a), "1,4,5,9,");
  EXPECT_EQ(g_released, 3);
  array_uniq(a, cmpInt, nullptr);
  EXPECT_EQ(contents(a), "1,4,5,9,");
}

using ArrayDeath = ArrayCopies;

TEST_F(ArrayDeath, FetchAtNumShowsIndexAndLastValidIndex) {
  EXPECT_DEATH((void)array_fetch(int, a, 3), arrayFatal("fetch index 3 not in [0,2]\n"));
  EXPECT_DEATH((void)array_fetch(int, a, -1), arrayFatal("fetch index -1 not in [0,2]\n"));
}

TEST_F(ArrayDeath, ElementSizeMismatch) {
  EXPECT_DEATH(array_insert(char, a, 0, 'x'), arrayFatal("object size mismatch\n"));
  EXPECT_DEATH(array_insert_last(long, a, 1L), arrayFatal("object size mismatch\n"));
}

TEST_F(ArrayDeath, NegativeInsertIndex) {
  EXPECT_DEATH(array_insert(int, a, -1, 0), arrayFatal("insert of -1\n"));
}

TEST_F(ArrayDeath, MixedSizesInAppendAndJoin) {
  array_t *c = array_alloc(char, 0);
  EXPECT_DEATH(array_append(a, c), arrayFatal("append undefined for arrays of different sizes\n"));
  EXPECT_DEATH(array_join(a, c), arrayFatal("join not defined for arrays of different sizes\n"));
  array_free(c);
}

TEST_F(ArrayDeath, RemoveFromEmpty) {
  array_t *c = array_alloc(int, 0);
  EXPECT_DEATH(array_remove_last(int, c), arrayFatal("attempt to remove from empty array"));
  array_free(c);
}

TEST_F(ArrayDeath, FreeDuringAnInsertionIsNested) {
  a->index = 1;  // what an insertion in progress leaves in the record
  EXPECT_DEATH(array_free(a), arrayFatal("nested insert, append, remove, or free operations\n"));
  a->index = -(int)sizeof(int);
}

TEST_F(ArrayDeath, UnknownKind) {
  EXPECT_DEATH(array_abort(a, 42), arrayFatal("unknown error\n"));
}

}  // namespace
