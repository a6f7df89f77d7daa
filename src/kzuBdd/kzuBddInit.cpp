// Manager set-up and release, variables, node inspection, the reference
// entry points, argument checks, messages and statistics.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "kzuBdd/kzuBddInt.h"

// ---- Messages ---------------------------------------------------------------------
void kzu_bdd_warning(const char *message) { fprintf(stderr, "BDD library: warning: %s\n", message); }

void kzu_bdd_fatal(const char *message) {
  fflush(stdout);
  fprintf(stderr, "BDD library: error: %s\n", message);
  util_exit(1);
}

// ---- Terminal values ---------------------------------------------------------------------
static int bdd_default_canonical_fn(kzu_bdd_manager, intptr_t high, intptr_t low, void *) {
  return high > 0 || (high == 0 && low > 0);
}

static void bdd_default_transform_fn(kzu_bdd_manager, intptr_t high, intptr_t low, intptr_t *nh, intptr_t *nl,
                                     void *) {
  if (low == 0) {
    *nh = -high;
    *nl = 0;
  } else {
    *nh = ~high;
    *nl = -low;
  }
}

// ---- Manager -----------------------------------------------------------------------------------
kzu_bdd_manager kzu_bdd_init(void) {
  kzu_bdd_manager m = (kzu_bdd_manager)bdd_alloc_zeroed(sizeof(struct bdd_manager_));
  m->maxvars = 30;
  m->vars = 0;
  m->variables = (bdd *)bdd_alloc_zeroed((m->maxvars + 1) * (long)sizeof(bdd));
  m->indexes = (uint16_t *)bdd_alloc_zeroed((m->maxvars + 1) * (long)sizeof(uint16_t));
  m->indexindexes = (long *)bdd_alloc_zeroed(m->maxvars * (long)sizeof(long));
  m->indexes[0] = BDD_TERMINAL_LEVEL;
  unique *u = &m->unique_table;
  u->tables = (var_table **)bdd_alloc_zeroed((m->maxvars + 1) * (long)sizeof(var_table *));
  u->tables[0] = bdd_new_var_table(m);
  u->gc_floor = BDD_GC_FLOOR;
  u->gc_limit = u->gc_floor;
  u->node_limit = 0;
  m->check = 1;
  m->canonical_fn = bdd_default_canonical_fn;
  m->transform_fn = bdd_default_transform_fn;
  m->transform_env = nullptr;
  m->temp_assoc.assoc = (bdd *)bdd_alloc_zeroed((m->maxvars + 1) * (long)sizeof(bdd));
  m->temp_assoc.last = -1;
  m->curr_assoc = &m->temp_assoc;
  m->curr_assoc_id = -1;
  m->assocs = nullptr;
  m->temp_op = -1;
  for (int i = 0; i < 8; i++) m->rms[i] = mem_new_rec_mgr(8 * (i + 1));
  m->super_block = bdd_new_block(m, 0, -1);
  m->super_block->reorderable = 1;
  for (int k = 0; k < 3; k++) m->temp_kind_generation[k] = -1;
  bdd_init_cache(m);
  bdd one = bdd_find_terminal(m, -1, -1);
  one->refs = BDD_MAX_REFS;
  one->mark = 0;
  m->one = one;
  m->zero = bdd_complement(one);
  m->one_ref = bdd_cache_ref(m, one);
  return m;
}

static void bdd_free_assoc_array(var_assoc *va) { bdd_free_array(va->assoc); }

