#include <cstdio>

#include "mdd/mddInt.h"

int eq2(int x, int y) { return x == y; }
int neq2(int x, int y) { return x != y; }
int geq2(int x, int y) { return x >= y; }
int gt2(int x, int y) { return x > y; }
int leq2(int x, int y) { return x <= y; }
int lt2(int x, int y) { return x < y; }
int unary_minus2(int x, int y) { return x + y == 0; }

mdd_t *mdd_func2(mdd_manager *mgr, int mvar_id1, int mvar_id2, int (*fn)(int, int)) {
  mvar_type *mv1 = mdd_mvar(mgr, mvar_id1);
  mvar_type *mv2 = mdd_mvar(mgr, mvar_id2);
  if (mv1->status == MDD_BUNDLED) {
    fprintf(stderr, "\nWarning: mdd_func2, bundled variable %s is used\n", mv1->name);
    util_assert_fail(__FILE__, __LINE__, "");
  }
  if (mv2->status == MDD_BUNDLED) {
    fprintf(stderr, "\nWarning: mdd_func2 bundled variable %s is used\n", mv2->name);
    util_assert_fail(__FILE__, __LINE__, "");
  }
  mdd_t *one = bdd_one(mgr);
  mdd_t *zero = bdd_zero(mgr);
  // One row per value of the first mvar: the relation's slice over the second.
  array_t *rows = array_alloc(mdd_t *, mv1->values);
  array_t *row = array_alloc(mdd_t *, mv2->values);
  for (int i = 0; i < mv1->values; i++) {
    for (int j = 0; j < mv2->values; j++) array_insert(mdd_t *, row, j, fn(i, j) != 0 ? one : zero);
    array_insert_last(mdd_t *, rows, mdd_case(mgr, mvar_id2, row));
  }
  array_free(row);
  // The outer case takes over the non-constant rows; the constant ones are
  // still ours.
  array_t *constant_rows = array_alloc(mdd_t *, 0);
  for (int i = 0; i < array_n(rows); i++)
    if (mdd_is_constant(array_fetch(mdd_t *, rows, i)))
      array_insert_last(mdd_t *, constant_rows, array_fetch(mdd_t *, rows, i));
  mdd_t *result = mdd_case(mgr, mvar_id1, rows);
  for (int i = 0; i < array_n(constant_rows); i++) bdd_free(array_fetch(mdd_t *, constant_rows, i));
  array_free(constant_rows);
  array_free(rows);
  bdd_free(one);
  bdd_free(zero);
  return result;
}
