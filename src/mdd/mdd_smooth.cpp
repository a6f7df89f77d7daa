#include <cstdio>

#include "mdd/mddInt.h"

mdd_t *mdd_smooth(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids) {
  if (mvar_ids == nullptr || array_n(mvar_ids) == 0) {
    printf("\nWARNING: Empty Array of Smoothing Variables");
    return bdd_dup(f);
  }
  for (int i = 0; i < array_n(mvar_ids); i++) {
    mvar_type *mv = mdd_mvar(mgr, array_fetch(int, mvar_ids, i));
    if (mv->status == MDD_BUNDLED) {
      fprintf(stderr, "\nmdd_smooth: bundled variable %s used\n", mv->name);
      util_assert_fail(__FILE__, __LINE__, "");
    }
  }
  array_t *bits = mdd_bit_handles(mgr, mvar_ids);
  mdd_t *result = bdd_smooth(f, bits);
  array_free(bits);
  return result;
}
