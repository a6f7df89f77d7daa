// Node tables: one hash table of nodes per variable, node look-up with the
// canonical form (regular then-edge, no redundant tests), terminal nodes and
// the node record allocator.
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kzuBdd/kzuBddInt.h"

const long bdd_primes[BDD_PRIMES] = {
    1,        2,        3,        7,         13,        23,        59,        113,       241,       503,
    1019,     2039,     4091,     8179,      11587,     16369,     23143,     32749,     46349,     65521,
    92683,    131063,   185363,   262139,    330287,    416147,    524269,    660557,    832253,    1048571,
    1321109,  1664501,  2097143,  2642201,   3328979,   4194287,   5284393,   6657919,   8388593,   10568797,
    13315831, 16777199, 33554393, 67108859,  134217689, 268435399, 536870879, 1073741789, 2147483629};

// Large tables and node slabs are aligned to 2 MB and marked for huge pages
// where the system offers them: the engine's accesses are random, and TLB
// misses would otherwise dominate on big diagrams.

void *bdd_alloc_zeroed(long bytes) {
  void *p = nullptr;
  if (bytes >= BDD_HUGE_BYTES) {
    if (posix_memalign(&p, (size_t)BDD_HUGE_BYTES, (size_t)bytes) != 0) p = nullptr;
#ifdef MADV_HUGEPAGE
    if (p != nullptr) madvise(p, (size_t)bytes, MADV_HUGEPAGE);
#endif
    if (p != nullptr) memset(p, 0, (size_t)bytes);
  } else {
    p = calloc(1, (size_t)(bytes > 0 ? bytes : 1));
  }
  if (p == nullptr) {
    mem_exhausted();
  }
  return p;
}

void bdd_free_array(void *p) { free(p); }

// ---- Bucket arrays -----------------------------------------------------------------------
// Arrays of 4 KB to 1 MB come from 2 MB chunks (huge pages where offered),
// each run as a buddy system: a block of 2^k bytes lies at a multiple of 2^k
// within its chunk, and a freed block merges with its buddy (the block at
// the offset that differs in bit k) while that one is free too, so the
// chunks hold little more than the tables. A chunk's first 4 KB hold its
// header; a chunk that becomes wholly free is released.
#define BDD_BUCKET_MIN_CLASS 12
#define BDD_BUCKET_MAX_CLASS 20
#define BDD_CHUNK_PAGES (BDD_HUGE_BYTES >> BDD_BUCKET_MIN_CLASS)

struct bdd_bucket_chunk {
  bdd_bucket_chunk *next, *prev;
  // Per 4 KB page: the class of the free block that starts there, else 0.
  uint8_t free_class[BDD_CHUNK_PAGES];
};
static_assert(sizeof(bdd_bucket_chunk) <= (1u << BDD_BUCKET_MIN_CLASS), "chunk header fits its first page");

struct bdd_bucket_hole {
  bdd_bucket_hole *next, *prev;
};

static int bdd_bucket_class(long bytes) {
  int k = BDD_BUCKET_MIN_CLASS;
  while ((1L << k) < bytes) k++;
  return k;
}

static inline bdd_bucket_chunk *bdd_chunk_of(void *p) {
  return (bdd_bucket_chunk *)((uintptr_t)p & ~(uintptr_t)(BDD_HUGE_BYTES - 1));
}
static inline long bdd_chunk_page(bdd_bucket_chunk *c, void *p) {
  return (long)(((char *)p - (char *)c) >> BDD_BUCKET_MIN_CLASS);
}

static void bdd_push_free_block(kzu_bdd_manager m, void *p, int k) {
  bdd_bucket_hole *b = (bdd_bucket_hole *)p;
  bdd_bucket_hole *head = (bdd_bucket_hole *)m->bucket_blocks[k];
  b->prev = nullptr;
  b->next = head;
  if (head != nullptr) head->prev = b;
  m->bucket_blocks[k] = b;
  bdd_bucket_chunk *c = bdd_chunk_of(p);
  c->free_class[bdd_chunk_page(c, p)] = (uint8_t)k;
}

