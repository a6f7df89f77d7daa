// The BDD handle layer: every Boolean function is held in a heap record
// bdd_t that owns one reference on its engine node. Every returned handle is
// new and is released exactly once with bdd_free; arguments are never
// consumed. Variable ids at this layer are 0-based.
#ifndef KZ_BDD_H
#define KZ_BDD_H

#include "array/array.h"
#include "st/st.h"
#include "util/util.h"
#include "var_set/var_set.h"

#include <cstdio>

struct bdd_;                  // engine node record
struct bdd_manager_;          // engine manager record
typedef struct bdd_manager_ bdd_manager;  // opaque to callers
typedef struct bdd_ bdd_node;             // a node address (low three bits clear)
typedef unsigned int bdd_variableId;

typedef struct bdd_t {
  boolean free;          // 0 while live, 1 once released
  struct bdd_ *node;     // the engine edge; bit 0 is the complement flag
  struct bdd_manager_ *mgr;
} bdd_t;

// Pointers for the layers above, hung on the manager (zeroed by bdd_start).
typedef struct bdd_external_hooks {
  char *network;
  char *mdd;
  char *undef1;
} bdd_external_hooks;

typedef enum { bdd_EMPTY = 0, bdd_NONEMPTY = 1 } bdd_gen_status;
typedef enum { bdd_gen_cubes = 0, bdd_gen_nodes = 1 } bdd_gen_type;

typedef struct kzu_bdd_gen kzu_bdd_gen;
typedef kzu_bdd_gen bdd_gen;

typedef enum {
  BDD_REORDER_SIFT = 0,
  BDD_REORDER_WINDOW = 1,
  BDD_REORDER_SAME,
  BDD_REORDER_RANDOM,
  BDD_REORDER_RANDOM_PIVOT,
  BDD_REORDER_SIFT_CONVERGE,
  BDD_REORDER_SYMM_SIFT,
  BDD_REORDER_SYMM_SIFT_CONV,
  BDD_REORDER_LINEAR,
  BDD_REORDER_LINEAR_CONVERGE,
  BDD_REORDER_EXACT,
  BDD_REORDER_WINDOW2,
  BDD_REORDER_WINDOW3,
  BDD_REORDER_WINDOW4,
  BDD_REORDER_WINDOW2_CONV,
  BDD_REORDER_WINDOW3_CONV,
  BDD_REORDER_WINDOW4_CONV,
  BDD_REORDER_GROUP_SIFT,
  BDD_REORDER_GROUP_SIFT_CONV,
  BDD_REORDER_ANNEALING,
  BDD_REORDER_GENETIC,
  BDD_REORDER_LAZY_SIFT,
  BDD_REORDER_NONE = 22
} bdd_reorder_type_t;

typedef enum { BDD_REORDER_VERBOSITY_DEFAULT, BDD_REORDER_NO_VERBOSITY, BDD_REORDER_VERBOSITY } bdd_reorder_verbosity_t;

// ---- Manager -------------------------------------------------------------
// A manager with `nvariables` variables; handle id k has level k.
bdd_manager *bdd_start(int nvariables);
// Frees the hooks record and the engine; every handle becomes invalid.
void bdd_end(bdd_manager *mgr);
bdd_external_hooks *bdd_get_external_hooks(bdd_manager *mgr);
bdd_manager *bdd_get_manager(bdd_t *f);

// ---- Construction ----------------------------------------------------------
// Wraps an engine edge; a null edge is fatal ("bdd_construct_bdd_t: possible
// memory overflow").
bdd_t *bdd_construct_bdd_t(bdd_manager *mgr, struct bdd_ *edge);
bdd_t *bdd_one(bdd_manager *mgr);
bdd_t *bdd_zero(bdd_manager *mgr);
// The projection function of variable `id`; fatal past the last variable.
bdd_t *bdd_get_variable(bdd_manager *mgr, bdd_variableId id);
bdd_t *bdd_dup(bdd_t *f);
// Releases the handle; null or already-freed handles abort.
void bdd_free(bdd_t *f);

