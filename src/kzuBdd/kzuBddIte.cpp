// If-then-else and the binary connectives built on it. AND and XNOR have
// their own steps but share the ITE entries (tag 0) of the same function.
#include "kzuBdd/kzuBddInt.h"

static inline bdd bdd_ret(bdd f) {
  bdd_temp_inc(f);
  return f;
}

// Results that need no recursion: a constant argument, or both arguments on
// one node.
static inline bool bdd_and_terminal(kzu_bdd_manager m, bdd f, bdd g, bdd *r) {
  bdd one = m->one;
  if (bdd_is_const(f)) *r = f == one ? bdd_ret(g) : f;
  else if (bdd_is_const(g)) *r = g == one ? bdd_ret(f) : g;
  else if (bdd_same_node(f, g)) *r = f == g ? bdd_ret(f) : m->zero;
  else return false;
  return true;
}

static inline bool bdd_xnor_terminal(kzu_bdd_manager m, bdd f, bdd g, bdd *r) {
  bdd one = m->one;
  if (bdd_is_const(f)) *r = f == one ? bdd_ret(g) : bdd_ret(bdd_complement(g));
  else if (bdd_is_const(g)) *r = g == one ? bdd_ret(f) : bdd_ret(bdd_complement(f));
  else if (bdd_same_node(f, g)) *r = f == g ? one : m->zero;
  else return false;
  return true;
}

// The steps proper, for arguments that are no terminal case.
static bdd bdd_and_inner(kzu_bdd_manager m, bdd f, bdd g);
static bdd bdd_xnor_inner(kzu_bdd_manager m, bdd f, bdd g);

static inline bdd bdd_and_rec(kzu_bdd_manager m, bdd f, bdd g) {
  bdd r;
  return bdd_and_terminal(m, f, g, &r) ? r : bdd_and_inner(m, f, g);
}

static inline bdd bdd_xnor_rec(kzu_bdd_manager m, bdd f, bdd g) {
  bdd r;
  return bdd_xnor_terminal(m, f, g, &r) ? r : bdd_xnor_inner(m, f, g);
}

bdd kzu_bdd_and_step(kzu_bdd_manager m, bdd f, bdd g) { return bdd_and_rec(m, f, g); }
bdd kzu_bdd_xnor_step(kzu_bdd_manager m, bdd f, bdd g) { return bdd_xnor_rec(m, f, g); }

static bdd bdd_and_inner(kzu_bdd_manager m, bdd f, bdd g) {
  bdd r;
  if ((uintptr_t)f > (uintptr_t)g) {
    bdd t = f;
    f = g;
    g = t;
  }
  bdd_cache_key k = bdd_and_key(m, f, g);
  if (bdd_lookup_edge(m, k, &r)) return r;
  long lf = bdd_level(m, f), lg = bdd_level(m, g);
  long id;
  bdd f1, f0, g1, g0;
  if (lf < lg) {
    id = bdd_id(f);
    f1 = bdd_then_of(f);
    f0 = bdd_else_of(f);
    g1 = g0 = g;
  } else {
    id = bdd_id(g);
    g1 = bdd_then_of(g);
    g0 = bdd_else_of(g);
    if (lf == lg) {
      f1 = bdd_then_of(f);
      f0 = bdd_else_of(f);
    } else {
      f1 = f0 = f;
    }
  }
  // The else-part's entry is fetched while the then-part is computed.
  if (!bdd_is_const(f0) && !bdd_is_const(g0)) {
    if ((uintptr_t)f0 < (uintptr_t)g0)
      bdd_prefetch_and(m, f0, g0);
    else
      bdd_prefetch_and(m, g0, f0);
  }
  bdd t = bdd_and_rec(m, f1, g1);
  bdd e = bdd_and_rec(m, f0, g0);
  r = bdd_find(m, id, t, e);
  bdd_insert_edge(m, k, r);
  return r;
}

static bdd bdd_xnor_inner(kzu_bdd_manager m, bdd f, bdd g) {
  bdd r;
  if ((uintptr_t)f > (uintptr_t)g) {
    bdd t = f;
    f = g;
    g = t;
  }
  int negate = bdd_is_complemented(g);
  g = bdd_regular(g);
  bdd_cache_key k = bdd_xnor_key(m, f, g);
  if (!bdd_lookup_edge(m, k, &r)) {
    long lf = bdd_level(m, f), lg = bdd_level(m, g);
    long id;
    bdd f1, f0, g1, g0;
    if (lf < lg) {
      id = bdd_id(f);
      f1 = bdd_then_of(f);
      f0 = bdd_else_of(f);
      g1 = g0 = g;
    } else {
      id = bdd_id(g);
      g1 = bdd_then_of(g);
      g0 = bdd_else_of(g);
      if (lf == lg) {
        f1 = bdd_then_of(f);
        f0 = bdd_else_of(f);
      } else {
        f1 = f0 = f;
      }
    }
    // The else-part's entry is fetched while the then-part is computed.
    if (!bdd_is_const(f0) && !bdd_is_const(g0)) {
      bdd a = (uintptr_t)f0 < (uintptr_t)g0 ? f0 : g0;
      bdd b = bdd_regular((uintptr_t)f0 < (uintptr_t)g0 ? g0 : f0);
      bdd_prefetch_xnor(m, a, b);
    }
    bdd t = bdd_xnor_rec(m, f1, g1);
    bdd e = bdd_xnor_rec(m, f0, g0);
    r = bdd_find(m, id, t, e);
    bdd_insert_edge(m, k, r);
  }
  return bdd_complement_if(r, negate);
}

