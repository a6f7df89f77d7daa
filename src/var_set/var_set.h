// Fixed-universe bit set: element i is bit i % 32 of word i / 32.
#ifndef KZ_VAR_SET_H
#define KZ_VAR_SET_H

#include <cstdio>

#include "util/util.h"

typedef struct var_set_struct {
  int n_elts;          // size of the universe
  int n_words;         // 32-bit words used
  unsigned int *data;  // the words
} var_set_t;

var_set_t *var_set_new(int size);
var_set_t *var_set_copy(var_set_t *set);
// result := set (same universe); returns result.
var_set_t *var_set_assign(var_set_t *result, var_set_t *set);
void var_set_free(var_set_t *set);
// Number of elements in the set.
int var_set_n_elts(var_set_t *set);
var_set_t *var_set_or(var_set_t *result, var_set_t *a, var_set_t *b);
var_set_t *var_set_and(var_set_t *result, var_set_t *a, var_set_t *b);
var_set_t *var_set_not(var_set_t *result, var_set_t *a);
int var_set_get_elt(var_set_t *set, int index);
void var_set_set_elt(var_set_t *set, int index);
void var_set_clear_elt(var_set_t *set, int index);
void var_set_clear(var_set_t *set);
int var_set_intersect(var_set_t *a, var_set_t *b);
int var_set_is_empty(var_set_t *a);
int var_set_is_full(var_set_t *a);
void var_set_print(FILE *fp, var_set_t *set);
int var_set_equal(var_set_t *a, var_set_t *b);
// Comparison of two var_set_t* given as untyped keys (0 when equal).
int var_set_cmp(const char *a, const char *b);
unsigned int var_set_hash(var_set_t *set);

#endif
