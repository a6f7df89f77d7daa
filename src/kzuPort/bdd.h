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

#endif
