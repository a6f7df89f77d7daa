// Computed table: two-slot bins of memoised results, with per-tag hooks for
// hashing, collection, purging, returning and flushing entries.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "kzuBdd/kzuBddInt.h"

long bdd_rehash3(intptr_t *s) { return (long)(s[0] + 2 * s[1] + 4 * s[2]); }
long bdd_rehash2(intptr_t *s) { return (long)(s[0] + 2 * s[1]); }
long bdd_rehash1(intptr_t *s) { return (long)s[0]; }

// Only called by the purge, while the slabs' mark bits are current.
static inline bool bdd_node_marked(intptr_t e) {
  bool marked = bdd_mark_bit(bdd_regular((bdd)e));
  kz_debug_assert(marked == ((bdd_regular((bdd)e)->mark & BDD_MARK) != 0), "mark bit out of step with its node");
  return marked;
}

// True when the entry refers to a node that the running collection did not mark.
static int kzu_bdd_ite_gc_fn(kzu_bdd_manager, intptr_t *s) {
  return !bdd_node_marked(s[0]) || !bdd_node_marked(s[1]) || !bdd_node_marked(s[2]) || !bdd_node_marked(s[3]);
}
static int bdd_two_gc_fn(kzu_bdd_manager, intptr_t *s) {
  return !bdd_node_marked(s[1]) || !bdd_node_marked(s[2]) || !bdd_node_marked(s[3]);
}
static int kzu_bdd_one_data_gc_fn(kzu_bdd_manager, intptr_t *s) { return !bdd_node_marked(s[1]); }
// Data entries hold one edge; a second is tested when present.
static int bdd_two_data_gc_fn(kzu_bdd_manager, intptr_t *s) {
  return !bdd_node_marked(s[1]) || (s[2] != 0 && !bdd_node_marked(s[2]));
}

// Entries of the association `*env` (its id) under any of its operation ids.
static int bdd_two_flush_fn(kzu_bdd_manager, intptr_t *s, void *env) {
  intptr_t id = *(intptr_t *)env;
  return s[0] == id + BDD_OP_EXISTS_BASE || s[0] == id + BDD_OP_RELPROD_BASE || s[0] == id + BDD_OP_SUBST_BASE;
}

// Bin arrays are anonymous mappings (page aligned, zero filled), so that
// growth can extend the mapping instead of holding the old and the new
// table at once.
static size_t bdd_bins_bytes(long bins) {
  size_t page = (size_t)sysconf(_SC_PAGESIZE);
  size_t bytes = (size_t)bins * sizeof(cache_bin);
  return (bytes + page - 1) / page * page;
}

