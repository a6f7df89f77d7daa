// Node-by-node copying over raw references: a breadth-first walk that lists
// every reference of a diagram once, and a builder that makes a diagram from
// a list of nodes. Neither makes a handle per node. Node records lie
// scattered over the slabs, so both fetch the records (and the table slots)
// of the lines a few places ahead while they work on the current one, and
// the walk keeps the references it has met in a map indexed by position in
// the slab range rather than in a hash set.
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "kzuPort/bddInt.h"

// ---- References met -------------------------------------------------------------------
// A reference into the slab range has the key (offset / 16) | complement bit:
// two keys per 32-byte record position. Plain walks keep one bit per key
// (16 KB per slab, small enough to stay in the caches), numbered walks the
// line number + 1 (512 KB per slab). The maps are anonymous mappings, so
// only the pages touched cost memory. References outside the range (slabs
// from the allocator) go to a small hash table.

struct bdd_walk {
  kzu_bdd_manager m;
  bdd root;
  boolean numbered;
  bdd *queue;  // every reference met, in line order
  long queued;
  long room;
  boolean huge_queue;  // queue mapped by mem_map_huge rather than allocated
  long head;  // next line to fill
  uintptr_t base;
  uint64_t keys;  // keys covered by the map
  void *map;      // uint64_t bits (plain) or uint32_t line + 1 (numbered)
  size_t map_bytes;
  uintptr_t *other;  // open addressing on the reference, 0 = empty
  long *other_line;
  long other_room;
  long other_used;
};

static inline uint64_t bdd_walk_key(const bdd_walk *w, bdd f) {
  // Below the base the difference wraps around to a key past the map.
  return (((uintptr_t)f - w->base) >> 4) | ((uintptr_t)f & 1);
}

static inline const void *bdd_walk_slot_of(const bdd_walk *w, uint64_t key) {
  if (w->numbered) return (const uint32_t *)w->map + key;
  return (const uint64_t *)w->map + (key >> 6);
}

static long bdd_walk_other_slot(const bdd_walk *w, uintptr_t f) {
  long mask = w->other_room - 1;
  long i = (long)((f * 0x9E3779B97F4A7C15ull) >> 20) & mask;
  while (w->other[i] != 0 && w->other[i] != f) i = (i + 1) & mask;
  return i;
}

static void bdd_walk_other_grow(bdd_walk *w) {
  uintptr_t *old = w->other;
  long *old_line = w->other_line;
  long old_room = w->other_room;
  w->other_room = old_room > 0 ? 2 * old_room : 64;
  w->other = ALLOC(uintptr_t, w->other_room);
  w->other_line = ALLOC(long, w->other_room);
  memset(w->other, 0, sizeof(uintptr_t) * (size_t)w->other_room);
  for (long i = 0; i < old_room; i++) {
    if (old[i] == 0) continue;
    long j = bdd_walk_other_slot(w, old[i]);
    w->other[j] = old[i];
    w->other_line[j] = old_line[i];
  }
  MMfree(old);
  MMfree(old_line);
}

// The queue doubles from the allocator; past 256 KB (where one huge page
// costs less than the small pages still to come) it moves once to a mapping
// (huge pages where offered) for every reference the manager's nodes can
// give, two per node, of which only the pieces used cost.
static void bdd_walk_queue_grow(bdd_walk *w) {
  long room = 2 * w->room;
  if (!w->huge_queue && (size_t)room * sizeof(bdd) < MEM_HUGE_FROM / 8) {
    w->queue = REALLOC(bdd, w->queue, room);
    w->room = room;
    return;
  }
  long bound = 2 * w->m->unique_table.entries + 16;
  if (!w->huge_queue && bound > room) room = bound;
  bdd *q = (bdd *)mem_map_huge((size_t)room * sizeof(bdd));
  if (q == nullptr) mem_exhausted();
  memcpy(q, w->queue, (size_t)w->queued * sizeof(bdd));
  if (w->huge_queue)
    mem_unmap_huge(w->queue, (size_t)w->room * sizeof(bdd));
  else
    MMfree(w->queue);
  w->queue = q;
  w->room = room;
  w->huge_queue = 1;
}

