// Handle layer: the further operations, each forwarding to the engine.
#include <cstdlib>
#include <cstring>

#include "kzuPort/bddInt.h"

static inline kzu_bdd_manager bdd_engine(bdd_manager *mgr) { return (kzu_bdd_manager)mgr; }
static inline bdd bdd_edge(bdd_t *f) { return f != nullptr ? f->node : nullptr; }
static inline bdd_t *bdd_wrap(bdd_manager *mgr, bdd edge) { return bdd_construct_bdd_t(mgr, edge); }

// ---- Variables and levels ---------------------------------------------------------------
bdd_t *bdd_create_variable(bdd_manager *mgr) { return bdd_wrap(mgr, kzu_bdd_new_var_last(bdd_engine(mgr))); }

bdd_t *bdd_create_variable_after(bdd_manager *mgr, bdd_variableId after_id) {
  kzu_bdd_manager m = bdd_engine(mgr);
  return bdd_wrap(mgr, kzu_bdd_new_var_after(m, kzu_bdd_var_with_id(m, (long)after_id + 1)));
}

bdd_t *bdd_var_with_index(bdd_manager *mgr, int level) {
  return bdd_wrap(mgr, kzu_bdd_var_with_index(bdd_engine(mgr), level));
}

bdd_variableId bdd_get_id_from_level(bdd_manager *mgr, long level) {
  kzu_bdd_manager m = bdd_engine(mgr);
  bdd v = kzu_bdd_var_with_index(m, level);
  if (v == nullptr) kzu_bdd_fatal("bdd_get_id_from_level: assumption violated");
  return (bdd_variableId)(kzu_bdd_if_id(m, v) - 1);
}

long bdd_top_var_level(bdd_manager *mgr, bdd_t *f) { return kzu_bdd_if_index(bdd_engine(mgr), bdd_edge(f)); }

bdd_t *bdd_top_var(bdd_t *f) { return bdd_wrap(f->mgr, kzu_bdd_if(f->mgr, bdd_edge(f))); }

// ---- Folds over arrays ----------------------------------------------------------------------
typedef bdd (*bdd_binary_fn)(kzu_bdd_manager, bdd, bdd);

// Folds `op` over the array's functions starting from `start` (which
// carries one reference); the result carries one reference.
static bdd bdd_fold(kzu_bdd_manager m, bdd start, array_t *a, bdd_binary_fn op, boolean phase) {
  bdd acc = start;
  for (int i = 0; a != nullptr && i < array_n(a); i++) {
    bdd_t *g = array_fetch(bdd_t *, a, i);
    bdd ge = g != nullptr ? bdd_phase_edge(g, phase) : nullptr;
    bdd next = op(m, acc, ge);
    kzu_bdd_free(m, acc);
    if (next == nullptr) return nullptr;
    acc = next;
  }
  return acc;
}

bdd_t *bdd_and_with_limit(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase, unsigned int) {
  return bdd_and(f, g, f_phase, g_phase);
}

bdd_t *bdd_and_array(bdd_t *f, array_t *g_array, boolean f_phase, boolean g_phase) {
  kzu_bdd_manager m = f->mgr;
  bdd start = kzu_bdd_identity(m, bdd_phase_edge(f, f_phase));
  return bdd_wrap(f->mgr, bdd_fold(m, start, g_array, kzu_bdd_and, g_phase));
}

bdd_t *bdd_multiway_and(bdd_manager *mgr, array_t *bdd_array) {
  kzu_bdd_manager m = bdd_engine(mgr);
  return bdd_wrap(mgr, bdd_fold(m, kzu_bdd_one(m), bdd_array, kzu_bdd_and, 1));
}

bdd_t *bdd_multiway_or(bdd_manager *mgr, array_t *bdd_array) {
  kzu_bdd_manager m = bdd_engine(mgr);
  return bdd_wrap(mgr, bdd_fold(m, kzu_bdd_zero(m), bdd_array, kzu_bdd_or, 1));
}

