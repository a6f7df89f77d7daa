#include <cstdio>
#include <cstring>

#include "kzuBdd/kzuBdd.h"
#include "mdd/mddInt.h"

void *mdd_checked_alloc(size_t bytes, const char *who) {
  void *p = MMalloc(bytes);
  if (p == nullptr) {
    char message[128];
    snprintf(message, sizeof message, "%s: failed on memory allocation", who);
    kzu_bdd_fatal(message);
  }
  return p;
}

boolean mdd_is_constant(mdd_t *f) { return bdd_is_tautology(f, 1) || bdd_is_tautology(f, 0); }

array_t *mdd_bit_handles(mdd_manager *mgr, array_t *mvar_ids) {
  array_t *mvars = mdd_ret_mvar_list(mgr);
  char *seen = MDD_ALLOC(char, array_n(mvars) + 1, "mdd_bit_handles");
  memset(seen, 0, (size_t)array_n(mvars) + 1);
  array_t *bits = array_alloc(mdd_t *, 0);
  for (int i = 0; i < array_n(mvar_ids); i++) {
    int id = array_fetch(int, mvar_ids, i);
    mvar_type *mv = &array_fetch(mvar_type, mvars, id);
    if (seen[id]) continue;
    seen[id] = 1;
    for (int b = 0; b < mv->encode_length; b++)
      array_insert_last(mdd_t *, bits, mdd_bvar_node(mgr, array_fetch(int, mv->bvars, b)));
  }
  MMfree(seen);
  return bits;
}

// ---- Arrays of MDDs ----------------------------------------------------------

void mdd_array_free(array_t *mdd_array) {
  if (mdd_array == nullptr) return;
  for (int i = 0; i < array_n(mdd_array); i++) {
    mdd_t *f = array_fetch(mdd_t *, mdd_array, i);
    if (f != nullptr) bdd_free(f);
  }
  array_free(mdd_array);
}

void mdd_array_array_free(array_t *array_of_arrays) {
  if (array_of_arrays == nullptr) return;
  for (int i = 0; i < array_n(array_of_arrays); i++) mdd_array_free(array_fetch(array_t *, array_of_arrays, i));
  array_free(array_of_arrays);
}

array_t *mdd_array_duplicate(array_t *mdd_array) {
  array_t *copy = array_alloc(mdd_t *, array_n(mdd_array));
  for (int i = 0; i < array_n(mdd_array); i++)
    array_insert_last(mdd_t *, copy, bdd_dup(array_fetch(mdd_t *, mdd_array, i)));
  return copy;
}

boolean mdd_array_equal(array_t *a, array_t *b) {
  if (array_n(a) != array_n(b)) return FALSE;
  for (int i = 0; i < array_n(a); i++)
    if (!bdd_equal(array_fetch(mdd_t *, a, i), array_fetch(mdd_t *, b, i))) return FALSE;
  return TRUE;
}

// ---- Bits of mvars ------------------------------------------------------------

array_t *mdd_id_to_bdd_id_array(mdd_manager *mgr, int mvar_id) {
  return array_dup(mdd_mvar(mgr, mvar_id)->bvars);
}

array_t *mdd_id_array_to_bdd_id_array(mdd_manager *mgr, array_t *mvar_ids) {
  array_t *ids = array_alloc(int, 0);
  for (int i = 0; i < array_n(mvar_ids); i++) {
    mvar_type *mv = mdd_mvar(mgr, array_fetch(int, mvar_ids, i));
    array_append(ids, mv->bvars);
  }
  return ids;
}

array_t *mdd_id_to_bdd_array(mdd_manager *mgr, int mvar_id) {
  mvar_type *mv = mdd_mvar(mgr, mvar_id);
  array_t *bits = array_alloc(mdd_t *, mv->encode_length);
  for (int b = 0; b < mv->encode_length; b++)
    array_insert_last(mdd_t *, bits, bdd_get_variable(mgr, (bdd_variableId)array_fetch(int, mv->bvars, b)));
  return bits;
}

