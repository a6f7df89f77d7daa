#include <algorithm>
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

}  // namespace

mdd_t *mdd_encode(mdd_manager *mgr, array_t *child_list, mvar_type *mv, int index) {
  // Each level holds handles and whether this builder made them; the
  // caller's children are only read, pair results are released as soon as
  // the next level has used them. A level is paired in place: pair p goes
  // to slot p / 2, which the pairing has already read.
  struct Slot {
    mdd_t *handle;
    bool owned;
  };
  int count = array_n(child_list);
  if (count == 0) return array_fetch(mdd_t *, child_list, 0);  // fails as an index out of range
  Slot small[64] = {};
  Slot *level = count <= 64 ? small : (Slot *)MMalloc((size_t)count * sizeof(Slot));
  for (int i = 0; i < count; i++) level[i] = Slot{array_fetch(mdd_t *, child_list, i), false};
  for (; count > 1; index--) {
    kz_debug_assert(index >= 0, "mdd_encode: more children than the bits can tell apart");
    mdd_t *x = mdd_bvar_node(mgr, array_fetch(int, mv->bvars, index));
    int k = 0;
    for (int p = 0; p + 1 < count; p += 2) {
      Slot even = level[p], odd = level[p + 1];
      level[k++] = Slot{pair_result(mgr, x, even.handle, odd.handle), true};
      if (even.owned) bdd_free(even.handle);
      if (odd.owned) bdd_free(odd.handle);
    }
    if (count % 2 == 1) level[k++] = level[count - 1];  // the unpaired last entry does not depend on this bit
    count = k;
  }
  mdd_t *result = level[0].owned ? level[0].handle : bdd_dup(level[0].handle);
  if (level != small) MMfree(level);
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
  int n = array_n(child_list);
  mdd_t *small[64];
  mdd_t **handed = n <= 64 ? small : (mdd_t **)MMalloc((size_t)n * sizeof(mdd_t *));
  for (int i = 0; i < n; i++) handed[i] = array_fetch(mdd_t *, child_list, i);
  std::sort(handed, handed + n);
  for (int i = 0; i < n; i++) {
    if (i > 0 && handed[i] == handed[i - 1]) continue;
    if (!mdd_is_constant(handed[i])) bdd_free(handed[i]);
  }
  if (handed != small) MMfree(handed);
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
