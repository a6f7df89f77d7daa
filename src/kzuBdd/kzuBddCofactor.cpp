// Operations with a care function: generalized cofactor, reduction,
// compatible projection, and the intersection / implication witnesses.
#include "kzuBdd/kzuBddInt.h"

// Top variable of two edges and their cofactors on it.
struct bdd_split {
  long id;
  bdd f1, f0, g1, g0;
};

static inline bdd_split bdd_split2(kzu_bdd_manager m, bdd f, bdd g) {
  long lf = bdd_level(m, f), lg = bdd_level(m, g);
  long top = lf < lg ? lf : lg;
  bdd_split s;
  s.id = m->indexindexes[top];
  s.f1 = s.f0 = f;
  s.g1 = s.g0 = g;
  if (lf == top) {
    s.f1 = bdd_then_of(f);
    s.f0 = bdd_else_of(f);
  }
  if (lg == top) {
    s.g1 = bdd_then_of(g);
    s.g0 = bdd_else_of(g);
  }
  return s;
}

static inline bdd bdd_ret(bdd f) {
  bdd_temp_inc(f);
  return f;
}

// ---- Generalized cofactor --------------------------------------------------------------------
static bdd bdd_cofactor_step(kzu_bdd_manager m, bdd f, bdd c) {
  if (c == m->one || bdd_is_const(f)) return bdd_ret(f);
  if (c == m->zero) return m->zero;
  if (f == c) return m->one;
  if (f == bdd_complement(c)) return m->zero;
  bdd r;
  if (bdd_lookup3(m, BDD_TAG_OP, BDD_OP_COFACTOR, (intptr_t)f, (intptr_t)c, &r)) return r;
  bdd_split s = bdd_split2(m, f, c);
  if (s.g1 == m->zero) {
    r = bdd_cofactor_step(m, s.f0, s.g0);
  } else if (s.g0 == m->zero) {
    r = bdd_cofactor_step(m, s.f1, s.g1);
  } else {
    bdd t = bdd_cofactor_step(m, s.f1, s.g1);
    bdd e = bdd_cofactor_step(m, s.f0, s.g0);
    r = bdd_find(m, s.id, t, e);
  }
  bdd_insert3(m, BDD_TAG_OP, BDD_OP_COFACTOR, (intptr_t)f, (intptr_t)c, (intptr_t)r);
  return r;
}

bdd kzu_bdd_cofactor(kzu_bdd_manager m, bdd f, bdd c) {
  if (!bdd_check_arguments(m, 2, f, c)) return nullptr;
  return bdd_run_operation(m, [&] { return bdd_cofactor_step(m, f, c); });
}

// ---- Reduction (restriction to a care set) -----------------------------------------------------
static bdd bdd_reduce_step(kzu_bdd_manager m, bdd f, bdd c) {
  if (c == m->one || bdd_is_const(f)) return bdd_ret(f);
  if (c == m->zero) return m->zero;
  if (f == c) return m->one;
  if (f == bdd_complement(c)) return m->zero;
  bdd r;
  if (bdd_lookup3(m, BDD_TAG_OP, BDD_OP_REDUCE, (intptr_t)f, (intptr_t)c, &r)) return r;
  long lf = bdd_level(m, f), lc = bdd_level(m, c);
  if (lc < lf) {
    // The care set's top variable does not occur in f: merge its branches.
    bdd merged = bdd_or_step(m, bdd_then_of(c), bdd_else_of(c));
    r = bdd_reduce_step(m, f, merged);
    bdd_temp_dec(merged);
  } else {
    bdd_split s = bdd_split2(m, f, c);
    if (s.g1 == m->zero) {
      r = bdd_reduce_step(m, s.f0, s.g0);
    } else if (s.g0 == m->zero) {
      r = bdd_reduce_step(m, s.f1, s.g1);
    } else {
      bdd t = bdd_reduce_step(m, s.f1, s.g1);
      bdd e = bdd_reduce_step(m, s.f0, s.g0);
      r = bdd_find(m, s.id, t, e);
    }
  }
  bdd_insert3(m, BDD_TAG_OP, BDD_OP_REDUCE, (intptr_t)f, (intptr_t)c, (intptr_t)r);
  return r;
}