bdd_t *bdd_multiway_xor(bdd_manager *mgr, array_t *bdd_array) {
  kzu_bdd_manager m = bdd_engine(mgr);
  return bdd_wrap(mgr, bdd_fold(m, kzu_bdd_zero(m), bdd_array, kzu_bdd_xor, 1));
}

static array_t *bdd_pairwise(bdd_manager *mgr, array_t *a, array_t *b, bdd_binary_fn op, const char *message) {
  if (array_n(a) != array_n(b)) {
    fprintf(stderr, "%s", message);
    return nullptr;
  }
  kzu_bdd_manager m = bdd_engine(mgr);
  array_t *out = array_alloc(bdd_t *, array_n(a));
  for (int i = 0; i < array_n(a); i++) {
    bdd r = op(m, bdd_edge(array_fetch(bdd_t *, a, i)), bdd_edge(array_fetch(bdd_t *, b, i)));
    array_insert(bdd_t *, out, i, bdd_wrap(mgr, r));
  }
  return out;
}

array_t *bdd_pairwise_and(bdd_manager *mgr, array_t *a, array_t *b) {
  return bdd_pairwise(mgr, a, b, kzu_bdd_and, "bdd_pairwise_and: Arrays of different lengths.\n");
}
array_t *bdd_pairwise_or(bdd_manager *mgr, array_t *a, array_t *b) {
  return bdd_pairwise(mgr, a, b, kzu_bdd_or, "bdd_pairwise_or: Arrays of different lengths.\n");
}
array_t *bdd_pairwise_xor(bdd_manager *mgr, array_t *a, array_t *b) {
  return bdd_pairwise(mgr, a, b, kzu_bdd_xor, "bdd_pairwise_xor: Arrays of different lengths.\n");
}

// ---- Quantification, substitution, cofactors ----------------------------------------------------

bdd_t *bdd_and_smooth(bdd_t *f, bdd_t *g, array_t *smoothing_vars) {
  if (smoothing_vars == nullptr || array_n(smoothing_vars) == 0)
    kzu_bdd_fatal("bdd_and_smooth: no smoothing variables");
  kzu_bdd_manager m = f->mgr;
  bool ok = bdd_select_assoc(m, smoothing_vars, nullptr);
  return bdd_wrap(f->mgr, ok ? kzu_bdd_rel_prod(m, f->node, bdd_edge(g)) : nullptr);
}

bdd_t *bdd_and_smooth_with_limit(bdd_t *f, bdd_t *g, array_t *smoothing_vars, unsigned int) {
  return bdd_and_smooth(f, g, smoothing_vars);
}

bdd_t *bdd_consensus(bdd_t *f, array_t *quantifying_vars) {
  if (quantifying_vars == nullptr || array_n(quantifying_vars) == 0)
    kzu_bdd_fatal("bdd_consensus: no quantifying variables");
  kzu_bdd_manager m = f->mgr;
  bool ok = bdd_select_assoc(m, quantifying_vars, nullptr);
  return bdd_wrap(f->mgr, ok ? kzu_bdd_forall(m, f->node) : nullptr);
}

bdd_t *bdd_cproject(bdd_t *f, array_t *projection_vars) {
  if (f == nullptr) kzu_bdd_fatal("bdd_cproject: invalid BDD");
  if (projection_vars == nullptr || array_n(projection_vars) == 0)
    fprintf(stdout, "Warning: bdd_cproject: no projection variables\n");
  kzu_bdd_manager m = f->mgr;
  bool ok = bdd_select_assoc(m, projection_vars, nullptr);
  return bdd_wrap(f->mgr, ok ? kzu_bdd_project(m, f->node) : nullptr);
}

