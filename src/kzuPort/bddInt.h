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

// The handle layer's state per manager, hung on the engine manager's
// `layer_state` (made on first use, released with the manager).
//
// Handle records come from blocks of BDD_HANDLE_BLOCK; a released record
// keeps free = 1 and goes on the free list (linked through `node`), so a
// second release is still caught until the record is used again.
//
// Variable lists of the quantifications and substitutions are kept as named
// associations of the engine, up to BDD_PORT_ASSOCS of them, when every
// entry is a permanent node (the variables, the constants): the same list
// again costs one comparison per entry instead of a new association, and
// keeps its operation id, so the computed table's results stay valid.
#define BDD_HANDLE_BLOCK 64
#define BDD_PORT_ASSOCS 8

struct bdd_port_assoc {
  int pairs;    // 0: a list of variables, 1: (old, new) pairs
  int n;        // entries (pairs count twice)
  bdd *edges;   // the entries in order
  int id;       // the engine's association id
};

struct bdd_port_state {
  bdd_t *free_handles;
  void *blocks;  // linked through their first word
  int assocs;
  bdd_port_assoc assoc[BDD_PORT_ASSOCS];
};

// The state of m, made when first needed; null when memory runs out.
bdd_port_state *bdd_port_state_of(kzu_bdd_manager m);
// A handle record when the free list is empty (null when memory runs out).
bdd_t *bdd_new_handle_slow(kzu_bdd_manager m);

// Selects an association for the next quantification or substitution: the
// variables of `vars` (new_array null) or the pairs (vars[i], new_array[i]).
// False when the engine refuses the list (it says why).
bool bdd_select_assoc(kzu_bdd_manager m, array_t *vars, array_t *new_array);

// The edge of handle f with phase applied (1 = plain, other values negated).
static inline bdd bdd_phase_edge(bdd_t *f, boolean phase) {
  return phase == 1 ? f->node : bdd_complement(f->node);
}

// Null-terminated copy of the edges of an array of bdd_t *, owned by the caller.
bdd *bdd_edges_of_array(array_t *a);

#endif