static void bdd_unlink_free_block(kzu_bdd_manager m, void *p, int k) {
  bdd_bucket_hole *b = (bdd_bucket_hole *)p;
  if (b->prev != nullptr)
    b->prev->next = b->next;
  else
    m->bucket_blocks[k] = b->next;
  if (b->next != nullptr) b->next->prev = b->prev;
  bdd_bucket_chunk *c = bdd_chunk_of(p);
  c->free_class[bdd_chunk_page(c, p)] = 0;
}

// A new chunk whose space after the header is one free block of every class.
static void bdd_new_bucket_chunk(kzu_bdd_manager m) {
  bdd_bucket_chunk *c = (bdd_bucket_chunk *)bdd_alloc_zeroed(BDD_HUGE_BYTES);
  kz_debug_assert(bdd_chunk_of(c) == c, "bucket chunk not aligned to its size");
  c->prev = nullptr;
  c->next = (bdd_bucket_chunk *)m->bucket_chunks;
  if (c->next != nullptr) c->next->prev = c;
  m->bucket_chunks = c;
  m->bucket_chunk_count++;
  for (int k = BDD_BUCKET_MIN_CLASS; k <= BDD_BUCKET_MAX_CLASS; k++) bdd_push_free_block(m, (char *)c + (1L << k), k);
}

void bdd_reserve_bucket_chunks(kzu_bdd_manager m, long chunks) {
  m->bucket_chunks_kept = chunks;
  while (m->bucket_chunk_count < chunks) bdd_new_bucket_chunk(m);
}

// Releases chunk c when every block after its header is free.
static void bdd_release_chunk_if_free(kzu_bdd_manager m, bdd_bucket_chunk *c) {
  if (m->bucket_chunk_count <= m->bucket_chunks_kept) return;
  for (int k = BDD_BUCKET_MIN_CLASS; k <= BDD_BUCKET_MAX_CLASS; k++)
    if (c->free_class[1L << (k - BDD_BUCKET_MIN_CLASS)] != k) return;
  for (int k = BDD_BUCKET_MIN_CLASS; k <= BDD_BUCKET_MAX_CLASS; k++) bdd_unlink_free_block(m, (char *)c + (1L << k), k);
  if (c->prev != nullptr)
    c->prev->next = c->next;
  else
    m->bucket_chunks = c->next;
  if (c->next != nullptr) c->next->prev = c->prev;
  m->bucket_chunk_count--;
  bdd_free_array(c);
}

bdd_bucket *bdd_alloc_buckets(kzu_bdd_manager m, long buckets) {
  long bytes = buckets * (long)sizeof(bdd_bucket);
  if (bytes < (1L << BDD_BUCKET_MIN_CLASS) || bytes > (1L << BDD_BUCKET_MAX_CLASS))
    return (bdd_bucket *)bdd_alloc_zeroed(bytes);
  int k = bdd_bucket_class(bytes);
  int j = k;
  while (j <= BDD_BUCKET_MAX_CLASS && m->bucket_blocks[j] == nullptr) j++;
  if (j > BDD_BUCKET_MAX_CLASS) {
    bdd_new_bucket_chunk(m);
    j = k;
  }
  char *p = (char *)m->bucket_blocks[j];
  bdd_unlink_free_block(m, p, j);
  // Split down to the class asked for; the upper halves stay free.
  while (j > k) {
    j--;
    bdd_push_free_block(m, p + (1L << j), j);
  }
  memset(p, 0, (size_t)bytes);
  return (bdd_bucket *)p;
}