static void bdd_advise_bins(void *p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (bytes >= (size_t)BDD_HUGE_BYTES) madvise(p, bytes, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

static cache_bin *bdd_map_bins(long bins) {
  size_t bytes = bdd_bins_bytes(bins);
  void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    mem_exhausted();
  }
  bdd_advise_bins(p, bytes);
  return (cache_bin *)p;
}

static void bdd_unmap_bins(cache_bin *table, long bins) {
  if (table != nullptr) munmap(table, bdd_bins_bytes(bins));
}

// Writes one word per page of [from, to): growth in place reads the new bins
// before writing them, and untouched pages would first be mapped to the
// shared zero page and then copied on the write; this takes a single fault
// each instead.
static void bdd_touch_pages(char *from, char *to) {
  size_t page = (size_t)sysconf(_SC_PAGESIZE);
  for (char *q = from; q < to; q += page) *(volatile intptr_t *)q = 0;
}

// Reads and writes back one word per page of [from, to), so that the pages
// of a table in use are mapped without changing what they hold.
static void bdd_touch_pages_keeping(char *from, char *to) {
  size_t page = (size_t)sysconf(_SC_PAGESIZE);
  for (char *q = from; q < to; q += page) {
    volatile intptr_t *w = (volatile intptr_t *)q;
    *w = *w;
  }
}

// Extends the mapping of `table` (`mapped` bins) to `bins` bins (the new
// part reads as zero); null when the system cannot extend it.
static cache_bin *bdd_extend_bins(cache_bin *table, long mapped, long bins) {
#if defined(MREMAP_MAYMOVE)
  size_t old_bytes = bdd_bins_bytes(mapped), bytes = bdd_bins_bytes(bins);
  void *p = mremap(table, old_bytes, bytes, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) return nullptr;
  bdd_advise_bins(p, bytes);
  bdd_touch_pages((char *)p + old_bytes, (char *)p + bytes);
  return (cache_bin *)p;
#else
  (void)table;
  (void)mapped;
  (void)bins;
  return nullptr;
#endif
}

void bdd_init_cache(kzu_bdd_manager m) {
  cache *c = &m->op_cache;
  memset(c, 0, sizeof(*c));
  c->size_index = BDD_INITIAL_CACHE_INDEX;
  c->size = bdd_primes[c->size_index];
  c->table = bdd_map_bins(c->size);
  c->mapped_bins = c->size;
  c->cache_ratio = 4;
  c->rehash_fn[BDD_TAG_ITE] = bdd_rehash3;
  c->gc_fn[BDD_TAG_ITE] = kzu_bdd_ite_gc_fn;
  c->return_fn[BDD_TAG_ITE] = BDD_RETURN_EDGE;
  c->rehash_fn[BDD_TAG_OP] = bdd_rehash3;
  c->gc_fn[BDD_TAG_OP] = bdd_two_gc_fn;
  c->return_fn[BDD_TAG_OP] = BDD_RETURN_EDGE;
  c->flush_fn[BDD_TAG_OP] = bdd_two_flush_fn;
  c->rehash_fn[BDD_TAG_ONE_DATA] = bdd_rehash2;
  c->gc_fn[BDD_TAG_ONE_DATA] = kzu_bdd_one_data_gc_fn;
  c->rehash_fn[BDD_TAG_TWO_DATA] = bdd_rehash3;
  c->gc_fn[BDD_TAG_TWO_DATA] = bdd_two_data_gc_fn;
}

// The filter holds 128 bits per tracked bin and generation: a window of
// eight look-ups per bin pushes out at most eight keys per bin. Its memory
// (`ghost_memory`, room for `ghost_cap` words per generation) outlives the
// filter, so that a new window or a grown table reuses it.
static void bdd_ghost_memory(cache *ct, long words) {
  free(ct->ghost_memory);
  ct->ghost = nullptr;
  ct->ghost_memory = (uint64_t *)malloc(2 * (size_t)words * sizeof(uint64_t));
  if (ct->ghost_memory == nullptr) {
    ct->ghost_cap = 0;
    mem_exhausted();
  }
  ct->ghost_cap = words;
}

static void bdd_drop_ghost(cache *ct) {
  free(ct->ghost_memory);
  ct->ghost = ct->ghost_memory = nullptr;
  ct->ghost_cap = 0;
}

static long bdd_ghost_words_for(long bins) { return (bins / 16 + 1) * 2; }

void bdd_reset_ghost(kzu_bdd_manager m, bool age) {
  cache *ct = &m->op_cache;
  long words = bdd_ghost_words_for(ct->size);
  if (age && ct->ghost != nullptr && ct->ghost_words == words) {
    ct->ghost_current ^= 1;
    memset(ct->ghost + ct->ghost_current * words, 0, (size_t)words * sizeof(uint64_t));
  } else {
    if (words > ct->ghost_cap) bdd_ghost_memory(ct, words);
    ct->ghost = ct->ghost_memory;
    memset(ct->ghost, 0, 2 * (size_t)words * sizeof(uint64_t));
    ct->ghost_words = words;
    ct->ghost_current = 0;
  }
  ct->ghost_hits = 0;
}

// With an allowance, the mapping takes the table's largest size within it
// now, its pages touched, so that growth during the caller's operations
// finds the memory in place (as a table of fixed size would be).
void bdd_cache_make_room(kzu_bdd_manager m) {
  cache *ct = &m->op_cache;
  int index = ct->size_index;
  while (index + 1 < BDD_PRIMES && bdd_primes[index] < ct->min_bins) index++;
  long bins = bdd_primes[index];
  if (bins <= ct->size) return;
  // The filter's memory for the largest table below the allowance, touched
  // (a memset after the malloc may be turned into a calloc, which does not).
  long words = bdd_ghost_words_for(bdd_primes[index - 1]);
  if (words > ct->ghost_cap && ct->ghost == nullptr) {
    bdd_ghost_memory(ct, words);
    bdd_touch_pages((char *)ct->ghost_memory, (char *)(ct->ghost_memory + 2 * words));
  }
  if (bins <= ct->mapped_bins) return;
  cache_bin *table = bdd_extend_bins(ct->table, ct->mapped_bins, bins);
  if (table == nullptr) return;  // growth maps its tables as it goes
  // The table in use so far was mapped lazily: its pages too are touched
  // now rather than at the first look-ups of the caller's operations.
  bdd_touch_pages_keeping((char *)table, (char *)table + bdd_bins_bytes(ct->mapped_bins));
  ct->table = table;
  ct->mapped_bins = bins;
}

static inline uint64_t *bdd_ghost_word(const cache *ct, int generation, long i, uint64_t key, uint32_t c,
                                       uint64_t *mask) {
  uint64_t h = key * 0xD6E8FEB86659FD93ull + (uint64_t)c * 0x9E3779B97F4A7C15ull;
  h ^= h >> 31;
  h *= 0xC2B2AE3D27D4EB4Full;
  // Two bits per key: a generation holds up to eight keys of a tracked bin,
  // and a key never seen must rarely find both of its bits set.
  *mask = (1ull << ((h >> 57) & 63)) | (1ull << ((h >> 51) & 63));
  return &ct->ghost[generation * ct->ghost_words + (i >> 4) * 2 + (long)(h >> 63)];
}

void bdd_ghost_note(cache *ct, long i, uint64_t key, uint32_t c) {
  uint64_t mask;
  uint64_t *w = bdd_ghost_word(ct, 0, i, key, c, &mask);
  if ((w[0] & mask) == mask || (w[ct->ghost_words] & mask) == mask) ct->ghost_hits++;
  const cache_entry *out = &ct->table[i].entry[1];
  if (ct->table[i].entry[0].key != 0 && out->key != 0) {
    // The word first: the right operand of |= is evaluated before the left.
    uint64_t *pushed = bdd_ghost_word(ct, ct->ghost_current, i, out->key, bdd_cache_entry_c(out), &mask);
    *pushed |= mask;
  }
}

void bdd_free_cache(kzu_bdd_manager m) {
  bdd_drop_ghost(&m->op_cache);
  bdd_flush_all(m);
  bdd_unmap_bins(m->op_cache.table, m->op_cache.mapped_bins);
  m->op_cache.table = nullptr;
}

// Tag 0 keeps edges in all four words, tag 1 an operation id and three
// edges; data entries an operation id, an edge and the data word.
void bdd_cache_entry_slots(kzu_bdd_manager m, const cache_entry *e, intptr_t *s) {
  int tag = bdd_cache_tag(e);
  uint64_t a = bdd_key_arg0(e->key);
  s[0] = tag == BDD_TAG_ITE ? (intptr_t)bdd_ref_edge(m, a) : bdd_ref_op(a);
  s[1] = (intptr_t)bdd_ref_edge(m, e->key >> 34);
  if (tag <= BDD_TAG_OP) {
    s[2] = (intptr_t)bdd_ref_edge(m, (uint32_t)e->rest);
    s[3] = (intptr_t)bdd_ref_edge(m, e->rest >> 32);
  } else {
    s[2] = 0;
    s[3] = (intptr_t)e->rest;
  }
}

static inline void bdd_purge_entry(kzu_bdd_manager m, cache_entry *e) {
  bdd_purge_fn fn = m->op_cache.purge_fn[bdd_cache_tag(e)];
  if (fn != nullptr) {
    intptr_t s[4];
    bdd_cache_entry_slots(m, e, s);
    fn(m, s);
  }
}

// Hit of a tag whose return function is neither an edge nor absent.
bdd bdd_cache_return(kzu_bdd_manager m, const cache_entry *e) {
  intptr_t s[4];
  bdd_cache_entry_slots(m, e, s);
  return (bdd)m->op_cache.return_fn[bdd_cache_tag(e)](m, s);
}

void bdd_purge_slot(kzu_bdd_manager m, cache_entry *e) { bdd_purge_entry(m, e); }

// Key of a data entry: an operation id and an edge.
static inline bool bdd_cache_key2(kzu_bdd_manager m, int tag, intptr_t a, intptr_t b, uint64_t *key) {
  uint64_t rb = bdd_cache_ref(m, (bdd)b);
  if (!bdd_op_fits(a) || !bdd_refs_fit(rb)) return false;
  *key = bdd_cache_pack_key(tag, (uint64_t)a, rb);
  return true;
}

bool bdd_lookup2_data(kzu_bdd_manager m, int tag, intptr_t a, intptr_t b, intptr_t *result) {
  cache *ct = &m->op_cache;
  ct->lookups++;
  uint64_t key;
  if (!bdd_cache_key2(m, tag, a, b, &key)) return false;
  cache_bin *bin = &ct->table[bdd_cache_bin_of(key, 0, ct->size)];
  for (int i = 0; i < 2; i++) {
    cache_entry *e = &bin->entry[i];
    if (e->key == key) {
      if (i == 1) {
        cache_entry tmp = bin->entry[0];
        bin->entry[0] = bin->entry[1];
        bin->entry[1] = tmp;
      }
      ct->hits++;
      *result = (intptr_t)bin->entry[0].rest;
      return true;
    }
  }
  return false;
}

void bdd_insert2_data(kzu_bdd_manager m, int tag, intptr_t a, intptr_t b, intptr_t result) {
  uint64_t key;
  if (bdd_cache_key2(m, tag, a, b, &key))
    bdd_cache_store(m, bdd_cache_bin_of(key, 0, m->op_cache.size), key, 0, (uint64_t)result);
}

// Moves one entry into its bin of the new table: it takes slot 0, the old
// slot 0 moves to slot 1, and an entry pushed out of slot 1 is purged.
static inline void bdd_move_entry(kzu_bdd_manager m, cache_bin *table, long size, const cache_entry *e) {
  cache *ct = &m->op_cache;
  cache_bin *bin = &table[bdd_cache_entry_bin(e, size)];
  if (bin->entry[1].key != 0) {
    bdd_purge_entry(m, &bin->entry[1]);
    ct->entries--;
  }
  bin->entry[1] = bin->entry[0];
  bin->entry[0] = *e;
}

// Places an old slot-1 entry during growth in place: it only takes a free
// slot, so that it never displaces a more recent entry.
static inline void bdd_place_older_entry(kzu_bdd_manager m, cache_bin *table, long size, const cache_entry *e) {
  cache *ct = &m->op_cache;
  cache_bin *bin = &table[bdd_cache_entry_bin(e, size)];
  if (bin->entry[0].key == 0) {
    bin->entry[0] = *e;
  } else if (bin->entry[1].key == 0) {
    bin->entry[1] = *e;
  } else {
    cache_entry dropped = *e;
    bdd_purge_entry(m, &dropped);
    ct->entries--;
  }
}

// Growth keeps the table where it is: bins are found by scaling a hash to
// the table size, so an entry's new bin is never below its old one, and
// walking the old bins from the top down moves every entry into space that
// has already been emptied. Slot-0 (recent) entries take precedence.
static void bdd_grow_cache_in_place(kzu_bdd_manager m, cache_bin *table, long old_size, long new_size) {
  for (long i = old_size - 1; i >= 0; i--) {
    cache_entry e0 = table[i].entry[0], e1 = table[i].entry[1];
    memset(&table[i], 0, sizeof(cache_bin));
    if (e1.key != 0) bdd_place_older_entry(m, table, new_size, &e1);
    if (e0.key != 0) bdd_move_entry(m, table, new_size, &e0);
  }
}

void bdd_rehash_cache(kzu_bdd_manager m, bool grow) {
  cache *ct = &m->op_cache;
  int new_index = ct->size_index + (grow ? 1 : -1);
  if (new_index < 0 || new_index >= BDD_PRIMES) return;
  long new_size = bdd_primes[new_index];
  cache_bin *old = ct->table;
  long old_size = ct->size;
  cache_bin *table = nullptr;
  if (grow && new_size <= ct->mapped_bins) {
    table = old;  // the room is mapped already and reads as zero
  } else if (grow) {
    table = bdd_extend_bins(old, ct->mapped_bins, new_size);
    if (table != nullptr) ct->mapped_bins = new_size;
  }
  if (table != nullptr) {
    bdd_grow_cache_in_place(m, table, old_size, new_size);
  } else {
    // A new table: every slot-1 entry first, then every slot-0 entry.
    table = bdd_map_bins(new_size);
    for (int slot = 1; slot >= 0; slot--)
      for (long i = 0; i < old_size; i++)
        if (old[i].entry[slot].key != 0) bdd_move_entry(m, table, new_size, &old[i].entry[slot]);
    bdd_unmap_bins(old, ct->mapped_bins);
    ct->mapped_bins = new_size;
  }
  ct->table = table;
  ct->size = new_size;
  ct->size_index = new_index;
  if (ct->ghost != nullptr) {
    if (ct->size >= ct->min_bins) {
      // At the allowance nothing asks the filter any more.
      bdd_drop_ghost(ct);
    } else {
      bdd_reset_ghost(m, false);  // its bins moved
    }
  }
}

// Drops every entry for which `drop` says yes.
template <class Drop>
static void bdd_cache_filter(kzu_bdd_manager m, Drop drop) {
  cache *ct = &m->op_cache;
  for (long i = 0; i < ct->size; i++) {
    cache_bin *bin = &ct->table[i];
    for (int slot = 0; slot < 2; slot++) {
      cache_entry *e = &bin->entry[slot];
      if (e->key == 0 || !drop(e)) continue;
      bdd_purge_entry(m, e);
      ct->entries--;
      memset(e, 0, sizeof(*e));
    }
    if (bin->entry[0].key == 0 && bin->entry[1].key != 0) {
      bin->entry[0] = bin->entry[1];
      memset(&bin->entry[1], 0, sizeof(cache_entry));
    }
  }
}

// The mark bit of a reference, checked against its node in debug builds.
static inline bool bdd_ref_marked(kzu_bdd_manager m, uint64_t r) {
  bool marked = bdd_ref_mark_bit(m, r);
  kz_debug_assert(marked == ((bdd_regular(bdd_ref_edge(m, r))->mark & BDD_MARK) != 0),
                  "mark bit out of step with its node");
  return marked;
}

void bdd_purge_cache(kzu_bdd_manager m) {
  cache *ct = &m->op_cache;
  bdd_cache_filter(m, [&](cache_entry *e) {
    bdd_gc_fn fn = ct->gc_fn[bdd_cache_tag(e)];
    if (fn == nullptr) return false;
    // The connectives' and the quantifications' entries are by far the
    // most; their tests read the references' mark bits without decoding.
    if (fn == kzu_bdd_ite_gc_fn || fn == bdd_two_gc_fn) {
      if (fn == kzu_bdd_ite_gc_fn && !bdd_ref_marked(m, bdd_key_arg0(e->key))) return true;
      return !bdd_ref_marked(m, e->key >> 34) || !bdd_ref_marked(m, (uint32_t)e->rest) ||
             !bdd_ref_marked(m, e->rest >> 32);
    }
    intptr_t s[4];
    bdd_cache_entry_slots(m, e, s);
    return fn(m, s) != 0;
  });
}

void bdd_flush_cache(kzu_bdd_manager m, bdd_flush_fn fn, void *env) {
  bdd_cache_filter(m, [&](cache_entry *e) {
    intptr_t s[4];
    bdd_cache_entry_slots(m, e, s);
    return fn(m, s, env) != 0;
  });
}

void bdd_flush_all(kzu_bdd_manager m) {
  bdd_cache_filter(m, [](cache_entry *) { return true; });
}

// ---- Tags for callers -----------------------------------------------------------------------------
int kzu_bdd_cache_functions(kzu_bdd_manager m, int args, int (*gc_fn)(kzu_bdd_manager, intptr_t *),
                            void (*purge_fn)(kzu_bdd_manager, intptr_t *),
                            intptr_t (*return_fn)(kzu_bdd_manager, intptr_t *),
                            int (*flush_fn)(kzu_bdd_manager, intptr_t *, void *)) {
  if (args < 1 || args > 3) kzu_bdd_fatal("bdd_cache_functions: illegal number of cache arguments");
  cache *ct = &m->op_cache;
  for (int tag = 4; tag < 8; tag++) {
    if (m->cache_tags_used & (1 << tag)) continue;
    m->cache_tags_used |= 1 << tag;
    ct->rehash_fn[tag] = args == 1 ? bdd_rehash1 : args == 2 ? bdd_rehash2 : bdd_rehash3;
    ct->gc_fn[tag] = gc_fn;
    ct->purge_fn[tag] = purge_fn;
    ct->return_fn[tag] = return_fn;
    ct->flush_fn[tag] = flush_fn;
    return tag;
  }
  return -1;
}

void kzu_bdd_free_cache_tag(kzu_bdd_manager m, int tag) {
  if (tag < 4 || tag > 7 || !(m->cache_tags_used & (1 << tag)))
    kzu_bdd_fatal("kzu_bdd_free_cache_tag: attempt to free unallocated tag");
  bdd_cache_filter(m, [&](cache_entry *e) { return bdd_cache_tag(e) == tag; });
  cache *ct = &m->op_cache;
  ct->rehash_fn[tag] = nullptr;
  ct->gc_fn[tag] = nullptr;
  ct->purge_fn[tag] = nullptr;
  ct->return_fn[tag] = nullptr;
  ct->flush_fn[tag] = nullptr;
  m->cache_tags_used &= ~(1 << tag);
}
