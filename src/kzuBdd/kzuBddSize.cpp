// Traversals that use the mark byte (free between operations): node counts,
// support, cube test and satisfying fraction.
#include <cstring>

#include "kzuBdd/kzuBddInt.h"

// Sets bit (edge & 7) of the mark: bit 0 for a regular visit, bit 1 for a
// complemented one.
static void bdd_mark_polarity(bdd f) {
  struct bdd_ *n = bdd_regular(f);
  uint8_t bit = (uint8_t)(1u << ((uintptr_t)f & 7));
  if (n->mark & bit) return;
  n->mark |= bit;
  if (n->indexindex == 0) return;
  bdd_mark_polarity(bdd_then_of(f));
  bdd_mark_polarity(bdd_else_of(f));
}

// Marks each node once whatever the polarity it is reached in.
static void bdd_mark_nodes(bdd f) {
  struct bdd_ *n = bdd_regular(f);
  if (n->mark & 1) return;
  n->mark |= 1;
  if (n->indexindex == 0) return;
  bdd_mark_nodes(n->data[0]);
  bdd_mark_nodes(n->data[1]);
}

static long bdd_count_nodes(uint8_t mark) { return (mark & 1) + ((mark >> 1) & 1); }
static long bdd_count_no_nodes(uint8_t) { return 1; }
static long (*const counting_fns[2])(uint8_t) = {bdd_count_nodes, bdd_count_no_nodes};

// Counts the marked nodes below f and clears their marks.
static long bdd_count_and_clear(bdd f, long (*count)(uint8_t)) {
  struct bdd_ *n = bdd_regular(f);
  if (n->mark == 0) return 0;
  long c = count(n->mark);
  n->mark = 0;
  if (n->indexindex == 0) return c;
  return c + bdd_count_and_clear(n->data[0], count) + bdd_count_and_clear(n->data[1], count);
}

long kzu_bdd_size(kzu_bdd_manager m, bdd f, int negout) {
  if (!bdd_check_arguments(m, 1, f)) return 0;
  bdd_regular(m->one)->mark = 0;
  if (negout)
    bdd_mark_nodes(f);
  else
    bdd_mark_polarity(f);
  return bdd_count_and_clear(f, counting_fns[negout != 0]);
}

long kzu_bdd_size_multiple(kzu_bdd_manager m, bdd *fs, int negout) {
  if (!bdd_check_array(m, fs)) return 0;
  bdd_regular(m->one)->mark = 0;
  for (bdd *p = fs; *p != nullptr; p++) {
    if (negout)
      bdd_mark_nodes(*p);
    else
      bdd_mark_polarity(*p);
  }
  long total = 0;
  for (bdd *p = fs; *p != nullptr; p++) total += bdd_count_and_clear(*p, counting_fns[negout != 0]);
  return total;
}

// ---- Support --------------------------------------------------------------------------------------
static void bdd_mark_support(bdd f, char *seen) {
  struct bdd_ *n = bdd_regular(f);
  if (n->mark & 1) return;
  n->mark |= 1;
  if (n->indexindex == 0) return;
  seen[n->indexindex] = 1;
  bdd_mark_support(n->data[0], seen);
  bdd_mark_support(n->data[1], seen);
}

static void bdd_clear_marks(bdd f) {
  struct bdd_ *n = bdd_regular(f);
  if (n->mark == 0) return;
  n->mark = 0;
  if (n->indexindex == 0) return;
  bdd_clear_marks(n->data[0]);
  bdd_clear_marks(n->data[1]);
}

void kzu_bdd_support(kzu_bdd_manager m, bdd f, bdd *support) {
  if (support == nullptr) return;
  support[0] = nullptr;
  if (!bdd_check_arguments(m, 1, f)) return;
  char *seen = (char *)bdd_alloc_zeroed(m->vars + 1);
  bdd_regular(m->one)->mark = 0;
  bdd_mark_support(f, seen);
  bdd_clear_marks(f);
  long k = 0;
  for (long level = 0; level < m->vars; level++) {
    long id = m->indexindexes[level];
    if (seen[id]) support[k++] = m->variables[id];
  }
  support[k] = nullptr;
  bdd_free_array(seen);
}

// ---- Cube test ----------------------------------------------------------------------------------------
int kzu_bdd_is_cube(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return 0;
  if (f == m->zero) return 0;
  while (!bdd_is_const(f)) {
    bdd t = bdd_then_of(f), e = bdd_else_of(f);
    if (t == m->zero)
      f = e;
    else if (e == m->zero)
      f = t;
    else
      return 0;
  }
  return f == m->one;
}

// ---- Satisfying fraction ------------------------------------------------------------------------------------
// Memoised per edge (polarity included) in one-edge data entries of the
// computed table. Each polarity is computed on its own rather than as 1 - p,
// which would lose tiny fractions to cancellation.
static double bdd_sat_fraction_step(kzu_bdd_manager m, bdd f) {
  if (f == m->one) return 1.0;
  if (f == m->zero) return 0.0;
  intptr_t bits;
  double r;
  if (bdd_lookup2_data(m, BDD_TAG_ONE_DATA, BDD_OP_SATFRAC, (intptr_t)f, &bits)) {
    memcpy(&r, &bits, sizeof(r));
    return r;
  }
  r = 0.5 * bdd_sat_fraction_step(m, bdd_then_of(f)) + 0.5 * bdd_sat_fraction_step(m, bdd_else_of(f));
  memcpy(&bits, &r, sizeof(r));
  bdd_insert2_data(m, BDD_TAG_ONE_DATA, BDD_OP_SATFRAC, (intptr_t)f, bits);
  return r;
}

double kzu_bdd_satisfying_fraction(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return 0.0;
  return bdd_sat_fraction_step(m, f);
}
