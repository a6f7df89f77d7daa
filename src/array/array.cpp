#include "array/array.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int array_global_index = 0;
int array_global_insert = 0;

namespace {

// Bytes for `n` elements of `obj_size` bytes, or -1 when that does not fit
// the int-sized fields of the record.
long space_bytes(long n, int obj_size) {
  if (n < 0 || obj_size <= 0 || n > INT_MAX / obj_size) return -1;
  return n * obj_size;
}

char *element(const array_t *a, int i) { return a->space + (long)i * a->obj_size; }

}  // namespace

void array_abort(const array_t *array, int kind) {
  fprintf(stderr, "array: ");
  switch (kind) {
    case 0:
      fprintf(stderr, "insert of %d\n", array->index);
      break;
    case 1:
      fprintf(stderr, "fetch index %d not in [0,%d]\n", array_global_index, array->num - 1);
      break;
    case 2:
      fprintf(stderr, "append undefined for arrays of different sizes\n");
      break;
    case 3:
      fprintf(stderr, "join not defined for arrays of different sizes\n");
      break;
    case 4:
      if (array->index >= 0)
        fprintf(stderr, "nested insert, append, remove, or free operations\n");
      else
        fprintf(stderr, "object size mismatch\n");
      break;
    case 5:
      fprintf(stderr, "attempt to remove from empty array");
      break;
    default:
      fprintf(stderr, "unknown error\n");
      break;
  }
  util_assert_fail(__FILE__, __LINE__, "array package error");
}

array_t *array_do_alloc(int size, int number) {
  if (number < 3) number = 3;
  long bytes = space_bytes(number, size);
  if (bytes < 0) return nullptr;
  array_t *a = ALLOC(array_t, 1);
  if (a == nullptr) return nullptr;
  a->space = (char *)MMalloc((size_t)bytes);
  if (a->space == nullptr) {
    MMfree(a);
    return nullptr;
  }
  memset(a->space, 0, (size_t)bytes);
  a->num = 0;
  a->n_size = number;
  a->obj_size = size;
  a->index = -size;
  return a;
}

int array_resize(array_t *array, int new_size) {
  long target = 2L * array->n_size;
  if (target < new_size) target = new_size;
  // Doubling may overshoot what the record can describe; settle for the
  // request itself before giving up.
  if (space_bytes(target, array->obj_size) < 0) target = new_size;
  long bytes = space_bytes(target, array->obj_size);
  if (bytes < 0) return ARRAY_OUT_OF_MEM;
  char *grown = (char *)MMrealloc(array->space, (size_t)bytes);
  if (grown == nullptr) return ARRAY_OUT_OF_MEM;
  long old_bytes = (long)array->n_size * array->obj_size;
  if (bytes > old_bytes) memset(grown + old_bytes, 0, (size_t)(bytes - old_bytes));
  array->space = grown;
  array->n_size = (int)target;
  return 1;
}

array_t *array_dup(array_t *old) {
  array_t *copy = array_do_alloc(old->obj_size, old->n_size);
  if (copy == nullptr) return nullptr;
  memcpy(copy->space, old->space, (size_t)old->n_size * (size_t)old->obj_size);
  copy->num = old->num;
  return copy;
}

int array_append(array_t *a, array_t *b) {
  if (a->obj_size != b->obj_size) array_abort(a, 2);
  int extra = b->num;  // read before growing: a and b may be the same array
  if (extra == 0) return 1;
  if ((long)a->num + extra > INT_MAX) return ARRAY_OUT_OF_MEM;
  if (a->num + extra > a->n_size) {
    if (array_resize(a, a->num + extra) == ARRAY_OUT_OF_MEM) return ARRAY_OUT_OF_MEM;
  }
  memcpy(element(a, a->num), b->space, (size_t)extra * (size_t)a->obj_size);
  a->num += extra;
  return 1;
}

array_t *array_join(array_t *a, array_t *b) {
  if (a->obj_size != b->obj_size) array_abort(a, 3);
  if ((long)a->num + b->num > INT_MAX) return nullptr;
  array_t *joined = array_do_alloc(a->obj_size, a->num + b->num);
  if (joined == nullptr) return nullptr;
  memcpy(joined->space, a->space, (size_t)a->num * (size_t)a->obj_size);
  memcpy(element(joined, a->num), b->space, (size_t)b->num * (size_t)b->obj_size);
  joined->num = a->num + b->num;
  return joined;
}

void array_free(array_t *array) {
  if (array == nullptr) return;
  if (array->index >= 0) array_abort(array, 4);
  MMfree(array->space);
  MMfree(array);
}

char *array_do_data(array_t *array) {
  size_t bytes = (size_t)array->num * (size_t)array->obj_size;
  char *data = (char *)MMalloc(bytes);
  if (data != nullptr && bytes > 0) memcpy(data, array->space, bytes);
  return data;
}

void array_sort(array_t *array, int (*compare)(const void *, const void *)) {
  if (array->num > 1) qsort(array->space, (size_t)array->num, (size_t)array->obj_size, compare);
}

void array_uniq(array_t *array, int (*compare)(const void *, const void *),
                void (*free_func)(void *)) {
  if (array->num < 2) return;
  // Keep the first element of every run of equal neighbours; `kept` is the
  // last element written to the compacted prefix.
  int kept = 0;
  for (int i = 1; i < array->num; i++) {
    char *elt = element(array, i);
    if (compare(element(array, kept), elt) == 0) {
      if (free_func != nullptr) free_func(elt);
      continue;
    }
    kept++;
    if (kept != i) memcpy(element(array, kept), elt, (size_t)array->obj_size);
  }
  int removed_from = kept + 1;
  // Vacated slots read as zero again, as freshly grown ones do.
  memset(element(array, removed_from), 0,
         (size_t)(array->num - removed_from) * (size_t)array->obj_size);
  array->num = removed_from;
}
