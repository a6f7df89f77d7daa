#include "st/st.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

// Tables keyed by pointers or numbers compare and hash their keys in line
// instead of calling through the function pointers.
bool compares_identity(const st_table *table) {
  return table->compare == st_numcmp || table->compare == st_ptrcmp;
}

bool keys_equal(const st_table *table, const char *x, const char *y) {
  if (compares_identity(table)) return x == y;
  return table->compare(x, y) == 0;
}

int ptr_bin(const char *key, int modulus) {
  return (int)(((uintptr_t)key >> 2) % (uintptr_t)modulus);
}

int num_bin(const char *key, int modulus) {
  long n = (long)(intptr_t)key;
  unsigned long magnitude = n < 0 ? 0UL - (unsigned long)n : (unsigned long)n;
  return (int)(magnitude % (unsigned long)modulus);
}

int bin_of(const st_table *table, const char *key) {
  if (table->hash == st_ptrhash) return ptr_bin(key, table->num_bins);
  if (table->hash == st_numhash) return num_bin(key, table->num_bins);
  return table->hash(key, table->num_bins);
}

// Finds the entry for `key` in bin `bin`; with reorder_flag set a found
// entry moves to the front of its bin.
st_table_entry *find_in_bin(st_table *table, int bin, const char *key) {
  st_table_entry **link = &table->bins[bin];
  while (*link != nullptr && !keys_equal(table, key, (*link)->key)) link = &(*link)->next;
  st_table_entry *found = *link;
  if (found != nullptr && table->reorder_flag && link != &table->bins[bin]) {
    *link = found->next;
    found->next = table->bins[bin];
    table->bins[bin] = found;
  }
  return found;
}

// A zeroed bin array, or null when the heap is exhausted.
st_table_entry **new_bins(int count) {
  if ((size_t)count > SIZE_MAX / sizeof(st_table_entry *)) return nullptr;
  size_t bytes = (size_t)count * sizeof(st_table_entry *);
  st_table_entry **bins = (st_table_entry **)MMalloc(bytes);
  if (bins != nullptr) memset(bins, 0, bytes);
  return bins;
}

enum grow_result { GROWN, CANNOT_GROW, NO_MEMORY };

// Grows the bin array by the grow factor (made odd) and moves every entry to
// the head of its new bin. A factor that does not enlarge the table, or the
// int limit, leaves it as it is.
grow_result rehash(st_table *table) {
  double want = (double)table->num_bins * table->grow_factor;
  if (!(want < (double)(INT_MAX - 1))) want = (double)(INT_MAX - 1);
  int count = (int)want;
  if (count % 2 == 0) count++;
  if (count <= table->num_bins) return CANNOT_GROW;
  st_table_entry **bins = new_bins(count);
  if (bins == nullptr) return NO_MEMORY;
  st_table_entry **old_bins = table->bins;
  int old_count = table->num_bins;
  table->bins = bins;
  table->num_bins = count;
  for (int i = 0; i < old_count; i++) {
    st_table_entry *e = old_bins[i];
    while (e != nullptr) {
      st_table_entry *next = e->next;
      int b = bin_of(table, e->key);
      e->next = bins[b];
      bins[b] = e;
      e = next;
    }
  }
  MMfree(old_bins);
  return GROWN;
}

// Adds a new entry at the head of its bin, growing the table first when the
// density is reached. Null when the heap is exhausted (table unchanged).
st_table_entry *add_entry(st_table *table, const char *key, char *value) {
  if (table->num_entries / table->num_bins >= table->max_density && rehash(table) == NO_MEMORY)
    return nullptr;
  st_table_entry *e = (st_table_entry *)MMalloc(sizeof(st_table_entry));
  if (e == nullptr) return nullptr;
  int b = bin_of(table, key);
  e->key = (char *)key;
  e->record = value;
  e->next = table->bins[b];
  table->bins[b] = e;
  table->num_entries++;
  return e;
}

}  // namespace

st_table *st_init_table_with_params(ST_PFICPCP compare, ST_PFICPI hash, int size, int density,
                                    double grow_factor, int reorder_flag) {
  if (size < 1) size = 1;
  // A density below 1 would grow the table on every insertion.
  if (density < 1) density = 1;
  st_table *table = ALLOC(st_table, 1);
  if (table == nullptr) return nullptr;
  table->bins = new_bins(size);
  if (table->bins == nullptr) {
    MMfree(table);
    return nullptr;
  }
  table->compare = compare;
  table->hash = hash;
  table->num_bins = size;
  table->num_entries = 0;
  table->max_density = density;
  table->reorder_flag = reorder_flag;
  table->grow_factor = grow_factor;
  return table;
}

st_table *st_init_table(ST_PFICPCP compare, ST_PFICPI hash) {
  return st_init_table_with_params(compare, hash, ST_DEFAULT_INIT_TABLE_SIZE, ST_DEFAULT_MAX_DENSITY,
                                   ST_DEFAULT_GROW_FACTOR, ST_DEFAULT_REORDER_FLAG);
}

void st_free_table(st_table *table) {
  if (table == nullptr) return;
  for (int i = 0; i < table->num_bins; i++) {
    st_table_entry *e = table->bins[i];
    while (e != nullptr) {
      st_table_entry *next = e->next;
      MMfree(e);
      e = next;
    }
  }
  MMfree(table->bins);
  MMfree(table);
}

int st_lookup(st_table *table, const char *key, char **value) {
  st_table_entry *e = find_in_bin(table, bin_of(table, key), key);
  if (e == nullptr) return 0;
  if (value != nullptr) *value = e->record;
  return 1;
}

