#include <cstdio>

#include "mdd/mddInt.h"

mdd_t *mdd_func1c(mdd_manager *mgr, int mvar_id, int constant, int (*fn)(int, int)) {
  mvar_type *mv = mdd_mvar(mgr, mvar_id);
  if (mv->status == MDD_BUNDLED) printf("\nWarning: mdd_func1c, bundled variable %s is used\n", mv->name);
  mdd_t *one = bdd_one(mgr);
  mdd_t *zero = bdd_zero(mgr);
  array_t *children = array_alloc(mdd_t *, mv->values);
  for (int v = 0; v < mv->values; v++)
    array_insert_last(mdd_t *, children, fn(v, constant) != 0 ? one : zero);
  // A bundled mvar was warned about above; the table is built all the same.
  mdd_t *result = mdd_case_build(mgr, mv, children);
  array_free(children);
  bdd_free(one);
  bdd_free(zero);
  return result;
}