void kzu_bdd_quit(kzu_bdd_manager m) {
  if (m == nullptr) return;
  if (m->layer_quit != nullptr) m->layer_quit(m);
  bdd_free_cache(m);
  for (long id = 0; id <= m->vars; id++) bdd_free_var_table(m, m->unique_table.tables[id]);
  bdd_free_bucket_arena(m);
  bdd_free_array(m->unique_table.tables);
  bdd_free_node_slabs(m);
  bdd_free_array(m->variables);
  bdd_free_array(m->indexes);
  bdd_free_array(m->indexindexes);
  while (m->assocs != nullptr) {
    assoc_list *next = m->assocs->next;
    bdd_free_assoc_array(&m->assocs->va);
    mem_free_rec(BDD_RECORDS(m, sizeof(assoc_list)), m->assocs);
    m->assocs = next;
  }
  bdd_free_assoc_array(&m->temp_assoc);
  bdd_clear_assoc_memo(m);
  bdd_free_block(m, m->super_block);
  bdd_free_array(m->reorder_scratch);
  if (m->reorder_data != nullptr) mem_free_block((pointer)m->reorder_data);
  for (int i = 0; i < 8; i++) mem_free_rec_mgr(m->rms[i]);
  bdd_free_array(m);
}

// ---- Argument checks ----------------------------------------------------------------------------
static inline void bdd_check_one(bdd f) {
  if (bdd_regular(f)->refs == 0) kzu_bdd_fatal("bdd_check_arguments: argument has zero references");
}

bool bdd_check_arguments(kzu_bdd_manager, int n, ...) {
  va_list ap;
  va_start(ap, n);
  bool ok = true;
  for (int i = 0; i < n; i++) {
    bdd f = va_arg(ap, bdd);
    if (f == nullptr)
      ok = false;
    else
      bdd_check_one(f);
  }
  va_end(ap);
  return ok;
}

bool bdd_check_array(kzu_bdd_manager, bdd *fs) {
  if (fs == nullptr) return false;
  for (; *fs != nullptr; fs++) bdd_check_one(*fs);
  return true;
}

// ---- Variables -------------------------------------------------------------------------------------
template <class T>
static T *bdd_grow_array(T *old, long old_n, long new_n) {
  T *p = (T *)bdd_alloc_zeroed(new_n * (long)sizeof(T));
  memcpy(p, old, (size_t)old_n * sizeof(T));
  bdd_free_array(old);
  return p;
}

static bdd bdd_new_var(kzu_bdd_manager m, long level) {
  if (m->vars >= BDD_MAX_VARS) kzu_bdd_fatal("bdd_new_var: no more indexes");
  if (level < 0 || level > m->vars) kzu_bdd_fatal("bdd_new_var: index out of range");
  if (m->vars == m->maxvars) {
    long old_max = m->maxvars;
    long new_max = 2 * old_max > BDD_MAX_VARS ? BDD_MAX_VARS : 2 * old_max;
    m->variables = bdd_grow_array(m->variables, old_max + 1, new_max + 1);
    m->indexes = bdd_grow_array(m->indexes, old_max + 1, new_max + 1);
    m->indexindexes = bdd_grow_array(m->indexindexes, old_max, new_max);
    m->unique_table.tables = bdd_grow_array(m->unique_table.tables, old_max + 1, new_max + 1);
    bdd_grow_assocs(m, old_max, new_max);
    m->maxvars = new_max;
  }
  // Everything at or below the new level moves down one level.
  if (level < m->vars) {
    for (long id = 1; id <= m->vars; id++)
      if (m->indexes[id] >= level) m->indexes[id]++;
    for (long l = m->vars; l > level; l--) m->indexindexes[l] = m->indexindexes[l - 1];
    bdd_shift_assoc_levels(m, level);
  }
  m->vars++;
  long id = m->vars;
  m->unique_table.tables[id] = bdd_new_var_table(m);
  m->indexes[id] = (uint16_t)level;
  m->indexindexes[level] = id;
  bdd v = bdd_find(m, id, m->one, m->zero);
  struct bdd_ *n = bdd_regular(v);
  n->refs = BDD_MAX_REFS;
  n->mark = 0;
  m->variables[id] = v;
  bdd_insert_var_block(m, level);
  return v;
}

bdd kzu_bdd_new_var_last(kzu_bdd_manager m) { return bdd_new_var(m, m->vars); }
bdd kzu_bdd_new_var_first(kzu_bdd_manager m) { return bdd_new_var(m, 0); }

