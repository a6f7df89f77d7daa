// Garbage collection (mark, purge, sweep), the periodic check run from node
// look-ups, and the clean-up after an aborted operation.
//
// Marking starts from every node held by a reference or a temporary
// reference and follows children; the roots are found by scanning the node
// slabs in address order. The sweep scans the slabs again: live nodes go
// back into their (possibly shrunk) tables, dead ones onto the free list in
// address order. Both scans are sequential, so a collection costs little
// more than one visit per live node.
#include <cstring>

#include "kzuBdd/kzuBddInt.h"

static void bdd_gc_mark(kzu_bdd_manager m, struct bdd_ *n) {
  while (!(n->mark & BDD_MARK)) {
    n->mark |= BDD_MARK;
    bdd_set_mark_bit(n);
    m->unique_table.tables[n->indexindex]->entries++;
    if (n->indexindex == 0) return;
    bdd_prefetch(bdd_regular(n->data[1]));  // read once the then-part is marked
    bdd_gc_mark(m, bdd_regular(n->data[0]));
    n = bdd_regular(n->data[1]);
  }
}

static void bdd_mark_phase(kzu_bdd_manager m) {
  unique *u = &m->unique_table;
  for (long id = 0; id <= m->vars; id++) u->tables[id]->entries = 0;
  for (void *slab = m->slabs; slab != nullptr; slab = *(void **)slab)
    memset((char *)slab + sizeof(void *), 0, BDD_SLAB_MAP_BYTES - sizeof(void *));
  for (void *slab = m->slabs; slab != nullptr; slab = *(void **)slab) {
    struct bdd_ *rec = bdd_slab_records(slab);
    for (long i = 0; i < BDD_SLAB_RECORDS; i++) {
      struct bdd_ *n = &rec[i];
      if (n->indexindex == BDD_FREE_INDEX || (n->refs == 0 && n->mark == 0)) continue;
      bdd_gc_mark(m, n);
    }
  }
}

static void bdd_sweep_phase(kzu_bdd_manager m) {
  unique *u = &m->unique_table;
  // Tables left with fewer nodes than buckets shrink one step; with room
  // given, only tables left with fewer than a node per four buckets shrink,
  // to a bucket per node.
  bool room = bdd_room_given(m);
  for (long id = 0; id <= m->vars; id++) {
    var_table *vt = u->tables[id];
    bool shrink = room ? 4 * vt->entries < vt->size : vt->entries < vt->size;
    if (shrink && vt->size_index > BDD_INITIAL_TABLE_INDEX) {
      bdd_free_buckets(m, vt->table, vt->size);
      vt->size_index = room ? bdd_table_index_for(vt->entries) : vt->size_index - 1;
      vt->size = bdd_primes[vt->size_index];
      vt->table = bdd_alloc_buckets(m, vt->size);
    } else {
      memset(vt->table, 0, (size_t)vt->size * sizeof(bdd_bucket));
    }
  }
  long live = 0, dead = 0;
  struct bdd_ *head = nullptr;
  struct bdd_ **tail = &head;
  enum { AHEAD = 16 };
  for (void *slab = m->slabs; slab != nullptr; slab = *(void **)slab) {
    struct bdd_ *rec = bdd_slab_records(slab);
    for (long i = 0; i < BDD_SLAB_RECORDS; i++) {
      // The bucket a live node a few records on goes to is fetched ahead.
      if (i + AHEAD < BDD_SLAB_RECORDS) {
        struct bdd_ *a = &rec[i + AHEAD];
        if (a->indexindex != BDD_FREE_INDEX && (a->mark & BDD_MARK)) {
          var_table *vt = u->tables[a->indexindex];
          bdd_prefetch(&vt->table[bdd_key_bucket(bdd_node_key(a->data[0], a->data[1]), vt->size)]);
        }
      }
      struct bdd_ *n = &rec[i];
      if (n->indexindex != BDD_FREE_INDEX) {
        if (n->mark & BDD_MARK) {
          n->mark &= (uint8_t)~BDD_MARK;
          var_table *vt = u->tables[n->indexindex];
          uint64_t h = bdd_node_key(n->data[0], n->data[1]);
          bdd_bucket_push(vt, bdd_key_bucket(h, vt->size), n, bdd_key_summary(h));
          live++;
          continue;
        }
        if (n->indexindex == 0 && u->free_terminal_fn != nullptr)
          u->free_terminal_fn(m, (intptr_t)n->data[0], (intptr_t)n->data[1], u->free_terminal_env);
        n->indexindex = BDD_FREE_INDEX;
        dead++;
      }
      *tail = n;
      tail = &n->next;
    }
  }
  *tail = nullptr;
  m->free_nodes = head;
  kz_debug_assert(live + dead == u->entries, "collection lost count of nodes");
  u->entries = live;
  u->freed += dead;
}