// ---- Connectives (phase 1 = plain, any other value = negated) ---------------
bdd_t *bdd_not(bdd_t *f);
bdd_t *bdd_and(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase);
bdd_t *bdd_or(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase);
bdd_t *bdd_ite(bdd_t *i, bdd_t *t, bdd_t *e, boolean i_phase, boolean t_phase, boolean e_phase);
bdd_t *bdd_xor(bdd_t *f, bdd_t *g);
bdd_t *bdd_xnor(bdd_t *f, bdd_t *g);

// ---- Tests -----------------------------------------------------------------
// 1 when both handles hold the identical edge (hence the same function).
boolean bdd_equal(bdd_t *f, bdd_t *g);
// phase 1: f is the constant true; any other phase: f is the constant false.
boolean bdd_is_tautology(bdd_t *f, boolean phase);

// ---- Node inspection ---------------------------------------------------------
// The node address of f (low three bits cleared); *is_complemented receives
// f's complement bit. No reference is taken.
bdd_node *bdd_get_node(bdd_t *f, boolean *is_complemented);
// Cofactors of the function f w.r.t. its top variable (complement applied).
bdd_t *bdd_then(bdd_t *f);
bdd_t *bdd_else(bdd_t *f);
// Handle-layer id of f's top variable; 4294967294 for a constant.
bdd_variableId bdd_top_var_id(bdd_t *f);
// Number of distinct nodes, the terminal included (1 for a constant).
int bdd_size(bdd_t *f);

// ---- Quantification ------------------------------------------------------------
// Existential quantification over the variables given as an array of bdd_t*.
bdd_t *bdd_smooth(bdd_t *f, array_t *smoothing_vars);

// ---- Cube generator ----------------------------------------------------------------
// Cubes of the on-set in depth-first order, else-branch first; cube entries
// are ints 0, 1 or 2 (either), indexed by handle-layer id. The cube array is
// owned by the generator and rewritten by every step.
bdd_gen *bdd_first_cube(bdd_t *f, array_t **cube);
boolean bdd_next_cube(bdd_gen *gen, array_t **cube);
bdd_gen_status bdd_gen_read_status(bdd_gen *gen);
int bdd_gen_free(bdd_gen *gen);

#define foreach_bdd_cube(fn, gen, cube)                       \
  for ((gen) = bdd_first_cube(fn, &cube);                     \
       bdd_gen_read_status(gen) != bdd_EMPTY || (bdd_gen_free(gen), 0); \
       (void)bdd_next_cube(gen, &cube))

// Node generator: every node of f once, children before their parents (the
// terminal included); *node receives node addresses (low three bits clear).
bdd_gen *bdd_first_node(bdd_t *fn, bdd_node **node);
boolean bdd_next_node(bdd_gen *gen, bdd_node **node);

#define foreach_bdd_node(fn, gen, node)                       \
  for ((gen) = bdd_first_node(fn, &node);                     \
       bdd_gen_read_status(gen) != bdd_EMPTY || (bdd_gen_free(gen), 0); \
       (void)bdd_next_node(gen, &node))

// ---- Further operations ------------------------------------------------------------
// Every bdd_t result is a new handle; array results are new arrays of new
// handles. Failures of the engine are fatal as for bdd_construct_bdd_t.
typedef struct kzu_block_ bdd_block;

// Variables and levels.
bdd_t *bdd_create_variable(bdd_manager *mgr);
bdd_t *bdd_create_variable_after(bdd_manager *mgr, bdd_variableId after_id);
bdd_t *bdd_var_with_index(bdd_manager *mgr, int level);
// Handle-layer id of the variable at `level`; fatal when there is none.
bdd_variableId bdd_get_id_from_level(bdd_manager *mgr, long level);
long bdd_top_var_level(bdd_manager *mgr, bdd_t *f);
bdd_t *bdd_top_var(bdd_t *f);
unsigned int bdd_num_vars(bdd_manager *mgr);