void bdd_free_buckets(kzu_bdd_manager m, bdd_bucket *p, long buckets) {
  long bytes = buckets * (long)sizeof(bdd_bucket);
  if (bytes < (1L << BDD_BUCKET_MIN_CLASS) || bytes > (1L << BDD_BUCKET_MAX_CLASS)) {
    bdd_free_array(p);
    return;
  }
  int k = bdd_bucket_class(bytes);
  bdd_bucket_chunk *c = bdd_chunk_of(p);
  long off = (char *)p - (char *)c;
  while (k < BDD_BUCKET_MAX_CLASS) {
    long buddy = off ^ (1L << k);
    if (c->free_class[buddy >> BDD_BUCKET_MIN_CLASS] != k) break;
    bdd_unlink_free_block(m, (char *)c + buddy, k);
    off &= ~(1L << k);
    k++;
  }
  bdd_push_free_block(m, (char *)c + off, k);
  bdd_release_chunk_if_free(m, c);
}

void bdd_free_bucket_arena(kzu_bdd_manager m) {
  bdd_bucket_chunk *c = (bdd_bucket_chunk *)m->bucket_chunks;
  while (c != nullptr) {
    bdd_bucket_chunk *next = c->next;
    bdd_free_array(c);
    c = next;
  }
  m->bucket_chunks = nullptr;
  m->bucket_chunk_count = 0;
  for (void *&head : m->bucket_blocks) head = nullptr;
}

var_table *bdd_new_var_table(kzu_bdd_manager m) {
  var_table *t = (var_table *)bdd_alloc_zeroed(sizeof(var_table));
  t->size_index = BDD_INITIAL_TABLE_INDEX;
  t->peak_index = t->size_index;
  t->size = bdd_primes[t->size_index];
  t->table = bdd_alloc_buckets(m, t->size);
  t->entries = 0;
  return t;
}

void bdd_free_var_table(kzu_bdd_manager m, var_table *t) {
  if (t == nullptr) return;
  bdd_free_buckets(m, t->table, t->size);
  bdd_free_array(t);
}

int bdd_table_index_for(long entries) {
  int i = BDD_INITIAL_TABLE_INDEX;
  while (i + 1 < BDD_PRIMES && bdd_primes[i] < entries) i++;
  return i;
}

void bdd_rehash_var_table(kzu_bdd_manager m, var_table *t, bool grow) {
  int new_index = t->size_index + (grow ? 1 : -1);
  if (grow && bdd_room_given(m)) {
    int fit = bdd_table_index_for(t->entries);
    if (fit > new_index) new_index = fit;
    if (t->peak_index > new_index) new_index = t->peak_index;
  }
  if (new_index < 0 || new_index >= BDD_PRIMES) return;
  if (new_index > t->peak_index) t->peak_index = new_index;
  var_table fresh;
  fresh.size = bdd_primes[new_index];
  fresh.table = bdd_alloc_buckets(m, fresh.size);
  bdd_walk_chains(t, [&](bdd n) {
    uint64_t h = bdd_node_key(n->data[0], n->data[1]);
    if (m->reordering)
      bdd_bucket_push_raw(&fresh, bdd_key_bucket(h, fresh.size), n, bdd_key_summary(h));
    else
      bdd_bucket_push(&fresh, bdd_key_bucket(h, fresh.size), n, bdd_key_summary(h));
  });
  bdd_free_buckets(m, t->table, t->size);
  t->table = fresh.table;
  t->size = fresh.size;
  t->size_index = new_index;
}

void bdd_rebuild_summaries(var_table *t) {
  for (long i = 0; i < t->size; i++) {
    // Reverse the chain, then walk it back from its tail, restoring the
    // links and giving each node the summary of the nodes after it.
    bdd prev = nullptr;
    for (bdd n = bdd_bucket_first(t->table[i]); n != nullptr;) {
      bdd next = n->next;
      n->next = prev;
      prev = n;
      n = next;
    }
    unsigned acc = 0;
    bdd after = nullptr;
    for (bdd n = prev; n != nullptr;) {
      bdd next = n->next;
      n->spare = acc;
      acc |= bdd_key_summary(bdd_node_key(n->data[0], n->data[1]));
      n->next = after;
      after = n;
      n = next;
    }
    t->table[i] = (uintptr_t)after | ((uintptr_t)acc << 48);
  }
}

