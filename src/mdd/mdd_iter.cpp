#include <cstring>

#include "mdd/mddInt.h"

// The generator walks the cubes of the projected function. Within a cube,
// gen->minterm holds the current bit of every enumerated mvar (mvars in
// var_list order, bits most significant first); free bits (cube entry 2)
// count like a binary counter whose first bit changes fastest.

namespace {

int cube_entry(const mdd_gen *gen, int bvar) { return array_fetch(int, gen->cube, bvar); }

// The mvar values of the current bits, as a new array; sets out_of_range.
array_t *values_of_bits(mdd_gen *gen) {
  array_t *values = array_alloc(int, array_n(gen->var_list));
  gen->out_of_range = FALSE;
  int pos = 0;
  for (int i = 0; i < array_n(gen->var_list); i++) {
    mvar_type *mv = mdd_mvar(gen->manager, array_fetch(int, gen->var_list, i));
    long value = 0;
    for (int b = 0; b < mv->encode_length; b++) value = 2 * value + array_fetch(int, gen->minterm, pos++);
    if (value >= mv->values) gen->out_of_range = TRUE;
    array_insert_last(int, values, (int)value);
  }
  return values;
}

// First minterm of the current cube: fixed bits from the cube, free bits 0.
array_t *first_of_cube(mdd_gen *gen) {
  array_free(gen->minterm);
  gen->minterm = array_alloc(int, 0);
  for (int i = 0; i < array_n(gen->var_list); i++) {
    mvar_type *mv = mdd_mvar(gen->manager, array_fetch(int, gen->var_list, i));
    for (int b = 0; b < mv->encode_length; b++)
      array_insert_last(int, gen->minterm, cube_entry(gen, array_fetch(int, mv->bvars, b)) == 1 ? 1 : 0);
  }
  return values_of_bits(gen);
}

// Next minterm of the current cube, or null (and gen->minterm null) when the
// cube is exhausted.
array_t *next_in_cube(mdd_gen *gen) {
  if (gen->minterm == nullptr) return nullptr;
  bool carry = true;
  int pos = 0;
  for (int i = 0; i < array_n(gen->var_list) && carry; i++) {
    mvar_type *mv = mdd_mvar(gen->manager, array_fetch(int, gen->var_list, i));
    for (int b = 0; b < mv->encode_length && carry; b++, pos++) {
      if (cube_entry(gen, array_fetch(int, mv->bvars, b)) != 2) continue;
      int &bit = array_fetch(int, gen->minterm, pos);
      bit = !bit;
      carry = bit == 0;
    }
  }
  if (carry) {
    array_free(gen->minterm);
    gen->minterm = nullptr;
    return nullptr;
  }
  return values_of_bits(gen);
}

void exhaust(mdd_gen *gen) {
  gen->status = bdd_EMPTY;
  array_free(gen->minterm);
  gen->minterm = nullptr;
  gen->cube = nullptr;
}

// Starting from `candidate` (null when the current cube ran out), the first
// minterm in range, moving on to later cubes as needed; skipped minterms are
// freed. Null, with the generator exhausted, when none is left.
array_t *skip_to_valid(mdd_gen *gen, array_t *candidate) {
  for (;;) {
    while (candidate != nullptr && gen->out_of_range) {
      array_free(candidate);
      candidate = next_in_cube(gen);
    }
    if (candidate != nullptr) return candidate;
    array_t *cube = nullptr;
    if (!bdd_next_cube(gen->bdd_generator, &cube)) {
      exhaust(gen);
      return nullptr;
    }
    gen->cube = cube;
    candidate = first_of_cube(gen);
  }
}

void check_var_list(mdd_manager *mgr, array_t *var_list) {
  array_t *mvars = mdd_ret_mvar_list(mgr);
  char *seen = MDD_ALLOC(char, array_n(mvars) + 1, "mdd_first_minterm");
  memset(seen, 0, (size_t)array_n(mvars) + 1);
  for (int i = 0; i < array_n(var_list); i++) {
    int id = array_fetch(int, var_list, i);
    (void)array_fetch(mvar_type, mvars, id);  // bound check
    util_assert(!seen[id], "mdd_first_minterm: mvar listed twice in var_list\n");
    seen[id] = 1;
  }
  MMfree(seen);
}

}  // namespace

mdd_gen *mdd_first_minterm(mdd_t *f, array_t **minterm, array_t *var_list) {
  mdd_gen *gen = MDD_ALLOC(mdd_gen, 1, "mdd_first_minterm");
  memset(gen, 0, sizeof *gen);
  if (f == nullptr) {
    *minterm = nullptr;
    return gen;
  }
  mdd_manager *mgr = bdd_get_manager(f);
  int n_mvars = array_n(mdd_ret_mvar_list(mgr));
  gen->manager = mgr;
  mdd_t *g = bdd_dup(f);
  if (var_list != nullptr) {
    check_var_list(mgr, var_list);
    // Project onto the enumerated mvars.
    array_t *rest = array_alloc(int, 0);
    for (int id = 0; id < n_mvars; id++) {
      bool listed = false;
      for (int i = 0; i < array_n(var_list) && !listed; i++) listed = array_fetch(int, var_list, i) == id;
      if (!listed) array_insert_last(int, rest, id);
    }
    if (array_n(rest) > 0) {
      mdd_t *projected = mdd_smooth(mgr, g, rest);
      bdd_free(g);
      g = projected;
    }
    array_free(rest);
    gen->var_list = array_dup(var_list);
  } else {
    gen->var_list = array_alloc(int, n_mvars);
    for (int id = 0; id < n_mvars; id++) array_insert_last(int, gen->var_list, id);
  }
  array_t *cube = nullptr;
  gen->bdd_generator = bdd_first_cube(g, &cube);
  gen->cube = cube;
  bdd_free(g);
  gen->status = bdd_gen_read_status(gen->bdd_generator);
  gen->out_of_range = FALSE;
  if (gen->status == bdd_EMPTY) {
    gen->minterm = nullptr;
    gen->cube = nullptr;
    *minterm = nullptr;
    return gen;
  }
  *minterm = skip_to_valid(gen, first_of_cube(gen));
  return gen;
}

boolean mdd_next_minterm(mdd_gen *gen, array_t **minterm) {
  if (gen->status == bdd_EMPTY) {
    *minterm = nullptr;
    return FALSE;
  }
  array_t *next = skip_to_valid(gen, next_in_cube(gen));
  *minterm = next;
  return next != nullptr;
}

int mdd_gen_free(mdd_gen *gen) {
  if (gen == nullptr) return 0;
  array_free(gen->minterm);
  array_free(gen->var_list);
  if (gen->bdd_generator != nullptr) bdd_gen_free(gen->bdd_generator);
  MMfree(gen);
  return 0;
}
