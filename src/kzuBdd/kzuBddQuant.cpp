// Existential and universal quantification and the relational product
// (conjunction fused with quantification) over the current association.
#include "kzuBdd/kzuBddInt.h"

// Disjunction of two step results, consuming their temporary references.
// Nested work runs with cache_level raised so that it cannot push the
// caller's own entries out of slot 0.
static inline bdd bdd_or_consume(kzu_bdd_manager m, bdd a, bdd b) {
  m->op_cache.cache_level++;
  bdd r = bdd_or_step(m, a, b);
  m->op_cache.cache_level--;
  bdd_temp_dec(a);
  bdd_temp_dec(b);
  return r;
}

bdd kzu_bdd_exists_step(kzu_bdd_manager m, bdd f, intptr_t op, var_assoc *assoc) {
  long level = bdd_level(m, f);
  if (level > assoc->last) {
    bdd_temp_inc(f);
    return f;
  }
  bdd r;
  bdd_cache_key k = bdd_op_key(m, op, f);
  if (bdd_lookup_edge(m, k, &r)) return r;
  long id = bdd_id(f);
  bool q = assoc->assoc[id] != nullptr;
  bdd f0 = bdd_else_of(f);
  bdd_prefetch_op1(m, op, f0);  // read while the then-part is computed
  bdd t = kzu_bdd_exists_step(m, bdd_then_of(f), op, assoc);
  if (q && t == m->one) {
    r = t;
  } else {
    bdd e = kzu_bdd_exists_step(m, f0, op, assoc);
    r = q ? bdd_or_consume(m, t, e) : bdd_find(m, id, t, e);
  }
  bdd_insert_edge(m, k, r);
  return r;
}

bdd kzu_bdd_exists(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return nullptr;
  intptr_t op = bdd_assoc_op_id(m, BDD_TEMP_EXISTS, BDD_OP_EXISTS_BASE);
  var_assoc *assoc = m->curr_assoc;
  return bdd_run_operation(m, [&] { return kzu_bdd_exists_step(m, f, op, assoc); });
}

bdd kzu_bdd_forall(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return nullptr;
  bdd r = kzu_bdd_exists(m, bdd_complement(f));
  return r ? bdd_complement(r) : nullptr;
}

static bdd bdd_rel_prod_step(kzu_bdd_manager m, bdd f, bdd g, intptr_t op, var_assoc *assoc) {
  bdd one = m->one, zero = m->zero;
  if (f == zero || g == zero) return zero;
  if (bdd_same_node(f, g)) {
    if (f != g) return zero;
    g = one;
  }
  if (f == one && g == one) return one;
  long lf = bdd_level(m, f), lg = bdd_level(m, g);
  if (lf > assoc->last && lg > assoc->last) {
    m->op_cache.cache_level++;
    bdd r = kzu_bdd_and_step(m, f, g);
    m->op_cache.cache_level--;
    return r;
  }
  if ((uintptr_t)f > (uintptr_t)g) {
    bdd t = f;
    f = g;
    g = t;
    long l = lf;
    lf = lg;
    lg = l;
  }
  bdd r;
  bdd_cache_key k = bdd_op_key2(m, op, f, g);
  if (bdd_lookup_edge(m, k, &r)) return r;
  long top = lf < lg ? lf : lg;
  long id = m->indexindexes[top];
  bdd f1 = f, f0 = f, g1 = g, g0 = g;
  if (lf == top) {
    f1 = bdd_then_of(f);
    f0 = bdd_else_of(f);
  }
  if (lg == top) {
    g1 = bdd_then_of(g);
    g0 = bdd_else_of(g);
  }
  bool q = assoc->assoc[id] != nullptr;
  // The else-part's entry is fetched while the then-part is computed.
  if (!bdd_is_const(f0) && !bdd_is_const(g0)) {
    if ((uintptr_t)f0 < (uintptr_t)g0)
      bdd_prefetch_op2(m, op, f0, g0);
    else
      bdd_prefetch_op2(m, op, g0, f0);
  }
  bdd t = bdd_rel_prod_step(m, f1, g1, op, assoc);
  if (q && t == one) {
    r = t;
  } else {
    bdd e = bdd_rel_prod_step(m, f0, g0, op, assoc);
    r = q ? bdd_or_consume(m, t, e) : bdd_find(m, id, t, e);
  }
  bdd_insert_edge(m, k, r);
  return r;
}

bdd kzu_bdd_rel_prod(kzu_bdd_manager m, bdd f, bdd g) {
  if (!bdd_check_arguments(m, 2, f, g)) return nullptr;
  intptr_t op = bdd_assoc_op_id(m, BDD_TEMP_RELPROD, BDD_OP_RELPROD_BASE);
  var_assoc *assoc = m->curr_assoc;
  return bdd_run_operation(m, [&] { return bdd_rel_prod_step(m, f, g, op, assoc); });
}
