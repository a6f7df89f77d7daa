#include <cstdio>
#include <cstring>

#include "mdd/mddInt.h"

namespace {

// The value of a pair of children (c_even for the bit at 0, c_odd at 1) as a
// new handle; constant pairs need no ITE.
mdd_t *pair_result(mdd_manager *mgr, mdd_t *x, mdd_t *c_even, mdd_t *c_odd) {
  boolean even_true = bdd_is_tautology(c_even, 1), even_false = bdd_is_tautology(c_even, 0);
  boolean odd_true = bdd_is_tautology(c_odd, 1), odd_false = bdd_is_tautology(c_odd, 0);
  if (even_false && odd_false) return bdd_zero(mgr);
  if (odd_false && even_true) return bdd_not(x);
  if (even_true && odd_true) return bdd_one(mgr);
  if (odd_true && even_false) return bdd_dup(x);
  return bdd_ite(x, c_odd, c_even, 1, 1, 1);
}

int compare_handles(const void *a, const void *b) {
  const mdd_t *x = *(const mdd_t *const *)a, *y = *(const mdd_t *const *)b;
  return (x > y) - (x < y);
}

}  // namespace

mdd_t *mdd_encode(mdd_manager *mgr, array_t *child_list, mvar_type *mv, int index) {
  // Each level holds handles and whether this builder made them; the
  // caller's children are only read, pair results are released as soon as
  // the next level has used them.
  int n = array_n(child_list);
  array_t *level = array_alloc(mdd_t *, n);
  array_t *owned = array_alloc(int, n);
  for (int i = 0; i < n; i++) {
    array_insert_last(mdd_t *, level, array_fetch(mdd_t *, child_list, i));
    array_insert_last(int, owned, 0);
  }
  for (; array_n(level) > 1; index--) {
    kz_debug_assert(index >= 0, "mdd_encode: more children than the bits can tell apart");
    mdd_t *x = mdd_bvar_node(mgr, array_fetch(int, mv->bvars, index));
    int count = array_n(level);
    array_t *next = array_alloc(mdd_t *, (count + 1) / 2);
    array_t *next_owned = array_alloc(int, (count + 1) / 2);
    for (int p = 0; p + 1 < count; p += 2) {
      mdd_t *c_even = array_fetch(mdd_t *, level, p);
      mdd_t *c_odd = array_fetch(mdd_t *, level, p + 1);
      array_insert_last(mdd_t *, next, pair_result(mgr, x, c_even, c_odd));
      array_insert_last(int, next_owned, 1);
      if (array_fetch(int, owned, p)) bdd_free(c_even);
      if (array_fetch(int, owned, p + 1)) bdd_free(c_odd);
    }
    if (count % 2 == 1) {  // the unpaired last entry does not depend on this bit
      array_insert_last(mdd_t *, next, array_fetch(mdd_t *, level, count - 1));
      array_insert_last(int, next_owned, array_fetch(int, owned, count - 1));
    }
    array_free(level);
    array_free(owned);
    level = next;
    owned = next_owned;
  }
  mdd_t *last = array_fetch(mdd_t *, level, 0);
  mdd_t *result = array_fetch(int, owned, 0) ? last : bdd_dup(last);
  array_free(level);
  array_free(owned);
  return result;
}

mdd_t *mdd_case_build(mdd_manager *mgr, mvar_type *mv, array_t *child_list) {
  util_assert(mv->values == array_n(child_list),
              "mdd_case: mvar.values different from length of child_list\n");
  for (int i = 0; i < array_n(child_list); i++)
    util_assert(array_fetch(mdd_t *, child_list, i) != nullptr, "mdd_case: null child\n");
  mdd_t *result = mdd_encode(mgr, child_list, mv, mv->encode_length - 1);
  // The caller hands over its non-constant children. A handle listed more
  // than once is released once.
  array_t *handed = array_dup(child_list);
  array_sort(handed, compare_handles);
  for (int i = 0; i < array_n(handed); i++) {
    mdd_t *c = array_fetch(mdd_t *, handed, i);
    if (i > 0 && c == array_fetch(mdd_t *, handed, i - 1)) continue;
    if (!mdd_is_constant(c)) bdd_free(c);
  }
  array_free(handed);
  return result;
}

mdd_t *mdd_case(mdd_manager *mgr, int mvar_id, array_t *child_list) {
  mvar_type *mv = mdd_mvar(mgr, mvar_id);
  if (mv->status == MDD_BUNDLED) {
    fprintf(stderr, "\nmdd_andsmooth: bundled variable %s used\n", mv->name);
    util_assert_fail(__FILE__, __LINE__, "");
  }
  return mdd_case_build(mgr, mv, child_list);
}