// Connectives over several operands (arrays of bdd_t *).
bdd_t *bdd_and_with_limit(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase, unsigned int limit);
// f' and every g' of the array, phases as for bdd_and.
bdd_t *bdd_and_array(bdd_t *f, array_t *g_array, boolean f_phase, boolean g_phase);
bdd_t *bdd_multiway_and(bdd_manager *mgr, array_t *bdd_array);
bdd_t *bdd_multiway_or(bdd_manager *mgr, array_t *bdd_array);
bdd_t *bdd_multiway_xor(bdd_manager *mgr, array_t *bdd_array);
// Element-wise; arrays of different lengths print a line and give null.
array_t *bdd_pairwise_and(bdd_manager *mgr, array_t *a, array_t *b);
array_t *bdd_pairwise_or(bdd_manager *mgr, array_t *a, array_t *b);
array_t *bdd_pairwise_xor(bdd_manager *mgr, array_t *a, array_t *b);

// Quantification, substitution, cofactors.
bdd_t *bdd_and_smooth(bdd_t *f, bdd_t *g, array_t *smoothing_vars);
bdd_t *bdd_and_smooth_with_limit(bdd_t *f, bdd_t *g, array_t *smoothing_vars, unsigned int limit);
bdd_t *bdd_consensus(bdd_t *f, array_t *quantifying_vars);
// Compatible projection onto the given variables.
bdd_t *bdd_cproject(bdd_t *f, array_t *projection_vars);
bdd_t *bdd_smooth_with_cube(bdd_t *f, bdd_t *cube);
// f with every variable of old_array replaced by the function at the same
// position of new_array.
bdd_t *bdd_substitute(bdd_t *f, array_t *old_array, array_t *new_array);
array_t *bdd_substitute_array(array_t *f_array, array_t *old_array, array_t *new_array);
// Generalized cofactor of f by g (the usual cofactor when g is a cube).
bdd_t *bdd_cofactor(bdd_t *f, bdd_t *g);
bdd_t *bdd_cofactor_array(bdd_t *f, array_t *bdd_array);
// f with the variable v replaced by g.
bdd_t *bdd_compose(bdd_t *f, bdd_t *v, bdd_t *g);

// Relations between functions.
boolean bdd_intersects(bdd_t *f, bdd_t *g);
// f' implies g' (phases as for bdd_and).
boolean bdd_leq(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase);
boolean bdd_leq_array(bdd_t *f, array_t *g_array, boolean f_phase, boolean g_phase);
boolean bdd_equal_mod_care_set(bdd_t *f, bdd_t *g, bdd_t *care_set);
boolean bdd_lequal_mod_care_set(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase, bdd_t *care_set);

// Counting and support.
// Satisfying assignments over the given variables (which must cover f's support).
double bdd_count_onset(bdd_t *f, array_t *var_array);
var_set_t *bdd_get_support(bdd_t *f);
int bdd_is_support_var(bdd_t *f, bdd_t *var);
int bdd_is_support_var_id(bdd_t *f, int index);
// Handle-layer ids of an array of variables, as a new int array.
array_t *bdd_get_varids(array_t *var_array);
long bdd_size_multiple(array_t *bdd_array);
int bdd_is_cube(bdd_t *f);

// Minimisation with a care set: the smaller of the reduced function and f.
bdd_t *bdd_minimize(bdd_t *f, bdd_t *c);
array_t *bdd_minimize_array(array_t *bdd_array, bdd_t *c);
// A small function g with f_min <= g <= f_max.
bdd_t *bdd_between(bdd_t *f_min, bdd_t *f_max);

// Blocks and reordering.
bdd_block *bdd_new_var_block(bdd_t *f, long n);
void bdd_var_block_reorderable(bdd_manager *mgr, bdd_block *b, boolean reorderable);
void bdd_dynamic_reordering(bdd_manager *mgr, bdd_reorder_type_t algorithm_type,
                            bdd_reorder_verbosity_t verbosity);