array_t *mdd_id_array_to_bdd_array(mdd_manager *mgr, array_t *mvar_ids) {
  array_t *bits = array_alloc(mdd_t *, 0);
  for (int i = 0; i < array_n(mvar_ids); i++) {
    array_t *one = mdd_id_to_bdd_array(mgr, array_fetch(int, mvar_ids, i));
    array_append(bits, one);
    array_free(one);
  }
  return bits;
}

mdd_t *mdd_id_array_to_bdd_cube(mdd_manager *mgr, array_t *mvar_ids) {
  mdd_t *cube = bdd_one(mgr);
  array_t *bits = mdd_bit_handles(mgr, mvar_ids);
  for (int i = 0; i < array_n(bits); i++) {
    mdd_t *next = bdd_and(cube, array_fetch(mdd_t *, bits, i), 1, 1);
    bdd_free(cube);
    cube = next;
  }
  array_free(bits);
  return cube;
}

int mdd_get_number_of_bdd_vars(mdd_manager *mgr, array_t *mvar_ids) {
  int count = 0;
  for (int i = 0; i < array_n(mvar_ids); i++) count += mdd_mvar(mgr, array_fetch(int, mvar_ids, i))->encode_length;
  return count;
}

// ---- Valid codes and onsets -----------------------------------------------------

namespace {

// The codes below mv->values, built on the bits directly (a per-value table
// cannot express it: codes beyond the domain copy real entries).
mdd_t *range_of(mdd_manager *mgr, mvar_type *mv) {
  int k = mv->encode_length;
  if ((long)mv->values >= (1L << k)) return bdd_one(mgr);
  // From the least significant bit up: below[j] = the code's bits j..k-1 are
  // less than those of `values`.
  mdd_t *below = bdd_zero(mgr);
  for (int j = k - 1; j >= 0; j--) {
    mdd_t *x = mdd_bvar_node(mgr, array_fetch(int, mv->bvars, j));
    int bit = (mv->values >> (k - 1 - j)) & 1;
    mdd_t *next = bit ? bdd_or(x, below, 0, 1) : bdd_and(x, below, 0, 1);
    bdd_free(below);
    below = next;
  }
  return below;
}

mdd_t *conjoin(mdd_t *acc, mdd_t *g) {
  mdd_t *next = bdd_and(acc, g, 1, 1);
  bdd_free(acc);
  bdd_free(g);
  return next;
}

// f with every mvar outside `keep` quantified away; a new handle.
mdd_t *project(mdd_manager *mgr, mdd_t *f, array_t *keep) {
  array_t *mvars = mdd_ret_mvar_list(mgr);
  array_t *rest = array_alloc(int, 0);
  for (int id = 0; id < array_n(mvars); id++) {
    bool listed = false;
    for (int i = 0; i < array_n(keep) && !listed; i++) listed = array_fetch(int, keep, i) == id;
    if (!listed) array_insert_last(int, rest, id);
  }
  mdd_t *result = array_n(rest) > 0 ? mdd_smooth(mgr, f, rest) : bdd_dup(f);
  array_free(rest);
  return result;
}

// The MDD of one minterm: each listed mvar equal to its value.
mdd_t *minterm_mdd(mdd_manager *mgr, array_t *mvar_ids, array_t *values) {
  mdd_t *cube = bdd_one(mgr);
  for (int i = 0; i < array_n(mvar_ids); i++)
    cube = conjoin(cube, mdd_func1c(mgr, array_fetch(int, mvar_ids, i), array_fetch(int, values, i), eq2));
  return cube;
}

}  // namespace

mdd_t *mdd_range_mdd(mdd_manager *mgr, array_t *mvar_ids) {
  mdd_t *range = bdd_one(mgr);
  for (int i = 0; i < array_n(mvar_ids); i++) range = conjoin(range, range_of(mgr, mdd_mvar(mgr, array_fetch(int, mvar_ids, i))));
  return range;
}

