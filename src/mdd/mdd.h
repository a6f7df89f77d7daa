// Multi-valued variables over the BDD handle layer. An mvar with n values is
// encoded on ceil(log2 n) Boolean variables, most significant bit first; an
// MDD is a plain bdd_t over those variables.
#ifndef KZ_MDD_H
#define KZ_MDD_H

#include "array/array.h"
#include "kzuPort/bdd.h"
#include "st/st.h"
#include "util/util.h"
#include "var_set/var_set.h"

typedef bdd_t mdd_t;
typedef bdd_manager mdd_manager;

typedef enum { MDD_ACTIVE = 0, MDD_BUNDLED = 1 } mvar_status;

typedef struct mvar_type {
  int mvar_id;        // position in mvar_list
  mvar_status status;
  char *name;         // the layer's own copy
  int values;         // domain size
  int encode_length;  // number of bvars
  array_t *bvars;     // int bvar ids, most significant bit first
  int *encoding;      // encode_length scratch marks
} mvar_type;

typedef struct bvar_type {
  mdd_t *node;  // projection function of the bvar, owned by the list
  int mvar_id;  // the mvar the bit belongs to
} bvar_type;

typedef struct mdd_hook_type {
  array_t *mvar_list;  // mvar_type by value, index = mvar id
  array_t *bvar_list;  // bvar_type by value, index = bvar id
} mdd_hook_type;

typedef struct mdd_gen {
  mdd_manager *manager;
  bdd_gen *bdd_generator;
  bdd_gen_status status;
  array_t *cube;       // current cube, int per bvar id (0, 1, 2)
  array_t *minterm;    // current bit values of the enumerated mvars
  array_t *var_list;   // mvar ids being enumerated (own copy)
  boolean out_of_range;
} mdd_gen;

// ---- Manager ---------------------------------------------------------------
// mvar_values: int domain sizes; mvar_names: char* names or null;
// mvar_strides: int strides or null (all 1).
mdd_manager *mdd_init(array_t *mvar_values, array_t *mvar_names, array_t *mvar_strides);
// Releases every record of the layer, then the manager.
void mdd_quit(mdd_manager *mgr);
array_t *mdd_ret_mvar_list(mdd_manager *mgr);
array_t *mdd_ret_bvar_list(mdd_manager *mgr);
int mdd_ret_bvar_id(mvar_type *mv, int i);
bvar_type mdd_ret_bvar(mvar_type *mv, int i, array_t *bvar_list);

// ---- Building ----------------------------------------------------------------
// Equals child v wherever the mvar has value v. Non-constant children are
// consumed (freed); constant children stay the caller's.
mdd_t *mdd_case(mdd_manager *mgr, int mvar_id, array_t *child_list);
// True exactly when the mvar takes one of the listed int values.
mdd_t *mdd_literal(mdd_manager *mgr, int mvar_id, array_t *values);
// True exactly where fn(value, constant) != 0.
mdd_t *mdd_func1c(mdd_manager *mgr, int mvar_id, int constant, int (*fn)(int, int));
// True exactly where fn(value1, value2) != 0.
mdd_t *mdd_func2(mdd_manager *mgr, int mvar_id1, int mvar_id2, int (*fn)(int, int));

// Comparison callbacks.
int eq2(int x, int y);
int neq2(int x, int y);
int geq2(int x, int y);
int gt2(int x, int y);
int leq2(int x, int y);
int lt2(int x, int y);
int unary_minus2(int x, int y);

// ---- Quantification ------------------------------------------------------------
// Existential quantification of every bit of the listed mvar ids; f is kept.
mdd_t *mdd_smooth(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids);

// ---- Minterm enumeration ------------------------------------------------------------
// Each minterm is a new int array (one value per mvar of var_list, in order)
// owned by the caller. var_list null enumerates every mvar.
mdd_gen *mdd_first_minterm(mdd_t *f, array_t **minterm, array_t *var_list);
boolean mdd_next_minterm(mdd_gen *gen, array_t **minterm);
int mdd_gen_free(mdd_gen *gen);

#define foreach_mdd_minterm(fn, gen, minterm, var_list)                    \
  for ((gen) = mdd_first_minterm(fn, &minterm, var_list);                   \
       ((gen)->status != bdd_EMPTY) ? TRUE : mdd_gen_free(gen);             \
       (void)mdd_next_minterm(gen, &minterm))

#endif
