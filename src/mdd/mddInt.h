// Internals of the multi-valued layer shared by its source files; callers
// use mdd/mdd.h.
#ifndef KZ_MDD_INT_H
#define KZ_MDD_INT_H

#include "mdd/mdd.h"

// The layer's record hung on the manager's external hooks.
mdd_hook_type *mdd_hook(mdd_manager *mgr);

// Number of bvars for a domain of `values` values: 1 for at most two values,
// otherwise the least k with 2^k >= values.
int mdd_encode_length(int values);

// MMalloc for this layer's own records: when the heap is exhausted and the
// out-of-memory hook returns, ends the process through the engine's fatal
// channel with "<who>: failed on memory allocation" instead of handing back
// null.
void *mdd_checked_alloc(size_t bytes, const char *who);
#define MDD_ALLOC(type, n, who) ((type *)mdd_checked_alloc(sizeof(type) * (size_t)(n), (who)))

// Appends `n_mvars` mvars with ids first_mvar, first_mvar + 1, ... to the
// manager's lists. Their bits start at bvar id `first_bvar` and are spread by
// the strides (interleaving groups); every bit id must be below `bvar_limit`
// and used once, else the assertion channel ends the process.
void mdd_record_variables(mdd_manager *mgr, int first_bvar, int first_mvar, int n_mvars,
                          array_t *names, array_t *values, array_t *strides, int bvar_limit);

// Pair reduction of a per-value table over the bits bvars[index], ...,
// bvars[0] of `mv`, least significant first. The children are only read; the
// result is a new handle.
mdd_t *mdd_encode(mdd_manager *mgr, array_t *child_list, mvar_type *mv, int index);

// mdd_case without the bundled-variable check, for callers that only warn.
mdd_t *mdd_case_build(mdd_manager *mgr, mvar_type *mv, array_t *child_list);

// The mvar record of `id` (the array package's bound check ends the process
// for an id outside the list).
mvar_type *mdd_mvar(mdd_manager *mgr, int id);

// The projection handle of bvar `id` owned by the bvar list (not a copy).
mdd_t *mdd_bvar_node(mdd_manager *mgr, int id);

// A new array of the (borrowed) bvar handles of every bit of the listed mvars,
// most significant first, each mvar once.
array_t *mdd_bit_handles(mdd_manager *mgr, array_t *mvar_ids);

boolean mdd_is_constant(mdd_t *f);

#endif
