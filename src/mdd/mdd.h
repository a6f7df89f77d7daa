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
// mvar_values: int domain sizes (each at least 1); mvar_names: char* names
// or null ("mv_0", "mv_1", ...); mvar_strides: int strides or null (all 1).
// The caller's arrays are neither kept nor freed. With stride s, s
// consecutive mvars of equal bit count interleave their bits. Inconsistent
// sizes or strides end the process through the assertion channel.
mdd_manager *mdd_init(array_t *mvar_values, array_t *mvar_names, array_t *mvar_strides);
// A manager without variables, for the create-variables family.
mdd_manager *mdd_init_empty(void);
// (The manager is a handle-layer manager: bdd_set_sizing(mgr, gc_floor,
// cache_bins) gives it room for a known workload; see bdd.h.)

// Releases every record of the layer, then the manager; every handle of the
// manager is invalid afterwards.
void mdd_quit(mdd_manager *mgr);
// The layer's own lists (not copies; the caller must not free them).
array_t *mdd_ret_mvar_list(mdd_manager *mgr);
array_t *mdd_ret_bvar_list(mdd_manager *mgr);
// The bvar id of the mvar's i-th most significant bit, and its record.
int mdd_ret_bvar_id(mvar_type *mv, int i);
bvar_type mdd_ret_bvar(mvar_type *mv, int i, array_t *bvar_list);
// The mvar's bvar id array itself (not a copy).
array_t *mdd_ret_bvars_of_mvar(mvar_type *mv);
// A copy of the record of mvar `id`.
mvar_type mdd_get_var_by_id(mdd_manager *mgr, int id);
// Installs `mvar_list` as the layer's list and returns the previous one,
// which the caller then owns.
array_t *mdd_set_mvar_list(mdd_manager *mgr, array_t *mvar_list);

// Add mvars to an existing manager, with new bvars at the end of the order,
// right below the lowest bit of mvar `after_mvar_id`, or interleaved with
// the bits of `inter_var_id` (no_mvars new mvars with its domain, one bit of
// each below every bit of it). Arguments as for mdd_init; names default to
// "mv_<id>". Each returns the id of the first new mvar.
int mdd_create_variables(mdd_manager *mgr, array_t *mvar_values, array_t *mvar_names,
                         array_t *mvar_strides);
int mdd_create_variables_after(mdd_manager *mgr, int after_mvar_id, array_t *mvar_values,
                               array_t *mvar_names, array_t *mvar_strides);
int mdd_create_variables_interleaved(mdd_manager *mgr, int inter_var_id, int no_mvars, array_t *mvar_names);

// ---- Building ----------------------------------------------------------------
// Equals child v wherever the mvar has value v; a code beyond the domain
// takes the child of a real value (pairing rule). The child count must equal
// the domain size. Non-constant children are consumed (freed, once even when
// listed twice); constant children and the list stay the caller's.
mdd_t *mdd_case(mdd_manager *mgr, int mvar_id, array_t *child_list);
// True exactly when the mvar takes one of the listed int values (values
// outside the domain add nothing).
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
// owned by the caller; null when there is none. var_list null enumerates
// every mvar; otherwise the mvars it omits are quantified away first, and an
// mvar listed twice ends the process. Codes beyond a domain are skipped.
mdd_gen *mdd_first_minterm(mdd_t *f, array_t **minterm, array_t *var_list);
// 1 and the next minterm, or 0 (and *minterm null) when exhausted.
boolean mdd_next_minterm(mdd_gen *gen, array_t **minterm);
// Releases the generator (not the minterms handed out); returns 0.
int mdd_gen_free(mdd_gen *gen);

// ---- Arrays of MDDs ------------------------------------------------------------------
// Frees every handle of the array and the array (null ignored).
void mdd_array_free(array_t *mdd_array);
// mdd_array_free on every inner array, then the outer array.
void mdd_array_array_free(array_t *array_of_arrays);
// A new array of new handles on the same functions.
array_t *mdd_array_duplicate(array_t *mdd_array);
// Same length and the same function at every position.
boolean mdd_array_equal(array_t *a, array_t *b);