bdd_t *bdd_smooth_with_cube(bdd_t *f, bdd_t *cube) {
  kzu_bdd_manager m = f->mgr;
  bdd *support = (bdd *)MMalloc(sizeof(bdd) * (size_t)(kzu_bdd_vars(m) + 1));
  kzu_bdd_support(m, bdd_edge(cube), support);
  array_t *vars = array_alloc(bdd_t *, 0);
  for (bdd *p = support; *p != nullptr; p++) array_insert_last(bdd_t *, vars, bdd_wrap(f->mgr, *p));
  MMfree(support);
  bdd_t *r = bdd_smooth(f, vars);
  for (int i = 0; i < array_n(vars); i++) bdd_free(array_fetch(bdd_t *, vars, i));
  array_free(vars);
  return r;
}

// Selects the pair association (old, new).
static bool bdd_use_pairs(kzu_bdd_manager m, array_t *old_array, array_t *new_array) {
  if (array_n(old_array) != array_n(new_array))
    kzu_bdd_fatal("bdd_substitute: mismatch of number of new and old variables");
  return bdd_select_assoc(m, old_array, new_array);
}

bdd_t *bdd_substitute(bdd_t *f, array_t *old_array, array_t *new_array) {
  kzu_bdd_manager m = f->mgr;
  bool ok = bdd_use_pairs(m, old_array, new_array);
  return bdd_wrap(f->mgr, ok ? kzu_bdd_substitute(m, f->node) : nullptr);
}

array_t *bdd_substitute_array(array_t *f_array, array_t *old_array, array_t *new_array) {
  array_t *out = array_alloc(bdd_t *, array_n(f_array));
  if (array_n(f_array) == 0) return out;
  kzu_bdd_manager m = array_fetch(bdd_t *, f_array, 0)->mgr;
  bool ok = bdd_use_pairs(m, old_array, new_array);
  for (int i = 0; i < array_n(f_array); i++) {
    bdd_t *f = array_fetch(bdd_t *, f_array, i);
    array_insert(bdd_t *, out, i, bdd_wrap(f->mgr, ok ? kzu_bdd_substitute(m, bdd_edge(f)) : nullptr));
  }
  return out;
}

bdd_t *bdd_cofactor(bdd_t *f, bdd_t *g) { return bdd_wrap(f->mgr, kzu_bdd_cofactor(f->mgr, f->node, bdd_edge(g))); }

bdd_t *bdd_cofactor_array(bdd_t *f, array_t *bdd_array) {
  kzu_bdd_manager m = f->mgr;
  bdd acc = kzu_bdd_identity(m, f->node);
  return bdd_wrap(f->mgr, bdd_fold(m, acc, bdd_array, kzu_bdd_cofactor, 1));
}

bdd_t *bdd_compose(bdd_t *f, bdd_t *v, bdd_t *g) {
  return bdd_wrap(f->mgr, kzu_bdd_compose(f->mgr, f->node, bdd_edge(v), bdd_edge(g)));
}

// ---- Relations --------------------------------------------------------------------------------------
// True when the engine's witness is zero; a failed engine call is fatal.
static boolean bdd_no_witness(kzu_bdd_manager m, bdd w) {
  if (w == nullptr) kzu_bdd_fatal("bdd_construct_bdd_t: possible memory overflow");
  boolean none = w == kzu_bdd_zero(m);
  kzu_bdd_free(m, w);
  return none;
}

boolean bdd_intersects(bdd_t *f, bdd_t *g) {
  kzu_bdd_manager m = f->mgr;
  return !bdd_no_witness(m, kzu_bdd_intersects(m, f->node, bdd_edge(g)));
}

boolean bdd_leq(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase) {
  kzu_bdd_manager m = f->mgr;
  bdd ge = g != nullptr ? bdd_phase_edge(g, g_phase) : nullptr;
  return bdd_no_witness(m, kzu_bdd_implies(m, bdd_phase_edge(f, f_phase), ge));
}

boolean bdd_leq_array(bdd_t *f, array_t *g_array, boolean f_phase, boolean g_phase) {
  for (int i = 0; i < array_n(g_array); i++)
    if (!bdd_leq(f, array_fetch(bdd_t *, g_array, i), f_phase, g_phase)) return 0;
  return 1;
}

