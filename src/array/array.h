// Growable array of fixed-size elements. The element operations (count,
// fetch, store, append) are expanded at the caller with their index and
// element-size checks; every error is fatal ("array: ..." on standard error,
// then the assertion channel with "array package error").
#ifndef KZ_ARRAY_H
#define KZ_ARRAY_H

#include "util/util.h"

typedef struct array_t {
  char *space;   // n_size * obj_size bytes, zero-filled when allocated or grown
  int num;       // elements in use (highest index written + 1)
  int n_size;    // capacity in elements
  int obj_size;  // element size in bytes
  int index;     // -obj_size, or the index being written during an insertion
} array_t;

// Index of the last checked fetch (shown in the fetch error).
extern int array_global_index;
// Result of the last growth: ARRAY_OUT_OF_MEM when the heap was exhausted.
extern int array_global_insert;

#define ARRAY_OUT_OF_MEM -10000

// Error kinds: 0 bad insert index, 1 fetch out of range, 2 append of
// different element sizes, 3 join of different sizes, 4 nested operation or
// element-size mismatch, 5 remove from an empty array.
[[noreturn]] void array_abort(const array_t *array, int kind);

// New array with capacity max(number, 3), no elements; null when the heap is
// exhausted.
array_t *array_do_alloc(int size, int number);
// Capacity becomes max(2 * capacity, new_size), the new part zero-filled.
// Returns 1, or ARRAY_OUT_OF_MEM with the array unchanged.
int array_resize(array_t *array, int new_size);
array_t *array_dup(array_t *old);
// Appends b's elements to a; returns 1.
int array_append(array_t *a, array_t *b);
// A new array holding a's elements followed by b's.
array_t *array_join(array_t *a, array_t *b);
void array_free(array_t *array);
// A heap copy of the element storage (num elements), owned by the caller.
char *array_do_data(array_t *array);
void array_sort(array_t *array, int (*compare)(const void *, const void *));
// Removes adjacent duplicates, passing each removed element's address to
// free_func when it is given.
void array_uniq(array_t *array, int (*compare)(const void *, const void *),
                void (*free_func)(void *));

template <class T>
inline T &array_fetch_checked(const array_t *a, int i) {
  array_global_index = i;
  if (i < 0 || i >= a->num) array_abort(a, 1);
  if (a->obj_size != (int)sizeof(T)) array_abort(a, 4);
  return *reinterpret_cast<T *>(a->space + (long)i * a->obj_size);
}

template <class T>
inline void array_insert_checked(array_t *a, int i, const T &datum) {
  if (a->index != -(int)sizeof(T)) array_abort(a, 4);
  a->index = i;
  if (i < 0) array_abort(a, 0);
  int grown = 1;
  if (i >= a->n_size) {
    grown = array_resize(a, i + 1);
    array_global_insert = grown;
  }
  if (grown != ARRAY_OUT_OF_MEM) {
    *reinterpret_cast<T *>(a->space + (long)i * a->obj_size) = datum;
    if (i >= a->num) a->num = i + 1;
  }
  a->index = -a->obj_size;
}

template <class T>
inline T array_remove_last_checked(array_t *a) {
  if (a->index != -(int)sizeof(T)) array_abort(a, 4);
  if (a->num <= 0) array_abort(a, 5);
  a->num--;
  return *reinterpret_cast<T *>(a->space + (long)a->num * a->obj_size);
}

#define array_alloc(type, number) array_do_alloc((int)sizeof(type), (number))
#define array_n(array) ((array)->num)
#define array_fetch(type, a, i) (array_fetch_checked<type>((a), (i)))
#define array_fetch_last(type, a) (array_fetch_checked<type>((a), (a)->num - 1))
#define array_insert(type, a, i, datum) (array_insert_checked<type>((a), (i), (type)(datum)))
#define array_insert_last(type, a, datum) \
  (array_insert_checked<type>((a), (a)->num, (type)(datum)))
#define array_remove_last(type, a) (array_remove_last_checked<type>((a)))
#define array_data(type, a) ((type *)array_do_data(a))

// Iterate over every element: arrayForEachItem(int, arr, i, value) { ... }
#define arrayForEachItem(type, array, i, data) \
  for ((i) = 0; (i) < array_n(array) && (((data) = array_fetch(type, array, i)), 1); (i)++)

#endif
