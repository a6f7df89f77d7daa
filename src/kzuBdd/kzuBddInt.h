// Engine internals: records, edge helpers, the node tables, the computed
// table and the operation frame. Only the engine's own sources, the handle
// layer and the tests include this header.
#ifndef KZ_KZU_BDD_INT_H
#define KZ_KZU_BDD_INT_H

#include <cstdint>
#include <cstdio>

#include "kzuBdd/kzuBdd.h"
#include "mem/mem.h"
#include "util/util.h"

// ---- Node record ---------------------------------------------------------------
// 32 bytes. For an internal node data[0] is the then-edge (always regular)
// and data[1] the else-edge; a terminal node keeps its value as two words.
struct bdd_ {
  uint16_t indexindex;  // variable id, 0 for a terminal
  uint8_t refs;         // external references; 255 = permanent
  uint8_t mark;         // bit 7: collection mark; bits 0-6: temporary references
  uint32_t spare;       // summary of the keys after this node in its chain
  bdd data[2];
  struct bdd_ *next;  // next node of the same bucket
};
static_assert(sizeof(struct bdd_) == 32, "node records are four words");

#define BDD_MAX_REFS 255
#define BDD_MARK 0x80
#define BDD_TEMP_MASK 0x7f
#define BDD_MAX_TEMPS 127
#define BDD_TERMINAL_LEVEL 0xFFFF
#define BDD_MAX_VARS 65534
#define BDD_FREE_INDEX 0xFFFF  // indexindex of a record on the free list

// ---- Edge helpers ---------------------------------------------------------------
static inline bdd bdd_regular(bdd f) { return (bdd)((uintptr_t)f & ~(uintptr_t)7); }
static inline bdd bdd_complement(bdd f) { return (bdd)((uintptr_t)f ^ (uintptr_t)1); }
static inline int bdd_is_complemented(bdd f) { return (int)((uintptr_t)f & 1); }
static inline bdd bdd_complement_if(bdd f, int c) { return (bdd)((uintptr_t)f ^ (uintptr_t)c); }
static inline bool bdd_same_node(bdd f, bdd g) { return (((uintptr_t)f ^ (uintptr_t)g) & ~(uintptr_t)7) == 0; }
static inline long bdd_id(bdd f) { return bdd_regular(f)->indexindex; }
// Children of the function f (f's complement bit applied).
static inline bdd bdd_then_of(bdd f) {
  return bdd_complement_if(bdd_regular(f)->data[0], bdd_is_complemented(f));
}
static inline bdd bdd_else_of(bdd f) {
  return bdd_complement_if(bdd_regular(f)->data[1], bdd_is_complemented(f));
}