boolean bdd_equal_mod_care_set(bdd_t *f, bdd_t *g, bdd_t *care_set) {
  kzu_bdd_manager m = f->mgr;
  bdd diff = kzu_bdd_xor(m, f->node, bdd_edge(g));
  if (diff == nullptr) kzu_bdd_fatal("bdd_construct_bdd_t: possible memory overflow");
  boolean equal = bdd_no_witness(m, kzu_bdd_intersects(m, diff, bdd_edge(care_set)));
  kzu_bdd_free(m, diff);
  return equal;
}

boolean bdd_lequal_mod_care_set(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase, bdd_t *care_set) {
  kzu_bdd_manager m = f->mgr;
  bdd lhs = kzu_bdd_and(m, bdd_phase_edge(f, f_phase), bdd_edge(care_set));
  if (lhs == nullptr) kzu_bdd_fatal("bdd_construct_bdd_t: possible memory overflow");
  bdd ge = g != nullptr ? bdd_phase_edge(g, g_phase) : nullptr;
  boolean leq = bdd_no_witness(m, kzu_bdd_implies(m, lhs, ge));
  kzu_bdd_free(m, lhs);
  return leq;
}

// ---- Counting and support -----------------------------------------------------------------------------
double bdd_count_onset(bdd_t *f, array_t *var_array) {
  int n = var_array != nullptr ? array_n(var_array) : 0;
  double scale = 1.0;
  for (int i = 0; i < n; i++) scale *= 2.0;
  return kzu_bdd_satisfying_fraction(f->mgr, f->node) * scale;
}

var_set_t *bdd_get_support(bdd_t *f) {
  kzu_bdd_manager m = f->mgr;
  long vars = kzu_bdd_vars(m);
  var_set_t *set = var_set_new((int)vars);
  bdd *support = (bdd *)MMalloc(sizeof(bdd) * (size_t)(vars + 1));
  kzu_bdd_support(m, f->node, support);
  for (bdd *p = support; *p != nullptr; p++) var_set_set_elt(set, (int)kzu_bdd_if_id(m, *p) - 1);
  MMfree(support);
  return set;
}

int bdd_is_support_var_id(bdd_t *f, int index) {
  var_set_t *set = bdd_get_support(f);
  int in = index >= 0 && index < set->n_elts && var_set_get_elt(set, index);
  var_set_free(set);
  return in;
}

int bdd_is_support_var(bdd_t *f, bdd_t *var) { return bdd_is_support_var_id(f, (int)bdd_top_var_id(var)); }

array_t *bdd_get_varids(array_t *var_array) {
  array_t *ids = array_alloc(int, array_n(var_array));
  for (int i = 0; i < array_n(var_array); i++)
    array_insert(int, ids, i, (int)bdd_top_var_id(array_fetch(bdd_t *, var_array, i)));
  return ids;
}

long bdd_size_multiple(array_t *bdd_array) {
  if (bdd_array == nullptr || array_n(bdd_array) == 0) return 0;
  kzu_bdd_manager m = array_fetch(bdd_t *, bdd_array, 0)->mgr;
  bdd *edges = bdd_edges_of_array(bdd_array);
  long n = kzu_bdd_size_multiple(m, edges, 1);
  MMfree(edges);
  return n;
}

int bdd_is_cube(bdd_t *f) {
  util_assert(f != nullptr, "bdd_is_cube: invalid BDD");
  util_assert(!f->free, "Freed Bdd passed to bdd_is_cube");
  return kzu_bdd_is_cube(f->mgr, f->node);
}

// ---- Minimisation ---------------------------------------------------------------------------------------------
// The reduced function when it is smaller than f, otherwise f itself (with a
// new reference); both as handles.
static bdd_t *bdd_smaller_of(bdd_t *f, bdd reduced) {
  kzu_bdd_manager m = f->mgr;
  if (reduced == nullptr) kzu_bdd_fatal("bdd_construct_bdd_t: possible memory overflow");
  if (kzu_bdd_size(m, reduced, 1) < kzu_bdd_size(m, f->node, 1)) return bdd_wrap(f->mgr, reduced);
  kzu_bdd_free(m, reduced);
  return bdd_dup(f);
}