mdd_t *mdd_onset_bdd(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids) {
  return conjoin(project(mgr, f, mvar_ids), mdd_range_mdd(mgr, mvar_ids));
}

array_t *mdd_pick_arbitrary_minterms(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids, int n) {
  array_t *picked = array_alloc(mdd_t *, 0);
  if (n <= 0) return picked;
  array_t *minterm = nullptr;
  mdd_gen *gen = mdd_first_minterm(f, &minterm, mvar_ids);
  while (minterm != nullptr && array_n(picked) < n) {
    array_insert_last(mdd_t *, picked, minterm_mdd(mgr, mvar_ids, minterm));
    array_free(minterm);
    mdd_next_minterm(gen, &minterm);
  }
  array_free(minterm);
  mdd_gen_free(gen);
  return picked;
}

mdd_t *mdd_subset_with_mask_vars(mdd_manager *mgr, mdd_t *f, array_t *mask_ids) {
  array_t *minterm = nullptr;
  mdd_gen *gen = mdd_first_minterm(f, &minterm, mask_ids);
  mdd_t *result;
  if (minterm == nullptr) {
    result = bdd_zero(mgr);
  } else {
    mdd_t *fixed = minterm_mdd(mgr, mask_ids, minterm);
    result = bdd_and(f, fixed, 1, 1);
    bdd_free(fixed);
    array_free(minterm);
  }
  mdd_gen_free(gen);
  return result;
}

boolean mdd_equal_mod_care_set_array(mdd_t *f, mdd_t *g, array_t *care_set_array) {
  mdd_t *diff = bdd_xor(f, g);
  for (int i = 0; i < array_n(care_set_array) && !bdd_is_tautology(diff, 0); i++)
    diff = conjoin(diff, bdd_dup(array_fetch(mdd_t *, care_set_array, i)));
  boolean equal = bdd_is_tautology(diff, 0);
  bdd_free(diff);
  return equal;
}

boolean mdd_lequal_mod_care_set_array(mdd_t *f, mdd_t *g, boolean f_phase, boolean g_phase,
                                      array_t *care_set_array) {
  // f' and not g' must be empty inside the care set.
  mdd_t *excess = bdd_and(f, g, f_phase, g_phase == 1 ? 0 : 1);
  for (int i = 0; i < array_n(care_set_array) && !bdd_is_tautology(excess, 0); i++)
    excess = conjoin(excess, bdd_dup(array_fetch(mdd_t *, care_set_array, i)));
  boolean holds = bdd_is_tautology(excess, 0);
  bdd_free(excess);
  return holds;
}

// ---- Multi-valued functions as bit functions -------------------------------------

array_t *mdd_fn_array_to_bdd_fn_array(mdd_manager *mgr, int mvar_id, array_t *fn_array) {
  mvar_type *mv = mdd_mvar(mgr, mvar_id);
  util_assert(array_n(fn_array) == mv->values,
              "mdd_fn_array_to_bdd_fn_array: length of fn_array different from mvar.values\n");
  int k = mv->encode_length;
  array_t *bit_fns = array_alloc(mdd_t *, k);
  for (int b = 0; b < k; b++) {
    mdd_t *acc = bdd_zero(mgr);
    for (int v = 0; v < mv->values; v++) {
      if (((v >> (k - 1 - b)) & 1) == 0) continue;
      mdd_t *next = bdd_or(acc, array_fetch(mdd_t *, fn_array, v), 1, 1);
      bdd_free(acc);
      acc = next;
    }
    array_insert_last(mdd_t *, bit_fns, acc);
  }
  return bit_fns;
}