bdd kzu_bdd_reduce(kzu_bdd_manager m, bdd f, bdd c) {
  if (!bdd_check_arguments(m, 2, f, c)) return nullptr;
  return bdd_run_operation(m, [&] { return bdd_reduce_step(m, f, c); });
}

// ---- Compatible projection -------------------------------------------------------------------------
// Existential quantification over the variables of the positive cube y.
static bdd bdd_exists_cube_step(kzu_bdd_manager m, bdd f, bdd y) {
  long lf = bdd_level(m, f);
  while (y != m->one && bdd_level(m, y) < lf) y = y->data[0];
  if (y == m->one || bdd_is_const(f)) return bdd_ret(f);
  bdd r;
  if (bdd_lookup3(m, BDD_TAG_OP, BDD_OP_EXISTS_CUBE, (intptr_t)f, (intptr_t)y, &r)) return r;
  if (bdd_level(m, y) == lf) {
    bdd rest = y->data[0];
    bdd t = bdd_exists_cube_step(m, bdd_then_of(f), rest);
    if (t == m->one) {
      r = t;
    } else {
      bdd e = bdd_exists_cube_step(m, bdd_else_of(f), rest);
      m->op_cache.cache_level++;
      r = bdd_or_step(m, t, e);
      m->op_cache.cache_level--;
      bdd_temp_dec(t);
      bdd_temp_dec(e);
    }
  } else {
    bdd t = bdd_exists_cube_step(m, bdd_then_of(f), y);
    bdd e = bdd_exists_cube_step(m, bdd_else_of(f), y);
    r = bdd_find(m, bdd_id(f), t, e);
  }
  bdd_insert3(m, BDD_TAG_OP, BDD_OP_EXISTS_CUBE, (intptr_t)f, (intptr_t)y, (intptr_t)r);
  return r;
}

// For every assignment of the other variables, keeps only the least
// assignment (in level order, 0 first) of the cube's variables under which f
// holds.
static bdd bdd_project_step(kzu_bdd_manager m, bdd f, bdd y) {
  if (y == m->one) return bdd_ret(f);
  if (f == m->zero) return f;
  bdd r;
  if (bdd_lookup3(m, BDD_TAG_OP, BDD_OP_PROJECT, (intptr_t)f, (intptr_t)y, &r)) return r;
  long lf = bdd_level(m, f), ly = bdd_level(m, y);
  if (ly <= lf) {
    bdd rest = y->data[0];
    bdd f1 = f, f0 = f;
    if (ly == lf) {
      f1 = bdd_then_of(f);
      f0 = bdd_else_of(f);
    }
    bdd e = bdd_project_step(m, f0, rest);
    bdd p1 = bdd_project_step(m, f1, rest);
    bdd some0 = bdd_exists_cube_step(m, f0, rest);
    m->op_cache.cache_level++;
    bdd t = kzu_bdd_and_step(m, p1, bdd_complement(some0));
    m->op_cache.cache_level--;
    bdd_temp_dec(p1);
    bdd_temp_dec(some0);
    r = bdd_find(m, bdd_id(y), t, e);
  } else {
    bdd t = bdd_project_step(m, bdd_then_of(f), y);
    bdd e = bdd_project_step(m, bdd_else_of(f), y);
    r = bdd_find(m, bdd_id(f), t, e);
  }
  bdd_insert3(m, BDD_TAG_OP, BDD_OP_PROJECT, (intptr_t)f, (intptr_t)y, (intptr_t)r);
  return r;
}