bdd kzu_bdd_new_var_before(kzu_bdd_manager m, bdd v) {
  if (!bdd_is_positive_var(m, v)) kzu_bdd_warning("kzu_bdd_new_var_before: argument is not a positive variable");
  if (v == nullptr || bdd_is_const(v)) return bdd_new_var(m, m->vars);
  return bdd_new_var(m, bdd_level(m, v));
}

bdd kzu_bdd_new_var_after(kzu_bdd_manager m, bdd v) {
  if (!bdd_is_positive_var(m, v)) kzu_bdd_warning("kzu_bdd_new_var_after: argument is not a positive variable");
  if (v == nullptr || bdd_is_const(v)) return bdd_new_var(m, m->vars);
  return bdd_new_var(m, bdd_level(m, v) + 1);
}

bdd kzu_bdd_var_with_id(kzu_bdd_manager m, long id) {
  if (id < 1 || id > m->vars) return nullptr;
  return m->variables[id];
}

bdd kzu_bdd_var_with_index(kzu_bdd_manager m, long level) {
  if (level < 0 || level >= m->vars) return nullptr;
  return m->variables[m->indexindexes[level]];
}

long kzu_bdd_vars(kzu_bdd_manager m) { return m->vars; }

// ---- Constants and inspection ------------------------------------------------------------------------------
bdd kzu_bdd_one(kzu_bdd_manager m) { return m->one; }
bdd kzu_bdd_zero(kzu_bdd_manager m) { return m->zero; }

long kzu_bdd_if_id(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f) || bdd_is_const(f)) return -1;
  return bdd_id(f);
}

long kzu_bdd_if_index(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f) || bdd_is_const(f)) return -1;
  return bdd_level(m, f);
}

bdd kzu_bdd_if(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return nullptr;
  if (bdd_is_const(f)) {
    kzu_bdd_warning("kzu_bdd_if: argument is a constant");
    return f;
  }
  return m->variables[bdd_id(f)];
}

bdd kzu_bdd_then(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return nullptr;
  if (bdd_is_const(f)) {
    kzu_bdd_warning("kzu_bdd_then: argument is a constant");
    return f;
  }
  bdd r = bdd_then_of(f);
  bdd_ref_inc(r);
  return r;
}

bdd kzu_bdd_else(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return nullptr;
  if (bdd_is_const(f)) {
    kzu_bdd_warning("kzu_bdd_else: argument is a constant");
    return f;
  }
  bdd r = bdd_else_of(f);
  bdd_ref_inc(r);
  return r;
}

bdd kzu_bdd_not(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return nullptr;
  bdd_ref_inc(f);
  return bdd_complement(f);
}

bdd kzu_bdd_identity(kzu_bdd_manager m, bdd f) {
  if (!bdd_check_arguments(m, 1, f)) return nullptr;
  bdd_ref_inc(f);
  return f;
}

void kzu_bdd_free(kzu_bdd_manager, bdd f) {
  if (f == nullptr) return;
  struct bdd_ *n = bdd_regular(f);
  if (n->refs == 0) kzu_bdd_fatal("kzu_bdd_free: attempt to free node with zero references");
  if (n->refs != BDD_MAX_REFS) n->refs--;
}

// ---- Limits and callbacks -----------------------------------------------------------------------------------
void kzu_bdd_node_limit(kzu_bdd_manager m, long limit) {
  unique *u = &m->unique_table;
  u->node_limit = limit > 0 ? limit : 0;
  if (u->node_limit != 0 && u->gc_limit > u->node_limit) u->gc_limit = u->node_limit;
}