// Enters f when it is new, giving it the next line; returns f's line (in a
// plain walk, -1 for a reference met before).
static long bdd_walk_meet(bdd_walk *w, bdd f) {
  long line = w->queued;
  uint64_t key = bdd_walk_key(w, f);
  if (key < w->keys) {
    if (w->numbered) {
      uint32_t *slot = (uint32_t *)w->map + key;
      if (*slot != 0) return (long)*slot - 1;
      util_assert(line < (long)UINT32_MAX, "bdd_walk: too many lines");
      *slot = (uint32_t)(line + 1);
    } else {
      uint64_t *word = (uint64_t *)w->map + (key >> 6), bit = 1ull << (key & 63);
      if (*word & bit) return -1;
      *word |= bit;
    }
  } else {
    if (2 * (w->other_used + 1) > w->other_room) bdd_walk_other_grow(w);
    long i = bdd_walk_other_slot(w, (uintptr_t)f);
    if (w->other[i] != 0) return w->other_line[i];
    w->other[i] = (uintptr_t)f;
    w->other_line[i] = line;
    w->other_used++;
  }
  if (w->queued == w->room) bdd_walk_queue_grow(w);
  w->queue[w->queued++] = f;
  return line;
}

bdd_walk *bdd_walk_start(bdd_t *f, boolean numbered) {
  kzu_bdd_manager m = f->mgr;
  bdd_walk *w = ALLOC(bdd_walk, 1);
  memset(w, 0, sizeof(*w));
  w->m = m;
  w->root = f->node;
  bdd_ref_inc(w->root);
  w->numbered = numbered != 0;
  w->room = 1024;
  w->queue = ALLOC(bdd, w->room);
  if (m->slab_base != nullptr && m->slab_count > 0) {
    uint64_t keys = (uint64_t)m->slab_count * (BDD_SLAB_BYTES / 16);
    size_t bytes = w->numbered ? (size_t)keys * sizeof(uint32_t) : (size_t)(keys / 64) * sizeof(uint64_t);
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) {
      // Numbered maps are touched all over: huge pages where offered.
      if (w->numbered) mem_advise_huge(p, bytes);
      w->map = p;
      w->map_bytes = bytes;
      w->base = (uintptr_t)m->slab_base;
      w->keys = keys;
    }
  }
  if (!bdd_is_const(w->root)) bdd_walk_meet(w, w->root);
  return w;
}

// Lines ahead of the current one whose node records (far) and whose
// children's records and map slots (near) are fetched.
#define BDD_WALK_FAR 16
#define BDD_WALK_NEAR 8

long bdd_walk_next(bdd_walk *w, bdd_walk_line *lines, long max) {
  kzu_bdd_manager m = w->m;
  long k = 0;
  for (; k < max && w->head < w->queued; k++) {
    long far = w->head + BDD_WALK_FAR, near = w->head + BDD_WALK_NEAR;
    if (far < w->queued) bdd_prefetch(bdd_regular(w->queue[far]));
    if (near < w->queued) {
      struct bdd_ *a = bdd_regular(w->queue[near]);
      for (int side = 0; side < 2; side++) {
        bdd c = a->data[side];
        bdd_prefetch(bdd_regular(c));
        uint64_t key = bdd_walk_key(w, c);
        if (key < w->keys) bdd_prefetch(bdd_walk_slot_of(w, key));
      }
    }
    bdd f = w->queue[w->head++];
    struct bdd_ *n = bdd_regular(f);
    bdd_walk_line *l = &lines[k];
    l->ref = (uintptr_t)f;
    l->var = (bdd_variableId)(n->indexindex - 1);
    for (int side = 0; side < 2; side++) {
      bdd c = n->data[side];
      l->child[side] = (uintptr_t)c;
      if (bdd_is_const(c)) {
        l->child_kind[side] = c == m->one ? 1 : 0;
        l->child_var[side] = (bdd_variableId)-2;
        l->child_line[side] = -1;
      } else {
        l->child_kind[side] = -1;
        l->child_var[side] = (bdd_variableId)(bdd_regular(c)->indexindex - 1);
        long line = bdd_walk_meet(w, c);
        l->child_line[side] = w->numbered ? line : -1;
      }
    }
  }
  return k;
}

