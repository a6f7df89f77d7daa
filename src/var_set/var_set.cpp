#include "var_set/var_set.h"

#include <cstring>

// Every operation keeps the bits past n_elts in the last word clear, so that
// counting, comparison and hashing can work on whole words.

namespace {

const int kWordBits = 32;

int words_for(int n_elts) { return (n_elts + kWordBits - 1) / kWordBits; }

// Mask of the bits of the last word that belong to the universe.
unsigned int last_word_mask(const var_set_t *set) {
  int used = set->n_elts % kWordBits;
  return used == 0 ? ~0u : (1u << used) - 1u;
}

void check_same_universe(const var_set_t *a, const var_set_t *b) {
  util_assert(a->n_elts == b->n_elts, "var_set: sets over different universes");
}

void check_index(const var_set_t *set, int index) {
  util_assert(index >= 0 && index < set->n_elts, "var_set: element outside the universe");
}

}  // namespace

var_set_t *var_set_new(int size) {
  util_assert(size >= 0, "var_set_new: negative size");
  var_set_t *set = ALLOC(var_set_t, 1);
  if (set == nullptr) return nullptr;
  set->n_elts = size;
  set->n_words = words_for(size);
  set->data = ALLOC(unsigned int, set->n_words);
  if (set->data == nullptr) {
    MMfree(set);
    return nullptr;
  }
  memset(set->data, 0, sizeof(unsigned int) * (size_t)set->n_words);
  return set;
}

var_set_t *var_set_copy(var_set_t *set) {
  var_set_t *copy = var_set_new(set->n_elts);
  if (copy != nullptr) var_set_assign(copy, set);
  return copy;
}

var_set_t *var_set_assign(var_set_t *result, var_set_t *set) {
  check_same_universe(result, set);
  memcpy(result->data, set->data, sizeof(unsigned int) * (size_t)set->n_words);
  return result;
}

void var_set_free(var_set_t *set) {
  if (set == nullptr) return;
  MMfree(set->data);
  MMfree(set);
}

int var_set_n_elts(var_set_t *set) {
  int count = 0;
  for (int i = 0; i < set->n_words; i++) count += __builtin_popcount(set->data[i]);
  return count;
}

var_set_t *var_set_or(var_set_t *result, var_set_t *a, var_set_t *b) {
  check_same_universe(a, b);
  check_same_universe(result, a);
  for (int i = 0; i < a->n_words; i++) result->data[i] = a->data[i] | b->data[i];
  return result;
}

var_set_t *var_set_and(var_set_t *result, var_set_t *a, var_set_t *b) {
  check_same_universe(a, b);
  check_same_universe(result, a);
  for (int i = 0; i < a->n_words; i++) result->data[i] = a->data[i] & b->data[i];
  return result;
}

var_set_t *var_set_not(var_set_t *result, var_set_t *a) {
  check_same_universe(result, a);
  for (int i = 0; i < a->n_words; i++) result->data[i] = ~a->data[i];
  if (a->n_words > 0) result->data[a->n_words - 1] &= last_word_mask(a);
  return result;
}

int var_set_get_elt(var_set_t *set, int index) {
  check_index(set, index);
  return (set->data[index / kWordBits] >> (index % kWordBits)) & 1u;
}

void var_set_set_elt(var_set_t *set, int index) {
  check_index(set, index);
  set->data[index / kWordBits] |= 1u << (index % kWordBits);
}

void var_set_clear_elt(var_set_t *set, int index) {
  check_index(set, index);
  set->data[index / kWordBits] &= ~(1u << (index % kWordBits));
}

void var_set_clear(var_set_t *set) {
  memset(set->data, 0, sizeof(unsigned int) * (size_t)set->n_words);
}

int var_set_intersect(var_set_t *a, var_set_t *b) {
  check_same_universe(a, b);
  for (int i = 0; i < a->n_words; i++)
    if (a->data[i] & b->data[i]) return 1;
  return 0;
}

int var_set_is_empty(var_set_t *a) {
  for (int i = 0; i < a->n_words; i++)
    if (a->data[i] != 0) return 0;
  return 1;
}

int var_set_is_full(var_set_t *a) {
  for (int i = 0; i + 1 < a->n_words; i++)
    if (a->data[i] != ~0u) return 0;
  return a->n_words == 0 || a->data[a->n_words - 1] == last_word_mask(a);
}

void var_set_print(FILE *fp, var_set_t *set) {
  for (int i = 0; i < set->n_elts; i++) fputc(var_set_get_elt(set, i) ? '1' : '0', fp);
  fputc('\n', fp);
}

int var_set_equal(var_set_t *a, var_set_t *b) {
  if (a->n_elts != b->n_elts) return 0;
  return memcmp(a->data, b->data, sizeof(unsigned int) * (size_t)a->n_words) == 0;
}

int var_set_cmp(const char *a, const char *b) {
  return !var_set_equal((var_set_t *)a, (var_set_t *)b);
}

unsigned int var_set_hash(var_set_t *set) {
  unsigned int h = (unsigned int)set->n_elts;
  for (int i = 0; i < set->n_words; i++) h = h * 31u + set->data[i];
  return h;
}