// Positive cube of the association's variables, with a temporary reference.
static bdd bdd_assoc_cube(kzu_bdd_manager m, var_assoc *assoc) {
  bdd cube = m->one;
  for (long level = assoc->last; level >= 0; level--) {
    long id = m->indexindexes[level];
    if (assoc->assoc[id] != nullptr) cube = bdd_find(m, id, cube, m->zero);
  }
  return cube;
}

bdd kzu_bdd_project(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return nullptr;
  var_assoc *assoc = m->curr_assoc;
  return bdd_run_operation(m, [&] {
    bdd cube = bdd_assoc_cube(m, assoc);
    bdd r = bdd_project_step(m, f, cube);
    bdd_temp_dec(cube);
    return r;
  });
}

// ---- Intersection witnesses ---------------------------------------------------------------------------
// A cube contained in f and g, or zero when they are disjoint.
static bdd bdd_intersect_step(kzu_bdd_manager m, bdd f, bdd g) {
  bdd one = m->one, zero = m->zero;
  if (f == zero || g == zero) return zero;
  if (bdd_same_node(f, g) && f != g) return zero;
  if (f == one && g == one) return one;
  if ((uintptr_t)f > (uintptr_t)g) {
    bdd t = f;
    f = g;
    g = t;
  }
  bdd r;
  if (bdd_lookup3(m, BDD_TAG_OP, BDD_OP_INTERSECT, (intptr_t)f, (intptr_t)g, &r)) return r;
  bdd_split s = bdd_split2(m, f, g);
  bdd w = bdd_intersect_step(m, s.f1, s.g1);
  if (w != zero) {
    r = bdd_find(m, s.id, w, zero);
  } else {
    w = bdd_intersect_step(m, s.f0, s.g0);
    r = w == zero ? zero : bdd_find(m, s.id, zero, w);
  }
  bdd_insert3(m, BDD_TAG_OP, BDD_OP_INTERSECT, (intptr_t)f, (intptr_t)g, (intptr_t)r);
  return r;
}

bdd kzu_bdd_intersects(kzu_bdd_manager m, bdd f, bdd g) {
  if (!bdd_check_arguments(m, 2, f, g)) return nullptr;
  return bdd_run_operation(m, [&] { return bdd_intersect_step(m, f, g); });
}

bdd kzu_bdd_implies(kzu_bdd_manager m, bdd f, bdd g) {
  if (!bdd_check_arguments(m, 2, f, g)) return nullptr;
  return bdd_run_operation(m, [&] { return bdd_intersect_step(m, f, bdd_complement(g)); });
}

// ---- Printing -------------------------------------------------------------------------------------------------
static void bdd_print_step(kzu_bdd_manager m, bdd f, FILE *fp) {
  struct bdd_ *n = bdd_regular(f);
  if (n->mark & 1) return;
  n->mark |= 1;
  if (n->indexindex == 0) {
    fprintf(fp, "%p: terminal (%ld, %ld)\n", (void *)n, (long)(intptr_t)n->data[0], (long)(intptr_t)n->data[1]);
    return;
  }
  fprintf(fp, "%p: var %d then %p else %p\n", (void *)n, (int)n->indexindex, (void *)n->data[0],
          (void *)n->data[1]);
  bdd_print_step(m, n->data[0], fp);
  bdd_print_step(m, n->data[1], fp);
}

static void bdd_unmark(bdd f) {
  struct bdd_ *n = bdd_regular(f);
  if (n->mark == 0) return;
  n->mark = 0;
  if (n->indexindex == 0) return;
  bdd_unmark(n->data[0]);
  bdd_unmark(n->data[1]);
}

void kzu_bdd_print_bdd(kzu_bdd_manager m, bdd f, FILE *fp) {
  if (!bdd_check_arguments(m, 1, f)) {
    fprintf(fp, "overflow\n");
    return;
  }
  fprintf(fp, "%p\n", (void *)f);
  bdd_print_step(m, f, fp);
  bdd_unmark(f);
}
