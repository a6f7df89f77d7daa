// Chained hash table with growth by a factor when the average chain reaches
// the maximal density, and a generator over its entries.
#ifndef KZ_ST_H
#define KZ_ST_H

#include "util/util.h"

typedef int (*ST_PFICPCP)(const char *, const char *);  // compare: 0 = equal
typedef int (*ST_PFICPI)(const char *, int);            // hash: key, bins -> bin

typedef struct st_table_entry {
  char *key;
  char *record;
  struct st_table_entry *next;
} st_table_entry;

typedef struct st_table {
  ST_PFICPCP compare;
  ST_PFICPI hash;
  int num_bins;
  int num_entries;
  int max_density;
  int reorder_flag;  // move a found entry to the front of its bin
  double grow_factor;
  st_table_entry **bins;
} st_table;

typedef struct st_generator {
  st_table *table;
  st_table_entry *entry;
  int index;
} st_generator;

enum st_retval { ST_CONTINUE = 0, ST_STOP = 1, ST_DELETE = 2 };
typedef enum st_retval (*ST_PFSR)(char *key, char *record, char *arg);

#define ST_DEFAULT_MAX_DENSITY 5
#define ST_DEFAULT_INIT_TABLE_SIZE 11
#define ST_DEFAULT_GROW_FACTOR 2.0
#define ST_DEFAULT_REORDER_FLAG 0
#define ST_OUT_OF_MEM -10000

st_table *st_init_table(ST_PFICPCP compare, ST_PFICPI hash);
st_table *st_init_table_with_params(ST_PFICPCP compare, ST_PFICPI hash, int size, int density,
                                    double grow_factor, int reorder_flag);
void st_free_table(st_table *table);
// 1 and the record in *value (when value is non-null) if the key is present.
int st_lookup(st_table *table, const char *key, char **value);
int st_lookup_int(st_table *table, const char *key, int *value);
// 1 when the key was present (record replaced), 0 when added, ST_OUT_OF_MEM.
int st_insert(st_table *table, const char *key, char *value);
// Adds without looking for the key; 1, or ST_OUT_OF_MEM.
int st_add_direct(st_table *table, const char *key, char *value);
// *slot points at the record slot; returns 1 if the key was present, 0 if a
// new entry (record 0) was added, ST_OUT_OF_MEM.
int st_find_or_add(st_table *table, const char *key, char ***slot);
// 1 and *slot as above if present, else 0.
int st_find(st_table *table, const char *key, char ***slot);
st_table *st_copy(st_table *old);
// Removes the entry for *keyp; the stored key goes to *keyp, the record to
// *value. 1 if found.
int st_delete(st_table *table, const char **keyp, char **value);
int st_delete_int(st_table *table, long *keyp, char **value);
// Calls fn(key, record, arg) on every entry: ST_CONTINUE goes on, ST_STOP
// ends the walk (returns 0), ST_DELETE removes the entry. Returns 1 when done.
int st_foreach(st_table *table, ST_PFSR fn, char *arg);

int st_strhash(const char *key, int modulus);
int st_numhash(const char *key, int modulus);
int st_ptrhash(const char *key, int modulus);
int st_numcmp(const char *a, const char *b);
int st_ptrcmp(const char *a, const char *b);

st_generator *st_init_gen(st_table *table);
// 1 and the next entry, or 0 when done.
int st_gen(st_generator *gen, char **key_p, char **value_p);
int st_gen_int(st_generator *gen, char **key_p, int *value_p);
void st_free_gen(st_generator *gen);

#define st_is_member(table, key) st_lookup((table), (key), (char **)0)
#define st_count(table) ((table)->num_entries)
#define st_foreach_item(table, gen, key, value) \
  for ((gen) = st_init_gen(table); st_gen((gen), (key), (value)) || (st_free_gen(gen), 0);)
#define st_foreach_item_int(table, gen, key, value) \
  for ((gen) = st_init_gen(table); st_gen_int((gen), (key), (value)) || (st_free_gen(gen), 0);)

#endif