bdd kzu_bdd_ite_step(kzu_bdd_manager m, bdd f, bdd g, bdd h) {
  bdd one = m->one, zero = m->zero;
  // 1. Constant condition.
  if (bdd_is_const(f)) return f == one ? bdd_ret(g) : bdd_ret(h);
  // 2. Branches that repeat the condition.
  if (bdd_same_node(f, g)) g = g == f ? one : zero;
  if (bdd_same_node(f, h)) h = h == f ? zero : one;
  bool gc = bdd_is_const(g), hc = bdd_is_const(h);
  // 3. Both branches constant.
  if (gc && hc) {
    if (g == h) return g;
    return g == one ? bdd_ret(f) : bdd_ret(bdd_complement(f));
  }
  // 4. Constant then-branch.
  if (gc) {
    if (g == zero) return kzu_bdd_and_step(m, bdd_complement(f), h);
    return bdd_complement(kzu_bdd_and_step(m, bdd_complement(f), bdd_complement(h)));
  }
  // 5. Branches on one node.
  if (bdd_same_node(g, h)) {
    if (g == h) return bdd_ret(g);
    return kzu_bdd_xnor_step(m, f, g);
  }
  // 6. Constant else-branch.
  if (hc) {
    if (h == zero) return kzu_bdd_and_step(m, f, g);
    return bdd_complement(kzu_bdd_and_step(m, f, bdd_complement(g)));
  }
  // 7. General case, normalised to a regular condition and then-branch.
  if (bdd_is_complemented(f)) {
    f = bdd_complement(f);
    bdd t = g;
    g = h;
    h = t;
  }
  int negate = bdd_is_complemented(g);
  if (negate) {
    g = bdd_complement(g);
    h = bdd_complement(h);
  }
  bdd r;
  // A plain variable above both branches: the result is the node itself, so
  // it is looked up in the unique table directly (node-by-node rebuilding
  // would otherwise fill the computed table with entries never hit again).
  if (bdd_then_of(f) == one && bdd_else_of(f) == zero) {
    long lf = bdd_level(m, f);
    if (lf < bdd_level(m, g) && lf < bdd_level(m, h)) {
      bdd_temp_inc(g);
      bdd_temp_inc(h);
      return bdd_complement_if(bdd_find(m, bdd_id(f), g, h), negate);
    }
  }
  bdd_cache_key k = bdd_prepare3(m, BDD_TAG_ITE, (intptr_t)f, (intptr_t)g, (intptr_t)h);
  if (!bdd_lookup_edge(m, k, &r)) {
    long lf = bdd_level(m, f), lg = bdd_level(m, g), lh = bdd_level(m, h);
    long top = lf < lg ? lf : lg;
    if (lh < top) top = lh;
    long id = m->indexindexes[top];
    bdd f1 = f, f0 = f, g1 = g, g0 = g, h1 = h, h0 = h;
    if (lf == top) {
      f1 = bdd_then_of(f);
      f0 = bdd_else_of(f);
    }
    if (lg == top) {
      g1 = bdd_then_of(g);
      g0 = bdd_else_of(g);
    }
    if (lh == top) {
      h1 = bdd_then_of(h);
      h0 = bdd_else_of(h);
    }
    bdd t = kzu_bdd_ite_step(m, f1, g1, h1);
    bdd e = kzu_bdd_ite_step(m, f0, g0, h0);
    r = bdd_find(m, id, t, e);
    bdd_insert_edge(m, k, r);
  }
  return bdd_complement_if(r, negate);
}

// ---- Top-level operations -------------------------------------------------------------------------------
bdd kzu_bdd_ite(kzu_bdd_manager m, bdd f, bdd g, bdd h) {
  if (!bdd_check_arguments(m, 3, f, g, h)) return nullptr;
  return bdd_run_operation(m, [&] { return kzu_bdd_ite_step(m, f, g, h); });
}

bdd kzu_bdd_and(kzu_bdd_manager m, bdd f, bdd g) {
  if (!bdd_check_arguments(m, 2, f, g)) return nullptr;
  return bdd_run_operation(m, [&] { return kzu_bdd_and_step(m, f, g); });
}

bdd kzu_bdd_or(kzu_bdd_manager m, bdd f, bdd g) {
  if (!bdd_check_arguments(m, 2, f, g)) return nullptr;
  return bdd_run_operation(m, [&] { return bdd_or_step(m, f, g); });
}

bdd kzu_bdd_xor(kzu_bdd_manager m, bdd f, bdd g) {
  if (!bdd_check_arguments(m, 2, f, g)) return nullptr;
  return bdd_run_operation(m, [&] { return bdd_complement(kzu_bdd_xnor_step(m, f, g)); });
}

bdd kzu_bdd_xnor(kzu_bdd_manager m, bdd f, bdd g) {
  if (!bdd_check_arguments(m, 2, f, g)) return nullptr;
  return bdd_run_operation(m, [&] { return kzu_bdd_xnor_step(m, f, g); });
}

bdd kzu_bdd_nand(kzu_bdd_manager m, bdd f, bdd g) {
  bdd r = kzu_bdd_and(m, f, g);
  return r ? bdd_complement(r) : nullptr;
}

bdd kzu_bdd_nor(kzu_bdd_manager m, bdd f, bdd g) {
  bdd r = kzu_bdd_or(m, f, g);
  return r ? bdd_complement(r) : nullptr;
}
