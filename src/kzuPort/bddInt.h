// Handle-layer internals: the generator record and helpers shared by the
// handle layer's sources.
#ifndef KZ_BDD_INT_H
#define KZ_BDD_INT_H

#include "kzuBdd/kzuBddInt.h"
#include "kzuPort/bdd.h"

struct kzu_bdd_gen {
  kzu_bdd_manager manager;
  bdd_gen_status status;
  bdd_gen_type type;
  union {
    struct {
      array_t *cube;  // int per engine variable, by handle-layer id: 0, 1 or 2
    } cubes;
    struct {
      st_table *visited;  // regular node edges already returned, each referenced
    } nodes;
  } gen;
  struct {
    int sp;
    bdd *stack;  // one slot per variable (node walks: per node level + 1)
  } stack;
  bdd node;  // current edge of a node walk
};

// The edge of handle f with phase applied (1 = plain, other values negated).
static inline bdd bdd_phase_edge(bdd_t *f, boolean phase) {
  return phase == 1 ? f->node : bdd_complement(f->node);
}

// Null-terminated copy of the edges of an array of bdd_t *, owned by the caller.
bdd *bdd_edges_of_array(array_t *a);
// Edge-array form of (old, new) pairs; the arrays must have the same length.
bdd *bdd_pairs_of_arrays(array_t *old_array, array_t *new_array);

#endif