void bdd_walk_free(bdd_walk *w) {
  if (w == nullptr) return;
  kzu_bdd_free(w->m, w->root);
  if (w->map != nullptr) munmap(w->map, w->map_bytes);
  if (w->huge_queue)
    mem_unmap_huge(w->queue, (size_t)w->room * sizeof(bdd));
  else
    MMfree(w->queue);
  MMfree(w->other);
  MMfree(w->other_line);
  MMfree(w);
}

// ---- Building ---------------------------------------------------------------------------

// Zeroed arrays: large ones are fresh mappings marked for huge pages, whose
// pieces cost only when touched.
static void *bdd_zeroed(size_t size, long n) {
  void *p = mem_zeroed(size * (size_t)(n > 0 ? n : 1));
  if (p == nullptr) mem_exhausted();
  return p;
}

static void bdd_zeroed_free(void *p, size_t size, long n) { mem_free_zeroed(p, size * (size_t)(n > 0 ? n : 1)); }

// if var then t else e, with a temporary reference. When the variable lies
// above both children, that is the node (id, t, e) itself; otherwise (a
// reordered or hand-made list) the general ITE finds it.
static bdd bdd_build_step_edge(kzu_bdd_manager m, long id, bdd t, bdd e) {
  long level = m->indexes[id];
  if (level < bdd_level(m, t) && level < bdd_level(m, e)) {
    bdd_temp_inc(t);
    bdd_temp_inc(e);
    return bdd_find(m, id, t, e);
  }
  return kzu_bdd_ite_step(m, m->variables[id], t, e);
}

struct bdd_builder {
  kzu_bdd_manager m;
  const bdd_build_step *steps;
  long n;
  long slots;
  int root;
  bdd *edge;     // per slot: its function while it is set and still needed
  int *uses;     // per slot: steps still to run that name it as a child
  int *order;    // the steps in the order they are taken up
  // Steps waiting for a slot (picked order only): per slot the first
  // waiting step + 1, per step the next one + 1; made at the first wait.
  int *wait_head;
  int *wait_next;
  int *ready;  // steps whose last missing child has just been set
  long ready_count;
  long ran;
};

static inline bdd bdd_build_child(const bdd_builder *b, int c) {
  if (c == BDD_BUILD_ONE) return b->m->one;
  if (c == BDD_BUILD_ZERO) return b->m->zero;
  return b->edge[c];
}

// Where a step's node would be in the unique table, worked out a few steps
// ahead: its table (null when the step's children are not yet known), the
// bucket array it was found in (the table may grow meanwhile), the bucket,
// the node's stored children and its key summary.
struct bdd_build_ahead {
  var_table *vt;
  bdd_bucket *table;
  long bucket;
  bdd t, e;
  unsigned summary;
};

static inline void bdd_build_look_ahead(const bdd_builder *b, const bdd_build_step *s, bdd_build_ahead *a) {
  kzu_bdd_manager m = b->m;
  bdd t = bdd_build_child(b, s->child[0]), e = bdd_build_child(b, s->child[1]);
  a->vt = nullptr;
  if (t == nullptr || e == nullptr || (long)s->var >= m->vars) return;
  bdd_prefetch(bdd_regular(t));
  bdd_prefetch(bdd_regular(e));
  if (bdd_is_complemented(t)) {
    t = bdd_complement(t);
    e = bdd_complement(e);
  }
  a->vt = m->unique_table.tables[s->var + 1];
  a->table = a->vt->table;
  uint64_t h = bdd_node_key(t, e);
  a->bucket = bdd_key_bucket(h, a->vt->size);
  a->t = t;
  a->e = e;
  a->summary = bdd_key_summary(h);
  bdd_prefetch(&a->table[a->bucket]);
}

// The bucket worked out ahead, or null when there is none or its table has
// grown since.
static inline const bdd_bucket *bdd_build_ahead_bucket(const bdd_build_ahead *a) {
  return a->vt != nullptr && a->vt->table == a->table ? &a->table[a->bucket] : nullptr;
}

static void bdd_build_release(bdd_builder *b, int c) {
  if (c != b->root && b->edge[c] != nullptr) {
    kzu_bdd_free(b->m, b->edge[c]);
    b->edge[c] = nullptr;
  }
}

