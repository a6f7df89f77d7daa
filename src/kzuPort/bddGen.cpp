// Cube generator: the cubes of a function's on-set in depth-first order,
// else-branch first, one int per variable (0, 1, or 2 for either value).
#include <cstdlib>

#include "kzuPort/bddInt.h"

static inline void bdd_set_cube(bdd_gen *gen, long id, int value) {
  array_insert(int, gen->gen.cubes.cube, (int)id - 1, value);
}

// Follows the else-first path from g, which carries one reference that the
// walk takes over; branching nodes are kept on the stack with theirs.
static void bdd_gen_descend(bdd_gen *gen, bdd g) {
  kzu_bdd_manager m = gen->manager;
  while (g != m->one) {
    long id = bdd_id(g);
    bdd t = bdd_then_of(g), e = bdd_else_of(g);
    if (t == m->zero) {
      bdd_set_cube(gen, id, 0);
      bdd_ref_inc(e);
      kzu_bdd_free(m, g);
      g = e;
    } else if (e == m->zero) {
      bdd_set_cube(gen, id, 1);
      bdd_ref_inc(t);
      kzu_bdd_free(m, g);
      g = t;
    } else {
      gen->stack.stack[gen->stack.sp++] = g;
      bdd_set_cube(gen, id, 0);
      bdd_ref_inc(e);
      g = e;
    }
  }
}

bdd_gen *bdd_first_cube(bdd_t *f, array_t **cube) {
  if (f == nullptr) kzu_bdd_fatal("bdd_first_cube: invalid BDD");
  kzu_bdd_manager m = f->mgr;
  bdd_gen *gen = (bdd_gen *)MMalloc(sizeof(bdd_gen));
  if (gen == nullptr) kzu_bdd_fatal("bdd_first_cube: failed on memory allocation, location 1");
  gen->manager = m;
  gen->type = bdd_gen_cubes;
  long vars = kzu_bdd_vars(m);
  gen->gen.cubes.cube = array_alloc(int, (int)vars);
  if (gen->gen.cubes.cube == nullptr) kzu_bdd_fatal("bdd_first_cube: failed on memory allocation, location 2");
  for (long i = 0; i < vars; i++) array_insert(int, gen->gen.cubes.cube, (int)i, 2);
  gen->stack.sp = 0;
  gen->stack.stack = (bdd *)MMalloc(sizeof(bdd) * (size_t)vars);
  if (gen->stack.stack == nullptr) kzu_bdd_fatal("bdd_first_cube: failed on memory allocation, location 3");
  gen->node = nullptr;
  if (f->node == m->zero) {
    gen->status = bdd_EMPTY;
  } else {
    gen->status = bdd_NONEMPTY;
    bdd_ref_inc(f->node);
    bdd_gen_descend(gen, f->node);
  }
  *cube = gen->gen.cubes.cube;
  return gen;
}

boolean bdd_next_cube(bdd_gen *gen, array_t **cube) {
  if (gen->stack.sp == 0) {
    gen->status = bdd_EMPTY;
    return 0;
  }
  kzu_bdd_manager m = gen->manager;
  bdd g = gen->stack.stack[--gen->stack.sp];
  bdd_set_cube(gen, bdd_id(g), 1);
  for (long level = bdd_level(m, g) + 1; level < m->vars; level++) bdd_set_cube(gen, m->indexindexes[level], 2);
  bdd t = bdd_then_of(g);
  bdd_ref_inc(t);
  kzu_bdd_free(m, g);
  bdd_gen_descend(gen, t);
  *cube = gen->gen.cubes.cube;
  return 1;
}

bdd_gen_status bdd_gen_read_status(bdd_gen *gen) { return gen->status; }

int bdd_gen_free(bdd_gen *gen) {
  kzu_bdd_manager m = gen->manager;
  if (gen->type == bdd_gen_cubes) {
    array_free(gen->gen.cubes.cube);
  } else {
    st_generator *sg = st_init_gen(gen->gen.nodes.visited);
    char *key;
    char *value;
    while (st_gen(sg, &key, &value)) kzu_bdd_free(m, (bdd)key);
    st_free_gen(sg);
    st_free_table(gen->gen.nodes.visited);
  }
  for (int i = 0; i < gen->stack.sp; i++) kzu_bdd_free(m, gen->stack.stack[i]);
  MMfree(gen->stack.stack);
  MMfree(gen);
  return 0;
}
