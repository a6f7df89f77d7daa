// Garbage collection (mark, purge, sweep), the periodic check run from node
// look-ups, and the clean-up after an aborted operation.
#include <cstring>

#include "kzuBdd/kzuBddInt.h"

// Marks every node held by a reference, a temporary reference or a marked
// parent. Tables are visited from the top level down, so a parent is always
// seen before its children and one pass suffices.
static void bdd_mark_phase(kzu_bdd_manager m) {
  unique *u = &m->unique_table;
  for (long level = 0; level <= m->vars; level++) {
    var_table *vt = level < m->vars ? u->tables[m->indexindexes[level]] : u->tables[0];
    bool internal = level < m->vars;
    for (long i = 0; i < vt->size; i++) {
      for (bdd n = vt->table[i]; n != nullptr; n = n->next) {
        if (n->refs == 0 && n->mark == 0) continue;
        n->mark |= BDD_MARK;
        if (internal) {
          bdd_regular(n->data[0])->mark |= BDD_MARK;
          bdd_regular(n->data[1])->mark |= BDD_MARK;
        }
      }
    }
  }
}

static void bdd_sweep_phase(kzu_bdd_manager m) {
  unique *u = &m->unique_table;
  for (long id = 0; id <= m->vars; id++) {
    var_table *vt = u->tables[id];
    for (long i = 0; i < vt->size; i++) {
      bdd *link = &vt->table[i];
      while (*link != nullptr) {
        bdd n = *link;
        if (n->mark & BDD_MARK) {
          n->mark &= (uint8_t)~BDD_MARK;
          link = &n->next;
          continue;
        }
        *link = n->next;
        if (id == 0 && u->free_terminal_fn != nullptr)
          u->free_terminal_fn(m, (intptr_t)n->data[0], (intptr_t)n->data[1], u->free_terminal_env);
        bdd_free_node_record(m, n);
        vt->entries--;
        u->entries--;
        u->freed++;
      }
    }
    if (vt->entries < vt->size && vt->size_index > BDD_INITIAL_TABLE_INDEX) bdd_rehash_var_table(vt, false);
  }
}

void bdd_collect(kzu_bdd_manager m) {
  bdd_mark_phase(m);
  bdd_purge_cache(m);
  bdd_sweep_phase(m);
  m->unique_table.gcs++;
}

static void bdd_set_gc_limit(kzu_bdd_manager m, long live) {
  unique *u = &m->unique_table;
  u->gc_limit = 2 * live > BDD_GC_FLOOR ? 2 * live : BDD_GC_FLOOR;
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
  if (2 * c->entries > 3 * c->size && 32 * c->size < c->cache_ratio * u->entries) bdd_rehash_cache(m, true);
}

// Drops every temporary reference (all mark bytes cleared) and collects.
void bdd_clear_temps(kzu_bdd_manager m) {
  unique *u = &m->unique_table;
  for (long id = 0; id <= m->vars; id++) {
    var_table *vt = u->tables[id];
    for (long i = 0; i < vt->size; i++)
      for (bdd n = vt->table[i]; n != nullptr; n = n->next) n->mark = 0;
  }
  bdd_collect(m);
  bdd_set_gc_limit(m, u->entries);
}

void bdd_cleanup(kzu_bdd_manager m, int code) {
  bdd_clear_temps(m);
  if (code == 1 && m->bag_it_fn != nullptr) m->bag_it_fn(m, m->bag_it_env);
  if (code == 2 && m->overflow_fn != nullptr) m->overflow_fn(m, m->overflow_env);
}

void kzu_bdd_gc(kzu_bdd_manager m) {
  if (m->in_operation) return;
  bdd_collect(m);
}