array_t *mdd_fn_array_to_bdd_rel_array(mdd_manager *mgr, int mvar_id, array_t *fn_array) {
  array_t *bit_fns = mdd_fn_array_to_bdd_fn_array(mgr, mvar_id, fn_array);
  mvar_type *mv = mdd_mvar(mgr, mvar_id);
  for (int b = 0; b < array_n(bit_fns); b++) {
    mdd_t *fn = array_fetch(mdd_t *, bit_fns, b);
    array_insert(mdd_t *, bit_fns, b, bdd_xnor(mdd_bvar_node(mgr, array_fetch(int, mv->bvars, b)), fn));
    bdd_free(fn);
  }
  return bit_fns;
}

// ---- Reading variables back from diagrams ------------------------------------------

namespace {

// The bvar record of f's top variable, or null for a constant.
bvar_type *top_bvar(mdd_t *f) {
  if (mdd_is_constant(f)) return nullptr;
  array_t *bvars = mdd_ret_bvar_list(bdd_get_manager(f));
  return &array_fetch(bvar_type, bvars, (int)bdd_top_var_id(f));
}

// Position of bvar `id` among the bits of `mv`.
int bit_position(mvar_type *mv, int id) {
  for (int b = 0; b < mv->encode_length; b++)
    if (array_fetch(int, mv->bvars, b) == id) return b;
  return -1;
}

void set_mark(mdd_manager *mgr, mdd_t *top, int mark) {
  bvar_type *bv = top_bvar(top);
  if (bv == nullptr) return;
  mvar_type *mv = mdd_mvar(mgr, bv->mvar_id);
  int pos = bit_position(mv, (int)bdd_top_var_id(top));
  kz_debug_assert(pos >= 0, "mdd_mark: bvar list and mvar bits disagree");
  mv->encoding[pos] = mark;
}

}  // namespace

int mdd_read_mdd_id(mdd_t *f) {
  bvar_type *bv = top_bvar(f);
  return bv == nullptr ? -1 : bv->mvar_id;
}

char *mdd_read_var_name(mdd_t *f) {
  bvar_type *bv = top_bvar(f);
  return bv == nullptr ? nullptr : mdd_mvar(bdd_get_manager(f), bv->mvar_id)->name;
}

void mdd_mark(mdd_manager *mgr, mdd_t *top, int phase) { set_mark(mgr, top, phase); }

void mdd_unmark(mdd_manager *mgr, mdd_t *top) { set_mark(mgr, top, 2); }

// ---- Support, counting, projection -------------------------------------------------------

namespace {

// The mvar owning bvar `id`, or -1 for a bvar made outside the layer.
int owner_of(mdd_manager *mgr, int id) {
  array_t *bvars = mdd_ret_bvar_list(mgr);
  if (id >= array_n(bvars)) return -1;
  bvar_type bv = array_fetch(bvar_type, bvars, id);
  return bv.node == nullptr ? -1 : bv.mvar_id;
}

}  // namespace

array_t *mdd_get_bdd_support_ids(mdd_manager *mgr, mdd_t *f) {
  (void)mgr;
  var_set_t *support = bdd_get_support(f);
  array_t *ids = array_alloc(int, 0);
  for (int id = 0; id < support->n_elts; id++)
    if (var_set_get_elt(support, id)) array_insert_last(int, ids, id);
  var_set_free(support);
  return ids;
}

array_t *mdd_get_bdd_support_vars(mdd_manager *mgr, mdd_t *f) {
  array_t *ids = mdd_get_bdd_support_ids(mgr, f);
  array_t *vars = array_alloc(mdd_t *, array_n(ids));
  for (int i = 0; i < array_n(ids); i++)
    array_insert_last(mdd_t *, vars, bdd_get_variable(mgr, (bdd_variableId)array_fetch(int, ids, i)));
  array_free(ids);
  return vars;
}

int mdd_get_number_of_bdd_support(mdd_manager *mgr, mdd_t *f) {
  array_t *ids = mdd_get_bdd_support_ids(mgr, f);
  int count = array_n(ids);
  array_free(ids);
  return count;
}