void kzu_bdd_set_sizing(kzu_bdd_manager m, long gc_floor, long cache_bins) {
  unique *u = &m->unique_table;
  u->gc_floor = gc_floor > BDD_GC_FLOOR ? gc_floor : BDD_GC_FLOOR;
  if (u->gc_limit < u->gc_floor) u->gc_limit = u->gc_floor;
  if (u->node_limit != 0 && u->gc_limit > u->node_limit) u->gc_limit = u->node_limit;
  m->op_cache.min_bins = cache_bins > 0 ? cache_bins : 0;
  // The records for the nodes the caller expects are made now rather than
  // one slab at a time during its first operations.
  if (u->gc_limit > u->entries) bdd_reserve_node_records(m, u->gc_limit - u->entries);
  // So are the bucket arrays' chunks, for about a bucket per node (tables
  // with room keep one to four nodes per bucket), up to 32 MB.
  if (bdd_room_given(m)) {
    long chunks = (u->gc_floor * (long)sizeof(bdd_bucket) + BDD_HUGE_BYTES - 1) / BDD_HUGE_BYTES;
    bdd_reserve_bucket_chunks(m, chunks < 16 ? chunks : 16);
  }
  bdd_cache_make_room(m);
}

int kzu_bdd_overflow(kzu_bdd_manager m) { return m->overflow; }

void kzu_bdd_overflow_closure(kzu_bdd_manager m, void (*fn)(kzu_bdd_manager, void *), void *env) {
  m->overflow_fn = fn;
  m->overflow_env = env;
}

void kzu_bdd_abort_closure(kzu_bdd_manager m, void (*fn)(kzu_bdd_manager, void *), void *env) {
  m->bag_it_fn = fn;
  m->bag_it_env = env;
}

void kzu_bdd_free_terminal_closure(kzu_bdd_manager m, void (*fn)(kzu_bdd_manager, intptr_t, intptr_t, void *),
                                   void *env) {
  m->unique_table.free_terminal_fn = fn;
  m->unique_table.free_terminal_env = env;
}

long kzu_bdd_total_size(kzu_bdd_manager m) { return m->unique_table.entries; }

// ---- Statistics ------------------------------------------------------------------------------------------------
static long bdd_named_assoc_count(kzu_bdd_manager m) {
  long n = 0;
  for (assoc_list *a = m->assocs; a != nullptr; a = a->next) n++;
  return n;
}

void kzu_bdd_stats(kzu_bdd_manager m, FILE *fp) {
  unique *u = &m->unique_table;
  cache *c = &m->op_cache;
  long allocated = mem_allocation();
  if (allocated != 0) fprintf(fp, "Memory manager bytes allocated: %ld\n", allocated);
  long assocs = bdd_named_assoc_count(m) + 1;
  long used = 16 * u->entries + 16 * c->entries + 8 * c->size + 12 * m->maxvars + 4 * m->maxvars * assocs;
  fprintf(fp, "Approximate bytes used: %ld\n", used);
  fprintf(fp, "Number of nodes: %ld\n", u->entries);
  if (u->node_limit != 0)
    fprintf(fp, "Node limit: %ld\n", u->node_limit);
  else
    fprintf(fp, "Node limit: ---\n");
  fprintf(fp, "Overflow: %s\n", m->overflow ? "yes" : "no");
  fprintf(fp, "Approximate bytes per node: %-.2f\n", u->entries ? (double)used / (double)u->entries : 0.0);
  fprintf(fp, "Cache entries: %ld\n", c->entries);
  fprintf(fp, "Cache size: %ld\n", 2 * c->size);
  fprintf(fp, "Cache load factor: %-.2f\n", (double)c->entries / (double)(2 * c->size));
  fprintf(fp, "Cache look ups: %ld\n", c->lookups);
  fprintf(fp, "Cache hits: %ld\n", c->hits);
  if (c->lookups != 0)
    fprintf(fp, "Cache hit rate: %-.2f\n", (double)c->hits / (double)c->lookups);
  else
    fprintf(fp, "Cache hit rate: ---\n");
  fprintf(fp, "Cache insertions: %ld\n", c->inserts);
  fprintf(fp, "Cache collisions: %ld\n", c->collisions);
  fprintf(fp, "Number of variables: %ld\n", m->vars);
  fprintf(fp, "Number of variable associations: %ld\n", assocs);
  fprintf(fp, "Number of garbage collections: %ld\n", u->gcs);
  fprintf(fp, "Number of nodes garbage collected: %ld\n", u->freed);
  fprintf(fp, "Number of find operations: %ld\n", u->finds);
}