// ---- Node records --------------------------------------------------------------------
// Records are carved from 2 MB slabs whose first word links them together.
// Freed records carry BDD_FREE_INDEX; a collection rebuilds the free list in
// address order, so nodes made one after another lie side by side.
//
// Slabs are made one after another in a range of address space reserved
// when the first is needed (16 GB; under an address-space limit at most a
// quarter of what the limit leaves; less when the system refuses it; no
// memory stands behind it until a slab is made). The computed table refers
// to a node by its offset in the 16 GB window that ends where the range
// ends. Slabs beyond the range are mapped on their own, each just below the
// lowest slab so far, so they lie in the window too while it has room (the
// system puts its own mappings top down, so the space below is mostly
// free); a slab that lands outside the window still works, but results
// over its nodes are not memoised.
//
// Every slab comes from mmap without an address beyond the window's, so
// it lies below 2^47 (the kernel hands out higher addresses only when asked
// for them) and the 48 bits of a bucket head always hold a node address.

static const size_t kRefWindowBytes = (size_t)BDD_REF_SLABS * BDD_SLAB_BYTES;

// The window ends at `top` (2 MB aligned).
static void bdd_set_window(kzu_bdd_manager m, char *top) {
  uintptr_t t = (uintptr_t)top;
  m->ref_base = (char *)(t > kRefWindowBytes ? t - kRefWindowBytes : 0);
  if (m->one != nullptr) m->one_ref = bdd_cache_ref(m, m->one);
}

static bool bdd_in_window(kzu_bdd_manager m, const void *slab) {
  return m->ref_base != nullptr && (uintptr_t)slab - (uintptr_t)m->ref_base < kRefWindowBytes;
}