void bdd_collect(kzu_bdd_manager m) {
  bdd_mark_phase(m);
  bdd_purge_cache(m);
  bdd_sweep_phase(m);
  m->unique_table.gcs++;
}

static void bdd_set_gc_limit(kzu_bdd_manager m, long live) {
  unique *u = &m->unique_table;
  u->gc_limit = 2 * live > u->gc_floor ? 2 * live : u->gc_floor;
  if (u->node_limit != 0 && u->node_limit < u->gc_limit) u->gc_limit = u->node_limit;
}

static inline void bdd_abort_operation(kzu_bdd_manager m, int code) {
  // Outside an operation frame (making a variable) there is nothing to abort.
  if (m->in_operation) throw bdd_abort_signal{code};
}

void bdd_periodic_check(kzu_bdd_manager m) {
  m->check = BDD_CHECK_INTERVAL;
  unique *u = &m->unique_table;
  if (m->bag_it_fn != nullptr) bdd_abort_operation(m, 1);
  if (u->entries > u->gc_limit) {
    bdd_collect(m);
    long n = u->entries;
    if (3 * n > 2 * u->gc_limit && m->allow_reordering && m->reorder_fn != nullptr && m->in_operation) {
      bdd_reorder_aux(m);
      long after = u->entries;
      if (4 * after > 3 * n && 3 * n > 4 * m->nodes_at_start) m->allow_reordering = 0;
      bdd_set_gc_limit(m, after);
      bdd_abort_operation(m, 3);
    } else {
      bdd_set_gc_limit(m, n);
      if (u->node_limit != 0 && n >= u->node_limit - 1000) {
        m->overflow = 1;
        bdd_abort_operation(m, 2);
      }
    }
  }
  cache *c = &m->op_cache;
  if (2 * c->entries > 3 * c->size) {
    // Within a caller's allowance the table also grows for few nodes, but
    // only while a larger table would answer many look-ups: over a window of
    // eight look-ups per bin, at least one in 16 computed again a key that
    // the table had pushed out (counted on the tracked bins, one in 16). The
    // filter remembers keys for one to two windows, so a result needed again
    // once per image step of a large diagram is still recognised. The count
    // only rises within a window, so once it reaches what a whole window
    // asks for, the table grows at once rather than at the window's end
    // (a short run of image steps would otherwise end before its table
    // caught up).
    bool by_nodes = 32 * c->size < c->cache_ratio * u->entries;
    bool by_use = false;
    long window = c->lookups - c->lookups_at_growth;
    if (c->size < c->min_bins) {
      if (c->ghost != nullptr && 16 * 16 * c->ghost_hits >= 8 * c->size) {
        by_use = true;
      } else if (window >= 8 * c->size) {
        if (c->ghost == nullptr) bdd_reset_ghost(m, false);
        by_use = 16 * 16 * c->ghost_hits >= window;
        c->lookups_at_growth = c->lookups;
        if (!by_nodes && !by_use) bdd_reset_ghost(m, true);
      }
    }
    if (by_nodes || by_use) {
      bdd_rehash_cache(m, true);
      c->lookups_at_growth = c->lookups;
    }
  }
}

// Drops every temporary reference (all mark bytes cleared) and collects.
void bdd_clear_temps(kzu_bdd_manager m) {
  for (void *slab = m->slabs; slab != nullptr; slab = *(void **)slab) {
    struct bdd_ *rec = bdd_slab_records(slab);
    for (long i = 0; i < BDD_SLAB_RECORDS; i++)
      if (rec[i].indexindex != BDD_FREE_INDEX) rec[i].mark = 0;
  }
  bdd_collect(m);
  bdd_set_gc_limit(m, m->unique_table.entries);
}

void bdd_cleanup(kzu_bdd_manager m, int code) {
  bdd_clear_temps(m);
  if (code == 1 && m->bag_it_fn != nullptr) m->bag_it_fn(m, m->bag_it_env);
  if (code == 2 && m->overflow_fn != nullptr) m->overflow_fn(m, m->overflow_env);
}

// Refused inside an operation and inside a reordering, whose nodes keep
// their parent counts where a collection keeps its chain summaries.
void kzu_bdd_gc(kzu_bdd_manager m) {
  if (m->in_operation || m->reordering) return;
  bdd_collect(m);
}