// Sets the step's slot.
static void bdd_build_run(bdd_builder *b, const bdd_build_step *s) {
  kzu_bdd_manager m = b->m;
  if ((long)s->var >= m->vars) kzu_bdd_fatal("bdd_get_variable: assumption violated");
  bdd t = bdd_build_child(b, s->child[0]), e = bdd_build_child(b, s->child[1]);
  util_assert(t != nullptr && e != nullptr, "bdd_build_nodes: a child slot is not set");
  kz_debug_assert(b->edge[s->slot] == nullptr, "bdd_build_nodes: a slot is set twice");
  long id = (long)s->var + 1;
  bdd r = bdd_run_operation(m, [&] { return bdd_build_step_edge(m, id, t, e); });
  if (r == nullptr) kzu_bdd_fatal("bdd_construct_bdd_t: possible memory overflow");
  b->edge[s->slot] = bdd_complement_if(r, s->negate != 0);
  b->ran++;
  for (int c : s->child)
    if (c >= 0 && --b->uses[c] == 0) bdd_build_release(b, c);
  if (b->uses[s->slot] == 0) bdd_build_release(b, s->slot);
}

// Picked order: a step with a child not yet set waits for it.
static bool bdd_build_waits(bdd_builder *b, int k) {
  for (int c : b->steps[k].child) {
    if (c < 0 || b->edge[c] != nullptr) continue;
    if (b->wait_head == nullptr) {
      b->wait_head = (int *)bdd_zeroed(sizeof(int), b->slots);
      b->wait_next = (int *)bdd_zeroed(sizeof(int), b->n);
      b->ready = (int *)bdd_zeroed(sizeof(int), b->n);
    }
    b->wait_next[k] = b->wait_head[c];
    b->wait_head[c] = k + 1;
    return true;
  }
  return false;
}

// Runs step k and then every waiting step it makes ready.
static void bdd_build_run_waiting(bdd_builder *b, int k) {
  bdd_build_run(b, &b->steps[k]);
  if (b->wait_head == nullptr) return;
  long base = b->ready_count;
  b->ready[b->ready_count++] = k;
  while (b->ready_count > base) {
    int slot = b->steps[b->ready[--b->ready_count]].slot;
    int w = b->wait_head[slot];
    b->wait_head[slot] = 0;
    while (w != 0) {
      int next = b->wait_next[w - 1];
      if (!bdd_build_waits(b, w - 1)) {
        bdd_build_run(b, &b->steps[w - 1]);
        b->ready[b->ready_count++] = w - 1;
      }
      w = next;
    }
  }
}

// An order in which children mostly come first: the steps by the level of
// their variable, the lowest level first (last line first within a level).
// All nodes of one variable are then made one after another, so that its
// unique table stays in the caches. Steps with unknown variables come last.
static void bdd_build_pick_order(bdd_builder *b) {
  kzu_bdd_manager m = b->m;
  long levels = m->vars + 1;
  long *start = (long *)bdd_zeroed(sizeof(long), levels + 1);
  auto key = [&](const bdd_build_step *s) -> long {
    return (long)s->var < m->vars ? m->vars - 1 - (long)m->indexes[s->var + 1] : m->vars;
  };
  for (long k = 0; k < b->n; k++) start[key(&b->steps[k]) + 1]++;
  for (long l = 0; l < levels; l++) start[l + 1] += start[l];
  for (long k = b->n; k-- > 0;) b->order[start[key(&b->steps[k])]++] = (int)k;
  bdd_zeroed_free(start, sizeof(long), levels + 1);
}

// Steps ahead of the current one: the step record (farthest), its child
// slots (far), its children's records and unique-table bucket (mid), the
// bucket's first node (near) and the node after it when the first one is
// not the one looked for (next) are fetched.
#define BDD_BUILD_FAR 24
#define BDD_BUILD_MID 12
#define BDD_BUILD_NEAR 4
#define BDD_BUILD_NEXT 2
#define BDD_BUILD_RING 16  // more than BDD_BUILD_MID

