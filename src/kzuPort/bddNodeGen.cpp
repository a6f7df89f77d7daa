// Node generator: every node of a function once, children before parents.
#include "kzuPort/bddInt.h"

static inline bool bdd_visited(bdd_gen *gen, bdd n) { return st_is_member(gen->gen.nodes.visited, (char *)n); }

static inline void bdd_push_node(bdd_gen *gen, bdd n) {
  bdd_ref_inc(n);
  gen->stack.stack[gen->stack.sp++] = n;
}

// Advances the depth-first walk to the next node whose children have all
// been returned; false when the walk is over.
static bool bdd_node_step(bdd_gen *gen, bdd_node **node) {
  while (gen->stack.sp > 0) {
    bdd n = gen->stack.stack[gen->stack.sp - 1];
    if (!bdd_is_const(n)) {
      bdd t = bdd_regular(n->data[0]), e = bdd_regular(n->data[1]);
      if (!bdd_visited(gen, t)) {
        bdd_push_node(gen, t);
        continue;
      }
      if (!bdd_visited(gen, e)) {
        bdd_push_node(gen, e);
        continue;
      }
    }
    gen->stack.sp--;
    st_insert(gen->gen.nodes.visited, (char *)n, nullptr);  // keeps the stack's reference
    gen->node = n;
    *node = n;
    return true;
  }
  gen->status = bdd_EMPTY;
  gen->node = nullptr;
  return false;
}

bdd_gen *bdd_first_node(bdd_t *f, bdd_node **node) {
  if (f == nullptr) kzu_bdd_fatal("bdd_first_node: invalid BDD");
  kzu_bdd_manager m = f->mgr;
  bdd_gen *gen = (bdd_gen *)MMalloc(sizeof(bdd_gen));
  if (gen == nullptr) kzu_bdd_fatal("bdd_first_node: failed on memory allocation, location 1");
  gen->manager = m;
  gen->type = bdd_gen_nodes;
  gen->status = bdd_NONEMPTY;
  gen->gen.nodes.visited = st_init_table(st_ptrcmp, st_ptrhash);
  if (gen->gen.nodes.visited == nullptr) kzu_bdd_fatal("bdd_first_node: failed on memory allocation, location 2");
  gen->stack.sp = 0;
  gen->stack.stack = (bdd *)MMalloc(sizeof(bdd) * (size_t)(kzu_bdd_vars(m) + 1));
  if (gen->stack.stack == nullptr) kzu_bdd_fatal("bdd_first_node: failed on memory allocation, location 3");
  bdd_push_node(gen, bdd_regular(f->node));
  bdd_node_step(gen, node);
  return gen;
}

boolean bdd_next_node(bdd_gen *gen, bdd_node **node) {
  if (gen->status == bdd_EMPTY) return 0;
  return bdd_node_step(gen, node);
}