void bdd_reorder(bdd_manager *mgr);

// Printing, statistics, settings, raw access.
void bdd_print(bdd_t *f);
void bdd_print_stats(bdd_manager *mgr, FILE *file);
void bdd_set_gc_mode(bdd_manager *mgr, boolean no_gc);
int bdd_set_parameters(bdd_manager *mgr, void *value_table, FILE *file);
// Room for a workload the caller knows (an mdd_manager is a bdd_manager, so
// the multi-valued layer's callers use it too). By default collections start
// past 10000 live nodes and the computed table grows only with the node
// count; here no collection runs below gc_floor live nodes (never below
// 10000), and below cache_bins bins the computed table also grows while a
// larger one would answer look-ups it now misses. The node records for
// gc_floor nodes and the computed table's memory up to cache_bins bins are
// made at once. Image computations that free their
// intermediate results gain most: every collection drops the memoised
// results of the nodes it frees.
void bdd_set_sizing(bdd_manager *mgr, long gc_floor, long cache_bins);
boolean bdd_get_free(bdd_t *f);
bdd_node *bdd_pointer(bdd_t *f);

// ===========================================================================
// Node-by-node copying over raw references (bddWalk.cpp)
// ===========================================================================
// For code that lists or rebuilds a diagram node by node (the text form and
// the renaming built on it): no handle per node. A reference is the value of
// a handle's `node` field (node address, complement flag in bit 0).
#include <cstdint>

// One line of a walk: a non-constant reference and its node's stored children.
typedef struct bdd_walk_line {
  uintptr_t ref;               // the reference this line describes
  bdd_variableId var;          // its top variable
  uintptr_t child[2];          // then- and else-edge of the uncomplemented node
  int child_kind[2];           // 1: constant true, 0: constant false, -1: a node
  bdd_variableId child_var[2]; // the child's top variable (nodes only)
  long child_line[2];          // numbered walks: the line describing the child (nodes only)
} bdd_walk_line;

typedef struct bdd_walk bdd_walk;

// A breadth-first walk from f: line 0 describes f; every line's node children
// (then before else) that have no line yet get the next lines, so each
// distinct non-constant reference (node and polarity) has exactly one line.
// A constant f has no lines. The walk holds a reference on f; nothing may
// reorder the variables while it is open. `numbered`: fill child_line.
bdd_walk *bdd_walk_start(bdd_t *f, boolean numbered);
// Fills up to `max` next lines into `lines`; returns how many (0 at the end).
long bdd_walk_next(bdd_walk *w, bdd_walk_line *lines, long max);
void bdd_walk_free(bdd_walk *w);

// One node to build: slot := if var then child[0] else child[1], complemented
// when `negate`. Children are slots set by earlier steps or the constants.
#define BDD_BUILD_ONE (-1)
#define BDD_BUILD_ZERO (-2)
typedef struct bdd_build_step {
  int slot;
  int child[2];
  bdd_variableId var;
  boolean negate;
} bdd_build_step;

// Runs the steps over slots 0..slots-1 and returns a new handle on slot
// `root`, or null when no step set it. Each step gives the result of
// bdd_ite(bdd_get_variable(var), child[0], child[1]); a variable the manager
// does not have is fatal as in bdd_get_variable. With an order, the steps
// run as steps[order[0]], ..., steps[order[n-1]], each child set by an
// earlier one. Without (order null, step i setting slot i, slots = n), the
// builder picks an order with children first and leaves out the steps that
// would need themselves (a cycle). *ran (when not null) receives the number
// of steps run. Slots are released after their last use; each is set once.
// No steps (n = 0) run nothing and give null, whatever the order.
bdd_t *bdd_build_nodes(bdd_manager *mgr, const bdd_build_step *steps, const int *order, long n, long slots,
                       int root, long *ran);

#endif