int st_lookup_int(st_table *table, const char *key, int *value) {
  st_table_entry *e = find_in_bin(table, bin_of(table, key), key);
  if (e == nullptr) return 0;
  if (value != nullptr) *value = (int)(intptr_t)e->record;
  return 1;
}

int st_insert(st_table *table, const char *key, char *value) {
  st_table_entry *e = find_in_bin(table, bin_of(table, key), key);
  if (e != nullptr) {
    e->record = value;
    return 1;
  }
  return add_entry(table, key, value) == nullptr ? ST_OUT_OF_MEM : 0;
}

int st_add_direct(st_table *table, const char *key, char *value) {
  return add_entry(table, key, value) == nullptr ? ST_OUT_OF_MEM : 1;
}

int st_find_or_add(st_table *table, const char *key, char ***slot) {
  st_table_entry *e = find_in_bin(table, bin_of(table, key), key);
  int found = e != nullptr;
  if (!found) {
    e = add_entry(table, key, nullptr);
    if (e == nullptr) return ST_OUT_OF_MEM;
  }
  if (slot != nullptr) *slot = &e->record;
  return found;
}

int st_find(st_table *table, const char *key, char ***slot) {
  st_table_entry *e = find_in_bin(table, bin_of(table, key), key);
  if (e == nullptr) return 0;
  if (slot != nullptr) *slot = &e->record;
  return 1;
}

st_table *st_copy(st_table *old) {
  st_table *table = ALLOC(st_table, 1);
  if (table == nullptr) return nullptr;
  *table = *old;
  table->num_entries = 0;
  table->bins = new_bins(old->num_bins);
  if (table->bins == nullptr) {
    MMfree(table);
    return nullptr;
  }
  for (int i = 0; i < old->num_bins; i++) {
    // Keep each chain's order so look-ups in the copy behave alike.
    st_table_entry **tail = &table->bins[i];
    for (st_table_entry *e = old->bins[i]; e != nullptr; e = e->next) {
      st_table_entry *c = ALLOC(st_table_entry, 1);
      if (c == nullptr) {
        st_free_table(table);
        return nullptr;
      }
      c->key = e->key;
      c->record = e->record;
      c->next = nullptr;
      *tail = c;
      tail = &c->next;
      table->num_entries++;
    }
  }
  return table;
}

int st_delete(st_table *table, const char **keyp, char **value) {
  int b = bin_of(table, *keyp);
  st_table_entry **link = &table->bins[b];
  while (*link != nullptr && !keys_equal(table, *keyp, (*link)->key)) link = &(*link)->next;
  st_table_entry *e = *link;
  if (e == nullptr) return 0;
  *link = e->next;
  *keyp = e->key;
  if (value != nullptr) *value = e->record;
  MMfree(e);
  table->num_entries--;
  return 1;
}

int st_delete_int(st_table *table, long *keyp, char **value) {
  const char *key = (const char *)(intptr_t)*keyp;
  int found = st_delete(table, &key, value);
  if (found) *keyp = (long)(intptr_t)key;
  return found;
}

int st_foreach(st_table *table, ST_PFSR fn, char *arg) {
  for (int i = 0; i < table->num_bins; i++) {
    st_table_entry **link = &table->bins[i];
    while (*link != nullptr) {
      st_table_entry *e = *link;
      switch (fn(e->key, e->record, arg)) {
        case ST_STOP:
          return 0;
        case ST_DELETE:
          *link = e->next;
          MMfree(e);
          table->num_entries--;
          break;
        case ST_CONTINUE:
        default:
          link = &e->next;
          break;
      }
    }
  }
  return 1;
}

int st_strhash(const char *key, int modulus) {
  unsigned long h = 0;
  for (const unsigned char *s = (const unsigned char *)key; *s != 0; s++) h = h * 997 + *s;
  return (int)(h % (unsigned long)modulus);
}

int st_numhash(const char *key, int modulus) { return num_bin(key, modulus); }

int st_ptrhash(const char *key, int modulus) { return ptr_bin(key, modulus); }

int st_numcmp(const char *a, const char *b) { return a != b; }

int st_ptrcmp(const char *a, const char *b) { return a != b; }

st_generator *st_init_gen(st_table *table) {
  st_generator *gen = ALLOC(st_generator, 1);
  if (gen == nullptr) return nullptr;
  gen->table = table;
  gen->entry = nullptr;
  gen->index = 0;
  return gen;
}

namespace {

// The next entry of the walk, or null when every bin has been visited.
st_table_entry *gen_step(st_generator *gen) {
  if (gen->entry == nullptr) {
    while (gen->index < gen->table->num_bins && gen->table->bins[gen->index] == nullptr)
      gen->index++;
    if (gen->index >= gen->table->num_bins) return nullptr;
    gen->entry = gen->table->bins[gen->index++];
  }
  st_table_entry *e = gen->entry;
  gen->entry = e->next;
  return e;
}

}  // namespace

int st_gen(st_generator *gen, char **key_p, char **value_p) {
  st_table_entry *e = gen_step(gen);
  if (e == nullptr) return 0;
  if (key_p != nullptr) *key_p = e->key;
  if (value_p != nullptr) *value_p = e->record;
  return 1;
}

int st_gen_int(st_generator *gen, char **key_p, int *value_p) {
  st_table_entry *e = gen_step(gen);
  if (e == nullptr) return 0;
  if (key_p != nullptr) *key_p = e->key;
  if (value_p != nullptr) *value_p = (int)(intptr_t)e->record;
  return 1;
}

void st_free_gen(st_generator *gen) { MMfree(gen); }