bdd_t *bdd_build_nodes(bdd_manager *mgr, const bdd_build_step *steps, const int *order, long n, long slots,
                       int root, long *ran) {
  // No steps build nothing, whatever the order pointer (an empty order's may
  // well be null).
  if (n == 0) {
    if (ran != nullptr) *ran = 0;
    return nullptr;
  }
  bdd_builder b;
  memset(&b, 0, sizeof(b));
  b.m = (kzu_bdd_manager)mgr;
  b.steps = steps;
  b.n = n;
  b.slots = slots;
  b.root = root;
  b.edge = (bdd *)bdd_zeroed(sizeof(bdd), slots);
  b.uses = (int *)bdd_zeroed(sizeof(int), slots);
  bool picked = order == nullptr;
  if (picked) {
    util_assert(n == slots, "bdd_build_nodes: a picked order needs one step per slot");
    b.order = (int *)bdd_zeroed(sizeof(int), n);
    bdd_build_pick_order(&b);
    order = b.order;
  }
  for (long k = 0; k < n; k++) {
    const bdd_build_step *s = &steps[order[k]];
    util_assert(s->slot >= 0 && s->slot < slots && (!picked || s->slot == order[k]),
                "bdd_build_nodes: slot out of range");
    for (int c : s->child) {
      util_assert(c == BDD_BUILD_ONE || c == BDD_BUILD_ZERO || (c >= 0 && c < slots),
                  "bdd_build_nodes: child slot out of range");
      if (c >= 0) b.uses[c]++;
    }
  }
  bdd_build_ahead ahead[BDD_BUILD_RING];
  for (long k = 0; k < n && k < BDD_BUILD_MID; k++) bdd_build_look_ahead(&b, &steps[order[k]], &ahead[k]);
  for (long k = 0; k < n; k++) {
    if (k + 2 * BDD_BUILD_FAR < n) bdd_prefetch(&steps[order[k + 2 * BDD_BUILD_FAR]]);
    if (k + BDD_BUILD_FAR < n) {
      for (int c : steps[order[k + BDD_BUILD_FAR]].child)
        if (c >= 0) {
          bdd_prefetch(&b.edge[c]);
          bdd_prefetch(&b.uses[c]);
        }
    }
    if (k + BDD_BUILD_MID < n)
      bdd_build_look_ahead(&b, &steps[order[k + BDD_BUILD_MID]], &ahead[(k + BDD_BUILD_MID) % BDD_BUILD_RING]);
    if (k + BDD_BUILD_NEAR < n) {
      const bdd_bucket *bucket = bdd_build_ahead_bucket(&ahead[(k + BDD_BUILD_NEAR) % BDD_BUILD_RING]);
      if (bucket != nullptr) bdd_prefetch(bdd_bucket_first(*bucket));
    }
    if (k + BDD_BUILD_NEXT < n) {
      const bdd_build_ahead *a = &ahead[(k + BDD_BUILD_NEXT) % BDD_BUILD_RING];
      const bdd_bucket *bucket = bdd_build_ahead_bucket(a);
      if (bucket != nullptr && (bdd_bucket_summary(*bucket) & a->summary) == a->summary) {
        bdd first = bdd_bucket_first(*bucket);
        if (first != nullptr && !(first->data[0] == a->t && first->data[1] == a->e) &&
            (first->spare & a->summary) == a->summary && first->next != nullptr)
          bdd_prefetch(first->next);
      }
    }
    if (!picked)
      bdd_build_run(&b, &steps[order[k]]);
    else if (!bdd_build_waits(&b, order[k]))
      bdd_build_run_waiting(&b, order[k]);
  }
  bdd result = root >= 0 && root < slots ? b.edge[root] : nullptr;
  if (result != nullptr) b.edge[root] = nullptr;
  for (long i = 0; i < slots; i++)
    if (b.edge[i] != nullptr) kzu_bdd_free(b.m, b.edge[i]);
  bdd_zeroed_free(b.edge, sizeof(bdd), slots);
  bdd_zeroed_free(b.uses, sizeof(int), slots);
  if (b.order != nullptr) bdd_zeroed_free(b.order, sizeof(int), n);
  if (b.wait_head != nullptr) {
    bdd_zeroed_free(b.wait_head, sizeof(int), b.slots);
    bdd_zeroed_free(b.wait_next, sizeof(int), b.n);
    bdd_zeroed_free(b.ready, sizeof(int), b.n);
  }
  if (ran != nullptr) *ran = b.ran;
  return result != nullptr ? bdd_construct_bdd_t(mgr, result) : nullptr;
}
