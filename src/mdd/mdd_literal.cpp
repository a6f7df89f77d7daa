#include "mdd/mddInt.h"

mdd_t *mdd_literal(mdd_manager *mgr, int mvar_id, array_t *values) {
  mvar_type *mv = mdd_mvar(mgr, mvar_id);
  mdd_t *one = bdd_one(mgr);
  mdd_t *zero = bdd_zero(mgr);
  array_t *children = array_alloc(mdd_t *, mv->values);
  for (int v = 0; v < mv->values; v++) array_insert_last(mdd_t *, children, zero);
  // A value outside the domain can never be taken, so it adds nothing.
  for (int i = 0; i < array_n(values); i++) {
    int v = array_fetch(int, values, i);
    if (v >= 0 && v < mv->values) array_insert(mdd_t *, children, v, one);
  }
  mdd_t *result = mdd_case(mgr, mvar_id, children);
  array_free(children);
  bdd_free(one);
  bdd_free(zero);
  return result;
}