array_t *mdd_get_support(mdd_manager *mgr, mdd_t *f) {
  array_t *bits = mdd_get_bdd_support_ids(mgr, f);
  int n_mvars = array_n(mdd_ret_mvar_list(mgr));
  char *in = MDD_ALLOC(char, n_mvars + 1, "mdd_get_support");
  memset(in, 0, (size_t)n_mvars + 1);
  for (int i = 0; i < array_n(bits); i++) {
    int owner = owner_of(mgr, array_fetch(int, bits, i));
    if (owner >= 0) in[owner] = 1;
  }
  array_t *mvars = array_alloc(int, 0);
  for (int id = 0; id < n_mvars; id++)
    if (in[id]) array_insert_last(int, mvars, id);
  MMfree(in);
  array_free(bits);
  return mvars;
}

boolean mdd_check_support(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids) {
  array_t *support = mdd_get_support(mgr, f);
  boolean covered = TRUE;
  for (int i = 0; i < array_n(support) && covered; i++) {
    int id = array_fetch(int, support, i);
    boolean listed = FALSE;
    for (int j = 0; j < array_n(mvar_ids) && !listed; j++) listed = array_fetch(int, mvar_ids, j) == id;
    covered = listed;
  }
  array_free(support);
  return covered;
}

double mdd_count_onset(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids) {
  if (array_n(mvar_ids) == 0) {
    mdd_t *any = project(mgr, f, mvar_ids);
    double count = bdd_is_tautology(any, 0) ? 0.0 : 1.0;
    bdd_free(any);
    return count;
  }
  // Count bit patterns of the projection that are valid codes: one per
  // assignment of values.
  mdd_t *onset = mdd_onset_bdd(mgr, f, mvar_ids);
  array_t *bits = mdd_bit_handles(mgr, mvar_ids);
  double count = bdd_count_onset(onset, bits);
  array_free(bits);
  bdd_free(onset);
  return count;
}

mdd_t *mdd_cproject(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids) {
  array_t *bits = mdd_bit_handles(mgr, mvar_ids);
  mdd_t *result = bdd_cproject(f, bits);
  array_free(bits);
  return result;
}

// ---- Printing ------------------------------------------------------------------------------

void mdd_print_support_to_file(FILE *fp, mdd_t *f) {
  mdd_manager *mgr = bdd_get_manager(f);
  array_t *support = mdd_get_support(mgr, f);
  for (int i = 0; i < array_n(support); i++)
    fprintf(fp, "%s%s", i > 0 ? " " : "", mdd_mvar(mgr, array_fetch(int, support, i))->name);
  fprintf(fp, "\n");
  array_free(support);
}

void mdd_print_support(mdd_t *f) { mdd_print_support_to_file(stdout, f); }

void mdd_print_array(array_t *mdd_array) {
  for (int i = 0; i < array_n(mdd_array); i++) {
    mdd_t *f = array_fetch(mdd_t *, mdd_array, i);
    printf("mdd %d:", i);
    if (mdd_is_constant(f)) {
      printf(" %s\n", bdd_is_tautology(f, 1) ? "true" : "false");
      continue;
    }
    printf("\n");
    mdd_manager *mgr = bdd_get_manager(f);
    array_t *support = mdd_get_support(mgr, f);
    array_t *minterm = nullptr;
    mdd_gen *gen = mdd_first_minterm(f, &minterm, support);
    while (minterm != nullptr) {
      for (int j = 0; j < array_n(minterm); j++)
        printf("%s%s=%d", j > 0 ? " " : "  ", mdd_mvar(mgr, array_fetch(int, support, j))->name,
               array_fetch(int, minterm, j));
      printf("\n");
      array_free(minterm);
      mdd_next_minterm(gen, &minterm);
    }
    mdd_gen_free(gen);
    array_free(support);
  }
}