// ---- Bits of mvars -----------------------------------------------------------------
// New handles on the bvars of one mvar / of the listed mvars, most
// significant bit first.
array_t *mdd_id_to_bdd_array(mdd_manager *mgr, int mvar_id);
array_t *mdd_id_array_to_bdd_array(mdd_manager *mgr, array_t *mvar_ids);
// The bvar ids (int) of one mvar / of the listed mvars, as a new array.
array_t *mdd_id_to_bdd_id_array(mdd_manager *mgr, int mvar_id);
array_t *mdd_id_array_to_bdd_id_array(mdd_manager *mgr, array_t *mvar_ids);
// The conjunction of every bvar of the listed mvars.
mdd_t *mdd_id_array_to_bdd_cube(mdd_manager *mgr, array_t *mvar_ids);
// Total bit count of the listed mvars.
int mdd_get_number_of_bdd_vars(mdd_manager *mgr, array_t *mvar_ids);

// ---- Valid codes, onsets, subsets ------------------------------------------------------
// The bit patterns that are values of every listed mvar.
mdd_t *mdd_range_mdd(mdd_manager *mgr, array_t *mvar_ids);
// f projected onto the listed mvars and restricted to valid codes.
mdd_t *mdd_onset_bdd(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids);
// Up to n minterms of f over the listed mvars, each as a new MDD, in the
// generator's order.
array_t *mdd_pick_arbitrary_minterms(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids, int n);
// The part of f where the mask mvars take the values of f's first minterm
// over them (false when f is).
mdd_t *mdd_subset_with_mask_vars(mdd_manager *mgr, mdd_t *f, array_t *mask_ids);
// f and g agree (f' implies g') wherever every care set of the array holds.
boolean mdd_equal_mod_care_set_array(mdd_t *f, mdd_t *g, array_t *care_set_array);
boolean mdd_lequal_mod_care_set_array(mdd_t *f, mdd_t *g, boolean f_phase, boolean g_phase,
                                      array_t *care_set_array);

// ---- Support, counting, projection -----------------------------------------------------
// The mvar ids (ascending) / bvar ids (ascending) / new bvar handles that f
// depends on, as new arrays.
array_t *mdd_get_support(mdd_manager *mgr, mdd_t *f);
array_t *mdd_get_bdd_support_ids(mdd_manager *mgr, mdd_t *f);
array_t *mdd_get_bdd_support_vars(mdd_manager *mgr, mdd_t *f);
int mdd_get_number_of_bdd_support(mdd_manager *mgr, mdd_t *f);
// Every mvar f depends on is listed.
boolean mdd_check_support(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids);
// The number of minterms of f over the listed mvars (what the generator
// yields over that list).
double mdd_count_onset(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids);
// The handle layer's compatible projection over the bits of the listed
// mvars: for every assignment of the other variables, the least assignment
// of those bits (in variable order, 0 before 1) that satisfies f.
mdd_t *mdd_cproject(mdd_manager *mgr, mdd_t *f, array_t *mvar_ids);

// ---- Printing ------------------------------------------------------------------------------
// The names of the mvars f depends on, on one line.
void mdd_print_support(mdd_t *f);
void mdd_print_support_to_file(FILE *fp, mdd_t *f);
// Every MDD of the array with its minterms over its support.
void mdd_print_array(array_t *mdd_array);

// ---- Multi-valued functions as bit functions -------------------------------------------
// fn_array holds, per value v of the mvar, where a function takes value v.
// The result has one new handle per bit of the mvar (most significant first):
// where the function's code has that bit set, respectively the relation
// bit <-> that function.
array_t *mdd_fn_array_to_bdd_fn_array(mdd_manager *mgr, int mvar_id, array_t *fn_array);
array_t *mdd_fn_array_to_bdd_rel_array(mdd_manager *mgr, int mvar_id, array_t *fn_array);

// ---- Reading variables back ----------------------------------------------------------------
// The mvar of f's top variable: its id (-1 for a constant) and name (the
// layer's own string; null for a constant).
int mdd_read_mdd_id(mdd_t *f);
char *mdd_read_var_name(mdd_t *f);
// Sets the encoding mark of the bit that is top's top variable to `phase`,
// respectively back to 2.
void mdd_mark(mdd_manager *mgr, mdd_t *top, int phase);
void mdd_unmark(mdd_manager *mgr, mdd_t *top);

#define foreach_mdd_minterm(fn, gen, minterm, var_list)                    \
  for ((gen) = mdd_first_minterm(fn, &minterm, var_list);                   \
       ((gen)->status != bdd_EMPTY) ? TRUE : mdd_gen_free(gen);             \
       (void)mdd_next_minterm(gen, &minterm))

#endif
