// Substitution of functions for variables (over a pair association) and
// composition of a single variable.
#include "kzuBdd/kzuBddInt.h"

static bool bdd_positive_var(kzu_bdd_manager m, bdd v) {
  return !bdd_is_complemented(v) && !bdd_is_const(v) && v->data[0] == m->one && v->data[1] == m->zero;
}

// ITE(v, t, e) consuming the temporary references of t and e. When v is a
// variable above both branches the node is made directly, which keeps
// order-preserving renamings free of ITE work.
static bdd bdd_join(kzu_bdd_manager m, bdd v, bdd t, bdd e) {
  if (bdd_positive_var(m, v)) {
    long lv = bdd_level(m, v);
    if (lv < bdd_level(m, t) && lv < bdd_level(m, e)) return bdd_find(m, bdd_id(v), t, e);
  }
  m->op_cache.cache_level++;
  bdd r = kzu_bdd_ite_step(m, v, t, e);
  m->op_cache.cache_level--;
  bdd_temp_dec(t);
  bdd_temp_dec(e);
  return r;
}

static bdd bdd_substitute_step(kzu_bdd_manager m, bdd f, intptr_t op, var_assoc *assoc) {
  if (bdd_level(m, f) > assoc->last) {
    bdd_temp_inc(f);
    return f;
  }
  bdd r;
  bdd_cache_key k = bdd_op_key(m, op, f);
  if (bdd_lookup_edge(m, k, &r)) return r;
  long id = bdd_id(f);
  bdd f0 = bdd_else_of(f);
  bdd_prefetch_op1(m, op, f0);  // read while the then-part is computed
  bdd t = bdd_substitute_step(m, bdd_then_of(f), op, assoc);
  bdd e = bdd_substitute_step(m, f0, op, assoc);
  bdd v = assoc->assoc[id] != nullptr ? assoc->assoc[id] : m->variables[id];
  r = bdd_join(m, v, t, e);
  bdd_insert_edge(m, k, r);
  return r;
}

bdd kzu_bdd_substitute(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return nullptr;
  intptr_t op = bdd_assoc_op_id(m, BDD_TEMP_SUBST, BDD_OP_SUBST_BASE);
  var_assoc *assoc = m->curr_assoc;
  return bdd_run_operation(m, [&] { return bdd_substitute_step(m, f, op, assoc); });
}

// Cofactor of f with respect to the literal of variable `id` (value `value`).
static bdd bdd_literal_cofactor(kzu_bdd_manager m, bdd f, long id, long level, int value) {
  long lf = bdd_level(m, f);
  if (lf > level) {
    bdd_temp_inc(f);
    return f;
  }
  if (lf == level) {
    bdd c = value ? bdd_then_of(f) : bdd_else_of(f);
    bdd_temp_inc(c);
    return c;
  }
  bdd lit = value ? m->variables[id] : bdd_complement(m->variables[id]);
  bdd r;
  if (bdd_lookup3(m, BDD_TAG_OP, BDD_OP_COFACTOR, (intptr_t)f, (intptr_t)lit, &r)) return r;
  bdd t = bdd_literal_cofactor(m, bdd_then_of(f), id, level, value);
  bdd e = bdd_literal_cofactor(m, bdd_else_of(f), id, level, value);
  r = bdd_find(m, bdd_id(f), t, e);
  bdd_insert3(m, BDD_TAG_OP, BDD_OP_COFACTOR, (intptr_t)f, (intptr_t)lit, (intptr_t)r);
  return r;
}

bdd kzu_bdd_compose(kzu_bdd_manager m, bdd f, bdd v, bdd g) {
  if (!bdd_check_arguments(m, 3, f, v, g)) return nullptr;
  if (bdd_is_const(v)) {
    kzu_bdd_warning("kzu_bdd_compose: second argument is a constant");
    return nullptr;
  }
  long id = bdd_id(v), level = bdd_level(m, v);
  return bdd_run_operation(m, [&] {
    bdd t = bdd_literal_cofactor(m, f, id, level, 1);
    bdd e = bdd_literal_cofactor(m, f, id, level, 0);
    m->op_cache.cache_level++;
    bdd r = kzu_bdd_ite_step(m, g, t, e);
    m->op_cache.cache_level--;
    bdd_temp_dec(t);
    bdd_temp_dec(e);
    return r;
  });
}