static inline void bdd_prefetch(const void *p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

// ---- Node tables ------------------------------------------------------------------
// A bucket head holds the chain's first node in its low 48 bits and, in its
// top 16 bits, a summary of the keys in the chain (two bits per key, see
// bdd_key_summary). A node's `spare` field holds the summary of the nodes
// after it. A key whose bits are missing from a summary is not in that part
// of the chain, so most look-ups of new nodes touch no node at all. Removing
// nodes leaves summaries as supersets, which stays correct; every insertion
// must go through bdd_bucket_push.
typedef uintptr_t bdd_bucket;
#define BDD_BUCKET_PTR_MASK ((((uintptr_t)1) << 48) - 1)

typedef struct var_table {
  bdd_bucket *table;  // bucket heads
  int size_index;     // index into bdd_primes
  long size;          // number of buckets
  long entries;       // nodes in this table
  int peak_index;     // largest size index so far (tables with room regrow to it at once)
} var_table;

static inline bdd bdd_bucket_first(bdd_bucket h) { return (bdd)(h & BDD_BUCKET_PTR_MASK); }
static inline unsigned bdd_bucket_summary(bdd_bucket h) { return (unsigned)(h >> 48); }
static inline uint64_t bdd_node_key(bdd t, bdd e) {
  return (uint64_t)(uintptr_t)t * 0x9E3779B97F4A7C15ull + (uint64_t)(uintptr_t)e * 0xC2B2AE3D27D4EB4Full;
}
static inline long bdd_key_bucket(uint64_t h, long size) { return (long)(((h >> 32) * (uint64_t)size) >> 32); }
static inline unsigned bdd_key_summary(uint64_t h) { return (1u << ((h >> 20) & 15)) | (1u << ((h >> 26) & 15)); }
static inline long bdd_node_hash(bdd t, bdd e, long size) { return bdd_key_bucket(bdd_node_key(t, e), size); }
// Pushes node n, whose key has summary s, at the head of bucket b.
static inline void bdd_bucket_push(var_table *vt, long b, struct bdd_ *n, unsigned s) {
  bdd_bucket h = vt->table[b];
  n->next = bdd_bucket_first(h);
  n->spare = bdd_bucket_summary(h);
  vt->table[b] = (uintptr_t)n | ((uintptr_t)(bdd_bucket_summary(h) | s) << 48);
}

// While the variables are reordered, a node's `spare` field counts its
// parents instead: only the bucket heads keep summaries, and nodes are
// linked with bdd_bucket_push_raw. The node summaries are rebuilt afterwards.
static inline void bdd_bucket_push_raw(var_table *vt, long b, struct bdd_ *n, unsigned s) {
  bdd_bucket h = vt->table[b];
  n->next = bdd_bucket_first(h);
  vt->table[b] = (uintptr_t)n | ((uintptr_t)(bdd_bucket_summary(h) | s) << 48);
}

typedef void (*bdd_free_terminal_fn)(kzu_bdd_manager, intptr_t, intptr_t, void *);

typedef struct unique {
  var_table **tables;  // by id; slot 0 holds the terminals
  bdd_free_terminal_fn free_terminal_fn;
  void *free_terminal_env;
  long entries;   // live node count, all tables
  long gc_limit;  // collection threshold
  long node_limit;
  long gcs;
  long freed;
  long finds;
  long gc_floor;  // lowest collection threshold (BDD_GC_FLOOR unless raised)
} unique;

#define BDD_PRIMES 49
extern const long bdd_primes[BDD_PRIMES];
#define BDD_INITIAL_TABLE_INDEX 3   // 7 buckets
#define BDD_INITIAL_CACHE_INDEX 13  // 8179 bins
// Lowest collection threshold.
#define BDD_GC_FLOOR 10000
#define BDD_CHECK_INTERVAL 100

// ---- Computed table --------------------------------------------------------------------
// Entries live inline in their bin, 16 bytes each, so that a bin is half a
// 64-byte line. Edges are kept as 30-bit references (see bdd_cache_ref).
// `key` holds the tag (bits 0-2), the first argument (bits 3-33: a reference,
// or for tags above 0 a signed operation id) and the second argument (bits
// 34-63, a reference); key 0 marks an empty slot. `rest` holds the third
// argument (low half) and the result (high half) of an edge entry, or the
// 64-bit result of a data entry.
typedef struct cache_entry {
  uint64_t key;
  uint64_t rest;
} cache_entry;

typedef struct cache_bin {
  cache_entry entry[2];  // entry[0] most recent
} cache_bin;

static inline int bdd_cache_tag(const cache_entry *e) { return (int)(e->key & 7); }

// Hooks per tag; every hook receives the entry decoded into four words:
// the three arguments and the result, edges as edges.
typedef long (*bdd_rehash_fn)(intptr_t *slots);
typedef int (*bdd_gc_fn)(kzu_bdd_manager, intptr_t *slots);
typedef void (*bdd_purge_fn)(kzu_bdd_manager, intptr_t *slots);
typedef intptr_t (*bdd_return_fn)(kzu_bdd_manager, intptr_t *slots);
typedef int (*bdd_flush_fn)(kzu_bdd_manager, intptr_t *slots, void *env);
// Marker return function: the result is an edge that takes a temporary reference.
#define BDD_RETURN_EDGE ((bdd_return_fn)(intptr_t)-1)

typedef struct cache {
  cache_bin *table;
  int size_index;
  long size;        // bins
  long mapped_bins; // bins the table's mapping holds (>= size; the rest reads as zero)
  int cache_level;  // > 0: inserts must not displace slot 0
  bdd_rehash_fn rehash_fn[8];
  bdd_gc_fn gc_fn[8];
  bdd_purge_fn purge_fn[8];
  bdd_return_fn return_fn[8];
  bdd_flush_fn flush_fn[8];
  int cache_ratio;
  long entries;
  long lookups;
  long hits;
  long inserts;
  long collisions;
  long min_bins;           // growth allowance below one bin per 8 nodes (0 = none)
  long lookups_at_growth;  // start of the current window of look-ups
  // Within an allowance, a filter of the keys recently pushed out of the
  // tracked bins (null until needed): two generations of `ghost_words`
  // words, 128 bits per tracked bin; ghost_hits counts the inserts of keys
  // it held since the window began.
  uint64_t *ghost;
  long ghost_words;
  uint64_t *ghost_memory;  // the filter's memory, kept between windows
  long ghost_cap;          // words per generation it holds
  int ghost_current;
  long ghost_hits;
} cache;

#define BDD_TAG_ITE 0
#define BDD_TAG_OP 1
#define BDD_TAG_ONE_DATA 2
#define BDD_TAG_TWO_DATA 3

// Operation ids in slot 0 of tag-1 entries. Ids below 10000 belong to
// operations whose arguments fully determine the result; named associations
// use id + 10000 / 20000 / 30000; temporary associations use negative ids.
#define BDD_OP_COFACTOR 1
#define BDD_OP_REDUCE 2
#define BDD_OP_INTERSECT 3
#define BDD_OP_PROJECT 4
#define BDD_OP_EXISTS_CUBE 5
#define BDD_OP_SATFRAC 6
#define BDD_OP_EXISTS_BASE 10000
#define BDD_OP_RELPROD_BASE 20000
#define BDD_OP_SUBST_BASE 30000

// ---- Associations -------------------------------------------------------------------------
typedef struct var_assoc {
  bdd *assoc;  // by id 1..maxvars: null, `one` (quantify) or a replacement
  long last;   // deepest level among the associated variables, -1 for none
} var_assoc;

typedef struct assoc_list {
  var_assoc va;
  int id;
  int refs;
  struct assoc_list *next;
} assoc_list;

// ---- Variable blocks -------------------------------------------------------------------------
struct kzu_block_ {
  long num_children;
  block *children;  // in level order
  int reorderable;
  long first_index;
  long last_index;
  long capacity;  // room in `children`
};

// ---- Manager --------------------------------------------------------------------------------------
typedef int (*bdd_canonical_fn)(kzu_bdd_manager, intptr_t, intptr_t, void *);
typedef void (*bdd_transform_fn)(kzu_bdd_manager, intptr_t, intptr_t, intptr_t *, intptr_t *, void *);
typedef void (*bdd_callback_fn)(kzu_bdd_manager, void *);

// Operation kinds that take an id from the temporary association.
#define BDD_TEMP_EXISTS 0
#define BDD_TEMP_RELPROD 1
#define BDD_TEMP_SUBST 2
#define BDD_TEMP_MEMO 8

struct bdd_manager_ {
  unique unique_table;
  cache op_cache;
  long check;  // look-ups left until the next periodic check
  bdd one;
  bdd zero;
  uint64_t one_ref;  // computed-table reference of `one` (see bdd_cache_ref)
  int overflow;
  bdd_callback_fn overflow_fn;
  void *overflow_env;
  bdd_transform_fn transform_fn;
  void *transform_env;
  bdd_canonical_fn canonical_fn;
  block super_block;
  void (*reorder_fn)(kzu_bdd_manager);
  void *reorder_data;
  int allow_reordering;
  long nodes_at_start;
  long vars;
  long maxvars;
  bdd *variables;          // by id
  uint16_t *indexes;       // level by id; indexes[0] = 0xFFFF
  long *indexindexes;      // id by level
  int curr_assoc_id;
  var_assoc *curr_assoc;
  assoc_list *assocs;
  var_assoc temp_assoc;
  rec_mgr rms[8];          // records of 8, 16, ..., 64 bytes
  long temp_op;            // next operation id for the temporary association
  int in_operation;        // an operation frame is active (aborts are possible)
  bdd_callback_fn bag_it_fn;
  void *bag_it_env;
  void *hooks;
  // Node records are carved from large slabs, made one after another in a
  // range of address space reserved with the first one (slabs beyond it come
  // from the allocator).
  struct bdd_ *free_nodes;
  void *slabs;
  char *slab_base;  // 2 MB aligned start of the range (null if none)
  long slab_room;   // slabs the range holds
  long slab_count;  // slabs made in it
  void *slab_reserve;
  size_t slab_reserve_bytes;
  // Computed-table references are offsets from ref_base, the start of the
  // 16 GB window that ends where the range ends (null until a first slab);
  // slabs beyond the range are placed below slab_low, the lowest slab in
  // the window so far, while the window has room.
  char *ref_base;
  char *slab_low;
  // Operation ids handed to the temporary association, reused while its
  // contents stay the same.
  long temp_generation;
  long temp_kind_generation[3];
  long temp_kind_op[3];
  // Temporary associations made only of permanent nodes (variables,
  // constants) that recently had an operation id, per kind: their contents
  // can never change meaning, so the same contents get the same id again.
  struct bdd_assoc_memo {
    bdd *assoc;  // copy of the contents, null when unused
    long last;
    intptr_t op;
  } temp_memo[3][BDD_TEMP_MEMO];
  int temp_memo_next[3];
  int next_assoc_id;
  // Free bucket-array blocks by size class (2^12 .. 2^20 bytes) and the
  // chunks they are carved from (kzuBddUnique.cpp).
  void *bucket_blocks[21];
  void *bucket_chunks;
  long bucket_chunk_count;
  long bucket_chunks_kept;  // chunks not given back while no more exist
  int cache_tags_used;  // bit t set: tag t allocated to a caller
  int reordering;       // the variables are being reordered (kzuBddReorder.cpp)
  long reorderings;     // reorderings run
  double reorder_seconds;  // CPU time they took
  struct bdd_ **reorder_scratch;  // node array of the exchanges
  long reorder_scratch_size;
  long swaps;           // adjacent-level exchanges run
  // State of the layer above (the handle layer's record free list and
  // association cache); released by `layer_quit` at the start of kzu_bdd_quit.
  void *layer_state;
  void (*layer_quit)(kzu_bdd_manager);
};

// Record manager for records of `bytes` bytes (at most 64).
#define BDD_RECORDS(m, bytes) ((m)->rms[((bytes) + 7) / 8 - 1])

// ---- Messages and checks --------------------------------------------------------------------
// False when an argument is null; fatal when one has no external reference.
bool bdd_check_arguments(kzu_bdd_manager m, int n, ...);
bool bdd_check_array(kzu_bdd_manager m, bdd *fs);

// ---- Levels ----------------------------------------------------------------------------------------
static inline long bdd_level(kzu_bdd_manager m, bdd f) { return m->indexes[bdd_regular(f)->indexindex]; }
static inline bool bdd_is_const(bdd f) { return bdd_regular(f)->indexindex == 0; }
// The caller gave the engine room (kzu_bdd_set_sizing above the default floor).
static inline bool bdd_room_given(kzu_bdd_manager m) { return m->unique_table.gc_floor > BDD_GC_FLOOR; }
// The projection function of a variable, uncomplemented (false for null).
static inline bool bdd_is_positive_var(kzu_bdd_manager m, bdd v) {
  return v != nullptr && !bdd_is_complemented(v) && !bdd_is_const(v) && v->data[0] == m->one &&
         v->data[1] == m->zero;
}

// ---- Reference protocol -------------------------------------------------------------------------------
static inline void bdd_temp_inc(bdd f) {
  struct bdd_ *n = bdd_regular(f);
  if (n->refs == BDD_MAX_REFS) return;
  if ((n->mark & BDD_TEMP_MASK) == BDD_MAX_TEMPS - 1) {
    n->refs = BDD_MAX_REFS;
    n->mark = 0;
  } else {
    n->mark++;
  }
}
static inline void bdd_temp_dec(bdd f) {
  struct bdd_ *n = bdd_regular(f);
  if (n->refs == BDD_MAX_REFS) return;
  kz_debug_assert((n->mark & BDD_TEMP_MASK) != 0, "temporary reference dropped twice");
  n->mark--;
}
static inline void bdd_ref_inc(bdd f) {
  struct bdd_ *n = bdd_regular(f);
  if (n->refs < BDD_MAX_REFS - 1) {
    n->refs++;
  } else if (n->refs != BDD_MAX_REFS) {
    n->refs = BDD_MAX_REFS;
    n->mark &= BDD_MARK;
  }
}
// Converts the temporary reference of an operation's result into an external one.
static inline bdd bdd_make_external(bdd f) {
  bdd_ref_inc(f);
  bdd_temp_dec(f);
  return f;
}

// ---- Node tables (kzuBddUnique.cpp) ----------------------------------------------------------------------
var_table *bdd_new_var_table(kzu_bdd_manager m);
void bdd_free_var_table(kzu_bdd_manager m, var_table *t);
// Node tables grow one size step past 4 nodes per bucket and shrink one
// step after a collection leaves fewer nodes than buckets. With room given
// (kzu_bdd_set_sizing), a table grows to a bucket per node at once, and
// back to its largest size so far when it grows again after a collection
// shrank it, which moves each node fewer times and keeps chains shorter; it
// shrinks only below a node per four buckets.
void bdd_rehash_var_table(kzu_bdd_manager m, var_table *t, bool grow);
// The smallest table size index (at least the initial one) whose size
// holds `entries` nodes at one per bucket.
int bdd_table_index_for(long entries);
// Recomputes the key summaries of every chain of t.
void bdd_rebuild_summaries(var_table *t);
// Zeroed bucket arrays of `buckets` heads: mid-sized arrays come from
// power-of-two blocks carved out of huge-page chunks.
bdd_bucket *bdd_alloc_buckets(kzu_bdd_manager m, long buckets);
void bdd_free_buckets(kzu_bdd_manager m, bdd_bucket *p, long buckets);
void bdd_free_bucket_arena(kzu_bdd_manager m);
// Makes chunks until `chunks` exist and keeps that many from then on.
void bdd_reserve_bucket_chunks(kzu_bdd_manager m, long chunks);
// Node (id, t, e); t and e each carry a temporary reference that the call
// consumes; the result carries one. May run the periodic check.
bdd bdd_find(kzu_bdd_manager m, long id, bdd t, bdd e);
bdd bdd_find_terminal(kzu_bdd_manager m, intptr_t high, intptr_t low);
struct bdd_ *bdd_new_node_record(kzu_bdd_manager m);
void bdd_free_node_record(kzu_bdd_manager m, struct bdd_ *n);
// Carves slabs until at least `records` free records are on hand.
void bdd_reserve_node_records(kzu_bdd_manager m, long records);
// Makes the range end after `slabs` slabs (at least those made), with the
// window ending there too; flushes the computed table. For tests that need
// slabs beyond the range.
void bdd_limit_slab_range(kzu_bdd_manager m, long slabs);
void bdd_free_node_slabs(kzu_bdd_manager m);
// Node slabs: 2 MB, aligned to their size and linked through their first
// word. The first 8 KB hold one collection-mark bit per 32-byte position
// of the slab (the positions of the first 8 KB themselves are never
// records, so their bits share the bytes with the link); records start at
// byte 8192.
#define BDD_HUGE_BYTES (1L << 21)
#define BDD_SLAB_BYTES BDD_HUGE_BYTES
#define BDD_SLAB_MAP_BYTES (BDD_SLAB_BYTES / (long)sizeof(struct bdd_) / 8)
#define BDD_SLAB_RECORDS ((BDD_SLAB_BYTES - BDD_SLAB_MAP_BYTES) / (long)sizeof(struct bdd_))
static inline struct bdd_ *bdd_slab_records(void *slab) { return (struct bdd_ *)((char *)slab + BDD_SLAB_MAP_BYTES); }
static_assert(BDD_SLAB_MAP_BYTES / (long)sizeof(struct bdd_) / 8 >= (long)sizeof(void *),
              "the mark bits of the first records lie past the slab link");

// Computed-table references: an edge at byte offset d from ref_base is
// d / 16 with the complement bit in bit 0. The window's 16 GB
// (BDD_REF_SLABS slabs, 5*10^8 nodes) fit 30 bits; an entry that would
// need another reference (a slab the system put outside the window) is
// neither looked up nor stored.
#define BDD_REF_SLABS 8192
static inline uint64_t bdd_cache_ref(kzu_bdd_manager m, bdd f) {
  uintptr_t a = (uintptr_t)f;
  kz_debug_assert((a & 6) == 0, "edge with bits besides the complement bit");
  return (uint64_t)((a - (uintptr_t)m->ref_base) >> 4) | (a & 1);
}
static inline bool bdd_refs_fit(uint64_t refs) { return (refs >> 30) == 0; }
static inline bdd bdd_ref_edge(kzu_bdd_manager m, uint64_t r) {
  return (bdd)(m->ref_base + ((r >> 1) << 5) + (r & 1));
}
// Operation ids take 31 bits, two's complement.
#define BDD_KEY_ARG0_MASK 0x7FFFFFFFull
static inline bool bdd_op_fits(intptr_t op) { return op >= -(1L << 30) && op < (1L << 30); }
static inline intptr_t bdd_ref_op(uint64_t a) { return (intptr_t)((int64_t)(a << 33) >> 33); }
// An entry's key from its tag and first two arguments (encoded), and back.
static inline uint64_t bdd_cache_pack_key(int tag, uint64_t a0, uint64_t b) {
  return (uint64_t)tag | (a0 & BDD_KEY_ARG0_MASK) << 3 | b << 34;
}
static inline uint64_t bdd_key_arg0(uint64_t key) { return (key >> 3) & BDD_KEY_ARG0_MASK; }

// The mark bits copy the records' BDD_MARK bits while a collection runs, so
// that the purge of the computed table tests a small, cache-resident map
// instead of fetching a node record per argument.
static inline uint8_t *bdd_mark_byte(const struct bdd_ *n, unsigned *bit) {
  uintptr_t a = (uintptr_t)n, off = a & (uintptr_t)(BDD_SLAB_BYTES - 1);
  *bit = 1u << ((off / sizeof(struct bdd_)) & 7);
  return (uint8_t *)(a - off) + off / sizeof(struct bdd_) / 8;
}
// (The byte is found before `bit` is read: in a compound assignment the
// right operand is evaluated first.)
static inline void bdd_set_mark_bit(const struct bdd_ *n) {
  unsigned bit;
  uint8_t *byte = bdd_mark_byte(n, &bit);
  *byte |= (uint8_t)bit;
}
static inline bool bdd_mark_bit(const struct bdd_ *n) {
  unsigned bit;
  const uint8_t *byte = bdd_mark_byte(n, &bit);
  return (*byte & bit) != 0;
}
// The mark bit of the node a computed-table reference points to.
static inline bool bdd_ref_mark_bit(kzu_bdd_manager m, uint64_t r) {
  return bdd_mark_bit(bdd_ref_edge(m, r & ~(uint64_t)1));
}

// ---- Computed table (kzuBddCache.cpp) -------------------------------------------------------------------------
void bdd_init_cache(kzu_bdd_manager m);
void bdd_free_cache(kzu_bdd_manager m);
void bdd_rehash_cache(kzu_bdd_manager m, bool grow);
void bdd_cache_make_room(kzu_bdd_manager m);
// Empties (re-sizes to the table) the filter of pushed-out keys; with
// `age` only the older generation is emptied and becomes the current one.
void bdd_reset_ghost(kzu_bdd_manager m, bool age);
void bdd_purge_cache(kzu_bdd_manager m);  // drops entries that refer to unmarked nodes
void bdd_flush_cache(kzu_bdd_manager m, bdd_flush_fn fn, void *env);
void bdd_flush_all(kzu_bdd_manager m);
static inline long bdd_cache_bin_of(uint64_t key, uint32_t c, long size) {
  uint64_t h = key * 0x9E3779B97F4A7C15ull + (uint64_t)c * 0xC2B2AE3D27D4EB4Full;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return (long)(((h >> 32) * (uint64_t)size) >> 32);
}
// Key and third argument of a three-argument entry (a is an edge for tag 0,
// an operation id otherwise); false when they do not fit an entry.
static inline bool bdd_cache_key3(kzu_bdd_manager m, int tag, intptr_t a, intptr_t b, intptr_t c, uint64_t *key,
                                  uint32_t *c32) {
  uint64_t rb = bdd_cache_ref(m, (bdd)b), rc = bdd_cache_ref(m, (bdd)c), ra;
  if (tag == BDD_TAG_ITE) {
    ra = bdd_cache_ref(m, (bdd)a);
    if (!bdd_refs_fit(ra | rb | rc)) return false;
  } else {
    if (!bdd_op_fits(a) || !bdd_refs_fit(rb | rc)) return false;
    ra = (uint64_t)a;
  }
  *key = bdd_cache_pack_key(tag, ra, rb);
  *c32 = (uint32_t)rc;
  return true;
}
long bdd_rehash3(intptr_t *slots);
long bdd_rehash2(intptr_t *slots);
long bdd_rehash1(intptr_t *slots);
// Tags 0 and 1 hold three-argument entries with an edge result; the other
// tags hold data entries of an operation id and an edge. The third argument
// of a stored entry (0 for a data entry):
static inline uint32_t bdd_cache_entry_c(const cache_entry *e) {
  return bdd_cache_tag(e) <= BDD_TAG_OP ? (uint32_t)e->rest : 0;
}
// The bin of a stored entry in a table of `size` bins.
static inline long bdd_cache_entry_bin(const cache_entry *e, long size) {
  return bdd_cache_bin_of(e->key, bdd_cache_entry_c(e), size);
}
// The entry decoded into the four words its tag's hooks receive.
void bdd_cache_entry_slots(kzu_bdd_manager m, const cache_entry *e, intptr_t *s);
bdd bdd_cache_return(kzu_bdd_manager m, const cache_entry *e);
void bdd_purge_slot(kzu_bdd_manager m, cache_entry *e);  // runs the tag's purge function

// The filter of pushed-out keys tracks the bins whose index is a multiple
// of 16. An insert into such a bin counts its key when the filter has it
// (it was computed before and pushed out) and adds the key it pushes out.
void bdd_ghost_note(cache *ct, long i, uint64_t key, uint32_t c);

// A three-argument key prepared once per recursion step: the look-up and
// the insert of the step (and a fetch ahead) share it. `ok` is false when
// an argument does not fit an entry; such a step is neither looked up nor
// stored. The bin is that of a table of `size` bins: a table that grew
// meanwhile (the periodic check runs inside the recursion) gives a new bin.
struct bdd_cache_key {
  uint64_t key;
  uint32_t c;
  bool ok;
  long size;
  long bin;
};

static inline bdd_cache_key bdd_prepare3(kzu_bdd_manager m, int tag, intptr_t a, intptr_t b, intptr_t c) {
  bdd_cache_key k;
  k.ok = bdd_cache_key3(m, tag, a, b, c, &k.key, &k.c);
  k.size = m->op_cache.size;
  k.bin = k.ok ? bdd_cache_bin_of(k.key, k.c, k.size) : 0;
  return k;
}

// The same from encoded arguments (a reference, or an operation id for
// tags above 0); `ok` says whether they fit.
static inline bdd_cache_key bdd_prepare_refs(kzu_bdd_manager m, int tag, uint64_t a, uint64_t rb, uint64_t rc,
                                             bool ok) {
  bdd_cache_key k;
  k.ok = ok;
  k.key = bdd_cache_pack_key(tag, a, rb);
  k.c = (uint32_t)rc;
  k.size = m->op_cache.size;
  k.bin = ok ? bdd_cache_bin_of(k.key, k.c, k.size) : 0;
  return k;
}

// Fetches ahead the bin of the entry of encoded arguments.
static inline void bdd_prefetch_refs(kzu_bdd_manager m, int tag, uint64_t a, uint64_t rb, uint64_t rc, bool ok) {
  if (ok) bdd_prefetch(&m->op_cache.table[bdd_cache_bin_of(bdd_cache_pack_key(tag, a, rb), (uint32_t)rc, m->op_cache.size)]);
}

// Key of AND(f, g) = ITE(f, g, 0), of an ordered pair.
static inline bdd_cache_key bdd_and_key(kzu_bdd_manager m, bdd f, bdd g) {
  uint64_t rf = bdd_cache_ref(m, f), rg = bdd_cache_ref(m, g);
  return bdd_prepare_refs(m, BDD_TAG_ITE, rf, rg, m->one_ref | 1, bdd_refs_fit(rf | rg | m->one_ref));
}
// Key of XNOR(f, g) = ITE(f, g, !g) for a regular g (the reference of !g is
// that of g with bit 0 set).
static inline bdd_cache_key bdd_xnor_key(kzu_bdd_manager m, bdd f, bdd g) {
  uint64_t rf = bdd_cache_ref(m, f), rg = bdd_cache_ref(m, g);
  return bdd_prepare_refs(m, BDD_TAG_ITE, rf, rg, rg | 1, bdd_refs_fit(rf | rg));
}
// Key of (op, f, 1): quantification and substitution.
static inline bdd_cache_key bdd_op_key(kzu_bdd_manager m, intptr_t op, bdd f) {
  uint64_t rf = bdd_cache_ref(m, f);
  return bdd_prepare_refs(m, BDD_TAG_OP, (uint64_t)op, rf, m->one_ref, bdd_op_fits(op) && bdd_refs_fit(rf | m->one_ref));
}
// Fetches ahead the bins of AND(f, g), XNOR(f, g) (g regular) and of
// (op, f, g), for an ordered pair.
static inline void bdd_prefetch_and(kzu_bdd_manager m, bdd f, bdd g) {
  uint64_t rf = bdd_cache_ref(m, f), rg = bdd_cache_ref(m, g);
  bdd_prefetch_refs(m, BDD_TAG_ITE, rf, rg, m->one_ref | 1, bdd_refs_fit(rf | rg | m->one_ref));
}
static inline void bdd_prefetch_xnor(kzu_bdd_manager m, bdd f, bdd g) {
  uint64_t rf = bdd_cache_ref(m, f), rg = bdd_cache_ref(m, g);
  bdd_prefetch_refs(m, BDD_TAG_ITE, rf, rg, rg | 1, bdd_refs_fit(rf | rg));
}
// ... and of (op, f, 1), with f's node, before f is looked at.
static inline void bdd_prefetch_op1(kzu_bdd_manager m, intptr_t op, bdd f) {
  bdd_prefetch(bdd_regular(f));
  uint64_t rf = bdd_cache_ref(m, f);
  bdd_prefetch_refs(m, BDD_TAG_OP, (uint64_t)op, rf, m->one_ref, bdd_op_fits(op) && bdd_refs_fit(rf | m->one_ref));
}
static inline void bdd_prefetch_op2(kzu_bdd_manager m, intptr_t op, bdd f, bdd g) {
  uint64_t rf = bdd_cache_ref(m, f), rg = bdd_cache_ref(m, g);
  bdd_prefetch_refs(m, BDD_TAG_OP, (uint64_t)op, rf, rg, bdd_op_fits(op) && bdd_refs_fit(rf | rg));
}

// Key of (op, f, g): the relational product.
static inline bdd_cache_key bdd_op_key2(kzu_bdd_manager m, intptr_t op, bdd f, bdd g) {
  uint64_t rf = bdd_cache_ref(m, f), rg = bdd_cache_ref(m, g);
  return bdd_prepare_refs(m, BDD_TAG_OP, (uint64_t)op, rf, rg, bdd_op_fits(op) && bdd_refs_fit(rf | rg));
}

// Look-up of a prepared key of tag 0 or 1 (edge results); on a hit
// *result gets a temporary reference.
static inline bool bdd_lookup_edge(kzu_bdd_manager m, const bdd_cache_key &k, bdd *result) {
  cache *ct = &m->op_cache;
  ct->lookups++;
  if (!k.ok) return false;
  cache_bin *bin = &ct->table[ct->size == k.size ? k.bin : bdd_cache_bin_of(k.key, k.c, ct->size)];
  cache_entry *e = &bin->entry[0];
  if (!(e->key == k.key && (uint32_t)e->rest == k.c)) {
    e = &bin->entry[1];
    if (!(e->key == k.key && (uint32_t)e->rest == k.c)) return false;
    cache_entry tmp = bin->entry[0];
    bin->entry[0] = bin->entry[1];
    bin->entry[1] = tmp;
    e = &bin->entry[0];
  }
  ct->hits++;
  bdd r = bdd_ref_edge(m, e->rest >> 32);
  bdd_temp_inc(r);
  *result = r;
  return true;
}

// Look-up of an edge-valued entry; on a hit *result gets a temporary reference.
static inline bool bdd_lookup3(kzu_bdd_manager m, int tag, intptr_t a, intptr_t b, intptr_t c, bdd *result) {
  cache *ct = &m->op_cache;
  bdd_return_fn rf = ct->return_fn[tag];
  if (rf == BDD_RETURN_EDGE) return bdd_lookup_edge(m, bdd_prepare3(m, tag, a, b, c), result);
  ct->lookups++;
  uint64_t key;
  uint32_t c32;
  if (!bdd_cache_key3(m, tag, a, b, c, &key, &c32)) return false;
  cache_bin *bin = &ct->table[bdd_cache_bin_of(key, c32, ct->size)];
  cache_entry *e = &bin->entry[0];
  if (!(e->key == key && (uint32_t)e->rest == c32)) {
    e = &bin->entry[1];
    if (!(e->key == key && (uint32_t)e->rest == c32)) return false;
    cache_entry tmp = bin->entry[0];
    bin->entry[0] = bin->entry[1];
    bin->entry[1] = tmp;
    e = &bin->entry[0];
  }
  ct->hits++;
  *result = rf != nullptr ? bdd_cache_return(m, e) : bdd_ref_edge(m, e->rest >> 32);
  return true;
}

// Stores an entry in its bin: the most recent one in slot 0, unless nested
// work (cache_level > 0) may only replace slot 1.
static inline void bdd_cache_store(kzu_bdd_manager m, long i, uint64_t key, uint32_t c, uint64_t rest) {
  cache *ct = &m->op_cache;
  cache_bin *bin = &ct->table[i];
  if ((i & 15) == 0 && ct->ghost != nullptr) bdd_ghost_note(ct, i, key, c);
  cache_entry *e;
  if (bin->entry[0].key != 0 && bin->entry[1].key != 0) {
    if (ct->purge_fn[bdd_cache_tag(&bin->entry[1])] != nullptr) bdd_purge_slot(m, &bin->entry[1]);
    ct->collisions++;
    if (ct->cache_level == 0) bin->entry[1] = bin->entry[0];
    e = ct->cache_level == 0 ? &bin->entry[0] : &bin->entry[1];
  } else {
    ct->entries++;
    e = bin->entry[0].key == 0 ? &bin->entry[0] : &bin->entry[1];
  }
  e->key = key;
  e->rest = rest;
  ct->inserts++;
}

// Stores the result of a prepared key.
static inline void bdd_insert_edge(kzu_bdd_manager m, const bdd_cache_key &k, bdd result) {
  if (!k.ok) return;
  uint64_t r = bdd_cache_ref(m, result);
  if (!bdd_refs_fit(r)) return;
  long size = m->op_cache.size;
  long bin = size == k.size ? k.bin : bdd_cache_bin_of(k.key, k.c, size);
  bdd_cache_store(m, bin, k.key, k.c, k.c | r << 32);
}

static inline void bdd_insert3(kzu_bdd_manager m, int tag, intptr_t a, intptr_t b, intptr_t c, intptr_t result) {
  bdd_insert_edge(m, bdd_prepare3(m, tag, a, b, c), (bdd)result);
}
// Data entries (no reference taken on the result).
bool bdd_lookup2_data(kzu_bdd_manager m, int tag, intptr_t a, intptr_t b, intptr_t *result);
void bdd_insert2_data(kzu_bdd_manager m, int tag, intptr_t a, intptr_t b, intptr_t result);

// ---- Collection and operation frame (kzuBddGc.cpp) -----------------------------------------------------------------
// Thrown by the periodic check to leave the running operation: 1 = abort
// requested, 2 = node limit, 3 = reordered (restart).
struct bdd_abort_signal {
  int code;
};
void bdd_periodic_check(kzu_bdd_manager m);
void bdd_collect(kzu_bdd_manager m);  // mark, purge, sweep; counts a collection
void bdd_cleanup(kzu_bdd_manager m, int code);
void bdd_clear_temps(kzu_bdd_manager m);
// Runs the installed reorder method inside the reordering frame.
void bdd_reorder_aux(kzu_bdd_manager m);
// Exchanges the variables at `level` and `level` + 1 inside a frame of its
// own, whatever the blocks (for tests; not inside an operation).
void bdd_exchange_levels(kzu_bdd_manager m, long level);

// Runs a top-level operation: `step` returns an edge with a temporary
// reference; the result is converted to an external reference. Null when the
// operation was aborted (codes 1 and 2); code 3 restarts it.
template <class Step>
static inline bdd bdd_run_operation(kzu_bdd_manager m, Step step) {
  m->allow_reordering = 1;
  for (;;) {
    m->nodes_at_start = m->unique_table.entries;
    m->in_operation = 1;
    try {
      bdd r = step();
      m->in_operation = 0;
      return bdd_make_external(r);
    } catch (const bdd_abort_signal &a) {
      m->in_operation = 0;
      m->op_cache.cache_level = 0;
      bdd_cleanup(m, a.code);
      if (a.code != 3) return 0;
    }
  }
}

// ---- Recursive steps (results carry a temporary reference) -------------------------------------------------------
bdd kzu_bdd_ite_step(kzu_bdd_manager m, bdd f, bdd g, bdd h);
bdd kzu_bdd_and_step(kzu_bdd_manager m, bdd f, bdd g);
bdd kzu_bdd_xnor_step(kzu_bdd_manager m, bdd f, bdd g);
static inline bdd bdd_or_step(kzu_bdd_manager m, bdd f, bdd g) {
  return bdd_complement(kzu_bdd_and_step(m, bdd_complement(f), bdd_complement(g)));
}
bdd kzu_bdd_exists_step(kzu_bdd_manager m, bdd f, intptr_t op, var_assoc *assoc);

// ---- Associations (kzuBddAssoc.cpp) --------------------------------------------------------------------------------
// Operation id of the current association for an operation kind.
intptr_t bdd_assoc_op_id(kzu_bdd_manager m, int kind, long base);
void bdd_grow_assocs(kzu_bdd_manager m, long old_max, long new_max);
void bdd_shift_assoc_levels(kzu_bdd_manager m, long level);
void bdd_clear_assoc_memo(kzu_bdd_manager m);

// ---- Blocks (kzuBddBlock.cpp) ----------------------------------------------------------------------------------------
block bdd_new_block(kzu_bdd_manager m, long first, long last);
void bdd_insert_var_block(kzu_bdd_manager m, long level);
void bdd_free_block(kzu_bdd_manager m, block b);

// ---- Arrays for tables (zeroed) -------------------------------------------------------------------------------------------
void *bdd_alloc_zeroed(long bytes);
void bdd_free_array(void *p);

// Nodes lie scattered in memory and each chain is a series of dependent
// loads: walking several side by side hides the latency.
// Calls visit on every node of t; several chains are walked side by side
// with each one's next node fetched ahead. A node's link is read before it
// is visited, so `visit` may relink it into another table.
template <class Visit>
void bdd_walk_chains(var_table *t, Visit visit) {
  enum { LANES = 32 };
  bdd lane[LANES];
  long bucket = 0;
  auto next_chain = [&]() -> bdd {
    while (bucket < t->size) {
      bdd head = bdd_bucket_first(t->table[bucket++]);
      if (head != nullptr) {
        bdd_prefetch(head);
        return head;
      }
    }
    return nullptr;
  };
  for (int k = 0; k < LANES; k++) lane[k] = next_chain();
  for (bool busy = true; busy;) {
    busy = false;
    for (int k = 0; k < LANES; k++) {
      bdd n = lane[k];
      if (n == nullptr) continue;
      busy = true;
      bdd next = n->next;
      if (next != nullptr)
        bdd_prefetch(next);
      else
        next = next_chain();
      lane[k] = next;
      visit(n);
    }
  }
}

#endif