// Bytes of address space the range may take: any, or under a limit a
// quarter of what is left of it.
static size_t bdd_slab_range_budget() {
  struct rlimit lim;
  if (getrlimit(RLIMIT_AS, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  size_t used = 0;
  if (FILE *f = fopen("/proc/self/statm", "r")) {
    unsigned long pages = 0;
    if (fscanf(f, "%lu", &pages) == 1) used = (size_t)pages * (size_t)sysconf(_SC_PAGESIZE);
    fclose(f);
  }
  return lim.rlim_cur > used ? ((size_t)lim.rlim_cur - used) / 4 : 0;
}

static void bdd_reserve_slab_range(kzu_bdd_manager m) {
  m->slab_room = -1;  // tried
  size_t budget = bdd_slab_range_budget();
  for (long slabs = BDD_REF_SLABS; slabs >= 16; slabs /= 4) {
    size_t bytes = (size_t)(slabs + 1) * BDD_SLAB_BYTES;  // one more for the alignment
    if (bytes > budget) continue;
    void *p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) continue;
    m->slab_reserve = p;
    m->slab_reserve_bytes = bytes;
    m->slab_base = (char *)(((uintptr_t)p + BDD_SLAB_BYTES - 1) & ~(uintptr_t)(BDD_SLAB_BYTES - 1));
    m->slab_room = slabs;
    bdd_set_window(m, m->slab_base + slabs * BDD_SLAB_BYTES);
    m->slab_low = m->slab_base;
    return;
  }
}

static bool bdd_in_slab_range(kzu_bdd_manager m, const void *slab) {
  return m->slab_room > 0 && (const char *)slab >= m->slab_base &&
         (const char *)slab < m->slab_base + m->slab_room * BDD_SLAB_BYTES;
}

void bdd_limit_slab_range(kzu_bdd_manager m, long slabs) {
  if (m->slab_room == 0) bdd_reserve_slab_range(m);
  if (slabs < m->slab_count || slabs > m->slab_room) return;
  bdd_flush_all(m);
  m->slab_room = slabs;
  bdd_set_window(m, m->slab_base + slabs * BDD_SLAB_BYTES);
}

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

// A slab of its own, 2 MB aligned: at `want` when that space is free (and
// `want` is not null), else wherever the system puts it.
static void *bdd_map_slab(char *want) {
  if (want != nullptr) {
    void *p = mmap(want, (size_t)BDD_SLAB_BYTES, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == want) return p;
    if (p != MAP_FAILED) munmap(p, (size_t)BDD_SLAB_BYTES);  // a kernel that took it as a hint
  }
  static_assert(BDD_SLAB_BYTES == (long)MEM_HUGE_FROM, "a slab is one huge mapping");
  void *slab = mem_map_huge((size_t)BDD_SLAB_BYTES);
  if (slab == nullptr) mem_exhausted();
  return slab;
}

// The next slab of the range (its pages read as zero), else one of its own
// below the lowest slab in the window.
static void *bdd_slab_memory(kzu_bdd_manager m) {
  if (m->slab_room == 0) bdd_reserve_slab_range(m);
  if (m->slab_count < m->slab_room) {
    char *slab = m->slab_base + m->slab_count * BDD_SLAB_BYTES;
    if (mprotect(slab, (size_t)BDD_SLAB_BYTES, PROT_READ | PROT_WRITE) != 0) {
      mem_exhausted();
    }
#ifdef MADV_HUGEPAGE
    madvise(slab, (size_t)BDD_SLAB_BYTES, MADV_HUGEPAGE);
#endif
    m->slab_count++;
    return slab;
  }
  char *want = nullptr;
  if (m->ref_base != nullptr && (uintptr_t)m->slab_low - (uintptr_t)m->ref_base >= (uintptr_t)BDD_SLAB_BYTES)
    want = m->slab_low - BDD_SLAB_BYTES;
  char *slab = (char *)bdd_map_slab(want);
  if (m->ref_base == nullptr) {  // no range: the first slab ends the window
    bdd_set_window(m, slab + BDD_SLAB_BYTES);
    m->slab_low = slab;
  }
  if (bdd_in_window(m, slab) && slab < m->slab_low) m->slab_low = slab;
#ifdef MADV_HUGEPAGE
  madvise(slab, (size_t)BDD_SLAB_BYTES, MADV_HUGEPAGE);
#endif
  return slab;
}

static void bdd_new_slab(kzu_bdd_manager m) {
  void *slab = bdd_slab_memory(m);
  kz_debug_assert(((uintptr_t)slab + BDD_SLAB_BYTES) <= BDD_BUCKET_PTR_MASK, "bdd_new_slab: address beyond 48 bits");
  *(void **)slab = m->slabs;
  m->slabs = slab;
  struct bdd_ *rec = bdd_slab_records(slab);
  struct bdd_ *free_list = m->free_nodes;
  for (long i = BDD_SLAB_RECORDS - 1; i >= 0; i--) {
    rec[i].indexindex = BDD_FREE_INDEX;
    rec[i].next = free_list;
    free_list = &rec[i];
  }
  m->free_nodes = free_list;
}

struct bdd_ *bdd_new_node_record(kzu_bdd_manager m) {
  if (m->free_nodes == nullptr) bdd_new_slab(m);
  struct bdd_ *n = m->free_nodes;
  m->free_nodes = n->next;
  return n;
}

void bdd_reserve_node_records(kzu_bdd_manager m, long records) {
  long have = 0;
  for (struct bdd_ *n = m->free_nodes; n != nullptr && have < records; n = n->next) have++;
  for (; have < records; have += BDD_SLAB_RECORDS) bdd_new_slab(m);
}

void bdd_free_node_record(kzu_bdd_manager m, struct bdd_ *n) {
  n->indexindex = BDD_FREE_INDEX;
  n->next = m->free_nodes;
  m->free_nodes = n;
}

void bdd_free_node_slabs(kzu_bdd_manager m) {
  void *slab = m->slabs;
  while (slab != nullptr) {
    void *next = *(void **)slab;
    if (!bdd_in_slab_range(m, slab)) munmap(slab, (size_t)BDD_SLAB_BYTES);
    slab = next;
  }
  if (m->slab_reserve != nullptr) munmap(m->slab_reserve, m->slab_reserve_bytes);
  m->slab_reserve = nullptr;
  m->slab_base = nullptr;
  m->slab_room = m->slab_count = 0;
  m->ref_base = m->slab_low = nullptr;
  m->slabs = nullptr;
  m->free_nodes = nullptr;
}

// ---- Look-up -----------------------------------------------------------------------------------
// The node (id, t, e) for a regular t, made when missing. A found node
// gets a temporary reference; a new one starts with it.
static inline bdd bdd_find_aux(kzu_bdd_manager m, long id, bdd t, bdd e) {
  unique *u = &m->unique_table;
  u->finds++;
  var_table *vt = u->tables[id];
  uint64_t h = bdd_node_key(t, e);
  long b = bdd_key_bucket(h, vt->size);
  unsigned s = bdd_key_summary(h);
  bdd_bucket head = vt->table[b];
  if ((bdd_bucket_summary(head) & s) == s) {
    for (bdd n = bdd_bucket_first(head); n != nullptr; n = n->next) {
      if (n->data[0] == t && n->data[1] == e) {
        bdd_temp_inc(n);
        return n;
      }
      if ((n->spare & s) != s) break;
    }
  }
  struct bdd_ *n = bdd_new_node_record(m);
  n->indexindex = (uint16_t)id;
  n->refs = 0;
  n->mark = 1;  // the temporary reference of the result
  n->data[0] = t;
  n->data[1] = e;
  bdd_bucket_push(vt, b, n, s);
  vt->entries++;
  u->entries++;
  if (vt->entries > 4 * vt->size) bdd_rehash_var_table(m, vt, true);
  return n;
}

bdd bdd_find(kzu_bdd_manager m, long id, bdd t, bdd e) {
  if (t == e) {
    bdd_temp_dec(e);
    return t;
  }
  kz_debug_assert(bdd_level(m, t) > m->indexes[id] && bdd_level(m, e) > m->indexes[id],
                  "child does not lie below its parent");
  // (id, !t, !e) = !(id, t, e): the stored then-edge is regular.
  int c = bdd_is_complemented(t);
  bdd r = bdd_complement_if(bdd_find_aux(m, id, bdd_complement_if(t, c), bdd_complement_if(e, c)), c);
  bdd_temp_dec(t);
  bdd_temp_dec(e);
  if (--m->check <= 0) bdd_periodic_check(m);
  return r;
}

static int bdd_value_canonical(kzu_bdd_manager m, intptr_t high, intptr_t low) {
  return m->canonical_fn(m, high, low, m->transform_env);
}

bdd bdd_find_terminal(kzu_bdd_manager m, intptr_t high, intptr_t low) {
  int negate = bdd_value_canonical(m, high, low);
  if (negate) {
    intptr_t nh, nl;
    m->transform_fn(m, high, low, &nh, &nl, m->transform_env);
    high = nh;
    low = nl;
  }
  unique *u = &m->unique_table;
  var_table *vt = u->tables[0];
  bdd th = (bdd)high;
  bdd tl = (bdd)low;
  uint64_t h = bdd_node_key(th, tl);
  long b = bdd_key_bucket(h, vt->size);
  bdd found = nullptr;
  for (bdd n = bdd_bucket_first(vt->table[b]); n != nullptr; n = n->next) {
    if (n->data[0] == th && n->data[1] == tl) {
      found = n;
      break;
    }
  }
  if (found == nullptr) {
    struct bdd_ *n = bdd_new_node_record(m);
    n->indexindex = 0;
    n->refs = 0;
    n->mark = 0;
    n->data[0] = th;
    n->data[1] = tl;
    bdd_bucket_push(vt, b, n, bdd_key_summary(h));
    vt->entries++;
    u->entries++;
    if (vt->entries > 4 * vt->size) bdd_rehash_var_table(m, vt, true);
    found = n;
  }
  u->finds++;
  bdd r = bdd_complement_if(found, negate);
  bdd_temp_inc(r);
  if (--m->check <= 0) bdd_periodic_check(m);
  return r;
}