bdd_t *bdd_minimize(bdd_t *f, bdd_t *c) { return bdd_smaller_of(f, kzu_bdd_reduce(f->mgr, f->node, bdd_edge(c))); }

array_t *bdd_minimize_array(array_t *bdd_array, bdd_t *c) {
  array_t *out = array_alloc(bdd_t *, array_n(bdd_array));
  for (int i = 0; i < array_n(bdd_array); i++)
    array_insert(bdd_t *, out, i, bdd_minimize(array_fetch(bdd_t *, bdd_array, i), c));
  return out;
}

bdd_t *bdd_between(bdd_t *f_min, bdd_t *f_max) {
  kzu_bdd_manager m = f_min->mgr;
  // Outside f_max the result must be 0 and inside f_min 1: that is the care set.
  bdd care = kzu_bdd_or(m, f_min->node, bdd_complement(bdd_edge(f_max)));
  if (care == nullptr) kzu_bdd_fatal("bdd_construct_bdd_t: possible memory overflow");
  bdd reduced = kzu_bdd_reduce(m, f_min->node, care);
  kzu_bdd_free(m, care);
  return bdd_smaller_of(f_min, reduced);
}

// ---- Blocks and reordering ------------------------------------------------------------------------------------
bdd_block *bdd_new_var_block(bdd_t *f, long n) {
  if (f == nullptr) kzu_bdd_fatal("bdd_new_var_block: invalid BDD");
  return kzu_bdd_new_var_block(f->mgr, f->node, n);
}

void bdd_var_block_reorderable(bdd_manager *mgr, bdd_block *b, boolean reorderable) {
  kzu_bdd_var_block_reorderable(bdd_engine(mgr), b, reorderable);
}

void bdd_dynamic_reordering(bdd_manager *mgr, bdd_reorder_type_t algorithm_type, bdd_reorder_verbosity_t) {
  kzu_bdd_manager m = bdd_engine(mgr);
  switch (algorithm_type) {
    case BDD_REORDER_SIFT:
      kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_sift);
      break;
    case BDD_REORDER_WINDOW:
      kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_stable_window3);
      break;
    case BDD_REORDER_NONE:
      kzu_bdd_dynamic_reordering(m, nullptr);
      break;
    default:
      fprintf(stderr, "KZU: bdd_dynamic_reordering: unknown algorithm type\n");
      fprintf(stderr, "Using SIFT method instead\n");
      kzu_bdd_dynamic_reordering(m, kzu_bdd_reorder_sift);
      break;
  }
}

void bdd_reorder(bdd_manager *mgr) { kzu_bdd_reorder(bdd_engine(mgr)); }

// ---- Printing, statistics, settings --------------------------------------------------------------------------------
void bdd_print(bdd_t *f) { kzu_bdd_print_bdd(f->mgr, f->node, stdout); }

void bdd_print_stats(bdd_manager *mgr, FILE *file) { kzu_bdd_stats(bdd_engine(mgr), file); }

void bdd_set_gc_mode(bdd_manager *, boolean) { kzu_bdd_warning("bdd_set_gc_mode: translated to no-op in KZU package"); }

int bdd_set_parameters(bdd_manager *, void *, FILE *file) {
  fprintf(file, "Functionality not supported yet in the KZU package\n");
  return 1;
}

void bdd_set_sizing(bdd_manager *mgr, long gc_floor, long cache_bins) {
  kzu_bdd_set_sizing(bdd_engine(mgr), gc_floor, cache_bins);
}

boolean bdd_get_free(bdd_t *f) { return f->free; }

bdd_node *bdd_pointer(bdd_t *f) { return f->node; }
